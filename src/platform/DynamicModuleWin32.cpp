#include "platform/DynamicModule.h"

#include "platform/Win32Api.h"

namespace lumora::platform {

std::optional<DynamicModule> DynamicModule::Load(const std::string& path, std::string* error) {
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (module == nullptr) {
        if (error != nullptr) {
            *error = path + ": cannot be loaded (system error " + std::to_string(::GetLastError()) + ")";
        }
        return std::nullopt;
    }
    return DynamicModule(module);
}

void* DynamicModule::Symbol(const char* name) const {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace lumora::platform
