// Dequantisation and the 8x8 inverse DCT in 16-bit fixed point, in place:
// zigzag coefficients in, 256 x (sample - 128) in natural order out.
#pragma once
#include <cstdint>

#include "encode/derived_tables.h"

namespace q32vex {

void InverseDctBlock(int16_t* block, const DecQuantTable* table);

}  // namespace q32vex
