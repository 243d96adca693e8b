// Chooses the behaviour model of each new simulated camera.
#include "sim/SimCameraModel.h"

namespace lumora::sim {

std::unique_ptr<SimCameraModel> MakeCameraModel(const SimCameraIdentity& /*identity*/) {
    return std::make_unique<SimCameraModel>();
}

}  // namespace lumora::sim
