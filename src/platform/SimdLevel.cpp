#include "platform/SimdLevel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#if defined(__GNUC__) || defined(__clang__)
#include <cpuid.h>
#endif
#endif

namespace lumora {
namespace {

struct Detected {
    SimdLevel level = SimdLevel::kScalar;
    bool vbmi = false;
    bool fastGathers = false;
};

// The compiler's own processor check also asks the operating system whether it saves the wide
// registers, so a level found here is usable.
Detected Examine() {
    Detected d;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    d.level = SimdLevel::kSse2;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        d.level = SimdLevel::kAvx2;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
            d.level = SimdLevel::kAvx512;
            d.vbmi = __builtin_cpu_supports("avx512vbmi");
            // The compiler's check does not know this feature yet: CPUID leaf 7, EDX bit 23.
            unsigned a = 0, b = 0, c = 0, edx = 0;
            d.fastGathers = __get_cpuid_count(7, 0, &a, &b, &c, &edx) != 0 && (edx >> 23 & 1) != 0;
        }
    }
#endif
    return d;
}

const Detected& Processor() {
    static const Detected detected = Examine();
    return detected;
}

SimdLevel Limit(SimdLevel wanted) {
    const SimdLevel top = Processor().level;
    return static_cast<int>(wanted) < static_cast<int>(top) ? wanted : top;
}

SimdLevel FromEnvironment() {
    const char* text = std::getenv("LUMORA_SIMD");
    SimdLevel wanted = Processor().level;
    if (text != nullptr) {
        for (SimdLevel level :
             {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
            if (std::strcmp(text, SimdLevelName(level)) == 0) wanted = level;
        }
    }
    return Limit(wanted);
}

std::atomic<int>& Active() {
    static std::atomic<int> active{static_cast<int>(FromEnvironment())};
    return active;
}

}  // namespace

SimdLevel DetectedSimdLevel() {
    return Processor().level;
}

bool DetectedAvx512Vbmi() {
    return Processor().vbmi;
}

bool DetectedFastGathers() {
    return Processor().fastGathers;
}

SimdLevel ActiveSimdLevel() {
    return static_cast<SimdLevel>(Active().load(std::memory_order_relaxed));
}

bool ActiveAvx512Vbmi() {
    return ActiveSimdLevel() == SimdLevel::kAvx512 && Processor().vbmi;
}

SimdLevel SetSimdLevelForTesting(SimdLevel level) {
    const SimdLevel set = Limit(level);
    Active().store(static_cast<int>(set), std::memory_order_relaxed);
    return set;
}

void FenceStreamedStores() {
#if defined(__x86_64__)
    _mm_sfence();
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::kScalar:
            return "scalar";
        case SimdLevel::kSse2:
            return "sse2";
        case SimdLevel::kAvx2:
            return "avx2";
        case SimdLevel::kAvx512:
            return "avx512";
    }
    return "scalar";
}

}  // namespace lumora
