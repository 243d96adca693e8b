#include "platform/ModulePath.h"

#include <vector>

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

// The full file name of `module` (null: the program), however long.
std::string ModuleFileName(HMODULE module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameA(module, buffer.data(),
                                             static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string FolderOf(const std::string& path) {
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace

std::string ExecutableFolder() {
    return FolderOf(ModuleFileName(nullptr));
}

std::string LibraryFolder() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&LibraryFolder), &module)) {
        return {};
    }
    return FolderOf(ModuleFileName(module));
}

}  // namespace lumora::platform
