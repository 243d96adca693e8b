#pragma once
// The dialogs' texts in the user's language. English is the source text; Japanese comes from
// the "lumora-sdk" gettext catalogue (ja/LC_MESSAGES/lumora-sdk.mo) installed with the library.
//
// The language follows the user's environment (LC_ALL, then LC_MESSAGES, then LANG: Japanese
// when the first one set starts with "ja") rather than the process locale, so an application
// that never called setlocale still shows its user's language, and no generated locale is
// needed. The catalogue is read once; lookups are safe from any thread.
#include <string>
#include <vector>

namespace lumora::ui {

// `english` in the user's language; `english` itself when there is no translation.
std::string Tr(const std::string& english);

// "ja" or "" (English), as the environment says now.
std::string UserLanguage();

// The texts of a gettext binary catalogue; empty when `path` is missing or damaged.
class MessageCatalog {
public:
    bool Load(const std::string& path);
    // The translation of `english`, or null.
    const std::string* Find(const std::string& english) const;
    size_t Size() const;

private:
    struct Entry {
        std::string original;
        std::string translation;
    };
    std::vector<Entry> entries_;  // sorted by original
};

// The folder that holds "<lang>/LC_MESSAGES/lumora-sdk.mo": LUMORA_LOCALEDIR, else "locale"
// beside the library, else the install location.
std::string CatalogPath(const std::string& language);

}  // namespace lumora::ui
