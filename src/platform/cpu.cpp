// Processor feature detection for the kernel dispatch. The answer is computed
// once and cached; reading the environment happens at that moment only.
#include "platform/cpu.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define Q32VEX_X86 1
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace q32vex {
namespace {

constexpr int kUnknown = -1;
std::atomic<int> g_cpuLevel{kUnknown};
std::atomic<int> g_activeLevel{kUnknown};

#if defined(Q32VEX_X86)
void Cpuid(unsigned leaf, unsigned subleaf, unsigned* regs) {
#if defined(_MSC_VER)
    int r[4];
    __cpuidex(r, int(leaf), int(subleaf));
    for (int i = 0; i < 4; ++i) regs[i] = unsigned(r[i]);
#else
    __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
#endif
}

// XCR0: which register states the operating system saves on a context switch.
unsigned long long ReadXcr0() {
#if defined(_MSC_VER)
    return _xgetbv(0);
#else
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<unsigned long long>(hi) << 32) | lo;
#endif
}
#endif

int DetectCpuLevel() {
#if defined(Q32VEX_X86)
    unsigned regs[4] = {0, 0, 0, 0};
    Cpuid(0, 0, regs);
    const unsigned maxLeaf = regs[0];
    if (maxLeaf < 1) return kSimdScalar;
    Cpuid(1, 0, regs);
    const unsigned ecx1 = regs[2], edx1 = regs[3];
    if (!(edx1 & (1u << 26))) return kSimdScalar;  // SSE2
    if (!(ecx1 & (1u << 9))) return kSimdSse2;      // SSSE3
    // AVX2 needs the instructions and an OS that saves the YMM state.
    const bool osxsave = (ecx1 & (1u << 27)) != 0;
    const bool avx = (ecx1 & (1u << 28)) != 0;
    if (maxLeaf < 7 || !osxsave || !avx) return kSimdSsse3;
    if ((ReadXcr0() & 0x6) != 0x6) return kSimdSsse3;
    Cpuid(7, 0, regs);
    // The AVX2 level's kernels are also built with BMI1, BMI2, LZCNT and
    // POPCNT, which every processor with AVX2 has in practice; checked all
    // the same.
    if (!(ecx1 & (1u << 23))) return kSimdSsse3;  // POPCNT
    const unsigned ebx7 = regs[1];
    if (!(ebx7 & (1u << 5)) || !(ebx7 & (1u << 3)) || !(ebx7 & (1u << 8))) return kSimdSsse3;
    Cpuid(0x80000000u, 0, regs);
    if (regs[0] < 0x80000001u) return kSimdSsse3;
    Cpuid(0x80000001u, 0, regs);
    if (!(regs[2] & (1u << 5))) return kSimdSsse3;  // LZCNT
    return kSimdAvx2Bmi2;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return kSimdNeon;  // Advanced SIMD is mandatory in ARMv8-A
#else
    return kSimdScalar;
#endif
}

// The lowest vector level of the family `level` belongs to (x86: SSE2 and
// up, ARM: NEON), or the scalar level.
int FamilyOf(int level) {
    return level >= kSimdNeon ? kSimdNeon : level >= kSimdSse2 ? kSimdSse2 : kSimdScalar;
}

// A request for a level that cannot run here, whether above the processor
// or of the other family, leaves the processor's own level.
int Clamped(int wanted, int cpuLevel) {
    return SimdLevelRunsHere(SimdLevel(wanted)) ? wanted : cpuLevel;
}

int RequestedLevel(int cpuLevel) {
    const char* value = std::getenv("Q32VEX_SIMD");
    if (value == nullptr || *value == '\0') return cpuLevel;
    for (int level = 0; level < kSimdLevelCount; ++level) {
        if (std::strcmp(value, SimdLevelName(SimdLevel(level))) == 0) return Clamped(level, cpuLevel);
    }
    return cpuLevel;  // an unknown name changes nothing
}

}  // namespace

SimdLevel CpuSimdLevel() {
    int level = g_cpuLevel.load(std::memory_order_relaxed);
    if (level == kUnknown) {
        level = DetectCpuLevel();
        g_cpuLevel.store(level, std::memory_order_relaxed);
    }
    return static_cast<SimdLevel>(level);
}

bool SimdLevelRunsHere(SimdLevel level) {
    if (level == kSimdScalar) return true;
    const SimdLevel cpu = CpuSimdLevel();
    return level > kSimdScalar && level < kSimdLevelCount && FamilyOf(level) == FamilyOf(cpu) && level <= cpu;
}

SimdLevel ActiveSimdLevel() {
    int level = g_activeLevel.load(std::memory_order_relaxed);
    if (level == kUnknown) {
        level = RequestedLevel(CpuSimdLevel());
        g_activeLevel.store(level, std::memory_order_relaxed);
    }
    return static_cast<SimdLevel>(level);
}

SimdLevel SetSimdLevelForTesting(SimdLevel level) {
    const SimdLevel previous = ActiveSimdLevel();
    const SimdLevel cpu = CpuSimdLevel();
    g_activeLevel.store(Clamped(level, cpu), std::memory_order_relaxed);
    return previous;
}

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case kSimdScalar: return "scalar";
        case kSimdSse2: return "sse2";
        case kSimdSsse3: return "ssse3";
        case kSimdAvx2Bmi2: return "avx2-bmi2";
        case kSimdNeon: return "neon";
    }
    return "unknown";
}

}  // namespace q32vex
