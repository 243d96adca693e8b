// The camera's settings as the lumora command shows, changes and keeps them in profiles: one
// table that features, get, set, save, load, --profile and the capture options all read.
//
// Kept settings are the ones the SDK stores for the camera when a program ends (its analog,
// filter and gray-mode groups); every program starts with them. The others are chosen by each
// program: the format from the camera dialog's stored choice, the cooler on, the corrections off.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Command.h"

namespace lumora_cli {

using Applier = std::function<void(Camera&)>;

struct Setting {
    std::string name;
    std::string unit;  // empty: none
    std::string step;  // empty: the values are a list
    bool kept = false;
    // Allowed values as text ("0 .. 420", "on, off").
    std::function<std::string(Camera&)> allowed;
    // The current value, in the form set and profiles take.
    std::function<std::string(Camera&)> get;
    // Checks `text`, throwing a UsageError that names what is allowed, and returns what applies
    // it (throwing a CommandError when the camera refuses).
    std::function<Applier(Camera&, const std::string& text)> parse;
    // What puts the current value back exactly; empty: parse(get()).
    std::function<Applier(Camera&)> remember;
};

const std::vector<Setting>& Settings();
// The setting called `name`, or a UsageError naming the settings there are.
const Setting& FindSetting(const std::string& name);

// A settings profile: "name = value" lines; '#' starts a comment.
struct ProfileEntry {
    std::string name;
    std::string value;
    std::string source;  // the profile's path; empty for the command line
    int line = 0;
};
// Reads `path`: a CommandError when it cannot be read, a UsageError (with the line) for a line
// that is not a known setting.
std::vector<ProfileEntry> ReadProfile(const std::string& path);
// Writes every setting of `camera` to `path`.
void WriteProfile(const std::string& path, Camera& camera);

// Checks every entry first, then applies them in order. Kept settings are put back when the
// command ends unless `lasting`, in which case they stay (set, load).
void ApplySettings(Camera& camera, const std::vector<ProfileEntry>& entries, bool lasting);

// Checks the window and subsampling that will be in effect together.
void CheckWindowAndSubsample(const std::vector<int>& window, int subsample);

}  // namespace lumora_cli
