#include "platform/ModulePath.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>

namespace lumora::platform {
namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string ExecutableFolder() {
    std::array<char, 4096> buffer{};
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return FolderOf(std::string(buffer.data(), static_cast<size_t>(n)));
}

std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&LibraryFolder), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    return FolderOf(info.dli_fname);
}

}  // namespace lumora::platform
