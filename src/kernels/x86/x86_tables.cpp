// The kernel tables of the x86 levels. Each level's table names that level's
// own kernels where it has them; the entropy coders have one vector build, at
// the AVX2 level, and the lower levels take the scalar ones. Each saturating
// table is its level's table with the saturating output routines.
#include "decode/huffman_decoder.h"
#include "encode/huffman_encoder.h"
#include "kernels/kernels.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

constexpr KernelTable kSse2Kernels = {
    "sse2",
    ForwardDctQuantizeSse2,
    ForwardDctQuantizePairSse2,
    InverseDctNaturalSse2,
    InverseDctNaturalPairSse2,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    ChooseConverterSse2,
    ChooseOutputRoutineSse2,
    kOutputRoutines,
};
const KernelTable kSse2SaturatingKernels = SaturatingTwin(kSse2Kernels, ChooseSaturatingOutputRoutineSse2);

constexpr KernelTable kSsse3Kernels = {
    "ssse3",
    ForwardDctQuantizeSsse3,
    ForwardDctQuantizePairSsse3,
    InverseDctNaturalSsse3,
    InverseDctNaturalPairSsse3,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    ChooseConverterSsse3,
    ChooseOutputRoutineSsse3,
    kOutputRoutines,
};
const KernelTable kSsse3SaturatingKernels = SaturatingTwin(kSsse3Kernels, ChooseSaturatingOutputRoutineSsse3);

constexpr KernelTable kAvx2Bmi2Kernels = {
    "avx2-bmi2",
    ForwardDctQuantizeAvx2,
    ForwardDctQuantizePairAvx2,
    InverseDctNaturalAvx2,
    InverseDctNaturalPairAvx2,
    EncodeMcuBlocksAvx2,
    DecodeMcuBlocksAvx2,
    ChooseConverterAvx2,
    ChooseOutputRoutineAvx2,
    kOutputRoutines,
};
const KernelTable kAvx2Bmi2SaturatingKernels = SaturatingTwin(kAvx2Bmi2Kernels, ChooseSaturatingOutputRoutineAvx2);

}  // namespace q32vex
