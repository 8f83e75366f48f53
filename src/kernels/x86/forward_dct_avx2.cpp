// Forward DCT and quantiser for processors with AVX2; the same results as
// ForwardDctQuantize, eight lanes at a time.
#include "kernels/x86/forward_dct_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

void ForwardDctQuantizeAvx2(int16_t* block, const EncQuantTable* table) {
    __m128i r[8];
    ForwardDctQuantizeRows(block, table, r);
    StoreZigzag(block, r);
}

void ForwardDctQuantizePairAvx2(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb) {
    ForwardDctQuantizePairBody(a, ta, b, tb);
}

}  // namespace q32vex
