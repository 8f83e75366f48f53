// Bit reader over the entropy-coded data (stuffing, markers, restarts) and
// the block decoder that turns Huffman codes into quantised coefficients.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "common/status.h"
#include "decode/input_reader.h"

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
    // Zero bits that entered bitBuffer because the data had stopped (a
    // marker, the segment's end or a code no table holds), counted on the
    // byte-wise path only and capped; more than 32 means decoding has used
    // bits the stream never had.
    uint16_t zeroBits;
    // Set by the open of instances that read damaged streams: a code no
    // table holds ends the data of the interval instead of reading as a
    // zero-length symbol.
    uint16_t stopAtBadCode;
    // kRanOut and kBadCode: what ended the interval's data early. Cleared
    // when a restart marker starts fresh data.
    uint16_t damage;
};

enum BitReaderDamage : uint16_t {
    kRanOut = 1,   // bits were used past the end of the data
    kBadCode = 2,  // a code no table holds, with stopAtBadCode set
};

// The bit reader's chunks come from the input reader; every operation below
// takes both.
[[nodiscard]] Status StartEntropyInput(BitReader& bits, InputBuffer& in);
[[nodiscard]] Status ResyncEntropyInput(BitReader& bits, InputBuffer& in);
[[nodiscard]] Status SkipBits(BitReader& bits, InputBuffer& in, int n);
[[nodiscard]] Status ReadEntropyByte(BitReader& bits, InputBuffer& in, uint16_t* out);
// For readers of damaged streams, at the end of an interval: moves to the
// next marker at or after the cursor and leaves the cursor on its code byte,
// stepping over stuffed bytes and 0xFF fill bytes; *code is the code, 0 when
// the segment ends first. Bytes of data stepped over are added to *skipped.
[[nodiscard]] Status FindMarker(BitReader& bits, InputBuffer& in, uint8_t* code, uint32_t* skipped);
// Consumes the code byte of the marker FindMarker found; the next
// FindMarker looks behind it.
[[nodiscard]] Status StepOverMarker(BitReader& bits, InputBuffer& in);
// Consumes the code byte of the marker FindMarker found and starts fresh
// data behind it, clearing the damage of the interval before.
[[nodiscard]] Status RestartAfterMarker(BitReader& bits, InputBuffer& in);
// Leaves the marker FindMarker found where it is: the next interval then
// has no data, as if its data had stopped before its first bit.
void KeepMarker(BitReader& bits);
// The blocks of one MCU, with the reader held in registers across them and
// each coefficient written to its natural (row-major) place; short AC codes
// whose magnitude bits fit the lookahead are decoded in one step with fastAc.
// The same coefficients and reader state as decoding each block in turn
// without fastAc.
// Block b belongs to component[b], whose predictor and tables are
// predictors[component[b]] and tables[component[b]]; bit b of *dcOnly is set
// when block b holds no AC coefficient.
[[nodiscard]] Status DecodeMcuBlocks(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                                     const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                                     uint32_t* dcOnly);
// For each value of the next kFastAcBits bits: 0, or the decoded coefficient
// (high 16 bits), its zero run (bits 8..15) and the bits its code and magnitude take
// (low 8 bits). End of block is a run of 255, sixteen zeros a run of fifteen
// and a zero. kFastAcEntries entries.
void BuildFastAcTable(const uint16_t* acTable, int32_t* fast);
// For each value of the next kFastDcBits bits: 0, or the DC difference (high
// 16 bits) and the bits its code and magnitude take (low 8 bits), where both
// fit. kFastDcEntries entries.
void BuildFastDcTable(const uint16_t* dcTable, int32_t* fast);

}  // namespace q32vex
