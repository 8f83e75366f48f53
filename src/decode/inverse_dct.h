// Dequantisation and the 8x8 inverse DCT in 16-bit fixed point, in place:
// natural-order coefficients in, 256 x (sample - 128) in natural order out.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/engine_params.h"

namespace q32vex {

// Both 1-D passes and the output scaling on dequantised coefficients in
// natural order (scratch is overwritten); every form below ends here.
void TransformDequantized(int16_t* scratch, int16_t* block);

// The engine's form: the block decoder has already put the coefficients in
// natural order, and the table is the component's DequantTable.
void InverseDctNatural(int16_t* block, const DequantTable* table);
// Two blocks, each with its own table (vector levels transform them together).
void InverseDctNaturalPair(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
// InverseDctNatural of a block whose AC coefficients are all zero: both 1-D
// passes carry the dequantised DC unchanged to every output, so the block is
// that value, scaled for output, 64 times.
void InverseDctDcOnly(int16_t* block, const DequantTable* table);
void MakeDequantTable(const DecQuantTable* source, DequantTable* out);

}  // namespace q32vex
