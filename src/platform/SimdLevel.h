#pragma once
// Which vector instruction set the pixel kernels run with. The processor is examined once; each
// kernel family then takes the widest variant it has at or below the level in force, through a
// table of function pointers (no loader tricks, so the same scheme works in every binary format).
//
// The level in force can be lowered, never raised past what the processor offers:
// LUMORA_SIMD=scalar|sse2|avx2|avx512 in the environment at the first use, and
// SetSimdLevelForTesting, which lets a test run and compare every variant on one machine.
//
// Threads: the level is one atomic; kernels read it once per call.

namespace lumora {

enum class SimdLevel : int {
    kScalar = 0,  // portable C++ (the reference every vector variant is compared with)
    kSse2 = 1,    // the x86-64 baseline
    kAvx2 = 2,    // AVX2 with FMA
    kAvx512 = 3,  // AVX-512 F, BW, VL and DQ
};

// What the processor offers.
SimdLevel DetectedSimdLevel();
// True when the processor also has the AVX-512 byte permutes (VBMI).
bool DetectedAvx512Vbmi();
// True when AVX-512 gathers run at full speed: processors with the AVX-512 half-precision
// arithmetic (Intel's from 2023 on) are untouched by the microcode fix for gather data sampling,
// which makes a gather several times slower than as many plain loads on earlier ones.
bool DetectedFastGathers();

// The level the kernels use now.
SimdLevel ActiveSimdLevel();
// True when the active level is AVX-512 and the processor has VBMI.
bool ActiveAvx512Vbmi();

// Sets the level in force, limited to what the processor offers; returns the level set.
SimdLevel SetSimdLevelForTesting(SimdLevel level);

const char* SimdLevelName(SimdLevel level);

// Kernels that write large outputs around the caches (streamed stores) leave those stores
// unordered with the ones that follow, so a loop over rows fences once at its end: after this,
// every earlier store is visible before any later one (before a flag or lock hands the output to
// another thread or process). The writing thread itself always reads its own stores back.
void FenceStreamedStores();

}  // namespace lumora
