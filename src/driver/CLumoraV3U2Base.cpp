#include "driver/CLumoraV3U2Base.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/Clock.h"
#include "platform/LittleEndian.h"
#include "sensor/Imx992Registers.h"
#include "sensor/SensorSelection.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {

namespace {

constexpr int kTypeSideChannel = 0x3042;
constexpr int kTypeLargeRing = 0x32D0;
constexpr uint8_t kStreamEndpoint = 0x81;
constexpr uint16_t kFirmwareWithPipeReset = 0x1100;
constexpr size_t kOffsetFirmwareVersion = 24;
constexpr size_t kOffsetGpio25 = 52;
constexpr int kReadyRounds = 400;
constexpr uint32_t kReadyPauseMs = 500;
constexpr uint32_t kReadyPulseEveryMs = 25000;
constexpr uint16_t kSromIdAddress = 0x1080;

bool IsHeaderlessType(int type) { return type == 0x3310 || type == 0x3320 || type == 0x3330 || type == 0x3340; }

// Runs `f` when the scope ends, however it ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

}  // namespace

CLumoraV3U2Base::CLumoraV3U2Base() { ring_.SetSlotCount(4); }

CLumoraV3U2Base::~CLumoraV3U2Base() { CloseCamera(); }

// ---------------------------------------------------------------------------------------------
// Device choice and bring-up

int CLumoraV3U2Base::CreateController(HWND, const char* interfaceGuid) {
    platform::CriticalSectionLock lock(deviceLock_);
    CloseCamera();
    controller_ = std::make_unique<usb::CLumCy3Cam>(interfaceGuid != nullptr ? std::string(interfaceGuid)
                                                                              : std::string());
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
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse, static_cast<uint8_t>(value & ~1));
                platform::Sleep(50);
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse, static_cast<uint8_t>(value | 1));
                platform::Sleep(50);
                controller_->WriteFpgaRegister(imx992::kFpgaReadyPulse, static_cast<uint8_t>(value & ~1));
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
        std::lock_guard layout(layoutMutex_);
        frameSize_ = 0;
        layout_ = FrameLayout{};
    }
    sensor_.reset();
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
    if (!controller_->SelectDevice(row)) return 0;
    // The acquisition thread uses the sensor driver: it ends before the driver is replaced.
    StopCaptureLocked(1);
    JoinAcquisitionThread();
    sensor_.reset();
    sensor_ = CreateSensorForProduct(static_cast<uint16_t>(cameraType_.load()), controller_.get());
    if (!sensor_) return 0;
    deviceIndex_.store(index);
    buffersStale_.store(true);
    return InitializeCameraLocked();
}

int CLumoraV3U2Base::Reserved0() { return 0; }

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
        if (entry.productId != 0 && entry.productId == productId && controller_->IsDevicePresent(row)) ++present;
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

int CLumoraV3U2Base::GetCameraType() { return cameraType_.load(); }

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

int CLumoraV3U2Base::UsesSideChannelTransfer() { return cameraType_.load() == kTypeSideChannel ? 1 : 0; }

int CLumoraV3U2Base::IsHeaderlessFamily() { return IsHeaderlessType(cameraType_.load()) ? 1 : 0; }

int CLumoraV3U2Base::GetDeviceIndex() { return deviceIndex_.load(); }

// ---------------------------------------------------------------------------------------------
// Acquisition

void CLumoraV3U2Base::OpenFrameEvent() {
    if (!frameEventOpen_.load()) {
        frameReady_.Reset();
        frameEventOpen_.store(true);
    }
}

void CLumoraV3U2Base::CloseFrameEvent() {
    if (frameEventOpen_.exchange(false)) frameReady_.Set();  // releases a waiting WaitFrame
}

void CLumoraV3U2Base::JoinAcquisitionThread() {
    if (thread_.Joinable()) thread_.Join();
}

int CLumoraV3U2Base::SetCaptureMode(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    return SetCaptureModeLocked(mode);
}

int CLumoraV3U2Base::SetCaptureModeLocked(int mode) {
    if (!controller_) return 0;
    if (mode != captureMode_.load()) {
        StopCaptureLocked(0);
        OpenFrameEvent();
        if (mode == kCaptureCountedTrigger) ring_.DropPending();
    }
    captureMode_.store(mode);
    return 1;
}

int CLumoraV3U2Base::StartCapture(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (thread_.Joinable()) {
        // A thread that has not ended by itself is stopped; either way it is joined before its
        // buffers can change.
        if (running_.load() && !threadEnd_.Wait(5)) StopCaptureLocked(1);
        JoinAcquisitionThread();
    }
    OpenFrameEvent();
    if (!SetCaptureModeLocked(mode)) return 0;
    OpenFrameEvent();
    if (buffersStale_.load() && !PrepareBuffersLocked()) return 0;
    if (!transferBuffer_) return 0;
    threadEnd_.Reset();
    transferError_.store(false);
    frameRate_.Reset();
    running_.store(true);
    threadFinished_.store(false);
    if (!thread_.Start([this] { AcquisitionThreadBody(); })) {
        running_.store(false);
        threadFinished_.store(true);
        return 0;
    }
    thread_.SetPriority(platform::ThreadPriority::TimeCritical);
    if (sensor_ && !sensor_->IsSensorThreadRunning()) sensor_->StartSensorThread();
    return 1;
}

int CLumoraV3U2Base::StopCapture(int wait) {
    platform::CriticalSectionLock lock(deviceLock_);
    return StopCaptureLocked(wait);
}

int CLumoraV3U2Base::StopCaptureLocked(int wait) {
    if (sensor_) sensor_->StopSensorThread(wait);
    if (thread_.Joinable()) {
        running_.store(false);
        if (wait) platform::Sleep(100);
        // A header read retries on its own; abort until the thread has noticed the flag.
        while (!threadFinished_.load()) {
            if (controller_) controller_->AbortStreamEndpoint();
            if (threadEnd_.Wait(20)) break;
        }
        JoinAcquisitionThread();
    }
    platform::Sleep(1);
    threadEnd_.Reset();
    CloseFrameEvent();
    ResetTransferLocked();
    platform::Sleep(5);
    captureMode_.store(kCaptureContinuous);
    countedFrames_.store(0);
    measuredFrameRate_.store(0.0f);
    firstFrame_.store(true);
    return 1;
}

int CLumoraV3U2Base::ResetTransfer() {
    platform::CriticalSectionLock lock(deviceLock_);
    return ResetTransferLocked();
}

int CLumoraV3U2Base::ResetTransferLocked() {
    if (!controller_) return 0;
    if (BridgeFirmwareVersion() >= kFirmwareWithPipeReset) controller_->ResetPipe(kStreamEndpoint);
    if (sensor_) sensor_->PulseStreamRestart();
    controller_->StreamReset();
    return 1;
}

void CLumoraV3U2Base::AcquisitionThreadBody() {
    if (cameraType_.load() == kTypeSideChannel) {
        RunSideChannelTransferLoop();
    } else {
        RunTransferLoop();
    }
}

bool CLumoraV3U2Base::ReadFrameCounterRegister(uint8_t* value) {
    return controller_->ReadFpgaRegister(imx992::kFpgaFrameCounter, value) != 0;
}

int CLumoraV3U2Base::RunTransferLoop() {
    // Every way out tells the starter and any frame waiter, and leaves the flag clear.
    ScopeExit onExit([this] {
        if (controller_) controller_->CloseStreamHandle();
        threadFinished_.store(true);
        threadEnd_.Set();
        if (transferError_.load()) frameReady_.Set();
        running_.store(false);
    });
    usb::CLumCy3Cam* const controller = controller_.get();
    uint8_t* const buffer = transferBuffer_.get();
    if (controller == nullptr || buffer == nullptr) return 0;
    if (IsHeaderlessFamily()) return RunHeaderlessTransferLoop();
    uint32_t frameSize = 0;
    {
        std::lock_guard layout(layoutMutex_);
        frameSize = frameSize_;
    }
    usb::FrameTransferRecord request;
    request.data = buffer;
    request.capacity = transferCapacity_;
    transferError_.store(false);
    if (!controller->OpenStreamHandle()) return 1;

    int failures = 0;
    // A failed read: count it; the fifth in a row gives up, otherwise restart the stream.
    auto failed = [&]() -> bool {
        controller->CloseStreamHandle();
        if (++failures >= kFailureLimit) {
            transferError_.store(true);
            frameReady_.Set();
            return false;
        }
        if (sensor_) sensor_->PulseStreamRestart();
        controller->OpenStreamHandle();
        return true;
    };
    while (running_.load()) {
        const uint32_t payloadTimeout = payloadTimeoutMs_.load();
        if (triggerMode_.load() == 1) {
            uint8_t counter = 0;
            if (!ReadFrameCounterRegister(&counter)) {
                platform::Sleep(1);
                if (!failed()) break;
                continue;
            }
            // The register holds the low byte of the counter.
            if (counter == (lastFrameCounter_.load() & 0xFF)) {
                platform::Sleep(1);
                continue;
            }
            lastFrameCounter_.store(counter);
        }
        if (!controller->ReadFrameHeader(&request.header)) {
            if (!failed()) break;
            continue;
        }
        const usb::FrameHeader header = usb::FrameHeader::Read(request.header.bytes.data());
        FrameRecord record;
        record.wordA = header.wordA;
        record.wordB = header.frameCounter;
        record.wordC = header.wordC;
        record.wordD = header.wordD;
        const int mode = captureMode_.load();
        if (mode == kCaptureCounterOnly) {
            lastFrameCounter_.store(header.frameCounter);
            break;
        }
        if (mode != kCaptureCountedTrigger) lastFrameCounter_.store(header.frameCounter);

        request.length = header.payloadLength;
        const auto started = std::chrono::steady_clock::now();
        const bool read = controller->ReadFramePayload(&request, payloadTimeout) != 0;
        const double elapsedMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        // A payload of another size than the frame is not a frame, even when it was read whole.
        if (!read || header.payloadLength != frameSize) {
            if (!failed()) break;
            continue;
        }
        transferError_.store(false);
        if (elapsedMs > 0.0) transferRate_.store((frameSize >> 10) * 0.0078125 / (elapsedMs / 1000.0));
        if (const auto rate = frameRate_.Add(); rate && mode == kCaptureContinuous) measuredFrameRate_.store(*rate);

        record.frameCounter = static_cast<int32_t>(lastFrameCounter_.load());
        ring_.Store(buffer, frameSize, record);
        framesStored_.fetch_add(1);
        frameReady_.Set();
        if (mode == kCaptureSingleFrame) break;
        if (mode == kCaptureCountedTrigger) {
            countedFrames_.fetch_add(1);
            break;
        }
        failures = 0;
    }
    return 1;
}

// The side-channel and headerless families have no camera in this system; their loops end at
// once with the transfer-error flag set, so a caller waiting for frames learns of it.
int CLumoraV3U2Base::RunSideChannelTransferLoop() {
    transferError_.store(true);
    frameReady_.Set();
    threadFinished_.store(true);
    threadEnd_.Set();
    running_.store(false);
    return 0;
}

int CLumoraV3U2Base::RunHeaderlessTransferLoop() {
    transferError_.store(true);
    frameReady_.Set();
    return 0;
}

int CLumoraV3U2Base::PrepareBuffers() {
    platform::CriticalSectionLock lock(deviceLock_);
    return PrepareBuffersLocked();
}

int CLumoraV3U2Base::PrepareBuffersLocked() {
    // The buffers belong to the acquisition thread while it runs.
    if (thread_.Joinable()) {
        StopCaptureLocked(1);
        JoinAcquisitionThread();
    }
    transferBuffer_.reset();
    transferCapacity_ = 0;
    auto fail = [this] {
        transferBuffer_.reset();
        transferCapacity_ = 0;
        ring_.Free();
        std::lock_guard layout(layoutMutex_);
        frameSize_ = 0;
        layout_ = FrameLayout{};
        buffersStale_.store(true);
        return 0;
    };
    if (!sensor_) return fail();
    int x = 0, width = 0, y = 0, height = 0, mode = 0;
    sensor_->GetReadoutWindow(&x, &width, &y, &height, &mode);
    if (sensor_->GetGainStage() == 2) width *= 2;
    const int depth = bitDepthMode_.load();
    const uint64_t bytesPerPixel = (depth == 1 || depth == 2) ? 2 : 1;
    if (width <= 0 || height <= 0) return fail();
    const uint64_t capacity =
        ((uint64_t{static_cast<uint32_t>(height)} + 128) * (static_cast<uint32_t>(width) + 128) * bytesPerPixel + 8191) &
        ~uint64_t{8191};
    if (capacity > usb::kMaxTransferLength) return fail();
    transferBuffer_ = AllocateFrameBuffer(capacity);
    if (!transferBuffer_) return fail();
    if (!ring_.Allocate(ring_.SlotCount(), capacity)) return fail();
    transferCapacity_ = static_cast<uint32_t>(capacity);
    ring_.ResetMarks();
    SensorInfo info{};
    sensor_->GetSensorInfo(&info);
    {
        std::lock_guard layout(layoutMutex_);
        frameSize_ = static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(height)} * width * bytesPerPixel);
        layout_.frameSize = frameSize_;
        layout_.lineBytes = static_cast<size_t>(width) * bytesPerPixel;
        layout_.lines = static_cast<size_t>(height);
        layout_.sampleBytes = bytesPerPixel;
        layout_.orientation = info.orientation;
    }
    if (controller_) {
        controller_->WriteFpgaRegister(imx992::kFpgaWidth, static_cast<uint8_t>(width & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaWidth + 1, static_cast<uint8_t>((width >> 8) & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaHeight, static_cast<uint8_t>(height & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaHeight + 1, static_cast<uint8_t>((height >> 8) & 0xFF));
        int v1 = 17;
        int v2 = 0;
        const bool mirrored = info.mirrorH != 0;
        if (mode == 0) {
            v1 = height == info.sensorHeight ? 33 : 25;
            v2 = mirrored ? 16 : 112;
        } else {
            v1 = mode == 1 ? 31 : 17;
            v2 = mirrored ? 8 : 52;
        }
        controller_->WriteFpgaRegister(imx992::kFpgaAlignV1, static_cast<uint8_t>(v1 & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaAlignV1 + 1, static_cast<uint8_t>(v1 >> 8));
        controller_->WriteFpgaRegister(imx992::kFpgaAlignV2, static_cast<uint8_t>(v2 & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaAlignV2 + 1, static_cast<uint8_t>(v2 >> 8));
    }
    buffersStale_.store(false);
    return 1;
}

int CLumoraV3U2Base::GetMaxDeviceCount() { return kMaxDevices; }

int CLumoraV3U2Base::SyncFrameCounter() {
    platform::CriticalSectionLock lock(deviceLock_);
    int ok = 0;
    const int value = FpgaReadLocked(imx992::kFpgaFrameCounter, &ok);
    if (ok) lastFrameCounter_.store(static_cast<uint32_t>(value));
    return ok;
}

int CLumoraV3U2Base::GrabSingleFrame() {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_) return 2;
    if (thread_.Joinable()) {
        StopCaptureLocked(1);
        JoinAcquisitionThread();
    }
    if (buffersStale_.load()) PrepareBuffersLocked();
    if (!transferBuffer_) return 2;
    uint32_t frameSize = FrameSize();
    usb::FrameTransferRecord request;
    request.data = transferBuffer_.get();
    request.capacity = transferCapacity_;
    transferError_.store(false);
    const uint32_t start = platform::GetTickCount();
    controller_->OpenStreamHandle();
    for (int attempt = 1;; ++attempt) {
        if (controller_->ReadFrameHeader(&request.header)) {
            const usb::FrameHeader header = usb::FrameHeader::Read(request.header.bytes.data());
            request.length = header.payloadLength;
            if (header.payloadLength == frameSize && controller_->ReadFramePayload(&request, 3000)) {
                FrameRecord record;
                record.frameCounter = static_cast<int32_t>(header.frameCounter);
                record.wordA = header.wordA;
                record.wordB = header.frameCounter;
                record.wordC = header.wordC;
                record.wordD = header.wordD;
                ring_.StoreAt(0, transferBuffer_.get(), frameSize, record);
                break;
            }
        }
        if (platform::TicksSince(start, platform::GetTickCount()) > 9999 || attempt >= 11) {
            transferError_.store(true);
            break;
        }
    }
    controller_->CloseStreamHandle();
    threadEnd_.Set();
    running_.store(false);
    return 0;
}

int CLumoraV3U2Base::Reserved1() { return -1; }

uint32_t CLumoraV3U2Base::FrameSize() const {
    std::lock_guard layout(layoutMutex_);
    return frameSize_;
}

uint32_t CLumoraV3U2Base::TransferCapacity() const {
    platform::CriticalSectionLock lock(deviceLock_);
    return transferCapacity_;
}

FrameLayout CLumoraV3U2Base::Layout(bool topDown) const {
    std::lock_guard layout(layoutMutex_);
    FrameLayout copy = layout_;
    copy.topDown = topDown;
    return copy;
}

int CLumoraV3U2Base::CopySlot(int slot, uint8_t* dst, uint32_t capacity, FrameRecord* record, bool topDown) {
    const FrameLayout layout = Layout(topDown);
    if (capacity < layout.frameSize) return 0;
    return ring_.CopyOut(slot, dst, capacity, layout, record) ? 1 : 0;
}

int CLumoraV3U2Base::CopyFrame(uint8_t* dst, uint32_t length, int* counter, uint32_t* wordA, uint32_t* wordB,
                               uint32_t* wordC, uint32_t* wordD, int firstSlot, int topDown) {
    FrameRecord record;
    if (!CopySlot(firstSlot ? 0 : ring_.NewestSlot(), dst, length, &record, topDown != 0)) return 0;
    if (counter != nullptr) *counter = record.frameCounter;
    if (wordA != nullptr) *wordA = record.wordA;
    if (wordB != nullptr) *wordB = record.wordB;
    if (wordC != nullptr) *wordC = record.wordC;
    if (wordD != nullptr) *wordD = record.wordD;
    return 1;
}

int CLumoraV3U2Base::GetSingleFrame(uint8_t* dst, uint32_t capacity, int topDown) {
    if (dst == nullptr) return -2;
    return CopySlot(0, dst, capacity, nullptr, topDown != 0) ? 0 : -1;
}

int CLumoraV3U2Base::SetFrameTimeout(uint32_t milliseconds) {
    payloadTimeoutMs_.store(milliseconds);
    return 1;
}

int CLumoraV3U2Base::WaitFrame(uint32_t milliseconds) {
    if (transferError_.load()) return 1;
    if (!frameEventOpen_.load() || !frameReady_.Wait(milliseconds)) return 2;
    // The wake-up may have been the thread giving up, or the event being closed.
    if (transferError_.load()) return 1;
    if (!frameEventOpen_.load()) return 2;
    return ring_.HasNewFrame() ? 3 : 2;
}

int CLumoraV3U2Base::GetLatestFrame(uint8_t* dst, uint32_t capacity, int topDown) {
    const int write = ring_.WriteIndex();
    const int ok = CopySlot(write == 0 ? ring_.SlotCount() - 1 : write - 1, dst, capacity, nullptr, topDown != 0);
    ring_.SetReadMark(write);
    return ok ? 0 : -1;
}

int CLumoraV3U2Base::GetLatestFrameAux(uint8_t* dst, uint32_t capacity, uint64_t* auxWide, uint32_t* auxWord,
                                       int firstSlot) {
    const int write = ring_.WriteIndex();
    const int newest = write == 0 ? ring_.SlotCount() - 1 : write - 1;
    FrameRecord record;
    const int ok = CopySlot(newest, dst, capacity, &record, true);
    if (firstSlot) record = ring_.Record(0);
    if (auxWide != nullptr) *auxWide = record.auxWide;
    if (auxWord != nullptr) *auxWord = record.auxWord;
    ring_.SetReadMark(write);
    return ok ? 0 : -1;
}

int CLumoraV3U2Base::GetLatestFrameEx(uint8_t* dst, uint32_t capacity, int* counter, uint32_t* wordA,
                                      uint32_t* wordB, uint32_t* wordC, uint32_t* wordD, int topDown) {
    const int write = ring_.WriteIndex();
    FrameRecord record;
    const int ok =
        CopySlot(write == 0 ? ring_.SlotCount() - 1 : write - 1, dst, capacity, &record, topDown != 0);
    ring_.SetReadMark(write);
    if (!ok) return -1;
    if (counter != nullptr) *counter = record.frameCounter;
    if (wordA != nullptr) *wordA = record.wordA;
    if (wordB != nullptr) *wordB = record.wordB;
    if (wordC != nullptr) *wordC = record.wordC;
    if (wordD != nullptr) *wordD = record.wordD;
    return 0;
}

int CLumoraV3U2Base::Reserved2() { return 0; }

// ---------------------------------------------------------------------------------------------
// Depth, clock, window, mirrors, trigger

int CLumoraV3U2Base::SetTransferBitDepth(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_) return 0;
    if (sensor_) sensor_->SetHighBitDepth(mode);
    if (!FpgaWriteLocked(imx992::kFpgaPixelWidth, mode == 1 ? 2 : 1)) return 0;
    if (mode == bitDepthMode_.load()) return 1;
    bitDepthMode_.store(mode);
    return PrepareBuffersLocked();
}

int CLumoraV3U2Base::SetClockMode(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    if (cameraType_.load() != kTypeSideChannel && mode == 2 && controller_) {
        uint32_t speed = 0;
        if (!controller_->GetUsbSpeed(&speed) || speed != 4) mode = 0;
    }
    return sensor_->SetClockMode(mode);
}

int CLumoraV3U2Base::GetClockMode(int* value, int first, int second) {
    int cell = 0;
    const int ok = WithSensor(0, [&](CSensorBase& s) { return s.GetClockMode(&cell, first, second); });
    if (ok && value != nullptr) *value = cell;
    return ok ? 1 : 0;
}

int CLumoraV3U2Base::SetCaptureWindow(int x, int y, int width, int height, int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    int cx = 0, cw = 0, cy = 0, ch = 0, cm = 0;
    sensor_->GetReadoutWindow(&cx, &cw, &cy, &ch, &cm);
    if (cx == x && cy == y && cw == width && ch == height && cm == mode && !IsHeaderlessFamily()) return 1;
    if (!sensor_->SetReadoutWindow(x, width, y, height, mode)) return 0;
    buffersStale_.store(true);
    return 1;
}

int CLumoraV3U2Base::GetCaptureWindow(int* x, int* y, int* width, int* height, int* mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    int cx = 0, cw = 0, cy = 0, ch = 0, cm = 0;
    sensor_->GetReadoutWindow(&cx, &cw, &cy, &ch, &cm);
    if (x != nullptr) *x = cx;
    if (y != nullptr) *y = cy;
    if (width != nullptr) *width = cw;
    if (height != nullptr) *height = ch;
    if (mode != nullptr) *mode = cm;
    return 1;
}

int CLumoraV3U2Base::SetMirrorH(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetMirrorH(on); });
}
int CLumoraV3U2Base::SetMirrorV(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetMirrorV(on); });
}
int CLumoraV3U2Base::GetMirrorH() { return SensorCell(&CSensorBase::GetMirrorH); }
int CLumoraV3U2Base::GetMirrorV() { return SensorCell(&CSensorBase::GetMirrorV); }
int CLumoraV3U2Base::GetMirrorHDefault() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetMirrorHDefault(); });
}
int CLumoraV3U2Base::GetMirrorVDefault() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetMirrorVDefault(); });
}
int CLumoraV3U2Base::IsMirrorVSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsMirrorVSupported(); });
}
int CLumoraV3U2Base::IsMirrorHSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsMirrorHSupported(); });
}

int CLumoraV3U2Base::SetTriggerMode(int mode, int force) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    if (!force && mode == triggerMode_.load()) return 1;
    triggerMode_.store(-1);
    StopCaptureLocked(0);
    OpenFrameEvent();
    const int accepted = sensor_->SetTriggerMode(mode);
    if (mode >= 1 && mode <= 3) {
        if (!accepted) return 0;
        // The acquisition thread waits for the next change of the counter from here.
        int ok = 0;
        const int value = FpgaReadLocked(imx992::kFpgaFrameCounter, &ok);
        if (ok) lastFrameCounter_.store(static_cast<uint32_t>(value));
    }
    triggerMode_.store(mode);
    return 1;
}

int CLumoraV3U2Base::GetTriggerMode() {
    int mode = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTriggerMode(&mode); });
    return mode;
}

int CLumoraV3U2Base::WriteSrom(uint16_t address, uint8_t value) {
    platform::CriticalSectionLock lock(deviceLock_);
    return controller_ ? controller_->WriteEepromByte(address, value) : 0;
}

int CLumoraV3U2Base::ReadSrom(uint16_t address, uint8_t* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || value == nullptr) return 0;
    return controller_->ReadEepromByte(address, value);
}

// ---------------------------------------------------------------------------------------------
// Geometry, gain and exposure

int CLumoraV3U2Base::SensorCell(int (CSensorBase::*getter)(int*)) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return (s.*getter)(&cell); });
    return cell;
}

double CLumoraV3U2Base::SensorSeconds(int (CSensorBase::*getter)(double*)) {
    double cell = 0.0;
    WithSensor(0, [&](CSensorBase& s) { return (s.*getter)(&cell); });
    return cell;
}

#define LUMORA_INFO_GETTER(Name, field)                                                   \
    int CLumoraV3U2Base::Name() {                                                         \
        return WithSensor(0, [](CSensorBase& s) {                                         \
            SensorInfo info{};                                                            \
            s.GetSensorInfo(&info);                                                       \
            return static_cast<int>(info.field);                                          \
        });                                                                               \
    }
LUMORA_INFO_GETTER(GetSensorWidth, sensorWidth)
LUMORA_INFO_GETTER(GetSensorHeight, sensorHeight)
LUMORA_INFO_GETTER(GetDefaultWindowX, defaultX)
LUMORA_INFO_GETTER(GetDefaultWindowY, defaultY)
LUMORA_INFO_GETTER(GetDefaultWindowWidth, defaultWidth)
LUMORA_INFO_GETTER(GetDefaultWindowHeight, defaultHeight)
LUMORA_INFO_GETTER(GetWindowWidth, windowWidth)
LUMORA_INFO_GETTER(GetWindowHeight, windowHeight)
#undef LUMORA_INFO_GETTER

int CLumoraV3U2Base::SetGlobalGain(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGain(gain); });
}
int CLumoraV3U2Base::GetGlobalGain() { return SensorCell(&CSensorBase::GetGain); }
int CLumoraV3U2Base::GetGlobalGainMin() { return SensorCell(&CSensorBase::GetGainMin); }
int CLumoraV3U2Base::GetGlobalGainMax() { return SensorCell(&CSensorBase::GetGainMax); }
int CLumoraV3U2Base::GetGlobalGainDefault() { return SensorCell(&CSensorBase::GetGainDefault); }

int CLumoraV3U2Base::SetExposureTime(uint32_t tenthsOfMs) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    // Long exposures need a payload wait of twice the exposure.
    payloadTimeoutMs_.store(tenthsOfMs <= 50000 ? kDefaultPayloadTimeoutMs : tenthsOfMs / 5);
    return sensor_->SetExposureTime(static_cast<int>(std::min<uint32_t>(tenthsOfMs, 0x7FFFFFFF)));
}
int CLumoraV3U2Base::GetExposureTime() { return SensorCell(&CSensorBase::GetExposureTime); }
int CLumoraV3U2Base::GetExposureTimeMin() { return SensorCell(&CSensorBase::GetExposureTimeMin); }
int CLumoraV3U2Base::GetExposureTimeMax() { return SensorCell(&CSensorBase::GetExposureTimeMax); }
int CLumoraV3U2Base::GetExposureTimeDefault() { return SensorCell(&CSensorBase::GetExposureTimeDefault); }

int CLumoraV3U2Base::SetExposureLines(uint32_t lines) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetExposureLines(lines); });
}
int CLumoraV3U2Base::GetExposureLines() { return SensorCell(&CSensorBase::GetExposureLines); }
int CLumoraV3U2Base::GetExposureLinesMin() { return SensorCell(&CSensorBase::GetExposureLinesMin); }
int CLumoraV3U2Base::GetExposureLinesMax() { return SensorCell(&CSensorBase::GetExposureLinesMax); }
int CLumoraV3U2Base::GetExposureLinesDefault() { return SensorCell(&CSensorBase::GetExposureLinesDefault); }

int CLumoraV3U2Base::IsExposureTimeExAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsExposureSecondsSupported(); });
}

int CLumoraV3U2Base::SetExposureTimeEx(double seconds) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !std::isfinite(seconds)) return 0;
    double minimum = 0.0;
    double maximum = 0.0;
    sensor_->GetExposureSecondsMin(&minimum);
    sensor_->GetExposureSecondsMax(&maximum);
    if (seconds < minimum || seconds > maximum) return 0;
    if (!sensor_->SetExposureSeconds(seconds)) return 0;
    if (seconds > 2.0) payloadTimeoutMs_.store(static_cast<uint32_t>((seconds + 1.0) * 1000.0));
    return 1;
}
double CLumoraV3U2Base::GetExposureTimeEx() { return SensorSeconds(&CSensorBase::GetExposureSeconds); }
double CLumoraV3U2Base::GetExposureTimeExMin() { return SensorSeconds(&CSensorBase::GetExposureSecondsMin); }
double CLumoraV3U2Base::GetExposureTimeExMax() { return SensorSeconds(&CSensorBase::GetExposureSecondsMax); }
double CLumoraV3U2Base::GetExposureTimeExDefault() {
    return SensorSeconds(&CSensorBase::GetExposureSecondsDefault);
}

int CLumoraV3U2Base::SetTapGain(int tap, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetTapGain(tap, value); });
}
int CLumoraV3U2Base::GetTapGain(int tap) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTapGain(tap, &cell); });
    return cell;
}
int CLumoraV3U2Base::GetTapGainMin() { return SensorCell(&CSensorBase::GetTapGainMin); }
int CLumoraV3U2Base::GetTapGainMax() { return SensorCell(&CSensorBase::GetTapGainMax); }
int CLumoraV3U2Base::GetTapGainDefault() { return SensorCell(&CSensorBase::GetTapGainDefault); }
int CLumoraV3U2Base::SetTapOffset(int tap, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetTapOffset(tap, value); });
}
int CLumoraV3U2Base::GetTapOffset(int tap) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTapOffset(tap, &cell); });
    return cell;
}
int CLumoraV3U2Base::GetTapOffsetMin() { return SensorCell(&CSensorBase::GetTapOffsetMin); }
int CLumoraV3U2Base::GetTapOffsetMax() { return SensorCell(&CSensorBase::GetTapOffsetMax); }
int CLumoraV3U2Base::GetTapOffsetDefault() { return SensorCell(&CSensorBase::GetTapOffsetDefault); }

int CLumoraV3U2Base::SetColorGainRed(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetRedGain(gain); });
}
int CLumoraV3U2Base::GetColorGainRed() { return SensorCell(&CSensorBase::GetRedGain); }
int CLumoraV3U2Base::SetColorGainGreen1(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGreen1Gain(gain); });
}
int CLumoraV3U2Base::GetColorGainGreen1() { return SensorCell(&CSensorBase::GetGreen1Gain); }
int CLumoraV3U2Base::SetColorGainGreen2(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGreen2Gain(gain); });
}
int CLumoraV3U2Base::GetColorGainGreen2() { return SensorCell(&CSensorBase::GetGreen2Gain); }
int CLumoraV3U2Base::SetColorGainBlue(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetBlueGain(gain); });
}
int CLumoraV3U2Base::GetColorGainBlue() { return SensorCell(&CSensorBase::GetBlueGain); }
int CLumoraV3U2Base::GetColorGainMin() { return SensorCell(&CSensorBase::GetColorGainMin); }
int CLumoraV3U2Base::GetColorGainMax() { return SensorCell(&CSensorBase::GetColorGainMax); }
int CLumoraV3U2Base::GetColorGainDefault() { return SensorCell(&CSensorBase::GetColorGainDefault); }

int CLumoraV3U2Base::IsBlackLevelSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsBlackLevelSupported(); });
}
int CLumoraV3U2Base::SetBlackLevel(int level) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetBlackLevel(level); });
}
int CLumoraV3U2Base::GetBlackLevel() { return SensorCell(&CSensorBase::GetBlackLevel); }
int CLumoraV3U2Base::GetBlackLevelMin() { return SensorCell(&CSensorBase::GetBlackLevelMin); }
int CLumoraV3U2Base::GetBlackLevelMax() { return SensorCell(&CSensorBase::GetBlackLevelMax); }
int CLumoraV3U2Base::GetBlackLevelDefault() { return SensorCell(&CSensorBase::GetBlackLevelDefault); }
int CLumoraV3U2Base::IsSensorModeSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsSensorModeSupported(); });
}
int CLumoraV3U2Base::SetSensorMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetSensorMode(mode); });
}
int CLumoraV3U2Base::GetSensorMode() { return SensorCell(&CSensorBase::GetSensorMode); }

// ---------------------------------------------------------------------------------------------
// Registers

int CLumoraV3U2Base::WriteSensorRegister(int, int reg, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.WriteRegister(reg, value); });
}

int CLumoraV3U2Base::ReadSensorRegister(int, int reg, int* ok) {
    int value = 0;
    const int read = WithSensor(0, [&](CSensorBase& s) { return s.ReadRegister(reg, &value); });
    if (ok != nullptr) *ok = read ? 1 : 0;
    return read ? value : 0;
}

int CLumoraV3U2Base::FpgaWrite(int reg, int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    return FpgaWriteLocked(reg, value);
}

int CLumoraV3U2Base::FpgaWriteLocked(int reg, int value) {
    if (!controller_ || cameraType_.load() == kTypeSideChannel) return 0;
    return controller_->WriteFpgaRegister(static_cast<uint8_t>(reg & 0xFF), static_cast<uint8_t>(value & 0xFF)) ? 1
                                                                                                             : 0;
}

int CLumoraV3U2Base::FpgaRead(int reg, int* ok) {
    platform::CriticalSectionLock lock(deviceLock_);
    return FpgaReadLocked(reg, ok);
}

int CLumoraV3U2Base::FpgaReadLocked(int reg, int* ok) {
    if (ok != nullptr) *ok = 0;
    if (!controller_ || cameraType_.load() == kTypeSideChannel) return 0;
    uint8_t value = 0;
    if (!controller_->ReadFpgaRegister(static_cast<uint8_t>(reg & 0xFF), &value)) return 0;
    if (ok != nullptr) *ok = 1;
    return value;
}

int CLumoraV3U2Base::WaitFpgaIdle(uint32_t milliseconds) {
    platform::CriticalSectionLock lock(deviceLock_);
    return WaitFpgaIdleLocked(milliseconds);
}

int CLumoraV3U2Base::WaitFpgaIdleLocked(uint32_t milliseconds) {
    const uint32_t start = platform::GetTickCount();
    while (platform::TicksSince(start, platform::GetTickCount()) < milliseconds) {
        int ok = 0;
        const int status = FpgaReadLocked(imx992::kFpgaStatus, &ok);
        if (!ok) return 0;
        if ((status & 2) == 0) return 1;
        platform::Sleep(1);
    }
    return 0;
}

int CLumoraV3U2Base::WriteBusWord(int device, int reg, int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !controller_ || !WaitFpgaIdleLocked(3000)) return 0;
    const uint8_t bytes[4] = {static_cast<uint8_t>((reg >> 8) & 0xFF), static_cast<uint8_t>(reg & 0xFF),
                              static_cast<uint8_t>((value >> 8) & 0xFF), static_cast<uint8_t>(value & 0xFF)};
    return controller_->I2cWrite(static_cast<uint8_t>(device * 2), bytes, 4, 3000) ? 1 : 0;
}

int CLumoraV3U2Base::ReadBusWord(int device, int reg, int* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !controller_ || value == nullptr || !WaitFpgaIdleLocked(3000)) return 0;
    const uint8_t address[2] = {static_cast<uint8_t>((reg >> 8) & 0xFF), static_cast<uint8_t>(reg & 0xFF)};
    const auto bus = static_cast<uint8_t>(device * 2);
    if (!controller_->I2cWrite(bus, address, 2, 3000)) return 0;
    platform::Sleep(1);
    uint8_t bytes[2] = {};
    if (!controller_->I2cRead(bus, bytes, 2, 3000)) return 0;
    *value = bytes[0] * 256 + bytes[1];
    return 1;
}

int CLumoraV3U2Base::Reserved3() { return 0; }
int CLumoraV3U2Base::Reserved4() { return 0; }
void CLumoraV3U2Base::RestartStreaming() {
    WithSensor(0, [](CSensorBase& s) { return s.RestartStreaming(); });
}
void CLumoraV3U2Base::SignalAuxDevice() {
    WithSensor(0, [](CSensorBase& s) { return s.SignalAuxDevice(); });
}
int CLumoraV3U2Base::SetSamplingRate(int ignored, int* rate) {
    return WithSensor(0, [&](CSensorBase& s) { return s.VariantCapabilityFlag(ignored, rate); });
}
int CLumoraV3U2Base::IsStreamReady() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsStreamReady(); });
}
int CLumoraV3U2Base::SetControlFlag(int flag) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetControlFlag(flag); });
}
int CLumoraV3U2Base::GetControlFlag() {
    return WithSensor(-1, [](CSensorBase& s) { return s.GetControlFlag(); });
}
int CLumoraV3U2Base::WriteSromId(uint8_t value) { return WriteSrom(kSromIdAddress, value); }
int CLumoraV3U2Base::ReadSromId(uint8_t* value) { return ReadSrom(kSromIdAddress, value); }

// ---------------------------------------------------------------------------------------------
// Camera-side defective-pixel correction

int CLumoraV3U2Base::IsDefectCorrectionAvailable() {
    platform::CriticalSectionLock lock(deviceLock_);
    return IsDefectCorrectionAvailableLocked();
}

int CLumoraV3U2Base::IsDefectCorrectionAvailableLocked() {
    return sensor_ ? sensor_->IsInternalCorrectionAvailable() : 0;
}

int CLumoraV3U2Base::IsDefectCorrectionEnabled() {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    int ok = 0;
    const int value = FpgaReadLocked(imx992::kFpgaDefectEnable, &ok);
    return ok ? (value & 1) : 0;
}

int CLumoraV3U2Base::EnableDefectCorrection(int on) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    int ok = 0;
    const int value = FpgaReadLocked(imx992::kFpgaDefectEnable, &ok);
    if (!ok) return 0;
    if ((value & 1) == (on ? 1 : 0)) return 1;
    return FpgaWriteLocked(imx992::kFpgaDefectEnable, on ? (value | 1) : (value & ~1));
}

int CLumoraV3U2Base::IsDefectThresholdAvailable() { return IsDefectCorrectionAvailable(); }

int CLumoraV3U2Base::SetDefectThreshold(int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    const int low = FpgaWriteLocked(imx992::kFpgaDefectThresholdLow, value & 0xFF);
    const int high = FpgaWriteLocked(imx992::kFpgaDefectThresholdHigh, (value >> 8) & 0xFF);
    return low && high ? 1 : 0;
}

int CLumoraV3U2Base::GetDefectThreshold(int* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked() || value == nullptr) return 0;
    int okLow = 0;
    int okHigh = 0;
    const int low = FpgaReadLocked(imx992::kFpgaDefectThresholdLow, &okLow);
    const int high = FpgaReadLocked(imx992::kFpgaDefectThresholdHigh, &okHigh);
    if (!okLow || !okHigh) return 0;
    *value = (high << 8) | low;
    return 1;
}

int CLumoraV3U2Base::GetDefectThresholdMin() { return 0; }

int CLumoraV3U2Base::GetDefectThresholdMax() {
    if (!IsDefectCorrectionAvailable()) return 0;
    return cameraType_.load() == 0x3310 ? 0x0FFF : 0xFFFF;
}

int CLumoraV3U2Base::ReceiveText(char*, int) { return 0; }
int CLumoraV3U2Base::SendText(const char*, int) { return 0; }

// ---------------------------------------------------------------------------------------------
// Cooler and temperature

int CLumoraV3U2Base::IsPeltierAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasCooler(); });
}
int CLumoraV3U2Base::GetPeltier() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsCoolerOn(); });
}
int CLumoraV3U2Base::SetPeltier(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetCoolerOn(on); });
}
int CLumoraV3U2Base::IsTemperatureAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasTemperatureSensor(); });
}
int CLumoraV3U2Base::GetTemperature(double* degrees) {
    if (degrees == nullptr) return 0;
    return WithSensor(0, [&](CSensorBase& s) { return s.GetSensorTemperature(degrees); });
}

// ---------------------------------------------------------------------------------------------
// Forwarded operations of other family members

int CLumoraV3U2Base::HasOutputSwitch() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasOutputSwitch(); });
}
int CLumoraV3U2Base::GetOutputSwitch(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetOutputSwitch(value); });
}
int CLumoraV3U2Base::SetOutputSwitch(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetOutputSwitch(value); });
}
int CLumoraV3U2Base::CheckFpgaFeature() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckFpgaFeature(); });
}
int CLumoraV3U2Base::DetectAuxBoard() {
    return WithSensor(0, [](CSensorBase& s) { return s.DetectAuxBoard(); });
}
int CLumoraV3U2Base::SetAuxBoardMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetAuxBoardMode(mode); });
}
int CLumoraV3U2Base::HasDetectorTemperature() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasDetectorTemperature(); });
}
int CLumoraV3U2Base::Reserved7() {
    return WithSensor(0, [](CSensorBase& s) { return s.Reserved7(); });
}
int CLumoraV3U2Base::Reserved8() {
    return WithSensor(0, [](CSensorBase& s) { return s.Reserved8(); });
}
int CLumoraV3U2Base::GetDetectorTemperature(double* degrees) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetDetectorTemperature(degrees); });
}
int CLumoraV3U2Base::SetDetectorTemperature(double degrees) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetDetectorTemperature(degrees); });
}

int CLumoraV3U2Base::GetFpgaTemperature(double* degrees) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsHeaderlessFamily() || degrees == nullptr) return 0;
    int okLow = 0;
    int okHigh = 0;
    const int low = FpgaReadLocked(0x8E, &okLow);
    const int high = FpgaReadLocked(0x8F, &okHigh);
    if (!okLow || !okHigh) return 0;
    *degrees = (high * 256 + low) * 503.975 / 65536.0 - 273.15;
    return 1;
}

int CLumoraV3U2Base::CheckCorrectionState() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckCorrectionState(); });
}
int CLumoraV3U2Base::GetCorrectionInfo(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetCorrectionInfo(value); });
}
int CLumoraV3U2Base::StoreOptionWord(int word) {
    return WithSensor(0, [&](CSensorBase& s) { return s.StoreOptionWord(word); });
}
int CLumoraV3U2Base::HasOptionWord() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasOptionWord(); });
}
int CLumoraV3U2Base::CheckFpgaVersion() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckFpgaVersion(); });
}
int CLumoraV3U2Base::HasResponseMode() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasResponseMode(); });
}
int CLumoraV3U2Base::GetResponseMode(int* mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetResponseMode(mode); });
}
int CLumoraV3U2Base::SetResponseMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetResponseMode(mode); });
}
int CLumoraV3U2Base::IsLevelPairSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsLevelPairSupported(); });
}
int CLumoraV3U2Base::GetLevelPairMin() { return SensorCell(&CSensorBase::GetLevelPairMin); }
int CLumoraV3U2Base::GetLevelPairMax() { return SensorCell(&CSensorBase::GetLevelPairMax); }
int CLumoraV3U2Base::GetLevelADefault() { return SensorCell(&CSensorBase::GetLevelADefault); }
int CLumoraV3U2Base::GetLevelBDefault() { return SensorCell(&CSensorBase::GetLevelBDefault); }
int CLumoraV3U2Base::ReadLevelA(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.ReadLevelA(value); });
}
int CLumoraV3U2Base::ReadLevelB(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.ReadLevelB(value); });
}
int CLumoraV3U2Base::SetLevelA(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetLevelA(value); });
}
int CLumoraV3U2Base::SetLevelB(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetLevelB(value); });
}
int CLumoraV3U2Base::GetLevelLabel(int index, char* text, int length) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetLevelLabel(index, text, length); });
}
int CLumoraV3U2Base::HasGainStage() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasGainStage(); });
}
int CLumoraV3U2Base::SetGainStage(int stage) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGainStage(stage); });
}
int CLumoraV3U2Base::GetGainStage() {
    return WithSensor(-1, [](CSensorBase& s) { return s.GetGainStage(); });
}
int CLumoraV3U2Base::SupportsOutputFormatA() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatA(); });
}
int CLumoraV3U2Base::SupportsOutputFormatB() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatB(); });
}
int CLumoraV3U2Base::SupportsOutputFormatC() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatC(); });
}
int CLumoraV3U2Base::GetAuxStatus(int* value) {
    return WithSensor(1, [&](CSensorBase& s) { return s.GetAuxStatus(value); });
}
int CLumoraV3U2Base::SetAuxStatus(int value) {
    return WithSensor(1, [&](CSensorBase& s) { return s.SetAuxStatus(value); });
}
int CLumoraV3U2Base::PollAuxBoard() {
    return WithSensor(1, [](CSensorBase& s) { return s.PollAuxBoard(); });
}
int CLumoraV3U2Base::GetReadoutKind() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetReadoutKind(); });
}
void CLumoraV3U2Base::Reserved9() {}

}  // namespace lumora
