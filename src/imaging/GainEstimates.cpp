#include "imaging/GainEstimates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumora {

namespace {

template <class T>
void SiteSums(const ImageBuffer& image, uint64_t sums[2][2], uint64_t counts[2][2]) {
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) sums[i][j] = counts[i][j] = 0;
    }
    const int width = image.Width();
    for (int y = 0; y < image.Height(); ++y) {
        const T* row = reinterpret_cast<const T*>(image.Row(y));
        uint64_t even = 0;
        uint64_t odd = 0;
        int x = 0;
        for (; x + 1 < width; x += 2) {
            even += row[x];
            odd += row[x + 1];
        }
        if (x < width) even += row[x];
        sums[y & 1][0] += even;
        sums[y & 1][1] += odd;
        counts[y & 1][0] += static_cast<uint64_t>((width + 1) / 2);
        counts[y & 1][1] += static_cast<uint64_t>(width / 2);
    }
}

// Sums and counts indexed by (row state, column state) for `phase`.
bool StateSums(const ImageBuffer& image, int phase, uint64_t sums[2][2], uint64_t counts[2][2]) {
    uint64_t byParity[2][2];
    uint64_t countParity[2][2];
    if (image.BitCount() == 8) {
        SiteSums<uint8_t>(image, byParity, countParity);
    } else if (image.BitCount() == 16) {
        SiteSums<uint16_t>(image, byParity, countParity);
    } else {
        return false;
    }
    for (int py = 0; py < 2; ++py) {
        for (int px = 0; px < 2; ++px) {
            const int rowState = (phase & 1) ^ py;
            const int colState = ((phase >> 1) & 1) ^ px;
            sums[rowState][colState] = byParity[py][px];
            counts[rowState][colState] = countParity[py][px];
        }
    }
    return true;
}

}  // namespace

std::array<int, 4> EstimateGrayGains(const ImageBuffer& raw, int bayerMode,
                                     const std::array<int, 4>& currentGains) {
    uint64_t sums[2][2];
    uint64_t counts[2][2];
    std::array<int, 4> gains = currentGains;
    if (!StateSums(raw, bayerMode, sums, counts)) return gains;
    static constexpr int kSites[2][2] = {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}};
    float means[4] = {0, 0, 0, 0};
    for (int rs = 0; rs < 2; ++rs) {
        for (int cs = 0; cs < 2; ++cs) {
            if (counts[rs][cs] != 0) {
                means[kSites[rs][cs]] =
                    static_cast<float>(sums[rs][cs]) / static_cast<float>(counts[rs][cs]);
            }
        }
    }
    if (means[kGrayG1] == 0.0f) return gains;
    gains[kGrayG1] = 128;
    for (int site : {kGrayR, kGrayG2, kGrayB}) {
        if (means[site] == 0.0f) continue;
        const float g = std::floor(means[kGrayG1] / means[site] * 128.0f);
        gains[static_cast<size_t>(site)] =
            static_cast<int>(std::clamp(g, 0.0f, static_cast<float>(kGrayGainMax)));
    }
    return gains;
}

BayerGains EstimateWhiteBalance(const ImageBuffer& raw, int phase, const BayerGains& current) {
    uint64_t sums[2][2];
    uint64_t counts[2][2];
    BayerGains gains = current;
    if (!StateSums(raw, phase, sums, counts)) return gains;
    auto mean = [](uint64_t sum, uint64_t count) {
        return count == 0 ? 0.0 : static_cast<double>(sum) / static_cast<double>(count);
    };
    const double meanR = mean(sums[1][0], counts[1][0]);
    const double meanB = mean(sums[0][1], counts[0][1]);
    const double meanG = mean(sums[0][0] + sums[1][1], counts[0][0] + counts[1][1]);
    if (meanG == 0.0) return gains;
    const double total = meanR + meanG + meanB;
    const double greenTerm = total / meanG / 3;
    auto gainFor = [&](double m, int keep) {
        if (m == 0.0) return keep;
        const double g = std::floor((total / m / 3 * 100) / greenTerm);
        return static_cast<int>(std::clamp(g, 0.0, static_cast<double>(kBayerGainMax)));
    };
    gains.g = 100;
    gains.r = gainFor(meanR, current.r);
    gains.b = gainFor(meanB, current.b);
    return gains;
}

}  // namespace lumora
