// lumora features, get, set, save and load: the camera's settings, what each allows and which
// of them the SDK keeps for the camera between programs.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "Settings.h"

namespace lumora_cli {
namespace {

std::string Serial(Camera& camera) {
    char serial[64] = {};
    Lumora_ReadSerialNumberA(camera.Handle(), serial, sizeof serial);
    return serial[0] != 0 ? serial : "(no serial number)";
}

int Features(const Options& options) {
    Camera camera(options);
    std::vector<std::vector<std::string>> rows = {
        {"setting", "value", "allowed", "step", "unit", "kept"}};
    for (const Setting& s : Settings()) {
        rows.push_back(
            {s.name, s.get(camera), s.allowed(camera), s.step, s.unit, s.kept ? "yes" : "no"});
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::printf("camera %s\n", Serial(camera).c_str());
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            std::string cell = row[i];
            if (i + 1 < row.size()) cell.resize(widths[i] + 2, ' ');
            line += cell;
        }
        std::printf("%s\n", line.c_str());
    }
    std::printf(
        "kept: the SDK stores the setting for this camera when a program ends, and every\n"
        "      program starts with it; `lumora set` and `lumora load` change it, other commands\n"
        "      only while they run.\n"
        "not kept: each program starts with the camera dialog's stored format, the cooler on\n"
        "      and the corrections off; give them to the command that captures (-b, -w,\n"
        "      --subsample) or keep them in a profile for --profile FILE.\n"
        "exposure goes in whole sensor lines: 6.5 us at 8 bits, 13 us at 16 bits; the window's\n"
        "x and width in steps of 8 pixels, y and height in steps of 4.\n");
    return 0;
}

int Get(const Options& options, const std::vector<std::string>& names) {
    std::vector<const Setting*> shown;
    for (const auto& name : names) shown.push_back(&FindSetting(name));
    if (names.empty()) {
        for (const Setting& s : Settings()) shown.push_back(&s);
    }
    Camera camera(options);
    for (const Setting* s : shown)
        std::printf("%s = %s\n", s->name.c_str(), s->get(camera).c_str());
    return 0;
}

int Set(const Options& options, const std::vector<std::string>& assignments) {
    std::vector<ProfileEntry> entries;
    for (const auto& text : assignments) {
        const auto equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw UsageError{"'" + text + "': give NAME=VALUE (lumora features lists them)"};
        }
        const std::string name = text.substr(0, equals);
        const Setting& setting = FindSetting(name);
        if (!setting.kept) {
            throw UsageError{name +
                             " is not kept between programs, so set would change it for "
                             "nothing; give it to the command that captures (for example -b, "
                             "-w, --subsample) or keep it in a profile for --profile FILE"};
        }
        entries.push_back({name, text.substr(equals + 1), {}, 0});
    }
    Camera camera(options);
    ApplySettings(camera, entries, true);
    for (const auto& entry : entries) {
        std::printf("%s = %s\n", entry.name.c_str(), FindSetting(entry.name).get(camera).c_str());
    }
    return 0;
}

int Save(const Options& options, const std::string& path) {
    CheckWritable(path);
    Camera camera(options);
    WriteProfile(path, camera);
    std::printf("%s: %zu settings of camera %s\n", path.c_str(), Settings().size(),
                Serial(camera).c_str());
    return 0;
}

int Load(const Options& options, const std::string& path) {
    const std::vector<ProfileEntry> entries = ReadProfile(path);
    std::vector<ProfileEntry> kept;
    std::string notKept;
    for (const auto& entry : entries) {
        if (FindSetting(entry.name).kept) {
            kept.push_back(entry);
        } else {
            notKept += (notKept.empty() ? "" : ", ") + entry.name;
        }
    }
    Camera camera(options);
    ApplySettings(camera, kept, true);
    for (const auto& entry : kept) {
        std::printf("%s = %s\n", entry.name.c_str(), FindSetting(entry.name).get(camera).c_str());
    }
    std::printf("camera %s keeps %zu settings from %s\n", Serial(camera).c_str(), kept.size(),
                path.c_str());
    if (!notKept.empty()) {
        std::printf(
            "not applied, as no program keeps them (--profile %s applies them to one "
            "command): %s\n",
            path.c_str(), notKept.c_str());
    }
    return 0;
}

}  // namespace

std::vector<CommandEntry> AddSettingsCommands(CLI::App& app, CommandContext& context) {
    Options& options = context.options;
    std::vector<CommandEntry> entries;

    auto* features =
        app.add_subcommand("features", "every setting: value, what is allowed, whether it is kept");
    entries.push_back({features, [&options] { return Features(options); }});

    auto names = std::make_shared<std::vector<std::string>>();
    auto* get = app.add_subcommand("get", "print settings (all without names)");
    get->add_option("names", *names, "settings, as `lumora features` lists them");
    entries.push_back({get, [&options, names] { return Get(options, *names); }});

    auto assignments = std::make_shared<std::vector<std::string>>();
    auto* set = app.add_subcommand("set", "change settings the camera keeps: NAME=VALUE ...");
    set->add_option("settings", *assignments, "NAME=VALUE, as `lumora features` lists them")
        ->required();
    entries.push_back({set, [&options, assignments] { return Set(options, *assignments); }});

    auto savePath = std::make_shared<std::string>();
    auto* save = app.add_subcommand("save", "write every setting to a profile file");
    save->add_option("file", *savePath, "the profile to write")->required();
    entries.push_back({save, [&options, savePath] { return Save(options, *savePath); }});

    auto loadPath = std::make_shared<std::string>();
    auto* load =
        app.add_subcommand("load", "make the camera keep the kept settings of a profile file");
    load->add_option("file", *loadPath, "the profile to read")->required();
    entries.push_back({load, [&options, loadPath] { return Load(options, *loadPath); }});
    return entries;
}

}  // namespace lumora_cli
