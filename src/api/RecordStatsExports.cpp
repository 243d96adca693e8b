// The recording figures of a session for applications (host.h).
#include "api/Dispatch.h"
#include "lumora/host.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int LumoraHost_GetRecordStats(int handle, LumoraRecordStats* stats) {
    if (stats == nullptr) return 0;
    return WithSession(handle, 0, [stats](CLumora& s) {
        const CLumora::RecordProgress p = s.RecordingProgress();
        stats->recording = p.recording ? 1 : 0;
        stats->rate = p.recording ? 0 : p.rate;
        stats->framesWritten = p.frames;
        stats->framesSkipped = p.skipped;
        stats->bytesWritten = p.bytes;
        return 1;
    });
}

}  // extern "C"
