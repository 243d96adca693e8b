#include "Command.h"

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace lumora_cli {

const char* ErrorMeaning(int code) {
    switch (code) {
        case ERR_NONE:
            return "no error";
        case ERR_NOT_READY:
            return "not ready: no camera driver, or not allowed in this capture state";
        case ERR_DEVICE:
            return "no such camera, or it could not be opened";
        case ERR_THREAD:
            return "a worker thread could not be started";
        case ERR_WINDOW:
            return "no preview window, or no stored size preset matches";
        case ERR_MEMORY:
            return "out of memory, or the buffer is too small";
        case ERR_IO:
            return "the camera refused or failed the access";
        case ERR_WINDOW_SIZE:
            return "the capture window does not fit the sensor";
        case ERR_FRAME:
            return "no frame arrived in time";
        case ERR_PARAMETER:
            return "an argument is out of range";
        case ERR_UNSUPPORTED:
            return "this camera does not offer the function";
        case ERR_TEXT:
            return "text conversion failed";
        case ERR_DEVICE_LOST:
            return "the camera was lost";
        case ERR_MASK_FILE:
            return "the mask file could not be read or written";
        default:
            return "unknown error";
    }
}

Camera::Camera(int device) {
    events_ = LumoraHost_CreateQueueWindow();
    handle_ = Lumora_Initialize(events_);
    if (handle_ == 0) throw CommandError{"cannot create a session", ERR_MEMORY};
    if (device >= 0) {
        Check(Lumora_SetDeviceNumber(handle_, device),
              "cannot open device " + std::to_string(device));
    } else {
        char names[10 * 256] = {};
        const int count = Lumora_EnumDevice(handle_, names);
        if (count == 0) throw CommandError{"no camera found", ERR_DEVICE};
        if (count > 1) {
            Check(Lumora_SetDeviceNumber(handle_, 0), "cannot open device 0");
        }
    }
    Drain();
}

Camera::~Camera() {
    if (handle_ != 0) Lumora_Release(handle_);
    LumoraHost_DestroyWindow(events_);
}

void Camera::Check(int result, const std::string& what) {
    if (result != 0) return;
    throw CommandError{what, Lumora_GetLastError(handle_)};
}

void Camera::Drain() {
    LumoraHostMessage message{};
    while (LumoraHost_WaitMessage(events_, 0, &message)) {
    }
}

void ApplySim(const Options& options) {
    if (options.sim >= 0) LumoraSim_SetCameraCount(options.sim);
}

namespace {
const std::map<std::string, int> kFormats = {{".bmp", 0}, {".raw", 1}, {".jpg", 2}, {".jpeg", 2},
                                             {".png", 5}, {".tif", 6}, {".tiff", 6}};
}  // namespace

int FormatFor(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const auto it = kFormats.find(ext);
    if (it == kFormats.end()) {
        throw CommandError{"unknown file type '" + ext + "' (bmp, raw, jpg, png, tif)",
                           ERR_PARAMETER};
    }
    return it->second;
}

void ApplyCaptureSettings(Camera& camera, const SnapOptions& options) {
    const int h = camera.Handle();
    camera.Check(Lumora_SetColorMode(h, options.bits), "colour mode refused");
    if (!options.window.empty()) {
        const auto& w = options.window;
        camera.Check(Lumora_SetCaptureWindowEx(h, 2560, w[0], w[2], 2048, w[1], w[3]),
                     "capture window refused");
    }
    camera.Check(Lumora_SetSubSample(h, options.subsample), "subsampling refused");
    if (options.exposure >= 0)
        camera.Check(Lumora_SetExposureTime(h, options.exposure), "exposure refused");
    if (options.exposureSec >= 0) {
        camera.Check(Lumora_SetExposureTimeEx(h, options.exposureSec), "exposure refused");
    }
    if (options.gain >= 0) camera.Check(Lumora_SetGlobalGain(h, options.gain), "gain refused");
    Lumora_SetMirrorH(h, options.mirrorH ? 1 : 0);
    Lumora_SetMirrorV(h, options.mirrorV ? 1 : 0);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace lumora_cli
