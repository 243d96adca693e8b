#include <cstdio>

#include "platform/Win32Api.h"

namespace lumora::platform {

// The debugger's output, as the system was designed to trace, and standard error as well, so a
// line is seen where the program was started from too.
void WriteToSystemLog(const char* text) {
    ::OutputDebugStringA(text);
    std::fputs(text, stderr);
}

}  // namespace lumora::platform
