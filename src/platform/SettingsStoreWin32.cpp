// The settings store on Windows is the current user's registry itself. The store's path names
// the key below HKEY_CURRENT_USER that is the root of its tree (empty: HKEY_CURRENT_USER); the
// tree holds the vendor's key below it, the only part the SDK keeps settings in.
#include "platform/SettingsStore.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/LittleEndian.h"
#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

// One read-modify-write at a time across the processes of the session.
constexpr const char* kUpdateMutexName = "Local\\LumoraSdk settings";
constexpr DWORD kMaxValueBytes = 1024 * 1024;

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string Join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + '\\' + name;
}

// The registry path (below HKEY_CURRENT_USER) of a path inside the store's tree.
std::string RootPath(const std::filesystem::path& root) {
    std::string path = root.string();
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

void ReadValues(HKEY key, SettingsKey& into) {
    std::vector<char> name(SettingsKey::kMaxValueNameLength + 1);
    std::vector<uint8_t> data;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = ::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, nullptr,
                                  &size);
        if (rc != ERROR_SUCCESS) return;  // ERROR_NO_MORE_ITEMS at the end
        if (size > kMaxValueBytes) continue;
        data.assign(size, 0);
        nameLength = static_cast<DWORD>(name.size());
        rc = ::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                             &size);
        if (rc != ERROR_SUCCESS) continue;
        data.resize(size);
        const std::string_view valueName(name.data(), nameLength);
        if (type == REG_DWORD && size == 4) {
            into.SetDword(valueName, LoadLe32(data.data()));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::string text(data.begin(), data.end());
            while (!text.empty() && text.back() == '\0') text.pop_back();
            into.SetString(valueName, text);
        } else {
            into.SetBinary(valueName, data);
        }
    }
}

void ReadKey(HKEY key, SettingsKey& into, size_t depth) {
    ReadValues(key, into);
    if (depth >= kMaxSettingsDepth) return;
    char name[SettingsKey::kMaxNameLength + 1];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        RegistryKey child;
        if (::RegOpenKeyExA(key, name, 0, KEY_READ, child.Out()) != ERROR_SUCCESS) continue;
        if (SettingsKey* subkey = into.Create(std::string_view(name, length))) {
            ReadKey(child.Get(), *subkey, depth + 1);
        }
    }
}

bool WriteValue(HKEY key, const std::string& name, const SettingsValue& value) {
    if (const auto* dword = std::get_if<uint32_t>(&value)) {
        uint8_t bytes[4];
        StoreLe32(bytes, *dword);
        return ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, bytes, sizeof bytes) ==
               ERROR_SUCCESS;
    }
    if (const auto* binary = std::get_if<std::vector<uint8_t>>(&value)) {
        return ::RegSetValueExA(key, name.c_str(), 0, REG_BINARY, binary->data(),
                                static_cast<DWORD>(binary->size())) == ERROR_SUCCESS;
    }
    const auto& text = std::get<std::string>(value);
    return ::RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// Makes the registry key `path` hold what `wanted` holds, given that it held `stored`.
bool WriteKey(const std::string& path, const SettingsKey& wanted, const SettingsKey* stored) {
    RegistryKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, const_cast<char*>(""),
                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = true;
    for (const auto& [name, value] : wanted.ValueMap()) {
        const SettingsValue* old = stored != nullptr ? stored->Query(name) : nullptr;
        if (old == nullptr || *old != value) ok = WriteValue(key.Get(), name, value) && ok;
    }
    if (stored != nullptr) {
        for (const auto& [name, value] : stored->ValueMap()) {
            if (wanted.Query(name) == nullptr) {
                ok = ::RegDeleteValueA(key.Get(), name.c_str()) == ERROR_SUCCESS && ok;
            }
        }
        for (const auto& [name, subkey] : stored->SubkeyMap()) {
            if (wanted.Open(name) == nullptr) {
                ok = ::RegDeleteTreeA(key.Get(), name.c_str()) == ERROR_SUCCESS && ok;
                ::RegDeleteKeyA(key.Get(), name.c_str());
            }
        }
    }
    for (const auto& [name, subkey] : wanted.SubkeyMap()) {
        const SettingsKey* old = stored != nullptr ? stored->Open(name) : nullptr;
        ok = WriteKey(Join(path, name), *subkey, old) && ok;
    }
    return ok;
}

class UpdateLock {
public:
    UpdateLock() : mutex_(::CreateMutexA(nullptr, FALSE, kUpdateMutexName)) {
        // An owner that died leaves the mutex abandoned; the registry itself is whole.
        if (mutex_ != nullptr) {
            const DWORD rc = ::WaitForSingleObject(mutex_, INFINITE);
            locked_ = rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
        }
    }
    ~UpdateLock() {
        if (locked_) ::ReleaseMutex(mutex_);
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
    }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;
    bool IsLocked() const { return locked_; }

private:
    HANDLE mutex_;
    bool locked_ = false;
};

}  // namespace

std::filesystem::path SettingsStore::DefaultPath() {
    if (const char* own = std::getenv("LUMORA_REGISTRY_ROOT"); own != nullptr) return own;
    return {};
}

SettingsKey SettingsStore::Read() const {
    SettingsKey root;
    const std::string scopePath = Join(RootPath(path_), kRegistryScope);
    RegistryKey scope;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, scopePath.c_str(), 0, KEY_READ, scope.Out()) !=
        ERROR_SUCCESS) {
        return root;
    }
    if (SettingsKey* into = root.Create(kRegistryScope)) ReadKey(scope.Get(), *into, 1);
    return root;
}

bool SettingsStore::Update(const std::function<bool(SettingsKey& root)>& edit) {
    UpdateLock lock;
    if (!lock.IsLocked()) return false;
    const SettingsKey stored = Read();
    SettingsKey root = stored;
    if (!edit(root)) return false;
    const SettingsKey* wanted = root.Open(kRegistryScope);
    if (wanted == nullptr) return true;  // nothing of ours to keep
    return WriteKey(Join(RootPath(path_), kRegistryScope), *wanted, stored.Open(kRegistryScope));
}

}  // namespace lumora::platform
