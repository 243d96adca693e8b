#include "usb/CLumCy3Cam.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Log.h"

namespace lumora::usb {

using platform::DeviceFile;
using platform::Event;
using platform::Overlapped;

namespace {

constexpr uint16_t kProductRestartsByStreamReset = 0x32D0;
constexpr uint16_t kProductCommandPerPiece = 0x3310;

// A 64-byte bridge reply.
using ControlData = std::array<uint8_t, kControlDataSize>;

}  // namespace

CLumCy3Cam::CLumCy3Cam(const std::string& interfaceGuid) : CFx3Api(interfaceGuid) {}

CLumCy3Cam::~CLumCy3Cam() {
    CLumCy3Cam::CloseStreamHandle();
    platform::MutexLock lock(stagingMutex_);
    stagingReady_ = false;
    stagingBuffer_.reset();
}

// ---- Control requests ----

int CLumCy3Cam::ControlTransfer(uint8_t request, uint16_t value, uint16_t index, const uint8_t* out,
                                size_t outSize, uint8_t* in, size_t inCapacity) {
    const auto* info = FindVendorRequest(request);
    if (!info) return -1;
    auto file = OpenDevicePath(SelectedRow(), false);
    if (!file) return -1;

    auto wire = ControlRequest::For(*info, value, index);
    if (out && outSize) std::memcpy(wire.data.data(), out, std::min(outSize, kControlDataSize));
    std::array<uint8_t, ControlRequest::kSize> buffer{};
    wire.Write(buffer.data());
    uint32_t returned = 0;
    const uint32_t error =
        file->IoControl(platform::kIoctlControlTransfer, buffer.data(), kControlRequestSize,
                        buffer.data(), kControlRequestSize, &returned, nullptr);
    claimedElsewhere_.store(error == platform::kErrorBusy);
    if (error != platform::kErrorSuccess) {
        platform::Log(platform::LogCategory::kUsb, 1,
                      "lumora: vendor request 0x%02x (0x%04x, 0x%04x) failed, error %u\n", request,
                      value, index, error);
        return -1;
    }
    const uint32_t dataLength = returned >= SingleTransfer::kSize
                                    ? returned - static_cast<uint32_t>(SingleTransfer::kSize)
                                    : returned;
    if (in && inCapacity) {
        std::memcpy(in, buffer.data() + SingleTransfer::kSize,
                    std::min({inCapacity, kControlDataSize, size_t{dataLength}}));
    }
    return static_cast<int>(std::min<uint32_t>(dataLength, kControlDataSize));
}

int CLumCy3Cam::ReadReadyFlag(uint8_t* flag) {
    if (!flag) return 0;
    ControlData data{};
    if (ControlTransfer(kReqReadyFlag, 0, 0, nullptr, 0, data.data(), data.size()) <
        static_cast<int>(kControlDataSize)) {
        return 0;
    }
    *flag = data[0];
    return 1;
}

int CLumCy3Cam::SendEndpointCommand() {
    return ControlTransfer(kReqEndpointCommand, 0, 0, nullptr, 0, nullptr, 0) >= 0 ? 1 : 0;
}

int CLumCy3Cam::StreamReset() {
    return ControlTransfer(kReqStreamReset, 0, 0, nullptr, 0, nullptr, 0) >= 0 ? 1 : 0;
}

int CLumCy3Cam::StreamKick() {
    return ControlTransfer(kReqStreamKick, 0, 0, nullptr, 0, nullptr, 0) >= 0 ? 1 : 0;
}

int CLumCy3Cam::I2cWrite(uint8_t busAddress, const uint8_t* data, int count,
                         uint32_t /*timeoutMs*/) {
    if (count < 0 || count > static_cast<int>(kMaxI2cTransfer) || (!data && count > 0)) return 0;
    return ControlTransfer(kReqI2cWrite, static_cast<uint16_t>(count), busAddress, data,
                           static_cast<size_t>(count), nullptr, 0) >= 0
               ? 1
               : 0;
}

int CLumCy3Cam::I2cRead(uint8_t busAddress, uint8_t* data, int count, uint32_t /*timeoutMs*/) {
    if (count < 0 || count > static_cast<int>(kMaxI2cTransfer) || (!data && count > 0)) return 0;
    ControlData reply{};
    const int n = ControlTransfer(kReqI2cRead, static_cast<uint16_t>(count),
                                  static_cast<uint16_t>(busAddress | 1), nullptr, 0, reply.data(),
                                  reply.size());
    if (n < count) return 0;  // a short reply is no read
    if (count > 0) std::memcpy(data, reply.data(), static_cast<size_t>(count));
    return 1;
}

int CLumCy3Cam::WriteWideRegister(uint16_t address, uint32_t value) {
    uint8_t data[4];
    platform::StoreLe32(data, value);
    return ControlTransfer(kReqWriteWide, static_cast<uint16_t>(address >> 15),
                           static_cast<uint16_t>(address & 0x7FFF), data, sizeof data, nullptr,
                           0) >= 0
               ? 1
               : 0;
}

int CLumCy3Cam::ReadWideRegister(uint16_t address, uint32_t* value) {
    if (!value) return 0;
    ControlData reply{};
    const int n = ControlTransfer(kReqReadWide, 0, address, nullptr, 0, reply.data(), reply.size());
    if (n < 0) return 0;
    *value = n >= static_cast<int>(kControlDataSize) ? platform::LoadLe16(reply.data()) : 0;
    return 1;
}

int CLumCy3Cam::WriteWordPair(uint16_t first, uint16_t second) {
    const uint8_t data[4] = {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                             static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second)};
    return ControlTransfer(kReqWriteWordPair, 0, 0, data, sizeof data, nullptr, 0) >= 0 ? 1 : 0;
}

int CLumCy3Cam::ReadSelectedWord(uint16_t selector, uint16_t* value) {
    if (!value) return 0;
    ControlData reply{};
    if (ControlTransfer(kReqReadSelectedWord, selector, 0, nullptr, 0, reply.data(), reply.size()) <
        2) {
        return 0;
    }
    *value = platform::LoadLe16(reply.data());
    return 1;
}

int CLumCy3Cam::SetModeByte(uint8_t mode) {
    uint8_t data[4];
    platform::StoreLe32(data, mode);
    return ControlTransfer(kReqSetModeByte, 0, 0, data, sizeof data, nullptr, 0) >= 0 ? 1 : 0;
}

int CLumCy3Cam::GetModeByte(uint8_t* mode) {
    if (!mode) return 0;
    ControlData reply{};
    if (ControlTransfer(kReqGetModeByte, 0, 0, nullptr, 0, reply.data(), reply.size()) < 1) {
        return 0;
    }
    *mode = reply[0];
    return 1;
}

int CLumCy3Cam::ReadBridgeInfo(uint8_t* info64) {
    if (!info64) return 0;
    ControlData reply{};
    if (ControlTransfer(kReqBridgeInfo, 0, 0, nullptr, 0, reply.data(), reply.size()) <
        static_cast<int>(kBridgeInfoSize)) {
        return 0;
    }
    std::memcpy(info64, reply.data(), kBridgeInfoSize);
    return 1;
}

int CLumCy3Cam::ReadBridgeInfoExtra(uint8_t* info64) {
    if (!info64) return 0;
    ControlData reply{};
    if (ControlTransfer(kReqBridgeInfoExtra, 0, 0, nullptr, 0, reply.data(), reply.size()) <
        static_cast<int>(kBridgeInfoSize)) {
        return 0;
    }
    std::memcpy(info64, reply.data(), kBridgeInfoSize);
    return 1;
}

// ---- Register families ----

int CLumCy3Cam::WriteFpgaRegister(uint8_t reg, uint8_t value) {
    platform::CriticalSectionLock lock(registerLock_);
    const uint8_t data[3] = {reg, 0x00, value};
    return I2cWrite(kBusFpga, data, 3, kShortWaitMs);
}

int CLumCy3Cam::ReadFpgaRegister(uint8_t reg, uint8_t* value) {
    if (!value) return 0;
    platform::CriticalSectionLock lock(registerLock_);
    uint8_t reply[2] = {};
    if (!I2cWrite(kBusFpga, &reg, 1, kShortWaitMs) || !I2cRead(kBusFpga, reply, 2, kShortWaitMs)) {
        return 0;
    }
    *value = reply[1];
    return 1;
}

int CLumCy3Cam::ReadCapabilityWord(uint16_t* value) {
    if (!value) return 0;
    uint8_t low = 0;
    uint8_t high = 0;
    if (!ReadFpgaRegister(kFpgaCapabilityLow, &low) ||
        !ReadFpgaRegister(kFpgaCapabilityHigh, &high)) {
        return 0;
    }
    *value = static_cast<uint16_t>(low | (high << 8));
    return 1;
}

int CLumCy3Cam::WriteAuxRegister(uint8_t reg, uint8_t value) {
    const uint8_t data[2] = {reg, value};
    return I2cWrite(kBusAux, data, 2, kShortWaitMs);
}

int CLumCy3Cam::ReadAuxRegister(uint8_t reg, uint8_t* value) {
    if (!value) return 0;
    return I2cWrite(kBusAux, &reg, 1, kShortWaitMs) && I2cRead(kBusAux, value, 1, kShortWaitMs) ? 1
                                                                                                : 0;
}

int CLumCy3Cam::WriteEepromByte(uint16_t address, uint8_t value) {
    platform::CriticalSectionLock lock(eepromLock_);
    const uint8_t data[3] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                             value};
    const int ok = I2cWrite(kBusEeprom, data, 3, kShortWaitMs);
    platform::Sleep(14);  // the EEPROM's write cycle
    return ok;
}

int CLumCy3Cam::ReadEepromByte(uint16_t address, uint8_t* value) {
    if (!value) return 0;
    platform::CriticalSectionLock lock(eepromLock_);
    const uint8_t data[2] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    if (!I2cWrite(kBusEeprom, data, 2, kShortWaitMs)) return 0;
    platform::Sleep(10);
    return I2cRead(kBusEeprom, value, 1, kShortWaitMs);
}

// ---- Device selection and the streaming handle ----

int CLumCy3Cam::SelectDevice(int row) {
    CloseStreamHandle();
    if (!IsDevicePresent(row)) return 0;
    SetSelectedRow(row);
    return 1;
}

int CLumCy3Cam::Close() {
    CloseStreamHandle();
    platform::MutexLock lock(stagingMutex_);
    stagingReady_ = false;
    stagingBuffer_.reset();
    return 1;
}

int CLumCy3Cam::AllocateStagingBuffer() {
    {
        platform::MutexLock lock(stagingMutex_);
        if (!stagingBuffer_) {
            stagingBuffer_.reset(new (std::nothrow) uint8_t[kStagingBufferSize]);
            if (!stagingBuffer_) return 0;
            stagingReady_ = true;
        }
    }
    ResetPort();
    return 1;
}

std::shared_ptr<DeviceFile> CLumCy3Cam::StreamHandle() const {
    platform::MutexLock lock(streamMutex_);
    return streamHandle_;
}

bool CLumCy3Cam::HasStreamHandle() const {
    return StreamHandle() != nullptr;
}

int CLumCy3Cam::OpenStreamHandle() {
    bool opened = false;
    return EnsureStreamHandle(&opened) ? 1 : 0;
}

bool CLumCy3Cam::EnsureStreamHandle(bool* opened) {
    *opened = false;
    platform::MutexLock lock(streamMutex_);
    if (streamHandle_) return true;
    auto file = OpenDevicePath(SelectedRow(), true);
    if (!file) return false;
    streamHandle_ = std::move(file);
    *opened = true;
    return true;
}

int CLumCy3Cam::CloseStreamHandle() {
    std::shared_ptr<DeviceFile> handle;
    {
        platform::MutexLock lock(streamMutex_);
        handle.swap(streamHandle_);
    }
    return 1;
}

int CLumCy3Cam::AbortStreamEndpoint() {
    auto handle = StreamHandle();
    if (handle) AbortEndpointOn(handle.get(), kEndpointStreamIn);
    return 1;
}

int CLumCy3Cam::AbortEndpointOn(DeviceFile* handle, uint8_t endpoint) {
    Event event(false, false);
    Overlapped overlapped(event);
    uint8_t address = endpoint;
    uint32_t returned = 0;
    const uint32_t error = handle->IoControl(platform::kIoctlAbortPipe, &address, 1, nullptr, 0,
                                             &returned, &overlapped);
    if (error == platform::kErrorIoPending) overlapped.WaitUntilDone();
    return 1;
}

// ---- Bulk transfers ----

int CLumCy3Cam::DirectTransfer(DeviceFile* handle, uint8_t* data, uint32_t length, uint8_t endpoint,
                               uint32_t* transferred, uint32_t waitMs) {
    if (transferred) *transferred = 0;
    if (length > kMaxTransferLength || !handle || !stagingReady_.load()) return 0;
    if (!data && length) return 0;

    std::array<uint8_t, SingleTransfer::kSize> header{};
    SingleTransfer request;
    request.endpoint = endpoint;
    request.Write(header.data());

    Event event(false, false);
    Overlapped overlapped(event);
    uint32_t returned = 0;
    const uint32_t issued =
        handle->IoControl(platform::kIoctlDirectBulk, header.data(), SingleTransfer::kSize, data,
                          length, &returned, &overlapped);
    bool completed = false;
    if (issued == platform::kErrorSuccess) {
        completed = true;
    } else if (issued == platform::kErrorIoPending) {
        completed = event.Wait(waitMs);
    } else {
        return 0;  // refused at once: nothing pending
    }

    uint32_t bytes = 0;
    uint32_t error = 0;
    if (!completed) {
        // Cancel on the endpoint the transfer used and wait for it before the buffer, the
        // header and the event go away.
        AbortEndpointOn(handle, endpoint);
        if (!event.Wait(kAbortGraceMs)) AbortEndpointOn(handle, endpoint);
        overlapped.WaitUntilDone();
        overlapped.GetResult(&bytes, &error);
        if (transferred) *transferred = bytes;
        return 0;
    }
    const bool ok = overlapped.GetResult(&bytes, &error);
    if (transferred) *transferred = bytes;
    const auto status = SingleTransfer::Read(header.data());
    WriteDebugLog("0x%08x   0x%08x   0x%08x   0x%08x   0x%08x   0x%08x   0x%08x   0x%08x\r\n",
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)),
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&event)), error, bytes, 0u, 0u,
                  0u, bytes);
    if (!ok) return 0;
    if (status.status != 0 || status.usbStatus != 0) {
        platform::Sleep(1);
        return 0;
    }
    return 1;
}

int CLumCy3Cam::DirectTransfer3s(DeviceFile* handle, uint8_t* data, uint32_t length,
                                 uint8_t endpoint, uint32_t* transferred) {
    return DirectTransfer(handle, data, length, endpoint, transferred, kShortWaitMs);
}

int CLumCy3Cam::KickedDirectTransfer(DeviceFile* handle, uint8_t* data, uint32_t length,
                                     uint8_t endpoint, uint32_t* transferred) {
    if (transferred) *transferred = 0;
    if (length > kMaxTransferLength || !handle || !stagingReady_.load()) return 0;
    StreamKick();
    return DirectTransfer(handle, data, length, endpoint, transferred, kKickedWaitMs);
}

int CLumCy3Cam::BufferedTransfer(DeviceFile* handle, uint8_t* data, uint32_t length,
                                 uint8_t endpoint, uint32_t* transferred) {
    if (transferred) *transferred = 0;
    if (length > kMaxTransferLength || !handle || (!data && length)) return 0;
    platform::MutexLock lock(stagingMutex_);
    if (!stagingBuffer_) return 0;
    uint8_t* staging = stagingBuffer_.get();
    const uint32_t total = length + static_cast<uint32_t>(SingleTransfer::kSize);
    std::memset(staging, 0, total);
    SingleTransfer request;
    request.endpoint = endpoint;
    request.bufferOffset = SingleTransfer::kSize;
    request.bufferLength = length;
    request.Write(staging);
    const bool in = (endpoint & 0x80) != 0;
    if (!in && length) std::memcpy(staging + SingleTransfer::kSize, data, length);

    Event event(false, false);
    Overlapped overlapped(event);
    uint32_t returned = 0;
    const uint32_t issued = handle->IoControl(platform::kIoctlBufferedBulk, staging, total, staging,
                                              total, &returned, &overlapped);
    bool completed = false;
    if (issued == platform::kErrorSuccess) {
        completed = true;
    } else if (issued == platform::kErrorIoPending) {
        completed = event.Wait(kShortWaitMs);
    } else {
        return 0;
    }
    if (!completed) {
        AbortEndpointOn(handle, endpoint);
        overlapped.WaitUntilDone();
        return 0;
    }
    uint32_t count = 0;
    uint32_t error = 0;
    if (!overlapped.GetResult(&count, &error)) return 0;
    const uint32_t dataLength = count >= SingleTransfer::kSize
                                    ? count - static_cast<uint32_t>(SingleTransfer::kSize)
                                    : count;
    if (in && dataLength <= length && dataLength) {
        std::memcpy(data, staging + SingleTransfer::kSize, dataLength);
    }
    if (transferred) *transferred = dataLength;
    return 1;
}

// ---- Streaming reads ----

int CLumCy3Cam::ReadFrameHeader(FrameHeaderRecord* header) {
    return ReadFrameHeaderWhile(header, nullptr);
}

int CLumCy3Cam::ReadFrameHeaderWhile(FrameHeaderRecord* header,
                                     const std::atomic<bool>* keepGoing) {
    if (!header) return 0;
    bool opened = false;
    if (!EnsureStreamHandle(&opened)) return 0;
    auto handle = StreamHandle();
    const uint16_t productId = GetDeviceEntry(SelectedRow()).productId;
    std::array<uint8_t, FrameHeader::kSize> status{};
    for (int attempt = 0; attempt < kHeaderAttempts && handle; ++attempt) {
        if (keepGoing != nullptr && !keepGoing->load()) break;
        if (!StreamKick()) break;
        status.fill(0);
        uint32_t n = 0;
        bool read = DirectTransfer(handle.get(), status.data(), FrameHeader::kSize,
                                   kEndpointStreamIn, &n, kHeaderWaitMs) != 0;
        // A frame whose payload ended on a packet boundary is closed by a zero-length packet;
        // the header follows it.
        if (read && n == 0) {
            read = DirectTransfer(handle.get(), status.data(), FrameHeader::kSize,
                                  kEndpointStreamIn, &n, kHeaderWaitMs) != 0;
        }
        // Only a whole header counts; anything shorter is a broken stream.
        if (read && n == FrameHeader::kSize) {
            header->bytes = status;
            header->frameCounter =
                platform::LoadLe32(status.data() + FrameHeader::kOffsetFrameCounter);
            return 1;
        }
        if (productId == kProductRestartsByStreamReset) {
            StreamReset();
            break;
        }
        WriteFpgaRegister(kFpgaStreamRestart, 1);
        WriteFpgaRegister(kFpgaStreamRestart, 0);
        platform::Sleep(10);
    }
    if (opened) CloseStreamHandle();
    return 0;
}

int CLumCy3Cam::ReadFramePayload(FrameTransferRecord* record, uint32_t waitMs) {
    if (!record || (!record->data && record->length) || record->capacity < record->length) {
        return 0;
    }
    bool opened = false;
    if (!EnsureStreamHandle(&opened)) return 0;
    auto handle = StreamHandle();
    int ok = handle ? 1 : 0;
    for (uint32_t offset = 0; ok && offset < record->length;) {
        const uint32_t piece = std::min(kPayloadPiece, record->length - offset);
        uint32_t n = 0;
        // Every piece must come back whole.
        if (!DirectTransfer(handle.get(), record->data + offset, piece, kEndpointStreamIn, &n,
                            waitMs) ||
            n != piece) {
            ok = 0;
        }
        offset += piece;
    }
    if (opened) CloseStreamHandle();
    return ok;
}

int CLumCy3Cam::ReadSideChannel(FrameTransferRecord* record) {
    if (!record || !record->data || record->capacity < record->sideChannelLength) return 0;
    bool opened = false;
    if (!EnsureStreamHandle(&opened)) return 0;
    auto handle = StreamHandle();
    uint32_t n = 0;
    const int ok = handle &&
                   KickedDirectTransfer(handle.get(), record->data, record->sideChannelLength,
                                        kEndpointSideIn, &n) &&
                   n == record->sideChannelLength;
    if (!ok && opened) CloseStreamHandle();
    return ok ? 1 : 0;
}

int CLumCy3Cam::ReadStream(FrameTransferRecord* record, uint64_t* length, uint32_t waitMs) {
    if (!record || !length || !record->data) return 0;
    // Whole 16 KiB granules are read, so the buffer must hold the rounded length.
    const uint64_t rounded = (*length + kStreamGranule - 1) / kStreamGranule * kStreamGranule;
    if (rounded > record->capacity || rounded > kMaxTransferLength) return 0;
    bool opened = false;
    if (!EnsureStreamHandle(&opened)) return 0;
    auto handle = StreamHandle();
    const uint16_t productId = GetDeviceEntry(SelectedRow()).productId;
    const bool commandPerPiece = productId == kProductCommandPerPiece;

    bool ok = handle != nullptr;
    uint32_t total = 0;
    uint32_t remaining = static_cast<uint32_t>(rounded);
    bool first = true;
    while (ok && remaining > 0) {
        const uint32_t piece = std::min(remaining, kStreamPiece);
        if (first || commandPerPiece) {
            StreamCommand command;
            command.isWrite = false;
            command.address = 0;
            command.length = commandPerPiece ? piece : static_cast<uint32_t>(rounded);
            std::array<uint8_t, StreamCommand::kSize> bytes{};
            command.Write(bytes.data());
            uint32_t sent = 0;
            if (!DirectTransfer3s(handle.get(), bytes.data(), StreamCommand::kSize,
                                  kEndpointCommandOut, &sent)) {
                ok = false;
                break;
            }
        }
        first = false;
        uint32_t n = 0;
        const int read = DirectTransfer(handle.get(), record->data + total, piece,
                                        kEndpointStreamIn, &n, waitMs);
        total += n;
        if (!read || n != piece) {
            ok = false;
            break;
        }
        remaining -= piece;
    }
    if (ok) *length = total;
    if (opened) CloseStreamHandle();
    return ok ? 1 : 0;
}

int CLumCy3Cam::MemoryTransfer(uint64_t address, uint8_t* data, uint32_t length, bool write) {
    if (!data) return 0;
    // The wire always moves whole 4 KiB pages plus one; the caller's buffer only holds `length`,
    // so the pieces go through a bounce buffer.
    const uint64_t wireLength = (uint64_t{length} & ~uint64_t{0xFFF}) + 0x1000;
    std::vector<uint8_t> bounce;
    try {
        bounce.resize(static_cast<size_t>(std::min<uint64_t>(wireLength, kMemoryPiece)));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    bool opened = false;
    if (!EnsureStreamHandle(&opened)) return 0;
    auto handle = StreamHandle();
    bool ok = handle != nullptr;
    uint64_t position = 0;
    uint64_t remaining = wireLength;
    while (ok && remaining > 0) {
        const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(remaining, kMemoryPiece));
        StreamCommand command;
        command.isWrite = write;
        command.address = address;
        command.length = piece;
        std::array<uint8_t, StreamCommand::kSize> bytes{};
        command.Write(bytes.data());
        uint32_t sent = 0;
        if (!DirectTransfer3s(handle.get(), bytes.data(), StreamCommand::kSize, kEndpointCommandOut,
                              &sent)) {
            ok = false;
            break;
        }
        const uint64_t callerBytes =
            position < length ? std::min<uint64_t>(piece, length - position) : 0;
        uint32_t n = 0;
        int moved = 0;
        if (write) {
            std::memcpy(bounce.data(), data + position, static_cast<size_t>(callerBytes));
            std::memset(bounce.data() + callerBytes, 0, piece - callerBytes);
            moved = DirectTransfer3s(handle.get(), bounce.data(), piece, kEndpointCommandOut, &n);
        } else {
            moved = DirectTransfer(handle.get(), bounce.data(), piece, kEndpointStreamIn, &n,
                                   kShortWaitMs);
            std::memcpy(data + position, bounce.data(),
                        static_cast<size_t>(std::min<uint64_t>(callerBytes, n)));
        }
        if (!moved) platform::Sleep(1);
        if (n != piece) {
            ok = false;
            break;
        }
        address += n;
        position += n;
        remaining -= n;
    }
    if (opened) CloseStreamHandle();
    return ok ? 1 : 0;
}

int CLumCy3Cam::ReadMemory(uint64_t address, uint8_t* data, uint32_t length) {
    return MemoryTransfer(address, data, length, false);
}

int CLumCy3Cam::WriteMemory(uint64_t address, const uint8_t* data, uint32_t length) {
    // The write path only reads from the caller's buffer.
    return MemoryTransfer(address, const_cast<uint8_t*>(data), length, true);
}

}  // namespace lumora::usb
