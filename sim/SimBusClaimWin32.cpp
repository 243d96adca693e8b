#include "sim/SimBusClaim.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/Win32Api.h"

namespace lumora::sim {
namespace {

// On Windows the claim is a named kernel object of the session: the first process to create it
// holds the camera, and the system drops it with the last handle, however the process ends.
struct Holder {
    HANDLE object = nullptr;
    int users = 0;
};

std::mutex gMutex;
std::map<std::string, Holder> gHolders;  // guarded by gMutex

std::string BusName() {
    const char* bus = std::getenv("LUMORA_SIM_BUS");
    return bus != nullptr && *bus != '\0' ? bus : "default";
}

// The object named `name`, or null when another process has it.
HANDLE CreateFirst(const std::string& name) {
    HANDLE object = ::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (object == nullptr) return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(object);
        return nullptr;
    }
    return object;
}

}  // namespace

bool SimBusClaim::Acquire() {
    if (held_) return true;
    // Kernel object names take no backslash after the namespace's.
    std::string name = "Local\\lumora-sim/" + BusName() + "/" + serialNumber_;
    for (size_t i = 6; i < name.size(); ++i) {
        if (name[i] == '\\') name[i] = '/';
    }
    std::lock_guard lock(gMutex);
    auto it = gHolders.find(name);
    if (it == gHolders.end()) {
        HANDLE object = CreateFirst(name);
        if (object == nullptr) return false;
        it = gHolders.emplace(name, Holder{object, 0}).first;
    }
    ++it->second.users;
    name_ = name;
    held_ = true;
    return true;
}

void SimBusClaim::Release() {
    if (!held_) return;
    held_ = false;
    std::lock_guard lock(gMutex);
    auto it = gHolders.find(name_);
    if (it == gHolders.end() || --it->second.users > 0) return;
    ::CloseHandle(it->second.object);
    gHolders.erase(it);
}

}  // namespace lumora::sim
