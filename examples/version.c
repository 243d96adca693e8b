/* Prints the SDK version and whether a camera answers: the smallest complete use of the SDK. */
#include <stdio.h>

#include "lumora/host.h"
#include "lumora/lumora.h"

int main(void) {
    int version = Lumora_GetDllVersion();
    printf("Lumora SDK %d.%d.%d.%d\n", (version >> 24) & 0xFF, (version >> 16) & 0xFF,
           (version >> 8) & 0xFF, version & 0xFF);
    HWND notify = LumoraHost_CreateQueueWindow();
    int handle = Lumora_Initialize(notify);
    if (handle == 0) {
        fprintf(stderr, "no session\n");
        return 1;
    }
    printf("session opened; last error %d\n", Lumora_GetLastError(handle));
    int released = Lumora_Release(handle);
    LumoraHost_DestroyWindow(notify);
    return released == 1 && version == 36111649 ? 0 : 1;
}
