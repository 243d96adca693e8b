#include <gtest/gtest.h>

#include "ui/AnalogDialogModel.h"
#include "ui/DialogFixture.h"

namespace lumora::testing {
namespace {

using ui::AnalogDialogModel;

using AnalogDialogTest = DialogWorld;

TEST(ExposureFormat, FollowsTheFractionOfTheValue) {
    EXPECT_EQ(ui::FormatExposureValue(12.0), "12");
    EXPECT_EQ(ui::FormatExposureValue(12.5), "12.500");
    EXPECT_EQ(ui::FormatExposureValue(0.0005), "0.000500");
    EXPECT_EQ(ui::FormatExposureValue(3.0000000004), "3");
    EXPECT_EQ(ui::FormatExposureValue(0.1 * 1e3), "100");
}

TEST(ExposureUnits, CoverTheRangeFromTheMinimumsUnitToTheMaximums) {
    EXPECT_EQ(ui::UnitsBetween(10e-6, 2.0), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ui::UnitsBetween(500e-9, 0.5), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ui::UnitsBetween(1e-3, 1e-3), (std::vector<int>{2}));
    EXPECT_STREQ(ui::ExposureUnits()[1].text, "\xC2\xB5s");
}

TEST_F(AnalogDialogTest, HidesWhatThisMonochromeCameraLacks) {
    AnalogDialogModel model(*session_);
    CLumoraUSB3T2SimpleSdk& d = Driver();
    for (int id : {ui::kIdGainG1, ui::kIdGainR, ui::kIdGainB, ui::kIdGainG2})
        EXPECT_FALSE(model.Find(id)->visible) << id;
    EXPECT_EQ(model.Find(ui::kIdBlackLevel)->visible, d.IsBlackLevelSupported() != 0);
    EXPECT_EQ(model.Find(ui::kIdPeltier)->visible, d.IsPeltierAvailable() != 0);
    EXPECT_EQ(model.Find(ui::kIdShortExposure)->visible, d.HasResponseMode() != 0);
    const bool longExposure = d.IsExposureTimeExAvailable() != 0;
    EXPECT_EQ(model.Find(ui::kIdExposureEx)->visible, longExposure);
    EXPECT_EQ(model.Find(ui::kIdExposure)->visible, !longExposure);
    EXPECT_EQ(model.Find(ui::kIdExposureLabel)->visible, !longExposure);
    const ui::Control* gain = model.Find(ui::kIdGlobalGain);
    EXPECT_EQ(gain->min, d.GetGlobalGainMin());
    EXPECT_EQ(gain->max, d.GetGlobalGainMax());
    EXPECT_EQ(gain->value, d.GetGlobalGain());
}

TEST_F(AnalogDialogTest, ChangesGoToTheDriverAndTheSessionAtOnce) {
    AnalogDialogModel model(*session_);
    CLumoraUSB3T2SimpleSdk& d = Driver();
    const int gain = (d.GetGlobalGainMin() + d.GetGlobalGainMax()) / 2;
    model.Scroll(ui::kIdGlobalGain, gain);
    EXPECT_EQ(d.GetGlobalGain(), gain);
    EXPECT_EQ(Settings().analog.globalGain, gain);
    model.EditText(1015, std::to_string(gain + 1));
    EXPECT_EQ(d.GetGlobalGain(), gain + 1);

    model.Toggle(ui::kIdMirrorV, true);
    EXPECT_EQ(d.GetMirrorV(), 1);
    EXPECT_EQ(Settings().analog.mirrorV, 1);

    model.Toggle(ui::kIdAutoIrisGain, true);
    EXPECT_EQ(Settings().analog.autoIris, 2);
    model.Toggle(ui::kIdAutoIrisExposure, true);
    EXPECT_EQ(Settings().analog.autoIris, 1);
    EXPECT_EQ(model.Find(ui::kIdAutoIrisGain)->value, 0);

    if (model.Find(ui::kIdBlackLevel)->visible) {
        const int level = d.GetBlackLevelMin() + 10;
        model.Scroll(ui::kIdBlackLevel, level);
        EXPECT_EQ(d.GetBlackLevel(), level);
        EXPECT_EQ(Settings().analog.blackLevel, level);
    }
    if (model.Find(ui::kIdPeltier)->visible) {
        model.Toggle(ui::kIdPeltier, false);
        EXPECT_EQ(d.GetPeltier(), 0);
        EXPECT_EQ(Settings().analog.coolerOn, 0);
    }
    if (model.Find(ui::kIdGainMode)->visible) {
        model.Select(ui::kIdGainMode, 1);
        EXPECT_EQ(d.GetControlFlag(), 1);
        EXPECT_EQ(Settings().analog.gainMode, 1);
    }
}

TEST_F(AnalogDialogTest, ExposureShowsTheDriversResultInMilliseconds) {
    CLumoraUSB3T2SimpleSdk& d = Driver();
    AnalogDialogModel model(*session_);
    if (d.IsExposureTimeExAvailable() != 0) {
        // The unit combo offers this camera's range, and the value follows the unit.
        const double min = d.GetExposureTimeExMin();
        const double max = d.GetExposureTimeExMax();
        EXPECT_EQ(model.OfferedUnits(), ui::UnitsBetween(min, max));
        const ui::Control* unit = model.Find(ui::kIdExposureUnit);
        ASSERT_EQ(unit->items.size(), model.OfferedUnits().size());
        const auto& units = ui::ExposureUnits();
        int ms = -1;
        for (size_t i = 0; i < model.OfferedUnits().size(); ++i) {
            if (model.OfferedUnits()[i] == 2) ms = static_cast<int>(i);
        }
        ASSERT_GE(ms, 0) << "this camera's range spans milliseconds";
        model.Select(ui::kIdExposureUnit, ms);
        model.EditText(ui::kIdExposureEx, "12.5");
        EXPECT_NEAR(d.GetExposureTimeEx(), 0.0125, 1e-5);
        EXPECT_NEAR(Settings().analog.exposureSeconds, d.GetExposureTimeEx(), 1e-12);
        EXPECT_EQ(Settings().analog.exposure, d.GetExposureTime());
        EXPECT_EQ(model.Find(ui::kIdExposureEx)->text,
                  ui::FormatExposureValue(d.GetExposureTimeEx() * 1e3));
        const int lastUnit = static_cast<int>(unit->items.size()) - 1;
        model.Select(ui::kIdExposureUnit, lastUnit);
        EXPECT_EQ(model.Find(ui::kIdExposureEx)->text,
                  ui::FormatExposureValue(d.GetExposureTimeEx() *
                                          units[model.OfferedUnits().back()].perSecond));
        EXPECT_EQ(model.Find(ui::kIdExposureRange)->text.rfind("range: ", 0), 0u);
        // Text that is no number leaves the camera alone.
        const double before = d.GetExposureTimeEx();
        model.EditText(ui::kIdExposureEx, "abc");
        EXPECT_EQ(d.GetExposureTimeEx(), before);
    } else {
        const int exposure = d.GetExposureTimeMin() + 123;
        model.Scroll(ui::kIdExposure, exposure);
        EXPECT_EQ(d.GetExposureTime(), exposure);
        char label[32];
        std::snprintf(label, sizeof label, "=%.2fms", d.GetExposureTime() / 10.0);
        EXPECT_EQ(model.Find(ui::kIdExposureLabel)->text, label);
    }
}

TEST_F(AnalogDialogTest, CancelSendsTheSavedValuesBackToTheDriver) {
    CLumoraUSB3T2SimpleSdk& d = Driver();
    const int gain = d.GetGlobalGain();
    const int exposure = d.GetExposureTime();
    const int black = d.GetBlackLevel();
    const int mirror = d.GetMirrorH();
    ASSERT_EQ(Lumora_SetFilterValue(handle_, 12, 1), 1);
    Script() = [&](ui::DialogModel& model) {
        model.Scroll(ui::kIdGlobalGain, d.GetGlobalGainMax());
        model.Toggle(ui::kIdMirrorH, mirror == 0);
        if (model.Find(ui::kIdExposureEx)->visible) {
            model.Select(ui::kIdExposureUnit, 0);
            model.EditText(ui::kIdExposureEx, "1");  // the range's low end
        } else {
            model.Scroll(ui::kIdExposure, d.GetExposureTimeMax());
        }
        if (model.Find(ui::kIdBlackLevel)->visible)
            model.Scroll(ui::kIdBlackLevel, d.GetBlackLevelMax());
        session_->EditSettings([](CLumora::SettingsGroups& g) { g.filter.bayerMode = 2; });
        model.Press(ui::kIdCancel);
    };
    EXPECT_EQ(Lumora_SetAnalogDlg(handle_, nullptr), 1);
    EXPECT_EQ(d.GetGlobalGain(), gain);
    EXPECT_EQ(d.GetMirrorH(), mirror);
    EXPECT_NEAR(d.GetExposureTime(), exposure, 1);
    EXPECT_EQ(d.GetBlackLevel(), black);
    const CLumora::SettingsGroups g = Settings();
    EXPECT_EQ(g.analog.globalGain, gain);
    EXPECT_EQ(g.analog.blackLevel, black);
    EXPECT_EQ(g.filter.bayerMode, 1);
}

TEST_F(AnalogDialogTest, DefaultLoadsTheDriversDefaults) {
    CLumoraUSB3T2SimpleSdk& d = Driver();
    AnalogDialogModel model(*session_);
    model.Scroll(ui::kIdGlobalGain, d.GetGlobalGainMax());
    model.Toggle(ui::kIdMirrorV, d.GetMirrorVDefault() == 0);
    model.Press(ui::kIdDefault);
    EXPECT_EQ(d.GetGlobalGain(), d.GetGlobalGainDefault());
    EXPECT_EQ(d.GetMirrorV(), d.GetMirrorVDefault());
    EXPECT_EQ(model.Find(ui::kIdGlobalGain)->value, d.GetGlobalGainDefault());
    EXPECT_EQ(model.Outcome(), ui::DialogOutcome::kOpen);
}

}  // namespace
}  // namespace lumora::testing
