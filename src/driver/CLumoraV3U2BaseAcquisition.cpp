// The driver object: the acquisition thread, the transfer loop and the frame ring.
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
    ring_.CatchUp();  // only frames of this capture are news
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
    platform::NameCurrentThread("lumora-acquire");
    if (cameraType_.load() == kTypeSideChannel) {
        RunSideChannelTransferLoop();
    } else {
        RunTransferLoop();
    }
}

void CLumoraV3U2Base::StampArrival(FrameRecord* record) {
    using namespace std::chrono;
    record->arrivalNs = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    record->arrivalWallNs =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
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
        platform::MutexLock layout(layoutMutex_);
        frameSize = frameSize_;
    }
    usb::FrameTransferRecord request;
    request.data = buffer;
    request.capacity = transferCapacity_;
    transferError_.store(false);
    if (!controller->OpenStreamHandle()) return 1;

    int failures = 0;
    // A failed read: count it; the fifth in a row gives up, otherwise restart the stream. After
    // a header was taken, the rest of its frame would be read as the next header (the sensor's
    // restart pulse is off while it runs free), so the stream is reset to a frame boundary.
    auto failed = [&](bool midFrame) -> bool {
        controller->CloseStreamHandle();
        if (++failures >= kFailureLimit) {
            transferError_.store(true);
            frameReady_.Set();
            return false;
        }
        if (sensor_) sensor_->PulseStreamRestart();
        if (midFrame) controller->StreamReset();
        controller->OpenStreamHandle();
        return true;
    };
    while (running_.load()) {
        const uint32_t payloadTimeout = payloadTimeoutMs_.load();
        if (triggerMode_.load() == 1) {
            uint8_t counter = 0;
            if (!ReadFrameCounterRegister(&counter)) {
                platform::Sleep(1);
                if (!failed(false)) break;
                continue;
            }
            // The register holds the low byte of the counter.
            if (counter == (lastFrameCounter_.load() & 0xFF)) {
                platform::Sleep(1);
                continue;
            }
            lastFrameCounter_.store(counter);
        }
        // A stop ends the header's retries at once, not after all of them.
        if (!controller->ReadFrameHeaderWhile(&request.header, &running_)) {
            if (!running_.load()) break;
            if (!failed(false)) break;
            continue;
        }
        const usb::FrameHeader header = usb::FrameHeader::Read(request.header.bytes.data());
        FrameRecord record;
        record.headerNs = AnalogHistory::NowNs();
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
        // The payload lands in its ring slot, so the frame is copied once less; the transfer
        // buffer stands in when the ring has no slot to give.
        uint8_t* const slot = ring_.BeginStore();
        request.data = slot != nullptr ? slot : buffer;
        request.capacity =
            slot != nullptr
                ? static_cast<uint32_t>(std::min<size_t>(ring_.Capacity(), transferCapacity_))
                : transferCapacity_;
        const auto started = std::chrono::steady_clock::now();
        const bool read = controller->ReadFramePayload(&request, payloadTimeout) != 0;
        const double elapsedMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                .count();
        // The camera may send more than the frame (padding, a trailer): the frame is its first
        // frame-size bytes. A shorter payload would leave an older frame's bytes in its tail.
        if (!read || header.payloadLength < frameSize) {
            if (slot != nullptr) ring_.AbandonStore();
            if (!running_.load()) break;  // the stop aborted the read
            if (!failed(true)) break;
            continue;
        }
        transferError_.store(false);
        if (elapsedMs > 0.0)
            transferRate_.store((frameSize >> 10) * 0.0078125 / (elapsedMs / 1000.0));
        if (const auto rate = frameRate_.Add(); rate && mode == kCaptureContinuous)
            measuredFrameRate_.store(*rate);

        record.frameCounter = static_cast<int32_t>(lastFrameCounter_.load());
        StampArrival(&record);
        if (slot != nullptr) {
            ring_.CommitStore(frameSize, record);
        } else {
            ring_.Store(buffer, frameSize, record);
        }
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
        platform::MutexLock layout(layoutMutex_);
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
    const uint64_t capacity = ((uint64_t{static_cast<uint32_t>(height)} + 128) *
                                   (static_cast<uint32_t>(width) + 128) * bytesPerPixel +
                               8191) &
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
        platform::MutexLock layout(layoutMutex_);
        frameSize_ =
            static_cast<uint32_t>(uint64_t{static_cast<uint32_t>(height)} * width * bytesPerPixel);
        layout_.frameSize = frameSize_;
        layout_.lineBytes = static_cast<size_t>(width) * bytesPerPixel;
        layout_.lines = static_cast<size_t>(height);
        layout_.sampleBytes = bytesPerPixel;
        layout_.orientation = info.orientation;
    }
    if (controller_) {
        controller_->WriteFpgaRegister(imx992::kFpgaWidth, static_cast<uint8_t>(width & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaWidth + 1,
                                       static_cast<uint8_t>((width >> 8) & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaHeight, static_cast<uint8_t>(height & 0xFF));
        controller_->WriteFpgaRegister(imx992::kFpgaHeight + 1,
                                       static_cast<uint8_t>((height >> 8) & 0xFF));
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

int CLumoraV3U2Base::SetRingSlots(int slots) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (slots < 1 || slots > FrameRing::kMaxSlots) return 0;
    if (slots == ring_.SlotCount()) return 1;
    // The ring belongs to the acquisition thread while it runs.
    if (thread_.Joinable()) {
        StopCaptureLocked(1);
        JoinAcquisitionThread();
    }
    ring_.SetSlotCount(slots);
    buffersStale_.store(true);
    return 1;
}

int CLumoraV3U2Base::GetMaxDeviceCount() {
    return kMaxDevices;
}

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
            const int64_t headerNs = AnalogHistory::NowNs();
            request.length = header.payloadLength;
            const bool taken =
                header.payloadLength >= frameSize && controller_->ReadFramePayload(&request, 3000);
            // The rest of a frame not taken would be read as the next attempt's header.
            if (!taken) controller_->StreamReset();
            if (taken) {
                FrameRecord record;
                record.frameCounter = static_cast<int32_t>(header.frameCounter);
                record.headerNs = headerNs;
                record.wordA = header.wordA;
                record.wordB = header.frameCounter;
                record.wordC = header.wordC;
                record.wordD = header.wordD;
                StampArrival(&record);
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

int CLumoraV3U2Base::Reserved1() {
    return -1;
}

uint32_t CLumoraV3U2Base::FrameSize() const {
    platform::MutexLock layout(layoutMutex_);
    return frameSize_;
}

uint32_t CLumoraV3U2Base::TransferCapacity() const {
    platform::CriticalSectionLock lock(deviceLock_);
    return transferCapacity_;
}

FrameLayout CLumoraV3U2Base::Layout(bool topDown) const {
    platform::MutexLock layout(layoutMutex_);
    FrameLayout copy = layout_;
    copy.topDown = topDown;
    return copy;
}

int CLumoraV3U2Base::CopySlot(int slot, uint8_t* dst, uint32_t capacity, FrameRecord* record,
                              bool topDown) {
    const FrameLayout layout = Layout(topDown);
    if (capacity < layout.frameSize) return 0;
    return ring_.CopyOut(slot, dst, capacity, layout, record) ? 1 : 0;
}

int CLumoraV3U2Base::CopyFrame(uint8_t* dst, uint32_t length, int* counter, uint32_t* wordA,
                               uint32_t* wordB, uint32_t* wordC, uint32_t* wordD, int firstSlot,
                               int topDown) {
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

uint32_t CLumoraV3U2Base::FirstFrameWithinMs() {
    uint32_t milliseconds = 0;
    return WithSensor(0, [&](CSensorBase& s) { return s.GetFirstFrameWithin(&milliseconds); }) != 0
               ? milliseconds
               : 0;
}

double CLumoraV3U2Base::FramePeriodUs() {
    double microseconds = 0.0;
    return WithSensor(0, [&](CSensorBase& s) { return s.GetFramePeriod(&microseconds); }) != 0
               ? microseconds
               : 0.0;
}

bool CLumoraV3U2Base::ReadNewestSlot(const std::function<bool(int slot)>& read) {
    // A reader held up for several frame times can find the writer came round to the slot it
    // chose: that frame is gone, but a newer one is there, and the newest is what is asked for.
    // Only a slot refused while the writer stood still is a failure of its own.
    constexpr int kAttempts = 4;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const auto [write, stored] = ring_.Published();
        const int newest = write == 0 ? ring_.SlotCount() - 1 : write - 1;
        if (slotReadHook_) slotReadHook_(ring_);
        const bool ok = read(newest);
        ring_.MarkTaken(write, stored);
        if (ok) return true;
        if (ring_.StoredCount() == stored) return false;
    }
    return false;
}

int CLumoraV3U2Base::GetLatestFrame(uint8_t* dst, uint32_t capacity, int topDown) {
    return ReadNewestSlot([&](int slot) {
               return CopySlot(slot, dst, capacity, nullptr, topDown != 0) != 0;
           })
               ? 0
               : -1;
}

int CLumoraV3U2Base::GetLatestFrameAux(uint8_t* dst, uint32_t capacity, uint64_t* auxWide,
                                       uint32_t* auxWord, int firstSlot) {
    FrameRecord record;
    const bool ok = ReadNewestSlot(
        [&](int slot) { return CopySlot(slot, dst, capacity, &record, true) != 0; });
    if (firstSlot) record = ring_.Record(0);
    if (auxWide != nullptr) *auxWide = record.auxWide;
    if (auxWord != nullptr) *auxWord = record.auxWord;
    return ok ? 0 : -1;
}

int CLumoraV3U2Base::GetLatestFrameEx(uint8_t* dst, uint32_t capacity, int* counter,
                                      uint32_t* wordA, uint32_t* wordB, uint32_t* wordC,
                                      uint32_t* wordD, int topDown) {
    FrameRecord record;
    if (!ReadNewestSlot([&](int slot) {
            return CopySlot(slot, dst, capacity, &record, topDown != 0) != 0;
        })) {
        return -1;
    }
    if (counter != nullptr) *counter = record.frameCounter;
    if (wordA != nullptr) *wordA = record.wordA;
    if (wordB != nullptr) *wordB = record.wordB;
    if (wordC != nullptr) *wordC = record.wordC;
    if (wordD != nullptr) *wordD = record.wordD;
    return 0;
}

int CLumoraV3U2Base::CopyLatestFrame(uint8_t* dst, uint32_t capacity, int topDown,
                                     FrameRecord* record) {
    return ReadNewestSlot([&](int slot) {
               return CopySlot(slot, dst, capacity, record, topDown != 0) != 0;
           })
               ? 0
               : -1;
}

int CLumoraV3U2Base::CopyNextFrame(uint64_t* next, uint8_t* dst, uint32_t capacity, int topDown,
                                   FrameRecord* record) {
    const FrameLayout layout = Layout(topDown != 0);
    for (;;) {
        const FrameRing::Position now = ring_.Published();
        if (*next >= now.storedCount) {
            ring_.MarkTaken(now.writeIndex, now.storedCount);
            return 0;
        }
        const uint64_t kept = static_cast<uint64_t>(ring_.SlotCount() - 1);
        if (now.storedCount - *next > kept) *next = now.storedCount - kept;
        const int slot = ring_.SlotOfStore(*next);
        if (slot < 0) continue;  // the writer moved on meanwhile
        FrameRecord taken;
        const bool copied = (dst == nullptr || capacity >= layout.frameSize) &&
                            ring_.CopyOut(slot, dst, capacity, layout, &taken);
        if (copied && taken.storeNumber == *next) {
            ++*next;
            if (record != nullptr) *record = taken;
            return 1;
        }
        // Overwritten between the choice and the copy: the next round starts at the oldest kept.
        if (ring_.SlotOfStore(*next) < 0) continue;
        ++*next;
        return -1;
    }
}

int CLumoraV3U2Base::TakeLatestFrame(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity,
                                     size_t* frameBytes, FrameRecord* taken) {
    const FrameLayout layout = Layout(true);
    if (!layout.DeliveredAsStored() || layout.frameSize == 0) return -2;
    // A buffer too small for a slot is replaced, but only once the exchange has succeeded: the
    // caller's buffer may still hold a frame it needs.
    const size_t slotBytes = ring_.Capacity();
    const bool fresh = !buffer || capacity < slotBytes;
    std::unique_ptr<uint8_t[]> spare = fresh ? AllocateFrameBuffer(slotBytes) : std::move(buffer);
    size_t spareCapacity = fresh ? slotBytes : capacity;
    if (!spare) return -2;
    FrameRecord record;
    const bool ok = ReadNewestSlot(
        [&](int slot) { return ring_.Exchange(slot, spare, spareCapacity, &record); });
    // A refused exchange leaves `spare` as it was: the caller's own buffer goes back to it.
    if (ok || !fresh) {
        buffer = std::move(spare);
        capacity = spareCapacity;
    }
    if (!ok) return -1;
    if (frameBytes != nullptr) *frameBytes = layout.frameSize;
    if (taken != nullptr) *taken = record;
    return 0;
}

int CLumoraV3U2Base::Reserved2() {
    return 0;
}

}  // namespace lumora
