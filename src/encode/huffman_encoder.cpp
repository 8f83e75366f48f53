// Huffman coding of quantised blocks and the bit writer's entry points: the
// baseline build of the block coder (its AVX2 build is
// kernels/x86/huffman_encoder_avx2.cpp), segment start and end, restart markers.
#include "encode/huffman_coder.h"
#include "encode/stream_writer.h"

namespace q32vex {

// Takes the rest of the host buffer as the bit writer's window, after
// committing `used` bytes of the previous window.
Status RenewBitWindow(BitWriter& bits, StreamBuffer& out, uint16_t used, int16_t mode) {
    uint8_t* position = nullptr;
    uint16_t count = used;
    Q_TRY(WriteStream(out, &position, -1, &count, mode));
    bits.windowStart = position;
    bits.bitCursor = position;
    bits.windowEnd = position + count;
    return 0;
}

Status StartBitWriter(BitWriter& bits, StreamBuffer& out) {
    Q_TRY(RenewBitWindow(bits, out, 0, kStreamReserve));
    *bits.bitCursor = 0;
    bits.freeBits = 8;
    return 0;
}

Status PutBits(BitWriter& bits, StreamBuffer& out, uint32_t value, int n) {
    if (n <= 0) return 0;
    Writer w;
    w.Load(bits, out);
    Q_TRY(w.Put(value & kBitMask[n], n));
    return w.Settle();
}

Status FlushBitWriter(const BitWriter& bits, StreamBuffer& out) {
    // A partly filled last byte is committed with its free low bits 0.
    const uint16_t count =
        uint16_t((bits.bitCursor - bits.windowStart) + (bits.freeBits != 8 ? 1 : 0));
    uint8_t* position = nullptr;
    uint16_t committed = count;
    return WriteStream(out, &position, -1, &committed, kStreamFinish);
}

Status WriteRestartMarker(BitWriter& bits, StreamBuffer& out, uint8_t code) {
    // Pad the partial byte with 1-bits (stuffed if it becomes 0xFF), then
    // write the two marker bytes unstuffed.
    if (bits.freeBits < 8) Q_TRY(PutBits(bits, out, 0xFF, bits.freeBits));
    const uint16_t stuffing = bits.stuffingEnabled;
    bits.stuffingEnabled = 0;
    Status status = PutBits(bits, out, 0xFF, 8);
    if (status == 0) status = PutBits(bits, out, code, 8);
    bits.stuffingEnabled = stuffing;
    return status;
}

void PackHuffmanTables(const HuffEncDc* dc, const HuffEncAc* ac, HuffPacked* out) {
    for (int c = 0; c < 16; ++c) out->dc[c] = c < 13 ? PackedCode(dc->code[c], dc->length[c]) : 0;
    for (int s = 0; s < 256; ++s) out->ac[s] = PackedCode(ac->code[s], ac->length[s]);
}

Status EncodeMcuBlocks(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                       const uint8_t* component, int16_t* predictors, const HuffPacked* tables) {
    return CodeMcuBlocks(bits, out, blocks, count, component, predictors, tables);
}

}  // namespace q32vex
