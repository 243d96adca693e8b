#pragma once
// The session's filter and gray-mode settings: plain integer records, persisted per camera.
#include <cstdint>

namespace lumora {

struct FilterSettings {
    int32_t brightness = 0;    // -255..255
    int32_t contrast = 0;      // -127..127
    int32_t hue = 0;           // -360..360 degrees
    int32_t saturation = 0;    // -255..255
    int32_t sharpness = 0;     // 0..30
    int32_t bayerGainR = 100;  // 0..400, 100 = unity
    int32_t bayerGainG = 100;
    int32_t bayerGainB = 100;
    int32_t gamma = 100;    // 0..200, 100 = linear
    int32_t bayerMode = 3;  // 0..3
    int32_t bayerGainAuto = 0;
    int32_t oneShotMarker[2] = {0, 0};  // set by the filter dialog's "Once"
};

// Gray-mode sites: index order of the gain and offset arrays.
enum GraySite : int { kGrayR = 0, kGrayG1 = 1, kGrayG2 = 2, kGrayB = 3 };

struct GraySettings {
    int32_t grayMode = 0;                      // 0 off, 1 gain/offset, 2 luminance
    int32_t gain[4] = {128, 128, 128, 128};    // R, G1, G2, B; 0..255, 128 = unity
    int32_t offset[4] = {128, 128, 128, 128};  // R, G1, G2, B; -255..255
    int32_t autoGainCounter = 0;               // 0..1; the gray dialog also sets -1
};

constexpr int kBayerGainMax = 400;
constexpr int kGrayGainMax = 255;

}  // namespace lumora
