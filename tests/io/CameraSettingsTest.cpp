#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "io/CameraSettings.h"
#include "io/TempFolder.h"

namespace lumora {
namespace {

using lumora::testing::TempFolder;
using platform::SettingsKey;
using platform::SettingsStore;

constexpr OutputCapabilities kMonoCamera{true, true, false};
constexpr OutputCapabilities kColorCamera{true, true, true};

AnalogLimits Limits() {
    AnalogLimits limits;
    limits.globalGain = {0, 480};
    limits.colorGain = {0, 480};
    limits.exposure = {1, 100000};
    limits.blackLevel = {0, 4095};
    limits.longExposure = true;
    limits.exposureSecondsMin = 0.00001;
    limits.exposureSecondsMax = 10.0;
    return limits;
}

AnalogSettings DriverValues() {
    AnalogSettings d;
    d.globalGain = 10;
    d.colorGainG1 = 11;
    d.colorGainR = 12;
    d.colorGainB = 13;
    d.colorGainG2 = 14;
    d.exposure = 100;
    d.mirrorV = 1;
    d.blackLevel = 50;
    d.exposureSeconds = 0.01;
    return d;
}

// The records are plain aggregates without comparison operators.
bool SameGray(const GraySettings& a, const GraySettings& b) {
    return a.grayMode == b.grayMode && std::equal(a.gain, a.gain + 4, b.gain) &&
           std::equal(a.offset, a.offset + 4, b.offset) && a.autoGainCounter == b.autoGainCounter;
}
bool SameFilter(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class CameraSettingsTest : public ::testing::Test {
protected:
    // Sets raw values in one key of camera `device`, as a hand edit or an older version would.
    void Poke(int device, const std::string& subkey, const std::string& name,
              platform::SettingsValue value) {
        ASSERT_TRUE(store_.Update([&](SettingsKey& root) {
            std::string path = CameraKeyPath(device);
            if (!subkey.empty()) path += "\\" + subkey;
            return root.Create(path)->Set(name, value);
        }));
    }
    void Remove(int device, const std::string& subkey, const std::string& name) {
        ASSERT_TRUE(store_.Update([&](SettingsKey& root) {
            return root.Open(CameraKeyPath(device) + "\\" + subkey)->DeleteValue(name);
        }));
    }
    const SettingsKey* Camera(const SettingsKey& root, int device) {
        return root.Open(CameraKeyPath(device));
    }

    TempFolder folder_;
    SettingsStore store_{folder_ / "settings.conf"};
};

TEST_F(CameraSettingsTest, FirstOpenCreatesTheCameraTreeWithDefaults) {
    SizeEntry size{1, 2, 3, 4, 5, 6, 7};
    EXPECT_FALSE(LoadSizeSettings(store_, 0, kColorCamera, size));
    EXPECT_EQ(size, (SizeEntry{1, 2, 3, 4, 5, 6, 7}));  // the session keeps its own values

    const SettingsKey root = store_.Read();
    const SettingsKey* camera = Camera(root, 0);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->QueryDword("Size"), 0u);
    EXPECT_EQ(camera->QueryDword("Color"), 2u);
    EXPECT_EQ(camera->QueryDword("SubSample"), 0u);
    EXPECT_EQ(camera->QueryDword("WaitTime"), 1u);
    EXPECT_EQ(camera->QueryDword("Clock"), 0u);
    const SettingsKey* entry = camera->Open("Size_00");
    ASSERT_NE(entry, nullptr);
    const std::pair<const char*, uint32_t> expected[] = {
        {"TH", 2560}, {"TV", 2048}, {"EH", 2560}, {"EV", 2048}, {"EHS", 0}, {"EVS", 0}, {"Buf", 4}};
    for (const auto& [name, value] : expected) EXPECT_EQ(entry->QueryDword(name), value) << name;

    // The next open reads what was written.
    EXPECT_TRUE(LoadSizeSettings(store_, 0, kColorCamera, size));
    EXPECT_EQ(size, SizeEntry{});
}

TEST_F(CameraSettingsTest, NewKeyColorModeFollowsTheCameraOutputs) {
    SizeEntry size;
    LoadSizeSettings(store_, 0, kMonoCamera, size);
    LoadSizeSettings(store_, 1, {true, false, false}, size);
    const SettingsKey root = store_.Read();
    EXPECT_EQ(Camera(root, 0)->QueryDword("Color"), 1u);
    // A second camera gets its own tree although the product key already existed.
    ASSERT_NE(Camera(root, 1), nullptr);
    EXPECT_EQ(Camera(root, 1)->QueryDword("Color"), 0u);
    EXPECT_NE(root.Open(CameraKeyPath(1) + "\\Size_00"), nullptr);
}

TEST_F(CameraSettingsTest, StoredWindowThatDoesNotFitBecomesTheFullSensor) {
    SizeEntry size;
    LoadSizeSettings(store_, 0, kMonoCamera, size);
    Poke(0, "Size_00", "EHS", 2000u);
    Poke(0, "Size_00", "EH", 600u);
    Poke(0, "Size_00", "Buf", 8u);
    size.hEffective = 1;
    EXPECT_TRUE(LoadSizeSettings(store_, 0, kMonoCamera, size));
    EXPECT_EQ(size, (SizeEntry{2560, 2048, 2560, 2048, 0, 0, 8}));

    Poke(0, "", "Size", 3u);  // no such entry
    EXPECT_FALSE(LoadSizeSettings(store_, 0, kMonoCamera, size));
}

TEST_F(CameraSettingsTest, FormatGroupIsRangeCheckedAndCorrectedToTheCamera) {
    SizeEntry size;
    LoadSizeSettings(store_, 0, kColorCamera, size);  // stores Color 2
    FormatSettings format;
    ASSERT_TRUE(LoadFormatSettings(store_, 0, kMonoCamera, format));
    EXPECT_EQ(format.colorMode, 1);  // colour refused by a mono camera with 16-bit output
    EXPECT_EQ(format.waitTime, 1);

    Poke(0, "", "Color", 3u);
    ASSERT_TRUE(LoadFormatSettings(store_, 0, {false, true, false}, format));
    EXPECT_EQ(format.colorMode, 1);  // 32-bit needs 8-bit output

    Poke(0, "", "Color", 9u);
    Poke(0, "", "WaitTime", static_cast<uint32_t>(-5));
    Poke(0, "", "SubSample", 2u);
    Poke(0, "", "Clock", 2u);
    format = FormatSettings{5, 5, 1, 99, 0};
    ASSERT_TRUE(LoadFormatSettings(store_, 0, kMonoCamera, format));
    EXPECT_EQ(format, (FormatSettings{0, 1, 0, 1, 2}));

    EXPECT_FALSE(LoadFormatSettings(store_, 4, kMonoCamera, format));
    EXPECT_FALSE(LoadFormatSettings(store_, -1, kMonoCamera, format));
}

TEST_F(CameraSettingsTest, AnalogGroupRoundTripsWithTheDoubleAsEightBytes) {
    AnalogSettings saved = DriverValues();
    saved.globalGain = 240;
    saved.autoIris = 2;
    saved.gainMode = 1;
    saved.mirrorH = 1;
    saved.exposureSeconds = 1.25;
    saved.coolerOn = 1;
    ASSERT_TRUE(SaveAnalogSettings(store_, 3, saved));

    const auto bytes = store_.Read().Open(CameraKeyPath(3) + "\\Gain")->QueryBinary("ExposureEx");
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 8u);
    const uint8_t expected[8] = {0, 0, 0, 0, 0, 0, 0xF4, 0x3F};  // 1.25, little-endian IEEE
    EXPECT_EQ(std::memcmp(bytes->data(), expected, 8), 0);

    AnalogSettings loaded;
    ASSERT_TRUE(LoadAnalogSettings(store_, 3, Limits(), DriverValues(), loaded));
    saved.coolerOn = 0;  // not stored
    EXPECT_EQ(loaded, saved);
}

TEST_F(CameraSettingsTest, AnalogMissingValueKeepsItsFieldAndRefusedValueTakesTheDriverValue) {
    AnalogSettings saved = DriverValues();
    saved.colorGainG1 = 300;
    saved.colorGainR = 301;
    ASSERT_TRUE(SaveAnalogSettings(store_, 0, saved));
    Remove(0, "Gain", "ColorR");
    Poke(0, "Gain", "Global", 9999u);                        // past the gain range
    Poke(0, "Gain", "Exposure", static_cast<uint32_t>(-1));  // negative exposure
    Poke(0, "Gain", "AutoIris", 7u);
    Poke(0, "Gain", "V_Mirror", 5u);
    uint8_t nan[8];
    const double quietNan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nan, &quietNan, 8);
    Poke(0, "Gain", "ExposureEx", std::vector<uint8_t>(nan, nan + 8));

    AnalogSettings loaded;
    loaded.colorGainR = 77;
    ASSERT_TRUE(LoadAnalogSettings(store_, 0, Limits(), DriverValues(), loaded));
    EXPECT_EQ(loaded.colorGainR, 77);  // missing: unchanged, not its neighbour's 300
    EXPECT_EQ(loaded.colorGainG1, 300);
    EXPECT_EQ(loaded.globalGain, 10);  // driver's value
    EXPECT_EQ(loaded.exposure, 100);
    EXPECT_EQ(loaded.autoIris, 0);
    EXPECT_EQ(loaded.mirrorV, 1);
    EXPECT_EQ(loaded.exposureSeconds, 0.01);
}

TEST_F(CameraSettingsTest, AnalogWithoutGroupTakesTheDriverValues) {
    AnalogSettings loaded;
    loaded.autoIris = 2;
    loaded.gainMode = 1;
    loaded.exposureSeconds = 3.0;
    AnalogLimits limits = Limits();
    limits.longExposure = false;
    ASSERT_TRUE(LoadAnalogSettings(store_, 0, limits, DriverValues(), loaded));
    AnalogSettings expected = DriverValues();
    expected.exposureSeconds = 3.0;  // no long exposure in the driver: kept
    EXPECT_EQ(loaded, expected);
}

TEST_F(CameraSettingsTest, FilterGroupDefaultsRoundTripAndRangeChecks) {
    FilterSettings filter;
    filter.brightness = 9;
    EXPECT_FALSE(LoadFilterSettings(store_, 0, filter));
    EXPECT_TRUE(
        SameFilter(filter, FilterSettings{0, 0, 0, 0, 0, 100, 100, 100, 100, 3, 0, {0, 0}}));

    const FilterSettings saved{-255, 127, -360, 255, 30, 0, 400, 17, 200, 1, 0, {0, 0}};
    ASSERT_TRUE(SaveFilterSettings(store_, 0, saved));
    FilterSettings loaded;
    ASSERT_TRUE(LoadFilterSettings(store_, 0, loaded));
    EXPECT_TRUE(SameFilter(loaded, saved));

    Poke(0, "Filter", "Saturation", 256u);
    Poke(0, "Filter", "R_Gain", static_cast<uint32_t>(-1));
    Poke(0, "Filter", "BayerMode", 4u);
    Remove(0, "Filter", "Hue");
    loaded.hue = 42;
    ASSERT_TRUE(LoadFilterSettings(store_, 0, loaded));
    EXPECT_EQ(loaded.saturation, 0);
    EXPECT_EQ(loaded.bayerGainR, 100);
    EXPECT_EQ(loaded.bayerMode, 3);
    EXPECT_EQ(loaded.hue, 42);
    EXPECT_EQ(loaded.contrast, 127);
}

TEST_F(CameraSettingsTest, GrayGroupWithOnlyModeChangesOnlyTheMode) {
    Poke(0, "Gray", "Mode", 1u);
    GraySettings gray{0, {1, 2, 3, 4}, {-5, 6, 7, 8}, 0};
    ASSERT_TRUE(LoadGraySettings(store_, 0, gray));
    EXPECT_TRUE(SameGray(gray, GraySettings{1, {1, 2, 3, 4}, {-5, 6, 7, 8}, 0}));

    Poke(0, "Gray", "Mode", 3u);
    Poke(0, "Gray", "GainB1", 256u);
    Poke(0, "Gray", "OffsetG2", static_cast<uint32_t>(-256));
    ASSERT_TRUE(LoadGraySettings(store_, 0, gray));
    EXPECT_TRUE(SameGray(gray, GraySettings{0, {1, 2, 3, 128}, {-5, 6, 128, 8}, 0}));

    EXPECT_FALSE(LoadGraySettings(store_, 5, gray));
    EXPECT_TRUE(SameGray(gray, GraySettings{0, {128, 128, 128, 128}, {128, 128, 128, 128}, 0}));
}

TEST_F(CameraSettingsTest, GraySaveNeedsTheCameraKeyWhileAnalogAndFilterCreateIt) {
    const GraySettings gray{2, {10, 20, 30, 40}, {-50, 60, 70, -80}, 0};
    EXPECT_FALSE(SaveGraySettings(store_, 0, gray));
    EXPECT_EQ(Camera(store_.Read(), 0), nullptr);

    ASSERT_TRUE(SaveFilterSettings(store_, 0, FilterSettings{}));
    ASSERT_TRUE(SaveGraySettings(store_, 0, gray));
    GraySettings loaded;
    ASSERT_TRUE(LoadGraySettings(store_, 0, loaded));
    EXPECT_TRUE(SameGray(loaded, gray));

    ASSERT_TRUE(SaveAnalogSettings(store_, 1, AnalogSettings{}));
    EXPECT_NE(Camera(store_.Read(), 1), nullptr);
}

TEST_F(CameraSettingsTest, FormatDialogSizesAreFoundByEffectiveSize) {
    const SizeEntry sizes[] = {
        SizeEntry{}, {2560, 2048, 640, 480, 100, 200, 4}, {2560, 2048, 640, 480, 0, 0, 2}};
    const FormatSettings format{1, 0, 1, 5, 2};
    ASSERT_TRUE(SaveFormatGroup(store_, 2, sizes, format));

    const auto list = LoadSizeList(store_, 2);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1], sizes[1]);
    EXPECT_EQ(FindStoredSize(store_, 2, 640, 480), sizes[1]);  // the first match
    EXPECT_FALSE(FindStoredSize(store_, 2, 800, 600));
    EXPECT_FALSE(FindStoredSize(store_, 0, 640, 480));  // no key for camera 0

    FormatSettings loaded;
    ASSERT_TRUE(LoadFormatSettings(store_, 2, kMonoCamera, loaded));
    EXPECT_EQ(loaded, format);
    SizeEntry selected;
    ASSERT_TRUE(LoadSizeSettings(store_, 2, kMonoCamera, selected));
    EXPECT_EQ(selected, sizes[1]);

    EXPECT_FALSE(SaveFormatGroup(store_, 2, {}, format));
}

TEST_F(CameraSettingsTest, NegativeDeviceIndexTouchesNothing) {
    SizeEntry size;
    EXPECT_FALSE(LoadSizeSettings(store_, -1, kMonoCamera, size));
    EXPECT_FALSE(SaveAnalogSettings(store_, -1, AnalogSettings{}));
    EXPECT_FALSE(std::filesystem::exists(store_.Path()));
}

}  // namespace
}  // namespace lumora
