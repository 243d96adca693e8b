// The simulated camera's control interface (LumoraSim_* in host.h).
#include <algorithm>
#include <cstring>

#include "lumora/host.h"
#include "sim/SimCameraSet.h"

using lumora::sim::SimCamera;
using lumora::sim::SimCameraSet;

namespace {

std::shared_ptr<SimCamera> CameraAt(int index) {
    auto& set = SimCameraSet::Instance();
    set.ApplyEnvironment();
    return set.Camera(index);
}

}  // namespace

extern "C" {

LUMORA_API int LumoraSim_SetCameraCount(int count) {
    SimCameraSet::Instance().ApplyEnvironment();
    return SimCameraSet::Instance().SetCount(count) ? count : -1;
}

LUMORA_API int LumoraSim_GetCameraCount(void) {
    SimCameraSet::Instance().ApplyEnvironment();
    return SimCameraSet::Instance().Count();
}

LUMORA_API int LumoraSim_Unplug(int index) {
    SimCameraSet::Instance().ApplyEnvironment();
    return SimCameraSet::Instance().Unplug(index) ? 1 : 0;
}

LUMORA_API int LumoraSim_Replug(int index) {
    SimCameraSet::Instance().ApplyEnvironment();
    return SimCameraSet::Instance().Replug(index, false) ? 1 : 0;
}

LUMORA_API int LumoraSim_ReplugOnNewPort(int index) {
    SimCameraSet::Instance().ApplyEnvironment();
    return SimCameraSet::Instance().Replug(index, true) ? 1 : 0;
}

LUMORA_API int LumoraSim_InjectFault(int index, int fault, int count, int param) {
    auto camera = CameraAt(index);
    if (!camera || fault < LUMORA_SIM_FAULT_NONE || fault > LUMORA_SIM_FAULT_SLOW_STARTUP ||
        count < 0 || param < 0) {
        return 0;
    }
    camera->InjectFault(static_cast<lumora::sim::SimFault>(fault), count, param);
    return 1;
}

LUMORA_API int LumoraSim_ClearFaults(int index) {
    auto camera = CameraAt(index);
    if (!camera) return 0;
    camera->ClearFaults();
    return 1;
}

LUMORA_API int LumoraSim_SetStartupTime(int index, int milliseconds) {
    auto camera = CameraAt(index);
    if (!camera || milliseconds < 0) return 0;
    camera->SetStartupTimeMs(static_cast<uint32_t>(milliseconds));
    return 1;
}

LUMORA_API int LumoraSim_SetFrameCounterStart(int index, unsigned int value) {
    auto camera = CameraAt(index);
    if (!camera) return 0;
    camera->SetFrameCounterStart(value);
    return 1;
}

LUMORA_API int LumoraSim_SetFirmwareVersion(int index, int version) {
    auto camera = CameraAt(index);
    if (!camera || version < 0 || version > 0xFFFF) return 0;
    camera->SetFirmwareVersion(static_cast<uint16_t>(version));
    return 1;
}

LUMORA_API int LumoraSim_GetPendingTransfers(int index) {
    auto camera = CameraAt(index);
    return camera ? static_cast<int>(camera->PendingTransfers()) : -1;
}

LUMORA_API int LumoraSim_GetSerialNumber(int index, char* text, int size) {
    auto camera = CameraAt(index);
    if (!camera || !text || size <= 0) return 0;
    const auto& serial = camera->Identity().serialNumber;
    if (serial.size() + 1 > static_cast<size_t>(size)) return 0;
    std::memcpy(text, serial.c_str(), serial.size() + 1);
    return 1;
}

}  // extern "C"
