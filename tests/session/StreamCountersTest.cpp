#include <gtest/gtest.h>

#include "session/StreamCounters.h"

namespace lumora {
namespace {

TEST(StreamCounters, GapsInTheCameraCounterAreSkippedFramesAcrossTheEightBitWrap) {
    StreamCounters c;
    c.Begin();
    c.Taken(250);  // the first frame: nothing before it is known
    c.Delivered();
    c.Taken(253);  // 251, 252 skipped
    c.Delivered();
    c.Taken(2);  // 254, 255, 0, 1 skipped across the wrap
    c.Failed();
    c.Taken(3);
    c.Discarded();  // taken while the run stopped
    StreamFigures f = c.Figures();
    EXPECT_EQ(f.delivered, 2u);
    EXPECT_EQ(f.skipped, 2u + 4u + 1u);
    EXPECT_EQ(f.failed, 1u);
    EXPECT_EQ(f.sent, f.delivered + f.skipped + f.failed);

    c.Begin();
    f = c.Figures();
    EXPECT_EQ(f.sent, 0u);
}

TEST(StreamCounters, AFrameThatFailedBeforeItsNumberWasReadIsNotAlsoSkipped) {
    StreamCounters c;
    c.Begin();
    c.Taken(10);
    c.Delivered();
    c.FailedUnnumbered();  // frame 11, read failed
    c.Taken(12);
    c.Delivered();
    StreamFigures f = c.Figures();
    EXPECT_EQ(f.failed, 1u);
    EXPECT_EQ(f.skipped, 0u);
    EXPECT_EQ(f.sent, 3u);
    // Two unnumbered failures but a gap of one: the gap cannot go negative.
    c.FailedUnnumbered();
    c.FailedUnnumbered();
    c.Taken(14);
    f = c.Figures();
    EXPECT_EQ(f.failed, 3u);
    EXPECT_EQ(f.skipped, 0u);
}

}  // namespace
}  // namespace lumora
