// LUMORA_DEBUG is read here and nowhere else, once per process.
#include "platform/Log.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>

namespace lumora::platform {

// The system's diagnostic output (LogPosix.cpp, LogWin32.cpp).
void WriteToSystemLog(const char* text);

namespace {

constexpr std::array<std::string_view, kLogCategoryCount> kCategoryNames{"usb", "port", "window",
                                                                         "dialog"};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// One item of a category list into `settings`; false when it is not one.
bool ApplyItem(std::string_view item, LogSettings& settings) {
    item = Trimmed(item);
    int level = 1;
    if (const size_t colon = item.find(':'); colon != std::string_view::npos) {
        const std::string_view digits = Trimmed(item.substr(colon + 1));
        if (digits.size() != 1 || !std::isdigit(static_cast<unsigned char>(digits[0])))
            return false;
        level = std::min(digits[0] - '0', kLogMaxLevel);
        item = Trimmed(item.substr(0, colon));
    }
    if (SameName(item, "all")) {
        settings.levels.fill(level);
        return true;
    }
    for (size_t i = 0; i < kCategoryNames.size(); ++i) {
        if (SameName(item, kCategoryNames[i])) {
            settings.levels[i] = level;
            return true;
        }
    }
    return false;
}

// Settings are read on every check, so they live in atomics rather than behind a lock.
struct State {
    std::array<std::atomic<int>, kLogCategoryCount> levels{};
    std::mutex sinkMutex;  // guards sink and serialises writes to it
    std::function<void(const std::string&)> sink;

    State() { Store(ParseLogSettings(std::getenv("LUMORA_DEBUG"))); }
    void Store(const LogSettings& settings) {
        for (size_t i = 0; i < levels.size(); ++i) levels[i] = settings.levels[i];
    }
};

State& GetState() {
    static State* state = new State;  // never destroyed: threads may log during exit
    return *state;
}

}  // namespace

LogSettings ParseLogSettings(const char* value) {
    LogSettings settings;
    if (value == nullptr || *value == '\0' || std::string_view(value) == "0") return settings;
    std::string_view rest(value);
    for (;;) {
        const size_t comma = rest.find(',');
        if (!ApplyItem(rest.substr(0, comma), settings)) {
            // Not a category list: the old meaning of any value, everything on.
            settings.levels.fill(kLogMaxLevel);
            return settings;
        }
        if (comma == std::string_view::npos) return settings;
        rest.remove_prefix(comma + 1);
    }
}

bool LogEnabled(LogCategory category, int level) {
    const auto index = static_cast<size_t>(category);
    return index < kLogCategoryCount && level <= GetState().levels[index].load();
}

void LogText(LogCategory category, int level, const char* text) {
    if (text == nullptr || !LogEnabled(category, level)) return;
    State& state = GetState();
    std::lock_guard lock(state.sinkMutex);
    if (state.sink) {
        state.sink(text);
    } else {
        WriteToSystemLog(text);
    }
}

void Log(LogCategory category, int level, const char* format, ...) {
    if (format == nullptr || !LogEnabled(category, level)) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogText(category, level, text);
}

void SetLogSettingsForTesting(const LogSettings& settings) {
    GetState().Store(settings);
}

void SetLogSinkForTesting(std::function<void(const std::string&)> sink) {
    State& state = GetState();
    std::lock_guard lock(state.sinkMutex);
    state.sink = std::move(sink);
}

}  // namespace lumora::platform
