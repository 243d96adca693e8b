// The configuration reader: every whole 8-byte record comes back in order, nothing more.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "io/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lumora::ConfigList pairs = lumora::ParseConfigPairs(std::span<const uint8_t>(data, size));
    if (pairs.size() != size / lumora::kConfigRecordSize) std::abort();
    for (size_t i = 0; i < pairs.size(); ++i) {
        const uint8_t* record = data + i * lumora::kConfigRecordSize;
        const uint32_t first =
            record[0] | record[1] << 8 | record[2] << 16 | static_cast<uint32_t>(record[3]) << 24;
        if (static_cast<uint32_t>(pairs[i].first) != first) std::abort();
    }
    return 0;
}
