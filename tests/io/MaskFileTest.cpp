#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "io/Fifo.h"
#include "io/FileLimit.h"
#include "io/MaskFile.h"
#include "io/TempFolder.h"

namespace lumora {
namespace {

using lumora::testing::FileSizeLimit;
using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;
using lumora::testing::WriteFileText;

// Distinct content per reference so a swapped or shifted block shows.
uint8_t Dark8(int x, int y, int seed) {
    return static_cast<uint8_t>(x + y + seed);
}
uint8_t Bright8(int x, int, int seed) {
    return static_cast<uint8_t>(255 - x - seed);
}
uint16_t Dark16(int x, int y, int seed) {
    return static_cast<uint16_t>((x * 7 + y + seed) & 0xFFF);
}
uint16_t Bright16(int x, int y, int seed) {
    return static_cast<uint16_t>(4095 - ((x + y * 3 + seed) & 0x3FF));
}

void Fill(MaskSet& masks, int seed) {
    for (int y = 0; y < kMaskHeight; ++y) {
        uint8_t* d8 = masks.Reference(8, kMaskDark).Row(y);
        uint8_t* b8 = masks.Reference(8, kMaskBright).Row(y);
        uint8_t* d16 = masks.Reference(16, kMaskDark).Row(y);
        uint8_t* b16 = masks.Reference(16, kMaskBright).Row(y);
        for (int x = 0; x < kMaskWidth; ++x) {
            d8[x] = Dark8(x, y, seed);
            b8[x] = Bright8(x, y, seed);
            const uint16_t d = Dark16(x, y, seed);
            const uint16_t b = Bright16(x, y, seed);
            std::memcpy(d16 + 2 * x, &d, 2);
            std::memcpy(b16 + 2 * x, &b, 2);
        }
    }
}

bool HasContent(const MaskSet& masks, int seed) {
    for (int y = 0; y < kMaskHeight; ++y) {
        const uint8_t* d8 = masks.Reference(8, kMaskDark).Row(y);
        const uint8_t* b8 = masks.Reference(8, kMaskBright).Row(y);
        const uint8_t* d16 = masks.Reference(16, kMaskDark).Row(y);
        const uint8_t* b16 = masks.Reference(16, kMaskBright).Row(y);
        for (int x = 0; x < kMaskWidth; ++x) {
            uint16_t d, b;
            std::memcpy(&d, d16 + 2 * x, 2);
            std::memcpy(&b, b16 + 2 * x, 2);
            if (d8[x] != Dark8(x, y, seed) || b8[x] != Bright8(x, y, seed) ||
                d != Dark16(x, y, seed) || b != Bright16(x, y, seed)) {
                return false;
            }
        }
    }
    return true;
}

class MaskFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(saved_.Create());
        ASSERT_TRUE(target_.Create());
        Fill(saved_, 1);
        Fill(target_, 2);
    }
    std::string Path() const { return (folder_ / "masks.msk").string(); }

    TempFolder folder_;
    MaskSet saved_;
    MaskSet target_;
};

TEST_F(MaskFileTest, SavedFileHasTheFixedLayoutAndLoadsBackExactly) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    const std::string bytes = ReadFileText(Path());
    ASSERT_EQ(bytes.size(), 31457320u);
    EXPECT_EQ(std::memcmp(bytes.data(), "QUENTA MASK1000\0", 16), 0);
    const uint8_t expectedHeader[24] = {0x00, 0x0A, 0,    0, 0x00, 0x08, 0,    0, 0, 0, 0x50, 0,
                                        0,    0,    0x50, 0, 0,    0,    0xA0, 0, 0, 0, 0xA0, 0};
    EXPECT_EQ(std::memcmp(bytes.data() + 16, expectedHeader, 24), 0);
    // Block 3 starts with the dark 16-bit mask's first sample, low byte first.
    const uint16_t first = Dark16(0, 0, 1);
    EXPECT_EQ(static_cast<uint8_t>(bytes[10485800]), first & 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[10485801]), first >> 8);
    // Block 2 starts with the bright 8-bit mask.
    EXPECT_EQ(static_cast<uint8_t>(bytes[5242920]), Bright8(0, 0, 1));

    ASSERT_TRUE(LoadMaskFile(Path().c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 1));
}

TEST_F(MaskFileTest, LoadRebuildsTheDefectMaps) {
    saved_.Reference(8, kMaskDark).Row(10)[20] = 200;   // hot in the dark frame
    saved_.Reference(8, kMaskBright).Row(30)[40] = 10;  // dead in the bright frame
    const uint16_t hot = 4000;
    std::memcpy(saved_.Reference(16, kMaskDark).Row(50) + 2 * 60, &hot, 2);
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    ASSERT_TRUE(LoadMaskFile(Path().c_str(), target_));
    EXPECT_EQ(target_.DefectMap(8, kMaskDark).Row(10)[20], 1);
    EXPECT_EQ(target_.DefectMap(8, kMaskBright).Row(30)[40], 1);
    uint16_t flag;
    std::memcpy(&flag, target_.DefectMap(16, kMaskDark).Row(50) + 2 * 60, 2);
    EXPECT_EQ(flag, 1);
}

TEST_F(MaskFileTest, ShortOrOverlongFileChangesNothing) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    const std::string whole = ReadFileText(Path());
    WriteFileText(Path(), whole.substr(0, whole.size() - 1));
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 2));
    WriteFileText(Path(), whole + "x");
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 2));
}

TEST_F(MaskFileTest, WrongMagicOrSizeFieldIsRefused) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    const std::string whole = ReadFileText(Path());
    struct Damage {
        size_t offset;
        char byte;
    };
    const Damage damages[] = {
        {0, 'q'},    // magic
        {15, 'X'},   // the magic's terminator
        {16, 0x20},  // width 2592 (0x0A20)
        {22, 0x01},  // height
        {34, 0x01},  // size of block 3
    };
    for (const Damage& damage : damages) {
        std::string bad = whole;
        bad[damage.offset] = damage.byte;
        WriteFileText(Path(), bad);
        EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_)) << damage.offset;
        EXPECT_TRUE(HasContent(target_, 2));
    }
    EXPECT_FALSE(LoadMaskFile((folder_ / "missing").c_str(), target_));
}

TEST_F(MaskFileTest, FailedSaveReportsFailureAndKeepsTheEarlierFile) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), target_));  // content 2
    {
        FileSizeLimit diskFull(1 << 20);
        EXPECT_FALSE(SaveMaskFile(Path().c_str(), saved_));
    }
    ASSERT_TRUE(LoadMaskFile(Path().c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 2));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1);

    EXPECT_FALSE(SaveMaskFile((folder_ / "no/such/folder/m.msk").c_str(), saved_));
}

TEST_F(MaskFileTest, MasksOfTheWrongShapeAreNeitherSavedNorLoaded) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    saved_.Reference(16, kMaskDark).Create(kMaskWidth, kMaskHeight, 8);
    EXPECT_FALSE(SaveMaskFile((folder_ / "other.msk").c_str(), saved_));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "other.msk"));
    target_.Reference(8, kMaskBright).Create(1280, 1024, 8);
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_));
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

class MaskFileTargetTest : public MaskFileTest {};

TEST_F(MaskFileTargetTest, SaveWritesThroughASymlinkAndKeepsTheFileMode) {
    const auto real = folder_ / "real.msk";
    const auto link = folder_ / "link.msk";
    ASSERT_TRUE(SaveMaskFile(real.c_str(), target_));
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_symlink(real, link);

    ASSERT_TRUE(SaveMaskFile(link.c_str(), saved_));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(static_cast<size_t>(info.st_size), kMaskFileSize);
    ASSERT_TRUE(LoadMaskFile(real.c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 1));
}

TEST_F(MaskFileTargetTest, HardLinkedFileIsWrittenInPlaceSoEveryNameSeesTheNewMasks) {
    const auto other = folder_ / "other-name.msk";
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), target_));
    ASSERT_EQ(::link(Path().c_str(), other.c_str()), 0);
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_));
    ASSERT_TRUE(LoadMaskFile(other.c_str(), target_));
    EXPECT_TRUE(HasContent(target_, 1));
    EXPECT_EQ(std::filesystem::file_size(other), kMaskFileSize);
}

TEST_F(MaskFileTargetTest, SomethingOtherThanARegularFileIsRefusedAndLeftAsItWas) {
    const auto pipe = folder_ / "pipe";
    lumora::testing::Fifo fifo(pipe);
    ASSERT_TRUE(fifo.Made());
    EXPECT_TRUE(fifo.ReturnsPromptly([&] { EXPECT_FALSE(SaveMaskFile(pipe.c_str(), saved_)); }));
    EXPECT_TRUE(fifo.ReturnsPromptly([&] { EXPECT_FALSE(LoadMaskFile(pipe.c_str(), target_)); }));
    EXPECT_TRUE(HasContent(target_, 2));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_FALSE(SaveMaskFile(folder_.Path().c_str(), saved_));  // a folder
    EXPECT_TRUE(std::filesystem::is_directory(folder_.Path()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1);
}

TEST_F(MaskFileTargetTest, FileTheUserMayNotWriteIsRefusedNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), target_));
    ASSERT_EQ(::chmod(Path().c_str(), 0444), 0);
    EXPECT_FALSE(SaveMaskFile(Path().c_str(), saved_));
    ASSERT_TRUE(LoadMaskFile(Path().c_str(), saved_));
    EXPECT_TRUE(HasContent(saved_, 2));
}

}  // namespace
}  // namespace lumora
