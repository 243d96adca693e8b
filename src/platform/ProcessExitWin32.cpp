#include "platform/ProcessExit.h"

#include <atomic>

#include "platform/Win32Api.h"

namespace {

std::atomic<bool> gModuleUnloading{false};

}  // namespace

// The DLL's entry point. The C runtime calls it before it runs the static destructors at
// unload, so they can tell an unload (no reserved pointer) from the process ending. Linked into
// a program it is never called.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) gModuleUnloading = true;
    return TRUE;
}

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

bool ModuleIsUnloading() {
    return gModuleUnloading.load();
}

}  // namespace lumora::platform
