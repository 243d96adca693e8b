#pragma once
// Word views of pixel rows. Pixel memory comes from an untyped allocation and every 16-bit row
// starts on an even offset (strides are multiples of 4), so rows can be read as words directly.
#include <cstdint>

namespace lumora {

inline uint16_t* Words(uint8_t* p) { return reinterpret_cast<uint16_t*>(p); }
inline const uint16_t* Words(const uint8_t* p) { return reinterpret_cast<const uint16_t*>(p); }

}  // namespace lumora
