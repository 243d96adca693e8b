// The camera's kernel driver through SetupAPI, CreateFileA and DeviceIoControl. An overlapped
// request owns an OVERLAPPED record and an event; a wait registered with the system's pool
// hears the event and reads the outcome with GetOverlappedResult.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>

#include "platform/KernelDriver.h"
#include "platform/KernelDriverCalls.h"
#include "platform/ProcessExit.h"

namespace lumora::platform {

KernelDriverCalls& DriverCalls() {
    static KernelDriverCalls calls;
    return calls;
}

std::vector<std::string> ListDriverInterfaces(const std::string& interfaceClass) {
    GUID guid{};
    if (!ParseInterfaceClass(interfaceClass, guid)) return {};
    KernelDriverCalls& calls = DriverCalls();
    HDEVINFO set =
        calls.getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return {};
    std::vector<std::string> paths;
    constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface {};
        interface.cbSize = sizeof interface;
        if (!calls.enumInterfaces(set, nullptr, &guid, index, &interface)) break;
        // The first call asks only for the size the detail needs.
        DWORD required = 0;
        calls.interfaceDetail(set, &interface, nullptr, 0, &required, nullptr);
        if (required <= kPathOffset || required > 64 * 1024) continue;
        // The record's cbSize is that of its fixed part (8 bytes in 64-bit code), not the
        // buffer's; the buffer is aligned for the record.
        std::vector<uint64_t> storage((required + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!calls.interfaceDetail(set, &interface, detail, required, nullptr, nullptr)) continue;
        // The path ends at its terminator within the size given, never past it.
        const char* text = detail->DevicePath;
        const size_t room = required - kPathOffset;
        std::string path(text, std::find(text, text + room, '\0'));
        if (path.empty()) continue;
        for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        paths.push_back(std::move(path));
    }
    calls.destroyList(set);
    return paths;
}

namespace {

struct Request {
    DriverFile::Impl* owner = nullptr;
    uint64_t id = 0;
    OVERLAPPED overlapped{};
    HANDLE wait = nullptr;
    bool issued = false;        // the driver has it (guarded by the file's mutex)
    bool cancelWanted = false;  // a cancel came before it was issued (the same)
    // Held by the submitter until the wait is registered: the pool's callback takes it first,
    // so it always finds the wait handle stored. Submitter and callback each hold a reference,
    // so the record outlives whichever lets go of the lock last.
    std::mutex registering;
    DriverFile::Completion done;
};

}  // namespace

// Thread-safe: mutex guards pending, reserved, cancelledEarly, nextId and each pending
// request's issued and cancelWanted.
struct DriverFile::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool overlapped = false;
    std::mutex mutex;
    std::condition_variable idle;
    std::map<uint64_t, std::shared_ptr<Request>>
        pending;                        // submitted, completion not yet delivered
    std::set<uint64_t> reserved;        // handed out, not yet submitted
    std::set<uint64_t> cancelledEarly;  // of those, the ones already cancelled
    uint64_t nextId = 1;

    // Delivers a pending request's outcome, then lets the file close.
    static void Finish(Request& request, uint32_t error, uint32_t bytes) {
        Impl* impl = request.owner;
        ::CloseHandle(request.overlapped.hEvent);
        request.done(error, bytes);
        std::lock_guard lock(impl->mutex);
        impl->pending.erase(request.id);
        impl->idle.notify_all();
    }

    static VOID CALLBACK Signalled(PVOID context, BOOLEAN) {
        std::unique_ptr<std::shared_ptr<Request>> held(
            static_cast<std::shared_ptr<Request>*>(context));
        const std::shared_ptr<Request> request = *held;
        { std::lock_guard registered(request->registering); }
        Impl* impl = request->owner;
        DWORD bytes = 0;
        const uint32_t error =
            DriverCalls().getOverlappedResult(impl->file, &request->overlapped, &bytes, FALSE)
                ? ERROR_SUCCESS
                : ::GetLastError();
        // From within its own callback the wait is released without waiting (the call says
        // ERROR_IO_PENDING, which is expected here).
        ::UnregisterWait(request->wait);
        Finish(*request, error, bytes);
    }
};

DriverFile::DriverFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<DriverFile> DriverFile::Open(const std::string& path, bool overlapped,
                                             uint32_t* error) {
    HANDLE file = DriverCalls().createFile(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        uint32_t code = ::GetLastError();
        // A device path whose device is gone may be reported as a missing folder: either way
        // nothing answers there.
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_SUCCESS) code = ERROR_FILE_NOT_FOUND;
        if (error) *error = code;
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->file = file;
    impl->overlapped = overlapped;
    if (error) *error = ERROR_SUCCESS;
    return std::make_unique<DriverFile>(std::move(impl));
}

DriverFile::~DriverFile() {
    // At process exit the pool's threads are gone, and their callbacks will never come.
    if (ProcessIsExiting()) return;
    KernelDriverCalls& calls = DriverCalls();
    {
        std::unique_lock lock(impl_->mutex);
        for (const auto& entry : impl_->pending) {
            calls.cancelIoEx(impl_->file, &entry.second->overlapped);
        }
        impl_->idle.wait(lock, [&] { return impl_->pending.empty(); });
    }
    calls.closeHandle(impl_->file);
}

bool DriverFile::IsOverlapped() const {
    return impl_->overlapped;
}

uint32_t DriverFile::Control(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                             uint32_t* returned) {
    KernelDriverCalls& calls = DriverCalls();
    DWORD bytes = 0;
    uint32_t error = ERROR_SUCCESS;
    if (!impl_->overlapped) {
        if (!calls.deviceIoControl(impl_->file, code, in, inSize, out, outSize, &bytes, nullptr)) {
            error = ::GetLastError();
        }
    } else {
        // An overlapped file takes every request with a record, also one the caller waits for.
        OVERLAPPED record{};
        record.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (record.hEvent == nullptr) return ::GetLastError();
        if (!calls.deviceIoControl(impl_->file, code, in, inSize, out, outSize, nullptr, &record)) {
            error = ::GetLastError();
        }
        if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING) {
            error = calls.getOverlappedResult(impl_->file, &record, &bytes, TRUE)
                        ? ERROR_SUCCESS
                        : ::GetLastError();
        }
        ::CloseHandle(record.hEvent);
    }
    if (returned) *returned = bytes;
    return error;
}

uint64_t DriverFile::NewRequest() {
    std::lock_guard lock(impl_->mutex);
    impl_->reserved.insert(impl_->nextId);
    return impl_->nextId++;
}

uint32_t DriverFile::Submit(uint64_t id, uint32_t code, void* in, uint32_t inSize, void* out,
                            uint32_t outSize, uint32_t* returned, Completion done) {
    if (returned) *returned = 0;
    KernelDriverCalls& calls = DriverCalls();
    auto request = std::make_shared<Request>();
    request->owner = impl_.get();
    request->id = id;
    request->done = std::move(done);
    request->overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request->overlapped.hEvent == nullptr) {
        std::lock_guard lock(impl_->mutex);
        impl_->reserved.erase(id);
        impl_->cancelledEarly.erase(id);
        return ::GetLastError();
    }
    std::unique_lock registering(request->registering);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->reserved.erase(id);
        request->cancelWanted = impl_->cancelledEarly.erase(id) > 0;
        impl_->pending.emplace(id, request);
    }
    uint32_t error = ERROR_SUCCESS;
    if (!calls.deviceIoControl(impl_->file, code, in, inSize, out, outSize, nullptr,
                               &request->overlapped)) {
        error = ::GetLastError();
    }
    // The pool's callback takes over this reference to the record.
    auto context = std::make_unique<std::shared_ptr<Request>>(request);
    if (error == ERROR_IO_PENDING &&
        ::RegisterWaitForSingleObject(&request->wait, request->overlapped.hEvent, &Impl::Signalled,
                                      context.get(), INFINITE, WT_EXECUTEONLYONCE)) {
        (void)context.release();
        bool cancel = false;
        {
            std::lock_guard lock(impl_->mutex);
            request->issued = true;
            cancel = request->cancelWanted;
        }
        if (cancel) calls.cancelIoEx(impl_->file, &request->overlapped);
        return ERROR_IO_PENDING;
    }
    // Finished at once (or no wait could be registered, and it is waited for here): the
    // outcome is in the record.
    DWORD bytes = 0;
    if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING) {
        error = calls.getOverlappedResult(impl_->file, &request->overlapped, &bytes, TRUE)
                    ? ERROR_SUCCESS
                    : ::GetLastError();
    }
    registering.unlock();
    ::CloseHandle(request->overlapped.hEvent);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->pending.erase(id);
        impl_->idle.notify_all();
    }
    if (returned) *returned = bytes;
    return error;
}

void DriverFile::Cancel(uint64_t id) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->reserved.count(id) != 0) {
        impl_->cancelledEarly.insert(id);
        return;
    }
    auto it = impl_->pending.find(id);
    if (it == impl_->pending.end()) return;  // completed already
    if (!it->second->issued) {
        it->second->cancelWanted = true;
        return;
    }
    DriverCalls().cancelIoEx(impl_->file, &it->second->overlapped);
}

}  // namespace lumora::platform
