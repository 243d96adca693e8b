#pragma once
// The configuration file: a headerless sequence of 8-byte records, each two little-endian
// 32-bit integers. Trailing bytes that do not make a whole record are ignored.
#include <cstdint>
#include <span>
#include <vector>

namespace lumora {

struct ConfigPair {
    int32_t first;
    int32_t second;

    friend bool operator==(const ConfigPair&, const ConfigPair&) = default;
};

using ConfigList = std::vector<ConfigPair>;

inline constexpr size_t kConfigRecordSize = 8;

// Every whole record of `bytes`, in order.
ConfigList ParseConfigPairs(std::span<const uint8_t> bytes);

// Reads the file whole. False when it cannot be read completely (missing, unreadable, cut short
// while being read, no memory); `pairs` is then empty. True otherwise, with every record; a
// file without one whole record gives an empty list, and the caller keeps the list it had.
bool ReadConfigFile(const char* path, ConfigList& pairs);

}  // namespace lumora
