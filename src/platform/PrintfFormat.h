#pragma once
// Format checking for the SDK's printf-style functions. They hand their text to the C library's
// printf family; with mingw-w64's C++ runtime that is its own C99 printf (which knows %zu and
// %lld), not the system's older rules, so the checks must follow the C99 rules there too.
#if defined(_WIN32)
#define LUMORA_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define LUMORA_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#endif
