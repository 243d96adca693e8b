#include "platform/SettingsKey.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

namespace lumora::platform {
namespace {

constexpr std::string_view kHeaderLine = "LumoraSettings 1";
constexpr std::string_view kEndLine = "end";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasControl(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// Splits "a\b\c" into its parts; an empty path gives no parts.
std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const size_t cut = path.find('\\');
        parts.push_back(path.substr(0, cut));
        if (cut == std::string_view::npos) break;
        path.remove_prefix(cut + 1);
        if (path.empty()) parts.emplace_back();  // a trailing separator is an empty, invalid part
    }
    return parts;
}

// ---- text form -------------------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendValue(std::string& out, const SettingsValue& value) {
    if (const auto* dword = std::get_if<uint32_t>(&value)) {
        // Signed decimal: the settings are signed integers, and "-255" reads better than
        // "4294967041". The parser takes either form.
        out += "dword:" + std::to_string(static_cast<int32_t>(*dword));
    } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
        out += "binary:";
        for (size_t i = 0; i < bytes->size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", (*bytes)[i]);
            out += hex;
        }
    } else {
        out += "string:";
        AppendQuoted(out, std::get<std::string>(value));
    }
}

void AppendKey(std::string& out, const SettingsKey& key, const std::string& path) {
    if (!path.empty() || !key.ValueMap().empty()) {
        out += '\n';
        out += '[' + path + "]\n";
        for (const auto& [name, value] : key.ValueMap()) {
            AppendQuoted(out, name);
            out += " = ";
            AppendValue(out, value);
            out += '\n';
        }
    }
    for (const auto& [name, child] : key.SubkeyMap()) {
        AppendKey(out, *child, path.empty() ? name : path + '\\' + name);
    }
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads a quoted string at the front of `s` and removes it from `s`.
bool ParseQuoted(std::string_view& s, std::string& out) {
    out.clear();
    if (s.empty() || s.front() != '"') return false;
    size_t i = 1;
    while (i < s.size() && s[i] != '"') {
        if (s[i] != '\\') {
            out += s[i++];
            continue;
        }
        if (i + 1 >= s.size()) return false;
        const char escaped = s[i + 1];
        if (escaped == '"' || escaped == '\\') {
            out += escaped;
            i += 2;
        } else if (escaped == 'x' && i + 3 < s.size() && HexDigit(s[i + 2]) >= 0 &&
                   HexDigit(s[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
            i += 4;
        } else {
            return false;
        }
    }
    if (i >= s.size()) return false;
    s.remove_prefix(i + 1);
    return true;
}

bool ParseDword(std::string_view s, uint32_t& value) {
    if (s.empty()) return false;
    int64_t parsed = 0;
    const char* begin = s.data();
    const char* end = s.data() + s.size();
    std::from_chars_result result{};
    if (s.size() > 2 && s[0] == '0' && LowerAscii(s[1]) == 'x') {
        result = std::from_chars(begin + 2, end, parsed, 16);
    } else {
        result = std::from_chars(begin, end, parsed, 10);
    }
    if (result.ec != std::errc{} || result.ptr != end) return false;
    if (parsed < INT32_MIN || parsed > static_cast<int64_t>(UINT32_MAX)) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool ParseBinary(std::string_view s, std::vector<uint8_t>& bytes) {
    bytes.clear();
    while (!s.empty()) {
        if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) return false;
        bytes.push_back(static_cast<uint8_t>(HexDigit(s[0]) * 16 + HexDigit(s[1])));
        s.remove_prefix(2);
        if (!s.empty()) {
            if (s.front() != ' ') return false;
            s = Trim(s);
        }
    }
    return true;
}

bool ParseValueLine(std::string_view line, std::string& name, SettingsValue& value,
                    std::string& why) {
    if (!ParseQuoted(line, name)) {
        why = "bad value name";
        return false;
    }
    if (!SettingsKey::IsValidValueName(name)) {
        why = "invalid value name";
        return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') {
        why = "missing '='";
        return false;
    }
    line = Trim(line.substr(1));
    if (line.starts_with("dword:")) {
        uint32_t dword = 0;
        if (!ParseDword(Trim(line.substr(6)), dword)) {
            why = "bad dword";
            return false;
        }
        value = dword;
    } else if (line.starts_with("binary:")) {
        std::vector<uint8_t> bytes;
        if (!ParseBinary(Trim(line.substr(7)), bytes)) {
            why = "bad binary";
            return false;
        }
        value = std::move(bytes);
    } else if (line.starts_with("string:")) {
        std::string_view rest = Trim(line.substr(7));
        std::string text;
        if (!ParseQuoted(rest, text) || !Trim(rest).empty()) {
            why = "bad string";
            return false;
        }
        value = std::move(text);
    } else {
        why = "unknown value type";
        return false;
    }
    return true;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return LowerAscii(x) < LowerAscii(y);
    });
}

SettingsKey::SettingsKey(const SettingsKey& other) : values_(other.values_) {
    for (const auto& [name, child] : other.subkeys_) {
        subkeys_.emplace(name, std::make_unique<SettingsKey>(*child));
    }
}

SettingsKey& SettingsKey::operator=(const SettingsKey& other) {
    if (this != &other) {
        SettingsKey copy(other);
        *this = std::move(copy);
    }
    return *this;
}

bool SettingsKey::IsValidKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength &&
           name.find('\\') == std::string_view::npos && !HasControl(name);
}

bool SettingsKey::IsValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && !HasControl(name);
}

SettingsKey* SettingsKey::Open(std::string_view path) {
    return const_cast<SettingsKey*>(std::as_const(*this).Open(path));
}

const SettingsKey* SettingsKey::Open(std::string_view path) const {
    const SettingsKey* key = this;
    for (std::string_view part : SplitPath(path)) {
        const auto found = key->subkeys_.find(part);
        if (found == key->subkeys_.end()) return nullptr;
        key = found->second.get();
    }
    return key;
}

SettingsKey* SettingsKey::Create(std::string_view path) {
    const auto parts = SplitPath(path);
    if (!std::all_of(parts.begin(), parts.end(), IsValidKeyName)) return nullptr;
    SettingsKey* key = this;
    for (std::string_view part : parts) {
        auto found = key->subkeys_.find(part);
        if (found == key->subkeys_.end()) {
            found = key->subkeys_.emplace(std::string(part), std::make_unique<SettingsKey>()).first;
        }
        key = found->second.get();
    }
    return key;
}

bool SettingsKey::DeleteSubkey(std::string_view name) {
    const auto found = subkeys_.find(name);
    if (found == subkeys_.end()) return false;
    subkeys_.erase(found);
    return true;
}

const SettingsValue* SettingsKey::Query(std::string_view name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? nullptr : &found->second;
}

std::optional<uint32_t> SettingsKey::QueryDword(std::string_view name) const {
    const SettingsValue* value = Query(name);
    if (value == nullptr || !std::holds_alternative<uint32_t>(*value)) return std::nullopt;
    return std::get<uint32_t>(*value);
}

std::optional<std::vector<uint8_t>> SettingsKey::QueryBinary(std::string_view name) const {
    const SettingsValue* value = Query(name);
    if (value == nullptr || !std::holds_alternative<std::vector<uint8_t>>(*value)) {
        return std::nullopt;
    }
    return std::get<std::vector<uint8_t>>(*value);
}

std::optional<std::string> SettingsKey::QueryString(std::string_view name) const {
    const SettingsValue* value = Query(name);
    if (value == nullptr || !std::holds_alternative<std::string>(*value)) return std::nullopt;
    return std::get<std::string>(*value);
}

bool SettingsKey::Set(std::string_view name, SettingsValue value) {
    if (!IsValidValueName(name)) return false;
    const auto found = values_.find(name);
    if (found != values_.end()) {
        found->second = std::move(value);
    } else {
        values_.emplace(std::string(name), std::move(value));
    }
    return true;
}

bool SettingsKey::SetDword(std::string_view name, uint32_t value) {
    return Set(name, value);
}

bool SettingsKey::SetBinary(std::string_view name, std::span<const uint8_t> bytes) {
    return Set(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

bool SettingsKey::SetString(std::string_view name, std::string_view text) {
    return Set(name, std::string(text));
}

bool SettingsKey::DeleteValue(std::string_view name) {
    const auto found = values_.find(name);
    if (found == values_.end()) return false;
    values_.erase(found);
    return true;
}

bool operator==(const SettingsKey& a, const SettingsKey& b) {
    if (a.values_ != b.values_ || a.subkeys_.size() != b.subkeys_.size()) return false;
    return std::equal(
        a.subkeys_.begin(), a.subkeys_.end(), b.subkeys_.begin(),
        [](const auto& x, const auto& y) { return x.first == y.first && *x.second == *y.second; });
}

std::string FormatSettingsText(const SettingsKey& root) {
    std::string out;
    out += "# Lumora camera settings. One [key] section per key, then its values as\n";
    out += "# \"name\" = dword:<integer> | binary:<hex bytes> | string:\"<text>\".\n";
    out += kHeaderLine;
    out += '\n';
    AppendKey(out, root, "");
    out += '\n';
    out += kEndLine;
    out += '\n';
    return out;
}

bool ParseSettingsText(std::string_view text, SettingsKey& root, std::string& error) {
    root = SettingsKey();
    if (text.size() > kMaxSettingsTextSize) {
        error = "larger than " + std::to_string(kMaxSettingsTextSize) + " bytes";
        return false;
    }
    SettingsKey parsed;
    SettingsKey* current = nullptr;
    size_t keys = 0;
    bool seenHeader = false;
    bool seenEnd = false;
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (!text.empty()) {
        const size_t cut = text.find('\n');
        std::string_view line = Trim(text.substr(0, cut));
        text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        if (line.find('\0') != std::string_view::npos) return fail("NUL byte");
        if (seenEnd) return fail("text after the end line");
        if (!seenHeader) {
            if (line != kHeaderLine) return fail("not a settings file");
            seenHeader = true;
        } else if (line == kEndLine) {
            seenEnd = true;
        } else if (line.front() == '[') {
            if (line.back() != ']') return fail("unterminated section");
            const std::string_view path = line.substr(1, line.size() - 2);
            const size_t depth = path.empty() ? 0 : 1 + std::count(path.begin(), path.end(), '\\');
            if (depth > kMaxSettingsDepth) return fail("keys nested too deep");
            // Each section may add up to `depth` keys; counting that way keeps the bound cheap.
            keys += depth;
            if (keys > kMaxSettingsKeys) return fail("too many keys");
            current = path.empty() ? &parsed : parsed.Create(path);
            if (current == nullptr) return fail("invalid key name");
        } else if (line.front() == '"') {
            if (current == nullptr) return fail("value outside a section");
            std::string name;
            SettingsValue value;
            std::string why;
            if (!ParseValueLine(line, name, value, why)) return fail(why);
            if (current->Query(name) != nullptr) return fail("duplicate value \"" + name + '"');
            current->Set(name, std::move(value));
        } else {
            return fail("unrecognised line");
        }
    }
    if (!seenHeader) return fail("empty file");
    if (!seenEnd) return fail("missing end line (truncated?)");
    root = std::move(parsed);
    return true;
}

}  // namespace lumora::platform
