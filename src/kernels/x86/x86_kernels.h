// The x86 vector kernels, one set per instruction-set level, each with its
// scalar twin's signature and exactly its results (scalar twins: forward_dct,
// inverse_dct, color_convert, color_output and the Huffman coders under
// encode/ and decode/). The level tables in x86_tables.cpp collect them.
#pragma once
#include <cstdint>

#include "decode/color_output.h"
#include "encode/color_convert.h"
#include "common/derived_tables.h"
#include "common/engine_params.h"

namespace q32vex {

void ForwardDctQuantizeSse2(int16_t* block, const EncQuantTable* table);
void ForwardDctQuantizeSsse3(int16_t* block, const EncQuantTable* table);
void ForwardDctQuantizeAvx2(int16_t* block, const EncQuantTable* table);
void ForwardDctQuantizePairSse2(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);
void ForwardDctQuantizePairSsse3(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);
void ForwardDctQuantizePairAvx2(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);

void InverseDctNaturalSse2(int16_t* block, const DequantTable* table);
void InverseDctNaturalSsse3(int16_t* block, const DequantTable* table);
void InverseDctNaturalAvx2(int16_t* block, const DequantTable* table);
void InverseDctNaturalPairSse2(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
void InverseDctNaturalPairSsse3(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
void InverseDctNaturalPairAvx2(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);

// The entropy coders built with the bit-manipulation instructions (BMI1,
// BMI2, LZCNT, POPCNT) that come with AVX2 on every processor that has it.
Status EncodeMcuBlocksAvx2(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                           const uint8_t* component, int16_t* predictors, const HuffPacked* tables);
Status DecodeMcuBlocksAvx2(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                           const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                           uint32_t* dcOnly);

// The vector converter or output routine of a sampling index and pixel size,
// or null where only the scalar one exists.
McuConverter ChooseConverterSse2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuConverter ChooseConverterSsse3(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuConverter ChooseConverterAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineSse2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineSsse3(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseOutputRoutineAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseSaturatingOutputRoutineSse2(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseSaturatingOutputRoutineSsse3(uint16_t samplingIndex, uint16_t bytesPerPixel);
McuOutputRoutine ChooseSaturatingOutputRoutineAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel);

}  // namespace q32vex
