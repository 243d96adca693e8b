// The device table: rows and ordinals, enumeration through the port, and the block shared
// between processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "lumora/host.h"
#include "platform/LittleEndian.h"
#include "usb/CLumCy3Cam.h"
#include "usb/ScriptedDevice.h"
#include "usb/UsbTestSupport.h"

namespace lumora {
namespace {

using usb::CLumCy3Cam;
using usb::DeviceEntry;
using usb::DeviceTable;
using usb::SharedBlockLayout;

// Direct access to the block, as another process would see it.
class BlockView {
public:
    BlockView() {
        fd_ = shm_open(usb::SharedBlockName().c_str(), O_RDWR | O_CREAT, 0600);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(ftruncate(fd_, SharedBlockLayout::kSize), 0);
        view_ = static_cast<uint8_t*>(
            mmap(nullptr, SharedBlockLayout::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0));
    }
    ~BlockView() {
        munmap(view_, SharedBlockLayout::kSize);
        close(fd_);
    }
    int32_t ReferenceCount() const { return static_cast<int32_t>(platform::LoadLe32(view_)); }
    void SetReferenceCount(int32_t v) { platform::StoreLe32(view_, static_cast<uint32_t>(v)); }
    int32_t RowCount() const {
        return static_cast<int32_t>(platform::LoadLe32(view_ + SharedBlockLayout::kOffsetRowCount));
    }
    void SetRowCount(int32_t v) {
        platform::StoreLe32(view_ + SharedBlockLayout::kOffsetRowCount, static_cast<uint32_t>(v));
    }
    uint8_t* Row(int i) { return view_ + SharedBlockLayout::kOffsetRows + i * DeviceEntry::kSize; }

private:
    int fd_ = -1;
    uint8_t* view_ = nullptr;
};

TEST(DeviceEntryTest, RowLayoutRoundTripsAndAlwaysEndsThePath) {
    DeviceEntry entry;
    entry.vendorId = 0x1D50;
    entry.productId = 0x3380;
    entry.ordinal = 2;
    EXPECT_TRUE(entry.SetPath("abc"));
    uint8_t bytes[DeviceEntry::kSize];
    std::memset(bytes, 0xCC, sizeof bytes);
    entry.Write(bytes);
    EXPECT_EQ(bytes[0], 0x50);
    EXPECT_EQ(bytes[3], 0x33);
    EXPECT_EQ(bytes[4], 2);
    EXPECT_EQ(bytes[8], 'a');
    EXPECT_EQ(bytes[11], 0);
    EXPECT_EQ(bytes[267], 0);  // zero-filled after the terminator
    const auto back = DeviceEntry::Read(bytes);
    EXPECT_EQ(back.Path(), "abc");
    EXPECT_EQ(back.ordinal, 2);

    std::memset(bytes + DeviceEntry::kOffsetPath, 'x', usb::kDevicePathSize);  // no terminator
    EXPECT_EQ(DeviceEntry::Read(bytes).Path().size(), usb::kDevicePathSize - 1);
    EXPECT_FALSE(entry.SetPath(std::string(300, 'y')));
    EXPECT_EQ(entry.Path().size(), usb::kDevicePathSize - 1);
}

TEST(DeviceTableRecordTest, OrdinalsCountEarlierRowsOfTheSameType) {
    DeviceTable table;
    table.Reset();
    EXPECT_EQ(table.Record(1, 0x3380, "a"), 0);
    EXPECT_EQ(table.Record(1, 0x3100, "b"), 1);
    EXPECT_EQ(table.Record(1, 0x3380, "c"), 2);
    EXPECT_EQ(table.Record(1, 0x3380, "a"), 0);  // known path: no new row
    EXPECT_EQ(table.count, 3);
    EXPECT_EQ(table.rows[0].ordinal, 0);
    EXPECT_EQ(table.rows[1].ordinal, 0);
    EXPECT_EQ(table.rows[2].ordinal, 1);
    EXPECT_EQ(table.rows[3].ordinal, -1);
    for (int i = 3; i < usb::kMaxDevices; ++i) {
        EXPECT_EQ(table.Record(2, 0x3380, "p" + std::to_string(i)), i);
    }
    EXPECT_EQ(table.Record(2, 0x3380, "one too many"), -1);
    EXPECT_EQ(table.count, usb::kMaxDevices);
    table.count = 99;  // a count out of range never indexes past the rows
    EXPECT_EQ(table.Record(3, 0x3380, "x"), -1);
}

class EnumerationTest : public testing::SimCamerasTest {};

TEST_F(EnumerationTest, NoCameraAddsNothing) {
    UseCameras(0);
    CLumCy3Cam c;
    EXPECT_EQ(c.EnumerateDevices(), 0);
    EXPECT_EQ(c.IsDevicePresent(0), 0);
    EXPECT_EQ(c.SelectDevice(0), 0);
    uint8_t value = 0;
    EXPECT_EQ(c.ReadFpgaRegister(0, &value), 0);  // "no device" at once
}

TEST_F(EnumerationTest, CamerasGetRowsAndOrdinalsOnce) {
    UseCameras(2);
    CLumCy3Cam c;
    EXPECT_EQ(c.EnumerateDevices(), 2);
    EXPECT_EQ(c.EnumerateDevices(), 2);  // the same cameras again: no new rows
    const auto table = c.GetDeviceTable();
    EXPECT_EQ(table.rows[0].ordinal, 0);
    EXPECT_EQ(table.rows[1].ordinal, 1);
    EXPECT_EQ(table.rows[0].productId, 0x3380);
    EXPECT_EQ(table.rows[0].Path(), Camera(0)->InterfacePath());
    EXPECT_EQ(c.IsDevicePresent(1), 1);
    EXPECT_EQ(c.IsDevicePresent(2), 0);
    EXPECT_EQ(c.IsDevicePresent(-1), 0);
    EXPECT_EQ(c.OpenDevicePath(-1, false), nullptr);
    EXPECT_EQ(c.OpenDevicePath(32, false), nullptr);
    EXPECT_NE(c.OpenDevicePath(0, true), nullptr);
    char name[64];
    EXPECT_EQ(c.GetDeviceDisplayName(0, name, sizeof name), 0);  // 0x3380 is named by the session
}

TEST_F(EnumerationTest, PathsHaveTheDriversForm) {
    UseCameras(1);
    const std::string path = Camera(0)->InterfacePath();
    EXPECT_EQ(path.rfind("\\\\?\\usb#vid_", 0), 0u);
    EXPECT_EQ(path.substr(17, 4), "pid_");
    EXPECT_EQ(path.substr(21, 4), "3380");
    EXPECT_TRUE(path.ends_with("#{328184c5-93e6-49b7-94b8-2ada13aabb39}"));
}

TEST_F(EnumerationTest, CameraMovedToAnotherPortGetsANewRow) {
    UseCameras(1);
    CLumCy3Cam c;
    ASSERT_EQ(c.EnumerateDevices(), 1);
    ASSERT_EQ(LumoraSim_ReplugOnNewPort(0), 1);
    EXPECT_EQ(c.EnumerateDevices(), 2);
    const auto table = c.GetDeviceTable();
    EXPECT_EQ(table.rows[1].ordinal, 1);
    EXPECT_EQ(table.rows[1].Path(), Camera(0)->InterfacePath());
    EXPECT_EQ(c.IsDevicePresent(0), 0);
    EXPECT_EQ(c.IsDevicePresent(1), 1);
}

TEST_F(EnumerationTest, UnfitPathsAreNotRecorded) {
    UseCameras(0);
    const std::string tail = "#{328184c5-93e6-49b7-94b8-2ada13aabb39}";
    testing::PluggedDevice tooLong("\\\\?\\usb#vid_1d50&pid_3380#" + std::string(230, 'x') + tail);
    testing::PluggedDevice noFields("\\\\?\\usb#xxx_1d50&pid_3380#abc" + tail);
    testing::PluggedDevice badDigits("\\\\?\\usb#vid_1g50&pid_3380#abc" + tail);
    testing::PluggedDevice named("\\\\?\\usb#vid_1d50&pid_3100#named" + tail);
    ASSERT_GE(tooLong->InterfacePath().size(), usb::kDevicePathSize);
    CLumCy3Cam c;
    EXPECT_EQ(c.EnumerateDevices(), 1);
    EXPECT_EQ(c.GetDeviceEntry(0).productId, 0x3100);
    char name[64];
    ASSERT_EQ(c.GetDeviceDisplayName(0, name, sizeof name), 1);
    EXPECT_TRUE(std::string(name).ends_with("_00"));
    char tiny[4];
    EXPECT_EQ(c.GetDeviceDisplayName(0, tiny, sizeof tiny), 0);  // the caller's size counts
}

// Without a shared block (none named, or none the system grants) the process copy behaves like
// the block: a controller arriving after all others have gone starts from an empty table.
TEST_F(EnumerationTest, PrivateTableStartsEmptyOnceEveryControllerHasGone) {
    const std::string programBlock = usb::SharedBlockName();
    const char* named = std::getenv("LUMORA_SHM_NAME");
    const std::string namedBlock = named ? named : "";
    ::unsetenv("LUMORA_SHM_NAME");
    UseCameras(2);  // simulated cameras keep the table private
    usb::SetSharedBlockNameForTesting("");
    {
        CLumCy3Cam first;
        ASSERT_EQ(first.SharedReferenceCount(), 0);  // no block: the process copy alone
        ASSERT_EQ(first.EnumerateDevices(), 2);
        CLumCy3Cam second;  // a second controller shares the rows of the first
        EXPECT_EQ(second.GetDeviceTable().count, 2);
    }
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    ASSERT_EQ(LumoraSim_Unplug(1), 1);
    testing::PluggedDevice device(platform::MakeInterfacePath(0x1D50, 0x3380, "later"));
    CLumCy3Cam later;
    EXPECT_EQ(later.EnumerateDevices(), 1);
    EXPECT_EQ(later.SelectDevice(0), 1);
    usb::SetSharedBlockNameForTesting(programBlock);
    if (!namedBlock.empty()) ::setenv("LUMORA_SHM_NAME", namedBlock.c_str(), 1);
}

class SharedTableTest : public testing::SimCamerasTest {};

TEST_F(SharedTableTest, FirstControllerCreatesAnEmptyBlockAndCountsItself) {
    UseCameras(1);
    {
        CLumCy3Cam first;
        EXPECT_EQ(first.SharedReferenceCount(), 1);
        EXPECT_EQ(first.GetDeviceTable().count, 0);
        first.EnumerateDevices();
        CLumCy3Cam second;
        EXPECT_EQ(second.SharedReferenceCount(), 2);
        EXPECT_EQ(second.GetDeviceTable().count, 1);
    }
    BlockView block;
    EXPECT_EQ(block.ReferenceCount(), 0);
    EXPECT_EQ(block.RowCount(), 1);
    CLumCy3Cam again;  // nobody attached: the table starts over
    EXPECT_EQ(again.GetDeviceTable().count, 0);
    EXPECT_EQ(again.SharedReferenceCount(), 1);
}

TEST_F(SharedTableTest, AChildProcessSeesTheSameRowsAndOrdinals) {
    UseCameras(2);
    {
        CLumCy3Cam parent;
        ASSERT_EQ(parent.EnumerateDevices(), 2);
        const auto expected = parent.GetDeviceTable();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            {
                CLumCy3Cam other;
                const auto seen = other.GetDeviceTable();
                if (seen.count != expected.count) failures |= 1;
                for (int i = 0; i < 2; ++i) {
                    if (seen.rows[i].Path() != expected.rows[i].Path() ||
                        seen.rows[i].ordinal != expected.rows[i].ordinal) {
                        failures |= 2;
                    }
                }
                if (other.SharedReferenceCount() != 2) failures |= 4;
            }
            _exit(failures);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(parent.SharedReferenceCount(), 1);  // the child counted itself out
    }
    // Both have detached: the next controller starts from an empty table.
    CLumCy3Cam next;
    EXPECT_EQ(next.GetDeviceTable().count, 0);
    EXPECT_EQ(next.SharedReferenceCount(), 1);
}

TEST_F(SharedTableTest, BlockLeftByACrashedProcessIsReset) {
    UseCameras(0);
    {
        BlockView block;
        block.SetReferenceCount(3);  // nobody holds it any more
        block.SetRowCount(2);
        DeviceEntry stale;
        stale.productId = 0x3380;
        stale.ordinal = 0;
        stale.SetPath("stale");
        stale.Write(block.Row(0));
    }
    CLumCy3Cam c;
    EXPECT_EQ(c.GetDeviceTable().count, 0);
    EXPECT_EQ(c.SharedReferenceCount(), 1);
}

TEST_F(SharedTableTest, ARowCountOutOfRangeResetsTheTable) {
    UseCameras(1);
    CLumCy3Cam first;
    first.EnumerateDevices();
    {
        BlockView block;
        block.SetRowCount(99);
    }
    CLumCy3Cam second;
    EXPECT_EQ(second.GetDeviceTable().count, 0);
    EXPECT_EQ(second.SharedReferenceCount(), 2);  // attached controllers are still counted
    EXPECT_EQ(second.EnumerateDevices(), 1);
}

TEST_F(SharedTableTest, EnumerationMergesRowsAnotherControllerPublished) {
    UseCameras(2);
    CLumCy3Cam first;
    CLumCy3Cam second;
    ASSERT_EQ(LumoraSim_Unplug(1), 1);
    EXPECT_EQ(first.EnumerateDevices(), 1);
    ASSERT_EQ(LumoraSim_Replug(1), 1);
    EXPECT_EQ(second.EnumerateDevices(), 2);
    EXPECT_EQ(first.GetDeviceTable().rows[1].Path(), Camera(1)->InterfacePath());
}

}  // namespace
}  // namespace lumora
