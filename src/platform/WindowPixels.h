#pragma once
// Pixel row conversions of the window layer: the picture's 8-bit palette or 24-bit rows into the
// 32-bit 0x00RRGGBB words (blue, green, red, 0 in memory) a true-colour display takes. Called
// once per row of every frame shown, so the gray case is vectorised.
#include <cstdint>

namespace lumora::platform {

// True when the 256 entries (blue, green, red, reserved) map every index i to gray level i.
bool IsGrayPalette(const uint8_t* palette);
// Rows from this many pixels on are written around the caches: FenceStreamedStores() after the
// last of them, before the words are handed on.
constexpr int kStreamingRow = 2048;
// Gray bytes as they are (for a server that widens them itself).
void CopyGrayRow(uint8_t* dst, const uint8_t* src, int count);
// Gray level v becomes 0x00vvvvvv.
void ExpandGrayRow(uint32_t* dst, const uint8_t* src, int count);
// Index through a table of 0x00RRGGBB words.
void ExpandPaletteRow(uint32_t* dst, const uint8_t* src, int count, const uint32_t* table);
// Blue, green, red bytes to 0x00RRGGBB.
void ExpandBgrRow(uint32_t* dst, const uint8_t* src, int count);
// The 256 palette entries as 0x00RRGGBB words.
void PaletteWords(const uint8_t* palette, uint32_t* table);

}  // namespace lumora::platform
