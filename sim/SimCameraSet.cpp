#include "sim/SimCameraSet.h"

#include <cstdio>
#include <cstdlib>

#include "platform/port_libusb.h"
#include "platform/port_sim.h"

namespace lumora::sim {
namespace {

SimCameraIdentity IdentityFor(int index) {
    SimCameraIdentity identity;
    identity.index = index;
    identity.vendorId = platform::CameraVendorIdFromEnvironment().value_or(kSimVendorId);
    identity.productId = 0x3380;
    char serial[16];
    std::snprintf(serial, sizeof serial, "LUM%05d", index + 1);
    identity.serialNumber = serial;
    return identity;
}

}  // namespace

SimCameraSet& SimCameraSet::Instance() {
    static SimCameraSet set;
    return set;
}

void SimCameraSet::ApplyEnvironment() {
    {
        std::lock_guard lock(mutex_);
        if (environmentApplied_) return;
        environmentApplied_ = true;
    }
    const char* text = std::getenv("LUMORA_SIM_CAMERAS");
    if (!text || !*text) return;
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    if (*end != '\0' || count < 0 || count > kMaxSimCameras) return;
    SetCount(static_cast<int>(count));
}

bool SimCameraSet::SetCount(int count) {
    if (count < 0 || count > kMaxSimCameras) return false;
    std::vector<std::shared_ptr<SimCamera>> added;
    std::vector<std::shared_ptr<SimCamera>> removed;
    {
        std::lock_guard lock(mutex_);
        // An explicit count wins over the environment from now on.
        environmentApplied_ = true;
        while (static_cast<int>(cameras_.size()) > count) {
            removed.push_back(std::move(cameras_.back()));
            cameras_.pop_back();
        }
        while (static_cast<int>(cameras_.size()) < count) {
            auto camera = std::make_shared<SimCamera>(IdentityFor(static_cast<int>(cameras_.size())));
            cameras_.push_back(camera);
            added.push_back(std::move(camera));
        }
    }
    // Hot-plug events are announced outside our lock: subscribers may call back in.
    for (auto& camera : removed) platform::SimPort::Instance().Unplug(camera);
    for (auto& camera : added) platform::SimPort::Instance().Plug(camera);
    return true;
}

int SimCameraSet::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(cameras_.size());
}

std::shared_ptr<SimCamera> SimCameraSet::Camera(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(cameras_.size())) return nullptr;
    return cameras_[static_cast<size_t>(index)];
}

bool SimCameraSet::Unplug(int index) {
    auto camera = Camera(index);
    if (!camera) return false;
    platform::SimPort::Instance().Unplug(camera);
    return true;
}

bool SimCameraSet::Replug(int index, bool newPort) {
    auto camera = Camera(index);
    if (!camera) return false;
    auto& port = platform::SimPort::Instance();
    port.Unplug(camera);
    if (newPort) camera->MoveToNewPort();
    camera->PowerOn();
    port.Plug(camera);
    return true;
}

}  // namespace lumora::sim
