// Chooses the behaviour model of each new simulated camera.
#include "sim/SimCameraModel.h"
#include "sim/SimCamera.h"
#include "sim/SimSensorModel.h"

namespace lumora::sim {

std::unique_ptr<SimCameraModel> MakeCameraModel(const SimCameraIdentity& identity) {
    // The IMX992 sensor and camera FPGA; each camera its own dark pattern and defects, the same
    // ones on every run.
    return std::make_unique<SimSensorModel>(0x5EED0000u + static_cast<uint32_t>(identity.index));
}

}  // namespace lumora::sim
