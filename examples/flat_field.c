/* Flat-field and defect correction on the host: take a dark and a bright reference at full
 * sensor size, save them as a mask file, load it again, switch both corrections on and compare
 * how even a bright field is before and after. Usage: flat_field [masks.msk] */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "lumora/host.h"

enum { kWidth = 2560, kHeight = 2048 };

/* Spread of the block means of a 16-bit frame, relative to their mean: 0 is perfectly even. */
static double Unevenness(const uint16_t* pixels) {
    double means[64];
    double total = 0;
    for (int by = 0; by < 8; ++by) {
        for (int bx = 0; bx < 8; ++bx) {
            double sum = 0;
            for (int y = by * 256 + 64; y < by * 256 + 192; y += 4)
                for (int x = bx * 320 + 64; x < bx * 320 + 256; x += 4) sum += pixels[(size_t)y * kWidth + (size_t)x];
            means[by * 8 + bx] = sum / (32.0 * 48.0);
            total += means[by * 8 + bx];
        }
    }
    const double mean = total / 64;
    double square = 0;
    for (int i = 0; i < 64; ++i) square += (means[i] - mean) * (means[i] - mean);
    return mean > 0 ? sqrt(square / 64) / mean : 0;
}

/* [reference] */
/* Takes one full-size frame at `exposure` (0.1 ms units) and stores it as reference `which`
 * (0 dark, 1 bright) of the current bit depth. */
static int TakeReference(int handle, int exposure, int which) {
    return Lumora_SetExposureTime(handle, exposure) && Lumora_SnapShot(handle, NULL, 0, 1) &&
           Lumora_UpdateMaskData(handle, which);
}
/* [reference] */

int main(int argc, char** argv) {
    const char* maskPath = argc > 1 ? argv[1] : "masks.msk";
    int handle = Lumora_Initialize(NULL);
    if (handle == 0) return 1;
    uint16_t* frame = malloc((size_t)kWidth * kHeight * 2);
    const int size = kWidth * kHeight * 2;

    /* [take] */
    /* References are full-sensor frames without subsampling, one pair per bit depth. */
    int ok = frame != NULL && Lumora_SetCaptureWindowEx(handle, kWidth, 0, kWidth, kHeight, 0, kHeight) &&
             Lumora_SetSubSample(handle, 0) && Lumora_SetMaskFilter(handle, 0) &&
             Lumora_SetDotFilter(handle, 0);
    /* The simulated camera's stand-in for a diffuser in front of the lens: an even field. */
    ok = ok && LumoraSim_ShowFlatTarget(0, 1);
    for (int bits = 8; ok && bits <= 16; bits += 8) {
        ok = Lumora_SetColorMode(handle, bits) &&
             TakeReference(handle, 1, 0) &&   /* dark: the lens capped, shortest exposure */
             TakeReference(handle, 100, 1);   /* bright: an even, bright field below saturation */
    }
    ok = ok && Lumora_SaveMaskFile(handle, maskPath);
    /* [take] */

    /* [use] */
    /* Later, or in another program: load the references and switch the corrections on. */
    ok = ok && Lumora_LoadMaskFile(handle, maskPath) && Lumora_SetColorMode(handle, 16);
    double before = 0, after = 0;
    ok = ok && Lumora_SnapShot(handle, (unsigned char*)frame, size, 1);
    if (ok) before = Unevenness(frame);
    ok = ok && Lumora_SetMaskFilter(handle, 1) && Lumora_SetDotFilter(handle, 1) &&
         Lumora_SnapShot(handle, (unsigned char*)frame, size, 1);
    if (ok) after = Unevenness(frame);
    /* [use] */

    if (ok) printf("unevenness of the bright field: %.4f before, %.4f after correction\n", before, after);
    if (!ok) fprintf(stderr, "failed: error %d\n", Lumora_GetLastError(handle));
    free(frame);
    Lumora_Release(handle);
    return ok && after < before ? 0 : 1;
}
