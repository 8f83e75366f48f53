// Huffman coding of quantised blocks and the bit writer. Bits are ORed straight
// into the host's buffer with 0xFF stuffing; the reserved window is committed
// only when it fills or the segment ends, so there is no staging buffer.
#include "encode/huffman_encoder.h"

#include "encode/stream_writer.h"
#include "interface/global_state.h"

namespace q32vex {
namespace {

constexpr uint32_t BitMask(int n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u; }
constexpr uint32_t kBitMask[17] = {
    BitMask(0),  BitMask(1),  BitMask(2),  BitMask(3),  BitMask(4),  BitMask(5),
    BitMask(6),  BitMask(7),  BitMask(8),  BitMask(9),  BitMask(10), BitMask(11),
    BitMask(12), BitMask(13), BitMask(14), BitMask(15), BitMask(16),
};
static_assert(kBitMask[0] == 0 && kBitMask[11] == 0x7FF && kBitMask[16] == 0xFFFF);

constexpr uint16_t kSymbolEob = 0x00;
constexpr uint16_t kSymbolZrl = 0xF0;

// Takes the rest of the host buffer as the bit writer's window, after
// committing `used` bytes of the previous window.
Status RenewWindow(uint16_t used, int16_t mode) {
    BitWriter& bits = g.bitWriter;
    uint8_t* position = nullptr;
    uint16_t count = used;
    Q_TRY(WriteStream(&position, -1, &count, mode));
    bits.windowStart = position;
    bits.bitCursor = position;
    bits.windowEnd = position + count;
    return 0;
}

// Number of bits of a magnitude: 0 for 0, 1 for 1, 2 for 2..3, ...
inline int Category(uint32_t magnitude) {
    int n = 0;
    while (magnitude != 0) {
        ++n;
        magnitude >>= 1;
    }
    return n;
}

}  // namespace

Status StartBitWriter() {
    BitWriter& bits = g.bitWriter;
    Q_TRY(RenewWindow(0, kStreamReserve));
    *bits.bitCursor = 0;
    bits.freeBits = 8;
    return 0;
}

Status PutBits(uint32_t value, int n) {
    BitWriter& bits = g.bitWriter;
    while (n > 0) {
        value &= kBitMask[n];
        if (bits.freeBits > n) {
            bits.freeBits = uint16_t(bits.freeBits - n);
            *bits.bitCursor = uint8_t(*bits.bitCursor | (value << bits.freeBits));
            return 0;
        }
        n -= bits.freeBits;
        *bits.bitCursor = uint8_t(*bits.bitCursor | (value >> n));
        const bool stuff = bits.stuffingEnabled != 0 && *bits.bitCursor == 0xFF;
        ++bits.bitCursor;
        if (bits.bitCursor == bits.windowEnd) {
            Q_TRY(RenewWindow(uint16_t(bits.windowEnd - bits.windowStart), kStreamReserve));
        }
        bits.freeBits = 8;
        *bits.bitCursor = 0;
        if (stuff) {
            // The zero byte just made is the stuffed 0x00.
            ++bits.bitCursor;
            if (bits.bitCursor == bits.windowEnd) {
                Q_TRY(RenewWindow(uint16_t(bits.windowEnd - bits.windowStart), kStreamReserve));
            }
            *bits.bitCursor = 0;
        }
    }
    return 0;
}

Status FlushBitWriter() {
    const BitWriter& bits = g.bitWriter;
    // A partly filled last byte is committed with its free low bits 0.
    const uint16_t count =
        uint16_t((bits.bitCursor - bits.windowStart) + (bits.freeBits != 8 ? 1 : 0));
    uint8_t* position = nullptr;
    uint16_t committed = count;
    return WriteStream(&position, -1, &committed, kStreamFinish);
}

Status WriteRestartMarker(uint8_t code) {
    BitWriter& bits = g.bitWriter;
    // Pad the partial byte with 1-bits (stuffed if it becomes 0xFF), then
    // write the two marker bytes unstuffed.
    if (bits.freeBits < 8) Q_TRY(PutBits(0xFF, bits.freeBits));
    const uint16_t stuffing = bits.stuffingEnabled;
    bits.stuffingEnabled = 0;
    Status status = PutBits(0xFF, 8);
    if (status == 0) status = PutBits(code, 8);
    bits.stuffingEnabled = stuffing;
    return status;
}

Status EncodeBlock(const int16_t* block, int16_t* predictor, const HuffEncDc* dc,
                   const HuffEncAc* ac) {
    const int16_t diff = int16_t(block[0] - *predictor);
    *predictor = block[0];
    // Negative values send their low bits as the one's complement of the
    // magnitude, i.e. value - 1.
    const int dcMagnitude = diff < 0 ? -int(diff) : int(diff);
    int dcCategory = Category(uint32_t(dcMagnitude));
    if (dcCategory > 12) dcCategory = 12;
    Q_TRY(PutBits(dc->code[dcCategory], dc->length[dcCategory]));
    if (dcCategory != 0) {
        Q_TRY(PutBits(uint32_t(diff < 0 ? diff - 1 : diff), dcCategory));
    }

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = block[k];
        if (value == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            Q_TRY(PutBits(ac->code[kSymbolZrl], ac->length[kSymbolZrl]));
            run -= 16;
        }
        const int magnitude = value < 0 ? -value : value;
        int size = Category(uint32_t(magnitude));
        if (size > 10) size = 10;
        const int symbol = run * 16 + size;
        Q_TRY(PutBits(ac->code[symbol], ac->length[symbol]));
        Q_TRY(PutBits(uint32_t(value < 0 ? value - 1 : value), size));
        run = 0;
    }
    if (block[63] == 0) Q_TRY(PutBits(ac->code[kSymbolEob], ac->length[kSymbolEob]));
    return 0;
}

}  // namespace q32vex
