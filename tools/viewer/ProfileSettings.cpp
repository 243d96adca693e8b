#include "ProfileSettings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>

namespace lumora_viewer {
namespace {

std::optional<long long> ParseInteger(const std::string& text) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return v;
}

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string Format(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// One setting: how to read it into text and how to apply text; Apply gives "" or a problem.
struct Row {
    const char* name;
    std::function<std::string(CameraSession&)> read;
    std::function<std::string(CameraSession&, const std::string&)> apply;
};

// An integer setting in [lo, hi] with its setter.
Row Integer(const char* name, long long lo, long long hi, std::function<int(CameraSession&)> get,
            std::function<bool(CameraSession&, int)> set) {
    return {name, [get](CameraSession& c) { return std::to_string(get(c)); },
            [lo, hi, set](CameraSession& c, const std::string& text) -> std::string {
                const auto v = ParseInteger(text);
                if (!v) return "not a whole number: " + text;
                if (*v < lo || *v > hi)
                    return "outside " + std::to_string(lo) + ".." + std::to_string(hi);
                if (!set(c, static_cast<int>(*v))) return "refused by the camera";
                return {};
            }};
}

Row Filter(const char* name, int id, int lo, int hi) {
    return Integer(
        name, lo, hi, [id](CameraSession& c) { return c.Filter(id); },
        [id](CameraSession& c, int v) { return c.SetFilter(id, v); });
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        Integer(
            "bits", 8, 16, [](CameraSession& c) { return c.Bits(); },
            [](CameraSession& c, int v) { return (v == 8 || v == 16) && c.SetBits(v); }),
        Integer(
            "subsample", 0, 1, [](CameraSession& c) { return c.Subsample() ? 1 : 0; },
            [](CameraSession& c, int v) { return c.SetSubsample(v == 1); }),
        {"window",
         [](CameraSession& c) {
             const SensorWindow w = c.Window();
             return std::to_string(w.x) + " " + std::to_string(w.y) + " " +
                    std::to_string(w.width) + " " + std::to_string(w.height);
         },
         [](CameraSession& c, const std::string& text) -> std::string {
             std::istringstream in(text);
             SensorWindow w;
             std::string rest;
             if (!(in >> w.x >> w.y >> w.width >> w.height) || (in >> rest))
                 return "not \"x y width height\": " + text;
             if (SnapToGrid(w) != w)
                 return "not on the sensor's 8-pixel grid inside 2560 x 2048: " + text;
             if (!c.SetWindow(w)) return "refused by the camera";
             return {};
         }},
        {"exposure_ms", [](CameraSession& c) { return Format(c.ExposureMs()); },
         [](CameraSession& c, const std::string& text) -> std::string {
             const auto v = ParseNumber(text);
             if (!v || *v <= 0) return "not a positive number: " + text;
             const CameraRanges r = c.Ranges();
             if (*v < r.exposureMinMs * 0.999 || *v > r.exposureMaxMs * 1.001)
                 return "outside " + Format(r.exposureMinMs) + ".." + Format(r.exposureMaxMs) +
                        " ms";
             if (!c.SetExposureMs(*v)) return "refused by the camera";
             return {};
         }},
        Integer(
            "gain", 0, 1 << 20, [](CameraSession& c) { return c.Gain(); },
            [](CameraSession& c, int v) { return c.SetGain(v); }),
        Filter("black_level", kFilterBlackLevel, 0, 4095),
        Filter("gain_mode", kFilterGainMode, 0, 1),
        Integer(
            "mirror_h", 0, 1, [](CameraSession& c) { return c.MirrorH() ? 1 : 0; },
            [](CameraSession& c, int v) { return c.SetMirrorH(v == 1); }),
        Integer(
            "mirror_v", 0, 1, [](CameraSession& c) { return c.MirrorV() ? 1 : 0; },
            [](CameraSession& c, int v) { return c.SetMirrorV(v == 1); }),
        Integer(
            "cooler", 0, 1, [](CameraSession& c) { return c.Cooler() ? 1 : 0; },
            [](CameraSession& c, int v) { return c.SetCooler(v == 1); }),
        Integer(
            "auto_exposure", 0, 2, [](CameraSession& c) { return c.AutoIris(); },
            [](CameraSession& c, int v) { return c.SetAutoIris(v); }),
        Filter("brightness", kFilterBrightness, -255, 255),
        Filter("contrast", kFilterContrast, -127, 127),
        Filter("gamma", kFilterGamma, 0, 200),
        Filter("sharpness", kFilterSharpness, 0, 30),
        Integer(
            "flat_field", 0, 1, [](CameraSession& c) { return c.Filter(kFilterMask); },
            [](CameraSession& c, int v) { return c.SetMaskFilter(v == 1); }),
        Integer(
            "defect_filter", 0, 1, [](CameraSession& c) { return c.Filter(kFilterDot); },
            [](CameraSession& c, int v) { return c.SetDotFilter(v == 1); }),
    };
    return rows;
}

}  // namespace

SettingsProfile CollectProfile(CameraSession& camera) {
    SettingsProfile profile;
    for (const Row& row : Rows()) profile.Set(row.name, row.read(camera));
    return profile;
}

std::vector<std::string> ApplyProfile(CameraSession& camera, const SettingsProfile& profile) {
    std::vector<std::string> problems;
    for (const auto& [name, value] : profile.Entries()) {
        bool known = false;
        for (const Row& row : Rows()) known = known || name == row.name;
        if (!known) problems.push_back(name + ": not a setting of this viewer");
    }
    // One restart for the whole profile, not one per shape setting.
    camera.Reconfigure([&] {
        for (const Row& row : Rows()) {
            const auto value = profile.Get(row.name);
            if (!value) continue;
            const std::string problem = row.apply(camera, *value);
            if (!problem.empty()) problems.push_back(std::string(row.name) + ": " + problem);
        }
        return true;
    });
    return problems;
}

}  // namespace lumora_viewer
