#pragma once
// The camera's kernel driver as Windows reaches it: the present device interfaces of a class,
// and a device file whose I/O control requests run synchronously or overlapped. Only the
// Windows build has it (KernelDriverWin32.cpp); POSIX systems reach cameras through libusb.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::platform {

// Paths of the present device interfaces of `interfaceClass`
// ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), in lower case as the system's notices are turned,
// in the order the system lists them. Empty when the class is malformed or nothing is present.
std::vector<std::string> ListDriverInterfaces(const std::string& interfaceClass);

// An open device path. Requests may be issued from several threads at once.
class DriverFile {
public:
    using Completion = std::function<void(uint32_t error, uint32_t bytes)>;

    // Null with *error set: the system's error number, kErrorFileNotFound where no device
    // answers at the path.
    static std::unique_ptr<DriverFile> Open(const std::string& path, bool overlapped,
                                            uint32_t* error);
    // Cancels every request still pending and waits for their completions before closing.
    ~DriverFile();
    DriverFile(const DriverFile&) = delete;
    DriverFile& operator=(const DriverFile&) = delete;

    bool IsOverlapped() const;
    // One request, returning when it is done: its error, with the byte count in *returned.
    uint32_t Control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* returned);
    // An overlapped request (on an overlapped file) under an id from NewRequest. Returns its
    // error and count when it finished at once; otherwise kErrorIoPending, and `done` runs once,
    // on a thread of the system's pool, when it completes. `in` and `out` must stay valid until
    // then.
    uint64_t NewRequest();
    uint32_t Submit(uint64_t request, uint32_t code, void* in, uint32_t inSize, void* out,
                    uint32_t outSize, uint32_t* returned, Completion done);
    // Asks the driver to end a request; it completes with the driver's error for that. A
    // request cancelled before it was submitted is cancelled as soon as it is.
    void Cancel(uint64_t request);

    struct Impl;
    explicit DriverFile(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumora::platform
