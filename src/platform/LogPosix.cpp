#include <cstdio>

namespace lumora::platform {

// Standard error is unbuffered: a line leaves at once.
void WriteToSystemLog(const char* text) {
    std::fputs(text, stderr);
}

}  // namespace lumora::platform
