#pragma once
// Applying a tone table (ToneTables.h) to every colour sample of an image.
#include <cstdint>
#include <vector>

#include "imaging/PixelConverter.h"
#include "platform/SimdLevel.h"

namespace lumora {

class RowBandPool;

// Applies a lookup table of max + 1 entries in place to every sample of the image (the first
// three components of colour pixels): 256 entries for 8-bit samples, 65536 for 16-bit ones.
// The rows are split into bands over `pool` when one is given (same result).
void ApplyLookupTable(ImageBuffer& image, const std::vector<uint16_t>& table,
                      RowBandPool* pool = nullptr);

// A 16-bit table of 65536 entries and, where given, every sixteenth entry of it packed (entry
// 16 k at k). The flat field leaves 16-bit samples at whole multiples of 16, and a camera's
// image spreads them over the whole table, which no first-level cache holds; the packed copy,
// 8 KiB, stays there. Both give the same results.
struct WordTable {
    const uint16_t* entries = nullptr;
    const uint16_t* sixteenths = nullptr;  // null: every sample reads `entries`
};

// Every sixteenth entry of a 65536-entry table, for WordTable.
class TableSixteenths {
public:
    explicit TableSixteenths(const uint16_t* table);
    const uint16_t* Data() const { return packed_; }

private:
    // One entry more than the table has: a 32-bit gather of the last entry reads it too.
    uint16_t packed_[4096 + 1];
};

// The same over a converter's rectangle, for the filter converters: 8-bit samples through a
// 256-byte table, 16-bit samples through a 65536-entry one.
void LookupRect8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                 int dstBpp, int srcBpp, int dstStride, int srcStride, const uint8_t* lut);
void LookupRect16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, WordTable lut);

// The row kernels of an instruction-set level: n samples through a table; d may be s.
using LookupWordsFn = void (*)(uint16_t* d, const uint16_t* s, int n, WordTable table);
struct LookupKernels {
    void (*bytes)(uint8_t* d, const uint8_t* s, int n, const uint8_t* table);  // 256 entries
    LookupWordsFn words;
};
// The processor's gather speed decides between two AVX-512 word kernels (SimdLevel.h).
LookupKernels LookupKernelsFor(SimdLevel level);
// The AVX-512 word kernel built on gathers whatever their speed, for tests on any processor;
// null where the processor lacks AVX-512.
LookupWordsFn GatheringWordLookup();

}  // namespace lumora
