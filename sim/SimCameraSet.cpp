#include "sim/SimCameraSet.h"

#include <cstdio>
#include <cstdlib>

#include "port/CameraVendorId.h"
#include "port/SimPort.h"

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

std::optional<int> ParseCameraCount(const char* text) {
    if (!text || !*text) return std::nullopt;
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    if (*end != '\0' || count < 0 || count > kMaxSimCameras) return std::nullopt;
    return static_cast<int>(count);
}

SimCameraSet& SimCameraSet::Instance() {
    static SimCameraSet set;
    return set;
}

SimCameraSet::SimCameraSet() {
    platform::SimPort::Instance().AttachSource(this);
}

SimCameraSet::~SimCameraSet() {
    platform::SimPort::Instance().AttachSource(nullptr);
}

void JoinPort() {
    SimCameraSet::Instance();
}

void SimCameraSet::ApplyEnvironment() {
    {
        platform::MutexLock lock(mutex_);
        if (environmentApplied_) return;
        environmentApplied_ = true;
    }
    if (auto count = ParseCameraCount(std::getenv("LUMORA_SIM_CAMERAS"))) SetCount(*count);
}

bool SimCameraSet::SetCount(int count) {
    if (count < 0 || count > kMaxSimCameras) return false;
    std::vector<std::shared_ptr<SimCamera>> added;
    std::vector<std::shared_ptr<SimCamera>> removed;
    platform::MutexLock change(changeMutex_);  // one change of the set at a time
    int current = 0;
    {
        platform::MutexLock lock(mutex_);
        // An explicit count wins over the environment from now on.
        environmentApplied_ = true;
        current = static_cast<int>(cameras_.size());
    }
    // Cameras are made outside the list lock: a camera takes its own lock as it powers on.
    for (int i = current; i < count; ++i)
        added.push_back(std::make_shared<SimCamera>(IdentityFor(i)));
    {
        platform::MutexLock lock(mutex_);
        while (static_cast<int>(cameras_.size()) > count) {
            removed.push_back(std::move(cameras_.back()));
            cameras_.pop_back();
        }
        cameras_.insert(cameras_.end(), added.begin(), added.end());
    }
    // Hot-plug events are announced outside the list lock: subscribers may call back in.
    for (auto& camera : removed) platform::SimPort::Instance().Unplug(camera);
    for (auto& camera : added) platform::SimPort::Instance().Plug(camera);
    return true;
}

int SimCameraSet::Count() const {
    platform::MutexLock lock(mutex_);
    return static_cast<int>(cameras_.size());
}

std::shared_ptr<SimCamera> SimCameraSet::Camera(int index) const {
    platform::MutexLock lock(mutex_);
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
