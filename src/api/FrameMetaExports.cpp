// Frame metadata and the every-frame queue for applications (host.h).
#include "api/Dispatch.h"
#include "lumora/host.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int LumoraHost_GetFrameMeta(int handle, LumoraFrameMeta* meta) {
    if (meta == nullptr) return 0;
    return WithSession(handle, 0, [meta](CLumora& s) {
        *meta = s.AnnouncedFrameMeta();
        return 1;
    });
}

LUMORA_API int LumoraHost_GetImageWithMeta(int handle, unsigned char* buffer, int size,
                                           int rowOrder, LumoraFrameMeta* meta) {
    return WithSession(
        handle, 0, [&](CLumora& s) { return s.GetImageWithMeta(buffer, size, rowOrder, meta); });
}

LUMORA_API int LumoraHost_GetFramePeriod(int handle, double* seconds) {
    if (seconds == nullptr) return 0;
    return WithSession(handle, 0, [seconds](CLumora& s) { return s.GetFramePeriod(seconds); });
}

LUMORA_API int LumoraHost_StartQueuedPreview(int handle, int count, unsigned char* const* buffers,
                                             int size, int rowOrder) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return s.StartQueuedPreview(count, buffers, size, rowOrder);
    });
}

LUMORA_API int LumoraHost_WaitQueuedFrame(int handle, int timeoutMs, LumoraQueuedFrame* frame) {
    if (frame == nullptr) return -1;
    return WithSession(handle, -1, [&](CLumora& s) { return s.WaitQueuedFrame(timeoutMs, frame); });
}

LUMORA_API int LumoraHost_ReleaseQueuedFrame(int handle, int index, unsigned char* replacement) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.ReleaseQueuedFrame(index, replacement); });
}

LUMORA_API int LumoraHost_GetQueuedDrops(int handle, uint64_t* dropped) {
    if (dropped == nullptr) return 0;
    return WithSession(handle, 0, [dropped](CLumora& s) {
        *dropped = s.QueuedDrops();
        return 1;
    });
}

}  // extern "C"
