// The settings reader's bounds: a text built to exhaust the stack or the memory is damaged, and
// one just inside them still reads.
#include <gtest/gtest.h>

#include <string>

#include "platform/SettingsKey.h"

namespace lumora::platform {
namespace {

std::string Section(size_t depth) {
    std::string path = "k";
    for (size_t i = 1; i < depth; ++i) path += "\\k";
    return "LumoraSettings 1\n[" + path + "]\n\"x\" = dword:7\nend\n";
}

TEST(SettingsLimits, DepthBeyondTheLimitIsDamagedAndAtTheLimitReads) {
    SettingsKey root;
    std::string error;
    EXPECT_FALSE(ParseSettingsText(Section(kMaxSettingsDepth + 1), root, error));
    EXPECT_NE(error.find("deep"), std::string::npos) << error;
    EXPECT_TRUE(root.IsEmpty());
    EXPECT_FALSE(ParseSettingsText(Section(100000), root, error));

    ASSERT_TRUE(ParseSettingsText(Section(kMaxSettingsDepth), root, error)) << error;
    std::string path = "k";
    for (size_t i = 1; i < kMaxSettingsDepth; ++i) path += "\\k";
    ASSERT_NE(root.Open(path), nullptr);
    EXPECT_EQ(root.Open(path)->QueryDword("x"), 7u);
    // The tree round-trips through its text form at that depth.
    SettingsKey again;
    EXPECT_TRUE(ParseSettingsText(FormatSettingsText(root), again, error)) << error;
    EXPECT_EQ(again, root);
}

TEST(SettingsLimits, TooManyKeysOrTooLongATextIsDamaged) {
    std::string text = "LumoraSettings 1\n";
    for (size_t i = 0; i <= kMaxSettingsKeys; ++i) text += "[k" + std::to_string(i) + "]\n";
    text += "end\n";
    SettingsKey root;
    std::string error;
    EXPECT_FALSE(ParseSettingsText(text, root, error));
    EXPECT_NE(error.find("too many"), std::string::npos) << error;
    EXPECT_TRUE(root.IsEmpty());

    std::string huge = "LumoraSettings 1\n";
    huge.append(kMaxSettingsTextSize, '#');
    huge += "\nend\n";
    EXPECT_FALSE(ParseSettingsText(huge, root, error));
    EXPECT_NE(error.find("larger"), std::string::npos) << error;
}

}  // namespace
}  // namespace lumora::platform
