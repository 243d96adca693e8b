// Session lifecycle: construction, initialisation, device enumeration and selection, the
// camera's identity, settings persistence and teardown.
#include "session/CLumora.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "io/CameraSettings.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DeviceNotices.h"
#include "platform/MessageTarget.h"
#include "port/UsbPort.h"
#include "session/PipelineHost.h"

namespace lumora {
namespace {

constexpr unsigned kDeviceChangeMessage = 0x0219;
constexpr uintptr_t kDeviceArrival = 0x8000;
constexpr uintptr_t kDeviceRemoval = 0x8004;
constexpr int kSerialAddress = 0x1040;
constexpr int kSerialBytes = 32;

void FormatDeviceName(char* out, size_t size, int number) {
    std::snprintf(out, size, "%s_%02d", kDeviceNamePrefix, number);
}

// Converts narrow text into `size` UTF-16 units including the terminator.
bool NarrowIntoWide(const char* text, platform::WideChar* out, int size,
                    const std::string& codeset) {
    platform::WideString wide;
    if (!platform::NarrowToWide(text, wide, codeset)) return false;
    if (static_cast<int>(wide.size()) + 1 > size) return false;
    std::memcpy(out, wide.data(), wide.size() * sizeof(platform::WideChar));
    out[wide.size()] = 0;
    return true;
}

}  // namespace

CLumora::CLumora()
    : pipelineHost_(std::make_unique<PipelineHost>(*this)),
      store_(platform::SettingsStore::ForCurrentUser()),
      rateTime_(platform::TimeGetTime()) {}

CLumora::~CLumora() {
    // Save under the camera whose settings these are, then end every run before the driver goes.
    SaveCameraSettings();
    deviceNumber_ = -1;
    Close();
    if (hotplugToken_ != 0) platform::HotplugHub::Instance().Unsubscribe(hotplugToken_);
    if (driver_ != nullptr) {
        driver_->CloseCamera();
        driver_.reset();
    }
}

int CLumora::Initialize(HWND notifyWindow) {
    platform::CriticalSectionLock run(runLock_);
    if (driver_ != nullptr) {
        Close();
        driver_->CloseCamera();
        driver_.reset();
    }
    {
        platform::CriticalSectionLock lock(captureLock_);
        images_ = PipelineImages{};
        rawStale_ = false;
        frameMode_ = -1;
        displayImage_.Reset();
        platform::CriticalSectionLock masks(maskLock_);
        masks_.Reset();
    }

    driver_.reset(new (std::nothrow) CLumoraUSB3T2SimpleSdk());
    notifyWindow_ = notifyWindow;

    if (notifyWindow != nullptr) {
        if (hotplugToken_ != 0) platform::HotplugHub::Instance().Unsubscribe(hotplugToken_);
        hotplugToken_ = 0;
        if (!platform::RegisterDeviceNotices(notifyWindow, platform::kCameraInterfaceGuid)) {
            history_.Pop();
            return 0;
        }
        // A window of the system hears of cameras from the system, which sends the notice with
        // its broadcast record (and refuses to post one); the SDK's own targets hear from the SDK.
        if (!platform::SystemDeliversDeviceNotices(notifyWindow)) {
            hotplugToken_ = platform::HotplugHub::Instance().Subscribe(
                [notifyWindow](platform::HotplugEvent event, const std::string&) {
                    platform::PostMessage(notifyWindow, kDeviceChangeMessage,
                                          event == platform::HotplugEvent::Arrival
                                              ? kDeviceArrival
                                              : kDeviceRemoval,
                                          0);
                });
            if (hotplugToken_ == 0) {
                history_.Pop();
                return 0;
            }
        }
    }
    if (driver_ == nullptr) {
        RecordError(ERR_MEMORY);
        return 0;
    }
    // The mask planes (some 70 MB) are made when a mask operation or a correction first needs
    // them, not here: most sessions never use them.

    driver_->SetCameraType(kCameraType);
    driver_->CreateController(notifyWindow, nullptr);
    if (driver_->GetDeviceCount(kCameraType) == 1) SetDeviceNumber(0);

    // Settings before any camera is chosen are device 0's, read but never judged or written
    // back through a driver that has no camera to ask: only an open camera says what it takes
    // and what it delivers.
    const bool open = deviceNumber_.load() >= 0;
    const int device = open ? deviceNumber_.load() : 0;
    const OutputCapabilities caps = open ? Capabilities() : OutputCapabilities{};
    LoadSizeSettings(store_, device, caps, sizeEntry_, open);
    PublishWindowLocked();
    LoadCameraSettings(device, open);
    FormatSettings format{0, colorMode_.load(), subSample_, waitTime_.load(), clock_};
    if (LoadFormatSettings(store_, device, caps, format)) {
        colorMode_ = format.colorMode;
        subSample_ = format.subSample;
        waitTime_ = format.waitTime;
        clock_ = format.clock;
    }
    return 1;
}

bool CLumora::EnsureMasksLocked() {
    return masks_.IsComplete() || masks_.Create();
}

OutputCapabilities CLumora::Capabilities() const {
    OutputCapabilities caps;
    if (driver_ == nullptr) return caps;
    caps.mono8 = driver_->SupportsOutputFormatA() != 0;
    caps.mono16 = driver_->SupportsOutputFormatB() != 0;
    caps.color = driver_->SupportsOutputFormatC() != 0;
    return caps;
}

AnalogLimits CLumora::Limits() const {
    AnalogLimits limits;
    limits.globalGain = {driver_->GetGlobalGainMin(), driver_->GetGlobalGainMax()};
    limits.colorGain = {driver_->GetColorGainMin(), driver_->GetColorGainMax()};
    limits.exposure = {static_cast<int32_t>(driver_->GetExposureTimeMin()),
                       static_cast<int32_t>(driver_->GetExposureTimeMax())};
    if (driver_->IsBlackLevelSupported() != 0) {
        limits.blackLevel = {driver_->GetBlackLevelMin(), driver_->GetBlackLevelMax()};
    }
    limits.longExposure = driver_->IsExposureTimeExAvailable() != 0;
    if (limits.longExposure) {
        limits.exposureSecondsMin = driver_->GetExposureTimeExMin();
        limits.exposureSecondsMax = driver_->GetExposureTimeExMax();
    }
    return limits;
}

AnalogSettings CLumora::DriverAnalogValues() const {
    AnalogSettings values;
    values.globalGain = driver_->GetGlobalGain();
    values.colorGainG1 = driver_->GetColorGainGreen1();
    values.colorGainR = driver_->GetColorGainRed();
    values.colorGainB = driver_->GetColorGainBlue();
    values.colorGainG2 = driver_->GetColorGainGreen2();
    values.exposure = static_cast<int32_t>(driver_->GetExposureTime());
    values.mirrorV = driver_->GetMirrorV();
    values.mirrorH = driver_->GetMirrorH();
    values.blackLevel = driver_->GetBlackLevel();
    if (driver_->IsExposureTimeExAvailable() != 0) {
        values.exposureSeconds = driver_->GetExposureTimeEx();
    }
    return values;
}

CLumora::SettingsGroups CLumora::SettingsSnapshot() const {
    platform::MutexLock lock(settingsLock_);
    return {analog_, filter_, gray_};
}

void CLumora::LoadCameraSettings(int device, bool open) {
    SettingsGroups groups = SettingsSnapshot();
    if (driver_ != nullptr && open) {
        LoadAnalogSettings(store_, device, Limits(), DriverAnalogValues(), groups.analog);
    } else {
        LoadAnalogSettings(store_, device, AnalogLimits::Unchecked(), groups.analog, groups.analog);
    }
    LoadFilterSettings(store_, device, groups.filter);
    LoadGraySettings(store_, device, groups.gray);
    platform::MutexLock lock(settingsLock_);
    analog_ = groups.analog;
    filter_ = groups.filter;
    gray_ = groups.gray;
    // Only a camera that was open gets its settings saved back.
    settingsDevice_ = open ? device : -1;
}

void CLumora::SaveCameraSettings() {
    int device = -1;
    SettingsGroups groups;
    {
        platform::MutexLock lock(settingsLock_);
        device = settingsDevice_;
        groups = {analog_, filter_, gray_};
    }
    // Nothing to save before a camera was open: never under "Camera_-1".
    if (device < 0 || driver_ == nullptr) return;
    SaveAnalogSettings(store_, device, groups.analog);
    SaveFilterSettings(store_, device, groups.filter);
    SaveGraySettings(store_, device, groups.gray);
}

AnalogSettings CLumora::AnalogSnapshot() const {
    platform::MutexLock lock(settingsLock_);
    return analog_;
}

void CLumora::PushGainsAndExposure(const AnalogSettings& analog) {
    driver_->SetGlobalGain(analog.globalGain);
    driver_->SetColorGainGreen1(analog.colorGainG1);
    driver_->SetColorGainRed(analog.colorGainR);
    driver_->SetColorGainBlue(analog.colorGainB);
    driver_->SetColorGainGreen2(analog.colorGainG2);
    if (driver_->IsExposureTimeExAvailable() != 0) {
        driver_->SetExposureTimeEx(analog.exposureSeconds);
    } else {
        driver_->SetExposureTime(static_cast<uint16_t>(analog.exposure));
    }
}

void CLumora::PushSettingsAfterOpen() {
    const AnalogSettings analog = AnalogSnapshot();
    PushGainsAndExposure(analog);
    driver_->SetMirrorV(analog.mirrorV);
    driver_->SetMirrorH(analog.mirrorH);
    if (driver_->IsBlackLevelSupported() != 0) driver_->SetBlackLevel(analog.blackLevel);
    platform::MutexLock lock(settingsLock_);
    if (driver_->IsPeltierAvailable() != 0) {
        driver_->SetPeltier(1);
        analog_.coolerOn = 1;
    }
    if (driver_->HasResponseMode() != 0) {
        driver_->SetResponseMode(0);
        analog_.responseMode = 0;
    }
    if (driver_->IsStreamReady() != 0) driver_->SetControlFlag(analog.gainMode);
}

int CLumora::SetDeviceNumber(int number) {
    if (!HasDriver()) return 0;
    platform::CriticalSectionLock run(runLock_);
    if (settingsSaved_ == 1) SaveCameraSettings();
    settingsSaved_ = 1;
    // A refused or unchanged number changes nothing, so a running capture goes on.
    if (driver_->IsDeviceAvailable(number) == 0) {
        RecordError(ERR_DEVICE);
        return 0;
    }
    // The same camera, still open, is not opened again. One whose run ended on a transfer error
    // is, and so is one that left the bus and came back: it has powered up afresh.
    if (number == deviceNumber_ && !deviceFailed_.load() && !driver_->OpenedCameraLeft()) return 1;
    // A device change under a running capture would pull the camera from under its thread.
    if (state_.load() != kStateIdle || captureThreadStarted_) Close();
    if (driver_->OpenDevice(number) == 0) {
        // The camera that was open is gone from the driver; the next call must really reopen.
        deviceNumber_ = -1;
        RecordError(ERR_DEVICE);
        return 0;
    }
    deviceFailed_ = false;
    LoadCameraSettings(number, true);
    PushSettingsAfterOpen();
    deviceNumber_ = number;
    return 1;
}

int CLumora::EnumDevice(char* names) {
    if (!HasDriver()) return 0;
    if (!Given(names)) return 0;
    driver_->GetDeviceCount(kCameraType);  // refreshes the device table
    int count = 0;
    // Every ordinal, so a camera that came back on a new path (a higher ordinal) is listed.
    const int rows = driver_->GetMaxDeviceCount();
    for (int j = 0; j < rows && count < kDeviceNameSlots; ++j) {
        if (driver_->IsDeviceAvailable(j) == 0) continue;
        ++count;
        FormatDeviceName(names + (count - 1) * kDeviceNameSlotSize, kDeviceNameSlotSize, count);
    }
    for (int slot = count; slot < kDeviceNameSlots; ++slot) names[slot * kDeviceNameSlotSize] = 0;
    return count;
}

int CLumora::EnumDeviceW(platform::WideChar* names) {
    if (names == nullptr) {
        RecordError(driver_ == nullptr ? ERR_NOT_READY : ERR_PARAMETER);
        return 0;
    }
    std::vector<char> narrow(kDeviceNameSlots * kDeviceNameSlotSize, 0);
    const int count = EnumDevice(narrow.data());
    // The list is converted with the process's code page, the single names with the thread's.
    const std::string codeset = platform::ProcessCodeset();
    for (int slot = 0; slot < kDeviceNameSlots; ++slot) {
        platform::WideChar* out = names + slot * kDeviceNameSlotSize;
        out[0] = 0;
        if (slot < count && !NarrowIntoWide(narrow.data() + slot * kDeviceNameSlotSize, out,
                                            kDeviceNameSlotSize, codeset)) {
            out[0] = 0;
            RecordError(ERR_TEXT);
        }
    }
    return count;
}

int CLumora::GetDeviceName(int index, char* name, int size) {
    if (!HasDriver()) return 0;
    // The name is 17 characters; anything shorter than the name and its terminator is refused.
    if (name == nullptr || size < 18) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    if (index < 0 || index >= driver_->GetMaxDeviceCount() ||
        driver_->IsDeviceAvailable(index) == 0) {
        RecordError(ERR_DEVICE);
        return 0;
    }
    FormatDeviceName(name, static_cast<size_t>(size), index + 1);
    return 1;
}

int CLumora::GetDeviceNameW(int index, platform::WideChar* name, int size) {
    if (name == nullptr) {
        RecordError(driver_ == nullptr ? ERR_NOT_READY : ERR_PARAMETER);
        return 0;
    }
    char narrow[kDeviceNameSlotSize] = {};
    if (GetDeviceName(index, narrow, sizeof narrow) == 0) return 0;
    if (!NarrowIntoWide(narrow, name, size, platform::LocaleCodeset())) {
        RecordError(ERR_TEXT);
        return 0;
    }
    return 1;
}

int CLumora::ReadSerialNumber(char* text, int size) {
    if (text == nullptr || size < kSerialBytes) {
        RecordError(ERR_PARAMETER);
        return 0;
    }
    if (!HasDriver()) return 0;
    char serial[kSerialBytes] = {};
    int read = 0;
    bool firstWasErased = false;
    for (int i = 0; i < kSerialBytes - 1; ++i) {
        uint8_t byte = 0;
        if (driver_->ReadSrom(kSerialAddress + i, &byte) == 0) break;
        platform::Sleep(10);
        if (byte == 0xFF) {
            firstWasErased = i == 0;
            break;
        }
        serial[i] = static_cast<char>(byte);
        ++read;
        if (byte == 0) break;
    }
    if (serial[0] != 0) {
        std::memcpy(text, serial, std::strlen(serial) + 1);
        return 1;
    }
    return read > 0 || firstWasErased ? 1 : 0;
}

int CLumora::ReadSerialNumberW(platform::WideChar* text, int size) {
    if (text == nullptr) {
        RecordError(driver_ == nullptr ? ERR_NOT_READY : ERR_PARAMETER);
        return 0;
    }
    char narrow[platform::kNarrowBufferSize] = {};
    if (ReadSerialNumber(narrow, sizeof narrow) == 0) return 0;
    if (!NarrowIntoWide(narrow, text, size, platform::LocaleCodeset())) {
        RecordError(ERR_TEXT);
        return 0;
    }
    return 1;
}

int CLumora::GetCameraInfo(LUMORA_CAMERA_INFO* info) {
    if (!HasDriver()) return 0;
    if (!Given(info)) return 0;
    if (info->size < 36) {
        RecordError(ERR_MEMORY);
        return 0;
    }
    info->maxWidth = kSensorWidth;
    info->maxHeight = kSensorHeight;
    info->globalGainMin = driver_->GetGlobalGainMin();
    info->globalGainMax = driver_->GetGlobalGainMax();
    info->colorGainMin = driver_->GetColorGainMin();
    info->colorGainMax = driver_->GetColorGainMax();
    info->exposureMin = static_cast<int32_t>(driver_->GetExposureTimeMin());
    info->exposureMax = static_cast<int32_t>(driver_->GetExposureTimeMax());
    if (info->size >= 56) {
        info->exposureExMin = driver_->GetExposureTimeExMin();
        info->exposureExMax = driver_->GetExposureTimeExMax();
    }
    return 1;
}

void CLumora::RecordError(int code) {
    history_.Push(code);
    if (notifyWindow_ != nullptr) platform::PostMessage(notifyWindow_, LUMORA_MSG_ERROR, 0, code);
}

void CLumora::PostErrorOnly(int code) {
    platform::PostMessage(notifyWindow_, LUMORA_MSG_ERROR, 0, code);
}

}  // namespace lumora
