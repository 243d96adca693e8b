#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/FileDescriptor.h"

namespace lumora::platform {
namespace {

// The path of the file itself: a symlink is followed to what it names.
std::string RealPath(const std::filesystem::path& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void SyncFolder(const std::filesystem::path& folder) {
    FileDescriptor dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen()) ::fsync(dir.Get());
}

enum class Replaced { kDone, kFailed, kNotPossible };

// Temporary beside the real file, same mode and owner, renamed over it once complete.
Replaced ReplaceBeside(const std::string& real, const struct stat& info, const FileSave& save) {
    RegularFile temp;
    if (!temp.CreateUnique(real)) return Replaced::kNotPossible;  // a folder we may not create in
    auto drop = [&](Replaced result) {
        temp.RemoveIfCreated();
        return result;
    };
    const int fd = static_cast<int>(temp.Native());
    if ((info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
        ::fchown(fd, info.st_uid, info.st_gid) != 0) {
        return drop(Replaced::kNotPossible);
    }
    if (::fchmod(fd, info.st_mode & 07777) != 0) return drop(Replaced::kNotPossible);
    const bool ok = save.write(temp) && (!save.durable || temp.Sync());
    const std::string name = temp.Path();
    if (!temp.Close() || !ok) return drop(Replaced::kFailed);
    if (::rename(name.c_str(), real.c_str()) != 0) {
        ::unlink(name.c_str());
        return Replaced::kFailed;
    }
    if (save.durable) SyncFolder(std::filesystem::path(real).parent_path());
    return Replaced::kDone;
}

bool WriteInPlace(RegularFile& file, const struct stat& info, const FileSave& save) {
    // Reserve the space first, so a full disk fails before a byte of the old content changes.
    if (save.size > 0 && static_cast<off_t>(save.size) > info.st_size && !file.Reserve(save.size)) {
        file.Truncate(static_cast<uint64_t>(info.st_size));
        return false;
    }
    if (!file.Seek(0) || !save.write(file)) return false;
    return file.Truncate(file.Position()) && (!save.durable || file.Sync());
}

}  // namespace

bool SaveFile(const std::filesystem::path& path, const FileSave& save) {
    if (path.empty() || !save.write) return false;
    // Opening for writing decides, as it would for any program: a file the user may not write
    // is refused, never replaced; so is anything that is not a file.
    RegularFile target;
    if (!target.OpenForWriting(path.c_str(), save.newFileMode)) return false;
    auto fail = [&] {
        target.RemoveIfCreated();  // no empty file left behind by a failed save
        return false;
    };
    struct stat info {};
    if (::fstat(static_cast<int>(target.Native()), &info) != 0) return fail();

    const std::string real = RealPath(path);
    struct stat realInfo {};
    const bool resolved =
        !real.empty() && ::stat(real.c_str(), &realInfo) == 0 && SameFile(realInfo, info);
    if (resolved && info.st_nlink == 1) {
        switch (ReplaceBeside(real, info, save)) {
            case Replaced::kDone:
                return target.Close();
            case Replaced::kFailed:
                return fail();
            case Replaced::kNotPossible:
                break;
        }
    }
    if (!save.allowInPlace || !WriteInPlace(target, info, save)) return fail();
    return target.Close();
}

}  // namespace lumora::platform
