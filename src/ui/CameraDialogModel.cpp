#include "ui/CameraDialogModel.h"

#include <algorithm>
#include <cstdio>

#include "ui/DialogText.h"

namespace lumora::ui {
namespace {

constexpr int kSampleBits = 12;
constexpr int kHighClockMHz = 54;
constexpr int kHighClockItem = 2;
constexpr const char* kCustom = "Custom";

struct WindowEdit {
    int id;
    const char* caption;
    int32_t SizeEntry::*field;
    bool horizontal;
    bool window;  // one of the four the sub-sample rule disables
};
constexpr WindowEdit kWindowEdits[] = {
    {kIdHTotal, "H Total", &SizeEntry::hTotal, true, false},
    {kIdVTotal, "V Total", &SizeEntry::vTotal, false, false},
    {kIdHEffective, "H Effective", &SizeEntry::hEffective, true, true},
    {kIdVEffective, "V Effective", &SizeEntry::vEffective, false, true},
    {kIdHStart, "H Start", &SizeEntry::hStart, true, true},
    {kIdVStart, "V Start", &SizeEntry::vStart, false, true},
};

std::string SizeText(const SizeEntry& e) {
    char text[48];
    std::snprintf(text, sizeof text, "%d x %d", e.hEffective, e.vEffective);
    return text;
}

bool IsFullSensor(const SizeEntry& e) {
    return e.hEffective == kSensorWidth && e.vEffective == kSensorHeight && e.hStart == 0 &&
           e.vStart == 0;
}

}  // namespace

CameraDialogModel::CameraDialogModel(platform::SettingsStore& store, const CameraDialogInput& input)
    : store_(store), input_(input) {
    // Without the format group the defaults stand, with the mode this camera can deliver.
    format_.colorMode = DefaultColorMode(input.caps);
    LoadFormatSettings(store_, input.device, input.caps, format_);
    sizes_ = LoadSizeList(store_, input.device);
    if (sizes_.empty()) sizes_.push_back(SizeEntry{});
    if (sizes_.size() > static_cast<size_t>(kMaxSizeEntries)) sizes_.resize(kMaxSizeEntries);

    Control color{kIdColorMode, ControlKind::kCombo, 0, "Color / Compression(&C):"};
    char mono16[32];
    std::snprintf(mono16, sizeof mono16, "Monochrome %dbit *", kSampleBits);
    const struct {
        bool offered;
        int mode;
        std::string text;
    } kItems[] = {
        {input.caps.mono8, 0, "Monochrome 8bit"},
        {input.caps.mono16, 1, mono16},
        {input.caps.color, 2, "Color 24bit"},
        {input.caps.color && input.caps.mono8, 3, "Color 32bit"},
        {input.caps.color, 4, "Color 48bit *"},
        {input.caps.color, 5, "Color 64bit *"},
    };
    for (const auto& item : kItems) {
        if (!item.offered) continue;
        color.items.push_back(item.text);
        modes_.push_back(item.mode);
    }
    const auto stored = std::find(modes_.begin(), modes_.end(), format_.colorMode);
    color.value = modes_.empty()
                      ? -1
                      : static_cast<int>(stored == modes_.end() ? 0 : stored - modes_.begin());
    Add(color);

    Control size{kIdSize, ControlKind::kCombo, 0, "Size(&S):"};
    Add(size);
    FillSizeItems();
    const int selected =
        format_.sizeIndex >= 0 && format_.sizeIndex < static_cast<int>(sizes_.size())
            ? format_.sizeIndex
            : 0;
    SetValue(kIdSize, selected);

    Control sub{kIdSubSample, ControlKind::kCombo, 0, "Sub Sample(&B):"};
    sub.items = {"1/1", "1/2 Skip"};
    sub.value = format_.subSample == 1 ? 1 : 0;
    Add(sub);

    const int frame = 1100;
    Control windowGroup{frame, ControlKind::kGroup, 0, "Window"};
    Add(windowGroup);
    for (const WindowEdit& w : kWindowEdits) {
        Control edit{w.id, ControlKind::kEdit, 0, w.caption};
        edit.frame = frame;
        Add(edit);
    }
    Control wait{kIdWaitTime, ControlKind::kEdit, 0, "Wait Time(&T):"};
    wait.text = std::to_string(format_.waitTime);
    Add(wait);

    Control clock{kIdClock, ControlKind::kCombo, 0, "Clock(&C):"};
    char high[32];
    std::snprintf(high, sizeof high, "High(%dMHz)", kHighClockMHz);
    clock.items = {"Nomal(24MHz)", "Half(12MHz)", high};
    clock.value = kHighClockItem;
    clock.enabled = false;  // the camera runs at one clock
    Add(clock);

    Control note{1101, ControlKind::kLabel, 0, ""};
    note.text = "* In the WORD forwarding mode, please set the clock to the half.";
    Add(note);

    ShowEntry(selected);
    UpdateEnables();
}

std::vector<Control> CameraDialogModel::Buttons() const {
    Control ok{kIdOk, ControlKind::kButton, 0, "OK"};
    Control cancel{kIdCancel, ControlKind::kButton, 0, "Cancel"};
    Control apply{kIdApply, ControlKind::kButton, 0, "Apply(&A)"};
    apply.enabled = apply_enabled_;
    return {ok, cancel, apply};
}

std::string CameraDialogModel::Translate(const std::string& english) const {
    return Tr(english);
}

void CameraDialogModel::FillSizeItems() {
    Control* size = FindMutable(kIdSize);
    size->items.clear();
    for (const SizeEntry& e : sizes_) size->items.push_back(SizeText(e));
    size->items.push_back(kCustom);
    Changed();
}

void CameraDialogModel::ShowEntry(int index) {
    if (index < 0 || index >= static_cast<int>(sizes_.size())) return;
    for (const WindowEdit& w : kWindowEdits) SetText(w.id, std::to_string(sizes_[index].*w.field));
}

void CameraDialogModel::UpdateEnables() {
    const bool skip = Find(kIdSubSample)->value == 1;
    const bool h = input_.horizontalWindowing;
    const bool v = input_.verticalWindowing;
    for (const WindowEdit& w : kWindowEdits) {
        const bool capable = w.horizontal ? h : v;
        SetEnabled(w.id, capable && !(skip && w.window));
    }
    SetEnabled(kIdSize, !skip && (h || v));
}

void CameraDialogModel::MarkChanged() {
    if (!apply_enabled_) {
        apply_enabled_ = true;
        Changed();
    }
}

void CameraDialogModel::Select(int id, int index, int) {
    Control* c = FindMutable(id);
    if (c == nullptr || c->kind != ControlKind::kCombo || !c->enabled) return;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return;
    SetValue(id, index);
    if (id == kIdSize) {
        ShowEntry(index);  // "Custom" keeps what the edits hold
    } else if (id == kIdSubSample && index == 1) {
        // Skipping reads the whole sensor; its entry is added when the list lacks one.
        auto full = std::find_if(sizes_.begin(), sizes_.end(), IsFullSensor);
        if (full == sizes_.end()) {
            if (sizes_.size() >= static_cast<size_t>(kMaxSizeEntries)) sizes_.pop_back();
            sizes_.push_back(SizeEntry{});
            FillSizeItems();
            full = sizes_.end() - 1;
        }
        const int fullIndex = static_cast<int>(full - sizes_.begin());
        SetValue(kIdSize, fullIndex);
        ShowEntry(fullIndex);
    }
    UpdateEnables();
    MarkChanged();
}

void CameraDialogModel::EditText(int id, const std::string& text, int) {
    Control* c = FindMutable(id);
    if (c == nullptr || c->kind != ControlKind::kEdit || !c->enabled) return;
    SetText(id, text);
    MarkChanged();
}

bool CameraDialogModel::Apply() {
    SizeEntry edited;
    for (const WindowEdit& w : kWindowEdits) {
        int value = 0;
        if (!ParseInt(Find(w.id)->text, value)) return false;
        edited.*w.field = value;
    }
    int waitTime = 0;
    if (!ParseInt(Find(kIdWaitTime)->text, waitTime) || waitTime < 0) return false;

    int sizeIndex = Find(kIdSize)->value;
    const bool custom = sizeIndex == static_cast<int>(sizes_.size());
    if (custom) {
        if (sizes_.size() >= static_cast<size_t>(kMaxSizeEntries)) return false;
        sizes_.push_back(edited);
        sizeIndex = static_cast<int>(sizes_.size()) - 1;
    } else if (sizeIndex >= 0 && sizeIndex < static_cast<int>(sizes_.size())) {
        edited.bufferCount = sizes_[sizeIndex].bufferCount;
        sizes_[sizeIndex] = edited;
    } else {
        return false;
    }
    FillSizeItems();
    SetValue(kIdSize, sizeIndex);

    const int colorItem = Find(kIdColorMode)->value;
    if (colorItem >= 0 && colorItem < static_cast<int>(modes_.size()))
        format_.colorMode = modes_[colorItem];
    format_.sizeIndex = sizeIndex;
    format_.subSample = Find(kIdSubSample)->value;
    format_.clock = Find(kIdClock)->value;
    format_.waitTime = waitTime;
    if (!SaveFormatGroup(store_, input_.device, sizes_, format_)) return false;
    apply_enabled_ = false;
    Changed();
    return true;
}

void CameraDialogModel::Press(int id, int) {
    if (outcome_ != DialogOutcome::kOpen) return;
    switch (id) {
        case kIdOk:
            if (Apply()) Finish(true);
            break;
        case kIdApply:
            if (apply_enabled_) Apply();
            break;
        case kIdCancel:
            Finish(false);
            break;
        default:
            break;
    }
}

}  // namespace lumora::ui
