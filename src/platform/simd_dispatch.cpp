// Kernel choice per SIMD level. Engines call these once at setup and keep the
// pointer, so no per-block code ever tests the level.
#include "platform/simd_dispatch.h"

#include "decode/inverse_dct.h"
#include "encode/forward_dct.h"

namespace q32vex {

ForwardDctFn ChooseForwardDct(SimdLevel level) {
    switch (level) {
        case kSimdAvx2: return ForwardDctQuantizeAvx2;
        case kSimdSsse3: return ForwardDctQuantizeSsse3;
        case kSimdSse2: return ForwardDctQuantizeSse2;
        case kSimdScalar: break;
    }
    return ForwardDctQuantize;
}

InverseDctFn ChooseInverseDct(SimdLevel level) {
    switch (level) {
        case kSimdAvx2: return InverseDctBlockAvx2;
        case kSimdSsse3: return InverseDctBlockSsse3;
        case kSimdSse2: return InverseDctBlockSse2;
        case kSimdScalar: break;
    }
    return InverseDctBlock;
}

InverseDctNaturalFn ChooseInverseDctNatural(SimdLevel level) {
    switch (level) {
        case kSimdAvx2: return InverseDctNaturalAvx2;
        case kSimdSsse3: return InverseDctNaturalSsse3;
        case kSimdSse2: return InverseDctNaturalSse2;
        case kSimdScalar: break;
    }
    return InverseDctNatural;
}

ForwardDctPairFn ChooseForwardDctPair(SimdLevel level) {
    switch (level) {
        case kSimdAvx2: return ForwardDctQuantizePairAvx2;
        case kSimdSsse3: return ForwardDctQuantizePairSsse3;
        case kSimdSse2: return ForwardDctQuantizePairSse2;
        case kSimdScalar: break;
    }
    return ForwardDctQuantizePair;
}

InverseDctPairFn ChooseInverseDctPair(SimdLevel level) {
    switch (level) {
        case kSimdAvx2: return InverseDctNaturalPairAvx2;
        case kSimdSsse3: return InverseDctNaturalPairSsse3;
        case kSimdSse2: return InverseDctNaturalPairSse2;
        case kSimdScalar: break;
    }
    return InverseDctNaturalPair;
}

McuEncoderFn ChooseMcuEncoder(SimdLevel level) {
    return level == kSimdAvx2 ? EncodeMcuBlocksAvx2 : EncodeMcuBlocks;
}

McuDecoderFn ChooseMcuDecoder(SimdLevel level) {
    return level == kSimdAvx2 ? DecodeMcuBlocksAvx2 : DecodeMcuBlocks;
}

McuConverter ChooseConverter(uint16_t samplingIndex, uint16_t bytesPerPixel, McuConverter scalar,
                             SimdLevel level) {
    McuConverter vector = nullptr;
    switch (level) {
        case kSimdAvx2: vector = ChooseConverterAvx2(samplingIndex, bytesPerPixel); break;
        case kSimdSsse3: vector = ChooseConverterSsse3(samplingIndex, bytesPerPixel); break;
        case kSimdSse2: vector = ChooseConverterSse2(samplingIndex, bytesPerPixel); break;
        case kSimdScalar: break;
    }
    return vector != nullptr ? vector : scalar;
}

McuOutputRoutine ChooseOutputRoutine(uint16_t samplingIndex, uint16_t bytesPerPixel,
                                     McuOutputRoutine scalar, SimdLevel level) {
    McuOutputRoutine vector = nullptr;
    switch (level) {
        case kSimdAvx2: vector = ChooseOutputRoutineAvx2(samplingIndex, bytesPerPixel); break;
        case kSimdSsse3: vector = ChooseOutputRoutineSsse3(samplingIndex, bytesPerPixel); break;
        case kSimdSse2: vector = ChooseOutputRoutineSse2(samplingIndex, bytesPerPixel); break;
        case kSimdScalar: break;
    }
    return vector != nullptr ? vector : scalar;
}

}  // namespace q32vex
