// Recording through the exports on a simulated camera: bad input, stopping early, an unplugged
// camera, a full disk and a recording past the RIFF limit; ffprobe judges the files.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>

#include "e2e/SimFixture.h"
#include "io/FileLimit.h"
#include "io/TempFolder.h"
#include "platform/LittleEndian.h"

namespace lumora {
namespace {

using lumora::testing::ReadFileText;
using lumora::testing::SimWorld;

class RecordTest : public SimWorld {
protected:
    std::string PathOf(const std::string& name) { return (configDir_ / name).string(); }
    static uint32_t U32(const std::string& f, size_t at) {
        return platform::LoadLe32(reinterpret_cast<const uint8_t*>(f.data()) + at);
    }
    static int ProbeFrames(const std::string& path) {
        std::string out;
        std::FILE* p = ::popen(("ffprobe -v error -count_frames -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" +
                                path + "' 2>/dev/null")
                                   .c_str(),
                               "r");
        if (p == nullptr) return -1;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
        ::pclose(p);
        if (out.rfind("N/A", 0) == 0) return 0;  // a file without frames
        return out.empty() || !std::isdigit(static_cast<unsigned char>(out[0])) ? -1
                                                                                : std::stoi(out);
    }
    static bool HaveProbe() { return std::system("command -v ffprobe >/dev/null 2>&1") == 0; }
    // Until the file holds `frames` frames, so a stop that follows has something to finish.
    static void WaitForFrames(CLumora& s, uint32_t frames = 1, int limitMs = 20000) {
        for (int i = 0; i < limitMs / 5 && s.RecordingProgress().frames < frames; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_GE(s.RecordingProgress().frames, frames);
    }
    static void WaitUntilDone(CLumora& s, int limitMs = 20000) {
        for (int i = 0; i < limitMs / 10 && s.RecordingProgress().recording; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // A finished file: sizes patched, the frame count in the headers.
    static void ExpectFinished(const std::string& path, uint32_t frames) {
        const std::string f = ReadFileText(path);
        ASSERT_GT(f.size(), 232u);
        EXPECT_EQ(U32(f, 4), f.size() - 8);
        EXPECT_EQ(U32(f, 140), frames);
        EXPECT_NE(U32(f, 224), 4u);
        if (HaveProbe()) {
            EXPECT_EQ(ProbeFrames(path), static_cast<int>(frames));
        }
    }
};

TEST_F(RecordTest, BadArgumentsAreRefusedWithoutThreadOrFile) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    Codes(h);
    EXPECT_EQ(Lumora_Record(h, nullptr, 1000, 0), 0);
    EXPECT_EQ(Lumora_Record(h, "", 1000, 0), 0);
    EXPECT_EQ(Lumora_Record(h, PathOf("a.avi").c_str(), 0, 0), 0);
    EXPECT_EQ(Lumora_Record(h, PathOf("a.avi").c_str(), -5, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{9, 9, 9, 9}));
    EXPECT_EQ(Lumora_RecordW(h, nullptr, 1000, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{9}));

    const std::string longName(4096, 'a');
    EXPECT_EQ(Lumora_Record(h, (configDir_ / longName).c_str(), 1000, 0), 0);
    EXPECT_EQ(Lumora_Record(h, configDir_.c_str(), 1000, 0), 0);
    EXPECT_EQ(Lumora_Record(h, PathOf("missing/a.avi").c_str(), 1000, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{12, 12, 12}));
    std::u16string wide(2000, u'a');
    EXPECT_EQ(Lumora_RecordW(h, reinterpret_cast<const LUMORA_WCHAR*>(wide.c_str()), 1000, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{12}));
    EXPECT_EQ(Session(h)->State(), kStateIdle);
    EXPECT_FALSE(std::filesystem::exists(PathOf("a.avi")));

    EXPECT_EQ(Lumora_Record(12345, PathOf("b.avi").c_str(), 1000, 0), 0);  // unknown handle
}

TEST_F(RecordTest, RecordDuringTriggerOrAnotherRecordingIsRefused) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    ASSERT_EQ(Lumora_Trigger(h, nullptr, nullptr, 0, 0), 1);
    Codes(h);
    EXPECT_EQ(Lumora_Record(h, PathOf("t.avi").c_str(), 1000, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{12, 1}));
    EXPECT_EQ(Session(h)->State(), kStateIdle);

    ASSERT_EQ(Lumora_Record(h, PathOf("r.avi").c_str(), INT_MAX, 0), 1);
    EXPECT_EQ(Lumora_Record(h, PathOf("r2.avi").c_str(), 1000, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{1}));
    WaitForFrames(*Session(h));
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    const auto progress = Session(h)->RecordingProgress();
    EXPECT_FALSE(progress.recording);
    EXPECT_GT(progress.frames, 0u);
    ExpectFinished(PathOf("r.avi"), progress.frames);
    EXPECT_FALSE(std::filesystem::exists(PathOf("r2.avi")));
}

// The second recording starts on top of the preview run the first one left going, with the RIFF
// limit lowered so that it crosses it, and is ended by the Close.
TEST_F(RecordTest, RecordingOfADurationEndsByItselfAndALongOneCrossesTheRiffLimit) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_Record(h, PathOf("d.avi").c_str(), 150, 0), 1);
    WaitUntilDone(*Session(h));
    const auto progress = Session(h)->RecordingProgress();
    EXPECT_FALSE(progress.recording);
    EXPECT_GE(progress.frames, 2u);
    EXPECT_EQ(Session(h)->State(), kStatePreview);  // the preview run goes on

    const uint32_t limit = 512 * 1024;  // two frames per RIFF
    Session(h)->SetRecordRiffLimit(limit);
    ASSERT_EQ(Lumora_Record(h, PathOf("x.avi").c_str(), 60000, 0), 1);
    WaitForFrames(*Session(h), 7);
    EXPECT_EQ(Lumora_Close(h), 1);  // before the readers, so they do not compete with the run
    ExpectFinished(PathOf("d.avi"), progress.frames);
    const uint32_t frames = Session(h)->RecordingProgress().frames;
    EXPECT_GT(frames, 4u);
    const std::string f = ReadFileText(PathOf("x.avi"));
    EXPECT_NE(f.find("AVIX"), std::string::npos);
    EXPECT_LE(U32(f, 4) + 8u, limit);
    if (HaveProbe()) {
        EXPECT_EQ(ProbeFrames(PathOf("x.avi")), static_cast<int>(frames));
    }
}

TEST_F(RecordTest, UnplugCloseAndReleaseFinishTheFile) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    ASSERT_EQ(Lumora_Record(h, PathOf("u.avi").c_str(), 60000, 0), 1);
    WaitForFrames(*Session(h));
    LumoraSim_Unplug(0);
    WaitUntilDone(*Session(h), 10000);
    EXPECT_FALSE(Session(h)->RecordingProgress().recording);
    EXPECT_EQ(Lumora_Close(h), 1);
    ExpectFinished(PathOf("u.avi"), Session(h)->RecordingProgress().frames);
    LumoraSim_Replug(0);

    const int h2 = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h2, 2560, 0, 320, 2048, 0, 240), 1);
    ASSERT_EQ(Lumora_Record(h2, PathOf("rel.avi").c_str(), 60000, 0), 1);
    WaitForFrames(*Session(h2));
    Release(h2);
    const std::string f = ReadFileText(PathOf("rel.avi"));
    ASSERT_GT(f.size(), 232u);
    ExpectFinished(PathOf("rel.avi"), U32(f, 140));
}

// A disk that stops taking data: the preview run keeps its pace and the recorder skips (and
// counts) the frames it could not take, holding one frame, never a queue; once the disk is back
// the file is finished with the frames it took.
TEST_F(RecordTest, StalledDiskCostsFramesInTheFileNotThePreviewsPace) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    std::atomic<bool> stalled{true};
    std::atomic<int> writes{0};
    struct Unstall {  // a failed assertion must not leave the record thread waiting
        std::atomic<bool>& flag;
        ~Unstall() { flag = false; }
    } unstall{stalled};
    Session(h)->SetRecordWriteGate([&] {
        ++writes;
        while (stalled.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_EQ(Lumora_Record(h, PathOf("s.avi").c_str(), 60000, 0), 1);
    for (int i = 0; i < 4000 && writes.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(writes.load(), 1);  // the recorder waits on its first frame
    LumoraStreamStats before{};
    ASSERT_EQ(LumoraHost_GetStreamStats(h, &before), 1);
    LumoraStreamStats now = before;
    for (int i = 0; i < 4000 && now.framesDelivered < before.framesDelivered + 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        LumoraHost_GetStreamStats(h, &now);
    }
    EXPECT_GE(now.framesDelivered, before.framesDelivered + 20);  // the run did not wait
    const auto progress = Session(h)->RecordingProgress();
    EXPECT_TRUE(progress.recording);
    EXPECT_EQ(progress.frames, 0u);
    EXPECT_GE(progress.skipped, 19u);
    EXPECT_EQ(writes.load(), 1);

    stalled = false;
    WaitForFrames(*Session(h), 2);
    EXPECT_EQ(Lumora_Close(h), 1);
    const auto done = Session(h)->RecordingProgress();
    EXPECT_FALSE(done.recording);
    EXPECT_EQ(static_cast<int>(done.frames), writes.load());
    ExpectFinished(PathOf("s.avi"), done.frames);
}

TEST_F(RecordTest, FullDiskEndsTheRecordingWithAValidFileAndCode12) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    Codes(h);
    {
        lumora::testing::FileSizeLimit limit(232 + 2 * (8 + 230400) + 1000);
        ASSERT_EQ(Lumora_Record(h, PathOf("f.avi").c_str(), 60000, 0), 1);
        WaitUntilDone(*Session(h), 30000);
    }
    EXPECT_FALSE(Session(h)->RecordingProgress().recording);
    const uint32_t frames = Session(h)->RecordingProgress().frames;
    EXPECT_GE(frames, 1u);
    EXPECT_LE(frames, 2u);
    EXPECT_EQ(Codes(h), (std::vector<int>{12}));
    EXPECT_EQ(Lumora_Close(h), 1);
    ExpectFinished(PathOf("f.avi"), frames);
}

}  // namespace
}  // namespace lumora
