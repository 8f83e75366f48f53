// The kernel table of 64-bit ARM. The entropy coders have no vector build
// here and are the scalar ones. The saturating table differs in the output
// routines only.
#include "decode/huffman_decoder.h"
#include "encode/huffman_encoder.h"
#include "kernels/arm/arm_kernels.h"
#include "kernels/kernels.h"

namespace q32vex {

constexpr KernelTable kNeonKernels = {
    "neon",
    ForwardDctQuantizeNeon,
    ForwardDctQuantizePairNeon,
    InverseDctNaturalNeon,
    InverseDctNaturalPairNeon,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    ChooseConverterNeon,
    ChooseOutputRoutineNeon,
    kOutputRoutines,
};
const KernelTable kNeonSaturatingKernels = SaturatingTwin(kNeonKernels, ChooseSaturatingOutputRoutineNeon);

}  // namespace q32vex
