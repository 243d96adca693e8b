#include "usb/CFx3Api.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"
#include "platform/ModulePath.h"
#include "port/ActivePort.h"

namespace lumora::usb {
namespace {

// Display-name formats of the camera types that name themselves; the session names the rest.
struct DisplayName {
    uint16_t productId;
    const char* format;
};
constexpr std::array<DisplayName, 14> kDisplayNames{{
    {0x3020, "Lumora U3-M10_%02d"},
    {0x3030, "Lumora U3-M5_%02d"},
    {0x3040, "Lumora U3-M18_%02d"},
    {0x3042, "Lumora U3-M18S_%02d"},
    {0x3050, "Lumora U3-C14_%02d"},
    {0x3090, "Lumora U3-C41_%02d"},
    {0x30B0, "Lumora U3-C160_%02d"},
    {0x30C0, "Lumora U3-C290_%02d"},
    {0x30F0, "Lumora U3-M60_%02d"},
    {0x3100, "Lumora U3-M23_%02d"},
    {0x3110, "Lumora U3-M200_%02d"},
    {0x3120, "Lumora U3-M120_%02d"},
    {0x3130, "Lumora U3-HD_%02d"},
    {0x3140, "Lumora U3-M13_%02d"},
}};

// Where the vendor and product ids sit in an interface path.
constexpr size_t kVidField = 8;   // "vid_" at 8, digits at 12
constexpr size_t kPidField = 17;  // "pid_" at 17, digits at 21

bool FieldIs(const std::string& path, size_t at, const char* field) {
    for (size_t i = 0; field[i]; ++i) {
        if (at + i >= path.size() ||
            std::tolower(static_cast<unsigned char>(path[at + i])) != field[i]) {
            return false;
        }
    }
    return true;
}

bool ParseHex4(const std::string& path, size_t at, uint16_t* value) {
    if (at + 4 > path.size()) return false;
    uint16_t result = 0;
    for (size_t i = 0; i < 4; ++i) {
        const char c = path[at + i];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        result = static_cast<uint16_t>(
            result * 16 + (std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10));
    }
    *value = result;
    return true;
}

}  // namespace

CFx3Api::CFx3Api(const std::string& interfaceGuid)
    : table_(std::make_unique<SharedDeviceTable>()),
      guid_(interfaceGuid.empty() ? platform::kCameraInterfaceGuid : interfaceGuid) {
    debugLogPath_ = platform::ExecutableFolder() + "DEBUGLOG.txt";
}

CFx3Api::~CFx3Api() = default;

int CFx3Api::EnumerateDevices() {
    struct Found {
        uint16_t vendorId;
        uint16_t productId;
        std::string path;
    };
    std::vector<Found> found;
    auto paths = platform::ActivePort().EnumerateInterfaces(guid_);
    // The scan looks at 32 interface members, as many as the table can hold.
    if (paths.size() > static_cast<size_t>(kMaxDevices)) paths.resize(kMaxDevices);
    for (const auto& path : paths) {
        // A path the table cannot hold whole, or one without its id fields, is not recorded.
        if (path.size() >= kDevicePathSize) continue;
        uint16_t vendorId = 0;
        uint16_t productId = 0;
        if (!FieldIs(path, kVidField, "vid_") || !FieldIs(path, kPidField, "pid_") ||
            !ParseHex4(path, kVidField + 4, &vendorId) ||
            !ParseHex4(path, kPidField + 4, &productId)) {
            continue;
        }
        uint32_t error = 0;
        if (!platform::ActivePort().Open(path, true, &error)) continue;  // not openable: skip
        found.push_back({vendorId, productId, path});
    }
    const int count = table_->Update([&](DeviceTable& table) {
        for (const auto& device : found) {
            const int row = table.Record(device.vendorId, device.productId, device.path);
            WriteDebugLog("lumora: device %04x:%04x row %d %s\n", device.vendorId, device.productId,
                          row, device.path.c_str());
        }
    });
    WriteDebugLog("lumora: %zu interfaces openable, %d rows\n", found.size(), count);
    return count;
}

int CFx3Api::IsDevicePresent(int row) {
    if (row < 0 || row >= kMaxDevices) return 0;
    const DeviceTable table = table_->Snapshot();
    if (row >= table.count) return 0;
    uint32_t error = 0;
    return platform::ActivePort().Open(table.rows[static_cast<size_t>(row)].Path(), false, &error)
               ? 1
               : 0;
}

std::unique_ptr<platform::DeviceFile> CFx3Api::OpenDevicePath(int row, bool overlapped) {
    if (row < 0 || row >= kMaxDevices) return nullptr;
    const DeviceTable table = table_->Snapshot();
    if (row >= table.count) return nullptr;
    uint32_t error = 0;
    return platform::ActivePort().Open(table.rows[static_cast<size_t>(row)].Path(), overlapped,
                                       &error);
}

int CFx3Api::GetDeviceDisplayName(int row, char* text, int size) {
    if (!text || size <= 0 || !IsDevicePresent(row)) return 0;
    const DeviceEntry entry = GetDeviceEntry(row);
    for (const auto& name : kDisplayNames) {
        if (name.productId != entry.productId) continue;
            // The formats are ours (the table above); each takes exactly the ordinal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const int n = std::snprintf(text, static_cast<size_t>(size), name.format, entry.ordinal);
#pragma GCC diagnostic pop
        return n >= 0 && n < size ? 1 : 0;
    }
    return 0;
}

TransferOutcome CFx3Api::IoOnSelected(uint32_t code, const void* in, uint32_t inSize, void* out,
                                      uint32_t outSize) {
    TransferOutcome outcome;
    auto file = OpenDevicePath(SelectedRow(), false);
    if (!file) {
        outcome.error = platform::kErrorInvalidHandle;
        return outcome;
    }
    // The driver may write into the input of a request; give it a copy of ours.
    std::array<uint8_t, 8> input{};
    const uint32_t n = std::min<uint32_t>(inSize, input.size());
    if (in && n) std::memcpy(input.data(), in, n);
    outcome.error = file->IoControl(code, in ? input.data() : nullptr, n, out, outSize,
                                    &outcome.bytes, nullptr);
    return outcome;
}

int CFx3Api::GetUsbSpeed(uint32_t* speedCode) {
    if (!speedCode) return 0;
    std::array<uint8_t, 4> in{};
    std::array<uint8_t, 4> out{};
    const auto outcome = IoOnSelected(platform::kIoctlGetSpeed, in.data(), 4, out.data(), 4);
    if (outcome.error != platform::kErrorSuccess || outcome.bytes < 4) return 0;
    *speedCode = platform::LoadLe32(out.data());
    return 1;
}

int CFx3Api::ResetPort() {
    return IoOnSelected(platform::kIoctlResetPort, nullptr, 0, nullptr, 0).error ==
                   platform::kErrorSuccess
               ? 1
               : 0;
}

int CFx3Api::ResetPipe(uint8_t endpoint) {
    return IoOnSelected(platform::kIoctlResetPipe, &endpoint, 1, nullptr, 0).error ==
                   platform::kErrorSuccess
               ? 1
               : 0;
}

DeviceEntry CFx3Api::GetDeviceEntry(int row) const {
    if (row < 0 || row >= kMaxDevices) return DeviceEntry{};
    return table_->Snapshot().rows[static_cast<size_t>(row)];
}

DeviceTable CFx3Api::GetDeviceTable() const {
    return table_->Snapshot();
}

int32_t CFx3Api::SharedReferenceCount() const {
    return table_->SharedReferenceCount();
}

void CFx3Api::WriteDebugLog(const char* format, ...) {
    if (!platform::LogEnabled(platform::LogCategory::kUsb, 2) || !format) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platform::LogText(platform::LogCategory::kUsb, 2, text);
}

}  // namespace lumora::usb
