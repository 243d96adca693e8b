#pragma once
// The camera-format dialog: colour mode, stored capture sizes with "Custom", sub-sampling, the
// six window values, wait time and the (fixed) clock. It edits the camera's format group and
// size list in the settings store; OK and Apply write them, the session reloads after OK.
#include <vector>

#include "io/CameraSettings.h"
#include "io/SessionSettings.h"
#include "platform/SettingsStore.h"
#include "ui/DialogModel.h"

namespace lumora::ui {

inline constexpr int kIdColorMode = 1009;
inline constexpr int kIdSize = 1010;
inline constexpr int kIdSubSample = 1012;
inline constexpr int kIdClock = 1014;
inline constexpr int kIdHTotal = 1039;
inline constexpr int kIdVTotal = 1040;
inline constexpr int kIdHEffective = 1041;
inline constexpr int kIdVEffective = 1042;
inline constexpr int kIdHStart = 1043;
inline constexpr int kIdVStart = 1044;
inline constexpr int kIdWaitTime = 1045;

struct CameraDialogInput {
    int device = 0;
    OutputCapabilities caps;
    bool horizontalWindowing = true;
    bool verticalWindowing = true;
};

class CameraDialogModel final : public DialogModel {
public:
    CameraDialogModel(platform::SettingsStore& store, const CameraDialogInput& input);

    std::vector<std::string> Pages() const override { return {"Stream Format"}; }
    std::vector<Control> Buttons() const override;
    std::string Translate(const std::string& english) const override;

    void Scroll(int, int, int) override {}
    void EditText(int id, const std::string& text, int page = -1) override;
    void Select(int id, int index, int page = -1) override;
    void Toggle(int, bool, int) override {}
    void Press(int id, int page = -1) override;

    // The colour mode (0..5) behind each item of the colour combo.
    const std::vector<int>& ColorModes() const { return modes_; }
    const std::vector<SizeEntry>& Sizes() const { return sizes_; }
    bool ApplyEnabled() const { return apply_enabled_; }

private:
    void FillSizeItems();
    void ShowEntry(int index);
    void UpdateEnables();
    void MarkChanged();
    // Writes the format group and the size list; false (nothing written) when an edit does not
    // hold a number or the list has no room for a custom entry.
    bool Apply();

    platform::SettingsStore& store_;
    CameraDialogInput input_;
    std::vector<int> modes_;
    std::vector<SizeEntry> sizes_;
    FormatSettings format_;
    bool apply_enabled_ = false;
};

}  // namespace lumora::ui
