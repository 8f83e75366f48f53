// The block coder (scalar build: encode/huffman_encoder.cpp) built for
// processors with AVX2, whose bit-manipulation
// instructions (variable shifts without flags, leading and trailing zero
// counts) shorten its inner loop; the same bits as EncodeMcuBlocks.
#include "encode/huffman_coder.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

Status EncodeMcuBlocksAvx2(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                           const uint8_t* component, int16_t* predictors, const HuffPacked* tables) {
    return CodeMcuBlocks(bits, out, blocks, count, component, predictors, tables);
}

}  // namespace q32vex
