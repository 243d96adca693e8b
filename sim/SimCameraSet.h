#pragma once
// The process's simulated cameras: how many there are (LUMORA_SIM_CAMERAS or
// LumoraSim_SetCameraCount), which are plugged in, and their identities (index i: product id
// 0x3380, serial number "LUM%05d" of i + 1, path instance "lum%05d_p<port>").
// Thread-safe: mutex_ guards the list.
#include <memory>
#include <mutex>
#include <vector>

#include "sim/SimCamera.h"

namespace lumora::sim {

inline constexpr int kMaxSimCameras = 32;
// Vendor id of simulated cameras unless LUMORA_USB_VENDOR_ID names one.
inline constexpr uint16_t kSimVendorId = 0x1D50;

class SimCameraSet {
public:
    static SimCameraSet& Instance();

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

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimCamera>> cameras_;
    bool environmentApplied_ = false;
};

}  // namespace lumora::sim
