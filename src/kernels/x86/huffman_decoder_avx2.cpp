// The block decoder (scalar build: decode/huffman_decoder.cpp) built for
// processors with AVX2, whose bit-manipulation
// instructions (variable shifts without flags, zero counts) shorten its inner
// loop; the same coefficients and reader state as DecodeMcuBlocks.
#include "decode/huffman_block_decoder.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

Status DecodeMcuBlocksAvx2(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                           const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                           uint32_t* dcOnly) {
    return DecodeMcuBody(bits, in, blocks, count, component, predictors, tables, dcOnly);
}

}  // namespace q32vex
