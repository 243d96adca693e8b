#include "ui/ImageDialogModel.h"

#include <algorithm>

#include "ui/DialogText.h"

namespace lumora::ui {

// One slider of either page and the setting it edits.
struct ImageDialogModel::SliderRow {
    int page;
    int trackbar;
    int edit;
    int spin;
    const char* caption;
    int min;
    int max;
    int pageStep;
    bool monoEnabled;  // enabled in the monochrome modes
    int32_t& (*field)(CLumora::SettingsGroups&);
    int frame;  // 0, or the "Gain"/"Offset" group on the gray page
};

namespace {

constexpr int kGainFrame = 2200;
constexpr int kOffsetFrame = 2201;
constexpr int kWhiteBalanceFrame = 2202;
constexpr int kAutoGainFrame = 2203;
constexpr int kBayerFrame = 2204;
constexpr int kGrayModeFrame = 2205;

#define LUMORA_SETTING(expr) [](CLumora::SettingsGroups& g) -> int32_t& { return g.expr; }

}  // namespace

const std::vector<ImageDialogModel::SliderRow>& ImageDialogModel::Rows() {
    static const std::vector<SliderRow> kRows = {
        {kImagePage, 2001, 2002, 2004, "&Brightness", -255, 255, 64, true,
         LUMORA_SETTING(filter.brightness), 0},
        {kImagePage, 2011, 2012, 2014, "&Contrast", -127, 127, 32, true,
         LUMORA_SETTING(filter.contrast), 0},
        {kImagePage, 2021, 2022, 2024, "&Hue", -360, 360, 90, false, LUMORA_SETTING(filter.hue), 0},
        {kImagePage, 2031, 2032, 2034, "&Saturation", -255, 255, 64, false,
         LUMORA_SETTING(filter.saturation), 0},
        {kImagePage, 2041, 2042, 2044, "Shar&pness", 0, 30, 4, true,
         LUMORA_SETTING(filter.sharpness), 0},
        {kImagePage, 2051, 2052, 2054, "&R Gain", 0, 400, 32, false,
         LUMORA_SETTING(filter.bayerGainR), 0},
        {kImagePage, 2061, 2062, 2063, "&G Gain", 0, 400, 32, false,
         LUMORA_SETTING(filter.bayerGainG), 0},
        {kImagePage, 2071, 2072, 2073, "&B Gain", 0, 400, 32, false,
         LUMORA_SETTING(filter.bayerGainB), 0},
        {kImagePage, 2081, 2082, 2084, "&Gamma", 0, 200, 32, true, LUMORA_SETTING(filter.gamma), 0},
        {kGrayPage, 2100, 2101, 2102, "Red", 0, 400, 32, true, LUMORA_SETTING(gray.gain[kGrayR]),
         kGainFrame},
        {kGrayPage, 2103, 2104, 2105, "Green1", 0, 400, 32, true,
         LUMORA_SETTING(gray.gain[kGrayG1]), kGainFrame},
        {kGrayPage, 2106, 2107, 2108, "Green2", 0, 400, 32, true,
         LUMORA_SETTING(gray.gain[kGrayG2]), kGainFrame},
        {kGrayPage, 2109, 2110, 2111, "Blue", 0, 400, 32, true, LUMORA_SETTING(gray.gain[kGrayB]),
         kGainFrame},
        {kGrayPage, 2112, 2113, 2114, "Red", -255, 255, 32, true,
         LUMORA_SETTING(gray.offset[kGrayR]), kOffsetFrame},
        {kGrayPage, 2115, 2116, 2117, "Green1", -255, 255, 32, true,
         LUMORA_SETTING(gray.offset[kGrayG1]), kOffsetFrame},
        {kGrayPage, 2118, 2119, 2120, "Green2", -255, 255, 32, true,
         LUMORA_SETTING(gray.offset[kGrayG2]), kOffsetFrame},
        {kGrayPage, 2121, 2122, 2123, "Blue", -255, 255, 32, true,
         LUMORA_SETTING(gray.offset[kGrayB]), kOffsetFrame},
    };
    return kRows;
}

#undef LUMORA_SETTING

ImageDialogModel::ImageDialogModel(CLumora& session, int colorMode)
    : session_(session), mono_(colorMode == 0 || colorMode == 1) {
    saved_ = session_.SettingsSnapshot();
    estimates_ = session_.EstimateGeneration();

    for (const SliderRow& row : Rows()) {
        if (row.page == kGrayPage && !mono_) continue;
        Control c{row.trackbar, ControlKind::kSlider, row.page, row.caption};
        c.editId = row.edit;
        c.spinId = row.spin;
        c.min = row.min;
        c.max = row.max;
        c.pageStep = row.pageStep;
        c.frame = row.frame;
        c.enabled = !mono_ || row.monoEnabled;
        Add(c);
    }
    // White balance and the Bayer phase only mean something for colour output.
    Add({kWhiteBalanceFrame, ControlKind::kGroup, kImagePage, "Auto white balance"});
    Control once{kIdOnce, ControlKind::kButton, kImagePage, "Once"};
    once.frame = kWhiteBalanceFrame;
    once.enabled = !mono_;
    Add(once);
    Control all{kIdAllFrames, ControlKind::kCheck, kImagePage, "All frames"};
    all.frame = kWhiteBalanceFrame;
    all.enabled = !mono_;
    Add(all);
    Add({kBayerFrame, ControlKind::kGroup, kImagePage, "Bayer Mode"});
    // Each mode named by its top-left 2 x 2 block.
    const char* kPhases[] = {"GB/RG", "RG/GB", "BG/GR", "GR/BG"};
    for (int mode = 0; mode < 4; ++mode) {
        Control radio{kIdBayerMode0 + mode, ControlKind::kRadio, kImagePage, kPhases[mode]};
        radio.group = 1;
        radio.frame = kBayerFrame;
        radio.enabled = !mono_;
        Add(radio);
    }
    if (mono_) {
        Add({kGainFrame, ControlKind::kGroup, kGrayPage, "Gain"});
        Add({kOffsetFrame, ControlKind::kGroup, kGrayPage, "Offset"});
        Add({kAutoGainFrame, ControlKind::kGroup, kGrayPage, "Auto Gain"});
        Control grayOnce{kIdOnce, ControlKind::kButton, kGrayPage, "Once"};
        grayOnce.frame = kAutoGainFrame;
        Add(grayOnce);
        Control grayAll{kIdAllFrames, ControlKind::kCheck, kGrayPage, "All frames"};
        grayAll.frame = kAutoGainFrame;
        Add(grayAll);
        Add({kGrayModeFrame, ControlKind::kGroup, kGrayPage, "Filter mode"});
        const struct {
            int id;
            const char* caption;
        } kModes[] = {{kIdGrayModeBayer, "Bayer"},
                      {kIdGrayModeConvert, "Bayer convert"},
                      {kIdGrayModeGrayscale, "Grayscale"}};
        for (const auto& m : kModes) {
            Control radio{m.id, ControlKind::kRadio, kGrayPage, m.caption};
            radio.group = 2;
            radio.frame = kGrayModeFrame;
            Add(radio);
        }
    }
    LoadFromSession();
}

std::vector<std::string> ImageDialogModel::Pages() const {
    if (mono_) return {"Image Filter", "Gray Filter"};
    return {"Image Filter"};
}

std::vector<Control> ImageDialogModel::Buttons() const {
    return {{kIdOk, ControlKind::kButton, 0, "OK"},
            {kIdCancel, ControlKind::kButton, 0, "Cancel"},
            {kIdDefault, ControlKind::kButton, 0, "Default(&D)"}};
}

std::string ImageDialogModel::Translate(const std::string& english) const {
    return Tr(english);
}

void ImageDialogModel::LoadFromSession() {
    CLumora::SettingsGroups g = session_.SettingsSnapshot();
    for (const SliderRow& row : Rows()) {
        if (row.page == kGrayPage && !mono_) continue;
        SetValue(row.trackbar, row.field(g), row.page);
    }
    SetValue(kIdAllFrames, g.filter.bayerGainAuto != 0 && g.filter.oneShotMarker[0] == 0 ? 1 : 0,
             kImagePage);
    for (int mode = 0; mode < 4; ++mode)
        SetValue(kIdBayerMode0 + mode, g.filter.bayerMode == mode ? 1 : 0, kImagePage);
    if (mono_) {
        SetValue(kIdAllFrames, g.gray.autoGainCounter < 0 ? 1 : 0, kGrayPage);
        SetValue(kIdGrayModeBayer, g.gray.grayMode == 0 ? 1 : 0, kGrayPage);
        SetValue(kIdGrayModeConvert, g.gray.grayMode == 1 ? 1 : 0, kGrayPage);
        SetValue(kIdGrayModeGrayscale, g.gray.grayMode == 2 ? 1 : 0, kGrayPage);
    }
}

void ImageDialogModel::SetSetting(const SliderRow& row, int value) {
    value = std::clamp(value, row.min, row.max);
    session_.EditSettings([&](CLumora::SettingsGroups& g) { row.field(g) = value; });
    SetValue(row.trackbar, value, row.page);
}

void ImageDialogModel::Scroll(int id, int value, int page) {
    const Control* c = Find(id, page);
    if (c == nullptr || c->kind != ControlKind::kSlider || !c->enabled) return;
    for (const SliderRow& row : Rows()) {
        if (row.trackbar == c->id && row.page == c->page) SetSetting(row, value);
    }
}

void ImageDialogModel::EditText(int id, const std::string& text, int page) {
    const Control* c = Find(id, page);
    if (c == nullptr || c->kind != ControlKind::kSlider || !c->enabled) return;
    int value = 0;
    // Half-typed text ("-", "") waits for the rest; the setting keeps its value meanwhile.
    if (!ParseInt(text, value)) {
        SetText(c->id, text, c->page);
        return;
    }
    Scroll(id, value, page);
}

void ImageDialogModel::Toggle(int id, bool on, int page) {
    const Control* c = Find(id, page);
    if (c == nullptr || !c->enabled) return;
    const int p = c->page;
    if (id == kIdAllFrames && p == kImagePage) {
        session_.EditSettings([&](CLumora::SettingsGroups& g) {
            g.filter.bayerGainAuto = on ? 1 : 0;
            g.filter.oneShotMarker[0] = g.filter.oneShotMarker[1] = 0;
        });
    } else if (id == kIdAllFrames && p == kGrayPage) {
        session_.EditSettings(
            [&](CLumora::SettingsGroups& g) { g.gray.autoGainCounter = on ? -1 : 0; });
    } else if (id >= kIdBayerMode0 && id < kIdBayerMode0 + 4 && on) {
        session_.EditSettings(
            [&](CLumora::SettingsGroups& g) { g.filter.bayerMode = id - kIdBayerMode0; });
    } else if (id >= kIdGrayModeBayer && id <= kIdGrayModeGrayscale && on) {
        session_.EditSettings(
            [&](CLumora::SettingsGroups& g) { g.gray.grayMode = id - kIdGrayModeBayer; });
    } else {
        return;
    }
    LoadFromSession();
}

void ImageDialogModel::Press(int id, int page) {
    if (outcome_ != DialogOutcome::kOpen) return;
    switch (id) {
        case kIdOk:
            Finish(true);
            return;
        case kIdCancel:
            session_.EditSettings([&](CLumora::SettingsGroups& g) {
                g.filter = saved_.filter;
                g.gray = saved_.gray;
            });
            Finish(false);
            return;
        case kIdDefault:
            session_.EditSettings([&](CLumora::SettingsGroups& g) {
                FilterSettings& f = g.filter;
                f.brightness = f.contrast = f.hue = f.saturation = f.sharpness = 0;
                f.bayerGainR = f.bayerGainG = f.bayerGainB = 100;
                f.gamma = 100;
                f.bayerMode = 3;
                if (mono_) {
                    std::fill(std::begin(g.gray.gain), std::end(g.gray.gain), 128);
                    std::fill(std::begin(g.gray.offset), std::end(g.gray.offset), 128);
                }
            });
            LoadFromSession();
            return;
        case kIdOnce: {
            const Control* c = Find(id, page);
            if (c == nullptr || !c->enabled) return;
            if (c->page == kImagePage) {
                session_.EditSettings([](CLumora::SettingsGroups& g) {
                    g.filter.bayerGainAuto = 1;
                    g.filter.oneShotMarker[0] = g.filter.oneShotMarker[1] = 1;
                });
            } else {
                session_.EditSettings(
                    [](CLumora::SettingsGroups& g) { g.gray.autoGainCounter = 1; });
            }
            LoadFromSession();
            return;
        }
        default:
            return;
    }
}

bool ImageDialogModel::Poll() {
    const unsigned now = session_.EstimateGeneration();
    if (now == estimates_) return false;
    estimates_ = now;
    const unsigned before = revision_;
    LoadFromSession();
    return revision_ != before;
}

}  // namespace lumora::ui
