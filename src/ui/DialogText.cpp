#include "ui/DialogText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/ModulePath.h"

namespace lumora::ui {
namespace {

constexpr uint32_t kMoMagic = 0x950412de;
constexpr const char* kDomain = "lumora-sdk";

#ifndef LUMORA_INSTALL_LOCALEDIR
#define LUMORA_INSTALL_LOCALEDIR "/usr/local/share/locale"
#endif

bool ReadWholeFile(const std::string& path, std::string& data) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool Exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

uint32_t Word(const std::string& data, size_t offset, bool swapped) {
    if (offset + 4 > data.size()) return 0;
    uint32_t v = 0;
    std::memcpy(&v, data.data() + offset, 4);
    if (swapped) v = __builtin_bswap32(v);
    return v;
}

}  // namespace

bool MessageCatalog::Load(const std::string& path) {
    entries_.clear();
    std::string data;
    if (!ReadWholeFile(path, data)) return false;
    if (data.size() < 28) return false;
    uint32_t magic = 0;
    std::memcpy(&magic, data.data(), 4);
    const bool swapped = magic == __builtin_bswap32(kMoMagic);
    if (!swapped && magic != kMoMagic) return false;
    const uint32_t count = Word(data, 8, swapped);
    const uint32_t originals = Word(data, 12, swapped);
    const uint32_t translations = Word(data, 16, swapped);
    if (count > data.size() / 16) return false;
    auto text = [&](uint32_t table, uint32_t i, std::string& out) {
        const uint64_t row = static_cast<uint64_t>(table) + 8ull * i;
        if (row + 8 > data.size()) return false;
        const uint32_t length = Word(data, row, swapped);
        const uint32_t offset = Word(data, row + 4, swapped);
        if (static_cast<uint64_t>(offset) + length > data.size()) return false;
        out.assign(data.data() + offset, length);
        return true;
    };
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (!text(originals, i, e.original) || !text(translations, i, e.translation)) return false;
        if (e.original.empty()) continue;  // the header
        // Plural forms hold several NUL-separated texts; the first serves.
        e.original.resize(std::strlen(e.original.c_str()));
        e.translation.resize(std::strlen(e.translation.c_str()));
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.original < b.original; });
    entries_ = std::move(entries);
    return true;
}

const std::string* MessageCatalog::Find(const std::string& english) const {
    const auto it =
        std::lower_bound(entries_.begin(), entries_.end(), english,
                         [](const Entry& e, const std::string& key) { return e.original < key; });
    if (it == entries_.end() || it->original != english || it->translation.empty()) return nullptr;
    return &it->translation;
}

size_t MessageCatalog::Size() const {
    return entries_.size();
}

std::string UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::strncmp(value, "ja", 2) == 0 ? "ja" : "";
    }
    return "";
}

std::string CatalogPath(const std::string& language) {
    const std::string tail = "/" + language + "/LC_MESSAGES/" + kDomain + ".mo";
    std::vector<std::string> folders;
    if (const char* dir = std::getenv("LUMORA_LOCALEDIR"); dir != nullptr && *dir != '\0')
        folders.emplace_back(dir);
    if (const std::string lib = platform::LibraryFolder(); !lib.empty())
        folders.push_back(lib + "locale");
    folders.emplace_back(LUMORA_INSTALL_LOCALEDIR);
    for (const std::string& folder : folders) {
        if (Exists(folder + tail)) return folder + tail;
    }
    return {};
}

std::string Tr(const std::string& english) {
    const std::string language = UserLanguage();
    if (language.empty()) return english;
    // One catalogue per language, loaded on first use and kept for the process.
    static std::mutex lock;
    static std::string loadedLanguage;
    static MessageCatalog catalog;
    std::lock_guard guard(lock);
    if (loadedLanguage != language) {
        catalog.Load(CatalogPath(language));
        loadedLanguage = language;
    }
    const std::string* found = catalog.Find(english);
    return found != nullptr ? *found : english;
}

}  // namespace lumora::ui
