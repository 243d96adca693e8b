// What both systems' claims share: the bus's name and the process-wide table that lets every
// camera object of one serial number share one claim. Taking and dropping a claim are each
// system's (SimBusClaimPosix.cpp, SimBusClaimWin32.cpp).
#include "sim/SimBusClaim.h"

#include <cstdlib>
#include <map>
#include <string>

#include "platform/Mutex.h"

namespace lumora::sim {
namespace {

struct Holder {
    intptr_t claim = -1;
    int users = 0;
};

platform::Mutex gMutex;
std::map<std::string, Holder> gHolders LUMORA_GUARDED_BY(gMutex);

std::string BusName() {
    const char* bus = std::getenv("LUMORA_SIM_BUS");
    return bus != nullptr && *bus != '\0' ? bus : "default";
}

}  // namespace

bool SimBusClaim::Acquire() {
    if (held_) return true;
    const std::string name = ClaimName(BusName(), serialNumber_);
    platform::MutexLock lock(gMutex);
    auto it = gHolders.find(name);
    if (it == gHolders.end()) {
        const intptr_t claim = Take(name);
        if (claim == -1) return false;
        it = gHolders.emplace(name, Holder{claim, 0}).first;
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
    Drop(it->second.claim);
    gHolders.erase(it);
}

}  // namespace lumora::sim
