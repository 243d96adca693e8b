#pragma once
// The mask filter: a two-point correction that maps each sample between its dark and bright
// reference to the full output range, the references read at the frame's window position.
//   8-bit:  where bright ≠ dark, v' = ((v − dark) × 256) / (bright − dark), truncated toward
//           zero and limited to [0, 255];
//   16-bit: where bright > dark, v' = ((v − dark) × 4096) / (bright − dark) limited to
//           [0, 4095] and shifted left by 4, so the result fills the top twelve bits.
// Elsewhere the sample stays as it is.
#include <cstdint>

#include "imaging/MaskSet.h"
#include "platform/SimdLevel.h"

namespace lumora {

class RowBandPool;

// Corrects an 8- or 16-bit frame in place. Returns false (frame untouched) when the planes are
// missing or the frame does not line up with them. The rows are split into bands over `pool`
// when one is given (same result).
bool FlatFieldCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                      RowBandPool* pool = nullptr);

// The correction row by row, for stages that interleave it with their own work.
class FlatFieldRows {
public:
    // Checks the frame against the planes as FlatFieldCorrect does; false when it would leave
    // the frame untouched.
    bool Bind(ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry);
    // Corrects row y of the bound frame.
    void Run(int y) const;

private:
    ImageBuffer* frame_ = nullptr;
    const ImageBuffer* dark_ = nullptr;
    const ImageBuffer* bright_ = nullptr;
    int originX_ = 0;
    int originY_ = 0;
    void (*row8_)(uint8_t*, const uint8_t*, const uint8_t*, int) = nullptr;
    void (*row16_)(uint16_t*, const uint16_t*, const uint16_t*, int) = nullptr;
};

// The row kernels of an instruction-set level (the widest variant at or below it): n samples
// of one row with the dark and bright samples at the same positions.
struct FlatFieldKernels {
    void (*row8)(uint8_t* v, const uint8_t* dark, const uint8_t* bright, int n);
    void (*row16)(uint16_t* v, const uint16_t* dark, const uint16_t* bright, int n);
};
FlatFieldKernels FlatFieldKernelsFor(SimdLevel level);

}  // namespace lumora
