#include "platform/CodePage.h"

#include <iconv.h>
#include <langinfo.h>

#include <bit>
#include <cerrno>
#include <vector>

namespace lumora::platform {
namespace {

const char* NativeUtf16() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// Runs iconv over the whole input; false on any conversion error.
bool Convert(const char* to, const char* from, const char* input, size_t inputBytes,
             std::vector<char>& output) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    output.assign(inputBytes * 4 + 16, '\0');
    char* in = const_cast<char*>(input);
    size_t inLeft = inputBytes;
    char* out = output.data();
    size_t outLeft = output.size();
    bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
    // Flush any shift state.
    if (ok) ok = iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    output.resize(ok ? output.size() - outLeft : 0);
    return ok;
}

}  // namespace

std::string LocaleCodeset() {
    std::string codeset = nl_langinfo(CODESET);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "UTF-8";
    return codeset;
}

std::string ProcessCodeset() {
    return LocaleCodeset();
}

size_t WideLength(const WideChar* text) {
    size_t length = 0;
    if (text != nullptr) {
        while (text[length] != 0) ++length;
    }
    return length;
}

bool WideToNarrow(WideStringView in, std::string& out, size_t maxBytes,
                  const std::string& codeset) {
    out.clear();
    std::vector<char> buffer;
    if (!Convert(codeset.c_str(), NativeUtf16(), reinterpret_cast<const char*>(in.data()),
                 in.size() * sizeof(WideChar), buffer)) {
        return false;
    }
    if (buffer.size() > maxBytes) return false;
    out.assign(buffer.begin(), buffer.end());
    return true;
}

bool NarrowToWide(std::string_view in, WideString& out, const std::string& codeset) {
    out.clear();
    std::vector<char> buffer;
    if (!Convert(NativeUtf16(), codeset.c_str(), in.data(), in.size(), buffer)) return false;
    out.assign(reinterpret_cast<const WideChar*>(buffer.data()), buffer.size() / sizeof(WideChar));
    return true;
}

}  // namespace lumora::platform
