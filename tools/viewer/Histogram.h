// The histogram of a whole frame on the camera's own scale (0..255 for 8-bit frames, 0..4095
// for the sensor's 12-bit values), with the shares a SWIR user watches: saturated pixels (at
// full scale) and zero pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "Frame.h"

namespace lumora_viewer {

class Histogram {
public:
    Histogram() = default;
    // Every pixel of `frame`; values beyond full scale (a filter may push 16-bit words there)
    // count in the top bin and as saturated.
    static Histogram Of(const Frame& frame);

    int FullScale() const { return fullScale_; }
    const std::vector<uint64_t>& Counts() const { return counts_; }
    uint64_t Total() const { return total_; }
    uint64_t Saturated() const { return total_ == 0 ? 0 : counts_.back(); }
    uint64_t Zero() const { return total_ == 0 ? 0 : counts_.front(); }
    double SaturatedShare() const { return Share(Saturated()); }
    double ZeroShare() const { return Share(Zero()); }
    double Mean() const;
    double StandardDeviation() const;
    // The smallest value v with at least `fraction` of the pixels at or below v.
    int Percentile(double fraction) const;

    // The bins gathered into `columns` equal spans of the value range (the plot's columns),
    // each the largest count of its span, so a lone spike stays visible when the plot is
    // narrower than the range.
    std::vector<uint64_t> Columns(int columns) const;


private:
    double Share(uint64_t n) const {
        return total_ == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(total_);
    }

    int fullScale_ = 255;
    std::vector<uint64_t> counts_ = std::vector<uint64_t>(256, 0);
    uint64_t total_ = 0;
};

// The count a plot of `columns` draws at full height: high among the inner columns but not
// their very highest, so a few spikes (a uniform patch of the picture, the pile of clipped pixels
// at either end, which the shares report) are drawn clipped instead of flattening the rest.
uint64_t PlotScale(const std::vector<uint64_t>& columns);

// Plot heights in 0..1 for column counts: linear against the largest column, or logarithmic
// (log(1 + n) against log(1 + largest)) so a few hundred hot pixels show beside the bulk of the
// picture. `scaleTo` is the count drawn at full height (0: the largest column).
std::vector<double> PlotHeights(const std::vector<uint64_t>& columns, bool logarithmic,
                                uint64_t scaleTo = 0);

}  // namespace lumora_viewer
