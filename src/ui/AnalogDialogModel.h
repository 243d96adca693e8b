#pragma once
// The analog dialog: global and colour gains, exposure (or the long exposure with its unit),
// auto iris, mirrors, black level, cooler, short exposure mode and gain mode. Every change goes
// to the driver at once and into the session's analog settings; what the camera lacks is
// hidden. Cancel sends the values the dialog opened with back to the driver.
#include <vector>

#include "session/AnalogControls.h"
#include "session/CLumora.h"
#include "ui/DialogModel.h"

namespace lumora::ui {

inline constexpr int kIdGlobalGain = 1013;
inline constexpr int kIdGainG1 = 1018;
inline constexpr int kIdGainR = 1020;
inline constexpr int kIdGainB = 1022;
inline constexpr int kIdGainG2 = 1024;
inline constexpr int kIdExposure = 1026;
inline constexpr int kIdExposureEdit = 1027;
inline constexpr int kIdExposureLabel = 1049;
inline constexpr int kIdExposureEx = 2131;
inline constexpr int kIdExposureUnit = 2132;
inline constexpr int kIdExposureRange = 2133;
inline constexpr int kIdAutoIrisGain = 1036;
inline constexpr int kIdAutoIrisExposure = 1037;
inline constexpr int kIdMirrorV = 1028;
inline constexpr int kIdMirrorH = 1029;
inline constexpr int kIdBlackLevel = 2128;
inline constexpr int kIdPeltier = 2124;
inline constexpr int kIdShortExposure = 2125;
inline constexpr int kIdGainMode = 2126;

// A long-exposure unit: its text and how many of it make a second.
struct ExposureUnit {
    const char* text;
    double perSecond;
};
// "ns", "µs", "ms", "sec".
const std::vector<ExposureUnit>& ExposureUnits();
// The units from the one of `minSeconds` to the one of `maxSeconds` (indices into
// ExposureUnits()).
std::vector<int> UnitsBetween(double minSeconds, double maxSeconds);
// "%.3f" when the fraction is at least 0.001, "%.6f" when at least 0.000001, else "%d".
std::string FormatExposureValue(double value);

class AnalogDialogModel final : public DialogModel {
public:
    // Reads the gains, exposure and mirrors from the driver into the session first; the
    // session must have a driver.
    explicit AnalogDialogModel(CLumora& session);

    std::vector<std::string> Pages() const override { return {"Analog Gain"}; }
    std::vector<Control> Buttons() const override;
    std::string Translate(const std::string& english) const override;

    void Scroll(int id, int value, int page = -1) override;
    void EditText(int id, const std::string& text, int page = -1) override;
    void Select(int id, int index, int page = -1) override;
    void Toggle(int id, bool on, int page = -1) override;
    void Press(int id, int page = -1) override;

    const CLumora::SettingsGroups& Saved() const { return saved_; }
    // The units the unit combo offers, as indices into ExposureUnits().
    const std::vector<int>& OfferedUnits() const { return units_; }

private:
    void SetSlider(int trackbar, int value);
    void ReadBack();  // the driver's values into the session and the page
    void ShowLongExposure();
    void RestoreDriver(const AnalogSettings& a, bool withModes);

    CLumora& session_;
    AnalogControls controls_;
    CLumora::SettingsGroups saved_;
    bool longExposure_ = false;
    bool colorTemplate_ = false;
    std::vector<int> units_;
};

}  // namespace lumora::ui
