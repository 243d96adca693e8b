#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace lumora::platform {
namespace {

TEST(CodePage, RoundTripsTextThroughUtf8) {
    const std::u16string wide = u"C:/Bilder/Kälte \u6e29\u5ea6 \U0001F4F7.tif";
    std::string narrow;
    ASSERT_TRUE(WideToNarrow(wide, narrow, kMaxNarrowLength, "UTF-8"));
    EXPECT_EQ(narrow, "C:/Bilder/K\xC3\xA4lte \xE6\xB8\xA9\xE5\xBA\xA6 \xF0\x9F\x93\xB7.tif");
    std::u16string back;
    ASSERT_TRUE(NarrowToWide(narrow, back, "UTF-8"));
    EXPECT_EQ(back, wide);
}

TEST(CodePage, RefusesWhatCannotBeConverted) {
    std::string narrow = "stale";
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    EXPECT_FALSE(WideToNarrow(loneSurrogate, narrow, kMaxNarrowLength, "UTF-8"));
    EXPECT_TRUE(narrow.empty());
    // A character the target set lacks.
    EXPECT_FALSE(WideToNarrow(u"\u6e29", narrow, kMaxNarrowLength, "ISO-8859-1"));
    EXPECT_TRUE(WideToNarrow(u"\u00e4", narrow, kMaxNarrowLength, "ISO-8859-1"));
    EXPECT_EQ(narrow, "\xE4");
    std::u16string wide;
    EXPECT_FALSE(NarrowToWide("\xC3\x28", wide, "UTF-8"));  // invalid UTF-8
}

TEST(CodePage, ResultMustLeaveRoomForTheTerminatorInTheBuffer) {
    std::string narrow;
    const std::u16string fits(kMaxNarrowLength, u'x');
    EXPECT_TRUE(WideToNarrow(fits, narrow));
    EXPECT_EQ(narrow.size(), 1022u);
    const std::u16string tooLong(kMaxNarrowLength + 1, u'x');
    EXPECT_FALSE(WideToNarrow(tooLong, narrow));
    // Counted in bytes of the result, not in input units.
    const std::u16string multibyte(kMaxNarrowLength / 2 + 1, u'\u00e4');
    EXPECT_FALSE(WideToNarrow(multibyte, narrow, kMaxNarrowLength, "UTF-8"));
}

TEST(CodePage, WideLengthStopsAtTheTerminator) {
    EXPECT_EQ(WideLength(u"abc"), 3u);
    EXPECT_EQ(WideLength(nullptr), 0u);
    EXPECT_FALSE(LocaleCodeset().empty());
}

}  // namespace
}  // namespace lumora::platform
