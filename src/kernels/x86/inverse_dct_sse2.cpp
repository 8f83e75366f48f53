// Dequantisation and inverse DCT for processors with SSE2; the same
// results as InverseDctBlock, eight lanes at a time.
#include "kernels/x86/inverse_dct_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

void InverseDctBlockSse2(int16_t* block, const DecQuantTable* table) {
    __m128i r[8];
    DequantizeRows(block, table, r);
    InverseTransformRows(r);
    StoreBlock(block, r);
}

void InverseDctNaturalSse2(int16_t* block, const DequantTable* table) {
    InverseDctNaturalBody(block, table);
}

void InverseDctNaturalPairSse2(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNaturalBody(a, ta);
    InverseDctNaturalBody(b, tb);
}

}  // namespace q32vex
