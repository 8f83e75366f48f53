// The scalar kernel table and the lookup by level.
#include "kernels/kernels.h"

#include "decode/huffman_decoder.h"
#include "decode/inverse_dct.h"
#include "encode/forward_dct.h"
#include "encode/huffman_encoder.h"

namespace q32vex {
namespace {

// The engines keep their own scalar converters and output routines by
// sampling; the scalar table has no vector ones to offer.
McuConverter NoVectorConverter(uint16_t, uint16_t) { return nullptr; }
McuOutputRoutine NoVectorOutput(uint16_t, uint16_t) { return nullptr; }

}  // namespace

constexpr KernelTable kScalarKernels = {
    "scalar",
    ForwardDctQuantize,
    ForwardDctQuantizePair,
    InverseDctNatural,
    InverseDctNaturalPair,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    NoVectorConverter,
    NoVectorOutput,
    kOutputRoutines,
};
const KernelTable kScalarSaturatingKernels = SaturatingTwin(kScalarKernels, NoVectorOutput);

const KernelTable& KernelsFor(SimdLevel level, ColourOutput colour) {
    const bool clamp = colour == ColourOutput::kSaturating;
    switch (level) {
#if defined(Q32VEX_X86_KERNELS)
        case kSimdSse2: return clamp ? kSse2SaturatingKernels : kSse2Kernels;
        case kSimdSsse3: return clamp ? kSsse3SaturatingKernels : kSsse3Kernels;
        case kSimdAvx2Bmi2: return clamp ? kAvx2Bmi2SaturatingKernels : kAvx2Bmi2Kernels;
#endif
#if defined(Q32VEX_ARM_KERNELS)
        case kSimdNeon: return clamp ? kNeonSaturatingKernels : kNeonKernels;
#endif
        default: return clamp ? kScalarSaturatingKernels : kScalarKernels;
    }
}

}  // namespace q32vex
