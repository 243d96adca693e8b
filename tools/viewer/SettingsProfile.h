// A settings profile as a file: the first line names the format, then one "name = value" per
// line; '#' starts a comment line. Names are kept in the order they were set, so a saved
// profile reads (and applies) in a fixed order.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumora_viewer {

class SettingsProfile {
public:
    static constexpr const char* kFormatLine = "lumora-viewer-profile 1";

    void Set(const std::string& name, const std::string& value);
    std::optional<std::string> Get(const std::string& name) const;
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries_; }

    std::string Text() const;
    // nullopt when the text is not a profile (no format line); malformed lines are skipped
    // and described in `problems` ("line 4: ...").
    static std::optional<SettingsProfile> Parse(const std::string& text,
                                                std::vector<std::string>& problems);

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace lumora_viewer
