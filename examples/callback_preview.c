/* A preview run whose frames arrive in a callback on the library's dispatcher thread: the
 * callback reads each frame from the caller's buffer while it is valid, and the main thread
 * waits until enough frames came. Usage: callback_preview [frames] */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "lumora/host.h"

/* [state] */
struct Run {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    int frames;      /* frames seen by the callback */
    int failures;    /* frame messages carrying an error code */
    uint64_t sum;    /* of the centre pixel, to show the buffer is read in the callback */
};
/* [state] */

/* [callback] */
/* Runs on the callback window's own thread, one message at a time. The buffer and the frame
 * record hold this frame until the callback returns (frames meanwhile are skipped): read them
 * here. */
static void OnMessage(const LumoraHostMessage* m, void* user) {
    struct Run* run = user;
    if (m->message != LUMORA_MSG_FRAME) return;
    pthread_mutex_lock(&run->lock);
    if (m->wParam != 0) {
        const LUMORA_FRAME_INFO* info = (const LUMORA_FRAME_INFO*)m->wParam;
        const unsigned char* pixels = info->userBuffer;
        size_t stride = ((size_t)info->width + 3) & ~(size_t)3; /* 8 bits per pixel */
        run->sum += pixels[stride * (size_t)(info->height / 2) + (size_t)info->width / 2];
        ++run->frames;
    } else {
        ++run->failures; /* lParam: 5, 8 or 13 */
    }
    pthread_cond_broadcast(&run->changed);
    pthread_mutex_unlock(&run->lock);
}
/* [callback] */

int main(int argc, char** argv) {
    int wanted = argc > 1 ? atoi(argv[1]) : 20;
    struct Run run = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, 0};

    int handle = Lumora_Initialize(NULL);
    if (handle == 0) return 1;
    /* [start] */
    HWND frames = LumoraHost_CreateCallbackWindow(OnMessage, &run);
    int ok = Lumora_SetColorMode(handle, 8) && Lumora_SetCaptureWindowEx(handle, 2560, 640, 1280, 2048, 512, 1024);
    size_t stride = ((size_t)Lumora_Width(handle) + 3) & ~(size_t)3;
    size_t size = stride * (size_t)Lumora_Height(handle);
    unsigned char* buffer = malloc(size);
    ok = ok && buffer != NULL && Lumora_CallBackPreview(handle, frames, buffer, (int)size, 1);
    /* [start] */

    /* [wait] */
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 60; /* generous: a loaded machine delivers slowly, never wrongly */
    pthread_mutex_lock(&run.lock);
    while (ok && run.frames < wanted && run.failures == 0) {
        if (pthread_cond_timedwait(&run.changed, &run.lock, &deadline) != 0) break;
    }
    int got = run.frames, failures = run.failures;
    pthread_mutex_unlock(&run.lock);
    /* [wait] */

    /* [stop] */
    /* After Lumora_Close no frame message of this run is posted any more, so the buffer and the
     * callback window may go. */
    Lumora_Close(handle);
    LumoraStreamStats stats;
    if (LumoraHost_GetStreamStats(handle, &stats)) {
        printf("%d frames in the callback; camera sent %llu, delivered %llu, skipped %llu\n", got,
               (unsigned long long)stats.framesSent, (unsigned long long)stats.framesDelivered,
               (unsigned long long)stats.framesSkipped);
    }
    LumoraHost_DestroyWindow(frames);
    free(buffer);
    Lumora_Release(handle);
    /* [stop] */
    return ok && got >= wanted && failures == 0 ? 0 : 1;
}
