// Real cameras on Windows: the camera's kernel driver answers the port's requests itself, so
// each one goes to it unchanged, and its error numbers are the port's. What the system says of
// cameras arriving and leaving reaches the SDK as libusb's hot-plug callbacks do on Linux.
#include "platform/DeviceNotices.h"
#include "platform/KernelDriver.h"
#include "port/SystemCameraPort.h"

namespace lumora::platform {
namespace {

class DriverDeviceFile final : public DeviceFile {
public:
    DriverDeviceFile(std::unique_ptr<DriverFile> file, std::string path)
        : file_(std::move(file)), path_(std::move(path)) {}

    bool IsOverlapped() const override { return file_->IsOverlapped(); }
    const std::string& Path() const override { return path_; }

    uint32_t IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned, Overlapped* overlapped) override {
        uint32_t bytes = 0;
        if (overlapped == nullptr || !file_->IsOverlapped()) {
            // A plain file finishes every request before it returns, record or not.
            const uint32_t error = file_->Control(code, in, inSize, out, outSize, &bytes);
            if (returned) *returned = bytes;
            return Overlapped::FinishAtOnce(error, &bytes, overlapped);
        }
        const uint64_t request = file_->NewRequest();
        // The cancel hook may outlive the file (a record destroyed after it): it holds it weakly.
        std::weak_ptr<DriverFile> weak = file_;
        overlapped->Begin([weak, request] {
            if (auto file = weak.lock()) file->Cancel(request);
        });
        const uint32_t error = file_->Submit(request, code, in, inSize, out, outSize, &bytes,
                                             [overlapped](uint32_t outcome, uint32_t count) {
                                                 overlapped->Complete(outcome, count);
                                             });
        if (error == kErrorIoPending) {
            if (returned) *returned = 0;
            return error;
        }
        overlapped->Complete(error, bytes);
        if (returned) *returned = bytes;
        return error;
    }

private:
    std::shared_ptr<DriverFile> file_;
    std::string path_;
};

class DriverPort final : public UsbPort {
public:
    std::vector<std::string> EnumerateInterfaces(const std::string& guid) override {
        return ListDriverInterfaces(guid);
    }

    std::unique_ptr<DeviceFile> Open(const std::string& path, bool overlapped,
                                     uint32_t* error) override {
        auto file = DriverFile::Open(path, overlapped, error);
        if (!file) return nullptr;
        return std::make_unique<DriverDeviceFile>(std::move(file), path);
    }

private:
    DeviceNoticeListener notices_{kCameraInterfaceGuid, [](bool arrival, const std::string& path) {
                                      HotplugHub::Instance().Notify(
                                          arrival ? HotplugEvent::Arrival : HotplugEvent::Removal,
                                          path);
                                  }};
};

}  // namespace

UsbPort& SystemCameraPort() {
    static DriverPort port;
    return port;
}

}  // namespace lumora::platform
