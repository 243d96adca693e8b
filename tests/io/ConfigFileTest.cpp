#include <gtest/gtest.h>

#include "io/ConfigFile.h"
#include "io/Fifo.h"
#include "io/TempFolder.h"

namespace lumora {
namespace {

using lumora::testing::TempFolder;
using lumora::testing::WriteFileText;

TEST(ConfigFile, WholeRecordsAreReadLittleEndianAndTrailingBytesIgnored) {
    TempFolder folder;
    const std::string bytes(
        "\x01\x00\x00\x00\xFF\xFF\xFF\xFF"
        "\x00\x01\x00\x80\x78\x56\x34\x12"
        "\xAA\xBB\xCC\xDD",
        20);
    WriteFileText(folder / "c.bin", bytes);
    ConfigList pairs;
    ASSERT_TRUE(ReadConfigFile((folder / "c.bin").c_str(), pairs));
    const ConfigList expected = {{1, -1}, {static_cast<int32_t>(0x80000100u), 0x12345678}};
    EXPECT_EQ(pairs, expected);
}

TEST(ConfigFile, ShortEmptyAndMissingFiles) {
    TempFolder folder;
    ConfigList pairs{{9, 9}};
    WriteFileText(folder / "short.bin", "1234567");
    EXPECT_TRUE(ReadConfigFile((folder / "short.bin").c_str(), pairs));
    EXPECT_TRUE(pairs.empty());  // read fine, holds no record: the caller keeps its list
    WriteFileText(folder / "empty.bin", "");
    EXPECT_TRUE(ReadConfigFile((folder / "empty.bin").c_str(), pairs));
    EXPECT_FALSE(ReadConfigFile((folder / "missing.bin").c_str(), pairs));
    EXPECT_FALSE(ReadConfigFile(folder.Path().c_str(), pairs));  // a folder
    EXPECT_FALSE(ReadConfigFile(nullptr, pairs));
    EXPECT_FALSE(ReadConfigFile("/dev/zero", pairs));  // a device, endless
    lumora::testing::Fifo pipe(folder / "pipe");
    ASSERT_TRUE(pipe.Made());
    EXPECT_TRUE(
        pipe.ReturnsPromptly([&] { EXPECT_FALSE(ReadConfigFile(pipe.String().c_str(), pairs)); }));
}

}  // namespace
}  // namespace lumora
