// Sessions, devices and the camera's identity through the exports, on simulated cameras.
#include <cstring>

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
