#pragma once
// Running the independent readers (ffprobe, ffmpeg) the interop tests judge files with.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumora::testing {

// Standard output of a shell command; its errors are dropped.
inline std::string Shell(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

inline bool HaveFfmpeg() {
    return std::system("command -v ffprobe >/dev/null 2>&1 && command -v ffmpeg >/dev/null 2>&1") ==
           0;
}

}  // namespace lumora::testing
