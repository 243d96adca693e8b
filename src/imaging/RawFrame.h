#pragma once
// Placement of a raw frame in its image: row re-spreading and host-side mirroring.
#include <cstdint>

#include "imaging/ImageBuffer.h"
#include "platform/SimdLevel.h"

namespace lumora {

// The transport writes a frame packed (width × bytes-per-sample bytes per row) from the start
// of the image; this moves the rows in place to their stride positions, last row first. Only
// 8- and 16-bit images are re-spread; returns false for other depths or an empty image.
bool RespreadRows(ImageBuffer& image);

// What the host must mirror: the requested mirrors and which of them the hardware already does.
struct MirrorState {
    bool horizontal = false;
    bool vertical = false;
    bool hardwareHorizontal = false;
    bool hardwareVertical = false;

    bool HostHorizontal() const { return horizontal && !hardwareHorizontal; }
    bool HostVertical() const { return vertical && !hardwareVertical; }
};

// Mirrors an 8- or 16-bit raw image in place for whatever the hardware does not mirror.
void MirrorOnHost(ImageBuffer& image, const MirrorState& mirrors);

// The row reversals of an instruction-set level: a row of n samples reversed in place, and two
// different rows each replaced by the other reversed.
struct MirrorKernels {
    void (*reverse8)(uint8_t* row, int n);
    void (*pair8)(uint8_t* a, uint8_t* b, int n);
    void (*reverse16)(uint16_t* row, int n);
    void (*pair16)(uint16_t* a, uint16_t* b, int n);
};
MirrorKernels MirrorKernelsFor(SimdLevel level);

}  // namespace lumora
