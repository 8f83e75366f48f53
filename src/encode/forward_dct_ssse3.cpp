// Forward DCT and quantiser for processors with SSSE3; the same results as
// ForwardDctQuantize, eight lanes at a time.
#include "encode/forward_dct_simd.h"
#include "platform/simd_dispatch.h"

namespace q32vex {

void ForwardDctQuantizeSsse3(int16_t* block, const uint32_t* table) {
    __m128i r[8];
    ForwardDctQuantizeRows(block, table, r);
    StoreZigzag(block, r);
}

}  // namespace q32vex
