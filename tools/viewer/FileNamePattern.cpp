#include "FileNamePattern.h"

#include <climits>
#include <cstdio>

namespace lumora_viewer {

std::optional<FileNamePattern> FileNamePattern::Parse(const std::string& pattern) {
    if (pattern.empty() || pattern.find('/') != std::string::npos || pattern == "." ||
        pattern == "..") {
        return std::nullopt;
    }
    FileNamePattern p;
    const size_t hash = pattern.find('#');
    if (hash == std::string::npos) {
        p.before_ = pattern + "_";
        return p;
    }
    size_t end = hash;
    while (end < pattern.size() && pattern[end] == '#') ++end;
    p.before_ = pattern.substr(0, hash);
    p.after_ = pattern.substr(end);
    p.digits_ = static_cast<int>(end - hash);
    return p;
}

std::string FileNamePattern::NameFor(int counter, const std::string& extension) const {
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", digits_ > 20 ? 20 : digits_,
                  counter < 0 ? 0 : counter);
    return before_ + number + after_ + extension;
}

FileNamePattern::Slot FileNamePattern::NextFree(
    const std::string& folder, int start, const std::string& extension,
    const std::function<bool(const std::string&)>& taken) const {
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    Slot slot;
    slot.counter = start < 0 ? 0 : start;
    for (;;) {
        const std::string stem = prefix + NameFor(slot.counter, "");
        if (!taken(stem) || slot.counter == INT_MAX) {
            slot.path = stem + extension;
            return slot;
        }
        ++slot.counter;
    }
}

}  // namespace lumora_viewer
