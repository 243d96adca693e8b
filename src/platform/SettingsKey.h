#pragma once
// One key of the settings tree that stands in for the per-user registry: named subkeys and
// named values (DWORD, binary or string). Names compare without regard to ASCII case, as the
// callers were written for a store that does, and keep the case they were created with.
//
// Threads: a plain value; whoever holds a tree guards it.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumora::platform {

struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// A stored value. The alternative is the value's type.
using SettingsValue = std::variant<uint32_t, std::vector<uint8_t>, std::string>;

class SettingsKey {
public:
    SettingsKey() = default;
    SettingsKey(const SettingsKey& other);
    SettingsKey& operator=(const SettingsKey& other);
    SettingsKey(SettingsKey&&) noexcept = default;
    SettingsKey& operator=(SettingsKey&&) noexcept = default;

    // Key names are non-empty, at most kMaxNameLength bytes, and hold no backslash (the path
    // separator) and no control character. Value names may be empty (the key's default value)
    // but hold no control character either.
    static constexpr size_t kMaxNameLength = 255;
    static constexpr size_t kMaxValueNameLength = 16383;
    static bool IsValidKeyName(std::string_view name);
    static bool IsValidValueName(std::string_view name);

    // `path` is one name or several joined by backslashes. Open returns null when any part is
    // missing; Create makes the missing parts and returns null only for an invalid name.
    SettingsKey* Open(std::string_view path);
    const SettingsKey* Open(std::string_view path) const;
    SettingsKey* Create(std::string_view path);
    bool DeleteSubkey(std::string_view name);

    // Queries give nothing when the value is missing or has another type.
    std::optional<uint32_t> QueryDword(std::string_view name) const;
    std::optional<std::vector<uint8_t>> QueryBinary(std::string_view name) const;
    std::optional<std::string> QueryString(std::string_view name) const;
    const SettingsValue* Query(std::string_view name) const;

    // False only for an invalid name; an existing value of any type is replaced.
    bool SetDword(std::string_view name, uint32_t value);
    bool SetBinary(std::string_view name, std::span<const uint8_t> bytes);
    bool SetString(std::string_view name, std::string_view text);
    bool Set(std::string_view name, SettingsValue value);
    bool DeleteValue(std::string_view name);

    using Subkeys = std::map<std::string, std::unique_ptr<SettingsKey>, CaseInsensitiveLess>;
    using Values = std::map<std::string, SettingsValue, CaseInsensitiveLess>;
    const Subkeys& SubkeyMap() const { return subkeys_; }
    const Values& ValueMap() const { return values_; }
    bool IsEmpty() const { return subkeys_.empty() && values_.empty(); }

    friend bool operator==(const SettingsKey& a, const SettingsKey& b);

private:
    Subkeys subkeys_;
    Values values_;
};

// The text form of a whole tree, one section per key: what the store keeps on disk.
std::string FormatSettingsText(const SettingsKey& root);
// What a settings text may hold. A tree is walked recursively (copy, compare, format, destroy),
// so its depth bounds the stack those walks take; the key count bounds the memory a text of
// allowed size can make the reader spend. The store writes a handful of keys a few levels deep.
inline constexpr size_t kMaxSettingsTextSize = 16 * 1024 * 1024;
inline constexpr size_t kMaxSettingsDepth = 32;
inline constexpr size_t kMaxSettingsKeys = 65536;

// Parses a whole text form. On failure `root` is left empty and `error` says where and why;
// nothing of a damaged text is ever kept. A text beyond the limits above is damaged.
bool ParseSettingsText(std::string_view text, SettingsKey& root, std::string& error);

}  // namespace lumora::platform
