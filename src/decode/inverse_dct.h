// Dequantisation and the 8x8 inverse DCT in 16-bit fixed point, in place:
// zigzag coefficients in, 256 x (sample - 128) in natural order out.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/engine_params.h"

namespace q32vex {

void InverseDctBlock(int16_t* block, const DecQuantTable* table);

// The engine's form of the same operation: the block decoder has already put
// the coefficients in natural order, and the table is the component's
// DequantTable. The results are InverseDctBlock's.
void InverseDctNatural(int16_t* block, const DequantTable* table);
// Two blocks, each with its own table (vector levels transform them together).
void InverseDctNaturalPair(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
// InverseDctNatural of a block whose AC coefficients are all zero: both 1-D
// passes carry the dequantised DC unchanged to every output, so the block is
// that value, scaled for output, 64 times.
void InverseDctDcOnly(int16_t* block, const DequantTable* table);
void MakeDequantTable(const DecQuantTable* source, DequantTable* out);

}  // namespace q32vex
