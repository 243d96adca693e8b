#include "platform/SettingsStore.h"

#include "platform/FileDescriptor.h"
#include "platform/FileReplace.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace lumora::platform {
namespace {

// A settings file is a few kilobytes; anything far larger is not ours.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

// Holds the exclusive lock of a store while it lives. Without a usable lock file (a read-only
// or missing folder) reads go ahead unlocked; nobody can write there anyway.
class StoreLock {
public:
    explicit StoreLock(const std::filesystem::path& file)
        : fd_(::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (!fd_.IsOpen()) return;
        int rc;
        do {
            rc = ::flock(fd_.Get(), LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        locked_ = rc == 0;
    }
    ~StoreLock() {
        if (locked_) ::flock(fd_.Get(), LOCK_UN);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool IsLocked() const { return locked_; }

private:
    FileDescriptor fd_;
    bool locked_ = false;
};

enum class ReadResult { Ok, Absent, Failed };

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& text) {
    text.clear();
    // Non-blocking, so a pipe in the file's place cannot hang the reader; it is refused below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsOpen())
        return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Absent : ReadResult::Failed;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileSize) {
        return ReadResult::Failed;
    }
    std::vector<char> buffer(static_cast<size_t>(info.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == buffer.size()) buffer.resize(buffer.size() * 2);
        const ssize_t n = ::read(fd.Get(), buffer.data() + used, buffer.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::Failed;
        if (n == 0) break;
        used += static_cast<size_t>(n);
        if (used > static_cast<size_t>(kMaxFileSize)) return ReadResult::Failed;
    }
    text.assign(buffer.data(), used);
    return ReadResult::Ok;
}

// Temporary file, flush, rename: the stored file is either the old or the new one, whole. The
// rename happens beside the real file, so a symlinked settings file stays a symlink.
bool WriteAtomically(const std::filesystem::path& path, const std::string& text) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    FileSave save;
    save.size = text.size();
    save.newFileMode = 0600;
    save.write = [&text](RegularFile& file) { return file.Write(text.data(), text.size()); };
    return SaveFile(path, save);
}

// Reads and parses the file; the caller holds the lock (when it could be had).
SettingsKey LoadLocked(const std::filesystem::path& path) {
    SettingsKey root;
    std::string text;
    switch (ReadWholeFile(path, text)) {
        case ReadResult::Absent:
            return root;
        case ReadResult::Failed:
            std::fprintf(stderr, "lumora: cannot read settings file %s; defaults apply\n",
                         path.c_str());
            return root;
        case ReadResult::Ok:
            break;
    }
    std::string error;
    if (ParseSettingsText(text, root, error)) return root;
    const std::string aside = path.string() + ".bad";
    const bool kept = ::rename(path.c_str(), aside.c_str()) == 0;
    std::fprintf(stderr, "lumora: settings file %s is damaged (%s); %s%s; defaults apply\n",
                 path.c_str(), error.c_str(), kept ? "kept as " : "could not set it aside",
                 kept ? aside.c_str() : "");
    return root;
}

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return ".";
}

}  // namespace

std::filesystem::path SettingsStore::DefaultPath() {
    if (const char* own = std::getenv("LUMORA_CONFIG_HOME"); own != nullptr && *own != '\0') {
        return std::filesystem::path(own) / kFileName;
    }
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "quenta" / kFileName;
    }
    return HomeFolder() / ".config" / "quenta" / kFileName;
}

SettingsKey SettingsStore::Read() const {
    StoreLock lock(path_);
    return LoadLocked(path_);
}

bool SettingsStore::Update(const std::function<bool(SettingsKey& root)>& edit) {
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    StoreLock lock(path_);
    if (!lock.IsLocked()) return false;  // unwritable folder: nothing can be stored
    SettingsKey root = LoadLocked(path_);
    if (!edit(root)) return false;
    return WriteAtomically(path_, FormatSettingsText(root));
}

}  // namespace lumora::platform
