#pragma once
// Row conversions between sample depths that the preview, the image files and the recorder
// share: 16-bit samples to the byte a screen or an 8-bit file shows, and gray bytes to the
// blue, green, red bytes of a 24-bit frame.
#include <cstddef>
#include <cstdint>

#include "platform/SimdLevel.h"

namespace lumora {

struct SampleRowKernels {
    // min(v >> shift, 255) for shift 0..8: the top 8 of a sample's significant bits, stray
    // bits above them saturating (TopByteOf).
    void (*topBytes)(uint8_t* out, const uint16_t* in, int n, int shift);
    // (v >> shift) & 0xFF for shift 0..8: the converters' plain reductions.
    void (*lowBytes)(uint8_t* out, const uint16_t* in, int n, int shift);
    // Each gray byte three times: n pixels of blue, green, red.
    void (*grayToBgr)(uint8_t* out, const uint8_t* in, int n);

    // The same results written around the caches, for outputs far larger than them that are
    // not read again at once (kStreamedOutputBytes): no read of the old contents first, no
    // eviction of the frame's other data. FenceStreamedStores() after the last row.
    void (*lowBytesStreamed)(uint8_t* out, const uint16_t* in, int n, int shift);
    void (*grayToBgrStreamed)(uint8_t* out, const uint8_t* in, int n);
    // topBytes then grayToBgr in one pass.
    void (*topBytesToBgrStreamed)(uint8_t* out, const uint16_t* in, int n, int shift);
};
// Outputs from this size on take the streamed kernels.
constexpr size_t kStreamedOutputBytes = size_t{4} << 20;
SampleRowKernels SampleRowKernelsFor(SimdLevel level);
// The kernels of the level in force.
inline SampleRowKernels SampleRows() {
    return SampleRowKernelsFor(ActiveSimdLevel());
}

}  // namespace lumora
