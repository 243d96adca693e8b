// Text conversion through the system's code pages.
#include "platform/CodePage.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

constexpr const char* kThreadCodePage = "CP_THREAD_ACP";
constexpr const char* kProcessCodePage = "CP_ACP";

// The code page a character-set name stands for; false for a name we do not know.
bool CodePageOf(const std::string& codeset, UINT& codePage) {
    if (codeset == kThreadCodePage) {
        codePage = CP_THREAD_ACP;
    } else if (codeset == kProcessCodePage) {
        codePage = CP_ACP;
    } else if (codeset == "UTF-8") {
        codePage = CP_UTF8;
    } else if (codeset == "ISO-8859-1") {
        codePage = 28591;
    } else if (codeset.size() > 2 && codeset.compare(0, 2, "CP") == 0) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(codeset.c_str() + 2, &end, 10);
        if (*end != '\0' || number == 0 || number > 65535) return false;
        codePage = static_cast<UINT>(number);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string LocaleCodeset() {
    return kThreadCodePage;
}

std::string ProcessCodeset() {
    return kProcessCodePage;
}

size_t WideLength(const WideChar* text) {
    return text != nullptr ? std::wcslen(text) : 0;
}

bool WideToNarrow(WideStringView in, std::string& out, size_t maxBytes,
                  const std::string& codeset) {
    out.clear();
    UINT codePage = 0;
    if (!CodePageOf(codeset, codePage)) return false;
    if (in.empty()) return true;
    if (in.size() > static_cast<size_t>(INT32_MAX)) return false;
    const int inLength = static_cast<int>(in.size());
    // A character the code page lacks must fail, not turn into '?' or a look-alike; UTF-8 has
    // every character, and only an invalid input (a lone surrogate) fails there.
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int size = ::WideCharToMultiByte(codePage, flags, in.data(), inLength, nullptr, 0,
                                           nullptr, usedDefaultOut);
    if (size <= 0 || usedDefault) return false;
    if (static_cast<size_t>(size) > maxBytes) return false;
    std::string buffer(static_cast<size_t>(size), '\0');
    if (::WideCharToMultiByte(codePage, flags, in.data(), inLength, buffer.data(), size, nullptr,
                              usedDefaultOut) != size ||
        usedDefault) {
        return false;
    }
    out = std::move(buffer);
    return true;
}

bool NarrowToWide(std::string_view in, WideString& out, const std::string& codeset) {
    out.clear();
    UINT codePage = 0;
    if (!CodePageOf(codeset, codePage)) return false;
    if (in.empty()) return true;
    if (in.size() > static_cast<size_t>(INT32_MAX)) return false;
    const int inLength = static_cast<int>(in.size());
    const int size =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), inLength, nullptr, 0);
    if (size <= 0) return false;
    WideString buffer(static_cast<size_t>(size), L'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), inLength, buffer.data(),
                              size) != size) {
        return false;
    }
    out = std::move(buffer);
    return true;
}

}  // namespace lumora::platform
