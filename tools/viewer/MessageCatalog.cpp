#include "MessageCatalog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lumora_viewer {
namespace {

constexpr uint32_t kMagic = 0x950412de;

// A 32-bit word of the file in its byte order; 0 past the end.
uint32_t Word(const std::string& data, uint64_t offset, bool swapped) {
    if (offset + 4 > data.size()) return 0;
    uint32_t v = 0;
    std::memcpy(&v, data.data() + offset, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

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

}  // namespace

bool MessageCatalog::Load(const std::string& path) {
    entries_.clear();
    std::string data;
    if (!ReadWholeFile(path, data) || data.size() < 28) return false;
    uint32_t magic = 0;
    std::memcpy(&magic, data.data(), 4);
    const bool swapped = magic == __builtin_bswap32(kMagic);
    if (!swapped && magic != kMagic) return false;
    const uint32_t count = Word(data, 8, swapped);
    const uint32_t originals = Word(data, 12, swapped);
    const uint32_t translations = Word(data, 16, swapped);
    if (count > data.size() / 16) return false;
    // Each table row is (length, offset); every string must lie inside the file.
    const auto text = [&](uint32_t table, uint32_t i, std::string& out) {
        const uint64_t row = static_cast<uint64_t>(table) + 8ull * i;
        if (row + 8 > data.size()) return false;
        const uint32_t length = Word(data, row, swapped);
        const uint32_t offset = Word(data, row + 4, swapped);
        if (static_cast<uint64_t>(offset) + length > data.size()) return false;
        out.assign(data.data() + offset, length);
        return true;
    };
    std::unordered_map<std::string, std::string> entries;
    for (uint32_t i = 0; i < count; ++i) {
        std::string original;
        std::string translation;
        if (!text(originals, i, original) || !text(translations, i, translation)) return false;
        if (original.empty() || translation.empty()) continue;  // the header entry
        entries.emplace(std::move(original), std::move(translation));
    }
    entries_ = std::move(entries);
    return true;
}

const char* MessageCatalog::Translate(const char* text) const {
    if (text == nullptr || entries_.empty()) return text;
    const auto it = entries_.find(text);
    return it == entries_.end() ? text : it->second.c_str();
}

std::string MessageCatalog::LanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::strncmp(value, "ja", 2) == 0 ? "ja" : "";
    }
    return "";
}

}  // namespace lumora_viewer
