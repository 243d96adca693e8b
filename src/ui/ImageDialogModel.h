#pragma once
// The image dialog: filter sliders, white balance and Bayer mode on "Image Filter", gray gains,
// offsets, automatic gray gain and the filter mode on "Gray Filter" (monochrome modes only).
// Every change is stored into the session at once, so the next processed frame shows it;
// Cancel puts back the copy taken when the dialog opened.
#include <vector>

#include "session/CLumora.h"
#include "ui/DialogModel.h"

namespace lumora::ui {

inline constexpr int kIdOnce = 2074;
inline constexpr int kIdAllFrames = 1035;
inline constexpr int kIdBayerMode0 = 1030;  // .. 1033
inline constexpr int kIdGrayModeBayer = 1046;
inline constexpr int kIdGrayModeConvert = 1047;
inline constexpr int kIdGrayModeGrayscale = 1048;
inline constexpr int kImagePage = 0;
inline constexpr int kGrayPage = 1;

class ImageDialogModel final : public DialogModel {
public:
    // `colorMode` 0..5 decides the enables and whether the gray page exists.
    ImageDialogModel(CLumora& session, int colorMode);

    std::vector<std::string> Pages() const override;
    std::vector<Control> Buttons() const override;
    std::string Translate(const std::string& english) const override;

    void Scroll(int id, int value, int page = -1) override;
    void EditText(int id, const std::string& text, int page = -1) override;
    void Select(int, int, int) override {}
    void Toggle(int id, bool on, int page = -1) override;
    void Press(int id, int page = -1) override;
    bool Poll() override;

    bool HasGrayPage() const { return mono_; }
    // What Cancel restores.
    const CLumora::SettingsGroups& Saved() const { return saved_; }

private:
    struct SliderRow;
    static const std::vector<SliderRow>& Rows();
    void SetSetting(const SliderRow& row, int value);
    void LoadFromSession();

    CLumora& session_;
    bool mono_;
    CLumora::SettingsGroups saved_;
    unsigned estimates_ = 0;
};

}  // namespace lumora::ui
