// Image, configuration and mask file exports (wide forms convert the path first).
#include "api/Dispatch.h"
#include "lumora/lumora.h"

using lumora::CLumora;
using lumora::WithNarrowPath;
using lumora::WithSession;

extern "C" {

LUMORA_API int Lumora_Record(int handle, const char* fileName, int durationMs, int showWindow) {
    return WithSession(handle, 0,
                       [&](CLumora& s) { return s.Record(fileName, durationMs, showWindow); });
}
LUMORA_API int Lumora_RecordW(int handle, const LUMORA_WCHAR* fileName, int durationMs,
                              int showWindow) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return WithNarrowPath(
            s, fileName, [&](const char* path) { return s.Record(path, durationMs, showWindow); });
    });
}
LUMORA_API int Lumora_SaveImage(int handle, const char* fileName, int format) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SaveImage(fileName, format); });
}
LUMORA_API int Lumora_SaveImageW(int handle, const LUMORA_WCHAR* fileName, int format) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return WithNarrowPath(s, fileName,
                              [&](const char* path) { return s.SaveImage(path, format); });
    });
}
LUMORA_API int Lumora_LoadConfigFileA(int handle, const char* path) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.LoadConfigFile(path); });
}
LUMORA_API int Lumora_LoadConfigFileW(int handle, const LUMORA_WCHAR* path) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return WithNarrowPath(s, path,
                              [&](const char* narrow) { return s.LoadConfigFile(narrow); });
    });
}
LUMORA_API int Lumora_LoadMaskFile(int handle, const char* path) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.LoadMaskFile(path); });
}
LUMORA_API int Lumora_LoadMaskFileW(int handle, const LUMORA_WCHAR* path) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return WithNarrowPath(s, path, [&](const char* narrow) { return s.LoadMaskFile(narrow); });
    });
}
LUMORA_API int Lumora_SaveMaskFile(int handle, const char* path) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.SaveMaskFile(path); });
}
LUMORA_API int Lumora_SaveMaskFileW(int handle, const LUMORA_WCHAR* path) {
    return WithSession(handle, 0, [&](CLumora& s) {
        return WithNarrowPath(s, path, [&](const char* narrow) { return s.SaveMaskFile(narrow); });
    });
}
LUMORA_API int Lumora_UpdateMaskData(int handle, int which) {
    return WithSession(handle, 0, [&](CLumora& s) { return s.UpdateMaskData(which); });
}

}  // extern "C"
