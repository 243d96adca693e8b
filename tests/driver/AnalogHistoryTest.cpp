// What a frame was taken with, told from its header's exposure lines and the settings changes
// the driver noted around its arrival.
#include <gtest/gtest.h>

#include "driver/AnalogHistory.h"
#include "driver/FrameRing.h"

namespace lumora {
namespace {

constexpr double kLine8 = 6.5212;  // microseconds, 8-bit readout
constexpr double kLine16 = 13.0425;
constexpr double kOffset = 14.802;

// A setting as the sensor takes it: whole lines past the offset.
AnalogEntry Setting(int64_t since, double seconds, double lineTime, int gain = 0, int black = 0) {
    AnalogEntry e;
    e.sinceNs = since;
    e.exposureSeconds = seconds;
    e.exposureLines = static_cast<uint32_t>((seconds * 1e6 - kOffset) / lineTime);
    e.lineTimeUs = lineTime;
    e.offsetUs = kOffset;
    e.gain = gain;
    e.blackLevel = black;
    return e;
}

FrameRecord Frame(int64_t headerNs, uint32_t lines) {
    FrameRecord r;
    r.headerNs = headerNs;
    r.wordA = lines;
    return r;
}

TEST(AnalogHistory, AFrameIsDescribedByItsOwnLinesNotBySettingsMadeWhileItWaited) {
    AnalogHistory history;
    FrameAnalog out;
    EXPECT_FALSE(history.Describe(Frame(5, 100), &out));
    const AnalogEntry slow = Setting(100, 0.010, kLine8, 10, 240);
    const AnalogEntry fast = Setting(200, 0.002, kLine8, 20, 300);
    history.Note(slow);
    history.Note(fast);
    // Exposed at the old setting, its header came after the change: the old setting exactly,
    // with the gain and black level in place when its header arrived.
    ASSERT_TRUE(history.Describe(Frame(250, slow.exposureLines), &out));
    EXPECT_EQ(out.exposureSeconds, 0.010);
    EXPECT_TRUE(out.exposureFromFrame);
    EXPECT_EQ(out.gain, 20);
    EXPECT_EQ(out.blackLevel, 300);
    // Its header before the change: everything old.
    ASSERT_TRUE(history.Describe(Frame(150, slow.exposureLines), &out));
    EXPECT_EQ(out.exposureSeconds, 0.010);
    EXPECT_EQ(out.gain, 10);
    // The new lines already taken while the driver was still finishing the change.
    ASSERT_TRUE(history.Describe(Frame(150, fast.exposureLines), &out));
    EXPECT_EQ(out.exposureSeconds, 0.002);
    // Lines no setting gave (the camera between two register writes): converted.
    ASSERT_TRUE(history.Describe(Frame(250, 777), &out));
    EXPECT_DOUBLE_EQ(out.exposureSeconds, (777 * kLine8 + kOffset) / 1e6);
    // No exposure word: the setting in place when the header arrived.
    ASSERT_TRUE(history.Describe(Frame(150, FrameRecord::kEmptyWord), &out));
    EXPECT_EQ(out.exposureSeconds, 0.010);
    EXPECT_FALSE(out.exposureFromFrame);
}

TEST(AnalogHistory, LinesAreReadAtTheLineTimeInPlaceWhenTheHeaderArrived) {
    AnalogHistory history;
    FrameAnalog out;
    const AnalogEntry narrow = Setting(100, 0.004, kLine8);
    history.Note(narrow);
    // The readout changed to 16 bits: the sensor keeps its lines, now twice as long, until
    // the exposure is set again; those lines no longer stand for the setting.
    AnalogEntry widened = narrow;
    widened.sinceNs = 200;
    widened.lineTimeUs = kLine16;
    history.Note(widened);
    ASSERT_TRUE(history.Describe(Frame(150, narrow.exposureLines), &out));
    EXPECT_EQ(out.exposureSeconds, 0.004);
    ASSERT_TRUE(history.Describe(Frame(250, narrow.exposureLines), &out));
    EXPECT_DOUBLE_EQ(out.exposureSeconds, (narrow.exposureLines * kLine16 + kOffset) / 1e6);
    // Set again at the new line time: exact again.
    const AnalogEntry reset = Setting(300, 0.004, kLine16);
    history.Note(reset);
    ASSERT_TRUE(history.Describe(Frame(350, reset.exposureLines), &out));
    EXPECT_EQ(out.exposureSeconds, 0.004);
    // A sensor that cannot convert lines: the setting held.
    AnalogEntry blind = Setting(400, 0.003, kLine8);
    blind.lineTimeUs = 0.0;
    history.Note(blind);
    ASSERT_TRUE(history.Describe(Frame(450, 1234), &out));
    EXPECT_EQ(out.exposureSeconds, 0.003);
    EXPECT_FALSE(out.exposureFromFrame);
}

TEST(AnalogHistory, KeepsABoundedHistoryAndDescribesOlderFramesByTheOldestKept) {
    AnalogHistory history;
    for (size_t i = 0; i < AnalogHistory::kMaxEntries + 10; ++i) {
        history.Note(Setting(static_cast<int64_t>(100 + i), 0.001 + 0.0001 * static_cast<double>(i),
                             kLine8, static_cast<int>(i)));
    }
    FrameAnalog out;
    ASSERT_TRUE(history.Describe(Frame(1, FrameRecord::kEmptyWord), &out));
    EXPECT_EQ(out.gain, 10);
    history.Clear();
    EXPECT_FALSE(history.Describe(Frame(1, 5), &out));
}

}  // namespace
}  // namespace lumora
