/* A trigger run: one frame per pulse on the camera's trigger input. Against the simulated
 * camera the pulse is LumoraSim_FireTrigger; with a real camera it comes from the wiring.
 * Usage: trigger [frames] */
#include <stdio.h>
#include <stdlib.h>

#include "lumora/host.h"

int main(int argc, char** argv) {
    int wanted = argc > 1 ? atoi(argv[1]) : 3;
    int handle = Lumora_Initialize(NULL);
    if (handle == 0) return 1;

    /* [trigger] */
    HWND frames = LumoraHost_CreateQueueWindow();
    int ok = Lumora_SetColorMode(handle, 16) && Lumora_SetExposureTime(handle, 50) /* 5 ms */
             && Lumora_Trigger(handle, frames, NULL, 0, 1);
    int got = 0;
    for (int attempt = 0; ok && got < wanted && attempt < 300; ++attempt) {
        LumoraSim_FireTrigger(0); /* 0 while the previous frame is still exposing: try again */
        LumoraHostMessage m;
        while (got < wanted && LumoraHost_WaitMessage(frames, 200, &m)) {
            if (m.message != LUMORA_MSG_FRAME) continue;
            if (m.wParam == 0) {
                fprintf(stderr, "frame failed: error %ld\n", (long)m.lParam);
                ok = 0;
                break;
            }
            const LUMORA_FRAME_INFO* info = (const LUMORA_FRAME_INFO*)m.wParam;
            printf("frame %d: %d x %d, %d bits\n", ++got, info->width, info->height,
                   info->bitsPerPixel);
        }
    }
    /* The last frame of the run is the session's image until the mode ends. */
    ok = ok && got == wanted && Lumora_SaveImage(handle, "trigger.tif", 6);
    Lumora_Close(handle); /* ends the trigger run */
    /* [trigger] */
    if (!ok) fprintf(stderr, "failed: error %d\n", Lumora_GetLastError(handle));
    LumoraHost_DestroyWindow(frames);
    Lumora_Release(handle);
    return ok ? 0 : 1;
}
