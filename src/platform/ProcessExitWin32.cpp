#include "platform/ProcessExit.h"

#include "platform/Win32Api.h"

namespace lumora::platform {

// ntdll answers it for the loader; it has no import library entry in every toolchain, so it is
// looked up once.
bool ProcessIsExiting() {
    using Query = BOOLEAN(WINAPI*)();
    static const Query query = [] {
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr
                   ? reinterpret_cast<Query>(reinterpret_cast<void*>(
                         ::GetProcAddress(ntdll, "RtlDllShutdownInProgress")))
                   : nullptr;
    }();
    return query != nullptr && query() != FALSE;
}

}  // namespace lumora::platform
