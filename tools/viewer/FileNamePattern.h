// File names for snapshots and recordings: a pattern whose run of '#' becomes a counter with at
// least that many digits ("swir-####" -> "swir-0007.png"); without '#' the counter is appended
// as "_0007". Existing files are never overwritten: the counter moves on past them.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lumora_viewer {

class FileNamePattern {
public:
    // Empty or holding a '/' (a pattern names files in the chosen folder): nullopt.
    static std::optional<FileNamePattern> Parse(const std::string& pattern);

    // The name for `counter` with `extension` (".png"; may be empty).
    std::string NameFor(int counter, const std::string& extension) const;

    // The first counter from `start` on whose name is still free, and the file's path in
    // `folder`. `taken` is asked about the path without extension, so a number used by a file
    // of one kind is not used again by another ("a-0001.tif" beside "a-0001.png").
    struct Slot {
        int counter = 0;
        std::string path;
    };
    Slot NextFree(const std::string& folder, int start, const std::string& extension,
                  const std::function<bool(const std::string& stem)>& taken) const;

private:
    std::string before_;
    std::string after_;
    int digits_ = 4;
};

}  // namespace lumora_viewer
