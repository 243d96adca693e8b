// A named file mapping backed by the page file, as the block was designed to be. Two further
// named kernel objects carry the protocol between processes:
//   "<name>-Attached": an event every attached holder keeps a handle to, so a holder that
//                      creates it (rather than opening one that exists) knows nobody is
//                      attached;
//   "<name>-Lock":     a mutex held around every read-modify-write of the block.
// The kernel closes a process's handles when it dies: a crash never leaves the block locked or
// counted as attached, and a mutex its owner abandoned is taken over.
#include "platform/SharedMemory.h"

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

// Windows names carry no leading slash; the POSIX spelling of the same name is taken as is.
std::string KernelName(const std::string& name) {
    return !name.empty() && name.front() == '/' ? name.substr(1) : name;
}

}  // namespace

struct SharedMemory::Handle {
    std::string name;
    HANDLE mapping = nullptr;
    HANDLE mutex = nullptr;
    HANDLE attached = nullptr;
};

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, size_t size) {
    auto handle = std::make_unique<Handle>();
    handle->name = KernelName(name);
    const auto high = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
    const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    handle->mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, high,
                                           low, handle->name.c_str());
    if (handle->mapping == nullptr) return nullptr;
    handle->mutex = ::CreateMutexA(nullptr, FALSE, (handle->name + "-Lock").c_str());
    // A mapping someone else made smaller than `size` cannot grow; the view fails then.
    void* view = handle->mutex != nullptr
                     ? ::MapViewOfFile(handle->mapping, FILE_MAP_ALL_ACCESS, 0, 0, size)
                     : nullptr;
    if (view == nullptr) {
        if (handle->mutex != nullptr) ::CloseHandle(handle->mutex);
        ::CloseHandle(handle->mapping);
        return nullptr;
    }
    return std::unique_ptr<SharedMemory>(
        new SharedMemory(std::move(handle), static_cast<uint8_t*>(view), size));
}

SharedMemory::SharedMemory(std::unique_ptr<Handle> handle, uint8_t* data, size_t size)
    : handle_(std::move(handle)), data_(data), size_(size) {}

SharedMemory::~SharedMemory() {
    ::UnmapViewOfFile(data_);
    if (handle_->attached != nullptr) ::CloseHandle(handle_->attached);
    ::CloseHandle(handle_->mutex);
    ::CloseHandle(handle_->mapping);
}

bool SharedMemory::Attach() {
    if (handle_->attached != nullptr) return false;
    handle_->attached = ::CreateEventA(nullptr, TRUE, FALSE, (handle_->name + "-Attached").c_str());
    // Without the marker this holder cannot tell; taking the rows as meaningful keeps another
    // process's cameras where they are.
    if (handle_->attached == nullptr) return false;
    return ::GetLastError() != ERROR_ALREADY_EXISTS;
}

SharedMemory::Lock::Lock(SharedMemory& memory) : memory_(memory) {
    // WAIT_ABANDONED also hands the mutex over: its owner died inside a change, and the rows it
    // may have half-written are no worse than the unlocked block the design describes.
    ::WaitForSingleObject(memory_.handle_->mutex, INFINITE);
}

SharedMemory::Lock::~Lock() {
    ::ReleaseMutex(memory_.handle_->mutex);
}

}  // namespace lumora::platform
