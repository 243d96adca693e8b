// The controller against the simulated camera: register families, vendor requests, frame and
// memory streams, time-outs and aborts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "port/ActivePort.h"
#include "usb/CLumCy3Cam.h"
#include "usb/ScriptedDevice.h"
#include "usb/UsbTestSupport.h"

namespace lumora {
namespace {

using usb::CLumCy3Cam;
using usb::FrameHeader;
using usb::FrameHeaderRecord;
using usb::FrameTransferRecord;

class ControllerTest : public testing::SimCamerasTest {
protected:
    void SetUp() override { UseCameras(2); }

    std::unique_ptr<CLumCy3Cam> OpenController(const std::string& path) {
        auto controller = std::make_unique<CLumCy3Cam>();
        controller->EnumerateDevices();
        const int row = controller->GetDeviceTable().FindPath(path);
        EXPECT_GE(row, 0);
        EXPECT_EQ(controller->SelectDevice(row), 1);
        EXPECT_EQ(controller->AllocateStagingBuffer(), 1);
        return controller;
    }
    std::unique_ptr<CLumCy3Cam> OpenCamera(int index = 0) {
        return OpenController(Camera(index)->InterfacePath());
    }
    void SetGeometry(CLumCy3Cam& c, uint16_t width, uint16_t height, uint8_t depth) {
        ASSERT_TRUE(c.WriteFpgaRegister(usb::kFpgaWidthLow, width & 0xFF));
        ASSERT_TRUE(c.WriteFpgaRegister(usb::kFpgaWidthHigh, width >> 8));
        ASSERT_TRUE(c.WriteFpgaRegister(usb::kFpgaHeightLow, height & 0xFF));
        ASSERT_TRUE(c.WriteFpgaRegister(usb::kFpgaHeightHigh, height >> 8));
        ASSERT_TRUE(c.WriteFpgaRegister(usb::kFpgaDepth, depth));
    }
    // Waits until the camera holds `count` unfinished transfers; false if it still does not
    // after a deadline generous enough for a loaded machine. A case that gets false fails at
    // once: its reader is still blocked, and ending the process beats hanging the run.
    [[nodiscard]] static bool WaitForPending(sim::SimCamera& camera, size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (camera.PendingTransfers() != count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            platform::Sleep(1);
        }
        return true;
    }
};

TEST_F(ControllerTest, RegisterFamiliesReachTheirDevices) {
    auto c = OpenCamera();
    uint8_t value = 0;
    EXPECT_EQ(c->WriteFpgaRegister(0x55, 0xA7), 1);
    EXPECT_EQ(c->ReadFpgaRegister(0x55, &value), 1);
    EXPECT_EQ(value, 0xA7);

    ASSERT_TRUE(c->WriteFpgaRegister(usb::kFpgaCapabilityLow, 0x34));
    ASSERT_TRUE(c->WriteFpgaRegister(usb::kFpgaCapabilityHigh, 0x92));
    uint16_t capability = 0;
    EXPECT_EQ(c->ReadCapabilityWord(&capability), 1);
    EXPECT_EQ(capability, 0x9234);

    EXPECT_EQ(c->WriteAuxRegister(0x07, 0x3C), 1);
    EXPECT_EQ(c->ReadAuxRegister(0x07, &value), 1);
    EXPECT_EQ(value, 0x3C);

    EXPECT_EQ(c->WriteEepromByte(0x0123, 0x5E), 1);
    EXPECT_EQ(c->ReadEepromByte(0x0123, &value), 1);
    EXPECT_EQ(value, 0x5E);
    EXPECT_EQ(c->ReadEepromByte(0x0200, &value), 1);
    EXPECT_EQ(value, 0xFF);  // erased

    // The sensor: 16-bit register addresses, one data byte.
    const uint8_t write[3] = {0x30, 0x1A, 0x42};
    EXPECT_EQ(c->I2cWrite(usb::kBusSensor, write, 3, 3000), 1);
    EXPECT_EQ(c->I2cWrite(usb::kBusSensor, write, 2, 3000), 1);
    EXPECT_EQ(c->I2cRead(usb::kBusSensor, &value, 1, 3000), 1);
    EXPECT_EQ(value, 0x42);
    auto camera = Camera(0);
    std::lock_guard lock(camera->Lock());
    EXPECT_EQ(camera->Sensor().Get(0x301A), 0x42);
}

TEST_F(ControllerTest, SerialNumbersDifferPerCamera) {
    std::string serials[2];
    for (int i = 0; i < 2; ++i) {
        auto c = OpenCamera(i);
        for (uint16_t a = sim::kSerialNumberAddress;; ++a) {
            uint8_t byte = 0;
            ASSERT_EQ(c->ReadEepromByte(a, &byte), 1);
            if (byte == 0 || byte == 0xFF) break;
            serials[i] += static_cast<char>(byte);
        }
    }
    EXPECT_EQ(serials[0], "LUM00001");
    EXPECT_EQ(serials[1], "LUM00002");
}

TEST_F(ControllerTest, I2cTransferOver64BytesIsRefusedWithoutARequest) {
    auto c = OpenCamera();
    std::vector<uint8_t> data(65, 0);
    Camera(0)->ClearLog();
    EXPECT_EQ(c->I2cWrite(usb::kBusSensor, data.data(), 65, 3000), 0);
    EXPECT_EQ(c->I2cRead(usb::kBusSensor, data.data(), 65, 3000), 0);
    EXPECT_EQ(Camera(0)->Log().controlRequests, 0u);
    data[0] = 0x30;
    EXPECT_EQ(c->I2cWrite(usb::kBusSensor, data.data(), 64, 3000), 1);
    EXPECT_EQ(c->I2cRead(usb::kBusSensor, data.data(), 64, 3000), 1);
    EXPECT_EQ(Camera(0)->Log().controlRequests, 2u);
}

TEST_F(ControllerTest, InjectedBusRefusalsFailTheirRequests) {
    auto c = OpenCamera();
    uint8_t value = 0;
    Camera(0)->InjectFault(sim::SimFault::I2cRefuse, 1, 0);
    EXPECT_EQ(c->WriteFpgaRegister(0x20, 1), 0);
    EXPECT_EQ(c->WriteFpgaRegister(0x20, 1), 1);

    Camera(0)->InjectFault(sim::SimFault::EepromWrite, 1, 0);
    EXPECT_EQ(c->WriteEepromByte(0x10, 0x11), 0);
    EXPECT_EQ(c->ReadEepromByte(0x10, &value), 1);
    EXPECT_EQ(value, 0xFF);  // the refused write left the byte alone
    EXPECT_EQ(c->WriteEepromByte(0x10, 0x11), 1);
}

TEST_F(ControllerTest, ReadyFlagFollowsStartUpAndTheResetPulse) {
    auto c = OpenCamera();
    uint8_t ready = 0xEE;
    EXPECT_EQ(c->ReadReadyFlag(&ready), 1);
    EXPECT_EQ(ready, 1);

    // A pulse on 0x82 bit 0 starts the camera again; with a long start-up it is not ready.
    Camera(0)->SetStartupTimeMs(3600 * 1000);
    ASSERT_TRUE(c->WriteFpgaRegister(usb::kFpgaReset, 1));
    EXPECT_EQ(c->ReadReadyFlag(&ready), 1);
    EXPECT_EQ(ready, 0);
    ASSERT_TRUE(c->WriteFpgaRegister(usb::kFpgaReset, 0));
    EXPECT_EQ(c->ReadReadyFlag(&ready), 1);
    EXPECT_EQ(ready, 0);
    Camera(0)->InjectFault(sim::SimFault::SlowStartup, 0, 0);
    EXPECT_EQ(c->ReadReadyFlag(&ready), 1);
    EXPECT_EQ(ready, 1);
}

TEST_F(ControllerTest, BridgeInformationCarriesFirmwareVersionAndGpio25) {
    auto c = OpenCamera();
    uint8_t info[64] = {};
    ASSERT_EQ(c->ReadBridgeInfo(info), 1);
    EXPECT_EQ(info[24] | (info[25] << 8), 0x1200);
    EXPECT_EQ(info[52], 1);
    Camera(0)->SetFirmwareVersion(0x1050);
    ASSERT_EQ(c->ReadBridgeInfo(info), 1);
    EXPECT_EQ(info[24] | (info[25] << 8), 0x1050);
    EXPECT_EQ(c->ReadBridgeInfoExtra(info), 1);
}

TEST_F(ControllerTest, BridgeSideRegistersKeepTheirValues) {
    auto c = OpenCamera();
    uint32_t wide = 0;
    EXPECT_EQ(c->WriteWideRegister(0x8004, 0x12345678), 1);
    EXPECT_EQ(c->ReadWideRegister(0x8004, &wide), 1);
    EXPECT_EQ(wide, 0x5678u);
    uint8_t mode = 0;
    EXPECT_EQ(c->SetModeByte(0x5A), 1);
    EXPECT_EQ(c->GetModeByte(&mode), 1);
    EXPECT_EQ(mode, 0x5A);
    uint16_t word = 0;
    EXPECT_EQ(c->WriteWordPair(0x1234, 0xABCD), 1);
    EXPECT_EQ(c->ReadSelectedWord(1, &word), 1);
    EXPECT_EQ(word, 0xABCD);
    EXPECT_EQ(c->ReadSelectedWord(0, &word), 1);
    EXPECT_EQ(word, 0x1234);
    EXPECT_EQ(c->SendEndpointCommand(), 1);
    uint32_t speed = 0;
    EXPECT_EQ(c->GetUsbSpeed(&speed), 1);
    EXPECT_EQ(speed, 4u);
    EXPECT_EQ(c->ResetPipe(usb::kEndpointStreamIn), 1);
    EXPECT_EQ(c->ResetPort(), 1);
}

TEST_F(ControllerTest, ShortBridgeRepliesAreHandledPerRequest) {
    testing::PluggedDevice device(platform::MakeInterfacePath(0x1D50, 0x3380, "scripted-short"));
    device->onControl = [](const platform::ControlSetup&, std::span<uint8_t> data) {
        data[0] = 0x77;
        data[1] = 0x66;
        return 2;  // two data bytes instead of 64
    };
    auto c = OpenController(device->InterfacePath());
    uint32_t wide = 0xDEAD;
    EXPECT_EQ(c->ReadWideRegister(0x10, &wide), 1);
    EXPECT_EQ(wide, 0u);
    uint8_t ready = 0xEE;
    EXPECT_EQ(c->ReadReadyFlag(&ready), 0);
    EXPECT_EQ(ready, 0xEE);
    uint8_t info[64] = {};
    EXPECT_EQ(c->ReadBridgeInfo(info), 0);
    uint8_t bytes[4] = {};
    EXPECT_EQ(c->I2cRead(usb::kBusFpga, bytes, 4, 3000), 0);
    EXPECT_EQ(c->I2cRead(usb::kBusFpga, bytes, 2, 3000), 1);
    EXPECT_EQ(bytes[1], 0x66);
    uint16_t word = 0;
    EXPECT_EQ(c->ReadSelectedWord(0, &word), 1);
    EXPECT_EQ(word, 0x6677);
}

TEST_F(ControllerTest, FramesCarryHeaderFieldsAndTheCounterOfRegister0x08) {
    auto c = OpenCamera();
    SetGeometry(*c, 32, 4, 2);
    Camera(0)->SetFrameCounterStart(254);
    std::vector<uint8_t> buffer(256);
    uint32_t counters[3] = {};
    for (auto& counter : counters) {
        FrameTransferRecord record;
        ASSERT_EQ(c->ReadFrameHeader(&record.header), 1);
        const auto header = FrameHeader::Read(record.header.bytes.data());
        EXPECT_EQ(header.payloadLength, 32u * 4 * 2);
        EXPECT_EQ(header.frameCounter, record.header.frameCounter);
        uint8_t reg08 = 0;
        ASSERT_EQ(c->ReadFpgaRegister(usb::kFpgaFrameCounter, &reg08), 1);
        EXPECT_EQ(reg08, header.frameCounter);
        counter = header.frameCounter;
        record.data = buffer.data();
        record.capacity = static_cast<uint32_t>(buffer.size());
        record.length = header.payloadLength;
        ASSERT_EQ(c->ReadFramePayload(&record, 1000), 1);
        // 16-bit little-endian samples.
        EXPECT_EQ(buffer[0] | (buffer[1] << 8), static_cast<int>(counter & 0xFFF));
    }
    EXPECT_EQ(counters[0], 254u);
    EXPECT_EQ(counters[1], 255u);
    EXPECT_EQ(counters[2], 0u);  // the 8-bit counter wraps
}

TEST_F(ControllerTest, OneMebibytePayloadIsReadInTwoWholePieces) {
    auto c = OpenCamera();
    SetGeometry(*c, 1024, 1024, 1);
    std::vector<uint8_t> buffer(1 << 20);
    FrameTransferRecord record;
    ASSERT_EQ(c->ReadFrameHeader(&record.header), 1);
    Camera(0)->ClearLog();
    record.data = buffer.data();
    record.capacity = static_cast<uint32_t>(buffer.size());
    record.length = 1 << 20;
    ASSERT_EQ(c->ReadFramePayload(&record, 1000), 1);
    const auto log = Camera(0)->Log();
    ASSERT_EQ(log.bulkTransfers.size(), 2u);
    for (const auto& [endpoint, size] : log.bulkTransfers) {
        EXPECT_EQ(endpoint, usb::kEndpointStreamIn);
        EXPECT_EQ(size, usb::kPayloadPiece);
    }
    EXPECT_EQ(buffer[1025], static_cast<uint8_t>(1 + 1 + record.header.frameCounter));
}

TEST_F(ControllerTest, PayloadReadRefusesAPayloadLargerThanTheBuffer) {
    auto c = OpenCamera();
    std::vector<uint8_t> buffer(100);
    FrameTransferRecord record;
    record.data = buffer.data();
    record.capacity = 100;
    record.length = 101;
    Camera(0)->ClearLog();
    EXPECT_EQ(c->ReadFramePayload(&record, 100), 0);
    EXPECT_TRUE(Camera(0)->Log().bulkTransfers.empty());
}

TEST_F(ControllerTest, ShortPayloadPieceFailsTheRead) {
    auto c = OpenCamera();
    SetGeometry(*c, 64, 64, 1);
    Camera(0)->InjectFault(sim::SimFault::ShortPayload, 1, 100);
    std::vector<uint8_t> buffer(4096);
    FrameTransferRecord record;
    ASSERT_EQ(c->ReadFrameHeader(&record.header), 1);
    EXPECT_EQ(FrameHeader::Read(record.header.bytes.data()).payloadLength, 4096u);
    record.data = buffer.data();
    record.capacity = 4096;
    record.length = 4096;
    EXPECT_EQ(c->ReadFramePayload(&record, 200), 0);
    EXPECT_EQ(Camera(0)->PendingTransfers(), 0u);
}

TEST_F(ControllerTest, OverlongPayloadIsAnnouncedInTheHeader) {
    auto c = OpenCamera();
    SetGeometry(*c, 64, 64, 1);
    Camera(0)->InjectFault(sim::SimFault::LongPayload, 1, 512);
    FrameHeaderRecord header;
    ASSERT_EQ(c->ReadFrameHeader(&header), 1);
    EXPECT_EQ(FrameHeader::Read(header.bytes.data()).payloadLength, 4096u + 512);
}

TEST_F(ControllerTest, HeaderReadGivesUpAfterFifteenAttemptsPulsingTheStreamRestart) {
    auto c = OpenCamera();
    int restarts = 0;
    {
        auto camera = Camera(0);
        std::lock_guard lock(camera->Lock());
        camera->Fpga().OnAnyWrite([&](uint32_t reg, uint8_t value, uint8_t) {
            if (reg == usb::kFpgaStreamRestart && value == 1) ++restarts;
        });
    }
    Camera(0)->ClearLog();
    Camera(0)->InjectFault(sim::SimFault::BulkFail, 15, 0);
    FrameHeaderRecord header;
    EXPECT_EQ(c->ReadFrameHeader(&header), 0);
    EXPECT_EQ(Camera(0)->Log().kicks, 15u);
    EXPECT_EQ(restarts, 15);
    EXPECT_FALSE(c->HasStreamHandle());  // opened by the call, closed on failure

    // Fourteen failures still leave the fifteenth attempt.
    Camera(0)->InjectFault(sim::SimFault::BulkFail, 14, 0);
    EXPECT_EQ(c->ReadFrameHeader(&header), 1);
    EXPECT_TRUE(c->HasStreamHandle());  // kept after success
}

TEST_F(ControllerTest, HeaderReadNeedsAllSixtyFourBytes) {
    testing::PluggedDevice device(platform::MakeInterfacePath(0x1D50, 0x3380, "scripted-header"));
    device->onBulk = [](platform::SimBulkTransfer& t) {
        t.Complete(platform::kErrorSuccess, 63);  // one byte short
        return true;
    };
    auto c = OpenController(device->InterfacePath());
    FrameHeaderRecord header;
    EXPECT_EQ(c->ReadFrameHeader(&header), 0);
}

TEST_F(ControllerTest, StreamResetDropsAPartlySentFrame) {
    auto c = OpenCamera();
    SetGeometry(*c, 256, 16, 1);
    FrameTransferRecord record;
    ASSERT_EQ(c->ReadFrameHeader(&record.header), 1);
    std::vector<uint8_t> part(1024);
    record.data = part.data();
    record.capacity = 1024;
    record.length = 1024;
    ASSERT_EQ(c->ReadFramePayload(&record, 1000), 1);  // a quarter of the frame
    ASSERT_EQ(c->StreamReset(), 1);
    FrameHeaderRecord next;
    ASSERT_EQ(c->ReadFrameHeader(&next), 1);
    EXPECT_EQ(FrameHeader::Read(next.bytes.data()).payloadLength, 4096u);
    EXPECT_EQ(next.frameCounter, (record.header.frameCounter + 1) & 0xFF);

    // The same after the restart pulse on 0x6C.
    ASSERT_EQ(c->ReadFramePayload(&record, 1000), 1);
    ASSERT_EQ(c->WriteFpgaRegister(usb::kFpgaStreamRestart, 1), 1);
    ASSERT_EQ(c->WriteFpgaRegister(usb::kFpgaStreamRestart, 0), 1);
    ASSERT_EQ(c->ReadFrameHeader(&next), 1);
    EXPECT_EQ(FrameHeader::Read(next.bytes.data()).payloadLength, 4096u);
}

TEST_F(ControllerTest, MemoryReadsMoveWholePagesButFillOnlyTheCallersBuffer) {
    auto c = OpenCamera();
    std::vector<uint8_t> pattern(8192);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 1);
    Camera(0)->WriteCameraMemory(0x10000, pattern);

    Camera(0)->ClearLog();
    auto one = std::make_unique<uint8_t[]>(1);  // exactly one byte: ASan sees any overrun
    ASSERT_EQ(c->ReadMemory(0x10000, one.get(), 1), 1);
    EXPECT_EQ(one[0], pattern[0]);
    auto log = Camera(0)->Log();
    ASSERT_EQ(log.streamCommands.size(), 1u);
    EXPECT_FALSE(log.streamCommands[0].isWrite);
    EXPECT_EQ(log.streamCommands[0].address, 0x10000u);
    EXPECT_EQ(log.streamCommands[0].length, 4096u);

    Camera(0)->ClearLog();
    std::vector<uint8_t> page(4096);
    ASSERT_EQ(c->ReadMemory(0x10000, page.data(), 4096), 1);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), pattern.begin()));
    log = Camera(0)->Log();
    ASSERT_EQ(log.streamCommands.size(), 1u);
    EXPECT_EQ(log.streamCommands[0].length, 8192u);
    EXPECT_FALSE(c->HasStreamHandle());
}

TEST_F(ControllerTest, MemoryWritesPadTheWirePageWithZeros) {
    auto c = OpenCamera();
    std::vector<uint8_t> ones(8192, 0xEE);
    Camera(0)->WriteCameraMemory(0x2000, ones);
    const uint8_t data[3] = {1, 2, 3};
    Camera(0)->ClearLog();
    ASSERT_EQ(c->WriteMemory(0x2000, data, 3), 1);
    std::vector<uint8_t> back(8192);
    Camera(0)->ReadCameraMemory(0x2000, back);
    EXPECT_EQ(back[0], 1);
    EXPECT_EQ(back[2], 3);
    EXPECT_EQ(back[3], 0);
    EXPECT_EQ(back[4095], 0);
    EXPECT_EQ(back[4096], 0xEE);
    const auto log = Camera(0)->Log();
    ASSERT_EQ(log.streamCommands.size(), 1u);
    EXPECT_TRUE(log.streamCommands[0].isWrite);
    EXPECT_EQ(log.streamCommands[0].length, 4096u);
    EXPECT_EQ(c->ReadMemory(0, nullptr, 1), 0);
}

TEST_F(ControllerTest, StreamReadRoundsUpToWholeGranules) {
    auto c = OpenCamera();
    std::vector<uint8_t> buffer(usb::kStreamGranule);
    FrameTransferRecord record;
    record.data = buffer.data();
    record.capacity = static_cast<uint32_t>(buffer.size());
    uint64_t length = 1;
    Camera(0)->ClearLog();
    ASSERT_EQ(c->ReadStream(&record, &length, 1000), 1);
    EXPECT_EQ(length, usb::kStreamGranule);
    const auto log = Camera(0)->Log();
    ASSERT_EQ(log.streamCommands.size(), 1u);
    EXPECT_EQ(log.streamCommands[0].length, usb::kStreamGranule);
    EXPECT_EQ(log.streamCommands[0].address, 0u);

    // The rounded length must fit the buffer.
    record.capacity = 100;
    length = 1;
    Camera(0)->ClearLog();
    EXPECT_EQ(c->ReadStream(&record, &length, 1000), 0);
    EXPECT_EQ(length, 1u);
    EXPECT_TRUE(Camera(0)->Log().bulkTransfers.empty());
}

TEST_F(ControllerTest, StalledTransferIsAbortedOnItsOwnEndpointAndLeavesNothingPending) {
    auto c = OpenCamera();
    ASSERT_EQ(c->OpenStreamHandle(), 1);
    Camera(0)->InjectFault(sim::SimFault::BulkStall, 1, 0);
    // A memory read whose command on 0x01 hangs: the abort must reach 0x01, not only 0x81.
    std::vector<uint8_t> data(16);
    EXPECT_EQ(c->ReadMemory(0, data.data(), 16), 0);
    EXPECT_EQ(Camera(0)->PendingTransfers(), 0u);

    Camera(0)->InjectFault(sim::SimFault::BulkStall, 1, 0);
    FrameHeaderRecord header;
    EXPECT_EQ(c->ReadFrameHeader(&header), 1);  // the second attempt gets through
    EXPECT_EQ(Camera(0)->PendingTransfers(), 0u);
}

TEST_F(ControllerTest, AbortUsesTheTransfersEndpoint) {
    testing::PluggedDevice device(platform::MakeInterfacePath(0x1D50, 0x3380, "scripted-abort"));
    auto c = OpenController(device->InterfacePath());
    ASSERT_EQ(c->OpenStreamHandle(), 1);
    uint8_t command[32] = {};
    uint32_t n = 0;
    auto handle = platform::ActivePort().Open(device->InterfacePath(), true, nullptr);
    ASSERT_TRUE(handle);
    EXPECT_EQ(c->DirectTransfer(handle.get(), command, 32, usb::kEndpointCommandOut, &n, 20), 0);
    EXPECT_EQ(device->Pending(), 0u);
    ASSERT_FALSE(device->Aborts().empty());
    EXPECT_EQ(device->Aborts().front(), usb::kEndpointCommandOut);

    // Buffered and kicked transfers too.
    uint8_t data[64] = {};
    EXPECT_EQ(c->BufferedTransfer(handle.get(), data, 64, usb::kEndpointSideIn, &n), 0);
    EXPECT_EQ(device->Pending(), 0u);
    EXPECT_EQ(device->Aborts().back(), usb::kEndpointSideIn);
}

TEST_F(ControllerTest, TransfersRefuseOversizeRequestsAndMissingStagingBuffer) {
    auto c = OpenCamera();
    auto handle = platform::ActivePort().Open(Camera(0)->InterfacePath(), true, nullptr);
    ASSERT_TRUE(handle);
    uint8_t byte = 0;
    uint32_t n = 99;
    EXPECT_EQ(c->DirectTransfer(handle.get(), &byte, usb::kMaxTransferLength + 1,
                                usb::kEndpointStreamIn, &n, 10),
              0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(c->DirectTransfer(nullptr, &byte, 1, usb::kEndpointStreamIn, &n, 10), 0);
    ASSERT_EQ(c->Close(), 1);
    EXPECT_EQ(c->DirectTransfer(handle.get(), &byte, 1, usb::kEndpointStreamIn, &n, 10), 0);
    EXPECT_EQ(c->BufferedTransfer(handle.get(), &byte, 1, usb::kEndpointStreamIn, &n), 0);
}

TEST_F(ControllerTest, BufferedTransferReturnsTheDataBehindTheHeader) {
    auto c = OpenCamera();
    SetGeometry(*c, 8, 8, 1);
    auto handle = platform::ActivePort().Open(Camera(0)->InterfacePath(), true, nullptr);
    ASSERT_EQ(c->StreamKick(), 1);
    uint8_t header[64] = {};
    uint32_t n = 0;
    ASSERT_EQ(c->BufferedTransfer(handle.get(), header, 64, usb::kEndpointStreamIn, &n), 1);
    EXPECT_EQ(n, 64u);
    EXPECT_EQ(FrameHeader::Read(header).payloadLength, 64u);
}

TEST_F(ControllerTest, AbortStreamEndpointReleasesAWaitingReader) {
    auto c = OpenCamera();
    ASSERT_EQ(c->OpenStreamHandle(), 1);
    std::vector<uint8_t> buffer(4096);
    std::atomic<int> result{-1};
    std::thread reader([&] {
        FrameTransferRecord record;
        record.data = buffer.data();
        record.capacity = 4096;
        record.length = 4096;
        // No frame was kicked: the read waits until it is aborted.
        result = c->ReadFramePayload(&record, platform::kInfinite);
    });
    ASSERT_TRUE(WaitForPending(*Camera(0), 1)) << "the read never reached the camera";
    EXPECT_EQ(c->AbortStreamEndpoint(), 1);
    reader.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(Camera(0)->PendingTransfers(), 0u);
}

TEST_F(ControllerTest, UnplugFailsAPendingTransferAndLaterRequests) {
    auto c = OpenCamera();
    ASSERT_EQ(c->OpenStreamHandle(), 1);
    std::vector<uint8_t> buffer(64);
    std::atomic<int> result{-1};
    std::thread reader([&] {
        FrameTransferRecord record;
        record.data = buffer.data();
        record.capacity = 64;
        record.length = 64;
        result = c->ReadFramePayload(&record, platform::kInfinite);
    });
    ASSERT_TRUE(WaitForPending(*Camera(0), 1)) << "the read never reached the camera";
    ASSERT_TRUE(sim::SimCameraSet::Instance().Unplug(0));
    reader.join();
    EXPECT_EQ(result.load(), 0);
    uint8_t value = 0;
    EXPECT_EQ(c->ReadFpgaRegister(0x00, &value), 0);
    FrameHeaderRecord header;
    EXPECT_EQ(c->ReadFrameHeader(&header), 0);
    const int row = c->SelectedRow();
    EXPECT_EQ(c->SelectDevice(row), 0);
    EXPECT_EQ(c->SelectedRow(), row);  // a failed selection changes nothing
}

TEST_F(ControllerTest, RegisterTrafficRunsAlongsideTheFrameStream) {
    auto c = OpenCamera();
    SetGeometry(*c, 64, 64, 1);
    std::atomic<int> frames{0};
    std::thread acquisition([&] {
        std::vector<uint8_t> buffer(4096);
        for (int i = 0; i < 20; ++i) {
            FrameTransferRecord record;
            record.data = buffer.data();
            record.capacity = 4096;
            if (!c->ReadFrameHeader(&record.header)) continue;
            record.length = FrameHeader::Read(record.header.bytes.data()).payloadLength;
            if (c->ReadFramePayload(&record, 3000)) ++frames;
        }
        c->CloseStreamHandle();
    });
    for (int i = 0; i < 50; ++i) {
        uint8_t value = 0;
        EXPECT_EQ(c->WriteFpgaRegister(0x70, static_cast<uint8_t>(i)), 1);
        EXPECT_EQ(c->ReadFpgaRegister(0x70, &value), 1);
        EXPECT_EQ(value, i);
    }
    acquisition.join();
    EXPECT_EQ(frames.load(), 20);
}

TEST_F(ControllerTest, DebugLogPathSitsNextToTheExecutable) {
    CLumCy3Cam c;
#if defined(_WIN32)
    EXPECT_TRUE(c.DebugLogPath().ends_with("\\DEBUGLOG.txt")) << c.DebugLogPath();
#else
    EXPECT_TRUE(c.DebugLogPath().ends_with("/DEBUGLOG.txt")) << c.DebugLogPath();
#endif
    c.WriteDebugLog("%d\n", 1);  // harmless whatever LUMORA_DEBUG says
}

}  // namespace
}  // namespace lumora
