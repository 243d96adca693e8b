#include "platform/Log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumora::platform {
namespace {

LogSettings Levels(int usb, int port, int window, int dialog, int file = 0) {
    LogSettings settings;
    settings.levels = {usb, port, window, dialog, file};
    return settings;
}

TEST(LogSettingsTest, CategoryListsChooseCategoriesAndLevels) {
    EXPECT_EQ(ParseLogSettings("usb"), Levels(1, 0, 0, 0));
    EXPECT_EQ(ParseLogSettings("usb,window:2"), Levels(1, 0, 2, 0));
    EXPECT_EQ(ParseLogSettings(" Dialog , port:1 "), Levels(0, 1, 0, 1));
    EXPECT_EQ(ParseLogSettings("all:2,usb:0"), Levels(0, 2, 2, 2, 2));
    EXPECT_EQ(ParseLogSettings("file"), Levels(0, 0, 0, 0, 1));
    EXPECT_EQ(ParseLogSettings("window:9"), Levels(0, 0, 2, 0));  // beyond the last level
}

// Existing users keep their trace: any value that is not a category list turns everything on,
// and only nothing, an empty value or 0 is silence.
TEST(LogSettingsTest, ValuesThatAreNoListMeanEverythingOrNothing) {
    const LogSettings everything = Levels(2, 2, 2, 2, 2);
    for (const char* value : {"1", "yes", "usb,bogus", "usb:x", "usb:", ",", "usb:12"})
        EXPECT_EQ(ParseLogSettings(value), everything) << value;
    for (const char* value : {static_cast<const char*>(nullptr), "", "0"})
        EXPECT_EQ(ParseLogSettings(value), LogSettings{}) << (value ? value : "null");
}

TEST(LogTest, OnlyLinesOfWantedCategoriesAndLevelsAreWritten) {
    std::vector<std::string> lines;
    SetLogSinkForTesting([&](const std::string& line) { lines.push_back(line); });
    SetLogSettingsForTesting(ParseLogSettings("usb,window:2"));
    Log(LogCategory::kUsb, 1, "usb %d\n", 1);
    Log(LogCategory::kUsb, 2, "usb trace\n");
    LogText(LogCategory::kWindow, 2, "window trace\n");
    LogText(LogCategory::kDialog, 1, "dialog\n");
    EXPECT_TRUE(LogEnabled(LogCategory::kWindow, 2));
    EXPECT_FALSE(LogEnabled(LogCategory::kPort));
    SetLogSettingsForTesting(LogSettings{});
    SetLogSinkForTesting(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"usb 1\n", "window trace\n"}));
}

}  // namespace
}  // namespace lumora::platform
