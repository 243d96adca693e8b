/* Takes one 8-bit frame from the first camera and saves it as a PNG file: the usual sequence of
 * an application, using only the public headers. Usage: snapshot [file.png] */
#include <stdio.h>
#include <stdlib.h>

#include "lumora/host.h"
#include "lumora/lumora.h"

static int Fail(int handle, const char* what) {
    int code = Lumora_GetLastError(handle); /* 0: the SDK recorded no reason */
    if (code != 0) {
        fprintf(stderr, "%s failed (error %d)\n", what, code);
    } else {
        fprintf(stderr, "%s failed\n", what);
    }
    Lumora_Release(handle);
    return 1;
}

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "snapshot.png";
    int handle = Lumora_Initialize(NULL);
    if (handle == 0) return 1;
    char names[10 * 256];
    if (Lumora_EnumDevice(handle, names) < 1) {
        fprintf(stderr,
                "no camera found (without one, set LUMORA_SIM_CAMERAS=1 for a simulated "
                "camera)\n");
        Lumora_Release(handle);
        return 1;
    }
    if (!Lumora_SetColorMode(handle, 8)) return Fail(handle, "choosing 8-bit frames");
    if (!Lumora_SetExposureTime(handle, 100)) return Fail(handle, "setting 10 ms exposure");

    int width = Lumora_Width(handle);
    int height = Lumora_Height(handle);
    int stride = (width + 3) & ~3;
    unsigned char* frame = malloc((size_t)stride * (size_t)height);
    if (frame == NULL) return Fail(handle, "allocating the frame");
    int ok = Lumora_Capture(handle) && Lumora_SnapShot(handle, frame, stride * height, 1);
    if (ok) ok = Lumora_SaveImage(handle, path, 5);
    free(frame);
    if (!ok) return Fail(handle, "taking and saving the frame");
    printf("%s: %d x %d\n", path, width, height);
    Lumora_Close(handle);
    return Lumora_Release(handle) == 1 ? 0 : 1;
}
