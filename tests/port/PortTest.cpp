// The port as the transport sees the kernel driver: requests, overlapped completion, aborts,
// hot-plug events.
#include <gtest/gtest.h>

#include <array>

#include "lumora/host.h"
#include "port/ActivePort.h"
#include "port/SimPort.h"
#include "sim/SimCameraSet.h"
#include "usb/Fx3Protocol.h"
#include "usb/UsbTestSupport.h"

namespace lumora::platform {
namespace {

class PortTest : public lumora::testing::SimCamerasTest {
protected:
    void SetUp() override { UseCameras(1); }
    std::unique_ptr<DeviceFile> Open(bool overlapped) {
        uint32_t error = 99;
        auto file = ActivePort().Open(Camera(0)->InterfacePath(), overlapped, &error);
        EXPECT_EQ(error, kErrorSuccess);
        return file;
    }
    static std::array<uint8_t, SingleTransfer::kSize> BulkHeader(uint8_t endpoint) {
        std::array<uint8_t, SingleTransfer::kSize> header{};
        SingleTransfer t;
        t.endpoint = endpoint;
        t.Write(header.data());
        return header;
    }
};

TEST_F(PortTest, ControlRequestReturnsHeaderAndDataCount) {
    auto file = Open(false);
    ASSERT_TRUE(file);
    auto request = usb::ControlRequest::For(*usb::FindVendorRequest(usb::kReqBridgeInfo), 0, 0);
    std::array<uint8_t, usb::ControlRequest::kSize> buffer{};
    request.Write(buffer.data());
    uint32_t returned = 0;
    EXPECT_EQ(file->IoControl(kIoctlControlTransfer, buffer.data(), 102, buffer.data(), 102,
                              &returned, nullptr),
              kErrorSuccess);
    EXPECT_EQ(returned, 102u);
    EXPECT_EQ(buffer[38 + 24] | (buffer[38 + 25] << 8), 0x1200);
    // A data stage longer than 64 bytes is no control request.
    SingleTransfer bad = request.header;
    bad.bufferLength = 65;
    bad.Write(buffer.data());
    EXPECT_EQ(file->IoControl(kIoctlControlTransfer, buffer.data(), 102, buffer.data(), 102,
                              &returned, nullptr),
              kErrorInvalidParameter);
    // Nor is one whose length field disagrees with its size, or one without a time-out.
    for (auto spoil : {+[](SingleTransfer& t) { t.length = 101; },
                       +[](SingleTransfer& t) { t.timeoutSeconds = 0; }}) {
        SingleTransfer malformed = request.header;
        spoil(malformed);
        malformed.Write(buffer.data());
        EXPECT_EQ(file->IoControl(kIoctlControlTransfer, buffer.data(), 102, buffer.data(), 102,
                                  &returned, nullptr),
                  kErrorInvalidParameter);
    }
    EXPECT_EQ(file->IoControl(0x12345678, nullptr, 0, nullptr, 0, &returned, nullptr),
              kErrorInvalidParameter);
}

TEST_F(PortTest, OverlappedTransferPendsUntilAborted) {
    auto file = Open(true);
    auto header = BulkHeader(0x81);
    std::array<uint8_t, 64> data{};
    Event event(false, false);
    Overlapped overlapped(event);
    uint32_t returned = 0;
    ASSERT_EQ(file->IoControl(kIoctlDirectBulk, header.data(), 38, data.data(), 64, &returned,
                              &overlapped),
              kErrorIoPending);
    uint32_t bytes = 0;
    uint32_t error = 0;
    EXPECT_FALSE(overlapped.GetResult(&bytes, &error));
    EXPECT_EQ(error, kErrorIoIncomplete);
    EXPECT_FALSE(event.IsSet());

    uint8_t endpoint = 0x81;
    EXPECT_EQ(file->IoControl(kIoctlAbortPipe, &endpoint, 1, nullptr, 0, &returned, nullptr),
              kErrorSuccess);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(overlapped.GetResult(&bytes, &error));
    EXPECT_EQ(error, kErrorOperationAborted);
    EXPECT_NE(LoadLe32(header.data() + SingleTransfer::kOffsetStatus), 0u);
}

TEST_F(PortTest, TransferThatCanCompleteAtOnceDoes) {
    auto file = Open(true);
    uint8_t speed[4] = {};
    uint32_t returned = 0;
    EXPECT_EQ(file->IoControl(kIoctlGetSpeed, speed, 4, speed, 4, &returned, nullptr),
              kErrorSuccess);
    EXPECT_EQ(LoadLe32(speed), kSpeedSuper);

    Camera(0)->InjectFault(sim::SimFault::BulkFail, 1, 0);
    auto header = BulkHeader(0x81);
    std::array<uint8_t, 64> data{};
    Event event(false, false);
    Overlapped overlapped(event);
    // Completed (with its error) before the call returned: no pending state, and the record
    // tells the same.
    EXPECT_EQ(file->IoControl(kIoctlDirectBulk, header.data(), 38, data.data(), 64, &returned,
                              &overlapped),
              kErrorGenFailure);
    EXPECT_TRUE(event.Wait(0));
    uint32_t error = 0;
    EXPECT_FALSE(overlapped.GetResult(nullptr, &error));
    EXPECT_EQ(error, kErrorGenFailure);
}

TEST_F(PortTest, ReleasingAPendingRecordCancelsItsTransfer) {
    auto file = Open(true);
    auto header = BulkHeader(0x81);
    std::array<uint8_t, 64> data{};
    Event event(false, false);
    {
        Overlapped overlapped(event);
        uint32_t returned = 0;
        ASSERT_EQ(file->IoControl(kIoctlDirectBulk, header.data(), 38, data.data(), 64, &returned,
                                  &overlapped),
                  kErrorIoPending);
        EXPECT_EQ(Camera(0)->PendingTransfers(), 1u);
    }
    EXPECT_EQ(Camera(0)->PendingTransfers(), 0u);
}

TEST_F(PortTest, HandlesToAnUnpluggedCameraFail) {
    auto plain = Open(false);
    auto overlapped = Open(true);  // several handles to one camera at once
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    uint8_t speed[4] = {};
    uint32_t returned = 0;
    EXPECT_EQ(plain->IoControl(kIoctlGetSpeed, speed, 4, speed, 4, &returned, nullptr),
              kErrorDeviceNotConnected);
    uint32_t error = 0;
    EXPECT_EQ(ActivePort().Open(Camera(0)->InterfacePath(), false, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    // Back on a new port: the old path stays dead, the old handle too.
    ASSERT_EQ(LumoraSim_ReplugOnNewPort(0), 1);
    EXPECT_EQ(overlapped->IoControl(kIoctlGetSpeed, speed, 4, speed, 4, &returned, nullptr),
              kErrorDeviceNotConnected);
    EXPECT_TRUE(ActivePort().Open(Camera(0)->InterfacePath(), false, &error));
}

TEST(HotplugHubTest, UnsubscribedCallbacksStopAndMayUnsubscribeThemselves) {
    auto& hub = HotplugHub::Instance();
    int calls = 0;
    int self = 0;
    self = hub.Subscribe([&](HotplugEvent, const std::string&) {
        ++calls;
        hub.Unsubscribe(self);
    });
    hub.Notify(HotplugEvent::Arrival, "a");
    hub.Notify(HotplugEvent::Arrival, "b");
    EXPECT_EQ(calls, 1);
}

TEST(InterfacePathTest, PathsUseLowerCaseHexAndTheGuid) {
    EXPECT_EQ(MakeInterfacePath(0xABCD, 0x3380, "inst"),
              "\\\\?\\usb#vid_abcd&pid_3380#inst#{328184c5-93e6-49b7-94b8-2ada13aabb39}");
}

// The port reaches the simulated cameras' owner only through the source attached to it: it asks
// before every listing and open, and the source alone says whether simulated cameras are in use.
TEST(SimPortSourceTest, ListingAndOpeningAskTheAttachedSource) {
    sim::JoinPort();
    auto& port = SimPort::Instance();
    ASSERT_EQ(port.Source(), &sim::SimCameraSet::Instance());

    struct CountingSource final : SimDeviceSource {
        int asked = 0;
        bool configured = false;
        void PlugConfiguredDevices() override { ++asked; }
        bool CamerasConfigured() const override { return configured; }
    } source;
    port.AttachSource(&source);
    port.EnumerateInterfaces(kCameraInterfaceGuid);
    uint32_t error = 0;
    EXPECT_EQ(port.Open(MakeInterfacePath(0x1D50, 0x3380, "none"), false, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    EXPECT_EQ(source.asked, 2);
    EXPECT_FALSE(SimulatedCamerasInUse());
    source.configured = true;
    EXPECT_TRUE(SimulatedCamerasInUse());

    // Without a source the bus is simply empty.
    port.AttachSource(nullptr);
    EXPECT_FALSE(SimulatedCamerasInUse());
    EXPECT_TRUE(port.EnumerateInterfaces(kCameraInterfaceGuid).empty());
    port.AttachSource(&sim::SimCameraSet::Instance());
}

}  // namespace
}  // namespace lumora::platform
