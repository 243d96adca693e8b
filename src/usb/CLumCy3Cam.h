#pragma once
// The USB controller of one camera: vendor requests and the register families built on them,
// frame header and payload reads, streamed reads, memory reads and writes, and the bulk
// transfers under them, with their time-outs and recovery.
//
// Threads: the acquisition thread runs the streaming reads while application and sensor
// threads issue control requests and may abort the stream. registerLock_ serialises FPGA
// register transactions, eepromLock_ EEPROM transactions; streamMutex_ guards the held
// streaming handle (a transfer keeps its own reference to the handle, so closing it never pulls
// it from under a transfer in flight) and stagingMutex_ the staging buffer, which one buffered
// transfer at a time uses.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/CriticalSection.h"
#include "platform/Mutex.h"
#include "usb/CControllerBase.h"
#include "usb/CFx3Api.h"
#include "usb/Fx3Protocol.h"

namespace lumora::usb {

// The 64 header bytes of a frame followed by a copy of its frame counter.
struct FrameHeaderRecord {
    std::array<uint8_t, FrameHeader::kSize> bytes{};
    uint32_t frameCounter = 0;
};

// What the driver hands the streaming reads: where the data goes and how much.
struct FrameTransferRecord {
    FrameHeaderRecord header;
    uint8_t* data = nullptr;
    uint32_t length = 0;             // requested payload length in bytes
    uint32_t capacity = 0;           // bytes `data` can hold
    uint32_t sideChannelLength = 0;  // requested length of a side-channel read
};

inline constexpr uint32_t kMaxTransferLength = 0x4000000;                // 64 MiB
inline constexpr uint32_t kStagingBufferSize = kMaxTransferLength + 38;  // 0x4000026
inline constexpr uint32_t kPayloadPiece = 0x80000;                       // 512 KiB
inline constexpr uint32_t kStreamPiece = 0x400000;                       // 4 MiB
inline constexpr uint32_t kStreamGranule = 0x4000;                       // 16 KiB
inline constexpr uint32_t kMemoryPiece = 0x1000000;                      // 16 MiB
inline constexpr int kHeaderAttempts = 15;
inline constexpr uint32_t kHeaderWaitMs = 400;
inline constexpr uint32_t kKickedWaitMs = 5000;
inline constexpr uint32_t kShortWaitMs = 3000;
inline constexpr uint32_t kAbortGraceMs = 50;

class CLumCy3Cam : public CFx3Api, public CControllerBase {
public:
    explicit CLumCy3Cam(const std::string& interfaceGuid = {});
    ~CLumCy3Cam() override;

    // CControllerBase
    int Close() override;
    int SelectDevice(int row) override;
    int ReadCapabilityWord(uint16_t* value) override;
    int ReadReadyFlag(uint8_t* flag) override;
    int SendEndpointCommand() override;
    int I2cWrite(uint8_t busAddress, const uint8_t* data, int count, uint32_t timeoutMs) override;
    int I2cRead(uint8_t busAddress, uint8_t* data, int count, uint32_t timeoutMs) override;
    int WriteWideRegister(uint16_t address, uint32_t value) override;
    int ReadWideRegister(uint16_t address, uint32_t* value) override;
    int WriteWordPair(uint16_t first, uint16_t second) override;
    int ReadSelectedWord(uint16_t selector, uint16_t* value) override;
    int WriteFpgaRegister(uint8_t reg, uint8_t value) override;
    int ReadFpgaRegister(uint8_t reg, uint8_t* value) override;
    int WriteAuxRegister(uint8_t reg, uint8_t value) override;
    int ReadAuxRegister(uint8_t reg, uint8_t* value) override;
    int WriteEepromByte(uint16_t address, uint8_t value) override;
    int ReadEepromByte(uint16_t address, uint8_t* value) override;
    int AbortStreamEndpoint() override;

    // The controller's own operations.
    virtual int OpenStreamHandle();
    virtual int ReadFrameHeader(FrameHeaderRecord* header);
    // As ReadFrameHeader, but its retries give up as soon as `keepGoing` reads false (a stop was
    // requested); a null flag never stops them.
    int ReadFrameHeaderWhile(FrameHeaderRecord* header, const std::atomic<bool>* keepGoing);
    virtual int ReadFramePayload(FrameTransferRecord* record, uint32_t waitMs);
    virtual int ReadSideChannel(FrameTransferRecord* record);
    virtual int ReadStream(FrameTransferRecord* record, uint64_t* length, uint32_t waitMs);
    virtual int CloseStreamHandle();
    virtual int WriteMemory(uint64_t address, const uint8_t* data, uint32_t length);
    virtual int ReadMemory(uint64_t address, uint8_t* data, uint32_t length);
    virtual int SetModeByte(uint8_t mode);
    virtual int GetModeByte(uint8_t* mode);
    virtual int BufferedTransfer(platform::DeviceFile* handle, uint8_t* data, uint32_t length,
                                 uint8_t endpoint, uint32_t* transferred);
    virtual int KickedDirectTransfer(platform::DeviceFile* handle, uint8_t* data, uint32_t length,
                                     uint8_t endpoint, uint32_t* transferred);
    virtual int DirectTransfer(platform::DeviceFile* handle, uint8_t* data, uint32_t length,
                               uint8_t endpoint, uint32_t* transferred, uint32_t waitMs);
    virtual int DirectTransfer3s(platform::DeviceFile* handle, uint8_t* data, uint32_t length,
                                 uint8_t endpoint, uint32_t* transferred);

    // Further operations of the driver core.
    int AllocateStagingBuffer();
    int StreamReset();
    int StreamKick();
    int ReadBridgeInfo(uint8_t* info64);
    int ReadBridgeInfoExtra(uint8_t* info64);
    bool HasStreamHandle() const;
    // True when the last vendor request was refused because another process holds the camera.
    bool ClaimedElsewhere() const { return claimedElsewhere_.load(); }

private:
    // One vendor request on a fresh handle; the data-stage bytes that came back (-1 on failure).
    int ControlTransfer(uint8_t request, uint16_t value, uint16_t index, const uint8_t* out,
                        size_t outSize, uint8_t* in, size_t inCapacity);
    std::shared_ptr<platform::DeviceFile> StreamHandle() const;
    // Opens the streaming handle when none is held; *opened tells whether this call did.
    bool EnsureStreamHandle(bool* opened);
    int MemoryTransfer(uint64_t address, uint8_t* data, uint32_t length, bool write);
    int AbortEndpointOn(platform::DeviceFile* handle, uint8_t endpoint);

    platform::CriticalSection registerLock_;
    platform::CriticalSection eepromLock_;
    mutable platform::Mutex streamMutex_;
    std::shared_ptr<platform::DeviceFile> streamHandle_ LUMORA_GUARDED_BY(streamMutex_);
    platform::Mutex stagingMutex_;
    std::unique_ptr<uint8_t[]> stagingBuffer_ LUMORA_GUARDED_BY(stagingMutex_);
    std::atomic<bool> stagingReady_{false};
    std::atomic<bool> claimedElsewhere_{false};
};

}  // namespace lumora::usb
