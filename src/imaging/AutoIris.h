#pragma once
// The measuring half of the automatic exposure/gain step: five regions of the raw image and the
// correction factor their brightness asks for. Applying the factor to the camera is the
// session's business.
#include <array>
#include <optional>

#include "imaging/ImageBuffer.h"

namespace lumora {

constexpr int kIrisRegions = 5;

// Integer mean of each region (8-bit samples as they are, 16-bit samples >> 4); empty regions
// (tiny images, where the truncated edges meet) have no level.
std::array<std::optional<int>, kIrisRegions> AutoIrisLevels(const ImageBuffer& raw);

// f = 1.0, then per measured region −0.15 above 200, −0.1 for 161..200, +0.05 for 50..99,
// +0.1 below 50.
double AutoIrisFactor(const ImageBuffer& raw);

// Factors strictly between 0.6 and 1.2 leave exposure and gain alone.
constexpr bool AutoIrisNeedsChange(double factor) {
    return !(factor > 0.6 && factor < 1.2);
}

}  // namespace lumora
