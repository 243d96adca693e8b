#pragma once
// The libusb backend of the USB port: real cameras. Vendor requests become control transfers;
// endpoints 0x01, 0x81 and 0x83 asynchronous bulk transfers whose cancel is the abort; an
// endpoint reset is a clear-halt, a port reset a device reset. The translation of the driver's
// requests is kept in pure functions so it can be tested without hardware.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "port/UsbPort.h"

namespace lumora::platform {

// What one driver request becomes on libusb.
struct LibusbRequest {
    enum class Kind { Control, Bulk, AbortPipe, ResetPipe, ResetPort, GetSpeed };
    Kind kind = Kind::Control;
    // Control: the setup packet; the data stage is `length` bytes at `dataOffset` of the
    // request buffer (OUT: sent from it, IN: received into it).
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint32_t timeoutMs = 0;
    // Bulk, pipe requests: the endpoint; bulk data is `length` bytes at `dataOffset` of the
    // output buffer (direct) or of the combined buffer (buffered).
    uint8_t endpoint = 0;
    uint32_t length = 0;
    uint32_t dataOffset = 0;
    bool buffered = false;
    bool IsIn() const {
        return kind == Kind::Control ? (requestType & 0x80) != 0 : (endpoint & 0x80) != 0;
    }
};

// Decodes one I/O control request as the driver would; nothing when it is malformed (the error
// to complete it with is then returned through *error).
std::optional<LibusbRequest> TranslateRequest(uint32_t code, std::span<const uint8_t> in,
                                              uint32_t outSize, uint32_t* error);
// The driver's speed code for a libusb speed (LIBUSB_SPEED_*): 4 for SuperSpeed or better.
uint32_t SpeedCodeFromLibusb(int libusbSpeed);
// The driver's error number for a libusb transfer status or error code.
uint32_t ErrorFromLibusbStatus(int transferStatus);
uint32_t ErrorFromLibusbError(int libusbError);
// Product ids of the known camera types (the libusb backend lists only these).
bool IsKnownCameraProduct(uint16_t productId);

// The libusb port. Its context and event thread start on first use and only when a vendor id
// is configured; without one it finds nothing at once.
class LibusbPort final : public UsbPort {
public:
    static LibusbPort& Instance();
    ~LibusbPort() override;

    std::vector<std::string> EnumerateInterfaces(const std::string& guid) override;
    std::unique_ptr<DeviceFile> Open(const std::string& path, bool overlapped,
                                     uint32_t* error) override;

    struct Impl;

private:
    LibusbPort();
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumora::platform
