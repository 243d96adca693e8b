// The simulated camera's bus: vendor requests, I2C devices, memory streams, frame stream.
#include "sim/SimCamera.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>

#include "platform/LittleEndian.h"
#include "platform/ProcessExit.h"
#include "platform/Thread.h"
#include "usb/Fx3Protocol.h"

namespace lumora::sim {

using platform::ControlSetup;
using platform::SimBulkTransfer;
using SteadyClock = std::chrono::steady_clock;

namespace {
constexpr size_t kMemoryPageSize = 4096;
constexpr size_t kLogEntries = 256;
// The data stage of every vendor request: the driver's 64-byte request buffer (wLength 64).
constexpr size_t kControlStage = usb::kControlDataSize;
// The largest packet of a bulk endpoint. A transfer ends at a shorter packet, or, when the data
// ends on a packet boundary, at a zero-length packet.
constexpr size_t kSuperSpeedPacket = 1024;
constexpr size_t kHighSpeedPacket = 512;
// The configuration EEPROM's write cycle: until it is over the EEPROM answers no one.
constexpr auto kEepromWriteCycle = std::chrono::milliseconds(10);
// How long this process keeps a camera claimed after its last request.
constexpr auto kClaimLinger = std::chrono::milliseconds(2000);

// How the camera's firmware takes each vendor request: the largest wValue and wIndex it
// accepts, how many bytes of the OUT data stage carry the request's data (the rest must be the
// zeros the driver cleared its buffer with), and how many bytes an IN request is answered
// with. kCountInValue: the count in wValue (the I2C transfers).
constexpr int kCountInValue = -1;
struct RequestShape {
    uint8_t code;
    uint16_t maxValue;
    uint16_t maxIndex;
    int outBytes;
    int replyBytes;
};
constexpr std::array<RequestShape, 14> kRequestShapes{{
    {usb::kReqI2cWrite, usb::kMaxI2cTransfer, 0xFE, kCountInValue, 0},
    {usb::kReqI2cRead, usb::kMaxI2cTransfer, 0xFF, 0, kCountInValue},
    {usb::kReqSetModeByte, 0, 0, 1, 0},  // the byte as a little-endian word: 3 zero bytes
    {usb::kReqGetModeByte, 0, 0, 0, 1},
    {usb::kReqWriteWordPair, 0, 0, 4, 0},
    {usb::kReqReadSelectedWord, 0xFFFF, 0, 0, 2},
    {usb::kReqBridgeInfo, 0, 0, 0, usb::kBridgeInfoSize},
    {usb::kReqBridgeInfoExtra, 0, 0, 0, usb::kBridgeInfoSize},
    {usb::kReqStreamReset, 0, 0, 0, 0},
    {usb::kReqStreamKick, 0, 0, 0, 0},
    {usb::kReqReadyFlag, 0, 0, 0, static_cast<int>(kControlStage)},
    {usb::kReqEndpointCommand, 0, 0, 0, 0},
    {usb::kReqWriteWide, 1, 0x7FFF, 4, 0},  // wValue: address bit 15
    {usb::kReqReadWide, 0, 0xFFFF, 0, static_cast<int>(kControlStage)},
}};

const RequestShape* ShapeOf(uint8_t code) {
    for (const auto& shape : kRequestShapes) {
        if (shape.code == code) return &shape;
    }
    return nullptr;
}

// False when the request's setup packet or data stage is not one the firmware takes.
bool StageFits(const RequestShape& shape, const ControlSetup& setup,
               std::span<const uint8_t> data) {
    if (setup.length != kControlStage || data.size() != kControlStage) return false;
    if (setup.value > shape.maxValue || setup.index > shape.maxIndex) return false;
    if (setup.IsIn()) return true;
    const size_t used =
        shape.outBytes == kCountInValue ? setup.value : static_cast<size_t>(shape.outBytes);
    return std::all_of(data.begin() + static_cast<std::ptrdiff_t>(used), data.end(),
                       [](uint8_t b) { return b == 0; });
}

// Draws a frame's picture; how long it took. A camera's sensor is never late, so the drawing
// keeps the reading thread's priority (the driver's transfer loop runs above normal): drawn at
// normal priority on a two-processor host, beside the session's processing and the X server, the
// simulated camera fell behind now and then and sent the frames it owed in a burst, which the
// session could only skip. Where priorities are strict, a busy thread above normal would take its
// processor from every ordinary one: there it draws at normal priority.
SteadyClock::duration DrawPicture(const SimCameraModel::PayloadDrawing& drawing,
                                  std::span<uint8_t> payload) {
    std::optional<platform::NormalPriorityScope> ordinary;
    if (platform::StrictThreadPriorities()) ordinary.emplace();
    const auto started = SteadyClock::now();
    drawing(payload);
    return SteadyClock::now() - started;
}

template <typename T>
void Append(std::vector<T>& log, T entry) {
    if (log.size() >= kLogEntries) log.erase(log.begin());
    log.push_back(std::move(entry));
}
}  // namespace

struct SimCamera::State {
    int port = 0;
    bool connected = true;
    uint32_t linkSpeed = platform::kSpeedSuper;

    // Start-up: ready once startupMs have passed since startupBegin and no reset is held.
    uint32_t startupMs = kDefaultStartupMs;
    uint32_t startupBegin = 0;
    bool resetHeld = false;
    uint16_t firmwareVersion = kDefaultFirmwareVersion;

    // Faults still to come.
    int bulkFail = 0;
    int bulkStall = 0;
    int shortPayload = 0;
    uint32_t shortDelta = kDefaultFaultPayloadDelta;
    int longPayload = 0;
    uint32_t longDelta = kDefaultFaultPayloadDelta;
    int i2cRefuse = 0;
    int eepromWriteFail = 0;

    // The EEPROM's write cycle, and when the current one ends.
    std::chrono::milliseconds eepromWriteCycle = kEepromWriteCycle;
    SteadyClock::time_point eepromBusyUntil{};
    // The last request of this process (the claim lingers after it).
    SteadyClock::time_point lastUse{};

    // Read pointers of the I2C devices.
    uint8_t fpgaPointer = 0;
    uint16_t sensorPointer = 0;
    uint16_t eepromPointer = 0;
    uint8_t auxPointer = 0;

    // Bridge-side values.
    uint8_t modeByte = 0;
    std::array<uint16_t, 2> wordPair{};
    std::map<uint16_t, uint32_t> wideRegisters;

    // Frame stream on 0x81. What the next IN transfer gets:
    //
    //            kick                 ready (the model's frame delay ends, or a trigger)
    //   Idle ─────────────▶ Armed ──────────────────────────────────────▶ Header
    //    ▲  ▲                 │                                              │ 64 bytes
    //    │  │  a memory read  │                                              ▼
    //    │  └─────────────────┘          every payload byte sent          Payload ◀─┐ a piece
    //    └────────────────────────────────────────────────────────────────────┴────┘
    //
    // A frame whose payload ends on a packet boundary leaves a zero-length packet behind
    // (zeroLengthPending), which the next IN transfer gets before anything else; a kick may
    // arm the next frame meanwhile. A restart pulse (FPGA 0x6C) drops a frame in Header or
    // Payload; a stream reset, a port reset or an unplug drops whatever is under way.
    enum class Phase { Idle, Armed, Header, Payload } phase = Phase::Idle;
    bool zeroLengthPending = false;
    bool waitingForRelease = false;
    SteadyClock::time_point readyAt{};
    uint32_t nextCounter = 0;
    std::array<uint8_t, usb::FrameHeader::kSize> header{};
    std::vector<uint8_t> payload;  // what is actually sent
    size_t payloadSent = 0;
    // The picture of the frame taken, drawn into the first `drawBytes` of the payload when the
    // payload is first read.
    SimCameraModel::PayloadDrawing drawing;
    size_t drawBytes = 0;
    // Every frame taken gets the next serial. While a host thread draws a frame's picture
    // without the lock (DrawPictureUnlocked), pictureAway holds its serial and the payload is
    // with that thread; a dropped frame's picture is thrown away when it comes back.
    uint64_t frameSerial = 0;
    uint64_t pictureAway = 0;
    uint64_t framesSent = 0;

    // Memory streams.
    bool memoryRead = false;
    bool memoryWrite = false;
    uint64_t memoryAddress = 0;
    uint32_t memoryRemaining = 0;
    std::map<uint64_t, std::array<uint8_t, kMemoryPageSize>> memory;

    BusLog log;

    std::deque<std::shared_ptr<SimBulkTransfer>> pending;   // waiting for data, in order
    std::vector<std::shared_ptr<SimBulkTransfer>> stalled;  // hang until aborted
};

SimCamera::SimCamera(SimCameraIdentity identity, std::unique_ptr<SimCameraModel> model)
    : identity_(std::move(identity)),
      model_(model ? std::move(model) : MakeCameraModel(identity_)),
      eeprom_(kEepromSize, 0xFF),
      state_(std::make_unique<State>()),
      claim_(identity_.serialNumber) {
    // The serial number lives in the configuration memory, ended by a zero byte.
    const auto& serial = identity_.serialNumber;
    for (size_t i = 0; i < serial.size() && i < 31; ++i) {
        eeprom_[kSerialNumberAddress + i] = static_cast<uint8_t>(serial[i]);
    }
    eeprom_[kSerialNumberAddress + std::min<size_t>(serial.size(), 31)] = 0;
    PowerOn();
}

SimCamera::~SimCamera() {
    if (platform::ProcessIsExiting()) {
        // The service thread is gone and may have died holding the lock: nothing to stop, and
        // nobody left to complete transfers for.
        if (service_.joinable()) service_.detach();
        return;
    }
    {
        platform::CriticalSectionLock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (service_.joinable()) service_.join();
    platform::CriticalSectionLock lock(mutex_);
    for (auto& t : state_->pending) t->Complete(platform::kErrorDeviceNotConnected, 0);
    for (auto& t : state_->stalled) t->Complete(platform::kErrorDeviceNotConnected, 0);
    state_->pending.clear();
    state_->stalled.clear();
}

std::string SimCamera::InterfacePath() const {
    platform::CriticalSectionLock lock(mutex_);
    char instance[48];
    std::snprintf(instance, sizeof instance, "lum%05d_p%d", identity_.index + 1, state_->port);
    return platform::MakeInterfacePath(identity_.vendorId, identity_.productId, instance);
}

void SimCamera::PowerOn() {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    s.connected = true;
    fpga_.ClearHooks();
    sensor_.ClearHooks();
    aux_.ClearHooks();
    fpga_.Clear();
    sensor_.Clear();
    aux_.Clear();
    s.resetHeld = false;
    s.startupBegin = model_->NowMs();
    s.fpgaPointer = s.auxPointer = 0;
    s.sensorPointer = s.eepromPointer = 0;
    s.modeByte = 0;
    s.wordPair = {};
    s.eepromBusyUntil = {};
    s.wideRegisters.clear();
    s.phase = State::Phase::Idle;
    s.zeroLengthPending = false;
    ForgetFrameLocked();
    s.memoryRead = s.memoryWrite = false;
    // Before the first frame the counter register holds the value just before it, so the
    // first frame is seen as a change.
    fpga_.Set(usb::kFpgaFrameCounter, static_cast<uint8_t>(s.nextCounter - 1));
    InstallTransportHooksLocked();
    model_->PowerOn(*this);
}

void SimCamera::InstallTransportHooksLocked() {
    // The hooks run inside a register access, under the camera's lock.
    // 0x6C pulse: the FPGA's stream output restarts at a frame boundary. A partly sent frame is
    // dropped; the sensor's exposure and a frame not yet begun are not touched.
    fpga_.OnWrite(usb::kFpgaStreamRestart,
                  [this](uint32_t, uint8_t value, uint8_t) LUMORA_REQUIRES(mutex_) {
                      if (value & 1) RestartStreamLocked();
                  });
    // 0x82 bit 0 held and released: the camera starts up again.
    fpga_.OnWrite(usb::kFpgaReset,
                  [this](uint32_t, uint8_t value, uint8_t previous) LUMORA_REQUIRES(mutex_) {
                      if (value & 1) {
                          state_->resetHeld = true;
                      } else if ((previous & 1) || state_->resetHeld) {
                          state_->resetHeld = false;
                          state_->startupBegin = model_->NowMs();
                      }
                  });
    // The status register reads 0 (idle) unless a model says otherwise.
    fpga_.OnRead(usb::kFpgaStatus, [](uint32_t, uint8_t) -> uint8_t { return 0; });
}

void SimCamera::MoveToNewPort() {
    platform::CriticalSectionLock lock(mutex_);
    ++state_->port;
}

int SimCamera::Port() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->port;
}

void SimCamera::SetStartupTimeMs(uint32_t ms) {
    platform::CriticalSectionLock lock(mutex_);
    state_->startupMs = ms;
}

void SimCamera::SetFrameCounterStart(uint32_t value) {
    platform::CriticalSectionLock lock(mutex_);
    state_->nextCounter = value & 0xFF;
    fpga_.Set(usb::kFpgaFrameCounter, static_cast<uint8_t>(state_->nextCounter - 1));
}

void SimCamera::SetFirmwareVersion(uint16_t version) {
    platform::CriticalSectionLock lock(mutex_);
    state_->firmwareVersion = version;
}

void SimCamera::SetEepromWriteCycleMs(uint32_t ms) {
    platform::CriticalSectionLock lock(mutex_);
    state_->eepromWriteCycle = std::chrono::milliseconds(ms);
    state_->eepromBusyUntil = {};
}

void SimCamera::SetLinkSpeedCode(uint32_t code) {
    platform::CriticalSectionLock lock(mutex_);
    state_->linkSpeed = code;
}

uint32_t SimCamera::LinkSpeedCode() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->linkSpeed;
}

void SimCamera::InjectFault(SimFault fault, int count, int param) {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    const int n = std::max(count, 0);
    const uint32_t delta = param > 0 ? static_cast<uint32_t>(param) : kDefaultFaultPayloadDelta;
    switch (fault) {
        case SimFault::None:
            break;
        case SimFault::BulkFail:
            s.bulkFail = n;
            break;
        case SimFault::BulkStall:
            s.bulkStall = n;
            break;
        case SimFault::ShortPayload:
            s.shortPayload = n, s.shortDelta = delta;
            break;
        case SimFault::LongPayload:
            s.longPayload = n, s.longDelta = delta;
            break;
        case SimFault::I2cRefuse:
            s.i2cRefuse = n;
            break;
        case SimFault::EepromWrite:
            s.eepromWriteFail = n;
            break;
        case SimFault::SlowStartup:
            s.startupMs = static_cast<uint32_t>(std::max(param, 0));
            s.startupBegin = model_->NowMs();
            break;
    }
}

void SimCamera::ClearFaults() {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    s.bulkFail = s.bulkStall = s.shortPayload = s.longPayload = s.i2cRefuse = 0;
    s.eepromWriteFail = 0;
}

int SimCamera::FaultsPending() const {
    platform::CriticalSectionLock lock(mutex_);
    const auto& s = *state_;
    return s.bulkFail + s.bulkStall + s.shortPayload + s.longPayload + s.i2cRefuse +
           s.eepromWriteFail;
}

bool SimCamera::IsReady() const {
    platform::CriticalSectionLock lock(mutex_);
    const auto& s = *state_;
    return !s.resetHeld && model_->NowMs() - s.startupBegin >= s.startupMs;
}

uint32_t SimCamera::FrameCounter() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->nextCounter;
}

uint64_t SimCamera::FramesSent() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->framesSent;
}

size_t SimCamera::PendingTransfers() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->pending.size() + state_->stalled.size();
}

void SimCamera::ReleaseFrame() {
    ReleaseFrameAfter(std::chrono::microseconds(0));
}

void SimCamera::ReleaseFrameAfter(std::chrono::microseconds delay) {
    platform::CriticalSectionLock lock(mutex_);
    if (state_->phase != State::Phase::Armed || !state_->waitingForRelease) return;
    state_->waitingForRelease = false;
    state_->readyAt = SteadyClock::now() + delay;
    ServicePendingLocked();
}

void SimCamera::RestartStreamLocked() {
    auto& s = *state_;
    s.zeroLengthPending = false;
    if (s.phase != State::Phase::Header && s.phase != State::Phase::Payload) return;
    s.phase = State::Phase::Idle;
    ForgetFrameLocked();
}

// The payload's bytes are kept for the next frame, so a frame of the same size is drawn over the
// last one's without a new allocation and without zeroing them first: cleared here, the next
// frame's resize zeroed every byte of it again (a whole frame's memset a frame, a tenth of the
// simulated camera's time at 71 fps). Nothing reads them before the next frame is taken.
void SimCamera::ForgetFrameLocked() {
    auto& s = *state_;
    s.drawing = nullptr;
    s.drawBytes = 0;
    s.payloadSent = 0;
    s.pictureAway = 0;
}

void SimCamera::DropFrame() {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    s.phase = State::Phase::Idle;
    s.zeroLengthPending = false;
    ForgetFrameLocked();
    s.memoryRead = s.memoryWrite = false;
    model_->OnStreamReset(*this);
}

// ---- Control transfers ----

int SimCamera::ControlTransfer(const ControlSetup& setup, std::span<uint8_t> data) {
    platform::CriticalSectionLock lock(mutex_);
    if (!state_->connected) return -1;
    ++state_->log.controlRequests;
    if (setup.request == usb::kReqStreamKick) ++state_->log.kicks;
    if (setup.request == usb::kReqStreamReset) ++state_->log.streamResets;
    return HandleVendorRequest(setup, data);
}

int SimCamera::HandleVendorRequest(const ControlSetup& setup, std::span<uint8_t> data) {
    const auto* info = usb::FindVendorRequest(setup.request);
    const auto* shape = ShapeOf(setup.request);
    if (!info || !shape || info->requestType != setup.requestType) return -1;
    if (!StageFits(*shape, setup, data)) return -1;
    auto& s = *state_;
    if (setup.IsIn()) std::fill(data.begin(), data.end(), 0);
    // An OUT request takes the whole data stage; an IN request is answered with its own length.
    const int reply = shape->replyBytes == kCountInValue ? setup.value : shape->replyBytes;
    const int taken = setup.IsIn() ? reply : static_cast<int>(data.size());
    switch (setup.request) {
        case usb::kReqI2cWrite:
            return I2cWrite(static_cast<uint8_t>(setup.index), data.first(setup.value)) ? taken
                                                                                        : -1;
        case usb::kReqI2cRead:
            if ((setup.index & 1) == 0) return -1;  // reads use the odd bus address
            return I2cRead(static_cast<uint8_t>(setup.index & 0xFE), data.first(setup.value))
                       ? taken
                       : -1;
        case usb::kReqSetModeByte:
            s.modeByte = data[0];
            return taken;
        case usb::kReqGetModeByte:
            data[0] = s.modeByte;
            return taken;
        case usb::kReqWriteWordPair:
            s.wordPair[0] = static_cast<uint16_t>((data[0] << 8) | data[1]);
            s.wordPair[1] = static_cast<uint16_t>((data[2] << 8) | data[3]);
            return taken;
        case usb::kReqReadSelectedWord:
            platform::StoreLe16(data.data(), s.wordPair[setup.value & 1]);
            return taken;
        case usb::kReqBridgeInfo:
            std::memcpy(data.data(), "LUMORA FX3 BRIDGE", 17);
            platform::StoreLe16(data.data() + usb::kBridgeInfoFirmwareOffset, s.firmwareVersion);
            platform::StoreLe16(data.data() + 26, identity_.productId);
            data[usb::kBridgeInfoGpio25Offset] = 1;
            return taken;
        case usb::kReqBridgeInfoExtra:
            std::memcpy(data.data(), identity_.serialNumber.data(),
                        std::min<size_t>(identity_.serialNumber.size(), 32));
            platform::StoreLe16(data.data() + 32, identity_.vendorId);
            platform::StoreLe16(data.data() + 34, identity_.productId);
            return taken;
        case usb::kReqStreamReset:
            DropFrame();
            return taken;
        case usb::kReqStreamKick:
            if (s.phase == State::Phase::Idle && !s.memoryRead) {
                StartFrameLocked();
                ServicePendingLocked();  // a read may already be waiting for this frame
            }
            return taken;
        case usb::kReqReadyFlag:
            data[0] = IsReady() ? 1 : 0;
            return taken;
        case usb::kReqEndpointCommand:
            return taken;
        case usb::kReqWriteWide: {
            const uint16_t address =
                static_cast<uint16_t>(((setup.value & 1) << 15) | (setup.index & 0x7FFF));
            s.wideRegisters[address] = platform::LoadLe32(data.data());
            return taken;
        }
        case usb::kReqReadWide: {
            auto it = s.wideRegisters.find(setup.index);
            platform::StoreLe32(data.data(), it == s.wideRegisters.end() ? 0 : it->second);
            return taken;
        }
        default:
            return -1;
    }
}

// ---- The I2C bus ----

bool SimCamera::I2cWrite(uint8_t busAddress, std::span<const uint8_t> bytes) {
    auto& s = *state_;
    if (s.i2cRefuse > 0) {
        --s.i2cRefuse;
        return false;
    }
    switch (busAddress) {
        case usb::kBusFpga:
            // [reg] sets the read pointer; [reg, 0x00, value] writes.
            if (bytes.size() == 1) {
                s.fpgaPointer = bytes[0];
                return true;
            }
            if (bytes.size() < 3) return false;
            s.fpgaPointer = bytes[0];
            return fpga_.Write(bytes[0], bytes[2]);
        case usb::kBusSensor: {
            if (bytes.size() < 2 || !model_->SensorBusGranted(*this)) return false;
            uint16_t reg = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
            s.sensorPointer = reg;
            for (size_t i = 2; i < bytes.size(); ++i) sensor_.Write(reg++, bytes[i]);
            return true;
        }
        case usb::kBusEeprom: {
            if (bytes.size() < 2 || EepromBusyLocked()) return false;
            uint16_t address = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
            s.eepromPointer = address;
            if (bytes.size() == 2) return true;
            if (s.eepromWriteFail > 0) {
                --s.eepromWriteFail;
                return false;
            }
            for (size_t i = 2; i < bytes.size(); ++i) eeprom_[address++] = bytes[i];
            s.eepromBusyUntil = SteadyClock::now() + s.eepromWriteCycle;
            return true;
        }
        case usb::kBusAux: {
            if (bytes.empty()) return false;
            uint8_t reg = bytes[0];
            s.auxPointer = reg;
            for (size_t i = 1; i < bytes.size(); ++i) aux_.Write(reg++, bytes[i]);
            return true;
        }
        default:
            return false;  // nobody answers at this address
    }
}

bool SimCamera::I2cRead(uint8_t busAddress, std::span<uint8_t> out) {
    auto& s = *state_;
    if (s.i2cRefuse > 0) {
        --s.i2cRefuse;
        return false;
    }
    switch (busAddress) {
        case usb::kBusFpga:
            // Two bytes per register: a zero high byte, then the value.
            for (size_t i = 0; i < out.size(); ++i) {
                out[i] = (i % 2 == 1) ? fpga_.Read(static_cast<uint8_t>(s.fpgaPointer + i / 2)) : 0;
            }
            return true;
        case usb::kBusSensor:
            if (!model_->SensorBusGranted(*this)) return false;
            for (auto& byte : out) byte = sensor_.Read(s.sensorPointer++);
            return true;
        case usb::kBusEeprom:
            if (EepromBusyLocked()) return false;
            for (auto& byte : out) byte = eeprom_[s.eepromPointer++];
            return true;
        case usb::kBusAux:
            for (auto& byte : out) byte = aux_.Read(s.auxPointer++);
            return true;
        default:
            return false;
    }
}

bool SimCamera::EepromBusyLocked() const {
    return SteadyClock::now() < state_->eepromBusyUntil;
}

// ---- Bulk endpoints ----

void SimCamera::StartFrameLocked() {
    auto& s = *state_;
    s.phase = State::Phase::Armed;
    const auto delay = model_->FrameDelayMs(*this);
    s.waitingForRelease = !delay.has_value();
    s.readyAt = SteadyClock::now() + std::chrono::milliseconds(delay.value_or(0));
}

void SimCamera::SubmitBulk(std::shared_ptr<SimBulkTransfer> transfer) {
    if (transfer->IsIn() && transfer->Endpoint() == usb::kEndpointStreamIn) DrawPictureUnlocked();
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    Append(s.log.bulkTransfers,
           std::pair<uint8_t, uint32_t>(transfer->Endpoint(),
                                        static_cast<uint32_t>(transfer->Data().size())));
    if (!s.connected) {
        transfer->Complete(platform::kErrorDeviceNotConnected, 0);
        return;
    }
    if (s.bulkFail > 0) {
        --s.bulkFail;
        transfer->Complete(platform::kErrorGenFailure, 0);
        return;
    }
    if (s.bulkStall > 0) {
        --s.bulkStall;
        s.stalled.push_back(std::move(transfer));
        return;
    }
    if (!transfer->IsIn()) {
        uint32_t error = platform::kErrorSuccess;
        uint32_t bytes = 0;
        TryCompleteLocked(*transfer, &error, &bytes);
        transfer->Complete(error, bytes);
        return;
    }
    if (transfer->Endpoint() != usb::kEndpointStreamIn) {
        transfer->Complete(platform::kErrorGenFailure, 0);  // nothing streams on this endpoint
        return;
    }
    s.pending.push_back(std::move(transfer));
    ServicePendingLocked();
}

bool SimCamera::TryCompleteLocked(SimBulkTransfer& transfer, uint32_t* error, uint32_t* bytes) {
    *error = platform::kErrorSuccess;
    *bytes = 0;
    if (!transfer.IsIn()) {
        TakeOutLocked(transfer.Data(), error, bytes);
        return true;
    }
    return SendInLocked(transfer.Data(), bytes);
}

// Endpoint 0x01: the data of a memory write under way, or a stream command.
void SimCamera::TakeOutLocked(std::span<uint8_t> data, uint32_t* error, uint32_t* bytes) {
    auto& s = *state_;
    if (s.memoryWrite) {
        const uint32_t n =
            std::min<uint32_t>(static_cast<uint32_t>(data.size()), s.memoryRemaining);
        WriteCameraMemory(s.memoryAddress, data.first(n));
        s.memoryAddress += n;
        s.memoryRemaining -= n;
        if (s.memoryRemaining == 0) s.memoryWrite = false;
        *bytes = static_cast<uint32_t>(data.size());
        return;
    }
    auto command = usb::StreamCommand::Read(data.data(), data.size());
    if (!command) {
        *error = platform::kErrorGenFailure;
        return;
    }
    Append(s.log.streamCommands, *command);
    s.memoryAddress = command->address;
    s.memoryRemaining = command->length;
    s.memoryRead = !command->isWrite && command->length > 0;
    s.memoryWrite = command->isWrite && command->length > 0;
    if (s.memoryRead) s.phase = State::Phase::Idle;  // the memory read takes the endpoint
    *bytes = static_cast<uint32_t>(data.size());
}

// Endpoint 0x81, in this order: the data of a memory read, the zero-length packet that ended
// the last frame, the next frame's header, its payload. False while there is nothing to send.
bool SimCamera::SendInLocked(std::span<uint8_t> data, uint32_t* bytes) {
    auto& s = *state_;
    if (s.memoryRead) {
        *bytes = SendMemoryReadLocked(data);
        return true;
    }
    if (s.zeroLengthPending) {
        s.zeroLengthPending = false;
        return true;
    }
    switch (s.phase) {
        case State::Phase::Idle:
            return false;
        case State::Phase::Armed:
            if (s.waitingForRelease || SteadyClock::now() < s.readyAt) return false;
            CaptureFrameLocked();
            *bytes = SendHeaderLocked(data);
            return true;
        case State::Phase::Header:
            *bytes = SendHeaderLocked(data);
            return true;
        case State::Phase::Payload:
            if (s.pictureAway != 0) return false;  // back when it is drawn
            *bytes = SendPayloadLocked(data);
            return true;
    }
    return false;
}

uint32_t SimCamera::SendMemoryReadLocked(std::span<uint8_t> data) {
    auto& s = *state_;
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(data.size()), s.memoryRemaining);
    ReadCameraMemory(s.memoryAddress, data.first(n));
    s.memoryAddress += n;
    s.memoryRemaining -= n;
    if (s.memoryRemaining == 0) s.memoryRead = false;
    return n;
}

// The armed frame is captured now: its counter shows in register 0x08 and in the header, and
// the payload faults still to come spoil it.
void SimCamera::CaptureFrameLocked() {
    auto& s = *state_;
    const uint32_t counter = s.nextCounter;
    s.nextCounter = (counter + 1) & 0xFF;
    fpga_.Set(usb::kFpgaFrameCounter, static_cast<uint8_t>(counter));
    const FrameGeometry geometry = model_->Geometry(*this);
    uint64_t announced = geometry.PayloadLength();
    if (s.longPayload > 0) {
        --s.longPayload;
        announced += s.longDelta;
    }
    announced = std::min<uint64_t>(announced, 0xFFFFFFFFu);
    uint64_t actual = announced;
    if (s.shortPayload > 0) {
        --s.shortPayload;
        actual = announced > s.shortDelta ? announced - s.shortDelta : 0;
    }
    // The picture is drawn over the last frame's bytes; only a tail past it (a longer payload
    // than the frame) is zeroed. It is drawn when the payload is first read: the header goes out
    // now, as the camera's does when the frame is read out, whatever the drawing costs the host.
    const size_t rendered = static_cast<size_t>(std::min(announced, geometry.PayloadLength()));
    s.payload.resize(static_cast<size_t>(announced));
    std::fill(s.payload.begin() + static_cast<std::ptrdiff_t>(rendered), s.payload.end(),
              uint8_t{0});
    s.payload.resize(static_cast<size_t>(actual));
    s.drawing = model_->CapturePayload(*this, geometry, counter);
    s.drawBytes = std::min(rendered, s.payload.size());
    ++s.frameSerial;
    const auto words = model_->HeaderWords(*this, counter);
    usb::FrameHeader header;
    header.payloadLength = static_cast<uint32_t>(announced);
    header.wordA = words.wordA;
    header.frameCounter = counter;
    header.wordC = words.wordC;
    header.wordD = words.wordD;
    header.Write(s.header.data());
    s.phase = State::Phase::Header;
}

// The header goes in one short packet of its own.
uint32_t SimCamera::SendHeaderLocked(std::span<uint8_t> data) {
    auto& s = *state_;
    const size_t n = std::min(data.size(), s.header.size());
    std::memcpy(data.data(), s.header.data(), n);
    s.phase = State::Phase::Payload;
    s.payloadSent = 0;
    if (s.payload.empty()) FinishFrameLocked();
    return static_cast<uint32_t>(n);
}

// A transfer takes what is left of the frame, at most its size; a frame that ends early ends
// the transfer short.
uint32_t SimCamera::SendPayloadLocked(std::span<uint8_t> data) {
    auto& s = *state_;
    if (s.drawing) {
        // A read that found the picture undrawn (one waiting on the service thread) draws it
        // here, under the lock.
        const auto drawing = std::move(s.drawing);
        s.drawing = nullptr;
        model_->PictureDrawn(*this, DrawPicture(drawing, {s.payload.data(), s.drawBytes}));
    }
    const size_t n = std::min(data.size(), s.payload.size() - s.payloadSent);
    std::memcpy(data.data(), s.payload.data() + s.payloadSent, n);
    s.payloadSent += n;
    if (s.payloadSent == s.payload.size()) FinishFrameLocked();
    return static_cast<uint32_t>(n);
}

void SimCamera::FinishFrameLocked() {
    auto& s = *state_;
    const size_t packet =
        s.linkSpeed == platform::kSpeedSuper ? kSuperSpeedPacket : kHighSpeedPacket;
    s.zeroLengthPending = !s.payload.empty() && s.payload.size() % packet == 0;
    s.phase = State::Phase::Idle;
    ForgetFrameLocked();
    ++s.framesSent;
}

namespace {
std::atomic<uint64_t> gServiceCpuNs{0};

uint64_t ThreadCpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// The camera's own service thread counts all its time, waking and waiting included; on it the
// scopes below would count the same time twice.
thread_local bool tOnServiceThread = false;

// Adds the calling thread's CPU time between construction and destruction to the camera's share.
struct ServiceCpuScope {
    uint64_t start = tOnServiceThread ? 0 : ThreadCpuNs();
    ~ServiceCpuScope() {
        if (!tOnServiceThread) gServiceCpuNs.fetch_add(ThreadCpuNs() - start);
    }
};
}  // namespace

uint64_t SimCamera::CpuNanoseconds() {
    return gServiceCpuNs.load();
}

// The picture of a frame is the camera's work, done by its sensor while the host's thread
// waits for the bytes; drawing it is the simulator's longest task by far. It is drawn here
// without the camera's lock, so register requests meanwhile are answered as a camera answers
// them while it reads a frame out, at the priority DrawPicture chooses.
void SimCamera::DrawPictureUnlocked() {
    SimCameraModel::PayloadDrawing drawing;
    std::vector<uint8_t> payload;
    size_t bytes = 0;
    uint64_t serial = 0;
    {
        platform::CriticalSectionLock lock(mutex_);
        auto& s = *state_;
        if (s.phase != State::Phase::Payload || !s.drawing || s.pictureAway != 0) return;
        drawing = std::move(s.drawing);
        s.drawing = nullptr;
        payload = std::move(s.payload);
        s.payload.clear();
        bytes = s.drawBytes;
        serial = s.pictureAway = s.frameSerial;
    }
    SteadyClock::duration took{};
    {
        const ServiceCpuScope cpu;
        took = DrawPicture(drawing, {payload.data(), bytes});
    }
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    model_->PictureDrawn(*this, took);
    if (s.pictureAway != serial) return;  // the frame was dropped meanwhile
    s.pictureAway = 0;
    s.payload = std::move(payload);
    ServicePendingLocked();  // reads that came meanwhile
}

void SimCamera::ServicePendingLocked() {
    const ServiceCpuScope cpu;
    auto& s = *state_;
    while (!s.pending.empty()) {
        uint32_t error = platform::kErrorSuccess;
        uint32_t bytes = 0;
        if (!TryCompleteLocked(*s.pending.front(), &error, &bytes)) break;
        auto transfer = std::move(s.pending.front());
        s.pending.pop_front();
        transfer->Complete(error, bytes);
    }
    // A transfer waiting for a frame's ready time needs someone to wake it then.
    if (!s.pending.empty() && s.phase == State::Phase::Armed && !s.waitingForRelease) {
        EnsureServiceThreadLocked();
        wake_.notify_all();
    }
}

void SimCamera::EnsureServiceThreadLocked() {
    if (!service_.joinable() && !stopping_) service_ = std::thread([this] { ServiceThread(); });
}

void SimCamera::ServiceThread() {
    tOnServiceThread = true;
    uint64_t counted = ThreadCpuNs();
    platform::CriticalSectionLock lock(mutex_);
    while (!stopping_) {
        const uint64_t now = ThreadCpuNs();
        gServiceCpuNs.fetch_add(now - counted);
        counted = now;
        auto& s = *state_;
        const auto clock = SteadyClock::now();
        // A copy: the wait reads its deadline again after letting go of the lock, when a kick
        // may be rewriting readyAt.
        std::optional<SteadyClock::time_point> until;
        if (!s.pending.empty() && s.phase == State::Phase::Armed && !s.waitingForRelease) {
            if (clock >= s.readyAt) {
                ServicePendingLocked();
                continue;
            }
            until = s.readyAt;
        }
        // The claim lingers while the camera is in use and a while after, as a real camera's
        // does, so another process cannot take it between two requests.
        if (claim_.Held()) {
            if (!s.pending.empty() || !s.stalled.empty()) s.lastUse = clock;
            const auto idleEnd = s.lastUse + kClaimLinger;
            if (clock >= idleEnd) {
                claim_.Release();
                continue;
            }
            until = until ? std::min(*until, idleEnd) : idleEnd;
        }
        if (until) {
            wake_.wait_until(mutex_, *until);
        } else {
            wake_.wait(mutex_);
        }
    }
}

uint32_t SimCamera::Claim() {
    platform::CriticalSectionLock lock(mutex_);
    if (!state_->connected) return platform::kErrorSuccess;  // the request fails as unplugged
    if (!claim_.Acquire()) return platform::kErrorBusy;
    state_->lastUse = SteadyClock::now();
    EnsureServiceThreadLocked();
    wake_.notify_all();
    return platform::kErrorSuccess;
}

void SimCamera::AbortEndpoint(uint8_t endpoint) {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    std::vector<std::shared_ptr<SimBulkTransfer>> aborted;
    for (auto it = s.pending.begin(); it != s.pending.end();) {
        if ((*it)->Endpoint() == endpoint) {
            aborted.push_back(std::move(*it));
            it = s.pending.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = s.stalled.begin(); it != s.stalled.end();) {
        if ((*it)->Endpoint() == endpoint) {
            aborted.push_back(std::move(*it));
            it = s.stalled.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& t : aborted) t->Complete(platform::kErrorOperationAborted, 0);
}

bool SimCamera::ResetEndpoint(uint8_t /*endpoint*/) {
    platform::CriticalSectionLock lock(mutex_);
    return state_->connected;
}

bool SimCamera::ResetPort() {
    platform::CriticalSectionLock lock(mutex_);
    if (!state_->connected) return false;
    AbortEndpoint(usb::kEndpointStreamIn);
    AbortEndpoint(usb::kEndpointCommandOut);
    AbortEndpoint(usb::kEndpointSideIn);
    DropFrame();
    return true;
}

void SimCamera::Disconnect() {
    platform::CriticalSectionLock lock(mutex_);
    auto& s = *state_;
    s.connected = false;
    claim_.Release();  // a camera that left the bus is nobody's
    for (auto& t : s.pending) t->Complete(platform::kErrorDeviceNotConnected, 0);
    for (auto& t : s.stalled) t->Complete(platform::kErrorDeviceNotConnected, 0);
    s.pending.clear();
    s.stalled.clear();
    s.phase = State::Phase::Idle;
    s.zeroLengthPending = false;
    ForgetFrameLocked();
}

SimCamera::BusLog SimCamera::Log() const {
    platform::CriticalSectionLock lock(mutex_);
    return state_->log;
}

void SimCamera::ClearLog() {
    platform::CriticalSectionLock lock(mutex_);
    state_->log = BusLog{};
}

void SimCamera::WriteCameraMemory(uint64_t address, std::span<const uint8_t> data) {
    platform::CriticalSectionLock lock(mutex_);
    for (size_t i = 0; i < data.size();) {
        const uint64_t at = address + i;
        auto& page = state_->memory[at / kMemoryPageSize];  // new pages start zeroed
        const size_t offset = static_cast<size_t>(at % kMemoryPageSize);
        const size_t n = std::min(kMemoryPageSize - offset, data.size() - i);
        std::memcpy(page.data() + offset, data.data() + i, n);
        i += n;
    }
}

void SimCamera::ReadCameraMemory(uint64_t address, std::span<uint8_t> out) const {
    platform::CriticalSectionLock lock(mutex_);
    for (size_t i = 0; i < out.size();) {
        const uint64_t at = address + i;
        const size_t offset = static_cast<size_t>(at % kMemoryPageSize);
        const size_t n = std::min(kMemoryPageSize - offset, out.size() - i);
        auto it = state_->memory.find(at / kMemoryPageSize);
        if (it == state_->memory.end()) {
            std::memset(out.data() + i, 0, n);
        } else {
            std::memcpy(out.data() + i, it->second.data() + offset, n);
        }
        i += n;
    }
}

}  // namespace lumora::sim
