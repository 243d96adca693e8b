// The simulated camera at its bus: what it answers to each request, its frame and memory
// streams, its faults, and the places a fuller model plugs in.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <tuple>
#include <vector>

#include "lumora/host.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "port/ActivePort.h"
#include "sim/SimCameraSet.h"
#include "usb/UsbTestSupport.h"

namespace lumora::sim {
namespace {

using platform::ControlSetup;

// A bulk transfer that remembers how it completed.
class Captured final : public platform::SimBulkTransfer {
public:
    Captured(uint8_t endpoint, size_t size)
        : Captured(endpoint, std::make_shared<std::vector<uint8_t>>(size)) {}
    void Complete(uint32_t error, uint32_t bytes) override {
        error_ = error;
        bytes_ = bytes;
        done_.Set();
    }
    bool Done() const { return done_.IsSet(); }
    void Wait() { done_.Wait(platform::kInfinite); }
    uint32_t Error() const { return error_; }
    uint32_t Bytes() const { return bytes_; }
    std::vector<uint8_t>& Buffer() { return *buffer_; }

private:
    Captured(uint8_t endpoint, std::shared_ptr<std::vector<uint8_t>> buffer)
        : SimBulkTransfer(endpoint, {buffer->data(), buffer->size()}), buffer_(std::move(buffer)) {}
    std::shared_ptr<std::vector<uint8_t>> buffer_;
    platform::Event done_{true, false};
    std::atomic<uint32_t> error_{0};
    std::atomic<uint32_t> bytes_{0};
};

class SimCameraTest : public lumora::testing::SimCamerasTest {
protected:
    void SetUp() override {
        UseCameras(2);
        camera_ = Camera(0);
    }
    // One vendor request at the bus: the data-stage bytes, or nothing for a stall.
    std::optional<std::array<uint8_t, 64>> Request(uint8_t type, uint8_t request, uint16_t value,
                                                   uint16_t index, std::vector<uint8_t> out = {}) {
        std::array<uint8_t, 64> data{};
        std::copy(out.begin(), out.end(), data.begin());
        const int n = camera_->ControlTransfer({type, request, value, index, 64}, data);
        if (n < 0) return std::nullopt;
        lastMoved_ = n;
        return data;
    }
    // The bytes the last request moved in its data stage.
    int lastMoved_ = 0;
    bool I2cWrite(uint8_t bus, std::vector<uint8_t> bytes) {
        const auto count = static_cast<uint16_t>(bytes.size());
        return Request(0x40, 0x30, count, bus, std::move(bytes)).has_value();
    }
    std::optional<std::array<uint8_t, 64>> I2cRead(uint8_t bus, uint16_t count) {
        return Request(0xC0, 0x31, count, static_cast<uint16_t>(bus | 1));
    }
    std::shared_ptr<Captured> Bulk(uint8_t endpoint, size_t size) {
        auto t = std::make_shared<Captured>(endpoint, size);
        camera_->SubmitBulk(t);
        return t;
    }
    std::shared_ptr<Captured> BulkOut(std::vector<uint8_t> bytes) {
        auto t = std::make_shared<Captured>(0x01, bytes.size());
        std::copy(bytes.begin(), bytes.end(), t->Buffer().begin());
        camera_->SubmitBulk(t);
        return t;
    }
    void Kick() { ASSERT_TRUE(Request(0x42, 0xC2, 0, 0)); }
    void Geometry(uint16_t width, uint16_t height, uint8_t depth) {
        ASSERT_TRUE(I2cWrite(0x40, {0x44, 0, static_cast<uint8_t>(width)}));
        ASSERT_TRUE(I2cWrite(0x40, {0x45, 0, static_cast<uint8_t>(width >> 8)}));
        ASSERT_TRUE(I2cWrite(0x40, {0x40, 0, static_cast<uint8_t>(height)}));
        ASSERT_TRUE(I2cWrite(0x40, {0x41, 0, static_cast<uint8_t>(height >> 8)}));
        ASSERT_TRUE(I2cWrite(0x40, {0x3C, 0, depth}));
    }

    std::shared_ptr<SimCamera> camera_;
};

TEST_F(SimCameraTest, VendorRequestsAreCheckedAgainstTheTable) {
    EXPECT_FALSE(Request(0xC0, 0x77, 0, 0));  // unknown request
    EXPECT_FALSE(Request(0x40, 0xB0, 0, 0));  // known request, wrong direction
    EXPECT_FALSE(Request(0x40, 0xC2, 0, 0));  // the kick goes to the endpoint recipient
    auto info = Request(0xC0, 0xB0, 0, 0);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[24] | ((*info)[25] << 8), 0x1200);
    EXPECT_EQ((*info)[52], 1);
    EXPECT_TRUE(Request(0xC0, 0xB1, 0, 0));
    EXPECT_TRUE(Request(0x42, 0xCC, 0, 0));
    EXPECT_TRUE(Request(0x40, 0xC0, 0, 0));
}

// Every vendor request carries the driver's whole 64-byte data stage, those without data too.
// The camera refuses another length, data beyond what the request uses and values it has no
// meaning for; it answers an IN request with that request's own length.
TEST_F(SimCameraTest, EveryRequestCarriesTheDriversDataStageAndGetsItsOwnReplyLength) {
    std::array<uint8_t, 64> data{};
    EXPECT_LT(camera_->ControlTransfer({0x42, 0xC2, 0, 0, 0}, {}), 0);  // a kick without a stage
    EXPECT_LT(camera_->ControlTransfer({0x42, 0xC2, 0, 0, 8}, std::span(data).first(8)), 0);
    EXPECT_EQ(camera_->ControlTransfer({0x42, 0xC2, 0, 0, 64}, data), 64);
    data[5] = 1;
    EXPECT_LT(camera_->ControlTransfer({0x40, 0xC0, 0, 0, 64}, data), 0);  // data it has none of
    data[5] = 0;
    data[0] = 0x21, data[1] = 0x00, data[2] = 0x9A;
    EXPECT_LT(camera_->ControlTransfer({0x40, 0x30, 2, 0x40, 64}, data), 0);  // beyond the count
    data = {};
    EXPECT_FALSE(Request(0x40, 0x3C, 0, 0, {7, 0, 1, 0}));  // the mode byte's word is 0..255
    EXPECT_FALSE(Request(0xC0, 0xB0, 1, 0));
    EXPECT_FALSE(Request(0x40, 0xC0, 0, 2));
    EXPECT_FALSE(Request(0x40, 0xD0, 2, 0, {1, 2, 3, 4}));  // wValue holds address bit 15 only

    ASSERT_TRUE(I2cWrite(0x40, {0x21, 0x00, 0x9A}));
    for (const auto& [type, request, value, index, reply] :
         {std::tuple{0xC0, 0x31, 2, 0x41, 2}, std::tuple{0xC0, 0x31, 64, 0x41, 64},
          std::tuple{0xC0, 0x3D, 0, 0, 1}, std::tuple{0xC0, 0x3F, 1, 0, 2},
          std::tuple{0xC0, 0xB0, 0, 0, 64}, std::tuple{0xC0, 0xC3, 0, 0, 64},
          std::tuple{0xC0, 0xD1, 0, 4, 64}, std::tuple{0x40, 0xC0, 0, 0, 64},
          std::tuple{0x42, 0xCC, 0, 0, 64}}) {
        ASSERT_TRUE(Request(static_cast<uint8_t>(type), static_cast<uint8_t>(request),
                            static_cast<uint16_t>(value), static_cast<uint16_t>(index)))
            << std::hex << request;
        EXPECT_EQ(lastMoved_, reply) << std::hex << request;
    }
}

// A frame whose payload ends on a packet boundary is closed by a zero-length packet, which the
// next read gets before the next frame's header; other frames end with a short packet.
TEST_F(SimCameraTest, AFrameEndingOnAPacketBoundaryIsFollowedByAZeroLengthPacket) {
    Geometry(32, 32, 1);  // 1024 bytes: one whole packet
    Kick();
    EXPECT_EQ(Bulk(0x81, 64)->Bytes(), 64u);
    EXPECT_EQ(Bulk(0x81, 4096)->Bytes(), 1024u);
    Kick();  // the next frame may be armed meanwhile
    auto end = Bulk(0x81, 64);
    ASSERT_TRUE(end->Done());
    EXPECT_EQ(end->Error(), platform::kErrorSuccess);
    EXPECT_EQ(end->Bytes(), 0u);
    auto header = Bulk(0x81, 64);
    ASSERT_EQ(header->Bytes(), 64u);
    EXPECT_EQ(usb::FrameHeader::Read(header->Buffer().data()).frameCounter, 1u);
    EXPECT_EQ(Bulk(0x81, 1024)->Bytes(), 1024u);
    ASSERT_TRUE(Request(0x40, 0xC0, 0, 0));  // a stream reset drops it with the frame
    Kick();
    EXPECT_EQ(Bulk(0x81, 64)->Bytes(), 64u);
    EXPECT_EQ(Bulk(0x81, 1024)->Bytes(), 1024u);

    Geometry(30, 32, 1);  // 960 bytes end in a short packet
    ASSERT_TRUE(Request(0x40, 0xC0, 0, 0));
    Kick();
    EXPECT_EQ(Bulk(0x81, 64)->Bytes(), 64u);
    EXPECT_EQ(Bulk(0x81, 960)->Bytes(), 960u);
    Kick();
    EXPECT_EQ(Bulk(0x81, 64)->Bytes(), 64u);
}

// While the EEPROM writes a byte it answers no one, as a real one does; the driver waits.
TEST_F(SimCameraTest, TheEepromAnswersNoOneDuringItsWriteCycle) {
    camera_->SetEepromWriteCycleMs(600000);
    ASSERT_TRUE(I2cWrite(0xA2, {0x00, 0x05, 0x66}));
    EXPECT_FALSE(I2cWrite(0xA2, {0x00, 0x05}));
    EXPECT_FALSE(I2cRead(0xA2, 1));
    camera_->SetEepromWriteCycleMs(0);
    ASSERT_TRUE(I2cWrite(0xA2, {0x00, 0x05}));
    EXPECT_EQ((*I2cRead(0xA2, 1))[0], 0x66);
}

TEST_F(SimCameraTest, FpgaRegistersReadBackInTheSecondByte) {
    ASSERT_TRUE(I2cWrite(0x40, {0x21, 0x00, 0x9A}));
    ASSERT_TRUE(I2cWrite(0x40, {0x21}));
    auto reply = I2cRead(0x40, 2);
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], 0);
    EXPECT_EQ((*reply)[1], 0x9A);
    // The status register reads idle whatever was written to it.
    ASSERT_TRUE(I2cWrite(0x40, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(I2cWrite(0x40, {0x02}));
    EXPECT_EQ((*I2cRead(0x40, 2))[1], 0);
    EXPECT_FALSE(I2cWrite(0x40, {0x21, 0x00}));  // neither a pointer nor a write
}

TEST_F(SimCameraTest, SensorEepromAndAuxUseTheirAddressWidths) {
    ASSERT_TRUE(I2cWrite(0x48, {0x30, 0x00, 0x11, 0x22}));  // auto-increment
    ASSERT_TRUE(I2cWrite(0x48, {0x30, 0x01}));
    EXPECT_EQ((*I2cRead(0x48, 1))[0], 0x22);

    ASSERT_TRUE(I2cWrite(0xA2, {0x10, 0x40}));
    auto serial = I2cRead(0xA2, 9);
    ASSERT_TRUE(serial);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial->data())), "LUM00001");
    ASSERT_TRUE(I2cWrite(0xA2, {0x1F, 0xFE}));
    EXPECT_EQ((*I2cRead(0xA2, 1))[0], 0xFF);  // erased

    ASSERT_TRUE(I2cWrite(0x5A, {0x03, 0x44}));
    ASSERT_TRUE(I2cWrite(0x5A, {0x03}));
    EXPECT_EQ((*I2cRead(0x5A, 1))[0], 0x44);

    EXPECT_FALSE(I2cWrite(0x20, {0x00}));  // nobody at this address
    EXPECT_FALSE(I2cRead(0x20, 1));
    EXPECT_FALSE(Request(0xC0, 0x31, 1, 0x48));  // reads use the odd address
    EXPECT_FALSE(Request(0xC0, 0x31, 65, 0x49));
}

TEST_F(SimCameraTest, BridgeSideValuesAndReadyFlag) {
    ASSERT_TRUE(Request(0x40, 0xD0, 1, 0x0004, {0x78, 0x56, 0x34, 0x12}));
    auto wide = Request(0xC0, 0xD1, 0, 0x8004);
    EXPECT_EQ((*wide)[0] | ((*wide)[1] << 8), 0x5678);
    ASSERT_TRUE(Request(0x40, 0x3C, 0, 0, {7, 0, 0, 0}));
    EXPECT_EQ((*Request(0xC0, 0x3D, 0, 0))[0], 7);
    ASSERT_TRUE(Request(0x40, 0x3E, 0, 0, {0x12, 0x34, 0xAB, 0xCD}));
    auto word = Request(0xC0, 0x3F, 1, 0);
    EXPECT_EQ((*word)[0] | ((*word)[1] << 8), 0xABCD);

    EXPECT_EQ((*Request(0xC0, 0xC3, 0, 0))[0], 1);
    camera_->InjectFault(SimFault::SlowStartup, 0, 3600 * 1000);
    EXPECT_EQ((*Request(0xC0, 0xC3, 0, 0))[0], 0);
}

TEST_F(SimCameraTest, FrameFollowsAKickAsHeaderThenPayload) {
    Geometry(8, 2, 1);
    auto early = Bulk(0x81, 64);
    EXPECT_FALSE(early->Done());  // nothing until a kick
    Kick();
    ASSERT_TRUE(early->Done());
    ASSERT_EQ(early->Bytes(), 64u);
    const auto header = usb::FrameHeader::Read(early->Buffer().data());
    EXPECT_EQ(header.payloadLength, 16u);
    EXPECT_EQ(header.frameCounter, 0u);
    for (size_t i = 0; i < 64; ++i) {
        if ((i >= 16 && i < 20) || (i >= 28 && i < 36) || (i >= 40 && i < 48)) continue;
        EXPECT_EQ(early->Buffer()[i], 0) << "byte " << i;
    }
    auto payload = Bulk(0x81, 100);
    ASSERT_TRUE(payload->Done());
    EXPECT_EQ(payload->Bytes(), 16u);        // the frame ends the transfer
    EXPECT_EQ(payload->Buffer()[9], 1 + 1);  // row 1, column 1
    EXPECT_FALSE(Bulk(0x81, 64)->Done());    // the next frame waits for its kick
    camera_->AbortEndpoint(0x81);
    EXPECT_EQ(camera_->PendingTransfers(), 0u);
    EXPECT_EQ(camera_->FramesSent(), 1u);
}

TEST_F(SimCameraTest, SixteenBitFramesAreLittleEndianWords) {
    Geometry(4, 1, 2);
    Kick();
    auto header = Bulk(0x81, 64);
    EXPECT_EQ(usb::FrameHeader::Read(header->Buffer().data()).payloadLength, 8u);
    auto payload = Bulk(0x81, 8);
    EXPECT_EQ(payload->Buffer()[6] | (payload->Buffer()[7] << 8), 3);
}

TEST_F(SimCameraTest, RestartPulseDropsAPartlySentFrame) {
    Geometry(64, 1, 1);
    Kick();
    Bulk(0x81, 64);
    EXPECT_EQ(Bulk(0x81, 16)->Bytes(), 16u);
    ASSERT_TRUE(I2cWrite(0x40, {0x6C, 0, 1}));
    ASSERT_TRUE(I2cWrite(0x40, {0x6C, 0, 0}));
    Kick();
    auto next = Bulk(0x81, 64);
    EXPECT_EQ(usb::FrameHeader::Read(next->Buffer().data()).payloadLength, 64u);
    EXPECT_EQ(usb::FrameHeader::Read(next->Buffer().data()).frameCounter, 1u);
}

TEST_F(SimCameraTest, FrameCounterStartsWhereToldAndShowsInRegister0x08) {
    camera_->SetFrameCounterStart(255);
    Geometry(1, 1, 1);
    for (uint32_t expected : {255u, 0u}) {
        Kick();
        auto header = Bulk(0x81, 64);
        EXPECT_EQ(usb::FrameHeader::Read(header->Buffer().data()).frameCounter, expected);
        ASSERT_TRUE(I2cWrite(0x40, {0x08}));
        EXPECT_EQ((*I2cRead(0x40, 2))[1], expected);
        Bulk(0x81, 1);
    }
}

TEST_F(SimCameraTest, MemoryStreamsReadAndWriteCameraMemory) {
    std::vector<uint8_t> command(32);
    usb::StreamCommand write{true, 0x1000, 4};
    write.Write(command.data());
    EXPECT_EQ(BulkOut(command)->Bytes(), 32u);
    EXPECT_EQ(BulkOut({9, 8, 7, 6})->Error(), platform::kErrorSuccess);
    usb::StreamCommand read{false, 0x1001, 8};
    read.Write(command.data());
    BulkOut(command);
    auto data = Bulk(0x81, 64);
    ASSERT_TRUE(data->Done());
    EXPECT_EQ(data->Bytes(), 8u);
    EXPECT_EQ(data->Buffer()[0], 8);
    EXPECT_EQ(data->Buffer()[2], 6);
    EXPECT_EQ(data->Buffer()[3], 0);
    // Bytes on 0x01 that are neither a command nor expected data are refused.
    EXPECT_EQ(BulkOut({1, 2, 3})->Error(), platform::kErrorGenFailure);
    EXPECT_FALSE(Bulk(0x83, 64)->Error() == platform::kErrorSuccess);
}

TEST_F(SimCameraTest, BulkFaultsFailOrHoldTheNextTransfers) {
    camera_->InjectFault(SimFault::BulkFail, 2, 0);
    EXPECT_EQ(Bulk(0x81, 64)->Error(), platform::kErrorGenFailure);
    EXPECT_EQ(BulkOut({1})->Error(), platform::kErrorGenFailure);
    camera_->InjectFault(SimFault::BulkStall, 1, 0);
    Kick();
    auto stalled = Bulk(0x81, 64);
    EXPECT_FALSE(stalled->Done());  // though a frame is ready
    camera_->AbortEndpoint(0x81);
    EXPECT_EQ(stalled->Error(), platform::kErrorOperationAborted);
    EXPECT_EQ(Bulk(0x81, 64)->Bytes(), 64u);  // the frame is still there
}

TEST_F(SimCameraTest, PayloadFaultsShortenOrLengthenTheFrame) {
    Geometry(16, 16, 1);
    camera_->InjectFault(SimFault::ShortPayload, 1, 56);
    Kick();
    EXPECT_EQ(usb::FrameHeader::Read(Bulk(0x81, 64)->Buffer().data()).payloadLength, 256u);
    EXPECT_EQ(Bulk(0x81, 256)->Bytes(), 200u);
    camera_->InjectFault(SimFault::LongPayload, 1, 44);
    Kick();
    EXPECT_EQ(usb::FrameHeader::Read(Bulk(0x81, 64)->Buffer().data()).payloadLength, 300u);
    EXPECT_EQ(Bulk(0x81, 1000)->Bytes(), 300u);
}

TEST_F(SimCameraTest, UnplugFailsPendingTransfersAndReplugPowersOnAfresh) {
    ASSERT_TRUE(I2cWrite(0x40, {0x30, 0, 0x12}));
    ASSERT_TRUE(I2cWrite(0xA2, {0x00, 0x05, 0x66}));
    auto pending = Bulk(0x81, 64);
    std::vector<std::pair<platform::HotplugEvent, std::string>> events;
    const int token = platform::SubscribeHotplug(
        [&](platform::HotplugEvent e, const std::string& path) { events.emplace_back(e, path); });
    const std::string path = camera_->InterfacePath();
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    EXPECT_EQ(pending->Error(), platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(Request(0xC0, 0xB0, 0, 0));
    uint32_t error = 0;
    EXPECT_EQ(platform::ActivePort().Open(path, false, &error), nullptr);
    ASSERT_EQ(LumoraSim_Replug(0), 1);
    EXPECT_EQ(camera_->InterfacePath(), path);
    ASSERT_EQ(LumoraSim_ReplugOnNewPort(0), 1);
    EXPECT_NE(camera_->InterfacePath(), path);
    platform::UnsubscribeHotplug(token);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], std::make_pair(platform::HotplugEvent::Removal, path));
    EXPECT_EQ(events[1], std::make_pair(platform::HotplugEvent::Arrival, path));
    EXPECT_EQ(events[3].first, platform::HotplugEvent::Arrival);
    EXPECT_EQ(events[3].second, camera_->InterfacePath());

    ASSERT_TRUE(I2cWrite(0x40, {0x30}));
    EXPECT_EQ((*I2cRead(0x40, 2))[1], 0);  // registers were reset
    ASSERT_TRUE(I2cWrite(0xA2, {0x00, 0x05}));
    EXPECT_EQ((*I2cRead(0xA2, 1))[0], 0x66);  // the EEPROM kept its bytes
}

TEST_F(SimCameraTest, CameraSetFollowsTheCountAndTheCInterface) {
    EXPECT_EQ(LumoraSim_GetCameraCount(), 2);
    EXPECT_EQ(LumoraSim_SetCameraCount(33), -1);
    EXPECT_EQ(LumoraSim_SetCameraCount(-1), -1);
    EXPECT_EQ(LumoraSim_GetCameraCount(), 2);
    EXPECT_EQ(LumoraSim_SetCameraCount(3), 3);
    EXPECT_EQ(
        platform::SimPort::Instance().EnumerateInterfaces(platform::kCameraInterfaceGuid).size(),
        3u);
    EXPECT_TRUE(platform::SimPort::Instance()
                    .EnumerateInterfaces("{00000000-0000-0000-0000-000000000000}")
                    .empty());
    char serial[16];
    EXPECT_EQ(LumoraSim_GetSerialNumber(2, serial, sizeof serial), 1);
    EXPECT_STREQ(serial, "LUM00003");
    EXPECT_EQ(LumoraSim_GetSerialNumber(2, serial, 8), 0);  // no room for the terminator
    EXPECT_EQ(LumoraSim_GetSerialNumber(3, serial, sizeof serial), 0);
    EXPECT_EQ(LumoraSim_InjectFault(0, 99, 1, 0), 0);
    EXPECT_EQ(LumoraSim_InjectFault(5, LUMORA_SIM_FAULT_BULK_FAIL, 1, 0), 0);
    EXPECT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_FAIL, -1, 0), 0);
    EXPECT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_FAIL, 1, 0), 1);
    EXPECT_EQ(LumoraSim_ClearFaults(0), 1);
    EXPECT_EQ(LumoraSim_GetPendingTransfers(0), 0);
    EXPECT_EQ(LumoraSim_GetPendingTransfers(7), -1);
    EXPECT_EQ(LumoraSim_SetFirmwareVersion(0, 0x10000), 0);
    EXPECT_EQ(LumoraSim_SetStartupTime(0, -1), 0);
    EXPECT_EQ(LumoraSim_Unplug(9), 0);
    EXPECT_EQ(LumoraSim_ShowFlatTarget(9, 1), 0);
}

TEST(SimCameraCountTest, EnvironmentCountIsADecimalUpTo32) {
    EXPECT_EQ(ParseCameraCount("3"), 3);
    EXPECT_EQ(ParseCameraCount("0"), 0);
    EXPECT_EQ(ParseCameraCount("32"), 32);
    EXPECT_FALSE(ParseCameraCount("33"));
    EXPECT_FALSE(ParseCameraCount("-1"));
    EXPECT_FALSE(ParseCameraCount("2x"));
    EXPECT_FALSE(ParseCameraCount(""));
    EXPECT_FALSE(ParseCameraCount(nullptr));
}

// A model that paces frames by a trigger and draws its own picture.
class TriggeredModel final : public SimCameraModel {
public:
    void PowerOn(SimCamera& camera) override {
        SimCameraModel::PowerOn(camera);
        camera.Fpga().OnWrite(0x90, [&camera](uint32_t, uint8_t value, uint8_t) {
            if (value & 1) camera.ReleaseFrame();  // a software trigger
        });
        ++powerOns;
    }
    std::optional<uint32_t> FrameDelayMs(SimCamera&) override { return std::nullopt; }
    void RenderPayload(SimCamera&, const FrameGeometry& geometry, uint32_t counter,
                       std::span<uint8_t> payload) override {
        lastGeometry = geometry;
        ++draws;
        std::fill(payload.begin(), payload.end(), static_cast<uint8_t>(0xA0 + counter));
    }
    int powerOns = 0;
    int draws = 0;
    FrameGeometry lastGeometry;
};

TEST_F(SimCameraTest, AModelPacesFramesAndDrawsThem) {
    auto model = std::make_unique<TriggeredModel>();
    auto* triggered = model.get();
    SimCameraIdentity identity;
    identity.serialNumber = "MODEL";
    camera_ = std::make_shared<SimCamera>(identity, std::move(model));
    EXPECT_EQ(triggered->powerOns, 1);
    Geometry(4, 4, 1);
    Kick();
    auto header = Bulk(0x81, 64);
    EXPECT_FALSE(header->Done());  // armed, waiting for the trigger
    ASSERT_TRUE(I2cWrite(0x40, {0x90, 0, 1}));
    EXPECT_TRUE(header->Done());
    // The header goes out when the frame is taken; the picture is drawn only when the payload is
    // read, so a slow drawing on a busy host cannot make the header late and the frame lost.
    EXPECT_EQ(triggered->draws, 0);
    auto payload = Bulk(0x81, 16);
    EXPECT_EQ(triggered->draws, 1);
    EXPECT_EQ(payload->Buffer()[5], 0xA0);
    EXPECT_EQ(triggered->lastGeometry.width, 4u);
    EXPECT_EQ(triggered->lastGeometry.PayloadLength(), 16u);
}

// Draws each frame as its counter's byte, noting whether the drawing thread ran above normal
// priority, and runs `whileDrawing` in the middle of the drawing.
class WatchedDrawingModel final : public SimCameraModel {
public:
    void RenderPayload(SimCamera&, const FrameGeometry&, uint32_t counter,
                       std::span<uint8_t> payload) override {
        drewAboveNormal = platform::CurrentThreadAboveNormal();
        if (whileDrawing) whileDrawing(counter);
        std::fill(payload.begin(), payload.end(), static_cast<uint8_t>(0xA0 + counter));
    }
    std::atomic<bool> drewAboveNormal{true};
    std::function<void(uint32_t counter)> whileDrawing;
};

class SimCameraDrawingTest : public SimCameraTest {
protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        auto model = std::make_unique<WatchedDrawingModel>();
        model_ = model.get();
        camera_ = std::make_shared<SimCamera>(SimCameraIdentity{}, std::move(model));
        Geometry(4, 4, 1);
    }
    // A vendor request from any thread (the fixture's Request keeps state of its own).
    bool StreamRequest(uint8_t type, uint8_t request) {
        std::array<uint8_t, 64> data{};
        return camera_->ControlTransfer({type, request, 0, 0, 64}, data) >= 0;
    }
    WatchedDrawingModel* model_ = nullptr;
};

// The driver's transfer loop runs above normal priority, and the frames it reads are drawn on it.
// Where priorities weigh shares, the drawing keeps the loop's priority, or the camera falls behind
// a busy host; where they are strict, two busy cameras drawing at the loop's priority took both
// cores from every other thread (the lock holder one of the loops waited for included), so the
// drawing runs at normal priority there.
TEST_F(SimCameraDrawingTest, AFrameReadAboveNormalIsDrawnAtNormalPriorityOnlyWhereThatIsStrict) {
    platform::Event go(true, false);
    std::atomic<bool> aboveBefore{false};
    std::atomic<bool> aboveAfter{false};
    std::shared_ptr<Captured> payload;
    platform::Thread reader;
    ASSERT_TRUE(reader.Start([&] {
        go.Wait(platform::kInfinite);
        aboveBefore = platform::CurrentThreadAboveNormal();
        Kick();
        Bulk(0x81, 64)->Wait();
        payload = Bulk(0x81, 16);
        aboveAfter = platform::CurrentThreadAboveNormal();
    }));
    const bool raised = reader.SetPriority(platform::ThreadPriority::TimeCritical);
    go.Set();
    reader.Join();
    if (!raised || !aboveBefore) GTEST_SKIP() << "this system refused a priority above normal";
    ASSERT_TRUE(payload && payload->Done());
    EXPECT_EQ(payload->Buffer()[0], 0xA0);
    EXPECT_EQ(model_->drewAboveNormal.load(), !platform::StrictThreadPriorities());
    EXPECT_TRUE(aboveAfter);  // the thread's own priority is back
}

// A camera answers its registers while it reads a frame out; the simulator's drawing of the
// picture must not hold them up (a window change during a run waited on every frame drawn).
TEST_F(SimCameraDrawingTest, RegistersAnswerWhileAFrameIsDrawn) {
    std::thread requester;
    std::atomic<bool> answered{false};
    model_->whileDrawing = [&](uint32_t) {
        auto done = std::make_shared<platform::Event>(true, false);
        requester = std::thread([this, done] {
            if (StreamRequest(0x42, 0xC2)) done->Set();
        });
        answered = done->Wait(5000);
    };
    Kick();
    Bulk(0x81, 64)->Wait();
    auto payload = Bulk(0x81, 16);
    requester.join();
    ASSERT_TRUE(payload->Done());
    EXPECT_TRUE(answered);
    EXPECT_EQ(payload->Buffer()[15], 0xA0);
}

// A stream reset while a frame's picture is being drawn drops that frame. The next frame may
// be taken, drawn and half read before that drawing ends; what is left of it must still be its
// own picture, not the dropped frame's.
TEST_F(SimCameraDrawingTest, AFrameDroppedWhileItsPictureIsDrawnIsNeverSent) {
    std::thread requester;
    std::atomic<bool> answered{false};
    std::shared_ptr<Captured> nextHeader;
    std::shared_ptr<Captured> nextHalf;
    model_->whileDrawing = [&](uint32_t counter) {
        if (counter != 0) return;
        auto done = std::make_shared<platform::Event>(true, false);
        requester = std::thread([this, done, &nextHeader, &nextHalf] {
            // A stream reset, a kick for the next frame, its header and half its payload.
            if (!StreamRequest(0x40, 0xC0) || !StreamRequest(0x42, 0xC2)) return;
            nextHeader = Bulk(0x81, 64);
            nextHalf = Bulk(0x81, 8);
            done->Set();
        });
        answered = done->Wait(5000);
    };
    Kick();
    Bulk(0x81, 64)->Wait();
    auto rest = Bulk(0x81, 64);  // meant for the dropped frame's payload
    requester.join();
    ASSERT_TRUE(answered);
    ASSERT_TRUE(nextHeader->Done() && nextHalf->Done() && rest->Done());
    EXPECT_EQ(nextHeader->Buffer()[usb::FrameHeader::kOffsetFrameCounter], 1);
    ASSERT_EQ(nextHalf->Bytes(), 8u);
    ASSERT_EQ(rest->Bytes(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(nextHalf->Buffer()[i], 0xA1) << i;
        EXPECT_EQ(rest->Buffer()[i], 0xA1) << i;
    }
}

class DelayedModel final : public SimCameraModel {
public:
    std::optional<uint32_t> FrameDelayMs(SimCamera&) override { return 5; }
};

TEST_F(SimCameraTest, ADelayedFrameCompletesAWaitingTransferLater) {
    camera_ = std::make_shared<SimCamera>(SimCameraIdentity{}, std::make_unique<DelayedModel>());
    Geometry(2, 2, 1);
    auto header = Bulk(0x81, 64);
    Kick();
    header->Wait();  // the camera's own clock completes it
    EXPECT_EQ(header->Bytes(), 64u);
}

}  // namespace
}  // namespace lumora::sim
