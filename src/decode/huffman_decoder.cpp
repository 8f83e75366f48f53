// Bit reader and block decoder entry points (the block decoder's AVX2 build
// is kernels/x86/huffman_decoder_avx2.cpp). The reader keeps the next 32 bits of
// the scan in one word, unstuffs 0xFF 0x00 pairs and turns everything after a
// marker (or after the last byte) into zero bits, so corrupt or short data never
// stops decoding. This is its byte-wise path; the word-at-a-time inner loop that
// maps back onto it exactly is in huffman_block_decoder.h.
#include "decode/huffman_block_decoder.h"
#include "decode/input_reader.h"

namespace q32vex {

namespace {

constexpr int kFlagEnd = 1;

// Installs the chunk ReadInput just handed out.
void Install(BitReader& r, uint16_t count) {
    r.cursor = r.chunkStart;
    r.chunkEnd = r.chunkStart == nullptr ? nullptr : r.chunkStart + count;
    r.bitsLeft = 8;
}

// Leaves the reader with no byte to read: cursor at chunkEnd, end flag set.
void InstallNothing(BitReader& r) {
    r.cursor = r.chunkStart;
    r.chunkEnd = r.chunkStart;
    r.endOfData = kFlagEnd;
}

// Called whenever the cursor may stand at the end of its chunk: fetches chunks
// until one holds a byte or the segment has ended. Afterwards either the cursor
// addresses a byte or cursor == chunkEnd with endOfData set.
Status RefillAtEnd(BitReader& r, InputBuffer& in) {
    while (r.cursor == r.chunkEnd && r.endOfData != kFlagEnd) {
        uint16_t count = 0;
        r.endOfData = kInputNext;
        Q_TRY(ReadInput(in, &r.chunkStart, -1, &count, &r.endOfData));
        if (r.endOfData == kFlagEnd && count == 0) return 0;
        Install(r, count);
    }
    return 0;
}

// The segment-start flavour of a refill: a final chunk of fewer than four bytes
// is not taken, and the reader then delivers zero bits without reading any byte,
// neither of that chunk nor of an earlier buffer.
Status FetchSegmentChunk(BitReader& r, InputBuffer& in) {
    uint16_t count = 0;
    r.endOfData = kInputNext;
    Q_TRY(ReadInput(in, &r.chunkStart, -1, &count, &r.endOfData));
    if (r.endOfData == kFlagEnd && count < 4) {
        InstallNothing(r);
        return 0;
    }
    Install(r, count);
    return 0;
}

bool AtEnd(const BitReader& r) {
    return r.cursor == r.chunkEnd;
}

// The current byte is a fresh one (no bit used, not a pending stuffed 0xFF):
// a 0xFF is either stuffing, which makes it the data byte 0xFF, or a marker,
// after which only zeros enter the bit window. *usable turns false when the
// fill has to stop here.
Status ExamineFreshByte(BitReader& r, InputBuffer& in, bool* usable) {
    *usable = false;
    if (*r.cursor != 0xFF) {
        *usable = true;
        return 0;
    }
    ++r.cursor;
    Q_TRY(RefillAtEnd(r, in));
    if (AtEnd(r)) return 0;  // a lone 0xFF as the very last byte
    if (*r.cursor != 0x00) {
        r.markerSeen = 1;  // cursor rests on the marker's code byte
        return 0;
    }
    ++r.cursor;
    Q_TRY(RefillAtEnd(r, in));
    r.pendingFF = 1;
    r.bitsLeft = 8;
    *usable = true;
    return 0;
}

}  // namespace

Status StartEntropyInput(BitReader& r, InputBuffer& in) {
    return FetchSegmentChunk(r, in);
}

Status ResyncEntropyInput(BitReader& r, InputBuffer& in) {
    r.markerSeen = 0;
    r.pendingFF = 0;
    r.zeroBits = 0;
    r.damage = 0;
    // Drop every 0xFF x pair at the cursor: restart markers and anything else
    // standing in front of the data. A refill is only sought while the segment
    // has not ended; after its end there is nothing left to skip.
    for (;;) {
        if (AtEnd(r)) {
            if (r.endOfData == kFlagEnd) break;
            Q_TRY(FetchSegmentChunk(r, in));
            continue;
        }
        if (*r.cursor != 0xFF) break;
        ++r.cursor;
        if (AtEnd(r)) {
            if (r.endOfData == kFlagEnd) break;
            Q_TRY(FetchSegmentChunk(r, in));
            if (AtEnd(r)) break;
        }
        const uint8_t x = *r.cursor;
        ++r.cursor;
        if (x == 0x00) {
            r.pendingFF = 1;  // the 0xFF was stuffed data
            break;
        }
    }
    r.bitBuffer = 0;
    r.bitsLeft = 8;
    return SkipBits(r, in, 32);
}

Status SkipBits(BitReader& r, InputBuffer& in, int n) {
    n = std::clamp(n, 0, 32);
    r.bitBuffer = n == 32 ? 0 : r.bitBuffer << n;
    return FillEntropyBits(r, in, n);
}

namespace {

// More than 32 is all that matters; the cap keeps the count from wrapping
// however long a damaged stream goes on.
constexpr uint32_t kZeroBitsCap = 64;

// Fills bitBuffer as FillEntropyBits does; *need keeps the bits it could
// not bring in, which stay zero.
Status FillFromBytes(BitReader& r, InputBuffer& in, int* missing) {
    int& need = *missing;
    if (r.markerSeen || (r.damage & kBadCode) != 0) return 0;
    // Before the first segment start the count is not set yet; a byte always
    // has one to eight bits left.
    if (r.bitsLeft == 0 || r.bitsLeft > 8) r.bitsLeft = 8;

    while (need > 0) {
        if (!r.pendingFF) {
            if (AtEnd(r)) {
                Q_TRY(RefillAtEnd(r, in));
                if (AtEnd(r)) return 0;  // segment ended: the rest stays zero
            }
            if (r.bitsLeft == 8) {
                bool usable = false;
                Q_TRY(ExamineFreshByte(r, in, &usable));
                if (!usable) return 0;
            }
        }
        const uint32_t byte = r.pendingFF ? 0xFF : *r.cursor;
        const int take = std::min<int>(r.bitsLeft, need);
        const uint32_t bits = (byte >> (r.bitsLeft - take)) & kMask[take];
        need -= take;
        r.bitBuffer |= bits << need;
        r.bitsLeft = uint16_t(r.bitsLeft - take);
        if (r.bitsLeft == 0) {
            r.bitsLeft = 8;
            if (r.pendingFF) {
                r.pendingFF = 0;  // the cursor already stands behind the 0x00
            } else {
                ++r.cursor;
            }
            Q_TRY(RefillAtEnd(r, in));
        }
    }
    return 0;
}

}  // namespace

Status FillEntropyBits(BitReader& r, InputBuffer& in, int need) {
    const Status status = FillFromBytes(r, in, &need);
    if (need > 0) {
        const uint32_t zeros = std::min<uint32_t>(uint32_t(r.zeroBits) + uint32_t(need), kZeroBitsCap);
        r.zeroBits = uint16_t(zeros);
        // Past a code no table holds the data has not run out: it was cut off.
        if (zeros > 32 && (r.damage & kBadCode) == 0) r.damage |= kRanOut;
    }
    return status;
}

Status ReadEntropyByte(BitReader& r, InputBuffer& in, uint16_t* out) {
    *out = 0;
    if (AtEnd(r)) {
        Q_TRY(RefillAtEnd(r, in));
        if (AtEnd(r)) return 0;
    }
    *out = *r.cursor;
    ++r.cursor;
    if (AtEnd(r)) {
        if (r.endOfData == kFlagEnd) return 0;
        Q_TRY(RefillAtEnd(r, in));
        if (AtEnd(r)) return 0;
    }
    r.bitsLeft = 8;
    return 0;
}

Status FindMarker(BitReader& r, InputBuffer& in, uint8_t* code, uint32_t* skipped) {
    *code = 0;
    // Data bytes the reader stopped in front of were never decoded. Those
    // behind a code no table holds were, as far as the stream goes, part
    // of the data, and are not counted.
    uint32_t stepped = 0;
    if (r.markerSeen) {
        if (*r.cursor != 0xFF) {
            *code = *r.cursor;
            return 0;
        }
        r.markerSeen = 0;  // a fill byte: the marker proper starts here
    } else if (!r.pendingFF && r.bitsLeft < 8 && !AtEnd(r)) {
        ++r.cursor;  // a byte partly taken into bitBuffer, already examined
    }
    r.pendingFF = 0;
    for (;;) {
        Q_TRY(RefillAtEnd(r, in));
        if (AtEnd(r)) break;
        if (*r.cursor != 0xFF) {
            ++r.cursor;
            ++stepped;
            continue;
        }
        ++r.cursor;
        Q_TRY(RefillAtEnd(r, in));
        if (AtEnd(r)) break;
        const uint8_t x = *r.cursor;
        if (x == 0xFF) continue;  // fill bytes before a marker
        if (x == 0x00) {
            ++r.cursor;
            stepped += 2;
            continue;
        }
        r.markerSeen = 1;
        *code = x;
        break;
    }
    if ((r.damage & kBadCode) == 0) *skipped += stepped;
    r.bitsLeft = 8;
    return 0;
}

Status StepOverMarker(BitReader& r, InputBuffer& in) {
    uint16_t code = 0;
    Q_TRY(ReadEntropyByte(r, in, &code));
    r.markerSeen = 0;
    r.pendingFF = 0;
    r.bitsLeft = 8;
    return 0;
}

Status RestartAfterMarker(BitReader& r, InputBuffer& in) {
    uint16_t code = 0;
    Q_TRY(ReadEntropyByte(r, in, &code));
    return ResyncEntropyInput(r, in);
}

void KeepMarker(BitReader& r) {
    // Whatever bitBuffer still holds belongs to the interval before.
    r.bitBuffer = 0;
    r.zeroBits = 32;
}

Status DecodeMcuBlocks(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                       const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                       uint32_t* dcOnly) {
    return DecodeMcuBody(bits, in, blocks, count, component, predictors, tables, dcOnly);
}

namespace {

// Fills a one-step table: for each value of the next peekBits bits, 0 where
// no code starts there or the code and its magnitude bits reach beyond the
// peek (the full path decodes those), else make(symbol, bits, value), with
// the bits code and magnitude take and the magnitude received and extended.
// A code found with zeros behind the peek is the one the stream holds
// whenever it fits the peek, since no other code starts with its bits.
template <typename Make>
void BuildOneStepTable(const uint16_t* table, int lookahead, int peekBits, int32_t* fast, Make make) {
    for (uint32_t peek = 0; peek < (1u << peekBits); ++peek) {
        fast[peek] = 0;
        const uint32_t bits = peek << (32 - peekBits);
        const uint16_t entry = LookUp(table, bits, lookahead);
        const int length = CodeLength(entry);
        const int symbol = entry & 0xFF;
        const int s = symbol & 15;
        if (entry == 0 || length + s > peekBits) continue;
        fast[peek] = make(symbol, length + s, s == 0 ? int16_t(0) : ExtendSign(bits, length, s));
    }
}

}  // namespace

void BuildFastAcTable(const uint16_t* acTable, int32_t* fast) {
    BuildOneStepTable(acTable, kAcLookahead, kFastAcBits, fast, [](int rs, int bits, int16_t value) {
        // End of block: a run that carries the index past 63 ends it.
        if (rs == 0) return int32_t(0xFFu << 8 | uint32_t(bits));
        // Sixteen zeros: a run of fifteen and a zero coefficient.
        if ((rs & 15) == 0) return int32_t(15u << 8 | uint32_t(bits));
        return int32_t(uint32_t(uint16_t(value)) << 16 | uint32_t(rs >> 4) << 8 | uint32_t(bits));
    });
}

void BuildFastDcTable(const uint16_t* dcTable, int32_t* fast) {
    BuildOneStepTable(dcTable, kDcLookahead, kFastDcBits, fast, [](int, int bits, int16_t diff) {
        return int32_t(uint32_t(uint16_t(diff)) << 16 | uint32_t(bits));
    });
}

}  // namespace q32vex
