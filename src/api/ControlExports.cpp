// Exposure, gain, orientation, cooler, the filter-value family and the functions this camera
// does not offer.
#include "api/Dispatch.h"
#include "lumora/lumora.h"

using lumora::CLumora;
using lumora::WithSession;

namespace {

int GetFilter(int handle, int id, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetFilterValue(id, valid); });
}

int SetFilter(int handle, int id, int value) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetFilterValue(id, value); });
}

}  // namespace

// Each named pair reads and writes one filter value by its fixed number.
#define LUMORA_FILTER_EXPORTS(Name, id)                       \
    LUMORA_API int Lumora_Get##Name(int handle, int* valid) { \
        return GetFilter(handle, id, valid);                  \
    }                                                         \
    LUMORA_API int Lumora_Set##Name(int handle, int value) {  \
        return SetFilter(handle, id, value);                  \
    }

extern "C" {

LUMORA_API int Lumora_GetFilterValue(int handle, int id, int* valid) {
    return GetFilter(handle, id, valid);
}
LUMORA_API int Lumora_SetFilterValue(int handle, int id, int value) {
    return SetFilter(handle, id, value);
}

LUMORA_FILTER_EXPORTS(Brightness, 1)
LUMORA_FILTER_EXPORTS(Contrast, 2)
LUMORA_FILTER_EXPORTS(Hue, 3)
LUMORA_FILTER_EXPORTS(Saturation, 4)
LUMORA_FILTER_EXPORTS(Sharpness, 5)
LUMORA_FILTER_EXPORTS(BayerGainRGB, 6)
LUMORA_FILTER_EXPORTS(BayerGainRed, 7)
LUMORA_FILTER_EXPORTS(BayerGainGreen, 8)
LUMORA_FILTER_EXPORTS(BayerGainBlue, 9)
LUMORA_FILTER_EXPORTS(BayerGainAuto, 10)
LUMORA_FILTER_EXPORTS(Gamma, 11)
LUMORA_FILTER_EXPORTS(BayerMode, 12)
LUMORA_FILTER_EXPORTS(GlobalGain, 13)
LUMORA_FILTER_EXPORTS(ColorGainRed, 14)
LUMORA_FILTER_EXPORTS(ColorGainGreen1, 15)
LUMORA_FILTER_EXPORTS(ColorGainGreen2, 16)
LUMORA_FILTER_EXPORTS(ColorGainBlue, 17)
LUMORA_FILTER_EXPORTS(ExposureTime, 18)
LUMORA_FILTER_EXPORTS(GrayMode, 19)
LUMORA_FILTER_EXPORTS(GrayGainR, 20)
LUMORA_FILTER_EXPORTS(GrayGainG1, 21)
LUMORA_FILTER_EXPORTS(GrayGainG2, 22)
LUMORA_FILTER_EXPORTS(GrayGainB, 23)
LUMORA_FILTER_EXPORTS(GrayOffsetR, 24)
LUMORA_FILTER_EXPORTS(GrayOffsetG1, 25)
LUMORA_FILTER_EXPORTS(GrayOffsetG2, 26)
LUMORA_FILTER_EXPORTS(GrayOffsetB, 27)
LUMORA_FILTER_EXPORTS(Peltier, 100)
LUMORA_FILTER_EXPORTS(DotFilter, 102)
LUMORA_FILTER_EXPORTS(MaskFilter, 103)

LUMORA_API int Lumora_GetTemperature(int handle, int* valid) {
    return GetFilter(handle, 101, valid);
}

LUMORA_API int Lumora_GetChannelGain(int handle, int channel, int* valid) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.GetChannelValue(true, channel, valid); });
}
LUMORA_API int Lumora_SetChannelGain(int handle, int channel, int value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.SetChannelValue(true, channel, value); });
}
LUMORA_API int Lumora_GetChannelOffset(int handle, int channel, int* valid) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.GetChannelValue(false, channel, valid); });
}
LUMORA_API int Lumora_SetChannelOffset(int handle, int channel, int value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.SetChannelValue(false, channel, value); });
}

LUMORA_API int Lumora_SetExposureTimeEx(int handle, double seconds) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetExposureTimeEx(seconds); });
}
LUMORA_API double Lumora_GetExposureTimeEx(int handle, int* valid) {
    return WithSession(handle, 0.0, [&](CLumora& s) { return s.GetExposureTimeEx(valid); });
}
LUMORA_API int Lumora_SetRealExposureTime(int handle, int microseconds) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetRealExposureTime(microseconds); });
}
LUMORA_API int Lumora_GetRealExposureTime(int handle, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetRealExposureTime(valid); });
}

LUMORA_API int Lumora_SetMirrorH(int handle, int on) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetMirrorH(on); });
}
LUMORA_API int Lumora_SetMirrorV(int handle, int on) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetMirrorV(on); });
}
LUMORA_API int Lumora_GetMirrorH(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.GetMirrorH(); });
}
LUMORA_API int Lumora_GetMirrorV(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.GetMirrorV(); });
}
LUMORA_API int Lumora_SetAutoIris(int handle, int mode) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetAutoIris(mode); });
}
LUMORA_API int Lumora_GetAutoIris(int handle, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetAutoIris(valid); });
}
LUMORA_API double Lumora_GetTemperatureEx(int handle, int* valid) {
    return WithSession(handle, 0.0, [&](CLumora& s) { return s.GetTemperatureEx(valid); });
}

// Frame rate, half clock and crossbar share one answer: not on this camera, posted only.
static int NotOffered(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.NotSupportedPosted(); });
}
LUMORA_API int Lumora_Fps(int handle) {
    return NotOffered(handle);
}
LUMORA_API int Lumora_GetHalfClock(int handle) {
    return NotOffered(handle);
}
LUMORA_API int Lumora_SetHalfClock(int handle, int /*on*/) {
    return NotOffered(handle);
}
LUMORA_API int Lumora_SetCrossbar(int handle, int /*value*/) {
    return NotOffered(handle);
}

LUMORA_API int Lumora_SendText(int handle, const char* /*text*/) {
    return WithSession(handle, 0, [](CLumora& s) { return s.NotSupportedRecorded(0); });
}
LUMORA_API int Lumora_ReceiveText(int handle, char* /*text*/, int /*size*/) {
    return WithSession(handle, 0, [](CLumora& s) { return s.NotSupportedRecorded(0); });
}
LUMORA_API int Lumora_SetConfigFilter(int handle, int /*id*/, int /*value*/) {
    return WithSession(handle, 0, [](CLumora& s) { return s.NotSupportedRecorded(-1); });
}
LUMORA_API int Lumora_GetConfigFilter(int handle, int /*id*/, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) {
        if (valid != nullptr) *valid = 0;
        return s.NotSupportedRecorded(-1);
    });
}

}  // extern "C"

#undef LUMORA_FILTER_EXPORTS
