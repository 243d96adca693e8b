#include "platform/Memory.h"

#include "platform/Sanitizers.h"

#include <cstdint>
#include <cstdlib>  // brings in the C library's identification
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumora::platform {

// Under a sanitizer the C library's allocator is not the one in use: it holds nothing to hand
// back, and it is still uninitialised, so two first calls at once race inside it (one walks the
// arena list while the other is still building it).
void ReturnFreeMemory() {
#if defined(__GLIBC__) && !defined(LUMORA_UNDER_SANITIZER)
    ::malloc_trim(0);
#endif
}

namespace {

// One run of streaming stores without the closing fence.
void StreamRun(unsigned char* target, const unsigned char* source, size_t bytes) {
#if defined(__SSE2__)
    // Ordinary stores up to the first 16-byte boundary of the target, where streaming can begin.
    const size_t head = (16 - (reinterpret_cast<uintptr_t>(target) & 15)) & 15;
    if (bytes < head + 64) {
        std::memcpy(target, source, bytes);
        return;
    }
    std::memcpy(target, source, head);
    size_t at = head;
    for (; at + 64 <= bytes; at += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + at), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + at + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + at + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(target + at + 48), d);
    }
    std::memcpy(target + at, source + at, bytes - at);
#else
    std::memcpy(target, source, bytes);
#endif
}

// Streaming stores are weakly ordered: without the fence a thread told of the frame could
// still read stale bytes.
void FenceStreamingStores() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace

void CopyBypassingCache(void* target, const void* source, size_t bytes) {
    StreamRun(static_cast<unsigned char*>(target), static_cast<const unsigned char*>(source),
              bytes);
    FenceStreamingStores();
}

void CopyRowsBypassingCache(unsigned char* target, const unsigned char* source,
                            ptrdiff_t sourceStride, size_t rowBytes, size_t rows) {
    for (size_t row = 0; row < rows; ++row) {
        StreamRun(target + row * rowBytes, source + static_cast<ptrdiff_t>(row) * sourceStride,
                  rowBytes);
    }
    FenceStreamingStores();
}

}  // namespace lumora::platform
