#pragma once
// The process's simulated cameras: how many there are (LUMORA_SIM_CAMERAS or
// LumoraSim_SetCameraCount), which are plugged in, and their identities (index i: product id
// 0x3380, serial number "LUM%05d" of i + 1, path instance "lum%05d_p<port>").
// Thread-safe: mutex_ guards the list; changeMutex_ serialises changes of the count.
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Mutex.h"
#include "port/SimPort.h"
#include "sim/SimCamera.h"

namespace lumora::sim {

inline constexpr int kMaxSimCameras = 32;
// Vendor id of simulated cameras unless LUMORA_USB_VENDOR_ID names one.
inline constexpr uint16_t kSimVendorId = 0x1D50;

// The camera count LUMORA_SIM_CAMERAS asks for: a decimal 0..32; nothing when unset, empty or
// malformed.
std::optional<int> ParseCameraCount(const char* text);

// The set is the simulated bus's device source: it attaches itself to the port when it is
// made and detaches when it goes.
class SimCameraSet final : public platform::SimDeviceSource {
public:
    static SimCameraSet& Instance();
    ~SimCameraSet() override;
    SimCameraSet(const SimCameraSet&) = delete;
    SimCameraSet& operator=(const SimCameraSet&) = delete;

    // Applies LUMORA_SIM_CAMERAS once per process (later calls do nothing).
    void ApplyEnvironment();
    // Cameras 0..count-1 exist afterwards (new ones plugged in, surplus ones unplugged and
    // dropped); false for a count outside 0..32.
    bool SetCount(int count);
    int Count() const;
    std::shared_ptr<SimCamera> Camera(int index) const;
    bool Unplug(int index);
    // Plugs a camera back in, powered on afresh; on the same port or on a new one.
    bool Replug(int index, bool newPort);

    void PlugConfiguredDevices() override { ApplyEnvironment(); }
    bool CamerasConfigured() const override { return Count() > 0; }

private:
    SimCameraSet();
    platform::Mutex changeMutex_ LUMORA_ACQUIRED_BEFORE(mutex_);
    mutable platform::Mutex mutex_;
    std::vector<std::shared_ptr<SimCamera>> cameras_ LUMORA_GUARDED_BY(mutex_);
    bool environmentApplied_ LUMORA_GUARDED_BY(mutex_) = false;
};

// Makes the simulated cameras reachable through the port (their set attaches itself as the
// port's device source). Every entry point that lists devices calls it first; it is cheap.
void JoinPort();

}  // namespace lumora::sim
