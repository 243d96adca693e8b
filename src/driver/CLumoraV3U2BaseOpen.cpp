// The driver object: device choice, open and bring-up.
#include "driver/CLumoraV3U2Base.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "driver/DriverDetail.h"
#include "platform/Clock.h"
#include "platform/LittleEndian.h"
#include "sensor/Imx992Registers.h"
#include "sensor/SensorSelection.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {

using namespace driver_detail;

// ---------------------------------------------------------------------------------------------
// Device choice and bring-up

int CLumoraV3U2Base::CreateController(HWND, const char* interfaceGuid) {
    platform::CriticalSectionLock lock(deviceLock_);
    CloseCamera();
    controller_ = std::make_unique<usb::CLumCy3Cam>(
        interfaceGuid != nullptr ? std::string(interfaceGuid) : std::string());
    return 1;
}

uint16_t CLumoraV3U2Base::BridgeFirmwareVersion() const {
    platform::CriticalSectionLock lock(deviceLock_);
    return platform::LoadLe16(deviceInfo_ + kOffsetFirmwareVersion);
}

int CLumoraV3U2Base::InitializeCamera() {
    platform::CriticalSectionLock lock(deviceLock_);
    return InitializeCameraLocked();
}

int CLumoraV3U2Base::InitializeCameraLocked() {
    if (!controller_ || !controller_->AllocateStagingBuffer()) return 0;
    controller_->ReadBridgeInfo(deviceInfo_);
    // A camera another process holds answers nothing this one asks: no bring-up to try.
    if (controller_->ClaimedElsewhere()) return 0;
    if (!sensor_) return 0;
    uint8_t info[kDeviceInfoSize] = {};
    const bool read = GetDeviceInformation(info) != 0;
    const uint16_t version = platform::LoadLe16(info + kOffsetFirmwareVersion);
    const uint8_t gpio25 = info[kOffsetGpio25];
    if (read && version > kFirmwareWithPipeReset && gpio25 == 1) {
        // The FPGA may still be loading; a pulse on its restart line every 25 s helps one that
        // hung on the way up.
        const uint32_t start = platform::GetTickCount();
        uint32_t lastPulse = start;
        bool ready = false;
        for (int round = 0; round < kReadyRounds && !ready; ++round) {
            uint8_t flag = 0;
            if (controller_->ReadReadyFlag(&flag) && flag == 1) {
                ready = true;
                break;
            }
            platform::Sleep(kReadyPauseMs);
            if (platform::TicksSince(lastPulse, platform::GetTickCount()) >= kReadyPulseEveryMs) {
                uint8_t value = 0;
                controller_->ReadFpgaRegister(imx992::kFpgaReadyPulse, &value);
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse,
                                               static_cast<uint8_t>(value & ~1));
                platform::Sleep(50);
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse,
                                               static_cast<uint8_t>(value | 1));
                platform::Sleep(50);
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse,
                                               static_cast<uint8_t>(value & ~1));
                lastPulse = platform::GetTickCount();
            }
        }
        if (!ready) return 0;
    } else {
        controller_->WriteDebugLog("Cypress=0x%X(%s), GPIO25 flag=%d(%s)", version,
                                   version > kFirmwareWithPipeReset ? "OK" : "NG", gpio25,
                                   gpio25 == 1 ? "OK" : "NG");
    }
    if (!sensor_->ProbeSensor()) return 0;
    return sensor_->InitializeSensor();
}

int CLumoraV3U2Base::CloseCamera() {
    platform::CriticalSectionLock lock(deviceLock_);
    StopCaptureLocked(1);
    JoinAcquisitionThread();
    if (controller_) {
        controller_->CloseStreamHandle();
        controller_.reset();  // before the sensor driver, which points into it; no call between
    }
    std::memset(deviceInfo_, 0, sizeof deviceInfo_);
    captureMode_.store(kCaptureContinuous);
    transferBuffer_.reset();
    transferCapacity_ = 0;
    ring_.Free();
    ring_.ResetMarks();
    {
        platform::MutexLock layout(layoutMutex_);
        frameSize_ = 0;
        layout_ = FrameLayout{};
    }
    sensor_.reset();
    analogHistory_.Clear();
    CloseFrameEvent();
    threadEnd_.Reset();
    transferError_.store(false);
    buffersStale_.store(true);
    return 1;
}

int CLumoraV3U2Base::GetDeviceInformation(uint8_t* info64) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (info64 == nullptr || !controller_) return 0;
    return controller_->ReadBridgeInfo(info64);
}

int CLumoraV3U2Base::GetSensorInfo(SensorInfo* info, int, int) {
    if (info == nullptr) return 0;
    return WithSensor(0, [&](CSensorBase& s) { return s.GetSensorInfo(info); });
}

int CLumoraV3U2Base::GetBridgeInformation(uint8_t* info64) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (info64 == nullptr || !controller_) return 0;
    return controller_->ReadBridgeInfoExtra(info64);
}

int CLumoraV3U2Base::ReopenDevice(int index) {
    platform::CriticalSectionLock lock(deviceLock_);
    StopCaptureLocked(1);
    return OpenDeviceLocked(index) ? 0 : -1;
}

int CLumoraV3U2Base::OpenDevice(int index) {
    platform::CriticalSectionLock lock(deviceLock_);
    return OpenDeviceLocked(index);
}

int CLumoraV3U2Base::FindDeviceRow(int index) {
    const int type = cameraType_.load();
    for (int row = 0; row < kMaxDevices; ++row) {
        const usb::DeviceEntry entry = controller_->GetDeviceEntry(row);
        if (entry.ordinal == index && entry.productId == type) return row;
    }
    return -1;
}

int CLumoraV3U2Base::OpenDeviceLocked(int index) {
    if (!controller_ || cameraType_.load() == -1) return 0;
    if (controller_->EnumerateDevices() < 1 || !IsDeviceAvailableLocked(index)) return 0;
    const int row = FindDeviceRow(index);
    // The acquisition thread uses the stream and the sensor driver: it ends before either
    // changes.
    if (thread_.Joinable()) {
        StopCaptureLocked(1);
        JoinAcquisitionThread();
    }
    if (!controller_->SelectDevice(row)) return 0;
    {
        platform::MutexLock opened(openedPathMutex_);
        openedPath_ = controller_->GetDeviceEntry(row).Path();
        openedCameraLeft_.store(false);
    }
    sensor_.reset();
    sensor_ = CreateSensorForProduct(static_cast<uint16_t>(cameraType_.load()), controller_.get());
    if (!sensor_) return 0;
    deviceIndex_.store(index);
    buffersStale_.store(true);
    // Another camera, or the same one anew: what the last one was given describes no frame.
    analogHistory_.Clear();
    const int initialized = InitializeCameraLocked();
    NoteAnalogLocked();
    return initialized;
}

int CLumoraV3U2Base::Reserved0() {
    return 0;
}

int CLumoraV3U2Base::IsDeviceAvailable(int index) {
    platform::CriticalSectionLock lock(deviceLock_);
    return IsDeviceAvailableLocked(index);
}

int CLumoraV3U2Base::IsDeviceAvailableLocked(int index) {
    if (cameraType_.load() == -1 || !controller_) return 0;
    const int row = FindDeviceRow(index);
    return row >= 0 && controller_->IsDevicePresent(row) ? 1 : 0;
}

int CLumoraV3U2Base::GetDeviceCount(int productId) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_) return 0;
    const int count = controller_->EnumerateDevices();
    if (productId == 0) return count;
    int present = 0;
    for (int row = 0; row < std::min(count, kMaxDevices); ++row) {
        const usb::DeviceEntry entry = controller_->GetDeviceEntry(row);
        if (entry.productId != 0 && entry.productId == productId &&
            controller_->IsDevicePresent(row))
            ++present;
    }
    return present;
}

int CLumoraV3U2Base::GetDeviceName(int index, char* text, int size) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || text == nullptr || size <= 0) return 0;
    const int row = FindDeviceRow(index);
    if (row < 0 || !controller_->IsDevicePresent(row)) return 0;
    return controller_->GetDeviceDisplayName(row, text, size) ? 1 : 0;
}

int CLumoraV3U2Base::SetCameraType(int productId) {
    platform::CriticalSectionLock lock(deviceLock_);
    cameraType_.store(productId);
    ring_.SetSlotCount(productId == kTypeLargeRing ? 8 : 4);
    return 1;
}

int CLumoraV3U2Base::GetCameraType() {
    return cameraType_.load();
}

int CLumoraV3U2Base::GetEntryVendorId(int row) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || row < 0 || row >= kMaxDevices) return 0;
    return controller_->GetDeviceEntry(row).vendorId;
}

int CLumoraV3U2Base::GetEntryProductId(int row) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || row < 0 || row >= kMaxDevices) return 0;
    return controller_->GetDeviceEntry(row).productId;
}

int CLumoraV3U2Base::GetEntryOrdinal(int row) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || row < 0 || row >= kMaxDevices) return -1;
    return controller_->GetDeviceEntry(row).ordinal;
}

int CLumoraV3U2Base::UsesSideChannelTransfer() {
    return cameraType_.load() == kTypeSideChannel ? 1 : 0;
}

int CLumoraV3U2Base::IsHeaderlessFamily() {
    return IsHeaderlessType(cameraType_.load()) ? 1 : 0;
}

int CLumoraV3U2Base::GetDeviceIndex() {
    return deviceIndex_.load();
}

}  // namespace lumora
