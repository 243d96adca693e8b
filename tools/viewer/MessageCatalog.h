// The viewer's translations: a compiled gettext catalogue (.mo) read by the viewer itself, so
// the Japanese texts show whenever the user's language asks for them, also where the system
// has no Japanese locale installed (the settings dialogs behave the same way).
#pragma once

#include <string>
#include <unordered_map>

namespace lumora_viewer {

class MessageCatalog {
public:
    // False (and no translations) for a missing or malformed file.
    bool Load(const std::string& path);
    bool Empty() const { return entries_.empty(); }
    // The translation of `text`, or `text` itself. The pointer stays valid while the catalogue
    // is neither loaded again nor destroyed.
    const char* Translate(const char* text) const;

    // The language the user asked for, from LC_ALL, LC_MESSAGES or LANG (the first one set):
    // "ja" when it starts with "ja", else "" (English).
    static std::string LanguageFromEnvironment();

private:
    std::unordered_map<std::string, std::string> entries_;
};

}  // namespace lumora_viewer
