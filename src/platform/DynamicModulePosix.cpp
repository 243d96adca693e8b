#include "platform/DynamicModule.h"

#include <dlfcn.h>

namespace lumora::platform {

std::optional<DynamicModule> DynamicModule::Load(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        if (error != nullptr) *error = why != nullptr ? why : std::string();
        return std::nullopt;
    }
    return DynamicModule(handle);
}

void* DynamicModule::Symbol(const char* name) const {
    return dlsym(handle_, name);
}

}  // namespace lumora::platform
