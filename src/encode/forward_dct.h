// Scaled 8x8 forward DCT in 16-bit fixed point, quantised with the
// multipliers of the EncQuantTable; output in zigzag order, in place.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"

namespace q32vex {

void ForwardDctQuantize(int16_t* block, const EncQuantTable* table);
// Two blocks, each with its own table (vector levels transform them together).
void ForwardDctQuantizePair(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);

}  // namespace q32vex
