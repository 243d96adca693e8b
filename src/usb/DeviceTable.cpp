// The device table and its shared block.
//
// Cross-process protocol on the block (open file description locks on the block's file):
//   byte 0: held shared by every attached controller for as long as it is attached, so an
//           attacher that can take it exclusively knows nobody is attached (fresh, or left by a
//           crashed process) and resets the block;
//   byte 1: held exclusively around every read-modify-write of the block.
#include "usb/DeviceTable.h"

#include "port/SimPort.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/LittleEndian.h"
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
    if (row.productId != 0) OutputDebugText("ここには入ってこないはず\r\n");
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

bool LockByte(int fd, off_t byte, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

constexpr off_t kLivenessByte = 0;
constexpr off_t kMutationByte = 1;

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
    int fd = -1;
    uint8_t* view = nullptr;

    // Holds the mutation lock for one read-modify-write.
    class Guard {
    public:
        explicit Guard(int fd) : fd_(fd) { LockByte(fd_, kMutationByte, F_WRLCK, true); }
        ~Guard() { LockByte(fd_, kMutationByte, F_UNLCK, false); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        int fd_;
    };

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

    ~Block() {
        if (view) munmap(view, SharedBlockLayout::kSize);
        if (fd >= 0) close(fd);  // releases our locks
    }
};

SharedDeviceTable::SharedDeviceTable() {
    auto block = std::make_unique<Block>();
    const std::string name = SharedBlockName();
    block->fd = name.empty() ? -1 : shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (block->fd >= 0) {
        struct stat info {};
        if (fstat(block->fd, &info) == 0 &&
            (info.st_size >= static_cast<off_t>(SharedBlockLayout::kSize) ||
             ftruncate(block->fd, SharedBlockLayout::kSize) == 0)) {
            void* view = mmap(nullptr, SharedBlockLayout::kSize, PROT_READ | PROT_WRITE, MAP_SHARED,
                              block->fd, 0);
            if (view != MAP_FAILED) block->view = static_cast<uint8_t*>(view);
        }
    }
    std::lock_guard tableLock(gTableMutex);
    if (!block->view) {
        // No block: this controller works on the process copy alone.
        if (gPrivateHolders++ == 0) gTable.Reset();
        return;
    }
    {
        Block::Guard guard(block->fd);
        // Nobody attached (a fresh block, or one a crashed process left) or a count that makes
        // no sense: start from an empty table.
        const bool alone = LockByte(block->fd, kLivenessByte, F_WRLCK, false);
        const int32_t rowCount = block->RowCount();
        if (alone || block->ReferenceCount() < 0) block->SetReferenceCount(0);
        if (block->ReferenceCount() == 0 || rowCount < 0 || rowCount > kMaxDevices) {
            DeviceTable empty;
            empty.Reset();
            block->StoreRows(empty);
        }
        LockByte(block->fd, kLivenessByte, F_RDLCK, true);
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
    Block::Guard guard(block_->fd);
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
    Block::Guard guard(block_->fd);
    block_->LoadRows(gTable);
    update(gTable);
    block_->StoreRows(gTable);
    return gTable.count;
}

int32_t SharedDeviceTable::SharedReferenceCount() const {
    if (!block_) return 0;
    Block::Guard guard(block_->fd);
    return block_->ReferenceCount();
}

}  // namespace lumora::usb
