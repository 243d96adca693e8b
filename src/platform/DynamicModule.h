#pragma once
// A module loaded at run time (a shared object; a DLL on Windows). It stays loaded for the rest
// of the process: what such modules start (GTK, for one) cannot be unloaded safely.
#include <optional>
#include <string>

namespace lumora::platform {

class DynamicModule {
public:
    // Loads `path` (a bare file name goes through the system's search); nothing, with the
    // system's reason in *error, when it cannot be loaded.
    static std::optional<DynamicModule> Load(const std::string& path, std::string* error);
    // The address of an exported symbol; null when the module has none of that name.
    void* Symbol(const char* name) const;

private:
    explicit DynamicModule(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace lumora::platform
