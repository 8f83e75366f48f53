// Forward DCT and quantiser for processors with SSE2; the same results as
// ForwardDctQuantize, eight lanes at a time.
#include "kernels/x86/forward_dct_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

void ForwardDctQuantizeSse2(int16_t* block, const EncQuantTable* table) {
    __m128i r[8];
    ForwardDctQuantizeRows(block, table, r);
    StoreZigzag(block, r);
}

void ForwardDctQuantizePairSse2(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb) {
    ForwardDctQuantizeSse2(a, ta);
    ForwardDctQuantizeSse2(b, tb);
}

}  // namespace q32vex
