#include "ui/AnalogDialogModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ui/DialogText.h"

namespace lumora::ui {
namespace {

struct GainRow {
    int trackbar;
    int edit;
    int spin;
    const char* caption;
    int32_t AnalogSettings::*field;
};
constexpr GainRow kColorGains[] = {
    {kIdGainG1, 1019, 1039, "&Color Gain G1", &AnalogSettings::colorGainG1},
    {kIdGainR, 1021, 1040, "R", &AnalogSettings::colorGainR},
    {kIdGainB, 1023, 1041, "B", &AnalogSettings::colorGainB},
    {kIdGainG2, 1025, 1042, "G2", &AnalogSettings::colorGainG2},
};

int StepFor(int min, int max) {
    return std::max(1, (max - min) / 10);
}

// The unit a value is best read in: the largest of which it holds at least one.
int UnitOf(double seconds) {
    const auto& units = ExposureUnits();
    for (int i = static_cast<int>(units.size()) - 1; i > 0; --i) {
        if (seconds * units[i].perSecond >= 1.0 - 1e-9) return i;
    }
    return 0;
}

}  // namespace

const std::vector<ExposureUnit>& ExposureUnits() {
    static const std::vector<ExposureUnit> kUnits = {
        {"ns", 1e9}, {"\xC2\xB5s", 1e6}, {"ms", 1e3}, {"sec", 1.0}};
    return kUnits;
}

std::vector<int> UnitsBetween(double minSeconds, double maxSeconds) {
    std::vector<int> units;
    const int first = UnitOf(minSeconds);
    const int last = std::max(first, UnitOf(maxSeconds));
    for (int i = first; i <= last; ++i) units.push_back(i);
    return units;
}

std::string FormatExposureValue(double value) {
    // Binary fractions of a scaled value (0.1 s in ms is 100.00000000000001) are not digits.
    value = std::round(value * 1e9) / 1e9;
    const double fraction = value - std::floor(value);
    char text[64];
    if (fraction >= 0.001) {
        std::snprintf(text, sizeof text, "%.3f", value);
    } else if (fraction >= 0.000001) {
        std::snprintf(text, sizeof text, "%.6f", value);
    } else {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    }
    return text;
}

AnalogDialogModel::AnalogDialogModel(CLumora& session) : session_(session), controls_(session) {
    AnalogControls& d = controls_;
    longExposure_ = d.IsExposureTimeExAvailable() != 0;
    colorTemplate_ = d.SupportsOutputFormatC() != 0;
    session_.EditSettings([&](CLumora::SettingsGroups& g) {
        AnalogSettings& a = g.analog;
        a.globalGain = d.GetGlobalGain();
        a.colorGainG1 = d.GetColorGainGreen1();
        a.colorGainR = d.GetColorGainRed();
        a.colorGainB = d.GetColorGainBlue();
        a.colorGainG2 = d.GetColorGainGreen2();
        a.exposure = d.GetExposureTime();
        if (longExposure_) a.exposureSeconds = d.GetExposureTimeEx();
        a.mirrorV = d.GetMirrorV();
        a.mirrorH = d.GetMirrorH();
    });
    saved_ = session_.SettingsSnapshot();

    auto slider = [this](int trackbar, int edit, int spin, const char* caption, int min, int max) {
        Control c{trackbar, ControlKind::kSlider, 0, caption};
        c.editId = edit;
        c.spinId = spin;
        c.min = min;
        c.max = std::max(min, max);
        c.pageStep = StepFor(min, max);
        return &Add(c);
    };
    slider(kIdGlobalGain, 1015, 1038, "&Global Gain", d.GetGlobalGainMin(), d.GetGlobalGainMax());
    for (const GainRow& row : kColorGains) {
        Control* c = slider(row.trackbar, row.edit, row.spin, row.caption, d.GetColorGainMin(),
                            d.GetColorGainMax());
        c->visible = colorTemplate_;
    }
    Control* exposure = slider(kIdExposure, kIdExposureEdit, 1043, "&Exposure",
                               d.GetExposureTimeMin(), d.GetExposureTimeMax());
    exposure->visible = !longExposure_;
    Control label{kIdExposureLabel, ControlKind::kLabel, 0, ""};
    label.visible = !longExposure_;
    Add(label);

    Control ex{kIdExposureEx, ControlKind::kEdit, 0, "ExposureEx"};
    ex.visible = longExposure_;
    ex.commitOnEnter = true;  // the driver's result replaces the text
    Add(ex);
    Control unit{kIdExposureUnit, ControlKind::kCombo, 0, ""};
    unit.visible = longExposure_;
    Control range{kIdExposureRange, ControlKind::kLabel, 0, ""};
    range.visible = longExposure_;
    if (longExposure_) {
        const double min = d.GetExposureTimeExMin();
        const double max = d.GetExposureTimeExMax();
        units_ = UnitsBetween(min, max);
        for (int u : units_) unit.items.push_back(ExposureUnits()[u].text);
        const int current =
            std::clamp(UnitOf(d.GetExposureTimeEx()), units_.front(), units_.back());
        unit.value = current - units_.front();
        const ExposureUnit& lo = ExposureUnits()[UnitOf(min)];
        const ExposureUnit& hi = ExposureUnits()[std::max(UnitOf(min), UnitOf(max))];
        char text[96];
        std::snprintf(text, sizeof text, "range: %d%s - %d%s",
                      static_cast<int>(std::lround(min * lo.perSecond)), lo.text,
                      static_cast<int>(std::floor(max * hi.perSecond + 1e-9)), hi.text);
        range.text = text;
    }
    Add(unit);
    Add(range);

    Add({1200, ControlKind::kGroup, 0, "Auto Iris"});
    Control irisGain{kIdAutoIrisGain, ControlKind::kCheck, 0, "Gain"};
    irisGain.frame = 1200;
    Add(irisGain);
    Control irisExposure{kIdAutoIrisExposure, ControlKind::kCheck, 0, "Exposure"};
    irisExposure.frame = 1200;
    Add(irisExposure);
    Add({kIdMirrorV, ControlKind::kCheck, 0, "Mirror V"});
    Add({kIdMirrorH, ControlKind::kCheck, 0, "Mirror H"});

    const bool blackLevel = !colorTemplate_ && d.IsBlackLevelSupported() != 0;
    Control* black =
        slider(kIdBlackLevel, 2129, 2130, "&Black Level", blackLevel ? d.GetBlackLevelMin() : 0,
               blackLevel ? d.GetBlackLevelMax() : 0);
    black->visible = blackLevel;
    Control peltier{kIdPeltier, ControlKind::kCheck, 0, "Peltier"};
    peltier.visible = !colorTemplate_ && d.IsPeltierAvailable() != 0;
    Add(peltier);
    Control shortMode{kIdShortExposure, ControlKind::kCheck, 0, "Short exposure mode"};
    shortMode.visible = !colorTemplate_ && d.HasResponseMode() != 0;
    Add(shortMode);
    Control gainMode{kIdGainMode, ControlKind::kCombo, 0, "Gain mode"};
    gainMode.items = {"High Gain", "Low Gain"};
    gainMode.visible = !colorTemplate_ && d.IsStreamReady() != 0 && d.GetControlFlag() >= 0;
    Add(gainMode);

    ReadBack();
}

std::vector<Control> AnalogDialogModel::Buttons() const {
    return {{kIdOk, ControlKind::kButton, 0, "OK"},
            {kIdCancel, ControlKind::kButton, 0, "Cancel"},
            {kIdDefault, ControlKind::kButton, 0, "Default(&D)"}};
}

std::string AnalogDialogModel::Translate(const std::string& english) const {
    return Tr(english);
}

void AnalogDialogModel::SetSlider(int trackbar, int value) {
    SetValue(trackbar, value);
}

void AnalogDialogModel::ReadBack() {
    AnalogControls& d = controls_;
    const CLumora::SettingsGroups g = session_.SettingsSnapshot();
    AnalogSettings a = g.analog;
    a.globalGain = d.GetGlobalGain();
    a.colorGainG1 = d.GetColorGainGreen1();
    a.colorGainR = d.GetColorGainRed();
    a.colorGainB = d.GetColorGainBlue();
    a.colorGainG2 = d.GetColorGainGreen2();
    a.exposure = d.GetExposureTime();
    if (longExposure_) a.exposureSeconds = d.GetExposureTimeEx();
    a.mirrorV = d.GetMirrorV();
    a.mirrorH = d.GetMirrorH();
    if (Find(kIdBlackLevel)->visible) a.blackLevel = d.GetBlackLevel();
    if (Find(kIdPeltier)->visible) a.coolerOn = d.GetPeltier();
    if (Find(kIdShortExposure)->visible) {
        int mode = 0;
        if (d.GetResponseMode(&mode) != 0) a.responseMode = mode != 0 ? 1 : 0;
    }
    if (Find(kIdGainMode)->visible) a.gainMode = d.GetControlFlag() != 0 ? 1 : 0;
    session_.EditSettings([&](CLumora::SettingsGroups& groups) {
        const int autoIris = groups.analog.autoIris;  // the capture thread's auto iris owns it
        groups.analog = a;
        groups.analog.autoIris = autoIris;
    });

    SetSlider(kIdGlobalGain, a.globalGain);
    for (const GainRow& row : kColorGains) SetSlider(row.trackbar, a.*row.field);
    SetSlider(kIdExposure, a.exposure);
    char label[48];
    std::snprintf(label, sizeof label, "=%.2fms", a.exposure / 10.0);
    SetText(kIdExposureLabel, label);
    SetValue(kIdAutoIrisGain, a.autoIris == 2 ? 1 : 0);
    SetValue(kIdAutoIrisExposure, a.autoIris == 1 ? 1 : 0);
    SetValue(kIdMirrorV, a.mirrorV != 0 ? 1 : 0);
    SetValue(kIdMirrorH, a.mirrorH != 0 ? 1 : 0);
    SetSlider(kIdBlackLevel, a.blackLevel);
    SetValue(kIdPeltier, a.coolerOn != 0 ? 1 : 0);
    SetValue(kIdShortExposure, a.responseMode != 0 ? 1 : 0);
    SetValue(kIdGainMode, a.gainMode != 0 ? 1 : 0);
    ShowLongExposure();
}

void AnalogDialogModel::ShowLongExposure() {
    if (!longExposure_) return;
    const int item = Find(kIdExposureUnit)->value;
    if (item < 0 || item >= static_cast<int>(units_.size())) return;
    const double seconds = controls_.GetExposureTimeEx();
    SetText(kIdExposureEx, FormatExposureValue(seconds * ExposureUnits()[units_[item]].perSecond));
}

void AnalogDialogModel::Scroll(int id, int value, int) {
    const Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::kSlider || !c->visible || !c->enabled) return;
    value = std::clamp(value, c->min, c->max);
    AnalogControls& d = controls_;
    switch (c->id) {
        case kIdGlobalGain:
            d.SetGlobalGain(value);
            break;
        case kIdGainG1:
            d.SetColorGainGreen1(value);
            break;
        case kIdGainR:
            d.SetColorGainRed(value);
            break;
        case kIdGainB:
            d.SetColorGainBlue(value);
            break;
        case kIdGainG2:
            d.SetColorGainGreen2(value);
            break;
        case kIdExposure:
            d.SetExposureTime(static_cast<uint32_t>(value));
            break;
        case kIdBlackLevel:
            d.SetBlackLevel(value);
            break;
        default:
            return;
    }
    ReadBack();
}

void AnalogDialogModel::EditText(int id, const std::string& text, int) {
    const Control* c = Find(id);
    if (c == nullptr || !c->visible || !c->enabled) return;
    if (c->kind == ControlKind::kSlider) {
        int value = 0;
        if (ParseInt(text, value)) {
            Scroll(c->id, value);
        } else {
            SetText(c->id, text);
        }
        return;
    }
    if (id != kIdExposureEx) return;
    const int item = Find(kIdExposureUnit)->value;
    double value = 0.0;
    if (item < 0 || item >= static_cast<int>(units_.size()) || !ParseDouble(text, value) ||
        value < 0.0) {
        SetText(id, text);
        return;
    }
    controls_.SetExposureTimeEx(value / ExposureUnits()[units_[item]].perSecond);
    ReadBack();
}

void AnalogDialogModel::Select(int id, int index, int) {
    const Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::kCombo || !c->visible) return;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return;
    if (id == kIdExposureUnit) {
        SetValue(id, index);
        ShowLongExposure();
    } else if (id == kIdGainMode) {
        controls_.SetControlFlag(index);
        ReadBack();
    }
}

void AnalogDialogModel::Toggle(int id, bool on, int) {
    const Control* c = Find(id);
    if (c == nullptr || !c->visible || !c->enabled) return;
    AnalogControls& d = controls_;
    switch (id) {
        case kIdAutoIrisGain:
        case kIdAutoIrisExposure: {
            const int mode = on ? (id == kIdAutoIrisGain ? 2 : 1) : 0;
            session_.EditSettings([mode](CLumora::SettingsGroups& g) { g.analog.autoIris = mode; });
            break;
        }
        case kIdMirrorV:
            d.SetMirrorV(on ? 1 : 0);
            break;
        case kIdMirrorH:
            d.SetMirrorH(on ? 1 : 0);
            break;
        case kIdPeltier:
            d.SetPeltier(on ? 1 : 0);
            break;
        case kIdShortExposure:
            d.SetResponseMode(on ? 1 : 0);
            break;
        default:
            return;
    }
    ReadBack();
}

void AnalogDialogModel::RestoreDriver(const AnalogSettings& a, bool withModes) {
    AnalogControls& d = controls_;
    d.SetGlobalGain(a.globalGain);
    d.SetColorGainGreen1(a.colorGainG1);
    d.SetColorGainRed(a.colorGainR);
    d.SetColorGainBlue(a.colorGainB);
    d.SetColorGainGreen2(a.colorGainG2);
    if (longExposure_) {
        d.SetExposureTimeEx(a.exposureSeconds);
    } else {
        d.SetExposureTime(static_cast<uint32_t>(a.exposure));
    }
    d.SetMirrorV(a.mirrorV);
    d.SetMirrorH(a.mirrorH);
    if (!withModes) return;
    // The camera keeps what the page changed otherwise, and the session would describe a
    // camera that is not there.
    if (Find(kIdBlackLevel)->visible) d.SetBlackLevel(a.blackLevel);
    if (Find(kIdPeltier)->visible) d.SetPeltier(a.coolerOn);
    if (Find(kIdShortExposure)->visible) d.SetResponseMode(a.responseMode);
    if (Find(kIdGainMode)->visible) d.SetControlFlag(a.gainMode);
}

void AnalogDialogModel::Press(int id, int) {
    if (outcome_ != DialogOutcome::kOpen) return;
    AnalogControls& d = controls_;
    switch (id) {
        case kIdOk:
            Finish(true);
            return;
        case kIdCancel:
            RestoreDriver(saved_.analog, true);
            session_.EditSettings([&](CLumora::SettingsGroups& g) {
                g.analog = saved_.analog;
                g.filter.bayerMode = saved_.filter.bayerMode;
            });
            Finish(false);
            return;
        case kIdDefault: {
            AnalogSettings a = session_.SettingsSnapshot().analog;
            a.globalGain = d.GetGlobalGainDefault();
            a.colorGainG1 = a.colorGainR = a.colorGainB = a.colorGainG2 = d.GetColorGainDefault();
            a.exposure = d.GetExposureTimeDefault();
            if (longExposure_) a.exposureSeconds = d.GetExposureTimeExDefault();
            a.mirrorV = d.GetMirrorVDefault();
            a.mirrorH = d.GetMirrorHDefault();
            RestoreDriver(a, false);
            if (Find(kIdBlackLevel)->visible) d.SetBlackLevel(d.GetBlackLevelDefault());
            ReadBack();
            return;
        }
        default:
            return;
    }
}

}  // namespace lumora::ui
