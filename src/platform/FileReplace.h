#pragma once
// Saving a whole file under a path an application named. The save writes through a symlink to
// the file it names, refuses anything that is not a regular file (a device, a pipe, a folder),
// keeps the file's mode and owner, and reports every failed write. Where it can, it writes a
// temporary file beside the real file and renames it over, so the old content stays whole until
// the new one is complete; where that would change what the user sees (a hard-linked file, a
// folder we may not create in, an owner we cannot give the new file) it may write in place
// instead, with the space reserved first, when the caller allows it. A file the save created
// is removed again when the save fails; a file that was there is never removed.
//
// Threads: shares nothing; callers serialise saves of one file themselves.
#include <cstddef>
#include <filesystem>
#include <functional>

#include "platform/RegularFile.h"

namespace lumora::platform {

struct FileSave {
    // Writes the whole content into `file` from its start; false on any failure.
    std::function<bool(RegularFile& file)> write;
    // The content's size in bytes, reserved before an in-place write; 0 when unknown.
    size_t size = 0;
    // Permit writing into the existing file when it cannot be replaced.
    bool allowInPlace = false;
    // Mode of a file that does not exist yet (the umask applies).
    unsigned newFileMode = 0666;
    // Flush the new content to the device before it takes the old one's place: settings and
    // masks must survive a power cut; an application saving image after image would wait for
    // the disk at every frame.
    bool durable = true;
};

bool SaveFile(const std::filesystem::path& path, const FileSave& save);

}  // namespace lumora::platform
