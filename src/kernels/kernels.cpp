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

const KernelTable kScalarKernels = {
    "scalar",
    ForwardDctQuantize,
    ForwardDctQuantizePair,
    InverseDctNatural,
    InverseDctNaturalPair,
    EncodeMcuBlocks,
    DecodeMcuBlocks,
    NoVectorConverter,
    NoVectorOutput,
};

const KernelTable& KernelsFor(SimdLevel level) {
#if defined(Q32VEX_X86_KERNELS)
    static const KernelTable* const kByLevel[] = {&kScalarKernels, &kSse2Kernels, &kSsse3Kernels,
                                                  &kAvx2Bmi2Kernels};
#else
    static const KernelTable* const kByLevel[] = {&kScalarKernels};
#endif
    constexpr int kLevels = int(sizeof(kByLevel) / sizeof(kByLevel[0]));
    const int index = level < 0 ? 0 : level >= kLevels ? kLevels - 1 : int(level);
    return *kByLevel[index];
}

}  // namespace q32vex
