#pragma once
// Small helpers for building and reading test images.
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/ImageBuffer.h"
#include "platform/SimdLevel.h"

namespace lumora::test {

inline uint16_t Word(const ImageBuffer& image, int x, int y, int sample = 0) {
    uint16_t v;
    std::memcpy(&v, image.Row(y) + x * image.BytesPerPixel() + sample * 2, 2);
    return v;
}
inline void SetWord(ImageBuffer& image, int x, int y, uint16_t v, int sample = 0) {
    std::memcpy(image.Row(y) + x * image.BytesPerPixel() + sample * 2, &v, 2);
}
inline uint8_t Byte(const ImageBuffer& image, int x, int y, int sample = 0) {
    return image.Row(y)[x * image.BytesPerPixel() + sample];
}
inline void SetByte(ImageBuffer& image, int x, int y, uint8_t v, int sample = 0) {
    image.Row(y)[x * image.BytesPerPixel() + sample] = v;
}

// Fills every sample of a mono image with fn(x, y).
inline void FillMono(ImageBuffer& image, const std::function<int(int, int)>& fn) {
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            if (image.BitCount() == 8) {
                SetByte(image, x, y, static_cast<uint8_t>(fn(x, y)));
            } else {
                SetWord(image, x, y, static_cast<uint16_t>(fn(x, y)));
            }
        }
    }
}
inline int Mono(const ImageBuffer& image, int x, int y) {
    return image.BitCount() == 8 ? Byte(image, x, y) : Word(image, x, y);
}

// Runs `body` at every instruction-set level the processor has, the portable code first, and
// restores the level in force afterwards. Failures name the level.
inline void ForEachSimdLevel(const std::function<void(SimdLevel)>& body) {
    const SimdLevel before = ActiveSimdLevel();
    for (int i = 0; i <= static_cast<int>(DetectedSimdLevel()); ++i) {
        const SimdLevel level = SetSimdLevelForTesting(static_cast<SimdLevel>(i));
        SCOPED_TRACE(SimdLevelName(level));
        body(level);
    }
    SetSimdLevelForTesting(before);
}

// Restores the level in force when it goes out of scope.
class ScopedSimdLevel {
public:
    ScopedSimdLevel() : saved_(ActiveSimdLevel()) {}
    ~ScopedSimdLevel() { SetSimdLevelForTesting(saved_); }
    ScopedSimdLevel(const ScopedSimdLevel&) = delete;
    ScopedSimdLevel& operator=(const ScopedSimdLevel&) = delete;

private:
    SimdLevel saved_;
};

// Levels the processor has.
inline std::vector<SimdLevel> SimdLevels() {
    std::vector<SimdLevel> levels;
    for (int i = 0; i <= static_cast<int>(DetectedSimdLevel()); ++i) {
        levels.push_back(static_cast<SimdLevel>(i));
    }
    return levels;
}

// A small deterministic generator for test data.
class TestRandom {
public:
    explicit TestRandom(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }

private:
    uint32_t state_;
};

}  // namespace lumora::test
