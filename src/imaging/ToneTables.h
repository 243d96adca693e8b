#pragma once
// Gamma, contrast and brightness: each a function of the sample alone, so each is a lookup table
// over the whole sample range (max + 1 entries: 256 for 8-bit samples, 65536 for 16-bit ones),
// and adjacent ones compose into one table.
#include <cstdint>
#include <vector>

namespace lumora {

// Gamma: T[0] = 0, T[i] = min(max, trunc(max × (i / max)^(100 / gamma))) in double precision.
// `table` gets max + 1 entries.
void BuildGammaTable(int gamma, int maxValue, std::vector<uint16_t>& table);
// Contrast with c = contrast (8-bit) or contrast × 256 (16-bit): 0 below c, max above max − c,
// else trunc((max + 1) / (max + 1 − 2c) × (i − c)).
void BuildContrastTable(int contrast, int maxValue, std::vector<uint16_t>& table);
// Brightness factor in single precision: 1 + b / 25.5 for b > 0, 1 − |b| / 255 for b < 0.
float BrightnessFactor(int brightness);
// Brightness as a table: T[i] = trunc(i × factor) limited to [0, max].
void BuildBrightnessTable(int brightness, int maxValue, std::vector<uint16_t>& table);

}  // namespace lumora
