// Dequantisation and inverse DCT for processors with AVX2; the same
// results as InverseDctNatural, eight lanes at a time.
#include "kernels/x86/inverse_dct_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

void InverseDctNaturalAvx2(int16_t* block, const DequantTable* table) {
    InverseDctNaturalBody(block, table);
}

void InverseDctNaturalPairAvx2(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNaturalPairBody(a, ta, b, tb);
}

}  // namespace q32vex
