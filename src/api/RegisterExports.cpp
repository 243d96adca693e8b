// Register, memory and camera-side correction exports.
#include "api/Dispatch.h"
#include "lumora/lumora.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int Lumora_WriteRegister(int handle, int address, int value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.WriteRegister(address, value, true); });
}
LUMORA_API int Lumora_WriteRegisterEx(int handle, int address, int value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.WriteRegister(address, value, false); });
}
LUMORA_API int Lumora_ReadRegister(int handle, int address, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.ReadRegister(address, valid, true); });
}
LUMORA_API int Lumora_ReadRegisterEx(int handle, int address, int* valid) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.ReadRegister(address, valid, false); });
}
LUMORA_API int Lumora_Fpga_WriteRegister(int handle, int address, int value) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.FpgaWriteRegister(address, value); });
}
LUMORA_API int Lumora_Fpga_ReadRegister(int handle, int address, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.FpgaReadRegister(address, valid); });
}
LUMORA_API int Lumora_ReadSromID(int handle, int address, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.ReadSromID(address, valid); });
}
LUMORA_API int Lumora_WriteSromID(int handle, int address, int value) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.WriteSromID(address, value); });
}
LUMORA_API int Lumora_GetInternalCorrection(int handle, int* valid) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetInternalCorrection(valid); });
}
LUMORA_API int Lumora_SetInternalCorrection(int handle, int on) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetInternalCorrection(on); });
}
LUMORA_API int Lumora_EnableDefectivePixelCorrection(int handle, int on) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.EnableDefectivePixelCorrection(on); });
}
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrection(int handle) {
    return WithSession(handle, 0,
                       [](CLumora& s) { return s.IsAvailableDefectivePixelCorrection(); });
}
LUMORA_API int Lumora_IsEnabledDefectivePixelCorrection(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.IsEnabledDefectivePixelCorrection(); });
}
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrectionThreshold(int handle) {
    return WithSession(handle, 0,
                       [](CLumora& s) { return s.IsAvailableDefectivePixelCorrectionThreshold(); });
}
LUMORA_API int Lumora_SetDefectivePixelCorrectionThreshold(int handle, int value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.SetDefectivePixelCorrectionThreshold(value); });
}
LUMORA_API int Lumora_GetDefectivePixelCorrectionThreshold(int handle, int* value) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.GetDefectivePixelCorrectionThreshold(value); });
}
LUMORA_API int Lumora_GetDefectivePixelCorrectionThresholdRange(int handle, int* min, int* max) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return s.GetDefectivePixelCorrectionThresholdRange(min, max);
    });
}
LUMORA_API int Lumora_SetIOPort(int handle, int value) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetIOPort(value); });
}
LUMORA_API int Lumora_GetIOPort(int handle, unsigned char* value) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetIOPort(value); });
}

}  // extern "C"
