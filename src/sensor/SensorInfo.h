#pragma once
// The geometry-and-limits record every sensor driver keeps and the driver core copies out whole.
// Getters and setters read and keep it current, so it always describes what was last programmed.
#include <cstddef>
#include <cstdint>

namespace lumora {

// One quantity's range, current value and whether the sensor implements it.
struct SensorRange {
    int32_t min = 0;
    int32_t max = 0;
    int32_t current = 0;
    int32_t defaultValue = 0;
    int32_t supported = 0;
};

struct SensorInfo {
    int32_t sensorWidth = 0;
    int32_t sensorHeight = 0;
    int32_t defaultX = 0;
    int32_t defaultY = 0;
    int32_t defaultWidth = 0;
    int32_t defaultHeight = 0;
    int32_t reserved0 = 0;
    int32_t reserved1 = 0;  // 1 in several variants
    int32_t windowX = 0;
    int32_t windowY = 0;
    int32_t windowWidth = 0;  // halved in the two-by-two readout modes
    int32_t windowHeight = 0;
    int32_t lineLength = 0;
    int32_t frameLength = 0;
    int32_t readoutMode = 0;
    int32_t reserved2[5] = {};
    SensorRange gain;
    SensorRange exposureLines;
    SensorRange redGain;
    SensorRange green1Gain;
    SensorRange green2Gain;
    SensorRange blueGain;
    SensorRange exposureTime;  // 0.1 ms units
    int32_t levelPairMin = 0;
    int32_t levelPairMax = 0;
    int32_t levelPairSupported = 0;
    int32_t levelA = 0;
    int32_t levelADefault = 0;
    int32_t levelB = 0;
    int32_t levelBDefault = 0;
    SensorRange blackLevel;
    int32_t sensorModeSupported = 0;
    int32_t sensorMode = 0;
    int32_t reserved3 = 0;
    double exposureSecondsMin = 0;
    double exposureSecondsMax = 0;
    double exposureSeconds = 0;
    double exposureSecondsDefault = 0;
    int32_t exposureSecondsSupported = 0;
    int32_t reserved4[5] = {};
    int32_t mirrorV = 0;
    int32_t mirrorVDefault = 0;
    int32_t mirrorVSupported = 0;
    int32_t mirrorH = 0;
    int32_t mirrorHDefault = 0;
    int32_t mirrorHSupported = 0;
    int32_t outputBits = 0;  // 8 or 16
    int32_t pixelClockKHz = 0;
    int32_t orientation = 0;  // how rows and columns come off the sensor; see CopyFrame
    int32_t reserved5 = 0;
};
// 94 32-bit words, the four exposure doubles counted as two words each.
static_assert(sizeof(SensorInfo) == 94 * 4);
static_assert(offsetof(SensorInfo, gain) == 20 * 4);
static_assert(offsetof(SensorInfo, exposureSecondsMin) == 70 * 4);

}  // namespace lumora
