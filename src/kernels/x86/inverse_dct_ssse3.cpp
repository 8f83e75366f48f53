// Dequantisation and inverse DCT for processors with SSSE3; the same
// results as InverseDctNatural, eight lanes at a time.
#include "kernels/x86/inverse_dct_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

void InverseDctNaturalSsse3(int16_t* block, const DequantTable* table) {
    InverseDctNaturalBody(block, table);
}

void InverseDctNaturalPairSsse3(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb) {
    InverseDctNaturalBody(a, ta);
    InverseDctNaturalBody(b, tb);
}

}  // namespace q32vex
