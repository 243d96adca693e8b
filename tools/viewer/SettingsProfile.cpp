#include "SettingsProfile.h"

#include <sstream>

namespace lumora_viewer {
namespace {

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool ValidName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

void SettingsProfile::Set(const std::string& name, const std::string& value) {
    for (auto& entry : entries_) {
        if (entry.first == name) {
            entry.second = value;
            return;
        }
    }
    entries_.emplace_back(name, value);
}

std::optional<std::string> SettingsProfile::Get(const std::string& name) const {
    for (const auto& entry : entries_) {
        if (entry.first == name) return entry.second;
    }
    return std::nullopt;
}

std::string SettingsProfile::Text() const {
    std::string text = std::string(kFormatLine) + "\n";
    for (const auto& [name, value] : entries_) text += name + " = " + value + "\n";
    return text;
}

std::optional<SettingsProfile> SettingsProfile::Parse(const std::string& text,
                                                      std::vector<std::string>& problems) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool sawFormat = false;
    SettingsProfile profile;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (!sawFormat) {
            if (t != kFormatLine) return std::nullopt;
            sawFormat = true;
            continue;
        }
        const size_t eq = t.find('=');
        const std::string name = eq == std::string::npos ? t : Trim(t.substr(0, eq));
        if (eq == std::string::npos || !ValidName(name)) {
            problems.push_back("line " + std::to_string(number) + ": not \"name = value\"");
            continue;
        }
        profile.Set(name, Trim(t.substr(eq + 1)));
    }
    if (!sawFormat) return std::nullopt;
    return profile;
}

}  // namespace lumora_viewer
