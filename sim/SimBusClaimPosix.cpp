#include "sim/SimBusClaim.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/Mutex.h"

namespace lumora::sim {
namespace {

struct Holder {
    int socket = -1;
    int users = 0;
};

platform::Mutex gMutex;
std::map<std::string, Holder> gHolders LUMORA_GUARDED_BY(gMutex);

std::string BusName() {
    const char* bus = std::getenv("LUMORA_SIM_BUS");
    return bus != nullptr && *bus != '\0' ? bus : "default";
}

// A socket bound to `name` in the abstract namespace, or -1 when another process has it.
int BindAbstract(const std::string& name) {
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

}  // namespace

bool SimBusClaim::Acquire() {
    if (held_) return true;
    const std::string name =
        "lumora-sim/" + std::to_string(::geteuid()) + "/" + BusName() + "/" + serialNumber_;
    platform::MutexLock lock(gMutex);
    auto it = gHolders.find(name);
    if (it == gHolders.end()) {
        const int fd = BindAbstract(name);
        if (fd < 0) return false;
        it = gHolders.emplace(name, Holder{fd, 0}).first;
    }
    ++it->second.users;
    name_ = name;
    held_ = true;
    return true;
}

void SimBusClaim::Release() {
    if (!held_) return;
    held_ = false;
    platform::MutexLock lock(gMutex);
    auto it = gHolders.find(name_);
    if (it == gHolders.end() || --it->second.users > 0) return;
    ::close(it->second.socket);
    gHolders.erase(it);
}

}  // namespace lumora::sim
