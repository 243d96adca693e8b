#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ui/DialogFixture.h"
#include "ui/ImageDialogModel.h"

namespace lumora::testing {
namespace {

using ui::ImageDialogModel;

using ImageDialogTest = DialogWorld;

TEST_F(ImageDialogTest, MonochromeEnablesFourSlidersAndAddsTheGrayPage) {
    ImageDialogModel model(*session_, 1);
    EXPECT_EQ(model.Pages(), (std::vector<std::string>{"Image Filter", "Gray Filter"}));
    for (int id : {2001, 2011, 2041, 2081}) EXPECT_TRUE(model.Find(id)->enabled) << id;
    for (int id : {2021, 2031, 2051, 2061, 2071, 1030, 1033})
        EXPECT_FALSE(model.Find(id)->enabled) << id;
    EXPECT_FALSE(model.Find(ui::kIdOnce, ui::kImagePage)->enabled);
    EXPECT_FALSE(model.Find(ui::kIdAllFrames, ui::kImagePage)->enabled);
    EXPECT_TRUE(model.Find(ui::kIdOnce, ui::kGrayPage)->enabled);
    const ui::Control* red = model.Find(2100);
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->page, ui::kGrayPage);
    EXPECT_EQ(red->max, 400);
    EXPECT_EQ(red->pageStep, 32);
    EXPECT_EQ(model.Find(2123)->min, -255);
}

TEST_F(ImageDialogTest, ColourEnablesEverythingWithoutAGrayPage) {
    ImageDialogModel model(*session_, 2);
    EXPECT_EQ(model.Pages().size(), 1u);
    EXPECT_EQ(model.Find(2100), nullptr);
    for (int id : {2001, 2021, 2031, 2051, 2071, 1030, ui::kIdOnce, ui::kIdAllFrames})
        EXPECT_TRUE(model.Find(id)->enabled) << id;
    const ui::Control* hue = model.Find(2021);
    EXPECT_EQ(hue->min, -360);
    EXPECT_EQ(hue->pageStep, 90);
    EXPECT_EQ(hue->editId, 2022);
    EXPECT_EQ(hue->spinId, 2024);
}

TEST_F(ImageDialogTest, SlidersAndEditsChangeTheSessionLive) {
    ImageDialogModel model(*session_, 0);
    model.Scroll(2001, 40);
    EXPECT_EQ(Settings().filter.brightness, 40);
    int valid = 0;
    EXPECT_EQ(Lumora_GetFilterValue(handle_, 1, &valid), 40);
    model.EditText(2012, "-20");  // the contrast edit
    EXPECT_EQ(Settings().filter.contrast, -20);
    EXPECT_EQ(model.Find(2011)->value, -20);
    // Out of range is held at the limit; half-typed text waits.
    model.EditText(2042, "99");
    EXPECT_EQ(Settings().filter.sharpness, 30);
    model.EditText(2082, "-");
    EXPECT_EQ(Settings().filter.gamma, 100);
    EXPECT_EQ(model.Find(2081)->text, "-");
    // Disabled in monochrome: nothing moves.
    model.Scroll(2021, 90);
    EXPECT_EQ(Settings().filter.hue, 0);
    // Gray gains take the dialog's wider range.
    model.Scroll(2109, 300);
    EXPECT_EQ(Settings().gray.gain[kGrayB], 300);
    model.Toggle(ui::kIdGrayModeConvert, true);
    EXPECT_EQ(Settings().gray.grayMode, 1);
    EXPECT_EQ(model.Find(ui::kIdGrayModeBayer)->value, 0);
}

TEST_F(ImageDialogTest, DefaultResetsAndCancelRestoresTheSavedCopy) {
    ASSERT_EQ(Lumora_SetFilterValue(handle_, 1, 12), 1);
    ASSERT_EQ(Lumora_SetFilterValue(handle_, 20, 90), 1);
    ImageDialogModel model(*session_, 1);
    model.Scroll(2011, 50);
    model.Press(ui::kIdDefault);
    CLumora::SettingsGroups g = Settings();
    EXPECT_EQ(g.filter.brightness, 0);
    EXPECT_EQ(g.filter.contrast, 0);
    EXPECT_EQ(g.filter.gamma, 100);
    EXPECT_EQ(g.filter.bayerMode, 3);
    EXPECT_EQ(g.gray.gain[kGrayR], 128);
    EXPECT_EQ(g.gray.offset[kGrayB], 128);
    EXPECT_EQ(model.Find(2001)->value, 0);
    EXPECT_EQ(model.Find(2001)->text, "0");
    EXPECT_EQ(model.Find(1033)->value, 1);

    model.Press(ui::kIdCancel);
    g = Settings();
    EXPECT_EQ(g.filter.brightness, 12);
    EXPECT_EQ(g.gray.gain[kGrayR], 90);
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kCancelled);
}

TEST_F(ImageDialogTest, OnceAndAllFramesDriveTheAutomaticEstimates) {
    {
        ImageDialogModel colour(*session_, 2);
        colour.Toggle(ui::kIdAllFrames, true);
        EXPECT_EQ(Settings().filter.bayerGainAuto, 1);
        EXPECT_EQ(Settings().filter.oneShotMarker[0], 0);
        colour.Press(ui::kIdOnce);
        EXPECT_EQ(Settings().filter.bayerGainAuto, 1);
        EXPECT_EQ(Settings().filter.oneShotMarker[0], 1);
        EXPECT_EQ(Settings().filter.oneShotMarker[1], 1);
        EXPECT_EQ(colour.Find(ui::kIdAllFrames)->value, 0);
        colour.Toggle(ui::kIdAllFrames, false);
        EXPECT_EQ(Settings().filter.bayerGainAuto, 0);
        EXPECT_EQ(Settings().filter.oneShotMarker[1], 0);
        colour.Press(ui::kIdOk);
    }
    ImageDialogModel mono(*session_, 1);
    mono.Press(ui::kIdOnce, ui::kGrayPage);
    EXPECT_EQ(Settings().gray.autoGainCounter, 1);
    mono.Toggle(ui::kIdAllFrames, true, ui::kGrayPage);
    EXPECT_EQ(Settings().gray.autoGainCounter, -1);
    mono.Toggle(ui::kIdAllFrames, false, ui::kGrayPage);
    EXPECT_EQ(Settings().gray.autoGainCounter, 0);
}

TEST_F(ImageDialogTest, AnEstimateDuringThePreviewRefreshesThePage) {
    ImageDialogModel model(*session_, 0);
    model.Toggle(ui::kIdGrayModeConvert, true);
    model.Scroll(2100, 7);
    model.Press(ui::kIdOnce, ui::kGrayPage);
    EXPECT_FALSE(model.Poll());
    ASSERT_EQ(Lumora_SetColorMode(handle_, 8), 1);
    ASSERT_EQ(Lumora_StartPreview(handle_), 1);
    bool refreshed = false;
    for (int i = 0; i < 300 && !refreshed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        refreshed = model.Poll();
    }
    EXPECT_EQ(Lumora_StopPreview(handle_), 1);
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(Settings().gray.autoGainCounter, 0);
    EXPECT_EQ(model.Find(2103)->value, 128);  // G1 is the reference of the estimate
    EXPECT_NE(model.Find(2100)->value, 7);
}

TEST_F(ImageDialogTest, ExportRestoresOnCancelAndKeepsOnOk) {
    Script() = [](ui::DialogModel& model) {
        model.Scroll(2001, -100);
        model.Press(ui::kIdOk);
    };
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_EQ(Settings().filter.brightness, -100);
    Script() = [](ui::DialogModel& model) { model.Scroll(2001, 100); };  // closed without a button
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_EQ(Settings().filter.brightness, -100);
}

}  // namespace
}  // namespace lumora::testing
