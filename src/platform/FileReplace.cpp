#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

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
    std::string temp = real + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.IsOpen()) return Replaced::kNotPossible;  // a folder we may not create in
    auto drop = [&](Replaced result) {
        fd.Close();
        ::unlink(temp.c_str());
        return result;
    };
    if ((info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
        ::fchown(fd.Get(), info.st_uid, info.st_gid) != 0) {
        return drop(Replaced::kNotPossible);
    }
    if (::fchmod(fd.Get(), info.st_mode & 07777) != 0) return drop(Replaced::kNotPossible);
    bool ok = save.write(fd.Get()) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    if (!ok || ::rename(temp.c_str(), real.c_str()) != 0) return drop(Replaced::kFailed);
    SyncFolder(std::filesystem::path(real).parent_path());
    return Replaced::kDone;
}

bool WriteInPlace(int fd, const struct stat& info, const FileSave& save) {
    // Reserve the space first, so a full disk fails before a byte of the old content changes.
    if (save.size > 0 && static_cast<off_t>(save.size) > info.st_size) {
        const int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(save.size));
        if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
            if (::ftruncate(fd, info.st_size) != 0) {
                // Nothing more to undo; the failure is reported below either way.
            }
            return false;
        }
    }
    if (::lseek(fd, 0, SEEK_SET) != 0 || !save.write(fd)) return false;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    return end >= 0 && ::ftruncate(fd, end) == 0 && ::fsync(fd) == 0;
}

}  // namespace

bool SaveFile(const std::filesystem::path& path, const FileSave& save) {
    if (path.empty() || !save.write) return false;
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    // Opening for writing decides, as it would for any program: a file the user may not write
    // is refused, never replaced. O_NONBLOCK keeps a pipe without a reader from hanging us.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                             static_cast<mode_t>(save.newFileMode)));
    if (!fd.IsOpen()) return false;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    auto fail = [&] {
        fd.Close();
        if (!existed) ::unlink(path.c_str());  // no empty file left behind by a failed save
        return false;
    };

    const std::string real = RealPath(path);
    struct stat realInfo {};
    const bool resolved =
        !real.empty() && ::stat(real.c_str(), &realInfo) == 0 && SameFile(realInfo, info);
    if (resolved && info.st_nlink == 1) {
        switch (ReplaceBeside(real, info, save)) {
            case Replaced::kDone:
                return fd.Close();
            case Replaced::kFailed:
                return fail();
            case Replaced::kNotPossible:
                break;
        }
    }
    if (!save.allowInPlace || !WriteInPlace(fd.Get(), info, save)) return fail();
    return fd.Close();
}

}  // namespace lumora::platform
