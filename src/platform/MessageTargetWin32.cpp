// Messages to an application's own windows go through the system's queue of the window's
// thread, and its message loop dispatches them: the posting thread never waits for it.
#include "platform/MessageTarget.h"
#include "platform/Win32Api.h"

namespace lumora::platform {

bool PostToSystemWindow(HWND window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    if (window == nullptr || !::IsWindow(window)) return false;
    return ::PostMessageA(window, message, static_cast<WPARAM>(wParam),
                          static_cast<LPARAM>(lParam)) != FALSE;
}

}  // namespace lumora::platform
