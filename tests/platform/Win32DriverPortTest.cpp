// Real cameras on Windows, with a stand-in of the camera's kernel driver put below the system
// calls: its SetupAPI lists two cameras, and its device files answer the driver's requests from
// the simulated cameras (the requests are decoded by the simulated bus as the driver decodes
// them). Overlapped requests are completed later from threads of the stand-in through the
// caller's own OVERLAPPED record and event, so the system's GetOverlappedResult reads them.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"
#include "platform/KernelDriver.h"
#include "platform/KernelDriverCalls.h"
#include "port/ActivePort.h"
#include "port/SimPort.h"
#include "port/SystemCameraPort.h"
#include "port/UsbIoctl.h"
// clang-format off
#include <dbt.h>
// clang-format on

namespace lumora::platform {
namespace {

constexpr DWORD kDeadlineMs = 60000;  // the machine may be loaded; waits are for events
constexpr uint8_t kStreamIn = 0x81;
constexpr LONG_PTR kStatusPending = 0x103;

// {328184C5-93E6-49B7-94B8-2ADA13AABB39}, the camera's interface class.
constexpr GUID kCameraClass = {
    0x328184C5, 0x93E6, 0x49B7, {0x94, 0xB8, 0x2A, 0xDA, 0x13, 0xAA, 0xBB, 0x39}};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The status a driver completes a request with, for the error the simulated bus gave.
LONG_PTR NtStatusFor(uint32_t error) {
    switch (error) {
        case kErrorSuccess:
            return 0;
        case kErrorFileNotFound:
            return static_cast<LONG>(0xC0000034);
        case kErrorInvalidParameter:
            return static_cast<LONG>(0xC000000D);
        case kErrorInsufficientBuffer:
            return static_cast<LONG>(0xC0000023);
        case kErrorSemTimeout:
            return static_cast<LONG>(0xC00000B5);
        case kErrorOperationAborted:
            return static_cast<LONG>(0xC0000120);
        case kErrorDeviceNotConnected:
            return static_cast<LONG>(0xC000009D);
        default:
            return static_cast<LONG>(0xC0000001);  // read back as kErrorGenFailure
    }
}

struct LoggedRequest {
    uintptr_t file = 0;
    DWORD code = 0;
    std::vector<uint8_t> in;  // the bytes as the driver received them
    DWORD outSize = 0;
    bool overlapped = false;
};

// The stand-in driver. One lives at a time; the system-call table points at it while it does.
class FakeDriver {
public:
    // Two cameras answer on paths of their own (spelt in upper case, as some systems do), each
    // backed by the simulated camera at the same index.
    FakeDriver() {
        saved_ = DriverCalls();
        current_ = this;
        for (const std::string& simPath :
             SimPort::Instance().EnumerateInterfaces(kCameraInterfaceGuid)) {
            // "\\?\usb#vid_xxxx&pid_xxxx#<instance>#{guid}": the driver's own instance name.
            const size_t first = simPath.find('#');
            const size_t second = simPath.find('#', first + 1);
            const size_t third = simPath.find('#', second + 1);
            std::string path = simPath.substr(0, second + 1) + "KDRV" +
                               std::to_string(cameras_.size()) + simPath.substr(third);
            for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            cameras_.push_back({path, simPath, true});
        }
        KernelDriverCalls& calls = DriverCalls();
        calls.getClassDevs = &GetClassDevs;
        calls.enumInterfaces = &EnumInterfaces;
        calls.interfaceDetail = &InterfaceDetail;
        calls.destroyList = &DestroyList;
        calls.createFile = &CreateFile;
        calls.deviceIoControl = &DeviceIoControl;
        calls.cancelIoEx = &CancelIoEx;
        calls.closeHandle = &CloseHandle;
    }
    ~FakeDriver() {
        ReleaseHeld();
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(completers_);
        }
        for (auto& thread : threads) thread.join();
        DriverCalls() = saved_;
        current_ = nullptr;
    }

    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const auto& camera : cameras_) paths.push_back(camera.path);
        return paths;
    }
    // The camera leaves: the system stops listing it and its files answer no more.
    void Remove(size_t index) {
        std::lock_guard lock(mutex_);
        cameras_[index].present = false;
    }
    // Completions of bulk reads of the stream endpoint wait until released.
    void HoldStreamReads() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }
    void ReleaseHeld() {
        std::lock_guard lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }
    // Waits until a held read has its data and waits only for its release; its record then.
    OVERLAPPED* WaitForHeldRead() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(kDeadlineMs),
                          [&] { return heldReady_ != nullptr; });
        return heldReady_;
    }

    std::vector<LoggedRequest> Log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int OpenFiles() const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(files_.size());
    }
    int OpenLists() const {
        std::lock_guard lock(mutex_);
        return openLists_;
    }
    int Cancels() const {
        std::lock_guard lock(mutex_);
        return cancels_;
    }
    DWORD LastListFlags() const {
        std::lock_guard lock(mutex_);
        return listFlags_;
    }

private:
    struct Camera {
        std::string path;
        std::string simPath;
        bool present;
    };
    struct File {
        size_t camera = 0;
        bool overlapped = false;
        std::unique_ptr<DeviceFile> sim;
    };
    // A request the driver has pended: the simulated bus's record of it, and the caller's.
    struct Pending {
        std::shared_ptr<File> file;
        OVERLAPPED* caller = nullptr;
        uint8_t endpoint = 0;
        bool streamRead = false;
        Event event{true, false};
        Overlapped record{event};
        uint32_t error = kErrorSuccess;  // of a request the bus finished at once
        uint32_t bytes = 0;
        bool finishedAtOnce = false;
    };

    static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCSTR, HWND, DWORD flags) {
        FakeDriver& self = *current_;
        std::lock_guard lock(self.mutex_);
        self.listFlags_ = flags;
        if (guid == nullptr || !::IsEqualGUID(*guid, kCameraClass)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        auto* list = new std::vector<std::string>;
        for (const auto& camera : self.cameras_) {
            if (camera.present) list->push_back(camera.path);
        }
        ++self.openLists_;
        return reinterpret_cast<HDEVINFO>(list);
    }
    static BOOL WINAPI EnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                      PSP_DEVICE_INTERFACE_DATA data) {
        const auto& list = *reinterpret_cast<std::vector<std::string>*>(set);
        if (guid == nullptr || !::IsEqualGUID(*guid, kCameraClass) || data == nullptr ||
            data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (index >= list.size()) {
            ::SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        data->InterfaceClassGuid = kCameraClass;
        data->Flags = SPINT_ACTIVE;
        data->Reserved = index;
        return TRUE;
    }
    static BOOL WINAPI InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                       PDWORD required, PSP_DEVINFO_DATA) {
        const auto& list = *reinterpret_cast<std::vector<std::string>*>(set);
        const std::string& path = list.at(data->Reserved);
        const DWORD needed = static_cast<DWORD>(
            offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
        if (required != nullptr) *required = needed;
        if (detail == nullptr || size < needed) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            ::SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        return TRUE;
    }
    static BOOL WINAPI DestroyList(HDEVINFO set) {
        delete reinterpret_cast<std::vector<std::string>*>(set);
        std::lock_guard lock(current_->mutex_);
        --current_->openLists_;
        return TRUE;
    }

    static HANDLE WINAPI CreateFile(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                                    DWORD disposition, DWORD flags, HANDLE) {
        FakeDriver& self = *current_;
        std::unique_lock lock(self.mutex_);
        size_t index = 0;
        while (index < self.cameras_.size() &&
               !(self.cameras_[index].present && Lower(self.cameras_[index].path) == Lower(name))) {
            ++index;
        }
        if (index == self.cameras_.size()) {
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (disposition != OPEN_EXISTING || (access & GENERIC_WRITE) == 0) {
            ::SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        auto file = std::make_shared<File>();
        file->camera = index;
        file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
        const std::string simPath = self.cameras_[index].simPath;
        lock.unlock();
        uint32_t error = kErrorSuccess;
        file->sim = SimPort::Instance().Open(simPath, file->overlapped, &error);
        if (!file->sim) {
            ::SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        lock.lock();
        HANDLE handle = reinterpret_cast<HANDLE>(0x70000 + 4 * ++self.nextHandle_);
        self.files_[handle] = std::move(file);
        return handle;
    }
    static BOOL WINAPI CloseHandle(HANDLE handle) {
        std::shared_ptr<File> file;
        {
            std::lock_guard lock(current_->mutex_);
            auto it = current_->files_.find(handle);
            if (it == current_->files_.end()) {
                ::SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            file = std::move(it->second);
            current_->files_.erase(it);
        }
        return TRUE;
    }

    static BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize,
                                       LPVOID out, DWORD outSize, LPDWORD returned,
                                       LPOVERLAPPED overlapped) {
        FakeDriver& self = *current_;
        std::shared_ptr<File> file;
        bool present = false;
        {
            std::lock_guard lock(self.mutex_);
            auto it = self.files_.find(handle);
            if (it == self.files_.end()) {
                ::SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            file = it->second;
            present = self.cameras_[file->camera].present;
            LoggedRequest logged;
            logged.file = reinterpret_cast<uintptr_t>(handle);
            logged.code = code;
            if (in != nullptr) {
                logged.in.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inSize);
            }
            logged.outSize = outSize;
            logged.overlapped = overlapped != nullptr;
            self.log_.push_back(std::move(logged));
        }
        if (!present) {
            ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        // A file opened for overlapped requests takes each with a record, as the system
        // requires.
        if (file->overlapped != (overlapped != nullptr)) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (overlapped == nullptr) {
            uint32_t bytes = 0;
            const uint32_t error =
                file->sim->IoControl(code, in, inSize, out, outSize, &bytes, nullptr);
            if (returned != nullptr) *returned = bytes;
            ::SetLastError(error);
            return error == kErrorSuccess;
        }
        auto pending = std::make_shared<Pending>();
        pending->file = file;
        pending->caller = overlapped;
        if ((code == kIoctlDirectBulk || code == kIoctlBufferedBulk) && in != nullptr &&
            inSize >= SingleTransfer::kSize) {
            pending->endpoint = SingleTransfer::Read(static_cast<uint8_t*>(in)).endpoint;
            pending->streamRead = pending->endpoint == kStreamIn;
        }
        overlapped->Internal = kStatusPending;
        overlapped->InternalHigh = 0;
        ::ResetEvent(overlapped->hEvent);
        {
            std::lock_guard lock(self.mutex_);
            self.pending_.push_back(pending);
        }
        uint32_t bytes = 0;
        const uint32_t error =
            file->sim->IoControl(code, in, inSize, out, outSize, &bytes, &pending->record);
        if (error != kErrorIoPending && pending->record.IsPending()) {
            // Refused before the bus began it (a malformed request): failed at once.
            overlapped->Internal = NtStatusFor(error);
            self.Forget(pending);
            ::SetLastError(error);
            return FALSE;
        }
        pending->finishedAtOnce = error != kErrorIoPending;
        pending->error = error;
        pending->bytes = bytes;
        // Everything else is pended and completed from a thread of the driver's, later.
        std::lock_guard lock(self.mutex_);
        self.completers_.emplace_back([&self, pending] { self.Complete(pending); });
        ::SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    void Complete(const std::shared_ptr<Pending>& pending) {
        uint32_t bytes = pending->bytes;
        uint32_t error = pending->error;
        if (!pending->finishedAtOnce) error = pending->record.WaitForResult(&bytes);
        {
            std::unique_lock lock(mutex_);
            if (pending->streamRead && hold_) {
                heldReady_ = pending->caller;
                changed_.notify_all();
                changed_.wait(lock, [&] { return !hold_; });
                heldReady_ = nullptr;
            }
        }
        Forget(pending);
        // As the system completes a request: the count, then the status, then the event.
        pending->caller->InternalHigh = bytes;
        pending->caller->Internal = NtStatusFor(error);
        ::SetEvent(pending->caller->hEvent);
    }

    void Forget(const std::shared_ptr<Pending>& pending) {
        std::lock_guard lock(mutex_);
        std::erase(pending_, pending);
    }

    static BOOL WINAPI CancelIoEx(HANDLE handle, LPOVERLAPPED overlapped) {
        FakeDriver& self = *current_;
        std::vector<std::shared_ptr<Pending>> targets;
        {
            std::lock_guard lock(self.mutex_);
            ++self.cancels_;
            for (const auto& pending : self.pending_) {
                auto it = self.files_.find(handle);
                if (it != self.files_.end() && pending->file == it->second &&
                    (overlapped == nullptr || pending->caller == overlapped)) {
                    targets.push_back(pending);
                }
            }
        }
        if (targets.empty()) {
            ::SetLastError(ERROR_NOT_FOUND);
            return FALSE;
        }
        // The driver ends a cancelled transfer by aborting its pipe on the device.
        for (const auto& pending : targets) {
            if (pending->endpoint == 0 || !pending->record.IsPending()) continue;
            uint8_t endpoint = pending->endpoint;
            uint32_t bytes = 0;
            pending->file->sim->IoControl(kIoctlAbortPipe, &endpoint, 1, nullptr, 0, &bytes,
                                          nullptr);
        }
        return TRUE;
    }

    static inline FakeDriver* current_ = nullptr;
    KernelDriverCalls saved_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Camera> cameras_;
    std::map<HANDLE, std::shared_ptr<File>> files_;
    std::vector<std::shared_ptr<Pending>> pending_;
    std::vector<std::thread> completers_;
    std::vector<LoggedRequest> log_;
    bool hold_ = false;
    OVERLAPPED* heldReady_ = nullptr;
    int openLists_ = 0;
    int cancels_ = 0;
    DWORD listFlags_ = 0;
    int nextHandle_ = 0;
};

// Two simulated cameras in fast mode with a still scene, the stand-in driver above them.
class Win32DriverPort : public ::testing::Test {
protected:
    void SetUp() override {
        LumoraSim_SetFastMode(1);
        LumoraSim_SetStaticScene(1);
        ASSERT_EQ(LumoraSim_SetCameraCount(2), 2);
        driver_ = std::make_unique<FakeDriver>();
        ASSERT_EQ(driver_->Paths().size(), 2u);
    }
    void TearDown() override {
        for (int handle : handles_) Lumora_Release(handle);
        driver_.reset();
        LumoraSim_SetCameraCount(0);
    }

    // A session on the device number that reaches camera `index` through the driver.
    int OpenThroughDriver(size_t index, HWND window = nullptr) {
        const int handle = Lumora_Initialize(window);
        EXPECT_NE(handle, 0);
        handles_.push_back(handle);
        const int number = DeviceNumberOf(handle, Lower(driver_->Paths()[index]));
        EXPECT_GE(number, 0);
        EXPECT_EQ(Lumora_SetDeviceNumber(handle, number), 1);
        return handle;
    }
    // Listed simulated cameras first, then the driver's: a path's number is its place.
    static int DeviceNumberOf(int, const std::string& path) {
        const auto paths = ActivePort().EnumerateInterfaces(kCameraInterfaceGuid);
        auto it = std::find(paths.begin(), paths.end(), path);
        return it == paths.end() ? -1 : static_cast<int>(it - paths.begin());
    }
    static std::vector<uint8_t> Snapshot(int handle) {
        std::vector<uint8_t> pixels(static_cast<size_t>(Lumora_Width(handle)) *
                                    static_cast<size_t>(Lumora_Height(handle)) * 8);
        EXPECT_EQ(Lumora_SnapShot(handle, pixels.data(), static_cast<int>(pixels.size()), 1), 1);
        return pixels;
    }
    // The requests of one code the driver saw.
    std::vector<LoggedRequest> Requests(DWORD code) const {
        std::vector<LoggedRequest> found;
        for (auto& request : driver_->Log()) {
            if (request.code == code) found.push_back(request);
        }
        return found;
    }

    std::unique_ptr<FakeDriver> driver_;
    std::vector<int> handles_;
};

TEST_F(Win32DriverPort, ListsEachCamerasInterfacePathInTheSystemsOrderBehindTheSimulatedOnes) {
    const std::vector<std::string> paths =
        SystemCameraPort().EnumerateInterfaces(kCameraInterfaceGuid);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], Lower(driver_->Paths()[0]));
    EXPECT_EQ(paths[1], Lower(driver_->Paths()[1]));
    EXPECT_EQ(driver_->LastListFlags(), static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    EXPECT_EQ(driver_->OpenLists(), 0);
    // A malformed class is not asked for.
    EXPECT_TRUE(SystemCameraPort().EnumerateInterfaces("{328184c5-93e6-49b7-94b8}").empty());

    const auto all = ActivePort().EnumerateInterfaces(kCameraInterfaceGuid);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 2, all.end()), paths);

    // A camera that left is listed no more, and its path opens as nothing.
    driver_->Remove(0);
    EXPECT_EQ(SystemCameraPort().EnumerateInterfaces(kCameraInterfaceGuid),
              std::vector<std::string>{paths[1]});
    uint32_t error = 0;
    EXPECT_EQ(ActivePort().Open(paths[0], true, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(Win32DriverPort, EachRequestReachesTheDriverByteForByteAndItsAnswersComeBack) {
    for (bool overlappedFile : {false, true}) {
        SCOPED_TRACE(overlappedFile ? "overlapped file" : "plain file");
        const std::string path = Lower(driver_->Paths()[1]);
        uint32_t error = 1;
        auto file = SystemCameraPort().Open(path, overlappedFile, &error);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(error, kErrorSuccess);
        EXPECT_EQ(file->IsOverlapped(), overlappedFile);
        const size_t logged = driver_->Log().size();

        // A vendor request reading 64 bytes: header and data stage in one 102-byte buffer.
        SingleTransfer header;
        header.requestType = 0xC0;
        header.request = 0xB0;
        header.value = 0x1234;
        header.index = 0x0056;
        header.length = kControlRequestSize;
        header.timeoutSeconds = 5;
        header.bufferOffset = SingleTransfer::kSize;
        header.bufferLength = kControlDataSize;
        uint8_t control[kControlRequestSize];
        for (size_t i = 0; i < sizeof control; ++i) control[i] = static_cast<uint8_t>(0xA0 + i);
        header.Write(control);
        const std::vector<uint8_t> sent(control, control + sizeof control);
        uint32_t returned = 0;
        file->IoControl(kIoctlControlTransfer, control, sizeof control, control, sizeof control,
                        &returned, nullptr);

        // A bulk read: the 38-byte header in, the caller's 512 bytes out.
        SingleTransfer bulk;
        bulk.endpoint = 0x83;
        bulk.timeoutSeconds = 1;
        bulk.bufferLength = 512;
        uint8_t bulkHeader[SingleTransfer::kSize];
        bulk.Write(bulkHeader);
        const std::vector<uint8_t> bulkSent(bulkHeader, bulkHeader + sizeof bulkHeader);
        std::vector<uint8_t> data(512);
        const uint32_t bulkError = file->IoControl(kIoctlDirectBulk, bulkHeader, sizeof bulkHeader,
                                                   data.data(), 512, &returned, nullptr);
        // Nothing streams on the side endpoint of an idle camera: the driver's failure, with
        // its status words written into the header it was given.
        EXPECT_EQ(bulkError, kErrorGenFailure);
        EXPECT_EQ(LoadLe32(bulkHeader + SingleTransfer::kOffsetStatus), kErrorGenFailure);

        uint8_t endpoint = kStreamIn;
        EXPECT_EQ(file->IoControl(kIoctlAbortPipe, &endpoint, 1, nullptr, 0, &returned, nullptr),
                  kErrorSuccess);
        EXPECT_EQ(file->IoControl(kIoctlResetPipe, &endpoint, 1, nullptr, 0, &returned, nullptr),
                  kErrorSuccess);
        uint8_t speed[4] = {0, 0, 0, 0};
        EXPECT_EQ(file->IoControl(kIoctlGetSpeed, speed, 4, speed, 4, &returned, nullptr),
                  kErrorSuccess);
        EXPECT_EQ(returned, 4u);
        EXPECT_EQ(LoadLe32(speed), kSpeedSuper);

        const auto log = driver_->Log();
        ASSERT_EQ(log.size(), logged + 5);
        EXPECT_EQ(log[logged].code, kIoctlControlTransfer);
        EXPECT_EQ(log[logged].in, sent);
        EXPECT_EQ(log[logged].outSize, kControlRequestSize);
        EXPECT_EQ(log[logged + 1].code, kIoctlDirectBulk);
        EXPECT_EQ(log[logged + 1].in, bulkSent);
        EXPECT_EQ(log[logged + 1].outSize, 512u);
        EXPECT_EQ(log[logged + 2].code, kIoctlAbortPipe);
        EXPECT_EQ(log[logged + 2].in, std::vector<uint8_t>{kStreamIn});
        EXPECT_EQ(log[logged + 3].code, kIoctlResetPipe);
        EXPECT_EQ(log[logged + 3].in, std::vector<uint8_t>{kStreamIn});
        EXPECT_EQ(log[logged + 4].code, kIoctlGetSpeed);
        EXPECT_EQ(log[logged + 4].in.size(), 4u);
        EXPECT_EQ(log[logged + 4].outSize, 4u);
        for (size_t i = logged; i < log.size(); ++i) EXPECT_EQ(log[i].overlapped, overlappedFile);

        file.reset();
        EXPECT_EQ(driver_->OpenFiles(), 0);
    }
}

TEST_F(Win32DriverPort, TheSdksRequestsHaveTheDriversShapes) {
    const int handle = OpenThroughDriver(0);
    EXPECT_EQ(Lumora_SnapShot(handle, nullptr, 0, 1), 1);
    const auto controls = Requests(kIoctlControlTransfer);
    ASSERT_FALSE(controls.empty());
    for (const auto& request : controls) {
        ASSERT_EQ(request.in.size(), kControlRequestSize);
        EXPECT_EQ(request.outSize, kControlRequestSize);
        const SingleTransfer header = SingleTransfer::Read(request.in.data());
        EXPECT_EQ(header.length, kControlRequestSize);
        EXPECT_EQ(header.bufferOffset, SingleTransfer::kSize);
        EXPECT_EQ(header.bufferLength, kControlDataSize);
        EXPECT_NE(header.timeoutSeconds, 0u);
    }
    // A direct transfer's header names only its endpoint: the length is the output buffer's.
    const auto reads = Requests(kIoctlDirectBulk);
    ASSERT_FALSE(reads.empty());
    for (const auto& request : reads) {
        ASSERT_EQ(request.in.size(), SingleTransfer::kSize);
        SingleTransfer expected;
        expected.endpoint = request.in[SingleTransfer::kOffsetEndpoint];
        EXPECT_TRUE(expected.endpoint == 0x01 || expected.endpoint == kStreamIn ||
                    expected.endpoint == 0x83);
        std::vector<uint8_t> bytes(SingleTransfer::kSize);
        expected.Write(bytes.data());
        EXPECT_EQ(request.in, bytes);
        EXPECT_GT(request.outSize, 0u);
    }
    for (DWORD code : {kIoctlAbortPipe, kIoctlResetPipe}) {
        for (const auto& request : Requests(code)) EXPECT_EQ(request.in.size(), 1u);
    }
    for (const auto& request : Requests(kIoctlGetSpeed)) {
        EXPECT_EQ(request.in.size(), 4u);
        EXPECT_EQ(request.outSize, 4u);
    }
}

TEST_F(Win32DriverPort, ASnapshotAndRegistersThroughTheDriverAreThoseOfTheSimulatedPort) {
    // The same camera through the simulated bus directly...
    const int direct = Lumora_Initialize(nullptr);
    ASSERT_NE(direct, 0);
    handles_.push_back(direct);
    ASSERT_EQ(Lumora_SetDeviceNumber(direct, 0), 1);
    const std::vector<uint8_t> expected = Snapshot(direct);
    Lumora_Release(direct);
    handles_.clear();

    // ...and through the driver.
    const int handle = OpenThroughDriver(0);
    const size_t before = Requests(kIoctlControlTransfer).size();
    EXPECT_EQ(Snapshot(handle), expected);
    EXPECT_GT(Requests(kIoctlDirectBulk).size(), 0u);

    int valid = 0;
    EXPECT_EQ(Lumora_WriteRegisterEx(handle, 0x07C0, 0x34), 1);
    EXPECT_EQ(Lumora_ReadRegisterEx(handle, 0x07C0, &valid), 0x34);
    EXPECT_EQ(valid, 1);
    valid = 1;
    ASSERT_EQ(Lumora_Fpga_WriteRegister(handle, 0x07, 0x5A), 1);
    EXPECT_EQ(Lumora_Fpga_ReadRegister(handle, 0x07, &valid), 0x5A);
    EXPECT_EQ(valid, 1);
    EXPECT_GE(Requests(kIoctlControlTransfer).size(), before + 3);
}

TEST_F(Win32DriverPort, ABulkReadCompletedLateByTheDriverHoldsTheSnapshotUntilItIs) {
    const int handle = OpenThroughDriver(1);
    ASSERT_EQ(Lumora_SnapShot(handle, nullptr, 0, 1), 1);
    driver_->HoldStreamReads();
    std::atomic<int> result{-1};
    std::thread snapper([&] { result = Lumora_SnapShot(handle, nullptr, 0, 1); });
    // The frame's data is in the caller's buffer, but the driver has not completed the read:
    // the system's record still says pending, and the snapshot waits.
    OVERLAPPED* held = driver_->WaitForHeldRead();
    ASSERT_NE(held, nullptr);
    DWORD bytes = 0;
    EXPECT_FALSE(::GetOverlappedResult(reinterpret_cast<HANDLE>(1), held, &bytes, FALSE));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(result.load(), -1);
    driver_->ReleaseHeld();
    snapper.join();
    EXPECT_EQ(result.load(), 1);
}

TEST_F(Win32DriverPort, AReadCancelledThroughItsRecordCompletesWithOperationAborted) {
    const std::string path = Lower(driver_->Paths()[0]);
    uint32_t error = 1;
    auto file = SystemCameraPort().Open(path, true, &error);
    ASSERT_NE(file, nullptr);
    SingleTransfer bulk;
    bulk.endpoint = kStreamIn;
    bulk.timeoutSeconds = 1;
    bulk.bufferLength = 4096;
    uint8_t header[SingleTransfer::kSize];
    bulk.Write(header);
    std::vector<uint8_t> data(4096);

    Event event(true, false);
    {
        Overlapped record(event);
        uint32_t returned = 7;
        // An idle camera sends nothing: the read stays pending until it is cancelled.
        EXPECT_EQ(file->IoControl(kIoctlDirectBulk, header, sizeof header, data.data(), 4096,
                                  &returned, &record),
                  kErrorIoPending);
        EXPECT_EQ(returned, 0u);
        EXPECT_TRUE(record.IsPending());
        uint32_t bytes = 0;
        EXPECT_FALSE(record.GetResult(&bytes, &error));
        EXPECT_EQ(error, kErrorIoIncomplete);
        // Destroying a pending record cancels its request and waits for it.
    }
    EXPECT_GE(driver_->Cancels(), 1);
    EXPECT_EQ(LoadLe32(header + SingleTransfer::kOffsetStatus), kErrorOperationAborted);
    EXPECT_EQ(LumoraSim_GetPendingTransfers(0), 0);

    // The same through the kernel-driver file itself, where the outcome can be read.
    auto direct = DriverFile::Open(path, true, &error);
    ASSERT_NE(direct, nullptr);
    Event done(true, false);
    std::atomic<uint32_t> outcome{0};
    const uint64_t request = direct->NewRequest();
    uint32_t returned = 0;
    bulk.Write(header);
    ASSERT_EQ(direct->Submit(request, kIoctlDirectBulk, header, sizeof header, data.data(), 4096,
                             &returned,
                             [&](uint32_t e, uint32_t) {
                                 outcome = e;
                                 done.Set();
                             }),
              kErrorIoPending);
    direct->Cancel(request);
    ASSERT_TRUE(done.Wait(kDeadlineMs));
    EXPECT_EQ(outcome.load(), kErrorOperationAborted);

    // A request cancelled before it is submitted is cancelled as soon as it is.
    done.Reset();
    const uint64_t early = direct->NewRequest();
    direct->Cancel(early);
    bulk.Write(header);
    ASSERT_EQ(
        direct->Submit(early, kIoctlDirectBulk, header, sizeof header, data.data(), 4096, &returned,
                       [&](uint32_t e, uint32_t) {
                           outcome = e;
                           done.Set();
                       }),
        kErrorIoPending);
    ASSERT_TRUE(done.Wait(kDeadlineMs));
    EXPECT_EQ(outcome.load(), kErrorOperationAborted);
    direct.reset();
    file.reset();
    EXPECT_EQ(driver_->OpenFiles(), 0);
}

TEST_F(Win32DriverPort, ACameraRemovedMidStreamEndsTheRunAsLost) {
    HWND frames = LumoraHost_CreateQueueWindow();
    const int handle = OpenThroughDriver(1);
    ASSERT_EQ(Lumora_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    LumoraHostMessage message{};
    ASSERT_EQ(LumoraHost_WaitMessage(frames, kDeadlineMs, &message), 1);

    // A file of the application's own on the same camera.
    const std::string lowerPath = Lower(driver_->Paths()[1]);
    uint32_t error = 1;
    auto file = ActivePort().Open(lowerPath, false, &error);
    ASSERT_NE(file, nullptr);

    // The cable is pulled: the system stops listing the camera, its files answer with the
    // driver's error for a device that left, and the system tells the SDK's window.
    driver_->Remove(1);
    ASSERT_EQ(LumoraSim_Unplug(1), 1);
    uint8_t speed[4] = {};
    uint32_t returned = 0;
    EXPECT_EQ(file->IoControl(kIoctlGetSpeed, speed, 4, speed, 4, &returned, nullptr),
              kErrorDeviceNotConnected);
    EXPECT_EQ(ActivePort().Open(lowerPath, false, &error), nullptr);
    EXPECT_EQ(error, kErrorFileNotFound);
    HWND listener = ::FindWindowExA(HWND_MESSAGE, nullptr, "LumoraDeviceNotices", nullptr);
    ASSERT_NE(listener, nullptr);
    const std::string path = driver_->Paths()[1];
    std::vector<unsigned char> notice(
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1, 0);
    auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(notice.data());
    header->dbcc_size = static_cast<DWORD>(notice.size());
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header->dbcc_classguid = kCameraClass;
    std::memcpy(header->dbcc_name, path.data(), path.size());
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                   reinterpret_cast<LPARAM>(notice.data()));

    bool lost = false;
    while (!lost && LumoraHost_WaitMessage(frames, kDeadlineMs, &message) == 1) {
        lost = message.wParam == 0 && message.lParam == ERR_DEVICE_LOST;
    }
    EXPECT_TRUE(lost);
    bool recorded = false;
    for (int code; (code = Lumora_GetLastError(handle)) != 0;) recorded |= code == ERR_DEVICE_LOST;
    EXPECT_TRUE(recorded);
    EXPECT_EQ(Lumora_Close(handle), 1);
    EXPECT_EQ(SystemCameraPort().EnumerateInterfaces(kCameraInterfaceGuid).size(), 1u);
    LumoraHost_DestroyWindow(frames);
}

// Loading and unloading the SDK's DLL while its listener of the system's device notices runs.
// Before, unloading waited for the listener's thread to end, which it cannot while the loader
// holds its lock. A watchdog ends the process if the cycle hangs, so the failure is reported.
TEST(Win32DriverDll, UnloadsWithItsDeviceNoticeListenerRunningAndLoadsAgain) {
    constexpr const char* kDll = "LumoraSdk_M5XIR_TEC.dll";
    struct Outcome {
        int loaded = 0;
        int listened = 0;
        int unloaded = 0;
    } outcome;
    HANDLE worker = ::CreateThread(
        nullptr, 0,
        [](LPVOID context) -> DWORD {
            auto& out = *static_cast<Outcome*>(context);
            for (int cycle = 0; cycle < 2; ++cycle) {
                HMODULE dll = ::LoadLibraryA(kDll);
                if (dll == nullptr) return 1;
                ++out.loaded;
                using Initialize = int (*)(HWND);
                using Release = int (*)(int);
                auto initialize = reinterpret_cast<Initialize>(
                    reinterpret_cast<void*>(::GetProcAddress(dll, "Lumora_Initialize")));
                auto release = reinterpret_cast<Release>(
                    reinterpret_cast<void*>(::GetProcAddress(dll, "Lumora_Release")));
                if (initialize == nullptr || release == nullptr) return 1;
                // A session lists the cameras, which starts the DLL's listener.
                const int handle = initialize(nullptr);
                HWND window = nullptr;
                HMODULE owner = nullptr;
                while ((window = ::FindWindowExA(HWND_MESSAGE, window, "LumoraDeviceNotices",
                                                 nullptr)) != nullptr) {
                    owner = reinterpret_cast<HMODULE>(::GetClassLongPtrA(window, GCLP_HMODULE));
                    if (owner == dll) break;
                }
                if (window != nullptr) {
                    // Its procedure is the DLL's code of this load.
                    ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
                    ++out.listened;
                }
                release(handle);
                ::FreeLibrary(dll);
                if (::GetModuleHandleA(kDll) == nullptr) ++out.unloaded;
            }
            return 0;
        },
        &outcome, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    if (::WaitForSingleObject(worker, kDeadlineMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "unloading the DLL hung";
        std::fflush(nullptr);
        // The hung unload holds the loader's lock: an ordinary exit would hang as well.
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    DWORD code = 1;
    ::GetExitCodeThread(worker, &code);
    ::CloseHandle(worker);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(outcome.loaded, 2);
    EXPECT_EQ(outcome.listened, 2);
    EXPECT_EQ(outcome.unloaded, 2);
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
