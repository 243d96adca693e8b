// Lifecycle and device exports: version, status, error history, sessions, device selection and
// the camera's identity.
#include <memory>

#include "api/Dispatch.h"
#include "lumora/lumora.h"

using lumora::CLumora;
using lumora::CSdkChain;
using lumora::WithSession;

namespace {
constexpr int kDllVersion = 0x02270521;
}

extern "C" {

LUMORA_API int Lumora_GetDllVersion(void) {
    return kDllVersion;
}

LUMORA_API int Lumora_Initialize(HWND notifyWindow) {
    std::shared_ptr<CLumora> created;
    const int handle = lumora::Guarded(0, [&] {
        return CSdkChain::Instance().CreateSession([&created] {
            created = std::make_shared<CLumora>();
            return created;
        });
    });
    // The handle is returned even when initialisation fails; the reason is in its history.
    if (handle != 0) {
        try {
            created->Initialize(notifyWindow);
        } catch (...) {
            lumora::RecordEscapedException(*created);
        }
    }
    return handle;
}

LUMORA_API int Lumora_Release(int handle) {
    return lumora::Guarded(0, [&] { return CSdkChain::Instance().Release(handle) ? 1 : 0; });
}

LUMORA_API int Lumora_GetLastError(int handle) {
    return WithSession(handle, 0, [](CLumora& s) { return s.GetLastError(); });
}

LUMORA_API int Lumora_GetStatus(int handle) {
    return WithSession(handle, 0, [](CLumora&) { return 0; });
}

LUMORA_API int Lumora_EnumDevice(int handle, char* names) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.EnumDevice(names); });
}

LUMORA_API int Lumora_EnumDeviceW(int handle, LUMORA_WCHAR* names) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.EnumDeviceW(names); });
}

LUMORA_API int Lumora_SetDeviceNumber(int handle, int number) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SetDeviceNumber(number); });
}

LUMORA_API int Lumora_GetDeviceName(int handle, int index, char* name, int size) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetDeviceName(index, name, size); });
}

LUMORA_API int Lumora_GetDeviceNameW(int handle, int index, LUMORA_WCHAR* name, int size) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetDeviceNameW(index, name, size); });
}

LUMORA_API int Lumora_GetCameraInfo(int handle, LUMORA_CAMERA_INFO* info) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.GetCameraInfo(info); });
}

LUMORA_API int Lumora_ReadSerialNumberA(int handle, char* text, int size) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.ReadSerialNumber(text, size); });
}

LUMORA_API int Lumora_ReadSerialNumberW(int handle, LUMORA_WCHAR* text, int size) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.ReadSerialNumberW(text, size); });
}

}  // extern "C"
