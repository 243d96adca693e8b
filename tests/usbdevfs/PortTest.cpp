// The libusb backend of the port against the emulated usbdevfs: enumeration, requests,
// handle sharing, completion and abort order, replug.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "port/LibusbPort.h"
#include "tests/usbdevfs/BenchWorld.h"
#include "tests/usbdevfs/BridgeInfoRequest.h"

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using platform::DeviceFile;
using platform::kErrorSuccess;
using platform::LibusbPort;

std::unique_ptr<DeviceFile> OpenPath(const std::string& path, bool overlapped = false) {
    uint32_t error = 0;
    auto file = LibusbPort::Instance().Open(path, overlapped, &error);
    EXPECT_TRUE(file) << "open failed with " << error;
    return file;
}

// A direct bulk read of `size` bytes from endpoint 0x81 into `data`, completing on `record`.
struct BulkRead {
    std::array<uint8_t, platform::SingleTransfer::kSize> header{};
    std::vector<uint8_t> data;
    platform::Event event{true, false};
    platform::Overlapped record{event};
    explicit BulkRead(size_t size) : data(size) {
        platform::SingleTransfer t;
        t.endpoint = 0x81;
        t.Write(header.data());
    }
    uint32_t Issue(DeviceFile& file) {
        uint32_t returned = 0;
        return file.IoControl(platform::kIoctlDirectBulk, header.data(), header.size(), data.data(),
                              static_cast<uint32_t>(data.size()), &returned, &record);
    }
};

uint32_t AbortEndpoint(DeviceFile& file) {
    uint8_t endpoint = 0x81;
    uint32_t returned = 0;
    return file.IoControl(platform::kIoctlAbortPipe, &endpoint, 1, nullptr, 0, &returned, nullptr);
}

TEST(LibusbPortTest, ListsBothCamerasByPortAndCarriesVendorRequests) {
    const auto paths = LibusbPort::Instance().EnumerateInterfaces(platform::kCameraInterfaceGuid);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], platform::MakeInterfacePath(kEmulatedVendorId, 0x3380, "lu1-1"));
    EXPECT_EQ(paths[1], platform::MakeInterfacePath(kEmulatedVendorId, 0x3380, "lu1-2"));
    EXPECT_TRUE(LibusbPort::Instance()
                    .EnumerateInterfaces("{00000000-0000-0000-0000-000000000000}")
                    .empty());

    auto file = OpenPath(paths[0]);
    ASSERT_TRUE(file);
    std::array<uint8_t, 64> info{};
    EXPECT_EQ(ReadBridgeInfo(*file, &info), kErrorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.data()), 17), "LUMORA FX3 BRIDGE");
    EXPECT_EQ(platform::LoadLe16(info.data() + 26), 0x3380);

    uint32_t speed = 0;
    uint32_t returned = 0;
    std::array<uint8_t, 4> in{};
    std::array<uint8_t, 4> out{};
    ASSERT_EQ(
        file->IoControl(platform::kIoctlGetSpeed, in.data(), 4, out.data(), 4, &returned, nullptr),
        kErrorSuccess);
    speed = platform::LoadLe32(out.data());
    EXPECT_EQ(speed, platform::kSpeedSuper);
}

// The completion of a transfer whose handle was already dropped holds the last reference to
// the opened device: releasing it must not close the libusb handle inside libusb's event
// handling, and later opens must not block.
TEST(LibusbPortTest, TransferCompletingAfterItsHandleWasDroppedDoesNotDeadlock) {
    auto camera = BenchWorld::Camera(0);
    const std::string path = BenchWorld::PathOf(0);
    for (int round = 0; round < 3; ++round) {
        FinishesWithin(5s, "completion after the handle was dropped", [&] {
            auto file = OpenPath(path, true);
            ASSERT_TRUE(file);
            BulkRead read(64);
            camera->HoldReaps(true);
            camera->Sim().InjectFault(sim::SimFault::BulkFail, 1, 0);
            const uint32_t issued = read.Issue(*file);
            ASSERT_TRUE(issued == platform::kErrorIoPending || issued != kErrorSuccess);
            file.reset();  // the transfer's completion now holds what is left of the device
            camera->HoldReaps(false);
            read.record.WaitUntilDone();
            auto again = OpenPath(path);
            ASSERT_TRUE(again);
            EXPECT_EQ(ReadBridgeInfo(*again), kErrorSuccess);
        });
    }
}

// An abort cancels what is pending when it is called; a transfer submitted while it waits for
// those cancellations to come back is not its business.
TEST(LibusbPortTest, AbortDoesNotWaitForTransfersSubmittedAfterIt) {
    auto camera = BenchWorld::Camera(0);
    auto file = OpenPath(BenchWorld::PathOf(0), true);
    ASSERT_TRUE(file);
    camera->Sim().InjectFault(sim::SimFault::BulkStall, 2, 0);
    BulkRead first(64);
    ASSERT_EQ(first.Issue(*file), platform::kErrorIoPending);
    camera->HoldReaps(true);  // the cancelled transfer's completion waits until we let it go
    std::atomic<bool> aborted{false};
    std::thread abort([&] {
        AbortEndpoint(*file);
        aborted = true;
    });
    ASSERT_TRUE(WaitUntil(2s, [&] { return camera->Sim().PendingTransfers() == 0; }));
    BulkRead second(64);
    ASSERT_EQ(second.Issue(*file), platform::kErrorIoPending);
    camera->HoldReaps(false);
    FinishesWithin(3s, "abort with a later transfer pending", [&] {
        first.record.WaitUntilDone();
        while (!aborted) std::this_thread::sleep_for(1ms);
    });
    abort.join();
    uint32_t error = 0;
    EXPECT_FALSE(first.record.GetResult(nullptr, &error));
    EXPECT_EQ(error, platform::kErrorOperationAborted);
    EXPECT_TRUE(second.record.IsPending());
    FinishesWithin(3s, "abort of the later transfer", [&] { AbortEndpoint(*file); });
    EXPECT_FALSE(second.record.IsPending());
    camera->Sim().ClearFaults();
}

// After an unplug and a replug on the same port, the path names a new device: a handle held
// across it fails, new opens reach the camera, and while it is away it is not present.
TEST(LibusbPortTest, ReplugOnTheSamePortIsANewDevice) {
    const std::string path = BenchWorld::PathOf(1);
    ASSERT_FALSE(path.empty());
    auto held = OpenPath(path);
    ASSERT_TRUE(held);
    ASSERT_EQ(ReadBridgeInfo(*held), kErrorSuccess);
    HotplugRecorder events;
    BenchWorld::Unplug(1);
    ASSERT_TRUE(events.WaitFor(platform::HotplugEvent::Removal, path, 3s));
    uint32_t error = 0;
    EXPECT_FALSE(LibusbPort::Instance().Open(path, false, &error));
    EXPECT_EQ(error, platform::kErrorFileNotFound);

    BenchWorld::Replug(1);
    ASSERT_TRUE(events.WaitFor(platform::HotplugEvent::Arrival, path, 3s));
    EXPECT_EQ(events.Count(platform::HotplugEvent::Removal, path), 1);
    EXPECT_EQ(ReadBridgeInfo(*held), platform::kErrorDeviceNotConnected);
    auto fresh = OpenPath(path);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(ReadBridgeInfo(*fresh), kErrorSuccess);
}

// Opening and closing (how presence is checked) claims nothing; the requests of this process
// share one claim however many handles they come on.
TEST(LibusbPortTest, PresenceChecksClaimNothingAndRequestsShareOneClaim) {
    auto camera = BenchWorld::Camera(1);
    const std::string path = BenchWorld::PathOf(1);
    // What earlier tests opened is closed once it has been idle for a while.
    ASSERT_TRUE(WaitUntil(6s, [&] { return !camera->Claimed(); }));
    const int claims = camera->Claims();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(OpenPath(path));
    EXPECT_FALSE(camera->Claimed());
    EXPECT_EQ(camera->Claims(), claims);
    for (int i = 0; i < 20; ++i) {
        auto file = OpenPath(path);
        ASSERT_TRUE(file);
        EXPECT_EQ(ReadBridgeInfo(*file), kErrorSuccess);
    }
    EXPECT_EQ(camera->Claims(), claims + 1);
    EXPECT_TRUE(camera->Claimed());
}

}  // namespace
}  // namespace lumora::testing
