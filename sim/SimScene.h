#pragma once
// The picture of the simulated camera: a fixed scene in sensor coordinates (gradients, a distinct
// mark in each sensor corner, a moving square), shaped by exposure, gain and black level, with a
// fixed dark pattern, shading, seeded hot and dead pixels and seeded temporal noise.
//
// Cost: everything that does not change from frame to frame is rendered once per settings into
// a cached frame in the wire format; a frame is then one pass over the cached bytes that adds
// the temporal noise, plus the few thousand pixels of the moving square.
//
// Threads: Render and the queries may be called from any thread; `mutex_` guards the cache.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Mutex.h"

namespace lumora::sim {

// What the camera's registers say about one frame.
struct SceneSettings {
    int outWidth = 2560;    // samples per delivered line
    int outHeight = 2048;   // delivered lines
    int bytesPerPixel = 1;  // 1: the 8 most significant of the 12 bits; 2: 12-bit LE words
    int sensorX = 0;        // sensor region the delivered frame covers
    int sensorY = 0;
    int sensorWidth = 2560;
    int sensorHeight = 2048;
    bool mirrorH = false;
    bool mirrorV = false;
    double exposureUs = 13705.04;
    int gain = 0;  // 0.1 dB steps, 0..420
    bool highGain = false;
    int blackLevel = 240;  // 12-bit counts
    bool defectCorrection = false;
    int defectThreshold = 0;  // 12-bit counts
    // Not a register: what is in front of the lens. A uniformly lit target fills the view, as
    // for a flat-field reference: the shading, dark pattern, defects and noise stay; the
    // gradient, the corner marks and the moving square do not.
    bool flatTarget = false;

    bool operator==(const SceneSettings&) const = default;
};

// Leaves new elements unwritten when a vector grows: the scene's frames are written in full
// right after, and zero-filling megabytes first only cost time.
template <typename T>
struct UnfilledAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnfilledAllocator<U>;
    };
    UnfilledAllocator() = default;
    template <typename U>
    UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <typename T>
using SceneBuffer = std::vector<T, UnfilledAllocator<T>>;

class SimScene {
public:
    static constexpr int kSensorWidth = 2560;
    static constexpr int kSensorHeight = 2048;
    static constexpr int kMaxValue = 4095;
    static constexpr int kMarkSize = 128;  // corner marks are kMarkSize squares
    static constexpr int kMoverSize = 64;
    // Counts per microsecond of exposure at gain 0 in low-gain mode for a white, unshaded pixel.
    static constexpr double kCountsPerUs = 3000.0 / 13705.04;
    // The flat target's: near the top of the range (nine tenths) at the camera's defaults, as a
    // bright reference is taken.
    static constexpr double kFlatTargetReflectance = 0.8;

    explicit SimScene(uint32_t seed = 0x5EEDu);

    // Bytes of one frame for these settings.
    static size_t FrameBytes(const SceneSettings& settings);

    // Renders frame number `frameIndex` into `dst` and returns the bytes written, or 0 when the
    // settings are not renderable or the frame does not fit in `capacity`. A static scene has no
    // temporal noise and the moving square stands still, so equal settings give equal bytes.
    size_t Render(const SceneSettings& settings, uint64_t frameIndex, bool staticScene,
                  uint8_t* dst, size_t capacity);

    // The noiseless 12-bit value of one sensor pixel without the moving square and before any
    // defect correction: what tests compute their expectations from.
    uint16_t SensorValue(const SceneSettings& settings, int sensorX, int sensorY) const;
    // Scene reflectance 0..1 at a sensor pixel (gradient and corner marks, or the flat target).
    static double Reflectance(int sensorX, int sensorY, bool flatTarget = false);
    // Top-left sensor corner of the moving square in frame `frameIndex`.
    static void MoverPosition(uint64_t frameIndex, int* x, int* y);

    struct Defect {
        int x;
        int y;
        bool hot;
    };
    const std::vector<Defect>& Defects() const { return defects_; }

private:
    double Shading(int sensorX, int sensorY) const;
    double Gain(const SceneSettings& settings) const;
    // Maps a delivered pixel to the sensor pixel it shows.
    static void MapToSensor(const SceneSettings& settings, int outX, int outY, int* sx, int* sy);
    void RebuildCache(const SceneSettings& settings) LUMORA_REQUIRES(mutex_);
    void CorrectDefects(const SceneSettings& settings, SceneBuffer<uint16_t>& values) const;

    uint32_t seed_;
    std::vector<float> shadeX_;
    std::vector<float> shadeY_;
    std::vector<uint8_t> darkColumn_;
    std::vector<uint8_t> darkRow_;
    std::vector<Defect> defects_;
    std::vector<int8_t> noise8_;
    std::vector<int16_t> noise16_;

    platform::Mutex mutex_;
    bool cacheValid_ LUMORA_GUARDED_BY(mutex_) = false;
    SceneSettings cached_ LUMORA_GUARDED_BY(mutex_);
    // The rendered frame without noise and mover, wire format.
    SceneBuffer<uint8_t> base_ LUMORA_GUARDED_BY(mutex_);
    // The same 16-bit frame as sample values.
    SceneBuffer<uint16_t> base16_ LUMORA_GUARDED_BY(mutex_);
    std::vector<int> colMap_ LUMORA_GUARDED_BY(mutex_);  // sensor column of each delivered column
    std::vector<int> rowMap_ LUMORA_GUARDED_BY(mutex_);  // sensor row of each delivered line
};

}  // namespace lumora::sim
