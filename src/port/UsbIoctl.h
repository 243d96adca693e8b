#pragma once
// What the camera's kernel driver understands: its I/O control codes, the error numbers its
// requests complete with, and the 38-byte SingleTransfer header that leads every transfer.
// Both port backends decode requests with these definitions; the transport encodes them.
#include <cstdint>
#include <span>

#include "platform/LittleEndian.h"

namespace lumora::platform {

// I/O control codes of the camera driver.
inline constexpr uint32_t kIoctlControlTransfer = 0x00220020;  // ControlRequest, 102 bytes
inline constexpr uint32_t kIoctlBufferedBulk = 0x00220024;     // header + data in one buffer
inline constexpr uint32_t kIoctlDirectBulk = 0x0022004B;       // header in, caller's data out
inline constexpr uint32_t kIoctlAbortPipe = 0x00220044;        // 1 byte: endpoint address
inline constexpr uint32_t kIoctlResetPipe = 0x0022002C;        // 1 byte: endpoint address
inline constexpr uint32_t kIoctlResetPort = 0x00220030;        // no data
inline constexpr uint32_t kIoctlGetSpeed = 0x0022004C;         // 4 bytes in, 4 bytes out

// Error numbers a request completes with (the values callers compare against).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoIncomplete = 996;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Link speed codes of the driver's speed request.
inline constexpr uint32_t kSpeedLow = 1;
inline constexpr uint32_t kSpeedFull = 2;
inline constexpr uint32_t kSpeedHigh = 3;
inline constexpr uint32_t kSpeedSuper = 4;

// The request header of every control and bulk transfer (little-endian, packed on the wire).
struct SingleTransfer {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    uint32_t timeoutSeconds = 0;
    uint8_t reserved = 0;
    uint8_t endpoint = 0;
    uint32_t status = 0;     // written by the driver
    uint32_t usbStatus = 0;  // written by the driver
    uint32_t isoPacketOffset = 0;
    uint32_t isoPacketLength = 0;
    uint32_t bufferOffset = 0;
    uint32_t bufferLength = 0;

    static constexpr size_t kSize = 38;
    static constexpr size_t kOffsetRequestType = 0;
    static constexpr size_t kOffsetRequest = 1;
    static constexpr size_t kOffsetValue = 2;
    static constexpr size_t kOffsetIndex = 4;
    static constexpr size_t kOffsetLength = 6;
    static constexpr size_t kOffsetTimeout = 8;
    static constexpr size_t kOffsetReserved = 12;
    static constexpr size_t kOffsetEndpoint = 13;
    static constexpr size_t kOffsetStatus = 14;
    static constexpr size_t kOffsetUsbStatus = 18;
    static constexpr size_t kOffsetIsoOffset = 22;
    static constexpr size_t kOffsetIsoLength = 26;
    static constexpr size_t kOffsetBufferOffset = 30;
    static constexpr size_t kOffsetBufferLength = 34;

    void Write(uint8_t* out) const {
        out[kOffsetRequestType] = requestType;
        out[kOffsetRequest] = request;
        StoreLe16(out + kOffsetValue, value);
        StoreLe16(out + kOffsetIndex, index);
        StoreLe16(out + kOffsetLength, length);
        StoreLe32(out + kOffsetTimeout, timeoutSeconds);
        out[kOffsetReserved] = reserved;
        out[kOffsetEndpoint] = endpoint;
        StoreLe32(out + kOffsetStatus, status);
        StoreLe32(out + kOffsetUsbStatus, usbStatus);
        StoreLe32(out + kOffsetIsoOffset, isoPacketOffset);
        StoreLe32(out + kOffsetIsoLength, isoPacketLength);
        StoreLe32(out + kOffsetBufferOffset, bufferOffset);
        StoreLe32(out + kOffsetBufferLength, bufferLength);
    }
    static SingleTransfer Read(const uint8_t* in) {
        SingleTransfer t;
        t.requestType = in[kOffsetRequestType];
        t.request = in[kOffsetRequest];
        t.value = LoadLe16(in + kOffsetValue);
        t.index = LoadLe16(in + kOffsetIndex);
        t.length = LoadLe16(in + kOffsetLength);
        t.timeoutSeconds = LoadLe32(in + kOffsetTimeout);
        t.reserved = in[kOffsetReserved];
        t.endpoint = in[kOffsetEndpoint];
        t.status = LoadLe32(in + kOffsetStatus);
        t.usbStatus = LoadLe32(in + kOffsetUsbStatus);
        t.isoPacketOffset = LoadLe32(in + kOffsetIsoOffset);
        t.isoPacketLength = LoadLe32(in + kOffsetIsoLength);
        t.bufferOffset = LoadLe32(in + kOffsetBufferOffset);
        t.bufferLength = LoadLe32(in + kOffsetBufferLength);
        return t;
    }
};
static_assert(SingleTransfer::kOffsetBufferLength + 4 == SingleTransfer::kSize);

// A control request is a SingleTransfer followed by its 64-byte data stage.
inline constexpr size_t kControlDataSize = 64;
inline constexpr size_t kControlRequestSize = SingleTransfer::kSize + kControlDataSize;
static_assert(kControlRequestSize == 102);

}  // namespace lumora::platform
