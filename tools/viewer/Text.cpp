#include "Text.h"

#include "MessageCatalog.h"

namespace lumora_viewer {
namespace {

MessageCatalog& Catalog() {
    static MessageCatalog catalog;
    return catalog;
}

}  // namespace

void LoadTranslations(const std::string& localeDir) {
    const std::string language = MessageCatalog::LanguageFromEnvironment();
    if (language.empty()) {
        Catalog() = MessageCatalog();
        return;
    }
    Catalog().Load(localeDir + "/" + language + "/LC_MESSAGES/lumora-viewer.mo");
}

const char* T(const char* english) {
    return Catalog().Translate(english);
}

}  // namespace lumora_viewer
