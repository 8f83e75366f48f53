// Which SIMD kernels may run on this processor: detected once from cpuid,
// optionally lowered through Q32VEX_SIMD so that every level can be tested
// and compared on one machine. Never raised above what the CPU can execute.
#pragma once

namespace q32vex {

enum SimdLevel : int {
    kSimdScalar = 0,
    kSimdSse2 = 1,
    kSimdSsse3 = 2,
    // AVX2 together with the BMI1, BMI2, LZCNT and POPCNT instructions its
    // kernels are built with.
    kSimdAvx2Bmi2 = 3,
};

// The highest level the processor and the operating system support.
SimdLevel CpuSimdLevel();
// The level the kernels are chosen for: CpuSimdLevel(), lowered by the
// environment variable Q32VEX_SIMD=scalar|sse2|ssse3|avx2-bmi2 when it is set.
SimdLevel ActiveSimdLevel();
// Test hook: makes later kernel choices use `level` (clamped to what the CPU
// has) and returns the level that was active before.
SimdLevel SetSimdLevelForTesting(SimdLevel level);
const char* SimdLevelName(SimdLevel level);

}  // namespace q32vex
