#include "CameraSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Text.h"

namespace lumora_viewer {
namespace {

// Lumora_EnumDevice fills ten slots of 256 bytes; device numbers run over the SDK's table.
constexpr int kNameSlots = 10;
constexpr int kNameSlotSize = 256;
constexpr int kDeviceRows = 32;

}  // namespace

const std::vector<ImageFormat>& ImageFormats() {
    static const std::vector<ImageFormat> formats = {
        {5, N_("PNG"), ".png"},
        {6, N_("TIFF"), ".tif"},
        {0, N_("BMP"), ".bmp"},
        {1, N_("Raw (no header)"), ".raw"},
        {2, N_("JPEG, quality 100"), ".jpg"},
        {3, N_("JPEG, quality 70"), ".jpg"},
        {4, N_("JPEG, quality 20"), ".jpg"},
    };
    return formats;
}

const char* ErrorMeaning(int code) {
    switch (code) {
        case ERR_NONE:
            return N_("no error");
        case ERR_NOT_READY:
            return N_("not possible now (no camera, or not in this capture state)");
        case ERR_DEVICE:
            return N_("no such camera, or it could not be opened");
        case ERR_THREAD:
            return N_("a worker thread could not be started");
        case ERR_WINDOW:
            return N_("no preview window, or no stored size matches");
        case ERR_MEMORY:
            return N_("out of memory, or the buffer is too small");
        case ERR_IO:
            return N_("the camera refused or failed the access");
        case ERR_WINDOW_SIZE:
            return N_("the capture window does not fit the sensor");
        case ERR_FRAME:
            return N_("no frame arrived in time");
        case ERR_PARAMETER:
            return N_("a value is out of range");
        case ERR_UNSUPPORTED:
            return N_("this camera does not offer the function");
        case ERR_TEXT:
            return N_("the file could not be written, or a name could not be converted");
        case ERR_DEVICE_LOST:
            return N_("the camera was lost");
        case ERR_MASK_FILE:
            return N_("the mask file could not be read or written");
        default:
            return N_("unknown error");
    }
}

CameraSession::~CameraSession() {
    Shutdown();
}

void CameraSession::Shutdown() {
    if (handle_ == 0) return;
    // The run ends before the feed's window goes away; the feed's thread ends with the feed.
    Lumora_StopPreview(handle_);
    Lumora_Close(handle_);
    feed_.reset();
    Lumora_Release(handle_);
    handle_ = 0;
    current_ = -1;
    mode_ = RunMode::kStopped;
}

bool CameraSession::Initialize(HWND notifications, int device, FrameFeed::Events events) {
    handle_ = Lumora_Initialize(notifications);
    if (handle_ == 0) return false;
    feed_ = std::make_unique<FrameFeed>(handle_, std::move(events));
    const std::vector<DeviceEntry> devices = Devices();
    if (device >= 0) {
        // A number no present camera has is the user's to correct, not an error of the SDK's,
        // and another camera is not opened in its place.
        const bool present = std::any_of(devices.begin(), devices.end(),
                                         [device](const DeviceEntry& d) { return d.number == device; });
        if (present) {
            Open(device);
        } else {
            missingDevice_ = device;
        }
    } else if (!devices.empty()) {
        Open(devices.front().number);
    }
    return true;
}

bool CameraSession::Check(int result, const char* what) {
    if (result != 0) return true;
    error_.code = Lumora_GetLastError(handle_);
    error_.what = what;
    // The rest of the history belongs to the same failure.
    while (Lumora_GetLastError(handle_) != 0) {
    }
    return false;
}

std::vector<DeviceEntry> CameraSession::Devices() {
    std::vector<DeviceEntry> devices;
    std::vector<char> names(kNameSlots * kNameSlotSize, 0);
    const int count = Lumora_EnumDevice(handle_, names.data());
    // The numbers of the present cameras: probing absent rows records codes that mean nothing
    // to the user, so they are dropped.
    char name[64];
    for (int n = 0; n < kDeviceRows && static_cast<int>(devices.size()) < count; ++n) {
        if (Lumora_GetDeviceName(handle_, n, name, sizeof name) == 1) devices.push_back({n, name});
    }
    while (Lumora_GetLastError(handle_) != 0) {
    }
    return devices;
}

bool CameraSession::Open(int number) {
    if (mode_ != RunMode::kStopped) Stop();
    if (!Check(Lumora_SetDeviceNumber(handle_, number), N_("Cannot open the camera"))) {
        current_ = -1;
        return false;
    }
    current_ = number;
    missingDevice_ = -1;
    ApplyValueShift();
    return true;
}

void CameraSession::Lost() {
    if (feed_ != nullptr) feed_->Pause();
    Lumora_StopPreview(handle_);
    mode_ = RunMode::kStopped;
    current_ = -1;
}

std::string CameraSession::Serial() {
    char text[64] = {};
    if (Lumora_ReadSerialNumberA(handle_, text, sizeof text) != 1) {
        while (Lumora_GetLastError(handle_) != 0) {
        }
        return {};
    }
    return text;
}

CameraRanges CameraSession::Ranges() {
    CameraRanges r;
    LUMORA_CAMERA_INFO info{};
    info.size = sizeof info;
    if (Lumora_GetCameraInfo(handle_, &info) != 1) return r;
    r.gainMin = info.globalGainMin;
    r.gainMax = info.globalGainMax;
    if (info.exposureExMax > 0) {
        r.exposureMinMs = info.exposureExMin * 1e3;
        r.exposureMaxMs = info.exposureExMax * 1e3;
    } else {
        r.exposureMinMs = info.exposureMin / 10.0;
        r.exposureMaxMs = info.exposureMax / 10.0;
    }
    return r;
}

bool CameraSession::CanFireTrigger() {
    return IsOpen() && LumoraSim_GetCameraCount() > 0;
}

bool CameraSession::FireTrigger() {
    // The simulated camera with this camera's serial number.
    const std::string serial = Serial();
    char text[64];
    for (int i = 0; i < LumoraSim_GetCameraCount(); ++i) {
        if (LumoraSim_GetSerialNumber(i, text, sizeof text) == 1 && serial == text)
            return LumoraSim_FireTrigger(i) == 1;
    }
    return false;
}

FrameGeometry CameraSession::Geometry() const {
    FrameGeometry g;
    const int divisor = Lumora_GetSubSample(handle_) == 1 ? 2 : 1;
    g.width = Lumora_Width(handle_) / divisor;
    g.height = Lumora_Height(handle_) / divisor;
    g.bits = Lumora_GetColorMode(handle_) == 16 ? 16 : 8;
    return g;
}

bool CameraSession::Start(RunMode mode) {
    if (mode == RunMode::kStopped) {
        Stop();
        return true;
    }
    if (!IsOpen()) {
        error_ = {ERR_NOT_READY, N_("No camera is open")};
        return false;
    }
    if (mode_ != RunMode::kStopped) Stop();
    // The feed's figures restart with the run, as the session's do.
    feed_->ResetFigures();
    feed_->Resume(Geometry());
    const int ok = mode == RunMode::kTriggered
                       ? Lumora_Trigger(handle_, feed_->Window(), nullptr, 0, 1)
                       : Lumora_CallBackPreview(handle_, feed_->Window(), nullptr, 0, 1);
    if (!Check(ok, N_("Cannot start the camera"))) {
        feed_->Pause();
        Lumora_Close(handle_);
        return false;
    }
    mode_ = mode;
    return true;
}

void CameraSession::Stop() {
    feed_->Pause();
    Lumora_StopPreview(handle_);
    mode_ = RunMode::kStopped;
}

bool CameraSession::Reconfigure(const std::function<bool()>& change) {
    const RunMode was = mode_;
    if (was != RunMode::kStopped) Stop();
    const bool ok = change();
    if (was != RunMode::kStopped && IsOpen()) {
        const Error kept = error_;
        if (!Start(was)) return false;
        if (!ok) error_ = kept;
    }
    return ok;
}

bool CameraSession::SetExposureMs(double ms) {
    return Check(Lumora_SetExposureTimeEx(handle_, ms / 1e3), N_("Cannot set the exposure"));
}

double CameraSession::ExposureMs() {
    int valid = 0;
    const double s = Lumora_GetExposureTimeEx(handle_, &valid);
    if (valid == 1) return s * 1e3;
    return Lumora_GetExposureTime(handle_, &valid) / 10.0;
}

bool CameraSession::SetGain(int gain) {
    return Check(Lumora_SetGlobalGain(handle_, gain), N_("Cannot set the gain"));
}

int CameraSession::Gain() {
    int valid = 0;
    return Lumora_GetGlobalGain(handle_, &valid);
}

bool CameraSession::SetFilter(int id, int value) {
    return Check(Lumora_SetFilterValue(handle_, id, value), N_("Cannot change the setting"));
}

int CameraSession::Filter(int id) {
    int valid = 0;
    const int value = Lumora_GetFilterValue(handle_, id, &valid);
    while (Lumora_GetLastError(handle_) != 0) {  // a getter records 0 on success
    }
    return value;
}

bool CameraSession::SetBits(int bits) {
    const bool ok = Reconfigure([&] {
        return Check(Lumora_SetColorMode(handle_, bits), N_("Cannot change the bit depth"));
    });
    ApplyValueShift();
    return ok;
}

int CameraSession::Bits() {
    return Lumora_GetColorMode(handle_) == 16 ? 16 : 8;
}

bool CameraSession::SetMirrorH(bool on) {
    return Check(Lumora_SetMirrorH(handle_, on ? 1 : 0), N_("Cannot mirror the picture"));
}

bool CameraSession::SetMirrorV(bool on) {
    return Check(Lumora_SetMirrorV(handle_, on ? 1 : 0), N_("Cannot mirror the picture"));
}

bool CameraSession::MirrorH() {
    return Lumora_GetMirrorH(handle_) != 0;
}

bool CameraSession::MirrorV() {
    return Lumora_GetMirrorV(handle_) != 0;
}

bool CameraSession::SetSubsample(bool on) {
    return Reconfigure([&] {
        // Subsampling reads the whole sensor: the window goes back to full size first.
        if (on && !Window().Full() && !SetWindowNow(SensorWindow{})) return false;
        return Check(Lumora_SetSubSample(handle_, on ? 1 : 0), N_("Cannot change the subsampling"));
    });
}

bool CameraSession::Subsample() {
    return Lumora_GetSubSample(handle_) == 1;
}

bool CameraSession::SetWindowNow(const SensorWindow& w) {
    return Check(Lumora_SetCaptureWindowEx(handle_, kSensorWidth, w.x, w.width, kSensorHeight, w.y,
                                           w.height),
                 N_("Cannot set the capture window"));
}

bool CameraSession::SetWindow(const SensorWindow& window) {
    return Reconfigure([&] { return SetWindowNow(window); });
}

SensorWindow CameraSession::Window() {
    int ht = 0, hs = 0, he = 0, vt = 0, vs = 0, ve = 0;
    Lumora_GetCaptureWindowEx(handle_, &ht, &hs, &he, &vt, &vs, &ve);
    return {hs, vs, he, ve};
}

bool CameraSession::SetCooler(bool on) {
    return Check(Lumora_SetPeltier(handle_, on ? 1 : 0), N_("Cannot switch the cooler"));
}

bool CameraSession::Cooler() {
    int valid = 0;
    const int on = Lumora_GetPeltier(handle_, &valid);
    return valid == 1 && on == 1;
}

bool CameraSession::SetAutoIris(int mode) {
    return Check(Lumora_SetAutoIris(handle_, mode), N_("Cannot change the automatic exposure"));
}

int CameraSession::AutoIris() {
    int valid = 0;
    return Lumora_GetAutoIris(handle_, &valid);
}

std::optional<double> CameraSession::Temperature() {
    int valid = 0;
    const double degrees = Lumora_GetTemperatureEx(handle_, &valid);
    // Every reading records its outcome (0 on success) in the history; it is no news.
    while (Lumora_GetLastError(handle_) != 0) {
    }
    if (valid != 1) return std::nullopt;
    return degrees;
}

void CameraSession::ApplyValueShift() {
    // The flat-field correction leaves 16-bit values in the top 12 bits of each word.
    int valid = 0;
    const bool mask = Lumora_GetMaskFilter(handle_, &valid) == 1;
    feed_->SetValueShift(mask && Bits() == 16 ? 4 : 0);
}

bool CameraSession::SetMaskFilter(bool on) {
    const bool ok = SetFilter(kFilterMask, on ? 1 : 0);
    ApplyValueShift();
    return ok;
}

bool CameraSession::SetDotFilter(bool on) {
    return SetFilter(kFilterDot, on ? 1 : 0);
}

bool CameraSession::SaveImage(const std::string& path, int formatCode) {
    return Check(Lumora_SaveImage(handle_, path.c_str(), formatCode),
                 N_("Cannot save the picture (no frame yet, or the file cannot be written)"));
}

bool CameraSession::Record(const std::string& path, int durationMs) {
    // A recording rides on the free-running run, which keeps feeding the display meanwhile.
    if (mode_ != RunMode::kFreeRunning && !Start(RunMode::kFreeRunning)) return false;
    return Check(Lumora_Record(handle_, path.c_str(), durationMs, 0),
                 N_("Cannot start the recording"));
}

LumoraRecordStats CameraSession::RecordStats() {
    LumoraRecordStats stats{};
    LumoraHost_GetRecordStats(handle_, &stats);
    return stats;
}

void CameraSession::StopRecording() {
    // Stopping the run finishes the file; the run then starts again without it.
    const RunMode was = mode_;
    Stop();
    if (was != RunMode::kStopped) Start(was);
}

bool CameraSession::TakeReference(int which) {
    return Check(Lumora_UpdateMaskData(handle_, which), N_("Cannot take the reference"));
}

bool CameraSession::SaveMask(const std::string& path) {
    return Check(Lumora_SaveMaskFile(handle_, path.c_str()), N_("Cannot save the mask file"));
}

bool CameraSession::LoadMask(const std::string& path) {
    return Check(Lumora_LoadMaskFile(handle_, path.c_str()), N_("Cannot load the mask file"));
}

LumoraStreamStats CameraSession::StreamStats() {
    LumoraStreamStats stats{};
    LumoraHost_GetStreamStats(handle_, &stats);
    return stats;
}

bool CameraSession::CameraDialog(HWND owner) {
    // The format dialog stops and restarts the SDK's run itself; the viewer stops first, so the
    // feed learns the new frame shape before the first frame of the new run.
    const bool ok = Reconfigure(
        [&] { return Check(Lumora_SetCameraDlg(handle_, owner), N_("Cannot open the dialog")); });
    ApplyValueShift();
    return ok;
}

bool CameraSession::ImageDialog(HWND owner) {
    return Check(Lumora_SetImageDlg(handle_, owner), N_("Cannot open the dialog"));
}

bool CameraSession::AnalogDialog(HWND owner) {
    return Check(Lumora_SetAnalogDlg(handle_, owner), N_("Cannot open the dialog"));
}

}  // namespace lumora_viewer
