// Image format, the filter-value family, exposure, temperature and register access through the
// exports on a simulated camera.
#include <cmath>
#include <fstream>

#include "SimFixture.h"

namespace lumora::testing {
namespace {

TEST_F(SimWorld, ColourModesFollowWhatTheCameraDelivers) {
    const int h = Open();
    EXPECT_EQ(Lumora_SetColorMode(h, 24), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_SetColorMode(h, 12), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_SetColorMode(h, 16), 1);
    EXPECT_EQ(Lumora_GetColorMode(h), 16);
    EXPECT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_GetColorMode(h), 8);
}

TEST_F(SimWorld, CaptureWindowMustFitTheSensor) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 2000, 600, 2048, 0, 2048), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_WINDOW_SIZE);
    // The refused window stays stored and the next preparation fails until a good one is set.
    EXPECT_EQ(Lumora_Capture(h), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_WINDOW_SIZE);
    EXPECT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 96, 640, 2048, 200, 480), 1);
    int values[6] = {};
    EXPECT_EQ(Lumora_GetCaptureWindowEx(h, &values[0], &values[1], &values[2], &values[3],
                                        &values[4], &values[5]),
              1);
    EXPECT_EQ(values[1], 96);
    EXPECT_EQ(values[2], 640);
    EXPECT_EQ(values[4], 200);
    EXPECT_EQ(values[5], 480);
    EXPECT_EQ(Lumora_GetCaptureWindowEx(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              1);
    std::vector<unsigned char> image(640 * 480);
    EXPECT_EQ(Lumora_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
}

TEST_F(SimWorld, StoredSizePresetsAreFoundByTheirSize) {
    const int h = Open();
    EXPECT_EQ(Lumora_SetCaptureWindow(h, 640, 480), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_WINDOW);
    EXPECT_EQ(Lumora_SetCaptureWindow(h, 2560, 2048), 1);  // the default preset
}

TEST_F(SimWorld, FilterValuesAreRangeCheckedAndChannelsAreNotOffered) {
    const int h = Open();
    EXPECT_EQ(Lumora_SetBrightness(h, 256), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_SetBrightness(h, -255), 1);
    int valid = 0;
    EXPECT_EQ(Lumora_GetBrightness(h, &valid), -255);
    EXPECT_EQ(valid, 1);

    EXPECT_EQ(Lumora_SetChannelGain(h, 5, 1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), 0);
    EXPECT_EQ(Lumora_SetChannelGain(h, 1, 1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_GetChannelOffset(h, 4, &valid), 0);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);

    EXPECT_EQ(Lumora_GetFilterValue(h, 28, &valid), 0);  // settable, but not readable by number
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_SetFilterValue(h, 28, 1), 1);
    EXPECT_EQ(Lumora_SetFilterValue(h, 99, 1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_GetFilterValue(h, 1, nullptr), -255);  // a null valid is simply not written
}

TEST_F(SimWorld, PackedBayerGainsSetAndReadTheThreeGains) {
    const int h = Open();
    const int packed = 17 + 34 * 256 + 51 * 65536;
    EXPECT_EQ(Lumora_SetBayerGainRGB(h, packed), 1);
    int valid = 0;
    EXPECT_EQ(Lumora_GetBayerGainRed(h, &valid), 17);
    EXPECT_EQ(Lumora_GetBayerGainGreen(h, &valid), 34);
    EXPECT_EQ(Lumora_GetBayerGainBlue(h, &valid), 51);
    EXPECT_EQ(Lumora_GetBayerGainRGB(h, &valid), packed);
    EXPECT_EQ(Lumora_SetBayerGainAuto(h, 7), 1);
    EXPECT_EQ(Lumora_GetBayerGainAuto(h, &valid), 1);
}

TEST_F(SimWorld, UnsupportedFunctionsReportElevenTheirOwnWay) {
    const int h = Open();
    EXPECT_EQ(Lumora_Fps(h), 0);
    EXPECT_EQ(Lumora_SetHalfClock(h, 1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), 0);  // posted only
    EXPECT_EQ(Lumora_SendText(h, "x"), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_UNSUPPORTED);
    EXPECT_EQ(Lumora_SetConfigFilter(h, 1, 1), -1);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_UNSUPPORTED);
    int valid = 1;
    EXPECT_EQ(Lumora_GetTemperature(h, &valid), -1);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_UNSUPPORTED);
    int rate = 5;
    EXPECT_EQ(Lumora_GetSamplingRate(h, &rate), 0);
    EXPECT_EQ(rate, 0);
}

TEST_F(SimWorld, GainsAndExposureReachTheCamera) {
    const int h = Open();
    LUMORA_CAMERA_INFO info{};
    info.size = sizeof info;
    ASSERT_EQ(Lumora_GetCameraInfo(h, &info), 1);
    EXPECT_EQ(Lumora_SetGlobalGain(h, info.globalGainMax + 1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_SetGlobalGain(h, info.globalGainMax), 1);
    int valid = 0;
    EXPECT_EQ(Lumora_GetGlobalGain(h, &valid), info.globalGainMax);

    EXPECT_EQ(Lumora_SetExposureTime(h, 100), 1);  // 10 ms
    const int exposure = Lumora_GetExposureTime(h, &valid);
    EXPECT_NEAR(exposure, 100, 1);
    EXPECT_EQ(Lumora_GetRealExposureTime(h, &valid), 100 * 100);
    const double seconds = Lumora_GetExposureTimeEx(h, &valid);
    EXPECT_EQ(valid, 1);
    EXPECT_NEAR(seconds, 0.010, 0.0005);
    EXPECT_EQ(Lumora_SetExposureTimeEx(h, 0.02), 1);
    EXPECT_NEAR(Lumora_GetExposureTimeEx(h, &valid), 0.02, 0.0005);
    EXPECT_EQ(Lumora_SetRealExposureTime(h, 5000), 1);
    EXPECT_EQ(Lumora_SetRealExposureTime(h, -5), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
}

TEST_F(SimWorld, TemperatureReadsRecordSuccess) {
    HWND window = LumoraHost_CreateQueueWindow();
    const int h = Open(window);
    Messages(window);
    Session(h)->RecordError(ERR_IO);
    Messages(window);
    int valid = 0;
    const double degrees = Lumora_GetTemperatureEx(h, &valid);
    EXPECT_EQ(valid, 1);
    EXPECT_GT(degrees, -60.0);
    EXPECT_LT(degrees, 60.0);
    const auto messages = Messages(window);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].lParam, ERR_NONE);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_NONE);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_IO);
    EXPECT_EQ(Lumora_GetPeltier(h, &valid), 1);  // the cooler is switched on at every open
    EXPECT_EQ(Lumora_SetPeltier(h, 0), 1);
    EXPECT_EQ(Lumora_GetPeltier(h, &valid), 0);
    LumoraHost_DestroyWindow(window);
}

TEST_F(SimWorld, RegistersAndConfigurationMemoryReadBackWhatWasWritten) {
    const int h = Open();
    int valid = 0;
    EXPECT_EQ(Lumora_WriteRegisterEx(h, 0x07C0, 0x34), 1);
    EXPECT_EQ(Lumora_ReadRegisterEx(h, 0x07C0, &valid), 0x34);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(Lumora_Fpga_WriteRegister(h, 0x07, 0x5A), 1);
    EXPECT_EQ(Lumora_Fpga_ReadRegister(h, 0x07, &valid), 0x5A);
    unsigned char port = 0;
    EXPECT_EQ(Lumora_GetIOPort(h, &port), 1);
    EXPECT_EQ(port, 0x5A);
    EXPECT_EQ(Lumora_SetIOPort(h, 0x1A5), 1);
    EXPECT_EQ(Lumora_GetIOPort(h, &port), 1);
    EXPECT_EQ(port, 0xA5);
    EXPECT_EQ(Lumora_GetIOPort(h, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(h), 0);  // posted only

    EXPECT_EQ(Lumora_WriteSromID(h, 0x1200, 0x42), 1);
    EXPECT_EQ(Lumora_ReadSromID(h, 0x1200, &valid), 0x42);
    EXPECT_EQ(valid, 1);
    // A memory that refuses writes: the first write already fails.
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_EEPROM_WRITE, 100, 0), 1);
    EXPECT_EQ(Lumora_WriteSromID(h, 0x1201, 0x43), 0);
    LumoraSim_ClearFaults(0);
}

TEST_F(SimWorld, CameraSideDefectCorrectionSwitches) {
    const int h = Open();
    ASSERT_EQ(Lumora_IsAvailableDefectivePixelCorrection(h), 1);
    EXPECT_EQ(Lumora_EnableDefectivePixelCorrection(h, 1), 1);
    EXPECT_EQ(Lumora_IsEnabledDefectivePixelCorrection(h), 1);
    int valid = 0;
    EXPECT_EQ(Lumora_GetInternalCorrection(h, &valid), 1);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(Lumora_SetInternalCorrection(h, 0), 1);
    EXPECT_EQ(Lumora_IsEnabledDefectivePixelCorrection(h), 0);
    int minimum = -1, maximum = -1;
    EXPECT_EQ(Lumora_GetDefectivePixelCorrectionThresholdRange(h, &minimum, &maximum), 1);
    EXPECT_LT(minimum, maximum);
}

TEST_F(SimWorld, MaskReferencesRoundTripThroughTheMaskFile) {
    const int h = Open();
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_UpdateMaskData(h, 0), 1);
    EXPECT_EQ(Lumora_UpdateMaskData(h, 2), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_TEXT);
    const auto path = (configDir_ / "masks.bin").string();
    EXPECT_EQ(Lumora_SaveMaskFile(h, path.c_str()), 1);
    EXPECT_EQ(std::filesystem::file_size(path), 31457320u);
    EXPECT_EQ(Lumora_LoadMaskFile(h, path.c_str()), 1);
    std::filesystem::resize_file(path, 1000);
    EXPECT_EQ(Lumora_LoadMaskFile(h, path.c_str()), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_MASK_FILE);
    EXPECT_EQ(Lumora_LoadMaskFile(h, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    EXPECT_EQ(Lumora_LoadMaskFileW(h, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_PARAMETER);
    const char16_t lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(Lumora_SaveMaskFileW(h, lone), 0);
    EXPECT_EQ(Lumora_GetLastError(h), ERR_TEXT);
}

TEST_F(SimWorld, ConfigurationFilesAreReadWhole) {
    const int h = Open();
    const auto path = (configDir_ / "config.bin").string();
    {
        std::ofstream out(path, std::ios::binary);
        const char bytes[20] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 9, 9, 9, 9};
        out.write(bytes, sizeof bytes);
    }
    EXPECT_EQ(Lumora_LoadConfigFileA(h, path.c_str()), 1);
    EXPECT_EQ(Lumora_LoadConfigFileA(h, (configDir_ / "missing").string().c_str()), 0);
    EXPECT_EQ(Lumora_GetLastError(h), 0);
}

TEST_F(SimWorld, AutoIrisModeIsCheckedUnsigned) {
    const int h = Open();
    EXPECT_EQ(Lumora_SetAutoIris(h, 2), 1);
    int valid = 0;
    EXPECT_EQ(Lumora_GetAutoIris(h, &valid), 2);
    EXPECT_EQ(Lumora_SetAutoIris(h, -1), 0);
    EXPECT_EQ(Lumora_GetLastError(h), 0);  // posted only
    EXPECT_EQ(Lumora_SetAutoIris(h, 0), 1);
}

}  // namespace
}  // namespace lumora::testing

namespace lumora::testing {
namespace {

// Auto iris acts on the camera from the frame path: a saturated picture brings the gain down to a
// quarter, a dark one raises the exposure by half.
TEST_F(SimWorld, AutoIrisRegulatesGainAndExposureFromTheFrames) {
    LumoraSim_SetStaticScene(1);
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    LUMORA_CAMERA_INFO info{};
    info.size = sizeof info;
    ASSERT_EQ(Lumora_GetCameraInfo(h, &info), 1);
    int valid = 0;

    ASSERT_EQ(Lumora_SetExposureTime(h, 2000), 1);  // 200 ms: everything saturates
    ASSERT_EQ(Lumora_SetGlobalGain(h, 400), 1);
    ASSERT_EQ(Lumora_SetAutoIris(h, 2), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    // The factor is summed region by region in double precision and lands a hair under 0.25,
    // so the truncated gain is 99 or 100.
    const int gain = Lumora_GetGlobalGain(h, &valid);
    EXPECT_GE(gain, std::max(99, info.globalGainMin));
    EXPECT_LE(gain, 100);

    ASSERT_EQ(Lumora_SetAutoIris(h, 0), 1);
    ASSERT_EQ(Lumora_SetGlobalGain(h, 0), 1);
    ASSERT_EQ(Lumora_SetExposureTime(h, 2), 1);  // 0.2 ms: everything dark
    ASSERT_EQ(Lumora_SetAutoIris(h, 1), 1);
    const int before = Lumora_GetExposureTime(h, &valid);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_GetExposureTime(h, &valid), before * 3 / 2);
    LumoraSim_SetStaticScene(0);
}

}  // namespace
}  // namespace lumora::testing
