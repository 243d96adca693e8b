#include <gtest/gtest.h>

#include "io/CameraSettings.h"
#include "ui/CameraDialogModel.h"
#include "ui/DialogFixture.h"

namespace lumora::testing {
namespace {

using ui::CameraDialogModel;
using ui::ControlKind;

class CameraDialogTest : public DialogWorld {
protected:
    ui::CameraDialogInput Input(bool h = true, bool v = true) {
        ui::CameraDialogInput input;
        input.device = session_->SettingsDevice();
        input.caps = session_->Capabilities();
        input.horizontalWindowing = h;
        input.verticalWindowing = v;
        return input;
    }
    void StoreSizes(const std::vector<SizeEntry>& sizes, int selected, int subSample = 0) {
        FormatSettings format;
        format.sizeIndex = selected;
        format.colorMode = 1;
        format.subSample = subSample;
        ASSERT_TRUE(SaveFormatGroup(session_->Store(), session_->SettingsDevice(), sizes, format));
    }
    static SizeEntry Window(int w, int h, int x, int y) {
        SizeEntry e;
        e.hEffective = w;
        e.vEffective = h;
        e.hStart = x;
        e.vStart = y;
        return e;
    }
};

TEST_F(CameraDialogTest, MonoTwelveBitCameraOffersOnlyItsModesAndAFixedClock) {
    CameraDialogModel model(session_->Store(), Input());
    const ui::Control* color = model.Find(ui::kIdColorMode);
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(color->items, (std::vector<std::string>{"Monochrome 8bit", "Monochrome 12bit *"}));
    EXPECT_EQ(model.ColorModes(), (std::vector<int>{0, 1}));
    // A fresh camera stores 16-bit output, so the 12-bit item is selected.
    EXPECT_EQ(color->value, 1);

    const ui::Control* clock = model.Find(ui::kIdClock);
    EXPECT_EQ(clock->items.size(), 3u);
    EXPECT_EQ(clock->items[2], "High(54MHz)");
    EXPECT_EQ(clock->value, 2);
    EXPECT_FALSE(clock->enabled);

    const ui::Control* size = model.Find(ui::kIdSize);
    ASSERT_FALSE(size->items.empty());
    EXPECT_EQ(size->items.front(), "2560 x 2048");
    EXPECT_EQ(size->items.back(), "Custom");
    EXPECT_EQ(model.Find(ui::kIdHEffective)->text, "2560");
    EXPECT_EQ(model.Find(ui::kIdVStart)->text, "0");
    EXPECT_FALSE(model.ApplyEnabled());
}

TEST_F(CameraDialogTest, ChoosingAnEntryFillsTheEditsAndEnablesApply) {
    StoreSizes({SizeEntry{}, Window(1280, 1024, 64, 32)}, 0);
    CameraDialogModel model(session_->Store(), Input());
    ASSERT_EQ(model.Find(ui::kIdSize)->items,
              (std::vector<std::string>{"2560 x 2048", "1280 x 1024", "Custom"}));
    model.Select(ui::kIdSize, 1);
    EXPECT_EQ(model.Find(ui::kIdHEffective)->text, "1280");
    EXPECT_EQ(model.Find(ui::kIdVEffective)->text, "1024");
    EXPECT_EQ(model.Find(ui::kIdHStart)->text, "64");
    EXPECT_EQ(model.Find(ui::kIdVStart)->text, "32");
    EXPECT_TRUE(model.ApplyEnabled());
    // Items past the list are ignored.
    model.Select(ui::kIdSize, 7);
    EXPECT_EQ(model.Find(ui::kIdSize)->value, 1);
}

TEST_F(CameraDialogTest, HalfSkipForcesTheFullSensorEntryAddingItWhenAbsent) {
    StoreSizes({Window(1280, 1024, 0, 0), Window(640, 480, 8, 8)}, 1);
    CameraDialogModel model(session_->Store(), Input());
    model.Select(ui::kIdSubSample, 1);
    const ui::Control* size = model.Find(ui::kIdSize);
    EXPECT_EQ(size->items,
              (std::vector<std::string>{"1280 x 1024", "640 x 480", "2560 x 2048", "Custom"}));
    EXPECT_EQ(size->value, 2);
    EXPECT_EQ(model.Find(ui::kIdHEffective)->text, "2560");
    // The window and the size list are fixed while skipping.
    for (int id : {ui::kIdSize, ui::kIdHEffective, ui::kIdVEffective, ui::kIdHStart, ui::kIdVStart})
        EXPECT_FALSE(model.Find(id)->enabled) << id;
    model.Select(ui::kIdSubSample, 0);
    EXPECT_TRUE(model.Find(ui::kIdSize)->enabled);
    EXPECT_TRUE(model.Find(ui::kIdHStart)->enabled);
}

TEST_F(CameraDialogTest, HalfSkipSelectsAnExistingFullSensorEntryWithoutAddingOne) {
    StoreSizes({Window(1280, 1024, 0, 0), SizeEntry{}}, 0);
    CameraDialogModel model(session_->Store(), Input());
    model.Select(ui::kIdSubSample, 1);
    EXPECT_EQ(model.Sizes().size(), 2u);
    EXPECT_EQ(model.Find(ui::kIdSize)->value, 1);
}

TEST_F(CameraDialogTest, MissingWindowingDisablesThatDirectionsEdits) {
    CameraDialogModel horizontalOnly(session_->Store(), Input(true, false));
    EXPECT_TRUE(horizontalOnly.Find(ui::kIdHEffective)->enabled);
    EXPECT_FALSE(horizontalOnly.Find(ui::kIdVEffective)->enabled);
    EXPECT_FALSE(horizontalOnly.Find(ui::kIdVStart)->enabled);
    EXPECT_TRUE(horizontalOnly.Find(ui::kIdSize)->enabled);
    CameraDialogModel neither(session_->Store(), Input(false, false));
    EXPECT_FALSE(neither.Find(ui::kIdSize)->enabled);
    EXPECT_FALSE(neither.Find(ui::kIdHTotal)->enabled);
}

TEST_F(CameraDialogTest, ApplyOverwritesTheSelectedEntryAndOkAppendsACustomOne) {
    CameraDialogModel model(session_->Store(), Input());
    const int device = session_->SettingsDevice();
    model.Select(ui::kIdColorMode, 0);
    model.EditText(ui::kIdHEffective, "2048");
    model.EditText(ui::kIdWaitTime, "25");
    model.Press(ui::kIdApply);
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kOpen);
    EXPECT_FALSE(model.ApplyEnabled());
    std::vector<SizeEntry> stored = LoadSizeList(session_->Store(), device);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].hEffective, 2048);
    EXPECT_EQ(model.Find(ui::kIdSize)->items.front(), "2048 x 2048");

    const int custom = static_cast<int>(model.Find(ui::kIdSize)->items.size()) - 1;
    model.Select(ui::kIdSize, custom);
    model.EditText(ui::kIdHEffective, "1024");
    model.EditText(ui::kIdVEffective, "768");
    model.EditText(ui::kIdHStart, "16");
    model.Press(ui::kIdOk);
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kAccepted);

    stored = LoadSizeList(session_->Store(), device);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].hEffective, 1024);
    EXPECT_EQ(stored[1].vEffective, 768);
    EXPECT_EQ(stored[1].hStart, 16);
    EXPECT_EQ(stored[1].bufferCount, 4);
    FormatSettings format;
    ASSERT_TRUE(LoadFormatSettings(session_->Store(), device, session_->Capabilities(), format));
    EXPECT_EQ(format.sizeIndex, 1);
    EXPECT_EQ(format.colorMode, 0);
    EXPECT_EQ(format.waitTime, 25);
    EXPECT_EQ(format.clock, 2);
}

TEST_F(CameraDialogTest, TextThatIsNoNumberKeepsTheDialogOpenAndWritesNothing) {
    CameraDialogModel model(session_->Store(), Input());
    model.EditText(ui::kIdHEffective, "12a");
    model.Press(ui::kIdOk);
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kOpen);
    EXPECT_EQ(LoadSizeList(session_->Store(), session_->SettingsDevice())[0].hEffective, 2560);
    model.Press(ui::kIdCancel);
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kCancelled);
}

TEST_F(CameraDialogTest, ExportReloadsAfterOkAndRestartsThePreview) {
    ASSERT_EQ(Lumora_StartPreview(handle_), 1);
    int stateDuring = -1;
    Script() = [&](ui::DialogModel& model) {
        stateDuring = session_->State();
        const int custom = static_cast<int>(model.Find(ui::kIdSize)->items.size()) - 1;
        model.Select(ui::kIdSize, custom);
        model.EditText(ui::kIdHEffective, "1280");
        model.EditText(ui::kIdVEffective, "1024");
        model.Press(ui::kIdOk);
    };
    EXPECT_EQ(Lumora_SetCameraDlg(handle_, nullptr), 1);
    EXPECT_EQ(stateDuring, kStateIdle);
    EXPECT_EQ(session_->State(), kStatePreview);
    EXPECT_EQ(session_->Width(), 1280);
    EXPECT_EQ(session_->Height(), 1024);
    EXPECT_EQ(Lumora_StopPreview(handle_), 1);
}

TEST_F(CameraDialogTest, ExportAfterCancelKeepsTheSessionsWindow) {
    Script() = [](ui::DialogModel& model) {
        model.EditText(ui::kIdHEffective, "1280");
        model.Close();
    };
    EXPECT_EQ(Lumora_SetCameraDlg(handle_, nullptr), 1);
    EXPECT_EQ(session_->Width(), 2560);
}

}  // namespace
}  // namespace lumora::testing
