// What the file exports do with paths that do not name a plain file, and with a full disk:
// nothing that was there is deleted, truncated or waited on, a running preview never stalls for
// a file, and failures come back as results and codes, never as text on standard error.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SimFixture.h"
#include "io/Fifo.h"
#include "io/FileLimit.h"
#include "io/TempFolder.h"

namespace lumora::testing {
namespace {

class FileTargetTest : public SimWorld {
protected:
    std::string PathOf(const std::string& name) const { return (configDir_ / name).string(); }
    // Frame messages that carry a frame, waiting at most `ms` for `count` of them.
    static size_t FramesWithin(HWND window, size_t count, long ms) {
        size_t got = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        LumoraHostMessage m{};
        while (got < count && std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(window, 50, &m) == 1 && m.message == LUMORA_MSG_FRAME &&
                m.wParam != 0) {
                ++got;
            }
        }
        return got;
    }
};

TEST_F(FileTargetTest, RecordOntoADeviceOrAPipeIsRefusedAndLeavesItThere) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    const std::string device = PathOf("full.avi");
    std::filesystem::create_symlink("/dev/full", device);
    Fifo pipe(configDir_ / "pipe.avi");
    ASSERT_TRUE(pipe.Made());
    for (const std::string& path : {std::string("/dev/full"), device, pipe.String()}) {
        int result = 1;
        EXPECT_TRUE(pipe.ReturnsPromptly([&] { result = Lumora_Record(h, path.c_str(), 1000, 0); }))
            << path;
        EXPECT_EQ(result, 0) << path;
        EXPECT_EQ(Codes(h), std::vector<int>{ERR_TEXT}) << path;
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_TRUE(std::filesystem::is_symlink(device));
    EXPECT_TRUE(pipe.StillThere());
}

TEST_F(FileTargetTest, RecordOnAFullDiskLeavesTheExistingFileWhole) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    const std::string path = PathOf("kept.avi");
    const std::string before(64 * 1024, 'k');
    std::ofstream(path, std::ios::binary) << before;
    {
        FileSizeLimit full(64 * 1024);  // no room for the first frame
        EXPECT_EQ(Lumora_Record(h, path.c_str(), 1000, 0), 0);
    }
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_TEXT});
    EXPECT_EQ(ReadFileText(path), before);
}

TEST_F(FileTargetTest, FileExportsOnAPipeReturnAtOnceAndThePreviewKeepsDelivering) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    ASSERT_EQ(FramesWithin(frames, 2, 10000), 2u);
    Fifo pipe(configDir_ / "pipe");
    ASSERT_TRUE(pipe.Made());
    const std::string path = pipe.String();
    for (int format = 0; format <= 6; ++format) {
        EXPECT_TRUE(pipe.ReturnsPromptly([&] {
            EXPECT_EQ(Lumora_SaveImage(h, path.c_str(), format), 0) << format;
        })) << format;
    }
    EXPECT_TRUE(
        pipe.ReturnsPromptly([&] { EXPECT_EQ(Lumora_LoadConfigFileA(h, path.c_str()), 0); }));
    EXPECT_TRUE(pipe.ReturnsPromptly([&] { EXPECT_EQ(Lumora_LoadMaskFile(h, path.c_str()), 0); }));
    EXPECT_TRUE(pipe.ReturnsPromptly([&] { EXPECT_EQ(Lumora_SaveMaskFile(h, path.c_str()), 0); }));
    EXPECT_EQ(Codes(h), (std::vector<int>{ERR_MASK_FILE, ERR_MASK_FILE}));
    EXPECT_TRUE(pipe.StillThere());
    // The run went on meanwhile.
    Messages(frames);
    EXPECT_EQ(FramesWithin(frames, 3, 10000), 3u);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    LumoraHost_DestroyWindow(frames);
}

TEST_F(FileTargetTest, AFailedSaveSaysNothingOnStandardErrorAndKeepsTheEarlierFile) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    for (int format = 0; format <= 6; ++format) {
        const std::string path = PathOf("earlier" + std::to_string(format));
        std::ofstream(path, std::ios::binary) << "saved before";
        ::testing::internal::CaptureStderr();
        {
            FileSizeLimit full(256);
            EXPECT_EQ(Lumora_SaveImage(h, path.c_str(), format), 0) << format;
        }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << format;
        EXPECT_EQ(ReadFileText(path), "saved before") << format;
    }
    EXPECT_TRUE(Codes(h).empty());
}

}  // namespace
}  // namespace lumora::testing
