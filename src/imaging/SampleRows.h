#pragma once
// Row conversions between sample depths that the preview, the image files and the recorder
// share: 16-bit samples to the byte a screen or an 8-bit file shows, and gray bytes to the
// blue, green, red bytes of a 24-bit frame.
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
};
SampleRowKernels SampleRowKernelsFor(SimdLevel level);
// The kernels of the level in force.
inline SampleRowKernels SampleRows() {
    return SampleRowKernelsFor(ActiveSimdLevel());
}

}  // namespace lumora
