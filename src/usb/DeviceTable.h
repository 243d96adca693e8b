#pragma once
// The device table: up to 32 rows of vendor id, product id, ordinal within the product id and
// device path, shared by every process through the named shared block "/V3U2-MemMap".
//
// Block layout (8584 bytes, little-endian): reference count (int32) at 0, 32 rows of 268 bytes
// at 4, row count (int32) at 8580. Each process keeps its own copy of the rows; the block is the
// meeting point. The reference count is changed in place under a cross-process lock, and a block
// nobody is attached to (left by a crashed process) is reset on attach.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lumora::usb {

inline constexpr int kMaxDevices = 32;
inline constexpr size_t kDevicePathSize = 260;

struct DeviceEntry {
    static constexpr size_t kSize = 268;
    static constexpr size_t kOffsetVendorId = 0;
    static constexpr size_t kOffsetProductId = 2;
    static constexpr size_t kOffsetOrdinal = 4;
    static constexpr size_t kOffsetPath = 8;

    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int32_t ordinal = -1;
    std::array<char, kDevicePathSize> path{};  // always NUL-terminated, zero-filled after

    // Stores `text` cut to 259 bytes; false when it had to be cut.
    bool SetPath(const std::string& text);
    std::string Path() const;
    void Write(uint8_t* out) const;
    static DeviceEntry Read(const uint8_t* in);  // terminates the path whatever the bytes hold
};
static_assert(DeviceEntry::kOffsetPath + kDevicePathSize == DeviceEntry::kSize);

struct DeviceTable {
    std::array<DeviceEntry, kMaxDevices> rows{};
    int32_t count = 0;

    void Reset();
    // Finds the row of `path`; -1 when absent.
    int FindPath(const std::string& path) const;
    // Adds a row for a device found at `path` unless it is known or the table is full. Returns
    // the row index (existing or new), or -1 when the table is full.
    int Record(uint16_t vendorId, uint16_t productId, const std::string& path);
};

struct SharedBlockLayout {
    static constexpr size_t kSize = 8584;
    static constexpr size_t kOffsetReferenceCount = 0;
    static constexpr size_t kOffsetRows = 4;
    static constexpr size_t kOffsetRowCount = 8580;
};
static_assert(SharedBlockLayout::kOffsetRows + kMaxDevices * DeviceEntry::kSize ==
              SharedBlockLayout::kOffsetRowCount);
static_assert(SharedBlockLayout::kOffsetRowCount + 4 == SharedBlockLayout::kSize);

// The default name of the shared block; LUMORA_SHM_NAME or SetSharedBlockNameForTesting
// override it (tests running side by side keep their tables apart that way).
inline constexpr const char* kSharedBlockName = "/V3U2-MemMap";
void SetSharedBlockNameForTesting(const std::string& name);
std::string SharedBlockName();

// One controller's attachment to the shared block. Attach loads the process copy (resetting a
// block nobody else is attached to), and counts the controller in; destruction counts it out.
// When the block cannot be opened the attachment works on the process copy alone.
class SharedDeviceTable {
public:
    SharedDeviceTable();
    ~SharedDeviceTable();
    SharedDeviceTable(const SharedDeviceTable&) = delete;
    SharedDeviceTable& operator=(const SharedDeviceTable&) = delete;

    bool IsShared() const;
    // A copy of the process table.
    DeviceTable Snapshot() const;
    // Loads the block's rows into the process copy, lets `update` change them, and publishes
    // the rows and row count, all under the cross-process lock. Returns the row count.
    int Update(const std::function<void(DeviceTable&)>& update);
    // The reference count stored in the block (0 without one).
    int32_t SharedReferenceCount() const;

    struct Block;

private:
    std::unique_ptr<Block> block_;
};

}  // namespace lumora::usb
