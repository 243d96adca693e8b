#include "platform/RegularFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "io/Fifo.h"
#include "io/TempFolder.h"

namespace lumora::platform {
namespace {

using lumora::testing::Fifo;
using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(RegularFileTest, WritingOverAFileKeepsItsContentUntilTheWriterCutsIt) {
    TempFolder dir;
    const auto path = dir / "old.bin";
    WriteText(path, "0123456789");
    RegularFile file;
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    EXPECT_FALSE(file.Created());
    EXPECT_EQ(file.Size(), 10u);
    ASSERT_TRUE(file.Write("ab", 2));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFileText(path), "ab23456789");

    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    ASSERT_TRUE(file.WriteAt(3, "X", 1, "YZ", 2));
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_FALSE(file.RemoveIfCreated());  // not ours to remove
    EXPECT_EQ(ReadFileText(path), "ab2XYZ");
}

TEST(RegularFileTest, OnlyAFileThisObjectCreatedIsRemovedAndOnlyWhileThePathNamesIt) {
    TempFolder dir;
    const auto path = dir / "new.bin";
    RegularFile file;
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    EXPECT_TRUE(file.Created());
    EXPECT_TRUE(file.RemoveIfCreated());
    EXPECT_FALSE(std::filesystem::exists(path));

    // Another file took the name meanwhile: it stays.
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    const auto other = dir / "other.bin";
    WriteText(other, "someone else's");
    std::filesystem::rename(other, path);
    EXPECT_FALSE(file.RemoveIfCreated());
    EXPECT_EQ(ReadFileText(path), "someone else's");

    // Created through a symlink that named nothing: the file goes, the link stays.
    const auto link = dir / "link.bin";
    const auto target = dir / "target.bin";
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(file.OpenForWriting(link.c_str()));
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_TRUE(file.RemoveIfCreated());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
}

TEST(RegularFileTest, DevicesPipesAndFoldersAreRefusedWithoutWaitingAndLeftAsTheyWere) {
    TempFolder dir;
    Fifo pipe(dir / "pipe");
    ASSERT_TRUE(pipe.Made());
    RegularFile file;
    EXPECT_TRUE(
        pipe.ReturnsPromptly([&] { EXPECT_FALSE(file.OpenForWriting(pipe.String().c_str())); }));
    EXPECT_TRUE(
        pipe.ReturnsPromptly([&] { EXPECT_FALSE(file.OpenForReading(pipe.String().c_str())); }));
    EXPECT_TRUE(pipe.StillThere());

    const auto device = dir / "full";
    std::filesystem::create_symlink("/dev/full", device);
    for (const char* path : {"/dev/full", "/dev/null", device.c_str(), dir.Path().c_str()}) {
        EXPECT_FALSE(file.OpenForWriting(path)) << path;
        EXPECT_FALSE(file.OpenForReading(path)) << path;
        EXPECT_FALSE(file.RemoveIfCreated()) << path;
        EXPECT_FALSE(RegularFile::MayHoldAFile(path)) << path;
    }
    EXPECT_FALSE(RegularFile::MayHoldAFile(pipe.String().c_str()));
    EXPECT_TRUE(RegularFile::MayHoldAFile((dir / "missing").c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(device));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_FALSE(file.OpenForReading((dir / "missing").c_str()));
    EXPECT_FALSE(file.OpenForWriting((dir / "no" / "folder").c_str()));
    EXPECT_FALSE(file.IsOpen());
}

TEST(RegularFileTest, ReadsStopAtTheEnd) {
    TempFolder dir;
    const auto path = dir / "r.bin";
    WriteText(path, "abcdef");
    RegularFile file;
    ASSERT_TRUE(file.OpenForReading(path.c_str()));
    char buffer[8] = {};
    ASSERT_TRUE(file.ReadExact(buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_FALSE(file.ReadExact(buffer, 4));  // only two left
    size_t got = 1;
    ASSERT_TRUE(file.Read(buffer, 4, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(file.Write("x", 1));  // opened for reading
}

}  // namespace
}  // namespace lumora::platform
