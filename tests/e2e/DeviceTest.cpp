// Sessions, devices and the camera's identity through the exports, on simulated cameras.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "driver/CLumoraUSB3T2SimpleSdk.h"

namespace lumora::testing {
namespace {

TEST_F(SimWorld, OneCameraIsOpenedAtInitialize) {
    const int h = Open();
    EXPECT_EQ(Session(h)->DeviceNumber(), 0);
    // A monochrome camera that delivers 12-bit samples starts in 16-bit mode.
    EXPECT_EQ(Lumora_GetColorMode(h), 16);
    EXPECT_EQ(Lumora_GetLastError(h), 0);
    EXPECT_EQ(Lumora_Width(h), 2560);
    EXPECT_EQ(Lumora_Height(h), 2048);
}

TEST_F(TwoCameraWorld, NothingIsOpenedUntilADeviceIsChosen) {
    const int h = Open();
    EXPECT_EQ(Session(h)->DeviceNumber(), -1);
    const auto devices = PresentDevices(h);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(Lumora_SetDeviceNumber(h, 31), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_DEVICE);
    EXPECT_EQ(Lumora_SetDeviceNumber(h, devices[1]), 1);
    EXPECT_EQ(Session(h)->DeviceNumber(), devices[1]);
    // The same number again: nothing reopened, still success.
    EXPECT_EQ(Lumora_SetDeviceNumber(h, devices[1]), 1);
    EXPECT_EQ(Lumora_GetLastError(h), 0);
}

TEST_F(TwoCameraWorld, EnumDeviceNamesThePresentCamerasAndClearsTheRest) {
    const int h = Open();
    std::vector<char> names(10 * 256, 'x');
    EXPECT_EQ(Lumora_EnumDevice(h, names.data()), 2);
    EXPECT_STREQ(names.data(), "LumoraM5XIRTEC_01");
    EXPECT_STREQ(names.data() + 256, "LumoraM5XIRTEC_02");
    for (int slot = 2; slot < 10; ++slot) EXPECT_EQ(names[slot * 256], 0);

    std::vector<LUMORA_WCHAR> wide(10 * 256, u'x');
    EXPECT_EQ(Lumora_EnumDeviceW(h, wide.data()), 2);
    EXPECT_EQ(std::u16string(wide.data()), u"LumoraM5XIRTEC_01");
    EXPECT_EQ(wide[9 * 256], 0);
}

TEST_F(SimWorld, DeviceNameNeedsRoomForTheWholeNameAndNeverWritesPastTheSize) {
    const int h = Open();
    char name[32];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(Lumora_GetDeviceName(h, 0, name, 17), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(Lumora_GetDeviceName(h, 0, name, 18), 1);
    EXPECT_STREQ(name, "LumoraM5XIRTEC_01");
    EXPECT_EQ(name[18], 'x');
    EXPECT_EQ(Lumora_GetDeviceName(h, 3, name, sizeof name), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_DEVICE);
    EXPECT_EQ(Lumora_GetDeviceName(h, -1, name, sizeof name), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_DEVICE);
    EXPECT_EQ(Lumora_GetDeviceName(h, 0, nullptr, 64), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);

    LUMORA_WCHAR wide[8];
    EXPECT_EQ(Lumora_GetDeviceNameW(h, 0, wide, 8), 0);  // too small for the name
    EXPECT_EQ(Lumora_GetLastError(h), ERR_TEXT);
    LUMORA_WCHAR fits[18];
    EXPECT_EQ(Lumora_GetDeviceNameW(h, 0, fits, 18), 1);
    EXPECT_EQ(std::u16string(fits), u"LumoraM5XIRTEC_01");
}

TEST_F(SimWorld, SerialNumberComesFromTheCamerasMemory) {
    const int h = Open();
    char expected[32] = {};
    ASSERT_EQ(LumoraSim_GetSerialNumber(0, expected, sizeof expected), 1);
    char text[64] = {};
    EXPECT_EQ(Lumora_ReadSerialNumberA(h, text, sizeof text), 1);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(Lumora_ReadSerialNumberA(h, text, 31), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    LUMORA_WCHAR wide[64] = {};
    EXPECT_EQ(Lumora_ReadSerialNumberW(h, wide, 64), 1);
    std::u16string expectedWide(expected, expected + std::strlen(expected));
    EXPECT_EQ(std::u16string(wide), expectedWide);
}

TEST_F(SimWorld, ErasedSerialNumberLeavesTheBufferAlone) {
    const int h = Open();
    // The serial number lies beyond what the memory exports reach; erase it through the driver.
    for (int i = 0; i < 32; ++i) ASSERT_EQ(Session(h)->Driver()->WriteSrom(0x1040 + i, 0xFF), 1);
    char text[40];
    std::memset(text, 'q', sizeof text);
    EXPECT_EQ(Lumora_ReadSerialNumberA(h, text, sizeof text), 1);
    EXPECT_EQ(text[0], 'q');
}

TEST_F(SimWorld, CameraInfoFillsWhatTheRecordSizeAllows) {
    const int h = Open();
    LUMORA_CAMERA_INFO info;
    std::memset(&info, 0xAB, sizeof info);
    info.size = 40;
    EXPECT_EQ(Lumora_GetCameraInfo(h, &info), 1);
    EXPECT_EQ(info.maxWidth, 2560);
    EXPECT_EQ(info.maxHeight, 2048);
    EXPECT_LT(info.globalGainMin, info.globalGainMax);
    EXPECT_LT(info.exposureMin, info.exposureMax);
    EXPECT_EQ(info.unused, static_cast<int32_t>(0xABABABAB));
    uint64_t untouched;
    std::memcpy(&untouched, &info.exposureExMin, sizeof untouched);
    EXPECT_EQ(untouched, 0xABABABABABABABABull);

    info.size = 56;
    EXPECT_EQ(Lumora_GetCameraInfo(h, &info), 1);
    EXPECT_GT(info.exposureExMax, info.exposureExMin);
    EXPECT_GT(info.exposureExMin, 0.0);

    info.size = 35;
    EXPECT_EQ(Lumora_GetCameraInfo(h, &info), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_MEMORY);
    EXPECT_EQ(Lumora_GetCameraInfo(h, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
}

TEST_F(SimWorld, UnknownHandlesGiveEachExportsFailureValue) {
    const int bogus = 0x1234567;
    int valid = 7;
    EXPECT_EQ(Lumora_GetColorMode(bogus), -1);
    EXPECT_EQ(Lumora_GetSubSample(bogus), -1);
    EXPECT_EQ(Lumora_GetWaitTime(bogus), -1);
    EXPECT_EQ(Lumora_GetExposureTimeEx(bogus, &valid), 0.0);
    EXPECT_EQ(Lumora_GetTemperatureEx(bogus, &valid), 0.0);
    EXPECT_EQ(valid, 7);  // nothing touched
    EXPECT_EQ(Lumora_SetConfigFilter(bogus, 1, 1), 0);
    EXPECT_EQ(Lumora_SnapShot(bogus, nullptr, 0, 0), 0);
    EXPECT_EQ(Lumora_Close(bogus), 0);
    EXPECT_EQ(Lumora_SetBrightness(bogus, 1), 0);
}

TEST_F(SimWorld, SettingsSurviveARelease) {
    int h = Open();
    ASSERT_EQ(Lumora_SetGlobalGain(h, 123), 1);
    ASSERT_EQ(Lumora_SetBrightness(h, -40), 1);
    ASSERT_EQ(Lumora_SetGrayOffsetB(h, -7), 1);
    ASSERT_EQ(Lumora_SetMirrorH(h, 1), 1);
    Release(h);

    h = Open();
    int valid = 0;
    EXPECT_EQ(Lumora_GetGlobalGain(h, &valid), 123);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(Lumora_GetBrightness(h, &valid), -40);
    EXPECT_EQ(Lumora_GetGrayOffsetB(h, &valid), -7);
    EXPECT_EQ(Lumora_GetMirrorH(h), 1);
}

TEST_F(SimWorld, DeviceChangesArePostedToTheNotificationWindow) {
    const int h = Open();
    Messages(events_);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    ASSERT_EQ(LumoraSim_Replug(0), 1);
    const auto messages = Messages(events_, 2000);
    bool removal = false;
    bool arrival = false;
    for (const auto& m : messages) {
        if (m.message != 0x0219) continue;
        removal = removal || m.wParam == 0x8004;
        arrival = arrival || (removal && m.wParam == 0x8000);
    }
    EXPECT_TRUE(removal);
    EXPECT_TRUE(arrival);
    (void)h;
}

TEST_F(SimWorld, InitializeWithoutAWindowStillOpensTheCamera) {
    const int h = Open(nullptr);
    EXPECT_EQ(Session(h)->DeviceNumber(), 0);
}

}  // namespace
}  // namespace lumora::testing

namespace lumora::testing {
namespace {

constexpr const char* kHolderFlag = "LUMORA_TEST_HOLD_CAMERA";

// Run as a second process by the test below (this program, with kHolderFlag set): opens camera
// 0, streams from it, says so on standard output and goes on until its standard input ends.
TEST(SecondProcess, HoldsCameraZeroUntilItsInputEnds) {
    if (std::getenv(kHolderFlag) == nullptr) GTEST_SKIP() << "run by CameraInUseByAnotherProcess";
    LumoraSim_SetFastMode(1);
    LumoraSim_SetCameraCount(1);
    const int h = Lumora_Initialize(nullptr);
    ASSERT_NE(h, 0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, nullptr, nullptr, 0, 1), 1);  // in use all along
    std::printf("held\n");
    std::fflush(stdout);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    Lumora_Release(h);
}

// A camera is claimed by one process at a time: a second process on the same bus cannot open
// it (code 2) until the first is done with it.
TEST_F(SimWorld, CameraInUseByAnotherProcessCannotBeOpenedUntilItIsFree) {
    const std::string bus = "claim-test-" + std::to_string(::getpid());
    ::setenv("LUMORA_SIM_BUS", bus.c_str(), 1);
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    const std::string config = (configDir_ / "child").string();
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "LUMORA_CONFIG_HOME=", 19) != 0) environment.emplace_back(*e);
    }
    environment.push_back(std::string(kHolderFlag) + "=1");
    environment.push_back("LUMORA_CONFIG_HOME=" + config);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=SecondProcess.HoldsCameraZeroUntilItsInputEnds";
    char* argv[] = {self.data(), filter.data(), nullptr};
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    ASSERT_EQ(spawned, 0);
    // Until the child holds the camera (it prints "held"), or it ended without.
    std::string said;
    for (char c; said.find("held\n") == std::string::npos && ::read(fromChild[0], &c, 1) == 1;)
        said += c;
    ASSERT_NE(said.find("held\n"), std::string::npos) << said;

    const int h = Open();
    EXPECT_EQ(Session(h)->DeviceNumber(), -1);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_DEVICE});
    EXPECT_EQ(Lumora_SetDeviceNumber(h, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_DEVICE});

    ::close(toChild[1]);  // the child lets go and ends
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(fromChild[0]);
    EXPECT_EQ(Lumora_SetDeviceNumber(h, 0), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    ::setenv("LUMORA_SIM_BUS", ("test-" + std::to_string(::getpid())).c_str(), 1);
}

}  // namespace
}  // namespace lumora::testing
