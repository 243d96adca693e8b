#include "platform/DebugLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumora::platform {

bool DebugLogEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("LUMORA_DEBUG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void DebugLog(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    DebugLogV(format, arguments);
    va_end(arguments);
}

void DebugLogV(const char* format, va_list arguments) {
    if (!DebugLogEnabled()) return;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::fprintf(stderr, "lumora: %s\n", text);
}

}  // namespace lumora::platform
