#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "io/FileLimit.h"
#include "io/MaskFile.h"
#include "io/TempFolder.h"

namespace lumora {
namespace {

using lumora::testing::FileSizeLimit;
using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;
using lumora::testing::WriteFileText;

struct Masks {
    ImageBuffer dark8, bright8, dark16, bright16;
    MaskPlanes Planes() { return {dark8, bright8, dark16, bright16}; }

    // Distinct content per plane so a swapped or shifted block shows.
    explicit Masks(int seed) {
        dark8.Create(kMaskWidth, kMaskHeight, 8);
        bright8.Create(kMaskWidth, kMaskHeight, 8);
        dark16.Create(kMaskWidth, kMaskHeight, 16);
        bright16.Create(kMaskWidth, kMaskHeight, 16);
        for (int y = 0; y < kMaskHeight; ++y) {
            for (int x = 0; x < kMaskWidth; ++x) {
                dark8.Row(y)[x] = static_cast<uint8_t>(x + y + seed);
                bright8.Row(y)[x] = static_cast<uint8_t>(255 - x - seed);
                const auto d = static_cast<uint16_t>((x * 7 + y + seed) & 0xFFF);
                const auto b = static_cast<uint16_t>(4095 - ((x + y * 3 + seed) & 0x3FF));
                std::memcpy(dark16.Row(y) + 2 * x, &d, 2);
                std::memcpy(bright16.Row(y) + 2 * x, &b, 2);
            }
        }
    }
};

bool SamePixels(const ImageBuffer& a, const ImageBuffer& b) {
    return a.SizeBytes() == b.SizeBytes() &&
           std::memcmp(a.Pixels(), b.Pixels(), a.SizeBytes()) == 0;
}

bool SameMasks(Masks& a, Masks& b) {
    return SamePixels(a.dark8, b.dark8) && SamePixels(a.bright8, b.bright8) &&
           SamePixels(a.dark16, b.dark16) && SamePixels(a.bright16, b.bright16);
}

class MaskFileTest : public ::testing::Test {
protected:
    std::string Path() const { return (folder_ / "masks.msk").string(); }

    TempFolder folder_;
    Masks saved_{1};
    Masks target_{2};
    Masks untouched_{2};
};

TEST_F(MaskFileTest, SavedFileHasTheFixedLayoutAndLoadsBackExactly) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_.Planes()));
    const std::string bytes = ReadFileText(Path());
    ASSERT_EQ(bytes.size(), 31457320u);
    EXPECT_EQ(std::memcmp(bytes.data(), "QUENTA MASK1000\0", 16), 0);
    const uint8_t expectedHeader[24] = {0x00, 0x0A, 0,    0, 0x00, 0x08, 0,    0, 0, 0, 0x50, 0,
                                        0,    0,    0x50, 0, 0,    0,    0xA0, 0, 0, 0, 0xA0, 0};
    EXPECT_EQ(std::memcmp(bytes.data() + 16, expectedHeader, 24), 0);
    // Block 3 starts with the dark 16-bit mask's first sample, low byte first.
    uint16_t first;
    std::memcpy(&first, saved_.dark16.Pixels(), 2);
    EXPECT_EQ(static_cast<uint8_t>(bytes[10485800]), first & 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[10485801]), first >> 8);
    // Block 2 starts with the bright 8-bit mask.
    EXPECT_EQ(static_cast<uint8_t>(bytes[5242920]), saved_.bright8.Pixels()[0]);

    ASSERT_TRUE(LoadMaskFile(Path().c_str(), target_.Planes()));
    EXPECT_TRUE(SameMasks(target_, saved_));
}

TEST_F(MaskFileTest, ShortOrOverlongFileChangesNothing) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_.Planes()));
    const std::string whole = ReadFileText(Path());
    WriteFileText(Path(), whole.substr(0, whole.size() - 1));
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_.Planes()));
    EXPECT_TRUE(SameMasks(target_, untouched_));
    WriteFileText(Path(), whole + "x");
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_.Planes()));
    EXPECT_TRUE(SameMasks(target_, untouched_));
}

TEST_F(MaskFileTest, WrongMagicOrSizeFieldIsRefused) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_.Planes()));
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
        EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_.Planes())) << damage.offset;
        EXPECT_TRUE(SameMasks(target_, untouched_));
    }
    EXPECT_FALSE(LoadMaskFile((folder_ / "missing").c_str(), target_.Planes()));
}

TEST_F(MaskFileTest, FailedSaveReportsFailureAndKeepsTheEarlierFile) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), untouched_.Planes()));
    {
        FileSizeLimit diskFull(1 << 20);
        EXPECT_FALSE(SaveMaskFile(Path().c_str(), saved_.Planes()));
    }
    ASSERT_TRUE(LoadMaskFile(Path().c_str(), target_.Planes()));
    EXPECT_TRUE(SameMasks(target_, untouched_));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 1);

    EXPECT_FALSE(SaveMaskFile((folder_ / "no/such/folder/m.msk").c_str(), saved_.Planes()));
}

TEST_F(MaskFileTest, MasksOfTheWrongShapeAreNeitherSavedNorLoaded) {
    ASSERT_TRUE(SaveMaskFile(Path().c_str(), saved_.Planes()));
    saved_.dark16.Create(kMaskWidth, kMaskHeight, 8);
    EXPECT_FALSE(SaveMaskFile((folder_ / "other.msk").c_str(), saved_.Planes()));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "other.msk"));
    target_.bright8.Create(1280, 1024, 8);
    EXPECT_FALSE(LoadMaskFile(Path().c_str(), target_.Planes()));
}

}  // namespace
}  // namespace lumora
