// Dequantisation and inverse DCT for processors with SSE2; the same
// results as InverseDctBlock, eight lanes at a time.
#include "decode/inverse_dct_simd.h"
#include "platform/simd_dispatch.h"

namespace q32vex {

void InverseDctBlockSse2(int16_t* block, const DecQuantTable* table) {
    __m128i r[8];
    DequantizeRows(block, table, r);
    InverseTransformRows(r);
    StoreBlock(block, r);
}

}  // namespace q32vex
