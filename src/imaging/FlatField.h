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

// A frame that arrived in a buffer of its own (`from`: the frame's layout, stride included) is
// read from there, which spares copying it into the frame first; null: the frame is its own
// source. Every pixel of the frame is then written.
//
// Corrects an 8- or 16-bit frame in place (or from `from`). Returns false when the planes are
// missing or the frame does not line up with them: the frame is then left as it was, or as it
// arrived. The rows are split into bands over `pool` when one is given (same result).
bool FlatFieldCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                      RowBandPool* pool = nullptr, const uint8_t* from = nullptr);

// Copies a frame that arrived in a buffer of its own into the frame; nothing for a null `from`.
void CopyArrivedFrame(ImageBuffer& frame, const uint8_t* from);

// The correction row by row, for stages that interleave it with their own work.
class FlatFieldRows {
public:
    // Checks the frame against the planes as FlatFieldCorrect does; false when it would leave
    // the frame untouched (a frame that arrived in `from` is then not copied).
    bool Bind(ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry,
              const uint8_t* from = nullptr);
    // Corrects row y of the bound frame (read from `from` when bound with one).
    void Run(int y) const;

private:
    ImageBuffer* frame_ = nullptr;
    const uint8_t* from_ = nullptr;
    const ImageBuffer* dark_ = nullptr;
    const ImageBuffer* bright_ = nullptr;
    int originX_ = 0;
    int originY_ = 0;
    void (*row8_)(uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int) = nullptr;
    void (*row16_)(uint16_t*, const uint16_t*, const uint16_t*, const uint16_t*, int) = nullptr;
};

// The row kernels of an instruction-set level (the widest variant at or below it): n samples
// of one row `v` with the dark and bright samples at the same positions, corrected into `d`
// (which may be `v`).
struct FlatFieldKernels {
    void (*row8)(uint8_t* d, const uint8_t* v, const uint8_t* dark, const uint8_t* bright, int n);
    void (*row16)(uint16_t* d, const uint16_t* v, const uint16_t* dark, const uint16_t* bright,
                  int n);
};
FlatFieldKernels FlatFieldKernelsFor(SimdLevel level);

}  // namespace lumora
