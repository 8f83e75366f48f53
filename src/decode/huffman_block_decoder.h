// The block decoder's inner loop and the fast bit reader it runs on,
// compiled once for every instruction set the library dispatches to (the
// baseline and one with the bit-manipulation instructions).
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__AVX2__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/derived_tables.h"
#include "common/tables.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"

namespace q32vex {

// Brings `need` bits into the low end of the (already shifted) bitBuffer,
// byte by byte: stuffing, markers, chunk ends and the end of the segment.
[[nodiscard]] Status FillEntropyBits(BitReader& bits, InputBuffer& in, int need);

namespace {

// Sign test of the magnitude bits: the top bit of an s-bit field.
constexpr uint16_t kHalf[17] = {0,     1,     2,     4,     8,     16,   32,
                                64,    128,   256,   512,   1024, 2048, 4096,
                                8192, 16384, 32768};
// Fill of a negative value: ones above the s magnitude bits.
constexpr uint16_t kLow[16] = {0xFFFF, 0xFFFE, 0xFFFC, 0xFFF8, 0xFFF0, 0xFFE0, 0xFFC0, 0xFF80,
                               0xFF00, 0xFE00, 0xFC00, 0xF800, 0xF000, 0xE000, 0xC000, 0x8000};
constexpr uint16_t kMask[17] = {0,     1,     3,     7,     15,    31,    63,    127,   255,
                                511,   1023,  2047,  4095,  8191,  16383, 32767, 65535};

constexpr bool TablesFollowTheirRule() {
    for (int s = 0; s < 17; ++s) {
        if (kMask[s] != (1u << s) - 1) return false;
        if (kHalf[s] != (s == 0 ? 0u : 1u << (s - 1))) return false;
        if (s < 16 && kLow[s] != uint16_t(0xFFFFu << s)) return false;
    }
    return true;
}
static_assert(TablesFollowTheirRule(), "sign tables must follow 2^(s-1), 0xFFFF << s, 2^s - 1");
static_assert(kLow[1] == 0xFFFE && kHalf[11] == 1024 && kMask[16] == 0xFFFF, "named entries");

// The fill rule and the subtraction ExtendSign uses give the same values.
constexpr bool FillIsSubtraction() {
    for (int s = 1; s < 16; ++s) {
        for (uint32_t bits = 0; bits < kHalf[s]; ++bits) {
            if (uint16_t((kLow[s] | bits) + 1) != uint16_t(bits - kMask[s])) return false;
        }
    }
    return true;
}
static_assert(FillIsSubtraction(), "a negative value is its bits minus 2^s - 1");

// Top-level symbol lookup: L bits index the first level; longer codes continue
// in a second-level block of 2^(16-L) entries. Looked at, not consumed.
inline uint16_t LookUp(const uint16_t* table, uint32_t bitBuffer, int lookahead) {
    const uint32_t peek = bitBuffer >> 16;
    uint16_t entry = table[peek >> (16 - lookahead)];
    if (entry & 0x8000) {
        const uint32_t tailBits = 16 - lookahead;
        entry = table[(1u << lookahead) + (uint32_t(entry & 0x7FFF) << tailBits) +
                      (peek & ((1u << tailBits) - 1))];
    }
    return entry;
}

// Code length of a table entry. Tables never hold more than 16, and keeping it
// there keeps length + s below 32 for the shifts below.
inline int CodeLength(uint16_t entry) {
    return std::min(entry >> 8, 16);
}

// Receive-and-extend of the s magnitude bits behind a code of `length` bits.
// A clear top bit means a negative value, (0xFFFF << s | bits) + 1, which is
// bits - (2^s - 1) in 16 bits; worked out without a branch, as the sign of
// real data is anyone's guess.
inline int16_t ExtendSign(uint32_t bitBuffer, int length, int s) {
    const uint32_t bits = (bitBuffer >> (32 - length - s)) & kMask[s];
    const uint32_t negative = uint32_t(0) - uint32_t((bits & kHalf[s]) == 0);
    return int16_t(uint16_t(bits - (kMask[s] & negative)));
}


inline uint32_t LoadBigEndian32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

// True when one of the four bytes of v is 0xFF.
inline bool HasFF(uint32_t v) {
    const uint32_t x = ~v;
    return ((x - 0x01010101u) & ~x & 0x80808080u) != 0;
}

// The bit reader in locals for the codes of one block: `window` holds the
// next `avail` bits of the scan (32 <= avail <= 63 between codes), its top
// 32 bits being bitBuffer. Whole words of plain data (no 0xFF, the chunk's
// last byte not reached) are loaded four bytes at a time; at any point the
// byte-wise reader's state follows from where the window stands, so Store
// hands it back exactly as SkipBits would have left it. Anything else (a
// stuffed or marker byte, the chunk's end, a state the fast path does not
// take on) is left to FillEntropyBits, byte by byte. The readers it stands
// for are only looked at when it loads, stores or takes that slower path.
struct FastReader {
    uint64_t window;
    int avail;
    const uint8_t* next;   // the next byte to enter the window
    const uint8_t* limit;  // words are loaded while next + 4 < limit
    BitReader* state;
    InputBuffer* in;

    uint32_t Bits() const { return uint32_t(window >> 32); }

    void Load(BitReader& bits, InputBuffer& input) {
        state = &bits;
        in = &input;
        Reload();
    }

    // Takes the state over from the byte-wise reader again.
    void Reload() {
        const BitReader& r = *state;
        window = uint64_t(r.bitBuffer) << 32;
        avail = 32;
        next = r.cursor;
        limit = nullptr;  // nothing loads unless the state is a plain one
        if (r.markerSeen != 0 || r.pendingFF != 0 || (r.damage & kBadCode) != 0 || r.cursor == nullptr ||
            r.cursor >= r.chunkEnd || r.bitsLeft < 1 || r.bitsLeft > 8) {
            return;
        }
        if (r.bitsLeft < 8) {
            // The rest of a byte already examined (so not 0xFF) and partly
            // taken. Using it up moves the byte-wise reader to the next byte,
            // and at the chunk's end that fetches a chunk: not here, then.
            if (r.cursor + 1 == r.chunkEnd) return;
            window |= uint64_t(*r.cursor & ((1u << r.bitsLeft) - 1)) << (32 - r.bitsLeft);
            avail += r.bitsLeft;
            ++next;
        }
        limit = r.chunkEnd;
    }

    void Store() const {
        BitReader& r = *state;
        r.bitBuffer = Bits();
        if (limit == nullptr) return;  // the state was left as it was
        const int extra = avail - 32;  // bits in the window beyond bitBuffer
        const int bytes = (extra + 7) >> 3;
        r.cursor = const_cast<uint8_t*>(next - bytes);
        r.bitsLeft = uint16_t(extra == 0 ? 8 : extra - 8 * (bytes - 1));
    }

    // n = 0..31.
    Status Skip(int n) {
        window <<= n;
        avail -= n;
        if (__builtin_expect(avail >= 32, 1)) return 0;
        if (__builtin_expect(next + 4 < limit, 1)) {
            const uint32_t word = LoadBigEndian32(next);
            if (__builtin_expect(!HasFF(word), 1)) {
                window |= uint64_t(word) << (32 - avail);
                next += 4;
                avail += 32;
                return 0;
            }
        }
        // Through a copy, so that this reader's own address never escapes
        // and its fields can live in registers.
        FastReader copy = *this;
        const Status status = copy.SkipSlowly();
        *this = copy;
        return status;
    }

    // A code no table holds, met on the rare paths of the block decoder.
    // Read as the legacy library reads it, it is a symbol of no bits and
    // decoding goes on; a reader of damaged streams ends the interval's data
    // here instead, so only zero bits follow until a restart marker.
    void BadCode() {
        FastReader copy = *this;
        copy.EndDataAtBadCode();
        *this = copy;
    }

    __attribute__((noinline)) void EndDataAtBadCode() {
        if (state->stopAtBadCode == 0) return;
        Store();
        state->damage |= kBadCode;
        state->bitBuffer = 0;
        Reload();
    }

    // The byte-wise path of Skip, out of line.
    __attribute__((noinline)) Status SkipSlowly() {
        // Every bit loaded is inside bitBuffer now: the byte-wise reader stands
        // at `next` with a fresh byte (or where it stood, in a state the fast
        // path did not take on) and fills the rest.
        BitReader& r = *state;
        r.bitBuffer = Bits();
        if (limit != nullptr) {
            r.cursor = const_cast<uint8_t*>(next);
            r.bitsLeft = 8;
        }
        Q_TRY(FillEntropyBits(r, *in, 32 - avail));
        Reload();
        return 0;
    }
};


// Coefficient k of the coded order goes to its natural place when Natural
// (which is where the inverse DCT wants it), else to coefs[k] without the
// fastAc step: that form is the tests' reference decoder. *acStored tells
// whether any AC coefficient was stored (stored values are never zero).
template <bool Natural>
inline Status DecodeCoefficients(FastReader& reader, int16_t* coefs, int16_t* predictor,
                                 const uint16_t* dcTable, const uint16_t* acTable, const int32_t* fastAc,
                                 const int32_t* fastDc, bool* acStored) {
#if defined(__AVX2__)
    for (int i = 0; i < 4; ++i) _mm256_storeu_si256(reinterpret_cast<__m256i*>(coefs + 16 * i), _mm256_setzero_si256());
#elif defined(__SSE2__)
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(coefs + 8 * i), _mm_setzero_si128());
#else
    std::memset(coefs, 0, 64 * sizeof(int16_t));
#endif

    // DC: in one step where its code and magnitude fit the peek. A hostile
    // table could carry any symbol byte; only its low four bits are a
    // category, which keeps every shift and table index in range.
    uint16_t entry = 0;
    int length = 0, s = 0;
    int16_t diff = 0;
    int taken = 0;  // bits of the code and its magnitude
    const int32_t fastDcEntry = Natural ? fastDc[uint32_t(reader.window >> (64 - kFastDcBits))] : 0;
    if (fastDcEntry != 0) {
        diff = int16_t(uint16_t(uint32_t(fastDcEntry) >> 16));
        taken = fastDcEntry & 63;
    } else {
        entry = LookUp(dcTable, reader.Bits(), kDcLookahead);
        if (__builtin_expect(entry == 0, 0)) reader.BadCode();  // every code has a length
        length = CodeLength(entry);
        s = entry & 15;
        diff = s == 0 ? 0 : ExtendSign(reader.Bits(), length, s);
        taken = length + s;
    }
    *predictor = int16_t(uint16_t(*predictor + diff));
    coefs[0] = *predictor;
    Q_TRY(reader.Skip(taken));

    // AC. A run that would carry the index past 63 (corrupt data) ends the
    // block: its coefficient has no place and is dropped.
    int k = 1;
    bool stored = false;
    while (k < 64) {
        if (Natural) {
            const int32_t fast = fastAc[uint32_t(reader.window >> (64 - kFastAcBits))];
            if (__builtin_expect((fast & 0xFF) != 0, 1)) {
                // The bit count is at most kFastAcBits: masked to six bits
                // it is the same, and the shift takes it as it stands (x86
                // shifts mask their count so), a step less between one
                // lookup and the next.
                Q_TRY(reader.Skip(fast & 63));
                k += (fast >> 8) & 0xFF;
                if (__builtin_expect(k > 63, 0)) break;  // once a block, at its end
                coefs[kZigzag[k]] = int16_t(fast >> 16);
                stored = true;
                ++k;
                continue;
            }
        }
        entry = LookUp(acTable, reader.Bits(), kAcLookahead);
        length = CodeLength(entry);
        const int rs = entry & 0xFF;
        if (rs == 0) {
            // The one-step table holds the short ends of block; what comes
            // here is a long one or no code at all.
            if (__builtin_expect(entry == 0, 0)) reader.BadCode();
            Q_TRY(reader.Skip(length));
            break;
        }
        s = rs & 15;
        if (s == 0) {
            k += 16;
            Q_TRY(reader.Skip(length));
            continue;
        }
        const int16_t value = ExtendSign(reader.Bits(), length, s);
        Q_TRY(reader.Skip(length + s));
        k += rs >> 4;
        if (k > 63) break;
        coefs[Natural ? kZigzag[k] : k] = value;
        stored = true;
        ++k;
    }
    *acStored = stored;
    return 0;
}

// The blocks of one MCU with the reader loaded once; bit b of *dcOnly set
// when block b holds no AC coefficient.
inline Status DecodeMcuBody(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                            const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                            uint32_t* dcOnly) {
    FastReader reader;
    reader.Load(bits, in);
    uint32_t mask = 0;
    for (int b = 0; b < count; ++b) {
        const McuHuffTables& t = tables[component[b]];
        bool acStored = false;
        Q_TRY(DecodeCoefficients<true>(reader, blocks[b], &predictors[component[b]], t.dc, t.ac, t.fastAc,
                                       t.fastDc, &acStored));
        mask |= uint32_t(!acStored) << b;
    }
    reader.Store();
    *dcOnly = mask;
    return 0;
}

}  // namespace
}  // namespace q32vex
