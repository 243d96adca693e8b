#include "Command.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>

#include "Settings.h"

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

// ---- Settings a command changes for itself ----

void SettingsScope::Remember(Camera& camera, const std::string& name) {
    for (const Saved& saved : saved_) {
        if (saved.name == name) return;
    }
    const Setting& setting = FindSetting(name);
    try {
        saved_.push_back({name, setting.remember ? setting.remember(camera)
                                                 : setting.parse(camera, setting.get(camera))});
    } catch (const UsageError&) {
        // A stored value this command would not take itself; the SDK keeps whatever it becomes.
    }
}

void SettingsScope::Keep(const std::string& name) {
    std::erase_if(saved_, [&name](const Saved& saved) { return saved.name == name; });
}

void SettingsScope::Restore(Camera& camera) {
    // Newest first, so a setting changed twice ends where it began.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        try {
            it->restore(camera);
        } catch (const CommandError& error) {
            std::fprintf(stderr, "lumora: could not put back %s: %s (error %d: %s)\n",
                         it->name.c_str(), error.what.c_str(), error.code,
                         ErrorMeaning(error.code));
        }
    }
    saved_.clear();
}

// ---- The session ----

Camera::Camera(const Options& options) {
    ApplySim(options);
    events_ = LumoraHost_CreateQueueWindow();
    handle_ = Lumora_Initialize(events_);
    if (handle_ == 0) {
        LumoraHost_DestroyWindow(events_);
        throw CommandError{"cannot create a session", ERR_MEMORY};
    }
    try {
        char names[10 * 256] = {};
        const int count = Lumora_EnumDevice(handle_, names);
        if (count == 0) {
            throw CommandError{
                "no camera found (`lumora doctor` tells why; --sim 1 or LUMORA_SIM_CAMERAS=1 "
                "uses a simulated camera)"};
        }
        if (options.device >= count) {
            throw CommandError{"there is no device " + std::to_string(options.device) + ": " +
                               std::to_string(count) + " camera" + (count == 1 ? "" : "s") +
                               " present (devices 0.." + std::to_string(count - 1) + ")"};
        }
        if (options.device >= 0 || count > 1) {
            const int device = std::max(options.device, 0);
            Check(Lumora_SetDeviceNumber(handle_, device),
                  "cannot open device " + std::to_string(device));
        }
        info_.size = sizeof info_;
        Check(Lumora_GetCameraInfo(handle_, &info_), "cannot read the camera information");
        if (!options.profile.empty()) ApplySettings(*this, ReadProfile(options.profile), false);
        Drain();
    } catch (...) {
        scope_.Restore(*this);
        Lumora_Release(handle_);
        LumoraHost_DestroyWindow(events_);
        throw;
    }
}

Camera::~Camera() {
    scope_.Restore(*this);
    Lumora_Release(handle_);
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

// ---- Capture options ----

namespace {

std::string Join(const std::vector<int>& values) {
    std::string text;
    for (int v : values) text += (text.empty() ? "" : ",") + std::to_string(v);
    return text;
}

}  // namespace

void ApplyCaptureSettings(Camera& camera, const CaptureOptions& o) {
    std::vector<ProfileEntry> entries;
    const auto add = [&entries](const std::string& name, const std::string& value,
                                const std::string& option) {
        entries.push_back(ProfileEntry{name, value, option, 0});
    };
    if (o.bits) add("bits", std::to_string(*o.bits), "-b " + std::to_string(*o.bits));
    if (!o.window.empty()) add("window", Join(o.window), "-w " + Join(o.window));
    const int exposures =
        (o.exposureTenths ? 1 : 0) + (o.exposureMs ? 1 : 0) + (o.exposureSeconds ? 1 : 0);
    if (exposures > 1) {
        throw UsageError{
            "give the exposure once: -e (0.1 ms units), --exposure-ms or --exposure-s"};
    }
    const LUMORA_CAMERA_INFO& info = camera.Info();
    if (o.exposureTenths) {
        const int tenths = *o.exposureTenths;
        if (tenths < info.exposureMin || tenths > info.exposureMax) {
            throw UsageError{
                "-e " + std::to_string(tenths) + ": the exposure in 0.1 ms units goes from " +
                std::to_string(info.exposureMin) + " to " + std::to_string(info.exposureMax) +
                " (" + ShortNumber(info.exposureMin / 10.0) + " .. " +
                ShortNumber(info.exposureMax / 10.0) + " ms); --exposure-ms takes milliseconds"};
        }
        add("exposure", ShortNumber(tenths / 10.0), "-e " + std::to_string(tenths));
    }
    if (o.exposureMs)
        add("exposure", ShortNumber(*o.exposureMs), "--exposure-ms " + ShortNumber(*o.exposureMs));
    if (o.exposureSeconds) {
        add("exposure", ShortNumber(*o.exposureSeconds * 1000.0),
            "--exposure-s " + ShortNumber(*o.exposureSeconds));
    }
    if (o.gain) add("gain", std::to_string(*o.gain), "-g " + std::to_string(*o.gain));
    if (o.subsample) {
        add("subsample", *o.subsample != 0 ? "on" : "off",
            "--subsample " + std::to_string(*o.subsample));
    }
    if (o.mirrorH)
        add("mirror-h", *o.mirrorH ? "on" : "off", *o.mirrorH ? "--mirror-h" : "--no-mirror-h");
    if (o.mirrorV)
        add("mirror-v", *o.mirrorV ? "on" : "off", *o.mirrorV ? "--mirror-v" : "--no-mirror-v");
    ApplySettings(camera, entries, false);
}

FrameSize CurrentFrameSize(int handle) {
    const int bits = Lumora_GetColorMode(handle);
    if (Lumora_GetSubSample(handle) != 0) return {kSensorWidth / 2, kSensorHeight / 2, bits};
    int ht = 0, hs = 0, he = 0, vt = 0, vs = 0, ve = 0;
    Lumora_GetCaptureWindowEx(handle, &ht, &hs, &he, &vt, &vs, &ve);
    return {he, ve, bits};
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
        throw UsageError{path + ": unknown file type" + (ext.empty() ? "" : " '" + ext + "'") +
                         "; the formats are .bmp .raw .jpg .png .tif"};
    }
    return it->second;
}

std::string ShortNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    std::string s = text;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

}  // namespace lumora_cli
