#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace lumora::platform {
namespace {

// A wide literal of the interface's character type.
#if defined(_WIN32)
#define WIDE(text) L##text
#else
#define WIDE(text) u##text
#endif

TEST(CodePage, RoundTripsTextThroughUtf8) {
    const WideString wide = WIDE("C:/Bilder/Kälte \u6e29\u5ea6 \U0001F4F7.tif");
    std::string narrow;
    ASSERT_TRUE(WideToNarrow(wide, narrow, kMaxNarrowLength, "UTF-8"));
    EXPECT_EQ(narrow, "C:/Bilder/K\xC3\xA4lte \xE6\xB8\xA9\xE5\xBA\xA6 \xF0\x9F\x93\xB7.tif");
    WideString back;
    ASSERT_TRUE(NarrowToWide(narrow, back, "UTF-8"));
    EXPECT_EQ(back, wide);
}

TEST(CodePage, RefusesWhatCannotBeConverted) {
    std::string narrow = "stale";
    const WideChar loneSurrogate[] = {WIDE('a'), 0xD800, WIDE('b'), 0};
    EXPECT_FALSE(WideToNarrow(loneSurrogate, narrow, kMaxNarrowLength, "UTF-8"));
    EXPECT_TRUE(narrow.empty());
    // A character the target set lacks.
    EXPECT_FALSE(WideToNarrow(WIDE("\u6e29"), narrow, kMaxNarrowLength, "ISO-8859-1"));
    EXPECT_TRUE(WideToNarrow(WIDE("\u00e4"), narrow, kMaxNarrowLength, "ISO-8859-1"));
    EXPECT_EQ(narrow, "\xE4");
    WideString wide;
    EXPECT_FALSE(NarrowToWide("\xC3\x28", wide, "UTF-8"));  // invalid UTF-8
}

TEST(CodePage, ResultMustLeaveRoomForTheTerminatorInTheBuffer) {
    std::string narrow;
    const WideString fits(kMaxNarrowLength, WIDE('x'));
    EXPECT_TRUE(WideToNarrow(fits, narrow));
    EXPECT_EQ(narrow.size(), 1022u);
    const WideString tooLong(kMaxNarrowLength + 1, WIDE('x'));
    EXPECT_FALSE(WideToNarrow(tooLong, narrow));
    // Counted in bytes of the result, not in input units.
    const WideString multibyte(kMaxNarrowLength / 2 + 1, WIDE('\u00e4'));
    EXPECT_FALSE(WideToNarrow(multibyte, narrow, kMaxNarrowLength, "UTF-8"));
}

TEST(CodePage, WideLengthStopsAtTheTerminator) {
    EXPECT_EQ(WideLength(WIDE("abc")), 3u);
    EXPECT_EQ(WideLength(nullptr), 0u);
    EXPECT_FALSE(LocaleCodeset().empty());
}

}  // namespace
}  // namespace lumora::platform
