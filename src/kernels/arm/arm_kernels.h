// The 64-bit ARM vector kernels (Advanced SIMD, which every ARMv8-A processor
// has), each with its scalar twin's signature and exactly its results (scalar
// twins: forward_dct, inverse_dct, color_convert and color_output under
// encode/ and decode/). arm_tables.cpp collects them in kNeonKernels.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/engine_params.h"

namespace q32vex {

void ForwardDctQuantizeNeon(int16_t* block, const EncQuantTable* table);
void ForwardDctQuantizePairNeon(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);

void InverseDctNaturalNeon(int16_t* block, const DequantTable* table);
void InverseDctNaturalPairNeon(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);

// The vector converter or output routine of a sampling index and pixel size,
// or null where only the scalar one exists.
McuConverter ChooseConverterNeon(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineNeon(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseSaturatingOutputRoutineNeon(uint16_t samplingIndex, uint16_t bytesPerPixel);

}  // namespace q32vex
