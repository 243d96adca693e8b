// Capture and image-format exports.
#include "api/Dispatch.h"
#include "lumora/lumora.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int Lumora_Preview(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.Preview(); });
}

LUMORA_API int Lumora_CallBackPreview(int handle, HWND frameWindow, unsigned char* buffer, int size,
                                      int rowOrder) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return s.CallBackPreview(frameWindow, buffer, size, rowOrder);
    });
}

LUMORA_API int Lumora_StartPreview(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.StartPreview(); });
}

LUMORA_API int Lumora_StopPreview(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.StopPreview(); });
}

LUMORA_API int Lumora_Capture(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.Capture(); });
}

LUMORA_API int Lumora_SnapShot(int handle, unsigned char* buffer, int size, int rowOrder) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SnapShot(buffer, size, rowOrder); });
}

LUMORA_API int Lumora_GetImage(int handle, unsigned char* buffer, int size, int rowOrder) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetImage(buffer, size, rowOrder); });
}

LUMORA_API int Lumora_Trigger(int handle, HWND frameWindow, unsigned char* buffer, int size,
                              int rowOrder) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.Trigger(frameWindow, buffer, size, rowOrder); });
}

LUMORA_API int Lumora_Close(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.Close(); });
}

LUMORA_API int Lumora_SetPreviewWindow(int handle, HWND parent, int x, int y, int width,
                                       int height) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.SetPreviewWindow(parent, x, y, width, height); });
}

LUMORA_API int Lumora_SetWaitTime(int handle, int milliseconds) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetWaitTime(milliseconds); });
}

LUMORA_API int Lumora_GetWaitTime(int handle) {
    return WithSession(handle, -1, [](CLumora& s) { return s.GetWaitTime(); });
}

LUMORA_API int Lumora_SetColorMode(int handle, int bits) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetColorMode(bits); });
}

LUMORA_API int Lumora_GetColorMode(int handle) {
    return WithSession(handle, -1, [](CLumora& s) { return s.GetColorMode(); });
}

LUMORA_API int Lumora_SetCaptureWindow(int handle, int width, int height) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetCaptureWindow(width, height); });
}

LUMORA_API int Lumora_SetCaptureWindowEx(int handle, int hTotal, int hStart, int hEffective,
                                         int vTotal, int vStart, int vEffective) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return s.SetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
    });
}

LUMORA_API int Lumora_GetCaptureWindowEx(int handle, int* hTotal, int* hStart, int* hEffective,
                                         int* vTotal, int* vStart, int* vEffective) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return s.GetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
    });
}

LUMORA_API int Lumora_SetSubSample(int handle, int mode) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetSubSample(mode); });
}

LUMORA_API int Lumora_GetSubSample(int handle) {
    return WithSession(handle, -1, [](CLumora& s) { return s.GetSubSample(); });
}

LUMORA_API int Lumora_Width(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.Width(); });
}

LUMORA_API int Lumora_Height(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.Height(); });
}

LUMORA_API int Lumora_SetSamplingRate(int handle, int rate) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetSamplingRate(rate); });
}

// The sampling rate cannot be read on this camera: both names report 0.
static int SamplingRateIsZero(int handle, int* value) {
    return WithSession(handle, 0, [&](CLumora&) {
        if (value != nullptr) *value = 0;
        return 0;
    });
}

LUMORA_API int Lumora_GetSamplingRate(int handle, int* value) {
    return SamplingRateIsZero(handle, value);
}

LUMORA_API int Lumora_GetVideoFormat(int handle, int* value) {
    return SamplingRateIsZero(handle, value);
}

}  // extern "C"
