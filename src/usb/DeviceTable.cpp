// The device table and its shared block. The block's own lock guards every read-modify-write
// between processes; its attachment tells the first attacher that the rows are left-overs.
#include "usb/DeviceTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/LittleEndian.h"
#include "platform/Log.h"
#include "platform/SharedMemory.h"
#include "port/SimPort.h"
#include "usb/CFx3Api.h"

namespace lumora::usb {

using platform::LoadLe16;
using platform::LoadLe32;
using platform::StoreLe16;
using platform::StoreLe32;

bool DeviceEntry::SetPath(const std::string& text) {
    path.fill(0);
    const size_t n = std::min(text.size(), kDevicePathSize - 1);
    std::memcpy(path.data(), text.data(), n);
    return n == text.size();
}

std::string DeviceEntry::Path() const {
    return std::string(path.data(), strnlen(path.data(), kDevicePathSize));
}

void DeviceEntry::Write(uint8_t* out) const {
    StoreLe16(out + kOffsetVendorId, vendorId);
    StoreLe16(out + kOffsetProductId, productId);
    StoreLe32(out + kOffsetOrdinal, static_cast<uint32_t>(ordinal));
    std::memcpy(out + kOffsetPath, path.data(), kDevicePathSize);
}

DeviceEntry DeviceEntry::Read(const uint8_t* in) {
    DeviceEntry entry;
    entry.vendorId = LoadLe16(in + kOffsetVendorId);
    entry.productId = LoadLe16(in + kOffsetProductId);
    entry.ordinal = static_cast<int32_t>(LoadLe32(in + kOffsetOrdinal));
    // Whatever another process left there, our copy is terminated and clean after the end.
    const char* text = reinterpret_cast<const char*>(in + kOffsetPath);
    const size_t n = strnlen(text, kDevicePathSize - 1);
    std::memcpy(entry.path.data(), text, n);
    return entry;
}

void DeviceTable::Reset() {
    for (auto& row : rows) row = DeviceEntry{};
    count = 0;
}

int DeviceTable::FindPath(const std::string& text) const {
    for (int i = 0; i < std::clamp(count, 0, kMaxDevices); ++i) {
        if (rows[static_cast<size_t>(i)].Path() == text) return i;
    }
    return -1;
}

int DeviceTable::Record(uint16_t vendorId, uint16_t productId, const std::string& text) {
    int ordinal = 0;
    for (int i = 0; i < kMaxDevices; ++i) {
        const auto& row = rows[static_cast<size_t>(i)];
        if (row.vendorId == vendorId && row.productId == productId) {
            if (row.Path() == text) return i;
            ++ordinal;
        }
    }
    if (count < 0 || count >= kMaxDevices) return -1;
    auto& row = rows[static_cast<size_t>(count)];
    if (row.productId != 0)
        platform::LogText(platform::LogCategory::kUsb, 1, "ここには入ってこないはず\r\n");
    row = DeviceEntry{};
    row.vendorId = vendorId;
    row.productId = productId;
    row.ordinal = ordinal;
    row.SetPath(text);
    return count++;
}

namespace {

std::mutex gNameMutex;
std::string gTestingName;

// The process copy of the table, shared by every controller of the process.
std::mutex gTableMutex;
DeviceTable gTable;
// Controllers working on the process copy alone. Like the shared block, the private table starts
// empty when the first of them arrives, so rows of cameras long gone never shift the rows of a
// later session.
int gPrivateHolders = 0;

}  // namespace

void SetSharedBlockNameForTesting(const std::string& name) {
    std::lock_guard lock(gNameMutex);
    gTestingName = name;
}

std::string SharedBlockName() {
    {
        std::lock_guard lock(gNameMutex);
        if (!gTestingName.empty()) return gTestingName;
    }
    const char* env = std::getenv("LUMORA_SHM_NAME");
    if (env && env[0] == '/' && std::strlen(env) < 200) return env;
    // Simulated cameras live in this process alone: publishing their rows would mix them with
    // another process's simulated cameras of the same paths, so the table stays private.
    if (platform::SimulatedCamerasInUse()) return {};
    return kSharedBlockName;
}

struct SharedDeviceTable::Block {
    std::unique_ptr<platform::SharedMemory> memory;
    uint8_t* view = nullptr;

    int32_t ReferenceCount() const {
        return static_cast<int32_t>(LoadLe32(view + SharedBlockLayout::kOffsetReferenceCount));
    }
    void SetReferenceCount(int32_t value) {
        StoreLe32(view + SharedBlockLayout::kOffsetReferenceCount, static_cast<uint32_t>(value));
    }
    int32_t RowCount() const {
        return static_cast<int32_t>(LoadLe32(view + SharedBlockLayout::kOffsetRowCount));
    }
    void LoadRows(DeviceTable& table) const {
        for (int i = 0; i < kMaxDevices; ++i) {
            table.rows[static_cast<size_t>(i)] =
                DeviceEntry::Read(view + SharedBlockLayout::kOffsetRows + i * DeviceEntry::kSize);
        }
        table.count = RowCount();
        if (table.count < 0 || table.count > kMaxDevices) table.Reset();
    }
    void StoreRows(const DeviceTable& table) {
        for (int i = 0; i < kMaxDevices; ++i) {
            table.rows[static_cast<size_t>(i)].Write(view + SharedBlockLayout::kOffsetRows +
                                                     i * DeviceEntry::kSize);
        }
        StoreLe32(view + SharedBlockLayout::kOffsetRowCount, static_cast<uint32_t>(table.count));
    }
};

SharedDeviceTable::SharedDeviceTable() {
    const std::string name = SharedBlockName();
    auto memory =
        name.empty() ? nullptr : platform::SharedMemory::Open(name, SharedBlockLayout::kSize);
    std::lock_guard tableLock(gTableMutex);
    if (!memory) {
        // No block: this controller works on the process copy alone.
        if (gPrivateHolders++ == 0) gTable.Reset();
        return;
    }
    auto block = std::make_unique<Block>();
    block->view = memory->Data();
    block->memory = std::move(memory);
    {
        platform::SharedMemory::Lock guard(*block->memory);
        // Nobody attached (a fresh block, or one a crashed process left) or a count that makes
        // no sense: start from an empty table.
        const bool alone = block->memory->Attach();
        const int32_t rowCount = block->RowCount();
        if (alone || block->ReferenceCount() < 0) block->SetReferenceCount(0);
        if (block->ReferenceCount() == 0 || rowCount < 0 || rowCount > kMaxDevices) {
            DeviceTable empty;
            empty.Reset();
            block->StoreRows(empty);
        }
        block->SetReferenceCount(block->ReferenceCount() + 1);
        block->LoadRows(gTable);
    }
    block_ = std::move(block);
}

SharedDeviceTable::~SharedDeviceTable() {
    std::lock_guard tableLock(gTableMutex);
    if (!block_) {
        --gPrivateHolders;
        return;
    }
    platform::SharedMemory::Lock guard(*block_->memory);
    block_->SetReferenceCount(std::max(block_->ReferenceCount() - 1, 0));
}

bool SharedDeviceTable::IsShared() const {
    return block_ != nullptr;
}

DeviceTable SharedDeviceTable::Snapshot() const {
    std::lock_guard tableLock(gTableMutex);
    return gTable;
}

int SharedDeviceTable::Update(const std::function<void(DeviceTable&)>& update) {
    std::lock_guard tableLock(gTableMutex);
    if (!block_) {
        if (gTable.count < 0 || gTable.count > kMaxDevices) gTable.Reset();
        update(gTable);
        return gTable.count;
    }
    platform::SharedMemory::Lock guard(*block_->memory);
    block_->LoadRows(gTable);
    update(gTable);
    block_->StoreRows(gTable);
    return gTable.count;
}

int32_t SharedDeviceTable::SharedReferenceCount() const {
    if (!block_) return 0;
    platform::SharedMemory::Lock guard(*block_->memory);
    return block_->ReferenceCount();
}

}  // namespace lumora::usb
