// What the application learns of each frame, and the run that hands it every frame in order.
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "SimFixture.h"

namespace lumora::testing {
namespace {

int64_t WallNowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

// Frames between two counters of the camera's eight-bit counter, exclusive, and a count as
// that counter sees it (a stalled test thread may let more than 256 frames pass).
uint64_t Between(uint32_t earlier, uint32_t later) {
    return static_cast<uint64_t>((later - earlier - 1) & 0xFF);
}
uint64_t Counted(uint64_t frames) {
    return frames & 0xFF;
}

// A small window keeps the simulated camera's rendering cheap.
void SmallWindow(int h) {
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 64, 256, 2048, 32, 128), 1);
}

TEST_F(SimWorld, ImageMetaCarriesTheSettingsEachSnapshotWasTakenWith) {
    const int h = Open();
    SmallWindow(h);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, 0.010), 1);
    std::vector<unsigned char> image(size_t{256} * 128 * 2);
    const int size = static_cast<int>(image.size());
    ASSERT_EQ(Lumora_SnapShot(h, image.data(), size, 1), 1);
    LumoraFrameMeta first{};
    ASSERT_EQ(LumoraHost_GetImageWithMeta(h, image.data(), size, 1, &first), 1);
    EXPECT_EQ(first.valid, 1u);
    EXPECT_NEAR(first.exposureSeconds, 0.010, 1e-4);
    EXPECT_EQ(first.bitDepth, 8);
    EXPECT_EQ(first.windowX, 64);
    EXPECT_EQ(first.windowY, 32);
    EXPECT_EQ(first.windowWidth, 256);
    EXPECT_EQ(first.windowHeight, 128);
    EXPECT_EQ(first.width, 256);
    EXPECT_EQ(first.height, 128);
    EXPECT_EQ(first.temperatureValid, 0);
    EXPECT_LE(std::llabs(first.arrivalWallNs - WallNowNs()), int64_t{60} * 1000000000);
    EXPECT_GT(first.arrivalNs, 0);

    // Changed between two frames: the next frame carries every new value.
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, 0.020), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    const int gain = Lumora_GetGlobalGain(h, nullptr) + 1;
    ASSERT_EQ(Lumora_SetGlobalGain(h, gain), 1);
    int valid = 0;
    const double degrees = Lumora_GetTemperatureEx(h, &valid);
    ASSERT_EQ(valid, 1);
    ASSERT_EQ(Lumora_SnapShot(h, image.data(), size, 1), 1);
    LumoraFrameMeta second{};
    ASSERT_EQ(LumoraHost_GetImageWithMeta(h, image.data(), size, 1, &second), 1);
    EXPECT_NEAR(second.exposureSeconds, 0.020, 1e-4);
    EXPECT_EQ(second.bitDepth, 16);
    EXPECT_EQ(second.gain, gain);
    EXPECT_EQ(second.temperatureValid, 1);
    EXPECT_DOUBLE_EQ(second.temperature, degrees);
    EXPECT_GT(second.arrivalNs, first.arrivalNs);
    EXPECT_NE(second.frameCounter, first.frameCounter);

    // A failed copy hands out no record; an unknown handle none either.
    LumoraFrameMeta untouched{};
    untouched.frameCounter = 77;
    EXPECT_EQ(LumoraHost_GetImageWithMeta(h, image.data(), 10, 1, &untouched), 0);
    EXPECT_EQ(untouched.frameCounter, 77u);
    EXPECT_EQ(LumoraHost_GetImageWithMeta(h + 1000, image.data(), size, 1, &untouched), 0);
    EXPECT_EQ(LumoraHost_GetFrameMeta(h, nullptr), 0);
}

TEST_F(SimWorld, FrameMetaDescribesTheFramesAPreviewAnnounces) {
    const int h = Open();
    SmallWindow(h);
    LumoraFrameMeta meta{};
    ASSERT_EQ(LumoraHost_GetFrameMeta(h, &meta), 1);
    EXPECT_EQ(meta.valid, 0u);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(size_t{256} * 128);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
              1);
    LumoraHostMessage m{};
    LumoraFrameMeta previous{};
    int seen = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (seen < 5 && std::chrono::steady_clock::now() < end) {
        if (LumoraHost_WaitMessage(frames, 200, &m) != 1 || m.message != LUMORA_MSG_FRAME ||
            m.wParam == 0) {
            continue;
        }
        ASSERT_EQ(LumoraHost_GetFrameMeta(h, &meta), 1);
        ASSERT_EQ(meta.valid, 1u);
        EXPECT_EQ(meta.width, 256);
        if (seen > 0) {
            EXPECT_GE(meta.arrivalNs, previous.arrivalNs);
        }
        previous = meta;
        ++seen;
    }
    EXPECT_EQ(seen, 5);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
}

// Takes frames from a queued run until `count` came; each is released at once.
std::vector<LumoraQueuedFrame> TakeQueued(int h, int count) {
    std::vector<LumoraQueuedFrame> taken;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (static_cast<int>(taken.size()) < count && std::chrono::steady_clock::now() < end) {
        LumoraQueuedFrame frame{};
        const int got = LumoraHost_WaitQueuedFrame(h, 200, &frame);
        if (got < 0) break;
        if (got == 0) continue;
        taken.push_back(frame);
        EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, frame.index, nullptr), 1);
    }
    return taken;
}

// Every frame the camera numbered between two frames delivered is accounted for: skipped on
// the way (the ring lapped the reader) or dropped for a full queue, and the figures agree.
TEST_F(SimWorld, QueuedRunAccountsForEveryFrameTheCameraNumbered) {
    const int h = Open();
    SmallWindow(h);
    ASSERT_EQ(LumoraSim_SetFrameCounterStart(0, 200), 1);  // crosses the counter's wrap
    ASSERT_EQ(LumoraHost_StartQueuedPreview(h, 4, nullptr, 0, 1), 1);
    const std::vector<LumoraQueuedFrame> frames = TakeQueued(h, 120);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    ASSERT_EQ(frames.size(), 120u);
    uint64_t skipped = 0;
    uint64_t dropped = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const LumoraQueuedFrame& f = frames[i];
        EXPECT_EQ(f.bytes, uint64_t{256} * 128);
        EXPECT_EQ(f.bitsPerPixel, 8);
        EXPECT_EQ(f.meta.width, 256);
        skipped += f.meta.skippedBefore;
        dropped += f.droppedBefore;
        EXPECT_EQ(f.droppedTotal, dropped);
        if (i == 0) continue;
        EXPECT_EQ(Between(frames[i - 1].meta.frameCounter, f.meta.frameCounter),
                  Counted(f.droppedBefore + f.meta.skippedBefore))
            << "frame " << i;
        EXPECT_GT(f.meta.arrivalNs, frames[i - 1].meta.arrivalNs);
    }
    LumoraStreamStats stats{};
    ASSERT_EQ(LumoraHost_GetStreamStats(h, &stats), 1);
    uint64_t totalDrops = 0;
    ASSERT_EQ(LumoraHost_GetQueuedDrops(h, &totalDrops), 1);
    EXPECT_GE(totalDrops, dropped);
    EXPECT_EQ(stats.framesFailed, 0u);
    EXPECT_GE(stats.framesDelivered, frames.size());
    EXPECT_EQ(stats.framesSent, stats.framesDelivered + stats.framesSkipped);
    EXPECT_GE(stats.framesSkipped, skipped + dropped);
    // The run is over: the queue says so once it is empty.
    LumoraQueuedFrame rest{};
    int got = 0;
    while ((got = LumoraHost_WaitQueuedFrame(h, 1000, &rest)) == 1) {
        LumoraHost_ReleaseQueuedFrame(h, rest.index, nullptr);
    }
    EXPECT_EQ(got, -1);
}

// A consumer that holds every buffer: the frames meanwhile are dropped, and the first frame
// after it lets go says exactly how many.
TEST_F(SimWorld, QueuedRunTellsASlowConsumerExactlyHowManyFramesItLost) {
    const int h = Open();
    SmallWindow(h);
    std::vector<std::vector<unsigned char>> owned(2, std::vector<unsigned char>(256 * 128));
    unsigned char* buffers[2] = {owned[0].data(), owned[1].data()};
    ASSERT_EQ(LumoraHost_StartQueuedPreview(h, 2, buffers, 256 * 128, 1), 1);
    LumoraQueuedFrame a{}, b{};
    ASSERT_EQ(LumoraHost_WaitQueuedFrame(h, 60000, &a), 1);
    ASSERT_EQ(LumoraHost_WaitQueuedFrame(h, 60000, &b), 1);
    EXPECT_TRUE(a.buffer == buffers[0] || a.buffer == buffers[1]);
    EXPECT_NE(a.buffer, b.buffer);
    // Both held: frames go on coming and are dropped.
    uint64_t drops = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (drops < 5 && std::chrono::steady_clock::now() < end) {
        ASSERT_EQ(LumoraHost_GetQueuedDrops(h, &drops), 1);
    }
    ASSERT_GE(drops, 5u);
    // A buffer given back under another one: the frame stays where it was.
    std::vector<unsigned char> spare(256 * 128);
    EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, a.index, spare.data()), 1);
    EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, a.index, nullptr), 0);  // not held any more
    LumoraQueuedFrame c{};
    ASSERT_EQ(LumoraHost_WaitQueuedFrame(h, 60000, &c), 1);
    EXPECT_EQ(c.buffer, spare.data());
    EXPECT_GE(c.droppedBefore, 5u);
    EXPECT_EQ(Between(b.meta.frameCounter, c.meta.frameCounter),
              Counted(c.droppedBefore + c.meta.skippedBefore));
    EXPECT_EQ(c.droppedTotal, c.droppedBefore);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
}

// The period follows what lengthens the camera's frame: more rows, 16-bit readout (twice the
// line time) and an exposure longer than the readout.
TEST_F(SimWorld, FramePeriodFollowsWindowBitDepthAndLongExposures) {
    const int h = Open();
    double seconds = 0.0;
    EXPECT_EQ(LumoraHost_GetFramePeriod(h, nullptr), 0);
    EXPECT_EQ(LumoraHost_GetFramePeriod(h + 1000, &seconds), 0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, 0.001), 1);
    std::vector<unsigned char> image(size_t{2560} * 2048 * 2);
    const int size = static_cast<int>(image.size());
    ASSERT_EQ(Lumora_SnapShot(h, image.data(), size, 1), 1);  // prepares the 8-bit readout
    double full8 = 0.0;
    ASSERT_EQ(LumoraHost_GetFramePeriod(h, &full8), 1);
    EXPECT_GT(full8, 1.0 / 80);  // about 71 frames per second
    EXPECT_LT(full8, 1.0 / 60);

    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 2560, 2048, 0, 512), 1);
    double quarter8 = 0.0;
    ASSERT_EQ(LumoraHost_GetFramePeriod(h, &quarter8), 1);
    EXPECT_LT(quarter8, full8 / 2);

    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SnapShot(h, image.data(), size, 1), 1);
    double quarter16 = 0.0;
    ASSERT_EQ(LumoraHost_GetFramePeriod(h, &quarter16), 1);
    EXPECT_NEAR(quarter16, 2 * quarter8, quarter8 * 0.05);

    ASSERT_EQ(Lumora_SetExposureTimeEx(h, 0.25), 1);
    double exposed = 0.0;
    ASSERT_EQ(LumoraHost_GetFramePeriod(h, &exposed), 1);
    EXPECT_GT(exposed, 0.25);
    EXPECT_LT(exposed, 0.25 + quarter16);
    EXPECT_TRUE(Codes(h).empty());
}

// One frame as the application received it: its picture's mean sample and what its meta says.
struct SeenFrame {
    uint32_t counter = 0;
    double exposure = 0.0;
    double mean = 0.0;
};

double MeanSample16(const unsigned char* bytes, size_t size) {
    double sum = 0.0;
    for (size_t i = 0; i + 1 < size; i += 2) sum += bytes[i] | (bytes[i + 1] << 8);
    return sum / static_cast<double>(size / 2);
}

enum class Delivery { kNewestFrame, kEveryFrame };

class ExposureChangeMidStream : public SimWorld, public ::testing::WithParamInterface<Delivery> {};

// The camera takes an exposure from the next frame it begins, and frames already under way, in
// its FIFO or in the ring were exposed before: each frame must say the exposure its own picture
// shows, whichever path hands it out and however late. The scene holds still, so a frame's
// brightness is a straight line in its exposure; transitional frames (the camera between the
// register writes of a change) must say what they were exposed for too.
TEST_P(ExposureChangeMidStream, EachFrameSaysTheExposureItsPictureWasTakenWith) {
    LumoraSim_SetFastMode(0);
    LumoraSim_SetStaticScene(1);
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 64, 256, 2048, 32, 128), 1);
    // Frames long enough that the one under way when the change is asked for is still read out
    // after it: with frames of a few milliseconds the newest-frame path rarely hands out such a
    // frame, and a labelling by the setting at read time went unnoticed.
    const double before = 0.030;
    const double after = 0.090;
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, before), 1);
    const size_t frameBytes = size_t{256} * 128 * 2;
    std::vector<unsigned char> image(frameBytes);
    HWND announced = LumoraHost_CreateQueueWindow();
    const bool everyFrame = GetParam() == Delivery::kEveryFrame;
    if (everyFrame) {
        ASSERT_EQ(LumoraHost_StartQueuedPreview(h, 8, nullptr, 0, 1), 1);
    } else {
        ASSERT_EQ(Lumora_CallBackPreview(h, announced, nullptr, 0, 1), 1);
    }
    // The next frame the path hands out; false once the deadline passed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    auto next = [&](SeenFrame* seen) {
        while (std::chrono::steady_clock::now() < deadline) {
            LumoraFrameMeta meta{};
            if (everyFrame) {
                LumoraQueuedFrame frame{};
                if (LumoraHost_WaitQueuedFrame(h, 200, &frame) != 1) continue;
                EXPECT_EQ(frame.bytes, frameBytes);
                std::memcpy(image.data(), frame.buffer, frameBytes);
                meta = frame.meta;
                EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, frame.index, nullptr), 1);
            } else {
                LumoraHostMessage m{};
                if (LumoraHost_WaitMessage(announced, 200, &m) != 1 ||
                    m.message != LUMORA_MSG_FRAME || m.wParam == 0) {
                    continue;
                }
                // The image and its record together: the buffer behind a message may be newer.
                if (LumoraHost_GetImageWithMeta(h, image.data(), static_cast<int>(frameBytes), 1,
                                                &meta) != 1) {
                    continue;
                }
            }
            seen->counter = meta.frameCounter;
            seen->exposure = meta.exposureSeconds;
            seen->mean = MeanSample16(image.data(), frameBytes);
            return true;
        }
        return false;
    };
    std::vector<SeenFrame> frames;
    SeenFrame seen;
    while (frames.size() < 5 && next(&seen)) {
        if (!frames.empty() && frames.back().counter == seen.counter) continue;
        frames.push_back(seen);
    }
    ASSERT_EQ(frames.size(), 5u);
    const size_t takenBefore = frames.size();
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, after), 1);
    int valid = 0;
    const double reported = Lumora_GetExposureTimeEx(h, &valid);
    ASSERT_EQ(valid, 1);
    int withNew = 0;
    while (withNew < 5 && next(&seen)) {
        if (frames.back().counter == seen.counter) continue;
        frames.push_back(seen);
        if (seen.exposure == reported) ++withNew;
    }
    ASSERT_EQ(withNew, 5);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    LumoraHost_DestroyWindow(announced);

    // Frames handed out before the change was asked for were all taken before it, exactly as
    // the getter says the setting was.
    for (size_t i = 0; i < takenBefore; ++i) EXPECT_EQ(frames[i].exposure, before) << "frame " << i;
    const double dark = frames.front().mean;
    const double bright = frames.back().mean;
    ASSERT_GT(bright, dark * 1.5) << "the two exposures must look different";
    // Once a frame was taken with the new exposure, every later one was too; and each frame's
    // picture agrees with the exposure it reports.
    bool changed = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        const SeenFrame& f = frames[i];
        if (changed) {
            EXPECT_EQ(f.exposure, reported) << "frame " << i;
        }
        changed |= f.exposure == reported;
        EXPECT_GE(f.exposure, before) << "frame " << i;
        EXPECT_LE(f.exposure, after + 1e-4) << "frame " << i;
        const double expected = dark + (f.exposure - before) / (after - before) * (bright - dark);
        EXPECT_NEAR(f.mean, expected, 0.02 * (bright - dark))
            << "frame " << i << " (counter " << f.counter << ") says " << f.exposure << " s";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ExposureChangeMidStream,
                         ::testing::Values(Delivery::kNewestFrame, Delivery::kEveryFrame),
                         [](const ::testing::TestParamInfo<Delivery>& param) {
                             return param.param == Delivery::kNewestFrame ? "NewestFrame"
                                                                          : "EveryFrame";
                         });

// A triggered frame is timed by the camera's own exposure registers, latched at its trigger: it
// reports that exposure, also when the setting changed before the frame was read out.
TEST_F(SimWorld, TriggeredFramesReportTheExposureTheirTriggerStarted) {
    LumoraSim_SetStaticScene(1);
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 64, 256, 2048, 32, 128), 1);
    const double settings[] = {0.002, 0.006};
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, settings[0]), 1);
    HWND announced = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_Trigger(h, announced, nullptr, 0, 1), 1);
    const size_t frameBytes = size_t{256} * 128 * 2;
    std::vector<unsigned char> image(frameBytes);
    std::vector<SeenFrame> frames;
    // Fires until a frame comes that was taken with `seconds`; every frame on the way is kept.
    auto takeWith = [&](double seconds) {
        for (int attempt = 0; attempt < 600; ++attempt) {
            LumoraSim_FireTrigger(0);
            LumoraHostMessage m{};
            while (LumoraHost_WaitMessage(announced, 100, &m) == 1) {
                if (m.message != LUMORA_MSG_FRAME || m.wParam == 0) continue;
                LumoraFrameMeta meta{};
                if (LumoraHost_GetImageWithMeta(h, image.data(), static_cast<int>(frameBytes), 1,
                                                &meta) != 1) {
                    continue;
                }
                if (!frames.empty() && frames.back().counter == meta.frameCounter) continue;
                frames.push_back({meta.frameCounter, meta.exposureSeconds,
                                  MeanSample16(image.data(), frameBytes)});
                if (meta.exposureSeconds == seconds) return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(takeWith(settings[0]));
    // Fired at once after the change: the frame that trigger starts is the first with it.
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, settings[1]), 1);
    ASSERT_TRUE(takeWith(settings[1]));
    ASSERT_EQ(Lumora_Close(h), 1);
    LumoraHost_DestroyWindow(announced);
    const double dark = frames.front().mean;
    const double bright = frames.back().mean;
    ASSERT_GT(bright, dark * 1.5);
    for (size_t i = 0; i < frames.size(); ++i) {
        const SeenFrame& f = frames[i];
        EXPECT_TRUE(f.exposure == settings[0] || f.exposure == settings[1])
            << "frame " << i << " says " << f.exposure << " s";
        const double expected = f.exposure == settings[0] ? dark : bright;
        EXPECT_NEAR(f.mean, expected, 0.02 * (bright - dark)) << "frame " << i;
    }
}

TEST_F(SimWorld, QueuedRunRefusesBadArgumentsAndABusySession) {
    const int h = Open();
    unsigned char* none[1] = {nullptr};
    EXPECT_EQ(LumoraHost_StartQueuedPreview(h, 0, nullptr, 0, 1), 0);
    EXPECT_EQ(LumoraHost_StartQueuedPreview(h, 257, nullptr, 0, 1), 0);
    EXPECT_EQ(LumoraHost_StartQueuedPreview(h, 1, none, 100, 1), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{ERR_PARAMETER, ERR_PARAMETER, ERR_PARAMETER}));
    LumoraQueuedFrame frame{};
    EXPECT_EQ(LumoraHost_WaitQueuedFrame(h, 0, &frame), -1);  // no run
    EXPECT_EQ(LumoraHost_WaitQueuedFrame(h + 1000, 0, &frame), -1);
    EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, 0, nullptr), 0);
    ASSERT_EQ(Lumora_StartPreview(h), 1);
    EXPECT_EQ(LumoraHost_StartQueuedPreview(h, 2, nullptr, 0, 1), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{ERR_NOT_READY}));
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    // Library buffers cannot be swapped for the application's.
    SmallWindow(h);
    ASSERT_EQ(LumoraHost_StartQueuedPreview(h, 2, nullptr, 0, 1), 1);
    ASSERT_EQ(LumoraHost_WaitQueuedFrame(h, 60000, &frame), 1);
    unsigned char other[16];
    EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, frame.index, other), 0);
    EXPECT_EQ(LumoraHost_ReleaseQueuedFrame(h, frame.index, nullptr), 1);
    ASSERT_EQ(Lumora_Close(h), 1);
}

}  // namespace
}  // namespace lumora::testing
