// Huffman coding of quantised blocks and the bit writer, which packs codes
// straight into the host's buffer with 0xFF stuffing and restart markers.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/engine_params.h"
#include "common/status.h"
#include "encode/stream_writer.h"

namespace q32vex {

struct BitWriter {
    uint8_t* windowStart;
    uint8_t* windowEnd;
    uint8_t* bitCursor;
    uint16_t freeBits;
    uint16_t stuffingEnabled;
};

// The bit writer's window is the free part of the stream writer's buffer in
// hand; every operation below takes both.
[[nodiscard]] Status StartBitWriter(BitWriter& bits, StreamBuffer& out);
[[nodiscard]] Status PutBits(BitWriter& bits, StreamBuffer& out, uint32_t value, int n);
[[nodiscard]] Status FlushBitWriter(const BitWriter& bits, StreamBuffer& out);
[[nodiscard]] Status WriteRestartMarker(BitWriter& bits, StreamBuffer& out, uint8_t code);

// The engine's form: a component's DC and AC tables packed once per
// sequence, each entry (code << 5) | length, and the blocks of a whole MCU
// coded with the bit writer held in registers; the same bits as coding each
// block in turn with the tables unpacked. Block b belongs to component[b],
// whose predictor and tables are predictors[component[b]] and
// tables[component[b]].
void PackHuffmanTables(const HuffEncDc* dc, const HuffEncAc* ac, HuffPacked* out);
[[nodiscard]] Status EncodeMcuBlocks(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                                     const uint8_t* component, int16_t* predictors, const HuffPacked* tables);

}  // namespace q32vex
