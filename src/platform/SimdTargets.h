#pragma once
// The instruction sets a kernel variant may be compiled for, one function at a time: each
// variant carries its own target attribute, so the rest of the library stays at the baseline
// and a variant only ever runs after SimdLevel found its instructions on the processor.
//
// Variants live in anonymous namespaces (no copy of them can be shared with other files) and
// call nothing but intrinsics and inline helpers marked for the same target.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMORA_X86_SIMD 1
#include <immintrin.h>

#if !defined(__clang__)
// GCC 12 takes the AVX-512 intrinsics' deliberately undefined source registers for
// uninitialised variables once they are inlined into a kernel.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#define LUMORA_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define LUMORA_TARGET_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,avx512dq")))
#define LUMORA_TARGET_AVX512VBMI \
    __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")))

namespace lumora {
// Asks for the line kBytes past `at` (a hint: never a fault, past a row or an image). Kernels that
// stream a source keep more of it on its way this way than the prefetchers alone, which stop at
// page boundaries.
template <int kBytes>
inline void ReadAhead(const void* at) {
    _mm_prefetch(static_cast<const char*>(at) + kBytes, _MM_HINT_T0);
}
}  // namespace lumora
#else
#define LUMORA_X86_SIMD 0
#endif

// For row loops written plainly and left to the vectoriser: one body, compiled once for the
// baseline and once more for AVX2 by a thin caller carrying the target.
#define LUMORA_INLINE_BODY [[gnu::always_inline]] inline
