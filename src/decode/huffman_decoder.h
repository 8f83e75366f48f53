// Bit reader over the entropy-coded data (stuffing, markers, restarts) and
// the block decoder that turns Huffman codes into quantised coefficients.
#pragma once
#include <cstdint>

#include "interface/status.h"

namespace q32vex {

struct BitReader {
    uint32_t bitBuffer;
    uint16_t bitsLeft;
    uint8_t* cursor;
    uint8_t* chunkStart;
    uint8_t* chunkEnd;
    int16_t endOfData;
    uint16_t markerSeen;
    uint16_t pendingFF;
};

[[nodiscard]] Status StartEntropyInput();
[[nodiscard]] Status ResyncEntropyInput();
[[nodiscard]] Status SkipBits(int n);
[[nodiscard]] Status ReadEntropyByte(uint16_t* out);
// Coefficients in zigzag order.
[[nodiscard]] Status DecodeBlock(int16_t* coefs, int16_t* predictor, const uint16_t* dcTable,
                                 const uint16_t* acTable);

}  // namespace q32vex
