#pragma once
// Text conversion between the interface's UTF-16 strings and narrow strings in the caller's
// character set: the thread's ANSI code page on Windows, the locale's character set (through
// iconv) on POSIX systems.
#include <cstddef>
#include <string>
#include <string_view>

#include "lumora/lumora.h"

namespace lumora::platform {

// The interface's wide character: wchar_t on Windows, char16_t elsewhere (where wchar_t is
// 32-bit); UTF-16 on both, so every size counted in wide units means the same.
using WideChar = LUMORA_WCHAR;
using WideString = std::basic_string<WideChar>;
using WideStringView = std::basic_string_view<WideChar>;
static_assert(sizeof(WideChar) == 2, "wide strings are UTF-16");

// Wide arguments are converted into a buffer of this size; the result and its terminator must
// fit in one byte less, as the callers have always required.
inline constexpr size_t kNarrowBufferSize = 1024;
inline constexpr size_t kMaxNarrowLength = kNarrowBufferSize - 2;

// The calling thread's character set, as a name the conversions below take: the locale's
// character set on POSIX systems (UTF-8 for a program that never chose a locale, whose ASCII
// would refuse every non-ASCII path), the thread's ANSI code page on Windows ("CP1252").
std::string LocaleCodeset();
// The process's character set: the same as the thread's on POSIX systems, the process's ANSI
// code page on Windows.
std::string ProcessCodeset();

// Length in UTF-16 units up to the terminator.
size_t WideLength(const WideChar* text);

// Character-set names: "UTF-8", "ISO-8859-1", and on Windows also "CP<number>" for any code
// page the system knows. False for invalid UTF-16 (a lone surrogate), a character the target
// set cannot represent, or a result longer than maxBytes (not counting the terminator). `out`
// is cleared on failure.
bool WideToNarrow(WideStringView in, std::string& out, size_t maxBytes = kMaxNarrowLength,
                  const std::string& codeset = LocaleCodeset());

// False for bytes that are not valid in the source set.
bool NarrowToWide(std::string_view in, WideString& out,
                  const std::string& codeset = LocaleCodeset());

}  // namespace lumora::platform
