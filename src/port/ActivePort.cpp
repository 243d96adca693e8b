// The one place that decides which backend serves a request.
#include "port/ActivePort.h"

#include "port/SimPort.h"
#include "port/SystemCameraPort.h"

namespace lumora::platform {
namespace {

class CombinedPort final : public UsbPort {
public:
    std::vector<std::string> EnumerateInterfaces(const std::string& guid) override {
        auto paths = SimPort::Instance().EnumerateInterfaces(guid);
        auto real = SystemCameraPort().EnumerateInterfaces(guid);
        paths.insert(paths.end(), real.begin(), real.end());
        return paths;
    }
    std::unique_ptr<DeviceFile> Open(const std::string& path, bool overlapped,
                                     uint32_t* error) override {
        uint32_t simError = kErrorSuccess;
        if (auto file = SimPort::Instance().Open(path, overlapped, &simError)) {
            if (error) *error = kErrorSuccess;
            return file;
        }
        if (simError != kErrorFileNotFound) {
            if (error) *error = simError;
            return nullptr;
        }
        return SystemCameraPort().Open(path, overlapped, error);
    }
};

}  // namespace

UsbPort& ActivePort() {
    static CombinedPort port;
    return port;
}

}  // namespace lumora::platform
