// The run figures of a session for applications (host.h).
#include "api/Dispatch.h"
#include "lumora/host.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int LumoraHost_GetStreamStats(int handle, LumoraStreamStats* stats) {
    if (stats == nullptr) return 0;
    return WithSession(handle, 0, [stats](CLumora& s) {
        const lumora::StreamFigures f = s.StreamStats();
        stats->framesSent = f.sent;
        stats->framesDelivered = f.delivered;
        stats->framesSkipped = f.skipped;
        stats->framesFailed = f.failed;
        return 1;
    });
}

}  // extern "C"
