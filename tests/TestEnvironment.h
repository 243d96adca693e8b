#pragma once
// Setting and removing environment variables in tests, alike on both systems. On Windows
// _putenv_s changes the process's environment as well as the C runtime's copy, so the library
// sees the change whichever way it reads.
#include <cstdlib>
#include <string>

namespace lumora::testing {

inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void RemoveEnvironment(const char* name) {
#if defined(_WIN32)
    ::_putenv_s(name, "");  // an empty value removes the variable there
#else
    ::unsetenv(name);
#endif
}

}  // namespace lumora::testing
