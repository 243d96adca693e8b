#pragma once
// The automatic estimates from a raw mosaic: the gray-mode gains and the white balance, both
// from the mean of each Bayer site over the whole image.
#include <array>

#include "imaging/FilterSettings.h"
#include "imaging/ImageBuffer.h"

namespace lumora {

// Gains making the four site means match G1's: G1 = 128, others ⌊meanG1 / mean × 128⌋ in
// single precision, limited to 0..255. A site whose mean is 0 keeps its current gain (all
// keep theirs when G1's mean is 0).
std::array<int, 4> EstimateGrayGains(const ImageBuffer& raw, int bayerMode,
                                     const std::array<int, 4>& currentGains);

struct BayerGains {
    int r;
    int g;
    int b;
};
// White balance from the raw mosaic with the corrected phase: G = 100, R and B =
// ⌊100 × meanG / mean⌋ in double precision, limited to 0..400. A class whose mean is 0 keeps
// its current gain (all keep theirs when green's mean is 0).
BayerGains EstimateWhiteBalance(const ImageBuffer& raw, int phase, const BayerGains& current);

}  // namespace lumora
