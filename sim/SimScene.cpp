#include "sim/SimScene.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include "platform/Sanitizers.h"

namespace lumora::sim {

namespace {

constexpr int kHotPixels = 24;
constexpr int kDeadPixels = 16;
// Noise tables are read at a random offset per line; the tail lets any offset take a full line.
constexpr size_t kNoiseSpan = 1u << 16;
constexpr size_t kNoiseLength = kNoiseSpan + SimScene::kSensorWidth;

// xorshift32: small, seedable, and the same on every platform.
struct Random {
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>((uint64_t{Next()} * n) >> 32); }
};

uint32_t Mix(uint64_t value) {
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return static_cast<uint32_t>(value);
}

// The corner marks are what tells windowing and mirroring apart: each corner looks different.
// Returns a reflectance, or a negative value outside the marks.
double CornerMark(int x, int y) {
    constexpr int m = SimScene::kMarkSize;
    const bool left = x < m;
    const bool right = x >= SimScene::kSensorWidth - m;
    const bool top = y < m;
    const bool bottom = y >= SimScene::kSensorHeight - m;
    if (top && left) return 1.0;                                     // solid white
    if (top && right) return 0.0;                                    // solid black
    if (bottom && left) return ((x / 16 + y / 16) & 1) ? 1.0 : 0.0;  // checkerboard
    if (bottom && right) return ((y / 8) & 1) ? 1.0 : 0.0;           // horizontal stripes
    return -1.0;
}

// Fixed-size blocks so the compiler vectorises the loops even where it will not add a scalar
// tail of its own; the tail follows.
constexpr int kBlock = 64;

// The pixel loops read and write the simulator's own buffers under its lock, so the race
// detector has nothing to find in them; instrumented per byte they made a simulated frame cost
// half a second and starved the code it is there to check.
#define LUMORA_SIM_PIXEL_LOOP LUMORA_NOT_RACE_CHECKED

LUMORA_SIM_PIXEL_LOOP void AddNoise8(const uint8_t* __restrict in, const int8_t* __restrict noise,
                                     uint8_t* __restrict out, int n) {
    int x = 0;
    for (; x + kBlock <= n; x += kBlock) {
        for (int k = 0; k < kBlock; ++k) {
            const int v = in[x + k] + noise[x + k];
            out[x + k] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    for (; x < n; ++x) {
        const int v = in[x] + noise[x];
        out[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
}

// Samples are at most 4095 and noise a few dozen counts, so 16-bit lanes hold every sum.
LUMORA_SIM_PIXEL_LOOP void AddNoise16(const uint16_t* __restrict in,
                                      const int16_t* __restrict noise, uint16_t* __restrict words,
                                      int n) {
    auto add = [](uint16_t word, int16_t delta) {
        int16_t v = static_cast<int16_t>(static_cast<int16_t>(word) + delta);
        v = v < 0 ? int16_t{0} : v;
        v = v > SimScene::kMaxValue ? static_cast<int16_t>(SimScene::kMaxValue) : v;
        return static_cast<uint16_t>(v);
    };
    int x = 0;
    for (; x + kBlock <= n; x += kBlock) {
        for (int k = 0; k < kBlock; ++k) words[x + k] = add(in[x + k], noise[x + k]);
    }
    for (; x < n; ++x) words[x] = add(in[x], noise[x]);
}

}  // namespace

SimScene::SimScene(uint32_t seed) : seed_(seed == 0 ? 1 : seed) {
    Random random{seed_};
    shadeX_.resize(kSensorWidth);
    shadeY_.resize(kSensorHeight);
    darkColumn_.resize(kSensorWidth);
    darkRow_.resize(kSensorHeight);
    // Vignetting: brightest in the middle, a quarter darker at the edges in each direction.
    for (int x = 0; x < kSensorWidth; ++x) {
        const double u = (x - (kSensorWidth - 1) / 2.0) / (kSensorWidth / 2.0);
        shadeX_[x] = static_cast<float>(1.0 - 0.25 * u * u);
        darkColumn_[x] = static_cast<uint8_t>(random.Below(16));
    }
    for (int y = 0; y < kSensorHeight; ++y) {
        const double v = (y - (kSensorHeight - 1) / 2.0) / (kSensorHeight / 2.0);
        shadeY_[y] = static_cast<float>(1.0 - 0.25 * v * v);
        darkRow_[y] = static_cast<uint8_t>(random.Below(8));
    }
    // Defects stay clear of the corner marks and of each other's neighbourhoods so a corrected
    // pixel always has sound neighbours.
    while (defects_.size() < static_cast<size_t>(kHotPixels) + kDeadPixels) {
        const int x =
            kMarkSize + 2 + static_cast<int>(random.Below(kSensorWidth - 2 * kMarkSize - 4));
        const int y =
            kMarkSize + 2 + static_cast<int>(random.Below(kSensorHeight - 2 * kMarkSize - 4));
        const bool crowded = std::any_of(defects_.begin(), defects_.end(), [&](const Defect& d) {
            return std::abs(d.x - x) < 4 && std::abs(d.y - y) < 4;
        });
        if (!crowded) defects_.push_back({x, y, defects_.size() < static_cast<size_t>(kHotPixels)});
    }
    noise8_.resize(kNoiseLength);
    noise16_.resize(kNoiseLength);
    for (size_t i = 0; i < kNoiseLength; ++i) {
        // Sum of four uniforms: close enough to a normal distribution, sigma about 6 counts.
        int sum = 0;
        for (int k = 0; k < 4; ++k) sum += static_cast<int>(random.Below(21)) - 10;
        noise16_[i] = static_cast<int16_t>(sum);
        // In 8-bit samples the same noise is about half a step.
        const uint32_t r = random.Below(8);
        noise8_[i] = static_cast<int8_t>(r == 0 ? -1 : (r == 1 ? 1 : 0));
    }
}

size_t SimScene::FrameBytes(const SceneSettings& s) {
    if (s.outWidth <= 0 || s.outHeight <= 0 || (s.bytesPerPixel != 1 && s.bytesPerPixel != 2))
        return 0;
    return static_cast<size_t>(s.outWidth) * static_cast<size_t>(s.outHeight) *
           static_cast<size_t>(s.bytesPerPixel);
}

double SimScene::Reflectance(int x, int y, bool flatTarget) {
    if (flatTarget) return kFlatTargetReflectance;
    const double mark = CornerMark(x, y);
    if (mark >= 0.0) return mark;
    return 0.15 + 0.5 * x / (kSensorWidth - 1) + 0.3 * y / (kSensorHeight - 1);
}

void SimScene::MoverPosition(uint64_t frameIndex, int* x, int* y) {
    *x = 200 + static_cast<int>((frameIndex * 24) % 2100);
    *y = 900 + static_cast<int>((frameIndex * 8) % 200);
}

double SimScene::Shading(int x, int y) const {
    return double{shadeX_[x]} * shadeY_[y];
}

double SimScene::Gain(const SceneSettings& s) const {
    const double gain = std::pow(10.0, std::clamp(s.gain, 0, 420) / 200.0);  // 0.1 dB steps
    return gain * (s.highGain ? 2.0 : 1.0) * kCountsPerUs * std::max(0.0, s.exposureUs);
}

uint16_t SimScene::SensorValue(const SceneSettings& s, int x, int y) const {
    x = std::clamp(x, 0, kSensorWidth - 1);
    y = std::clamp(y, 0, kSensorHeight - 1);
    for (const Defect& d : defects_) {
        if (d.x == x && d.y == y) return d.hot ? kMaxValue : 0;
    }
    const double value = std::clamp(s.blackLevel, 0, kMaxValue) + darkColumn_[x] + darkRow_[y] +
                         Gain(s) * Reflectance(x, y, s.flatTarget) * Shading(x, y);
    return static_cast<uint16_t>(std::clamp(value, 0.0, double{kMaxValue}));
}

void SimScene::MapToSensor(const SceneSettings& s, int outX, int outY, int* sx, int* sy) {
    // The sensor reads its region in reverse when mirrored, so the mirror acts within the window.
    const int col = s.mirrorH ? s.outWidth - 1 - outX : outX;
    const int row = s.mirrorV ? s.outHeight - 1 - outY : outY;
    const int64_t x = s.sensorX + int64_t{col} * std::max(1, s.sensorWidth) / s.outWidth;
    const int64_t y = s.sensorY + int64_t{row} * std::max(1, s.sensorHeight) / s.outHeight;
    *sx = static_cast<int>(std::clamp<int64_t>(x, 0, kSensorWidth - 1));
    *sy = static_cast<int>(std::clamp<int64_t>(y, 0, kSensorHeight - 1));
}

LUMORA_SIM_PIXEL_LOOP void SimScene::CorrectDefects(const SceneSettings& s,
                                                    SceneBuffer<uint16_t>& v) const {
    const int w = s.outWidth;
    const int h = s.outHeight;
    if (w < 3 || h < 3) return;
    const int threshold = std::max(0, s.defectThreshold);
    std::vector<uint16_t> above(v.begin(), v.begin() + w);  // the uncorrected previous line
    std::vector<uint16_t> current(w);
    for (int y = 1; y < h - 1; ++y) {
        uint16_t* line = &v[static_cast<size_t>(y) * w];
        const uint16_t* below = line + w;
        std::copy(line, line + w, current.begin());
        for (int x = 1; x < w - 1; ++x) {
            // A pixel is defective when it lies beyond all four neighbours by more than the
            // threshold; its neighbours, which differ from it in one direction only, are not.
            const int l = current[x - 1], r = current[x + 1], a = above[x], b = below[x];
            const int high = std::max(std::max(l, r), std::max(a, b));
            const int low = std::min(std::min(l, r), std::min(a, b));
            const int p = current[x];
            if (p > high + threshold || p < low - threshold) {
                line[x] = static_cast<uint16_t>((l + r + a + b + 2) / 4);
            }
        }
        above.swap(current);
    }
}

LUMORA_SIM_PIXEL_LOOP void SimScene::RebuildCache(const SceneSettings& s) {
    const int w = s.outWidth;
    const int h = s.outHeight;
    std::vector<int>& colMap = colMap_;
    std::vector<int>& rowMap = rowMap_;
    colMap.assign(w, 0);
    rowMap.assign(h, 0);
    for (int x = 0; x < w; ++x) {
        int sy = 0;
        MapToSensor(s, x, 0, &colMap[x], &sy);
    }
    for (int y = 0; y < h; ++y) {
        int sx = 0;
        MapToSensor(s, 0, y, &sx, &rowMap[y]);
    }
    const double k = Gain(s);
    const double black = std::clamp(s.blackLevel, 0, kMaxValue);
    // The sample values are worked out in place in the 16-bit frame, which stays (at 8 bits
    // too) so that a rebuild reuses its memory rather than taking megabytes afresh.
    SceneBuffer<uint16_t>& values = base16_;
    values.resize(static_cast<size_t>(w) * h);
    std::vector<double> columnSignal(w);  // gradient along x times shading along x
    for (int x = 0; x < w; ++x) {
        const int sx = colMap[x];
        columnSignal[x] = shadeX_[sx];
    }
    for (int y = 0; y < h; ++y) {
        const int sy = rowMap[y];
        const bool markRows = !s.flatTarget && (sy < kMarkSize || sy >= kSensorHeight - kMarkSize);
        const double rowGain = k * shadeY_[sy];
        const double rowBase = black + darkRow_[sy];
        uint16_t* out = &values[static_cast<size_t>(y) * w];
        for (int x = 0; x < w; ++x) {
            const int sx = colMap[x];
            const double reflectance =
                s.flatTarget ? kFlatTargetReflectance
                : markRows   ? Reflectance(sx, sy)
                           : 0.15 + 0.5 * sx / (kSensorWidth - 1) + 0.3 * sy / (kSensorHeight - 1);
            const double value =
                rowBase + darkColumn_[sx] + rowGain * columnSignal[x] * reflectance;
            out[x] =
                static_cast<uint16_t>(value >= kMaxValue ? kMaxValue : (value <= 0 ? 0 : value));
        }
    }
    // Defects sit on sensor pixels; find where they land in the delivered frame.
    for (const Defect& d : defects_) {
        const auto col = std::find(colMap.begin(), colMap.end(), d.x);
        const auto row = std::find(rowMap.begin(), rowMap.end(), d.y);
        if (col == colMap.end() || row == rowMap.end()) continue;
        // Mirrored maps run backwards but each sensor pixel still appears at most once per axis
        // in plain readout; binned readout samples one pixel of each pair.
        values[static_cast<size_t>(row - rowMap.begin()) * w + (col - colMap.begin())] =
            d.hot ? kMaxValue : 0;
    }
    if (s.defectCorrection) CorrectDefects(s, values);

    base_.resize(FrameBytes(s));
    if (s.bytesPerPixel == 1) {
        for (size_t i = 0; i < values.size(); ++i) base_[i] = static_cast<uint8_t>(values[i] >> 4);
    } else {
        for (size_t i = 0; i < values.size(); ++i) {
            base_[2 * i] = static_cast<uint8_t>(values[i] & 0xFF);
            base_[2 * i + 1] = static_cast<uint8_t>(values[i] >> 8);
        }
    }
    cached_ = s;
    cacheValid_ = true;
}

size_t SimScene::Render(const SceneSettings& s, uint64_t frameIndex, bool staticScene, uint8_t* dst,
                        size_t capacity) {
    const size_t bytes = FrameBytes(s);
    if (bytes == 0 || dst == nullptr || capacity < bytes) return 0;
    platform::MutexLock lock(mutex_);
    if (!cacheValid_ || !(cached_ == s)) RebuildCache(s);
    if (staticScene) frameIndex = 0;

    const int w = s.outWidth;
    const int h = s.outHeight;
    if (staticScene) {
        std::memcpy(dst, base_.data(), bytes);
    } else if (s.bytesPerPixel == 1) {
        for (int y = 0; y < h; ++y) {
            const size_t offset = Mix(frameIndex * 4099 + static_cast<uint64_t>(y)) % kNoiseSpan;
            const int8_t* __restrict noise = &noise8_[offset];
            const uint8_t* __restrict in = &base_[static_cast<size_t>(y) * w];
            uint8_t* __restrict out = dst + static_cast<size_t>(y) * w;
            AddNoise8(in, noise, out, w);
        }
    } else {
        // Samples are little-endian words on the wire; work on whole words where the host's
        // order is the same.
        std::vector<uint16_t> line(static_cast<size_t>(w));
        for (int y = 0; y < h; ++y) {
            const size_t offset = Mix(frameIndex * 4099 + static_cast<uint64_t>(y)) % kNoiseSpan;
            const int16_t* __restrict noise = &noise16_[offset];
            const uint16_t* in = &base16_[static_cast<size_t>(y) * w];
            uint8_t* out = dst + static_cast<size_t>(y) * w * 2;
            uint16_t* __restrict words = line.data();
            AddNoise16(in, noise, words, w);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out, words, static_cast<size_t>(w) * 2);
            } else {
                for (int x = 0; x < w; ++x) {
                    out[2 * x] = static_cast<uint8_t>(words[x] & 0xFF);
                    out[2 * x + 1] = static_cast<uint8_t>(words[x] >> 8);
                }
            }
        }
    }

    // The moving square: white, shaded like the rest of the scene; a flat target hides it.
    if (s.flatTarget) return bytes;
    int mx = 0;
    int my = 0;
    MoverPosition(frameIndex, &mx, &my);
    const double k = Gain(s);
    const double black = std::clamp(s.blackLevel, 0, kMaxValue);
    for (int y = 0; y < h; ++y) {
        const int sy = rowMap_[y];
        if (sy < my || sy >= my + kMoverSize) continue;
        for (int x = 0; x < w; ++x) {
            const int sx = colMap_[x];
            if (sx < mx || sx >= mx + kMoverSize) continue;
            const double value = black + darkColumn_[sx] + darkRow_[sy] + k * Shading(sx, sy);
            const int v = static_cast<int>(std::clamp(value, 0.0, double{kMaxValue}));
            const size_t i = static_cast<size_t>(y) * w + x;
            if (s.bytesPerPixel == 1) {
                dst[i] = static_cast<uint8_t>(v >> 4);
            } else {
                dst[2 * i] = static_cast<uint8_t>(v & 0xFF);
                dst[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
    return bytes;
}

}  // namespace lumora::sim
