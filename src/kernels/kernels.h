// Kernel tables, one per instruction set, and the lookup that picks the one
// for a SIMD level. The scalar table is the reference every other table is
// tested against; a build for a processor family has only that family's
// tables (x86: SSE2, SSSE3, AVX2 with BMI2; 64-bit ARM: NEON; anything
// else: scalar).
#pragma once

#include "common/engine_params.h"
#include "platform/cpu.h"

namespace q32vex {

extern const KernelTable kScalarKernels;
#if defined(Q32VEX_X86_KERNELS)
extern const KernelTable kSse2Kernels;
extern const KernelTable kSsse3Kernels;
extern const KernelTable kAvx2Bmi2Kernels;
#endif
#if defined(Q32VEX_ARM_KERNELS)
extern const KernelTable kNeonKernels;
#endif

// The table for `level`; a level this build has no table for gets the
// scalar one.
const KernelTable& KernelsFor(SimdLevel level);

}  // namespace q32vex
