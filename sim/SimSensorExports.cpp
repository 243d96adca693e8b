// The host interface of the simulated camera's sensor and picture.
#include <mutex>

#include "lumora/host.h"
#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"

using lumora::sim::SimCameraSet;
using lumora::sim::SimSensorModel;

extern "C" {

LUMORA_API int LumoraSim_FireTrigger(int index) {
    const auto camera = SimCameraSet::Instance().Camera(index);
    if (!camera) return 0;
    lumora::platform::CriticalSectionLock lock(camera->Lock());
    auto* model = dynamic_cast<SimSensorModel*>(&camera->Model());
    if (model == nullptr) return 0;
    return model->FireTrigger(*camera) ? 1 : 0;
}

LUMORA_API int LumoraSim_ShowFlatTarget(int index, int on) {
    const auto camera = SimCameraSet::Instance().Camera(index);
    if (!camera) return 0;
    lumora::platform::CriticalSectionLock lock(camera->Lock());
    auto* model = dynamic_cast<SimSensorModel*>(&camera->Model());
    if (model == nullptr) return 0;
    model->ShowFlatTarget(on != 0);
    return 1;
}

LUMORA_API void LumoraSim_SetFastMode(int on) {
    lumora::sim::SetFastMode(on != 0);
}

LUMORA_API void LumoraSim_SetStaticScene(int on) {
    lumora::sim::SetStaticScene(on != 0);
}

}  // extern "C"
