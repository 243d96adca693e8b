#include "Settings.h"


#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace lumora_cli {
namespace {

// The camera's black level and the image filters have ranges the C interface does not report;
// these are the camera's own.
constexpr int kBlackLevelMax = 4095;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Range(int min, int max) {
    return std::to_string(min) + " .. " + std::to_string(max);
}

bool ParseInteger(const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

int IntegerIn(const std::string& name, const std::string& text, int min, int max,
              const std::string& unit = {}) {
    long value = 0;
    const std::string units = unit.empty() ? "" : " " + unit;
    if (!ParseInteger(text, &value)) {
        throw UsageError{name + " '" + text + "' is not a whole number; allowed " +
                         Range(min, max) + units};
    }
    if (value < min || value > max) {
        throw UsageError{name + " " + text + units + " is outside " + Range(min, max) + units};
    }
    return static_cast<int>(value);
}

using Choices = std::vector<std::pair<std::string, int>>;

std::string ChoiceList(const Choices& choices) {
    std::string list;
    for (const auto& [word, value] : choices) list += (list.empty() ? "" : ", ") + word;
    return list;
}

int Choice(const std::string& name, const std::string& text, const Choices& choices) {
    for (const auto& [word, value] : choices) {
        if (word == text) return value;
    }
    throw UsageError{name + " '" + text + "': allowed " + ChoiceList(choices)};
}

std::string WordFor(const Choices& choices, int value) {
    for (const auto& [word, v] : choices) {
        if (v == value) return word;
    }
    return std::to_string(value);
}

const Choices kOnOff = {{"off", 0}, {"on", 1}};

int FilterValue(Camera& camera, int id, const std::string& name) {
    int valid = 0;
    const int value = Lumora_GetFilterValue(camera.Handle(), id, &valid);
    camera.Check(valid, "cannot read " + name);
    return value;
}

Applier SetFilter(int id, int value, const std::string& name) {
    return [id, value, name](Camera& camera) {
        camera.Check(Lumora_SetFilterValue(camera.Handle(), id, value),
                     "the camera refused " + name + " " + std::to_string(value));
    };
}

// An integer filter value with a fixed range.
Setting FilterInteger(const std::string& name, int id, int min, int max, bool kept,
                      const std::string& unit = {}) {
    Setting s;
    s.name = name;
    s.unit = unit;
    s.step = "1";
    s.kept = kept;
    s.allowed = [min, max](Camera&) { return Range(min, max); };
    s.get = [name, id](Camera& camera) { return std::to_string(FilterValue(camera, id, name)); };
    s.parse = [name, id, min, max, unit](Camera&, const std::string& text) {
        return SetFilter(id, IntegerIn(name, text, min, max, unit), name);
    };
    return s;
}

// A filter value with named values.
Setting FilterChoice(const std::string& name, int id, const Choices& choices, bool kept) {
    Setting s;
    s.name = name;
    s.kept = kept;
    s.allowed = [choices](Camera&) { return ChoiceList(choices); };
    s.get = [name, id, choices](Camera& camera) {
        return WordFor(choices, FilterValue(camera, id, name));
    };
    s.parse = [name, id, choices](Camera&, const std::string& text) {
        return SetFilter(id, Choice(name, text, choices), name);
    };
    return s;
}

Setting Mirror(const std::string& name, int (*get)(int), int (*set)(int, int)) {
    Setting s;
    s.name = name;
    s.kept = true;
    s.allowed = [](Camera&) { return ChoiceList(kOnOff); };
    s.get = [get](Camera& camera) { return WordFor(kOnOff, get(camera.Handle())); };
    s.parse = [name, set](Camera&, const std::string& text) -> Applier {
        const int on = Choice(name, text, kOnOff);
        return [name, set, on](Camera& camera) {
            camera.Check(set(camera.Handle(), on), "the camera refused " + name);
        };
    };
    return s;
}

double ExposureMinMs(Camera& camera) {
    return camera.Info().exposureExMin * 1000.0;
}
double ExposureMaxMs(Camera& camera) {
    return camera.Info().exposureExMax * 1000.0;
}

Setting Exposure() {
    Setting s;
    s.name = "exposure";
    s.unit = "ms";
    s.step = "1 line";
    s.kept = true;
    s.allowed = [](Camera& camera) {
        return ShortNumber(ExposureMinMs(camera)) + " .. " + ShortNumber(ExposureMaxMs(camera));
    };
    s.get = [](Camera& camera) {
        int valid = 0;
        const double seconds = Lumora_GetExposureTimeEx(camera.Handle(), &valid);
        camera.Check(valid, "cannot read the exposure");
        return ShortNumber(seconds * 1000.0);
    };
    s.parse = [](Camera& camera, const std::string& text) -> Applier {
        char* end = nullptr;
        const double ms = std::strtod(text.c_str(), &end);
        const std::string allowed = ShortNumber(ExposureMinMs(camera)) + " .. " +
                                    ShortNumber(ExposureMaxMs(camera)) + " ms";
        if (text.empty() || *end != '\0' || !std::isfinite(ms)) {
            throw UsageError{"exposure '" + text + "' is not a number of milliseconds; allowed " +
                             allowed};
        }
        // Compared as the text shows them, so the limits themselves are accepted.
        if (std::stod(ShortNumber(ms)) < std::stod(ShortNumber(ExposureMinMs(camera))) ||
            std::stod(ShortNumber(ms)) > std::stod(ShortNumber(ExposureMaxMs(camera)))) {
            throw UsageError{"exposure " + ShortNumber(ms) + " ms is outside " + allowed};
        }
        const double seconds =
            std::clamp(ms / 1000.0, camera.Info().exposureExMin, camera.Info().exposureExMax);
        return [seconds, ms](Camera& c) {
            c.Check(Lumora_SetExposureTimeEx(c.Handle(), seconds),
                    "the camera refused exposure " + ShortNumber(ms) + " ms");
        };
    };
    // The SDK keeps the exposure both in 0.1 ms units and in seconds: put back the form it
    // was set in, so the stored pair stays as it was.
    s.remember = [](Camera& camera) -> Applier {
        int valid = 0;
        const double seconds = Lumora_GetExposureTimeEx(camera.Handle(), &valid);
        const int tenths = Lumora_GetExposureTime(camera.Handle(), &valid);
        const bool whole = std::fabs(tenths / 10000.0 - seconds) < 1e-12;
        return [seconds, tenths, whole](Camera& c) {
            const int ok = whole ? Lumora_SetExposureTime(c.Handle(), tenths)
                                 : Lumora_SetExposureTimeEx(c.Handle(), seconds);
            c.Check(ok, "the camera refused the exposure");
        };
    };
    return s;
}

Setting Gain() {
    Setting s;
    s.name = "gain";
    s.step = "1";
    s.kept = true;
    s.allowed = [](Camera& camera) {
        return Range(camera.Info().globalGainMin, camera.Info().globalGainMax);
    };
    s.get = [](Camera& camera) {
        int valid = 0;
        const int gain = Lumora_GetGlobalGain(camera.Handle(), &valid);
        camera.Check(valid, "cannot read the gain");
        return std::to_string(gain);
    };
    s.parse = [](Camera& camera, const std::string& text) -> Applier {
        const int gain =
            IntegerIn("gain", text, camera.Info().globalGainMin, camera.Info().globalGainMax);
        return [gain](Camera& c) {
            c.Check(Lumora_SetGlobalGain(c.Handle(), gain),
                    "the camera refused gain " + std::to_string(gain));
        };
    };
    return s;
}

Setting AutoIris() {
    static const Choices choices = {{"off", 0}, {"exposure", 1}, {"gain", 2}};
    Setting s;
    s.name = "auto-iris";
    s.kept = true;
    s.allowed = [](Camera&) { return ChoiceList(choices); };
    s.get = [](Camera& camera) {
        int valid = 0;
        return WordFor(choices, Lumora_GetAutoIris(camera.Handle(), &valid));
    };
    s.parse = [](Camera&, const std::string& text) -> Applier {
        const int mode = Choice("auto-iris", text, choices);
        return [mode](Camera& c) {
            c.Check(Lumora_SetAutoIris(c.Handle(), mode), "the camera refused auto-iris");
        };
    };
    return s;
}

Setting Bits() {
    static const Choices choices = {{"8", 8}, {"16", 16}};
    Setting s;
    s.name = "bits";
    s.unit = "bits";
    s.allowed = [](Camera&) { return ChoiceList(choices); };
    s.get = [](Camera& camera) { return std::to_string(Lumora_GetColorMode(camera.Handle())); };
    s.parse = [](Camera&, const std::string& text) -> Applier {
        const int bits = Choice("bits", text, choices);
        return [bits](Camera& c) {
            c.Check(Lumora_SetColorMode(c.Handle(), bits),
                    "the camera refused " + std::to_string(bits) + " bits");
        };
    };
    return s;
}

std::vector<int> CurrentWindow(int handle) {
    int ht = 0, hs = 0, he = 0, vt = 0, vs = 0, ve = 0;
    Lumora_GetCaptureWindowEx(handle, &ht, &hs, &he, &vt, &vs, &ve);
    return {hs, vs, he, ve};
}

std::string WindowText(const std::vector<int>& w) {
    std::string text;
    for (int v : w) text += (text.empty() ? "" : ",") + std::to_string(v);
    return text;
}

std::vector<int> ParseWindow(const std::string& text) {
    std::vector<int> values;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        long v = 0;
        if (!ParseInteger(Trim(part), &v) || v < 0 || v > 100000) {
            throw UsageError{"window '" + text + "': give x,y,width,height in pixels"};
        }
        values.push_back(static_cast<int>(v));
    }
    if (values.size() != 4) throw UsageError{"window '" + text + "': give x,y,width,height"};
    return values;
}

Setting Window() {
    Setting s;
    s.name = "window";
    s.unit = "px";
    s.step = "8 / 4";
    s.allowed = [](Camera&) {
        return "x,y,width,height within " + std::to_string(kSensorWidth) + " x " +
               std::to_string(kSensorHeight);
    };
    s.get = [](Camera& camera) { return WindowText(CurrentWindow(camera.Handle())); };
    s.parse = [](Camera&, const std::string& text) -> Applier {
        const std::vector<int> w = ParseWindow(text);
        CheckWindowAndSubsample(w, 0);
        return [w](Camera& c) {
            c.Check(Lumora_SetCaptureWindowEx(c.Handle(), kSensorWidth, w[0], w[2], kSensorHeight,
                                              w[1], w[3]),
                    "the camera refused the window " + WindowText(w));
        };
    };
    return s;
}

Setting Subsample() {
    Setting s;
    s.name = "subsample";
    s.allowed = [](Camera&) { return ChoiceList(kOnOff); };
    s.get = [](Camera& camera) {
        return WordFor(kOnOff, Lumora_GetSubSample(camera.Handle()) != 0 ? 1 : 0);
    };
    s.parse = [](Camera&, const std::string& text) -> Applier {
        const int on = Choice("subsample", text, kOnOff);
        return [on](Camera& c) {
            c.Check(Lumora_SetSubSample(c.Handle(), on), "the camera refused subsampling");
        };
    };
    return s;
}

Setting WaitTime() {
    Setting s;
    s.name = "wait-time";
    s.unit = "ms";
    s.step = "1";
    s.allowed = [](Camera&) { return Range(0, 1000); };
    s.get = [](Camera& camera) { return std::to_string(Lumora_GetWaitTime(camera.Handle())); };
    s.parse = [](Camera&, const std::string& text) -> Applier {
        const int ms = IntegerIn("wait-time", text, 0, 1000, "ms");
        return [ms](Camera& c) {
            c.Check(Lumora_SetWaitTime(c.Handle(), ms), "the camera refused the wait time");
        };
    };
    return s;
}

std::vector<Setting> MakeSettings() {
    std::vector<Setting> table;
    // The camera's analog settings: stored for the camera by the SDK.
    table.push_back(Exposure());
    table.push_back(Gain());
    table.push_back(FilterInteger("black-level", 106, 0, kBlackLevelMax, true));
    table.push_back(FilterChoice("gain-mode", 104, {{"high", 0}, {"low", 1}}, true));
    table.push_back(Mirror("mirror-h", Lumora_GetMirrorH, Lumora_SetMirrorH));
    table.push_back(Mirror("mirror-v", Lumora_GetMirrorV, Lumora_SetMirrorV));
    table.push_back(AutoIris());
    // The host's image processing: stored with the analog settings.
    table.push_back(FilterInteger("gamma", 11, 0, 200, true));
    table.push_back(FilterInteger("contrast", 2, -127, 127, true));
    table.push_back(FilterInteger("brightness", 1, -255, 255, true));
    table.push_back(FilterInteger("sharpness", 5, 0, 30, true));
    // Colour outputs only; this camera's 8- and 16-bit gray frames pass them by.
    table.push_back(FilterInteger("hue", 3, -360, 360, true));
    table.push_back(FilterInteger("saturation", 4, -255, 255, true));
    table.push_back(
        FilterChoice("gray-mode", 19, {{"off", 0}, {"gain-offset", 1}, {"luminance", 2}}, true));
    const char* const sites[] = {"r", "g1", "g2", "b"};
    for (int i = 0; i < 4; ++i) {
        table.push_back(FilterInteger(std::string("gray-gain-") + sites[i], 20 + i, 0, 255, true));
    }
    for (int i = 0; i < 4; ++i) {
        table.push_back(
            FilterInteger(std::string("gray-offset-") + sites[i], 24 + i, -255, 255, true));
    }
    // Chosen by each program.
    table.push_back(Bits());
    table.push_back(Window());
    table.push_back(Subsample());
    table.push_back(WaitTime());
    table.push_back(FilterChoice("cooler", 100, kOnOff, false));
    table.push_back(FilterChoice("dot-filter", 102, kOnOff, false));
    table.push_back(FilterChoice("mask-filter", 103, kOnOff, false));
    return table;
}

std::string Names() {
    std::string names;
    for (const Setting& s : Settings()) names += (names.empty() ? "" : ", ") + s.name;
    return names;
}

// An error about an entry, said where the entry came from: a profile's line or an option.
UsageError AtLine(const std::string& source, int line, const UsageError& error) {
    if (source.empty()) return error;
    if (line <= 0) return UsageError{source + ": " + error.what};
    return UsageError{source + " line " + std::to_string(line) + ": " + error.what};
}

}  // namespace

const std::vector<Setting>& Settings() {
    static const std::vector<Setting> table = MakeSettings();
    return table;
}

const Setting& FindSetting(const std::string& name) {
    for (const Setting& s : Settings()) {
        if (s.name == name) return s;
    }
    throw UsageError{"no setting '" + name + "'; the settings are " + Names()};
}

void CheckWindowAndSubsample(const std::vector<int>& w, int subsample) {
    if (w.size() != 4) throw UsageError{"the window takes x,y,width,height"};
    const int x = w[0], y = w[1], width = w[2], height = w[3];
    const bool steps = x % 8 == 0 && width % 8 == 0 && y % 4 == 0 && height % 4 == 0;
    const bool fits =
        width >= 8 && height >= 4 && x + width <= kSensorWidth && y + height <= kSensorHeight;
    if (!steps || !fits) {
        const int nx = std::min(x / 8 * 8, kSensorWidth - 8);
        const int ny = std::min(y / 4 * 4, kSensorHeight - 4);
        const int nw = std::clamp(width / 8 * 8, 8, (kSensorWidth - nx) / 8 * 8);
        const int nh = std::clamp(height / 4 * 4, 4, (kSensorHeight - ny) / 4 * 4);
        throw UsageError{"window " + WindowText(w) +
                         " does not fit the sensor: x and width go in steps of 8 pixels, y and "
                         "height in steps of 4, at least 8 x 4, within " +
                         std::to_string(kSensorWidth) + " x " + std::to_string(kSensorHeight) +
                         " (the nearest that fits: " + WindowText({nx, ny, nw, nh}) + ")"};
    }
    if (subsample != 0 && (x != 0 || y != 0 || width != kSensorWidth || height != kSensorHeight)) {
        throw UsageError{"subsampling reads the whole sensor into " +
                         std::to_string(kSensorWidth / 2) + " x " +
                         std::to_string(kSensorHeight / 2) + " frames and takes no window; " +
                         "leave the window at 0,0," + std::to_string(kSensorWidth) + "," +
                         std::to_string(kSensorHeight) + " (window " + WindowText(w) + " given)"};
    }
}

std::vector<ProfileEntry> ReadProfile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw CommandError{"cannot read " + path + ": " + std::strerror(errno)};
    std::vector<ProfileEntry> entries;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        const std::string content = Trim(text.substr(0, text.find('#')));
        if (content.empty()) continue;
        const auto equals = content.find('=');
        if (equals == std::string::npos) {
            throw UsageError{path + " line " + std::to_string(line) + ": '" + content +
                             "' is not NAME = VALUE"};
        }
        ProfileEntry entry{Trim(content.substr(0, equals)), Trim(content.substr(equals + 1)), path,
                           line};
        try {
            FindSetting(entry.name);
        } catch (const UsageError& error) {
            throw AtLine(path, line, error);
        }
        entries.push_back(entry);
    }
    return entries;
}

void WriteProfile(const std::string& path, Camera& camera) {
    std::ostringstream out;
    char serial[64] = {};
    Lumora_ReadSerialNumberA(camera.Handle(), serial, sizeof serial);
    out << "# Lumora M5XIR TEC camera settings, saved by lumora " LUMORA_VERSION " from camera "
        << (serial[0] != 0 ? serial : "(no serial number)") << ".\n"
        << "# `lumora load FILE` keeps the settings marked kept for a camera; the option\n"
        << "# --profile FILE applies every setting to one command.\n";
    for (const Setting& s : Settings()) {
        std::string line = s.name + " = " + s.get(camera);
        line.resize(std::max<size_t>(line.size() + 1, 32), ' ');
        line += "# ";
        if (!s.unit.empty()) line += s.unit + ", ";
        line += s.kept ? "kept" : "not kept";
        out << line << "\n";
    }
    CheckWritable(path);
    // Written beside it and renamed over it, so an interrupted save leaves the old profile whole.
    const std::string part = path + ".part-" + std::to_string(ProcessId());
    std::ofstream file(part, std::ios::trunc);
    file << out.str();
    file.close();
    if (!file || !RenameOver(part, path)) {
        const int error = errno;
        std::remove(part.c_str());
        throw CommandError{"cannot write " + path + ": " + std::strerror(error)};
    }
}

void ApplySettings(Camera& camera, const std::vector<ProfileEntry>& entries, bool lasting) {
    std::vector<std::pair<const Setting*, Applier>> plan;
    std::vector<int> window = CurrentWindow(camera.Handle());
    int subsample = Lumora_GetSubSample(camera.Handle()) != 0 ? 1 : 0;
    bool formatGiven = false;
    for (const ProfileEntry& entry : entries) {
        try {
            const Setting& setting = FindSetting(entry.name);
            plan.emplace_back(&setting, setting.parse(camera, entry.value));
            if (entry.name == "window") window = ParseWindow(entry.value);
            if (entry.name == "subsample") subsample = entry.value == "on" ? 1 : 0;
            formatGiven = formatGiven || entry.name == "window" || entry.name == "subsample";
        } catch (const UsageError& error) {
            throw AtLine(entry.source, entry.line, error);
        }
    }
    if (formatGiven) CheckWindowAndSubsample(window, subsample);
    for (auto& [setting, apply] : plan) {
        if (setting->kept) {
            if (lasting) {
                camera.Scope().Keep(setting->name);
            } else {
                camera.Scope().Remember(camera, setting->name);
            }
        }
        apply(camera);
    }
}

}  // namespace lumora_cli
