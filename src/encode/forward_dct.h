// Scaled 8x8 forward DCT in 16-bit fixed point, quantised with the
// multipliers of the EncQuantTable; output in zigzag order, in place.
#pragma once
#include <cstdint>

namespace q32vex {

void ForwardDctQuantize(int16_t* block, const uint32_t* table);
// Two blocks, each with its own table (vector levels transform them together).
void ForwardDctQuantizePair(int16_t* a, const uint32_t* ta, int16_t* b, const uint32_t* tb);

}  // namespace q32vex
