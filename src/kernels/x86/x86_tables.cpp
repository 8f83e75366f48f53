// The kernel tables of the x86 levels. Each level's table names that level's
// own kernels where it has them; the entropy coders have one vector build, at
// the AVX2 level, and the lower levels take the scalar ones.
#include "decode/huffman_decoder.h"
#include "encode/huffman_encoder.h"
#include "kernels/kernels.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

const KernelTable kSse2Kernels = {
    "sse2",
    ForwardDctQuantizeSse2,
    ForwardDctQuantizePairSse2,
    InverseDctNaturalSse2,
    InverseDctNaturalPairSse2,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    ChooseConverterSse2,
    ChooseOutputRoutineSse2,
};

const KernelTable kSsse3Kernels = {
    "ssse3",
    ForwardDctQuantizeSsse3,
    ForwardDctQuantizePairSsse3,
    InverseDctNaturalSsse3,
    InverseDctNaturalPairSsse3,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    ChooseConverterSsse3,
    ChooseOutputRoutineSsse3,
};

const KernelTable kAvx2Bmi2Kernels = {
    "avx2-bmi2",
    ForwardDctQuantizeAvx2,
    ForwardDctQuantizePairAvx2,
    InverseDctNaturalAvx2,
    InverseDctNaturalPairAvx2,
    EncodeMcuBlocksAvx2,
    DecodeMcuBlocksAvx2,
    ChooseConverterAvx2,
    ChooseOutputRoutineAvx2,
};

}  // namespace q32vex
