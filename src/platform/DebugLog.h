#pragma once
// The library's debug output, the counterpart of the debugger output a Windows program writes
// to: messages for a developer (a codec's complaint, why a fallback was taken), never for the
// application, which learns of failures through results and error codes. On Linux they go to
// standard error, and only when LUMORA_DEBUG is set (and not "0").
//
// Threads: any thread; each message is written whole.
#include <cstdarg>

namespace lumora::platform {

bool DebugLogEnabled();
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugLogV(const char* format, va_list arguments);

}  // namespace lumora::platform
