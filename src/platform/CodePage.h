#pragma once
// Text conversion between the interface's UTF-16 strings and narrow strings in the caller's
// locale character set (the stand-in for the thread's ANSI code page), through iconv.
#include <cstddef>
#include <string>
#include <string_view>

namespace lumora::platform {

// Wide arguments are converted into a buffer of this size; the result and its terminator must
// fit in one byte less, as the callers have always required.
inline constexpr size_t kNarrowBufferSize = 1024;
inline constexpr size_t kMaxNarrowLength = kNarrowBufferSize - 2;

// The character set of the calling thread's locale. A program that never chose a locale runs in
// "C", whose ASCII would refuse every non-ASCII path; UTF-8 is taken then, as Linux file names are.
std::string LocaleCodeset();

// Length in UTF-16 units up to the terminator.
size_t WideLength(const char16_t* text);

// False for invalid UTF-16 (a lone surrogate), a character the target set cannot represent, or a
// result longer than maxBytes (not counting the terminator). `out` is cleared on failure.
bool WideToNarrow(std::u16string_view in, std::string& out, size_t maxBytes = kMaxNarrowLength,
                  const std::string& codeset = LocaleCodeset());

// False for bytes that are not valid in the source set.
bool NarrowToWide(std::string_view in, std::u16string& out,
                  const std::string& codeset = LocaleCodeset());

}  // namespace lumora::platform
