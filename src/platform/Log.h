#pragma once
// The library's diagnostic lines, for whoever runs a program with LUMORA_DEBUG set; the library
// never reads them back and they never change what a call does. They go to standard error (to
// the debugger's output on Windows).
//
// LUMORA_DEBUG holds a list of categories, each with an optional level: `usb,window:2`. A
// category alone means level 1 (notes: fallbacks, failures, hints); level 2 adds the traces
// (every enumeration, every transfer); `all` names every category. Unset, empty or `0` is
// silence; any other value that is not such a list (`1`, `yes`) turns everything on.
#include <array>
#include <functional>
#include <string>

#include "platform/PrintfFormat.h"

namespace lumora::platform {

enum class LogCategory {
    kUsb,     // the transport: enumeration, requests, transfers, the device table
    kPort,    // the port's backends (libusb)
    kWindow,  // preview windows: X errors, fallbacks
    kDialog,  // why a settings dialog could not be shown
    kFile,    // files: the image codecs' complaints about a save that failed
};
inline constexpr int kLogCategoryCount = 5;
inline constexpr int kLogMaxLevel = 2;

// The level each category is on at (0: off), indexed by LogCategory.
struct LogSettings {
    std::array<int, kLogCategoryCount> levels{};
    bool operator==(const LogSettings&) const = default;
};
LogSettings ParseLogSettings(const char* value);

// True when lines of `category` at `level` are wanted. Cheap; safe from any thread.
bool LogEnabled(LogCategory category, int level = 1);
// Writes `text` as it is, as one piece, when it is wanted.
void LogText(LogCategory category, int level, const char* text);
// The same with printf-style formatting (cut at 1023 bytes).
void Log(LogCategory category, int level, const char* format, ...) LUMORA_PRINTF_FORMAT(3, 4);

// Tests replace the settings LUMORA_DEBUG gave and where lines go (null: the system's output).
void SetLogSettingsForTesting(const LogSettings& settings);
void SetLogSinkForTesting(std::function<void(const std::string&)> sink);

}  // namespace lumora::platform
