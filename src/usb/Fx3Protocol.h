#pragma once
// The camera's USB protocol as both ends see it: vendor requests and how their results are
// taken, the bus addresses on the camera's I2C bus, the "AU3R"/"AU3W" stream command and the
// 64-byte frame header. The transport builds requests from these tables; the simulated camera
// answers them.
#include <array>
#include <cstdint>
#include <optional>

#include "platform/LittleEndian.h"
#include "port/UsbIoctl.h"

namespace lumora::usb {

using platform::kControlDataSize;
using platform::kControlRequestSize;
using platform::SingleTransfer;

// Request types of the control transfers.
inline constexpr uint8_t kVendorOut = 0x40;          // vendor, host to device, device
inline constexpr uint8_t kVendorIn = 0xC0;           // vendor, device to host, device
inline constexpr uint8_t kVendorOutEndpoint = 0x42;  // vendor, host to device, endpoint

// Vendor request codes.
enum VendorRequest : uint8_t {
    kReqI2cWrite = 0x30,
    kReqI2cRead = 0x31,
    kReqSetModeByte = 0x3C,
    kReqGetModeByte = 0x3D,
    kReqWriteWordPair = 0x3E,
    kReqReadSelectedWord = 0x3F,
    kReqBridgeInfo = 0xB0,
    kReqBridgeInfoExtra = 0xB1,
    kReqStreamReset = 0xC0,
    kReqStreamKick = 0xC2,
    kReqReadyFlag = 0xC3,
    kReqEndpointCommand = 0xCC,
    kReqWriteWide = 0xD0,
    kReqReadWide = 0xD1,
};

// How much of an IN reply a request needs before its result is taken.
enum class ReplyRule : uint8_t {
    None,   // OUT request, nothing taken
    Count,  // at least the requested count (I2C read)
    Any,    // at least one data byte
    Full,   // all 64 data bytes
};

struct VendorRequestInfo {
    uint8_t code;
    uint8_t requestType;
    ReplyRule reply;
    const char* name;
};

inline constexpr std::array<VendorRequestInfo, 14> kVendorRequests{{
    {kReqI2cWrite, kVendorOut, ReplyRule::None, "I2C write"},
    {kReqI2cRead, kVendorIn, ReplyRule::Count, "I2C read"},
    {kReqSetModeByte, kVendorOut, ReplyRule::None, "set mode byte"},
    {kReqGetModeByte, kVendorIn, ReplyRule::Any, "get mode byte"},
    {kReqWriteWordPair, kVendorOut, ReplyRule::None, "write word pair"},
    {kReqReadSelectedWord, kVendorIn, ReplyRule::Any, "read selected word"},
    {kReqBridgeInfo, kVendorIn, ReplyRule::Full, "bridge information"},
    {kReqBridgeInfoExtra, kVendorIn, ReplyRule::Full, "bridge information extra"},
    {kReqStreamReset, kVendorOut, ReplyRule::None, "stream reset"},
    {kReqStreamKick, kVendorOutEndpoint, ReplyRule::None, "stream kick"},
    {kReqReadyFlag, kVendorIn, ReplyRule::Full, "ready flag"},
    {kReqEndpointCommand, kVendorOutEndpoint, ReplyRule::None, "endpoint command"},
    {kReqWriteWide, kVendorOut, ReplyRule::None, "write wide register"},
    {kReqReadWide, kVendorIn, ReplyRule::Full, "read wide register"},
}};

constexpr const VendorRequestInfo* FindVendorRequest(uint8_t code) {
    for (const auto& info : kVendorRequests) {
        if (info.code == code) return &info;
    }
    return nullptr;
}

// Control requests carry this header besides the per-request fields.
inline constexpr uint16_t kControlLengthField = 102;
inline constexpr uint32_t kControlTimeoutSeconds = 3;
inline constexpr size_t kMaxI2cTransfer = 64;

// Bus addresses on the camera's I2C bus (8-bit write form; reads set bit 0).
inline constexpr uint8_t kBusFpga = 0x40;
inline constexpr uint8_t kBusSensor = 0x48;  // the IMX992
inline constexpr uint8_t kBusAux = 0x5A;
inline constexpr uint8_t kBusEeprom = 0xA2;

// FPGA registers the transport itself touches.
inline constexpr uint8_t kFpgaStatus = 0x02;        // 0 when idle
inline constexpr uint8_t kFpgaFrameCounter = 0x08;  // 8-bit frame counter
inline constexpr uint8_t kFpgaCapabilityLow = 0x10;
inline constexpr uint8_t kFpgaCapabilityHigh = 0x11;
inline constexpr uint8_t kFpgaDepth = 0x3C;  // 1 = 8-bit, 2 = 16-bit pixels
inline constexpr uint8_t kFpgaHeightLow = 0x40;
inline constexpr uint8_t kFpgaHeightHigh = 0x41;
inline constexpr uint8_t kFpgaWidthLow = 0x44;
inline constexpr uint8_t kFpgaWidthHigh = 0x45;
inline constexpr uint8_t kFpgaStreamRestart = 0x6C;  // written 1 then 0
inline constexpr uint8_t kFpgaReset = 0x82;          // bit 0 pulsed restarts the camera
inline constexpr uint8_t kFpgaSensorBusRequest = 0x9F;

// Bulk endpoints.
inline constexpr uint8_t kEndpointCommandOut = 0x01;
inline constexpr uint8_t kEndpointStreamIn = 0x81;
inline constexpr uint8_t kEndpointSideIn = 0x83;

// Bridge information record (vendor request 0xB0).
inline constexpr size_t kBridgeInfoSize = 64;
inline constexpr size_t kBridgeInfoFirmwareOffset = 24;  // little-endian 16-bit
inline constexpr size_t kBridgeInfoGpio25Offset = 52;

// A vendor request as the driver takes it: the SingleTransfer header and the 64-byte data
// stage behind it, sent and received in place (102 bytes).
struct ControlRequest {
    static constexpr size_t kSize = kControlRequestSize;
    static constexpr size_t kOffsetData = SingleTransfer::kSize;

    SingleTransfer header;
    std::array<uint8_t, kControlDataSize> data{};

    // The header every vendor request carries: length 102, 3-second time-out, endpoint 0, the
    // data stage at offset 38 and 64 bytes long.
    static ControlRequest For(const VendorRequestInfo& info, uint16_t value, uint16_t index) {
        ControlRequest request;
        request.header.requestType = info.requestType;
        request.header.request = info.code;
        request.header.value = value;
        request.header.index = index;
        request.header.length = kControlLengthField;
        request.header.timeoutSeconds = kControlTimeoutSeconds;
        request.header.endpoint = 0;
        request.header.bufferOffset = SingleTransfer::kSize;
        request.header.bufferLength = kControlDataSize;
        return request;
    }
    void Write(uint8_t* out) const {
        header.Write(out);
        for (size_t i = 0; i < data.size(); ++i) out[kOffsetData + i] = data[i];
    }
    static ControlRequest Read(const uint8_t* in) {
        ControlRequest request;
        request.header = SingleTransfer::Read(in);
        for (size_t i = 0; i < request.data.size(); ++i) request.data[i] = in[kOffsetData + i];
        return request;
    }
};
static_assert(ControlRequest::kOffsetData + kControlDataSize == ControlRequest::kSize);

// The 32-byte command that precedes a memory read or write on endpoint 0x01.
struct StreamCommand {
    static constexpr size_t kSize = 32;
    static constexpr std::array<uint8_t, 4> kMagicRead{'A', 'U', '3', 'R'};
    static constexpr std::array<uint8_t, 4> kMagicWrite{'A', 'U', '3', 'W'};
    static constexpr uint32_t kVersion = 2;

    bool isWrite = false;
    uint64_t address = 0;
    uint32_t length = 0;

    void Write(uint8_t* out) const {
        for (size_t i = 0; i < kSize; ++i) out[i] = 0;
        const auto& magic = isWrite ? kMagicWrite : kMagicRead;
        for (size_t i = 0; i < 4; ++i) out[i] = magic[i];
        platform::StoreLe32(out + 4, kVersion);
        platform::StoreLe64(out + 8, address);
        platform::StoreLe32(out + 16, length);
    }
    // Nothing when the bytes are not a stream command.
    static std::optional<StreamCommand> Read(const uint8_t* in, size_t size) {
        if (size != kSize) return std::nullopt;
        StreamCommand c;
        bool read = true;
        bool write = true;
        for (size_t i = 0; i < 4; ++i) {
            read = read && in[i] == kMagicRead[i];
            write = write && in[i] == kMagicWrite[i];
        }
        if (!read && !write) return std::nullopt;
        c.isWrite = write;
        c.address = platform::LoadLe64(in + 8);
        c.length = platform::LoadLe32(in + 16);
        return c;
    }
};

// The 64-byte header in front of every frame on endpoint 0x81.
struct FrameHeader {
    static constexpr size_t kSize = 64;
    static constexpr size_t kOffsetPayloadLength = 16;
    static constexpr size_t kOffsetWordA = 28;
    static constexpr size_t kOffsetFrameCounter = 32;
    static constexpr size_t kOffsetWordC = 40;
    static constexpr size_t kOffsetWordD = 44;

    uint32_t payloadLength = 0;
    uint32_t wordA = 0;
    uint32_t frameCounter = 0;  // header word B
    uint32_t wordC = 0;
    uint32_t wordD = 0;

    void Write(uint8_t* out) const {
        for (size_t i = 0; i < kSize; ++i) out[i] = 0;
        platform::StoreLe32(out + kOffsetPayloadLength, payloadLength);
        platform::StoreLe32(out + kOffsetWordA, wordA);
        platform::StoreLe32(out + kOffsetFrameCounter, frameCounter);
        platform::StoreLe32(out + kOffsetWordC, wordC);
        platform::StoreLe32(out + kOffsetWordD, wordD);
    }
    static FrameHeader Read(const uint8_t* in) {
        FrameHeader h;
        h.payloadLength = platform::LoadLe32(in + kOffsetPayloadLength);
        h.wordA = platform::LoadLe32(in + kOffsetWordA);
        h.frameCounter = platform::LoadLe32(in + kOffsetFrameCounter);
        h.wordC = platform::LoadLe32(in + kOffsetWordC);
        h.wordD = platform::LoadLe32(in + kOffsetWordD);
        return h;
    }
};
static_assert(FrameHeader::kOffsetWordD + 4 <= FrameHeader::kSize);

}  // namespace lumora::usb
