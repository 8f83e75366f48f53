// Which SIMD kernels may run on this processor: detected once (from cpuid on
// x86; 64-bit ARM always has NEON), optionally lowered through Q32VEX_SIMD so
// that every level can be tested and compared on one machine. Never raised
// above what the CPU can execute.
#pragma once

namespace q32vex {

enum SimdLevel : int {
    kSimdScalar = 0,
    kSimdSse2 = 1,
    kSimdSsse3 = 2,
    // AVX2 together with the BMI1, BMI2, LZCNT and POPCNT instructions its
    // kernels are built with.
    kSimdAvx2Bmi2 = 3,
    // Advanced SIMD, which every 64-bit ARM processor has.
    kSimdNeon = 4,
};
constexpr int kSimdLevelCount = 5;

// The highest level the processor and the operating system support.
SimdLevel CpuSimdLevel();
// Whether kernels of `level` can run here: the scalar level always; a vector
// level when it belongs to the processor's family (x86 or ARM) and is not
// above CpuSimdLevel().
bool SimdLevelRunsHere(SimdLevel level);
// The level the kernels are chosen for: CpuSimdLevel(), lowered by the
// environment variable Q32VEX_SIMD=scalar|sse2|ssse3|avx2-bmi2|neon when it
// is set to a level that runs here.
SimdLevel ActiveSimdLevel();
// Test hook: makes later kernel choices use `level` (CpuSimdLevel() where
// `level` cannot run here) and returns the level that was active before.
SimdLevel SetSimdLevelForTesting(SimdLevel level);
const char* SimdLevelName(SimdLevel level);

}  // namespace q32vex
