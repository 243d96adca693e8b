#pragma once
// A named block of memory shared between processes, with the lock that serialises changes to it
// and a count of who is attached, so the first holder can tell that what the block holds is
// left over (from nobody, or from a process that ended without detaching).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumora::platform {

// Thread-safety: one holder's Lock and Attach must not be used from two threads at once; the
// caller serialises its own threads. Separate holders (in this or another process) exclude
// each other through Lock.
class SharedMemory {
public:
    // Opens the block `name`, created zero-filled when absent and grown to `size` bytes when
    // smaller; null when the system refuses (the caller then works alone).
    static std::unique_ptr<SharedMemory> Open(const std::string& name, size_t size);
    // Unmaps the block; this holder stops counting as attached and releases its lock.
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    // Counts this holder as attached until it is destroyed. True when no other holder was
    // attached, so the contents mean nothing. Call once, under Lock, so two holders arriving
    // together cannot both think themselves first.
    bool Attach();

    // Holds the block's cross-process lock around one read-modify-write.
    class Lock {
    public:
        explicit Lock(SharedMemory& memory);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        SharedMemory& memory_;
    };

    struct Handle;  // the system's handles, per backend

private:
    SharedMemory(std::unique_ptr<Handle> handle, uint8_t* data, size_t size);
    std::unique_ptr<Handle> handle_;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace lumora::platform
