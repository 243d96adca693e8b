// Regular files on Windows: Win32 file handles (never C runtime descriptors, whose text mode
// would turn every "\n" byte into "\r\n"), shared for reading, writing and deletion as POSIX
// files are, and not inherited by child processes.
#include "platform/RegularFile.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <string_view>
#include <vector>

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The most one ReadFile or WriteFile call is asked to move.
constexpr size_t kMaxPiece = 1u << 30;

HANDLE HandleOf(intptr_t fd) {
    return reinterpret_cast<HANDLE>(fd);
}

// The device namespace (\\.\COM1, \\.\pipe\name, and what a reserved name such as "NUL" or
// "C:\x\com1.txt" resolves to): opening one already acts on the device.
bool NamesADevice(const char* path) {
    const DWORD needed = ::GetFullPathNameA(path, 0, nullptr, nullptr);
    if (needed == 0) return true;  // not a name of anything we could open as a file
    std::vector<char> full(needed + 1);
    const DWORD got = ::GetFullPathNameA(path, static_cast<DWORD>(full.size()), full.data(),
                                         nullptr);
    if (got == 0 || got >= full.size()) return true;
    return std::string_view(full.data(), got).starts_with("\\\\.\\");
}

struct Identity {
    uint64_t volume = 0;
    uint64_t index = 0;
};

bool IdentityOf(HANDLE handle, Identity* identity, bool* isFile) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    *isFile = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return true;
}

HANDLE Create(const char* path, DWORD access, DWORD disposition, DWORD attributes) {
    return ::CreateFileA(path, access, kShareAll, nullptr, disposition, attributes, nullptr);
}

bool PointerAt(HANDLE handle, int64_t distance, DWORD method, uint64_t* at) {
    LARGE_INTEGER move{};
    move.QuadPart = distance;
    LARGE_INTEGER now{};
    if (!::SetFilePointerEx(handle, move, &now, method)) return false;
    if (at != nullptr) *at = static_cast<uint64_t>(now.QuadPart);
    return true;
}

// Writes all of `size` bytes at `offset`. On a synchronous handle a write at an offset moves
// the file pointer, so the caller restores it.
bool WriteAllAt(HANDLE handle, uint64_t offset, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min(size, kMaxPiece));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        if (!::WriteFile(handle, p, piece, &done, &at) || done == 0) return false;
        p += done;
        offset += done;
        size -= done;
    }
    return true;
}

}  // namespace

bool RegularFile::IsRegularOrAbsent(const char* path) {
    if (NamesADevice(path)) return false;
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool RegularFile::OpenNative(const char* path, bool write, unsigned newFileMode) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool created = false;
    if (!write) {
        handle = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    } else {
        // A file without the owner's write permission is created read-only, as the C runtime
        // does with the same mode.
        const DWORD attributes =
            (newFileMode & 0200) != 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
        // Exclusive creation tells a file this call made from one that was there: only the
        // first may ever be removed again. Neither creation truncates what was there.
        handle = Create(path, GENERIC_WRITE, CREATE_NEW, attributes);
        created = handle != INVALID_HANDLE_VALUE;
        if (!created && ::GetLastError() == ERROR_FILE_EXISTS) {
            handle = Create(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        }
    }
    if (handle == INVALID_HANDLE_VALUE) return false;
    Identity identity;
    bool isFile = false;
    if (!IdentityOf(handle, &identity, &isFile) || !isFile) {
        ::CloseHandle(handle);
        return false;
    }
    fd_ = reinterpret_cast<intptr_t>(handle);
    created_ = created;
    path_ = path;
    device_ = identity.volume;
    inode_ = identity.index;
    return true;
}

bool RegularFile::CreateUnique(const std::string& prefix) {
    Close();
    created_ = false;
    // Six letters and digits after the prefix, as the POSIX backend's names have; a name taken
    // meanwhile is simply the next try.
    static std::atomic<uint32_t> counter{0};
    constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t seed = (static_cast<uint64_t>(::GetCurrentProcessId()) << 32) ^
                        ::GetTickCount64() ^ (static_cast<uint64_t>(counter++) * 0x9E3779B97F4A7C15u);
        std::string name = prefix + ".";
        for (int i = 0; i < 6; ++i) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            name += kDigits[(seed >> 33) % 36];
        }
        HANDLE handle = Create(name.c_str(), GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        if (handle != INVALID_HANDLE_VALUE) {
            Adopt(reinterpret_cast<intptr_t>(handle), name, true);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;  // a folder we may not create in
    }
    return false;
}

void RegularFile::Adopt(intptr_t native, const std::string& path, bool created) {
    Close();
    fd_ = native;
    created_ = created;
    path_ = path;
    Identity identity;
    bool isFile = false;
    if (IdentityOf(HandleOf(fd_), &identity, &isFile)) {
        device_ = identity.volume;
        inode_ = identity.index;
    }
}

uint64_t RegularFile::Size() const {
    LARGE_INTEGER size{};
    if (fd_ < 0 || !::GetFileSizeEx(HandleOf(fd_), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool RegularFile::Read(void* data, size_t size, size_t* got) {
    *got = 0;
    if (fd_ < 0) return false;
    auto* p = static_cast<char*>(data);
    while (*got < size) {
        const auto piece = static_cast<DWORD>(std::min(size - *got, kMaxPiece));
        DWORD done = 0;
        if (!::ReadFile(HandleOf(fd_), p + *got, piece, &done, nullptr)) return false;
        if (done == 0) break;
        *got += done;
    }
    return true;
}

bool RegularFile::Write(const void* data, size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min(size, kMaxPiece));
        DWORD done = 0;
        if (!::WriteFile(HandleOf(fd_), p, piece, &done, nullptr) || done == 0) return false;
        p += done;
        size -= done;
    }
    return true;
}

bool RegularFile::WriteAt(uint64_t offset, const void* data, size_t size, const void* more,
                          size_t moreSize) {
    if (fd_ < 0) return false;
    HANDLE handle = HandleOf(fd_);
    uint64_t position = 0;
    if (!PointerAt(handle, 0, FILE_CURRENT, &position)) return false;
    const bool ok = WriteAllAt(handle, offset, data, size) &&
                    WriteAllAt(handle, offset + size, more, moreSize);
    return PointerAt(handle, static_cast<int64_t>(position), FILE_BEGIN, nullptr) && ok;
}

bool RegularFile::Seek(uint64_t offset) {
    return fd_ >= 0 && offset <= static_cast<uint64_t>(INT64_MAX) &&
           PointerAt(HandleOf(fd_), static_cast<int64_t>(offset), FILE_BEGIN, nullptr);
}

uint64_t RegularFile::Position() const {
    uint64_t at = 0;
    return fd_ >= 0 && PointerAt(HandleOf(fd_), 0, FILE_CURRENT, &at) ? at : 0;
}

bool RegularFile::Truncate(uint64_t size) {
    if (fd_ < 0 || size > static_cast<uint64_t>(INT64_MAX)) return false;
    // The end of the file is set where the pointer stands; the pointer then goes back, as
    // ftruncate leaves the offset alone.
    HANDLE handle = HandleOf(fd_);
    uint64_t position = 0;
    if (!PointerAt(handle, 0, FILE_CURRENT, &position)) return false;
    const bool ok = PointerAt(handle, static_cast<int64_t>(size), FILE_BEGIN, nullptr) &&
                    ::SetEndOfFile(handle) != FALSE;
    return PointerAt(handle, static_cast<int64_t>(position), FILE_BEGIN, nullptr) && ok;
}

bool RegularFile::Reserve(uint64_t size) {
    if (fd_ < 0) return false;
    if (size <= Size()) return true;
    // Extending the file allocates its clusters now (NTFS files are not sparse unless asked),
    // so a full disk fails here, as posix_fallocate does.
    return Truncate(size);
}

bool RegularFile::Sync() {
    return fd_ >= 0 && ::FlushFileBuffers(HandleOf(fd_)) != FALSE;
}

bool RegularFile::Close() {
    if (fd_ < 0) return true;
    HANDLE handle = HandleOf(fd_);
    fd_ = -1;
    return ::CloseHandle(handle) != FALSE;
}

bool RegularFile::RemoveIfCreated() {
    Close();
    if (!created_ || path_.empty()) return false;
    created_ = false;
    // The file the path names now is opened for deletion and removed only when it is the one
    // this object created: whatever took the name meanwhile is not ours to remove. Through a
    // symbolic link the file goes and the link stays, as on POSIX systems.
    HANDLE handle = Create(path_.c_str(), DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    Identity identity;
    bool isFile = false;
    bool removed = false;
    if (IdentityOf(handle, &identity, &isFile) && isFile && identity.volume == device_ &&
        identity.index == inode_) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                               sizeof disposition) != FALSE;
    }
    ::CloseHandle(handle);
    return removed;
}

}  // namespace lumora::platform
