#include "io/FileData.h"

#include <new>

#include "platform/RegularFile.h"

namespace lumora {

bool FileData::Read(const char* path) {
    Release();
    platform::RegularFile file;
    if (path == nullptr || !file.OpenForReading(path)) return false;
    const auto size = static_cast<size_t>(file.Size());
    std::unique_ptr<uint8_t[]> data;
    if (size > 0) {
        data.reset(new (std::nothrow) uint8_t[size]);
        if (!data) return false;
    }
    // Fewer bytes than the size promised: the file was cut short under us.
    if (!file.ReadExact(data.get(), size)) return false;
    data_ = std::move(data);
    size_ = size;
    return true;
}

void FileData::Release() {
    data_.reset();
    size_ = 0;
}

}  // namespace lumora
