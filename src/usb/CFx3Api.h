#pragma once
// The FX3 layer of the controller: device enumeration into the shared device table, opening a
// recorded camera, presence, display names, the driver requests on a fresh handle (link speed,
// port and pipe reset), and the debug trace.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/PrintfFormat.h"
#include "port/UsbPort.h"
#include "usb/DeviceTable.h"

namespace lumora::usb {

// The result of one transfer, kept by the call that made it (never in a field shared between
// threads).
struct TransferOutcome {
    uint32_t error = platform::kErrorSuccess;
    uint32_t bytes = 0;
};

// Thread-safe: the device table guards itself (SharedDeviceTable), the selected row is atomic;
// every request opens its own handle.
class CFx3Api {
public:
    // An empty GUID selects the camera's interface class.
    explicit CFx3Api(const std::string& interfaceGuid = {});
    virtual ~CFx3Api();
    CFx3Api(const CFx3Api&) = delete;
    CFx3Api& operator=(const CFx3Api&) = delete;

    // Scans the present interfaces and records new ones; the row count after the scan.
    int EnumerateDevices();
    // The row exists and its path opens now.
    int IsDevicePresent(int row);
    // A handle to the row's path, or null.
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(int row, bool overlapped);
    // The camera type's display name with the row's ordinal ("..._%02d"); fails for types
    // without a name of their own (the session names those). `size` counts bytes of `text`.
    int GetDeviceDisplayName(int row, char* text, int size);

    // Driver requests on a fresh plain handle to the selected row.
    int GetUsbSpeed(uint32_t* speedCode);
    int ResetPort();
    int ResetPipe(uint8_t endpoint);

    // A copy of one table row; an empty row for indexes outside 0..31.
    DeviceEntry GetDeviceEntry(int row) const;
    DeviceTable GetDeviceTable() const;
    int SelectedRow() const { return selectedRow_.load(); }
    const std::string& InterfaceGuid() const { return guid_; }
    const std::string& DebugLogPath() const { return debugLogPath_; }
    int32_t SharedReferenceCount() const;

    // The controller's trace (the usb log category at level 2); never affects the caller.
    void WriteDebugLog(const char* format, ...) LUMORA_PRINTF_FORMAT(2, 3);

protected:
    // One synchronous request on a fresh plain handle to the selected row.
    TransferOutcome IoOnSelected(uint32_t code, const void* in, uint32_t inSize, void* out,
                                 uint32_t outSize);
    void SetSelectedRow(int row) { selectedRow_.store(row); }

private:
    std::unique_ptr<SharedDeviceTable> table_;
    std::string guid_;
    std::string debugLogPath_;
    std::atomic<int> selectedRow_{-1};
};

}  // namespace lumora::usb
