#include "Histogram.h"

#include <endian.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumora_viewer {

namespace {

// Counts into four tables of 32-bit counts used in turn (a frame has far fewer than 2^32
// pixels): neighbouring equal pixels do not wait on each other's increment, and the tables of
// 4096 values stay in the fastest cache.
template <bool kWide>
void CountRows(const Frame& frame, unsigned top, std::vector<uint64_t>& counts) {
    const FrameGeometry& g = frame.geometry;
    const size_t bins = counts.size();
    std::vector<uint32_t> tables(4 * bins, 0);
    uint32_t* t0 = tables.data();
    uint32_t* t1 = t0 + bins;
    uint32_t* t2 = t1 + bins;
    uint32_t* t3 = t2 + bins;
    const unsigned shift = static_cast<unsigned>(frame.valueShift);
    const auto value = [&](const uint8_t* row, int x) -> unsigned {
        if constexpr (kWide) {
            uint16_t word = 0;
            std::memcpy(&word, row + 2 * static_cast<size_t>(x), 2);
            return std::min(static_cast<unsigned>(le16toh(word)) >> shift, top);
        } else {
            return row[x];
        }
    };
    const int w = g.width;
    for (int y = 0; y < g.height; ++y) {
        const uint8_t* row = frame.Row(y);
        int x = 0;
        for (; x + 3 < w; x += 4) {
            ++t0[value(row, x)];
            ++t1[value(row, x + 1)];
            ++t2[value(row, x + 2)];
            ++t3[value(row, x + 3)];
        }
        for (; x < w; ++x) ++t0[value(row, x)];
    }
    for (size_t v = 0; v < bins; ++v)
        counts[v] = static_cast<uint64_t>(t0[v]) + t1[v] + t2[v] + t3[v];
}

}  // namespace

Histogram Histogram::Of(const Frame& frame) {
    Histogram h;
    const FrameGeometry& g = frame.geometry;
    h.fullScale_ = frame.FullScale();
    h.counts_.assign(static_cast<size_t>(h.fullScale_) + 1, 0);
    if (!g.Valid()) return h;
    if (g.bits == 8) {
        CountRows<false>(frame, 255, h.counts_);
    } else {
        CountRows<true>(frame, static_cast<unsigned>(h.fullScale_), h.counts_);
    }
    h.total_ = static_cast<uint64_t>(g.width) * static_cast<uint64_t>(g.height);
    return h;
}

double Histogram::Mean() const {
    if (total_ == 0) return 0.0;
    long double sum = 0;
    for (size_t v = 0; v < counts_.size(); ++v) sum += static_cast<long double>(v) * counts_[v];
    return static_cast<double>(sum / total_);
}

double Histogram::StandardDeviation() const {
    if (total_ == 0) return 0.0;
    const long double mean = Mean();
    long double sum = 0;
    for (size_t v = 0; v < counts_.size(); ++v) {
        const long double d = static_cast<long double>(v) - mean;
        sum += d * d * counts_[v];
    }
    return static_cast<double>(std::sqrt(sum / total_));
}

int Histogram::Percentile(double fraction) const {
    if (total_ == 0) return 0;
    const double wanted = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(total_);
    uint64_t seen = 0;
    for (size_t v = 0; v < counts_.size(); ++v) {
        seen += counts_[v];
        if (static_cast<double>(seen) >= wanted && seen > 0) return static_cast<int>(v);
    }
    return fullScale_;
}

std::vector<uint64_t> Histogram::Columns(int columns) const {
    std::vector<uint64_t> out;
    if (columns <= 0) return out;
    out.assign(static_cast<size_t>(columns), 0);
    const size_t bins = counts_.size();
    if (static_cast<size_t>(columns) >= bins) {  // each column shows the bin under it
        for (size_t c = 0; c < out.size(); ++c) out[c] = counts_[c * bins / out.size()];
        return out;
    }
    for (size_t v = 0; v < bins; ++v) {
        const size_t c = v * static_cast<size_t>(columns) / bins;
        out[c] = std::max(out[c], counts_[v]);
    }
    return out;
}

uint64_t PlotScale(const std::vector<uint64_t>& columns) {
    if (columns.size() < 3) return 0;
    std::vector<uint64_t> inner(columns.begin() + 1, columns.end() - 1);
    std::sort(inner.begin(), inner.end());
    const uint64_t high = inner[inner.size() * 49 / 50];  // the 98th percentile
    return high > 0 ? high : inner.back();
}

std::vector<double> PlotHeights(const std::vector<uint64_t>& columns, bool logarithmic,
                                uint64_t scaleTo) {
    std::vector<double> heights(columns.size(), 0.0);
    uint64_t largest = scaleTo;
    if (largest == 0) {
        for (uint64_t c : columns) largest = std::max(largest, c);
    }
    if (largest == 0) return heights;
    const double top =
        logarithmic ? std::log1p(static_cast<double>(largest)) : static_cast<double>(largest);
    for (size_t i = 0; i < columns.size(); ++i) {
        const double n = static_cast<double>(columns[i]);
        heights[i] = std::min((logarithmic ? std::log1p(n) : n) / top, 1.0);
    }
    return heights;
}

}  // namespace lumora_viewer
