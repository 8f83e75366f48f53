// The kernel dispatch: the vector twins of the per-block and per-MCU routines
// (each with its scalar twin's signature and exactly its results) and the
// choice of one per SIMD level, made once when an engine is set up.
#pragma once
#include <cstdint>

#include "decode/color_output.h"
#include "encode/color_convert.h"
#include "encode/derived_tables.h"
#include "platform/cpu.h"

namespace q32vex {

using ForwardDctFn = void (*)(int16_t* block, const uint32_t* table);
using InverseDctFn = void (*)(int16_t* block, const DecQuantTable* table);

void ForwardDctQuantizeSse2(int16_t* block, const uint32_t* table);
void ForwardDctQuantizeSsse3(int16_t* block, const uint32_t* table);
void ForwardDctQuantizeAvx2(int16_t* block, const uint32_t* table);

void InverseDctBlockSse2(int16_t* block, const DecQuantTable* table);
void InverseDctBlockSsse3(int16_t* block, const DecQuantTable* table);
void InverseDctBlockAvx2(int16_t* block, const DecQuantTable* table);

// Per level: the vector converter or output routine of a sampling index and
// pixel size, or null where only the scalar one exists.
McuConverter ChooseConverterSse2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuConverter ChooseConverterSsse3(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuConverter ChooseConverterAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineSse2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineSsse3(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel);

ForwardDctFn ChooseForwardDct(SimdLevel level);
InverseDctFn ChooseInverseDct(SimdLevel level);
// `scalar` is the routine the engine would use without vectors.
McuConverter ChooseConverter(uint16_t samplingIndex, uint16_t bytesPerPixel, McuConverter scalar,
                             SimdLevel level);
McuOutputRoutine ChooseOutputRoutine(uint16_t samplingIndex, uint16_t bytesPerPixel,
                                     McuOutputRoutine scalar, SimdLevel level);

}  // namespace q32vex
