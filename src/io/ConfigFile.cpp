#include "io/ConfigFile.h"

#include <new>

#include "io/FileData.h"
#include "platform/LittleEndian.h"

namespace lumora {

ConfigList ParseConfigPairs(std::span<const uint8_t> bytes) {
    ConfigList pairs;
    const size_t count = bytes.size() / kConfigRecordSize;
    pairs.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* record = bytes.data() + i * kConfigRecordSize;
        pairs.push_back({platform::LoadLeInt32(record), platform::LoadLeInt32(record + 4)});
    }
    return pairs;
}

bool ReadConfigFile(const char* path, ConfigList& pairs) {
    pairs.clear();
    FileData file;
    if (!file.Read(path)) return false;
    try {
        pairs = ParseConfigPairs(file.Bytes());
    } catch (const std::bad_alloc&) {
        pairs.clear();
        return false;
    }
    return true;
}

}  // namespace lumora
