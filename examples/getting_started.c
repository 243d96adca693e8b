/* The first program of the manual: open the camera, set the exposure, take one 16-bit frame,
 * look at it, save it, and read the messages the library posted on the way.
 * Usage: getting_started [file.png] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "lumora/host.h" /* message targets; includes lumora/lumora.h */

/* [messages] */
/* Reads what the library posted to the notification window. Device notices (0x0219) arrive
 * there too: only LUMORA_MSG_ERROR carries an error code, and code 0 there means success. */
static int ReportMessages(HWND events) {
    int errors = 0;
    LumoraHostMessage m;
    while (LumoraHost_WaitMessage(events, 0, &m)) {
        if (m.message == LUMORA_MSG_ERROR && m.lParam != ERR_NONE) {
            printf("error %ld\n", (long)m.lParam);
            ++errors;
        } else if (m.message == 0x0219) {
            printf("camera %s\n", m.wParam == 0x8000 ? "arrived" : "left");
        }
    }
    return errors;
}
/* [messages] */

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "first.png";

    /* [open] */
    HWND events = LumoraHost_CreateQueueWindow();
    int handle = Lumora_Initialize(events); /* opens the camera if exactly one is present */
    if (handle == 0) return 1;
    char names[10 * 256];
    int count = Lumora_EnumDevice(handle, names);
    if (count < 1) {
        fprintf(stderr, "no camera\n");
        Lumora_Release(handle);
        LumoraHost_DestroyWindow(events);
        return 1;
    }
    if (count > 1 && !Lumora_SetDeviceNumber(handle, 0)) { /* several: choose one */
        fprintf(stderr, "cannot open %s: error %d\n", names, Lumora_GetLastError(handle));
        return 1;
    }
    /* [open] */

    /* [settings] */
    int ok = Lumora_SetColorMode(handle, 16)           /* 12-bit samples in 16-bit words */
             && Lumora_SetExposureTime(handle, 200)    /* 0.1 ms units: 20 ms */
             && Lumora_SetGlobalGain(handle, 0);       /* sensor gain steps, 0..420 */
    /* [settings] */

    /* [snap] */
    int width = Lumora_Width(handle);
    int height = Lumora_Height(handle);
    size_t stride = ((size_t)width * 2 + 3) & ~(size_t)3; /* rows are padded to 4 bytes */
    uint16_t* frame = malloc(stride * (size_t)height);
    if (frame == NULL) ok = 0;
    ok = ok && Lumora_SnapShot(handle, (unsigned char*)frame, (int)(stride * (size_t)height), 1);
    if (ok) {
        uint16_t brightest = 0;
        for (int y = 0; y < height; ++y) {
            const uint16_t* row = (const uint16_t*)((const unsigned char*)frame + stride * (size_t)y);
            for (int x = 0; x < width; ++x) brightest = row[x] > brightest ? row[x] : brightest;
        }
        /* Without flat-field correction the samples are 12-bit: 0..4095. */
        printf("%d x %d, brightest sample %u of 4095\n", width, height, (unsigned)brightest);
    }
    ok = ok && Lumora_SaveImage(handle, path, 5); /* 5: PNG, 16 bits per sample */
    free(frame);
    /* [snap] */

    /* [close] */
    if (!ok) fprintf(stderr, "failed: error %d\n", Lumora_GetLastError(handle));
    int errors = ReportMessages(events);
    Lumora_Release(handle);
    LumoraHost_DestroyWindow(events);
    /* [close] */
    if (ok) printf("%s\n", path);
    return ok && errors == 0 ? 0 : 1;
}
