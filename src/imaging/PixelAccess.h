#pragma once
// Word views of pixel rows. Pixel memory comes from an untyped allocation and every 16-bit row
// starts on an even offset (strides are multiples of 4), so rows can be read as words directly.
#include <bit>
#include <cstdint>

namespace lumora {

// Samples and bitmap headers are little-endian in memory, as the bitmap layout demands.
static_assert(std::endian::native == std::endian::little);

inline uint16_t* Words(uint8_t* p) {
    return reinterpret_cast<uint16_t*>(p);
}
inline const uint16_t* Words(const uint8_t* p) {
    return reinterpret_cast<const uint16_t*>(p);
}

}  // namespace lumora

// Hot row kernels are compiled for the baseline instruction set and for AVX2; the loader picks
// the variant for the CPU at hand (the baseline lacks the 32-bit multiplies and wide
// conversions these loops are made of).
// Clang cannot clone function templates, so its builds (fuzzing) take the baseline only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define LUMORA_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define LUMORA_ROW_KERNEL
#endif
