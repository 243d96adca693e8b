#pragma once
// Explicit little-endian loads and stores for wire formats; never cast a raw buffer to a struct.
#include <bit>
#include <cstddef>
#include <cstdint>

namespace lumora::platform {

inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p)) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32);
}
inline int32_t LoadLeInt32(const uint8_t* p) {
    return static_cast<int32_t>(LoadLe32(p));
}
inline double LoadLeDouble(const uint8_t* p) {
    return std::bit_cast<double>(LoadLe64(p));
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
    StoreLe32(p, static_cast<uint32_t>(v));
    StoreLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void StoreLeInt32(uint8_t* p, int32_t v) {
    StoreLe32(p, static_cast<uint32_t>(v));
}
inline void StoreLeDouble(uint8_t* p, double v) {
    StoreLe64(p, std::bit_cast<uint64_t>(v));
}

}  // namespace lumora::platform
