#include "sim/SimBusClaim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace lumora::sim {

std::string SimBusClaim::ClaimName(const std::string& bus, const std::string& serialNumber) {
    return "lumora-sim/" + std::to_string(::geteuid()) + "/" + bus + "/" + serialNumber;
}

// A socket bound to `name` in the abstract namespace, or -1 when another process has it.
intptr_t SimBusClaim::Take(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);  // sun_path[0] = 0: abstract
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SimBusClaim::Drop(intptr_t claim) {
    ::close(static_cast<int>(claim));
}

}  // namespace lumora::sim
