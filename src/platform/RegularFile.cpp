// What every system's regular files share: the checks before an open. The open itself and what
// it found are each system's (RegularFilePosix.cpp, RegularFileWin32.cpp).
#include "platform/RegularFile.h"

namespace lumora::platform {

RegularFile::~RegularFile() {
    Close();
}

bool RegularFile::MayHoldAFile(const char* path) {
    return path != nullptr && *path != '\0' && IsRegularOrAbsent(path);
}

bool RegularFile::OpenForReading(const char* path) {
    return OpenChecked(path, false, 0);
}

bool RegularFile::OpenForWriting(const char* path, unsigned newFileMode) {
    return OpenChecked(path, true, newFileMode);
}

bool RegularFile::OpenChecked(const char* path, bool write, unsigned newFileMode) {
    Close();
    created_ = false;
    if (path == nullptr || *path == '\0') return false;
    // Opening some devices already acts on them (a tape rewinds, a modem line rises): whatever
    // is not a file is refused before the open, and what the open found is checked again.
    if (!IsRegularOrAbsent(path)) return false;
    return OpenNative(path, write, newFileMode);
}

bool RegularFile::ReadExact(void* data, size_t size) {
    size_t got = 0;
    return Read(data, size, &got) && got == size;
}

}  // namespace lumora::platform
