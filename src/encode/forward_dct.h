// Scaled 8x8 forward DCT in 16-bit fixed point, quantised with the
// multipliers of the EncQuantTable; output in zigzag order, in place.
#pragma once
#include <cstdint>

namespace q32vex {

void ForwardDctQuantize(int16_t* block, const uint32_t* table);

}  // namespace q32vex
