// The viewer's texts: T("English") gives the text in the user's language. N_ marks texts that
// are translated later, where they are shown (both are the keywords the catalogue is extracted
// with).
#pragma once

#include <string>

#define N_(text) text

namespace lumora_viewer {

// Loads the catalogue of the user's language (MessageCatalog::LanguageFromEnvironment) from
// `localeDir`/<language>/LC_MESSAGES/lumora-viewer.mo; English needs none. Call once, before
// any window is built.
void LoadTranslations(const std::string& localeDir);
const char* T(const char* english);
inline std::string T(const std::string& english) {
    return T(english.c_str());
}

}  // namespace lumora_viewer
