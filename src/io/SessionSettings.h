#pragma once
// The settings records a session keeps per camera and persists in the settings store: plain
// integer records, laid out in the order the session and the dialogs exchange them.
// FilterSettings and GraySettings belong to the image pipeline that applies them.
#include <cstdint>

#include "imaging/FilterSettings.h"
#include "imaging/MaskSet.h"  // kSensorWidth, kSensorHeight

namespace lumora {

// A capture window with its frame-buffer count ("Size_%02d").
struct SizeEntry {
    int32_t hTotal = kSensorWidth;
    int32_t vTotal = kSensorHeight;
    int32_t hEffective = kSensorWidth;   // capture width
    int32_t vEffective = kSensorHeight;  // capture height
    int32_t hStart = 0;
    int32_t vStart = 0;
    int32_t bufferCount = 4;

    friend bool operator==(const SizeEntry&, const SizeEntry&) = default;
};

// Gains, exposure, orientation and sensor modes, mirrored into the driver.
struct AnalogSettings {
    int32_t globalGain = 0;
    int32_t colorGainG1 = 0;
    int32_t colorGainR = 0;
    int32_t colorGainB = 0;
    int32_t colorGainG2 = 0;
    int32_t exposure = 0;  // 0.1 ms units
    int32_t mirrorV = 0;
    int32_t mirrorH = 0;
    int32_t autoIris = 0;  // 0 off, 1 exposure, 2 gain
    int32_t blackLevel = 0;
    int32_t coolerOn = 0;      // never stored: the cooler is switched on at every open
    int32_t responseMode = 0;  // never stored: reset at every open
    int32_t gainMode = 0;      // 0 high gain, 1 low gain
    double exposureSeconds = 0.0;

    friend bool operator==(const AnalogSettings&, const AnalogSettings&) = default;
};

// The image-format group of a camera: the selected size entry and the format choices.
struct FormatSettings {
    int32_t sizeIndex = 0;
    int32_t colorMode = 0;
    int32_t subSample = 0;
    int32_t waitTime = 10;
    int32_t clock = 0;

    friend bool operator==(const FormatSettings&, const FormatSettings&) = default;
};

}  // namespace lumora
