// Exports that need no camera: version, status, error history, creating and releasing sessions.
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

LUMORA_API int Lumora_GetDllVersion(void) { return kDllVersion; }

LUMORA_API int Lumora_Initialize(HWND notifyWindow) {
    std::shared_ptr<CLumora> created;
    const int handle = CSdkChain::Instance().CreateSession([&created] {
        created = std::make_shared<CLumora>();
        return created;
    });
    // The handle is returned even when initialisation fails; the reason is in its history.
    if (handle != 0) created->Initialize(notifyWindow);
    return handle;
}

LUMORA_API int Lumora_Release(int handle) { return CSdkChain::Instance().Release(handle) ? 1 : 0; }

LUMORA_API int Lumora_GetLastError(int handle) {
    return WithSession(handle, 0, [](CLumora& session) { return session.GetLastError(); });
}

LUMORA_API int Lumora_GetStatus(int handle) {
    return WithSession(handle, 0, [](CLumora&) { return 0; });
}

}  // extern "C"
