// A frame from the wire: whatever the camera's stream endpoint sends - headers with any length
// and any words, short and failed transfers, payloads of any size - goes through the driver's
// real acquisition loop, controller reads and port. Nothing may crash or touch memory it does
// not own, and only a whole frame of the programmed size may reach the ring, byte for byte.
//
// The camera behind the port is a simulated one for every control request; only the bulk
// transfers on the stream endpoint are answered from the input. The input's first byte picks
// the capture mode; each further record answers one stream transfer:
//   c & 3 == 0  the transfer comes back whole, its bytes taken from the input (zeros past it)
//   c & 3 == 1  it comes back short: a 16-bit count below the requested length follows
//   c & 3 == 2  it fails
//   c & 3 == 3  a well-formed answer: a header announcing the frame size (plus the next byte
//               as a signed delta when c has its top bit set: a longer payload that fits the
//               buffer is the frame and a tail) and the counter byte after it,
//               or, for a payload piece, bytes of a pattern seeded by the next byte
// Five stream failures in a row end the run with the transfer-error flag, which the frame
// waiter must then be told of.
// When the records run out the transfer stays pending until the stop aborts it.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "lumora/host.h"
#include "platform/LittleEndian.h"
#include "port/UsbIoctl.h"
#include "port/SimPort.h"
#include "sensor/CSensorBase.h"
#include "sim/SimCamera.h"
#include "sim/SimCameraSet.h"
#include "usb/Fx3Protocol.h"

namespace {

using lumora::usb::FrameHeader;

constexpr uint8_t kStreamIn = 0x81;
// Each failed header costs the controller a short pause before its next attempt; a bound on
// the records keeps one input quick.
constexpr size_t kMaxRecords = 24;

class WireCamera final : public lumora::platform::SimUsbDevice {
public:
    explicit WireCamera(std::shared_ptr<lumora::sim::SimCamera> camera)
        : camera_(std::move(camera)) {}

    std::string InterfacePath() const override { return camera_->InterfacePath(); }
    int ControlTransfer(const lumora::platform::ControlSetup& setup,
                        std::span<uint8_t> data) override {
        return camera_->ControlTransfer(setup, data);
    }
    void SubmitBulk(std::shared_ptr<lumora::platform::SimBulkTransfer> transfer) override {
        if (transfer->Endpoint() != kStreamIn) {
            camera_->SubmitBulk(std::move(transfer));
            return;
        }
        std::lock_guard lock(mutex_);
        Answer(std::move(transfer));
    }
    void AbortEndpoint(uint8_t endpoint) override {
        if (endpoint != kStreamIn) {
            camera_->AbortEndpoint(endpoint);
            return;
        }
        std::lock_guard lock(mutex_);
        if (pending_) {
            pending_->Complete(lumora::platform::kErrorOperationAborted, 0);
            pending_.reset();
        }
    }
    bool ResetEndpoint(uint8_t endpoint) override { return camera_->ResetEndpoint(endpoint); }
    bool ResetPort() override { return camera_->ResetPort(); }
    uint32_t LinkSpeedCode() const override { return camera_->LinkSpeedCode(); }
    void Disconnect() override {
        camera_->Disconnect();
        AbortEndpoint(kStreamIn);
    }

    void Load(const uint8_t* data, size_t size, uint32_t frameSize, uint32_t capacity) {
        std::lock_guard lock(mutex_);
        capacity_ = capacity;
        script_.assign(data, data + size);
        used_ = 0;
        records_ = 0;
        exhausted_ = false;
        frameSize_ = frameSize;
        expecting_ = 0;
        gathered_.clear();
        validFrames_ = 0;
        lastValid_.clear();
    }
    // Waits a little for the script to run out; true once it has.
    bool WaitExhausted() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(1), [this] { return exhausted_; });
    }
    uint64_t ValidFrames() const {
        std::lock_guard lock(mutex_);
        return validFrames_;
    }
    std::vector<uint8_t> LastValidFrame() const {
        std::lock_guard lock(mutex_);
        return lastValid_;
    }
    bool HasPending() const {
        std::lock_guard lock(mutex_);
        return pending_ != nullptr;
    }

private:
    uint8_t Byte() { return used_ < script_.size() ? script_[used_++] : 0; }

    void Answer(std::shared_ptr<lumora::platform::SimBulkTransfer> transfer) {
        const std::span<uint8_t> room = transfer->Data();
        const uint32_t requested = static_cast<uint32_t>(room.size());
        if (used_ >= script_.size() || records_ >= kMaxRecords) {
            if (pending_) pending_->Complete(lumora::platform::kErrorOperationAborted, 0);
            pending_ = std::move(transfer);
            exhausted_ = true;
            changed_.notify_all();
            return;
        }
        ++records_;
        const uint8_t c = Byte();
        uint32_t sent = requested;
        switch (c & 3) {
            case 0:
                for (uint8_t& b : room) b = Byte();
                break;
            case 1: {
                const uint32_t n = Byte() | (uint32_t{Byte()} << 8);
                sent = requested == 0 ? 0 : n % requested;
                for (uint32_t i = 0; i < sent; ++i) room[i] = Byte();
                break;
            }
            case 2:
                Track({}, false);
                transfer->Complete(lumora::platform::kErrorGenFailure, 0);
                return;
            default: {
                const auto delta = static_cast<int8_t>(Byte());
                if (requested == FrameHeader::kSize) {
                    FrameHeader header;
                    header.payloadLength =
                        frameSize_ + static_cast<uint32_t>((c & 0x80) ? delta : 0);
                    header.frameCounter = Byte();
                    header.Write(room.data());
                } else {
                    uint32_t x = static_cast<uint8_t>(delta) * 2654435761u + 1;
                    for (uint8_t& b : room)
                        b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
                }
                break;
            }
        }
        Track(room.first(sent), sent == requested);
        transfer->Complete(lumora::platform::kErrorSuccess, sent);
    }

    // Follows the stream as a correct reader would: a whole header announcing at least the frame
    // size and no more than the buffer holds, then whole pieces adding up to it, make one valid
    // frame: its first frame-size bytes (a longer payload carries padding or a trailer).
    void Track(std::span<const uint8_t> data, bool whole) {
        if (!whole) {
            expecting_ = 0;
            gathered_.clear();
            return;
        }
        if (expecting_ == 0) {
            if (data.size() != FrameHeader::kSize) return;
            const uint32_t announced = FrameHeader::Read(data.data()).payloadLength;
            if (announced >= frameSize_ && announced <= capacity_) {
                expecting_ = announced;
                gathered_.clear();
            }
            return;
        }
        gathered_.insert(gathered_.end(), data.begin(), data.end());
        if (gathered_.size() >= expecting_) {
            if (gathered_.size() == expecting_) {
                ++validFrames_;
                lastValid_.assign(gathered_.begin(), gathered_.begin() + frameSize_);
            }
            expecting_ = 0;
            gathered_.clear();
        }
    }

    std::shared_ptr<lumora::sim::SimCamera> camera_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<lumora::platform::SimBulkTransfer> pending_;
    std::vector<uint8_t> script_;
    size_t used_ = 0;
    size_t records_ = 0;
    bool exhausted_ = false;
    uint32_t frameSize_ = 0;
    uint32_t capacity_ = 0;
    uint32_t expecting_ = 0;
    std::vector<uint8_t> gathered_;
    uint64_t validFrames_ = 0;
    std::vector<uint8_t> lastValid_;
};

}  // namespace

namespace {

lumora::CLumoraV3U2Base* gDriver = nullptr;
WireCamera* gWire = nullptr;
uint32_t gFrameSize = 0;
uint32_t gCapacity = 0;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "frame_wire: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LumoraSim_SetFastMode(1);
    lumora::SetSensorPausesForTesting(false);
    if (LumoraSim_SetCameraCount(1) != 1) Fail("no simulated camera");
    LumoraSim_SetStartupTime(0, 0);
    // The simulated camera stays behind the port for everything but the stream endpoint.
    auto camera = lumora::sim::SimCameraSet::Instance().Camera(0);
    auto& port = lumora::platform::SimPort::Instance();
    port.Unplug(camera);
    camera->PowerOn();
    auto wire = std::make_shared<WireCamera>(camera);
    gWire = wire.get();
    port.Plug(wire);

    // Kept for the whole process; reachable, so never reported as a leak.
    static auto* const driver = new lumora::CLumoraUSB3T2SimpleSdk();
    gDriver = driver;
    driver->SetCameraType(0x3380);
    driver->CreateController(nullptr, nullptr);
    if (driver->OpenDevice(0) != 1) Fail("the camera does not open");
    // A small window keeps whole frames within an input's reach.
    if (driver->SetCaptureWindow(0, 0, 64, 16, 0) != 1) Fail("the window is refused");
    if (driver->PrepareBuffers() != 1) Fail("no frame buffers");
    gFrameSize = driver->FrameSize();
    gCapacity = driver->TransferCapacity();
    if (gFrameSize == 0 || gFrameSize == FrameHeader::kSize) Fail("unexpected frame size");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int mode = data[0] & 3;
    gWire->Load(data + 1, size - 1, gFrameSize, gCapacity);
    const uint64_t before = gDriver->FramesStored();
    if (gDriver->StartCapture(mode) != 1) Fail("the capture does not start");
    while (!gWire->WaitExhausted() && gDriver->IsCapturing()) {
    }
    gDriver->StopCapture(0);
    if (gWire->HasPending()) Fail("a stream transfer outlived the stop");

    // Every whole frame of the programmed size is stored (none in counter-only mode), and
    // nothing else is.
    const uint64_t stored = gDriver->FramesStored() - before;
    const uint64_t expected = mode == lumora::kCaptureCounterOnly ? 0 : gWire->ValidFrames();
    if (stored != expected) {
        std::fprintf(stderr, "frame_wire: mode %d stored %llu frames, %llu were valid\n", mode,
                     static_cast<unsigned long long>(stored),
                     static_cast<unsigned long long>(expected));
        std::abort();
    }
    if (stored > 0) {
        std::vector<uint8_t> frame(gFrameSize);
        if (gDriver->GetLatestFrame(frame.data(), gFrameSize, 1) != 0) Fail("no frame to copy");
        if (frame != gWire->LastValidFrame()) Fail("the stored frame is not the one sent");
    }
    // Five refusals in a row end the run; the waiter learns of it as a transfer error.
    if (gDriver->TransferError() && gDriver->WaitFrame(0) != 1) Fail("transfer error not told");
    return 0;
}
