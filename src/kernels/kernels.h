// Kernel tables, one per instruction set, and the lookup that picks the one
// for a SIMD level. The scalar table is the reference every other table is
// tested against; a build for a processor family has only that family's
// tables (x86: SSE2, SSSE3, AVX2 with BMI2; 64-bit ARM: NEON; anything
// else: scalar).
#pragma once

#include "common/engine_params.h"
#include "decode/color_output.h"
#include "platform/cpu.h"

namespace q32vex {

extern const KernelTable kScalarKernels;
extern const KernelTable kScalarSaturatingKernels;
#if defined(Q32VEX_X86_KERNELS)
extern const KernelTable kSse2Kernels;
extern const KernelTable kSsse3Kernels;
extern const KernelTable kAvx2Bmi2Kernels;
extern const KernelTable kSse2SaturatingKernels;
extern const KernelTable kSsse3SaturatingKernels;
extern const KernelTable kAvx2Bmi2SaturatingKernels;
#endif
#if defined(Q32VEX_ARM_KERNELS)
extern const KernelTable kNeonKernels;
extern const KernelTable kNeonSaturatingKernels;
#endif

// A level's table with the saturating output routines in place of the
// wrapping ones: `outputRoutine` is the level's saturating chooser.
constexpr KernelTable SaturatingTwin(KernelTable table,
                                     McuOutputRoutine (*outputRoutine)(uint16_t, uint16_t)) {
    table.outputRoutine = outputRoutine;
    table.scalarOutputRoutines = kSaturatingOutputRoutines;
    return table;
}

// The table for `level` and colour output (the wrapping one unless a host
// chose otherwise); a level this build has no table for gets the scalar one.
const KernelTable& KernelsFor(SimdLevel level, ColourOutput colour = ColourOutput::kWrapping);

}  // namespace q32vex
