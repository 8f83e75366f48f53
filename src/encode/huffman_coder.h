// The block coder's inner loop and the bit writer it runs on, compiled once
// for every instruction set the library dispatches to (the baseline and one
// with the bit-manipulation instructions). Codes gather in a register and
// leave as whole words where no 0xFF byte and no buffer end is near; between
// calls the state is the byte-wise writer's (completed bytes in the host's
// buffer, the unfinished one at bitCursor), so the bytes, the 0x00 stuffing
// and the host hand-overs are exactly those of writing byte by byte.
#pragma once
#include <cstdint>
#include <cstring>
#if defined(__AVX2__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"

namespace q32vex {

// Takes the rest of the host buffer as the bit writer's window, after
// committing `used` bytes of the previous window.
[[nodiscard]] Status RenewBitWindow(BitWriter& bits, StreamBuffer& out, uint16_t used, int16_t mode);

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

// Number of bits of a magnitude: 0 for 0, 1 for 1, 2 for 2..3, ...
inline int Category(uint32_t magnitude) {
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// Lowest set bit of a non-zero mask; 32-bit targets take the halves in turn
// instead of calling a library routine.
inline int LowestBit(uint64_t v) {
    if (sizeof(void*) >= 8) return __builtin_ctzll(v);
    const uint32_t low = uint32_t(v);
    return low != 0 ? __builtin_ctz(low) : 32 + __builtin_ctz(uint32_t(v >> 32));
}

// Bit k set where zigzag coefficient k is not zero.
inline uint64_t NonzeroMask(const int16_t* block) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= uint64_t(uint16_t(~_mm_movemask_epi8(zeros))) << (16 * i);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= uint64_t(block[k] != 0) << k;
    return mask;
#endif
}

// The accumulator is a machine word: 64 bits where registers have them, 32
// on 32-bit targets, where every 64-bit shift would take several instructions.
#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__)
using BitWord = uint64_t;
#else
using BitWord = uint32_t;
#endif
constexpr int kWordBits = 8 * int(sizeof(BitWord));

// True when one of the bytes of w is 0xFF (and so needs a stuffed zero).
constexpr bool HasFF(uint64_t w) {
    const uint64_t x = ~w;
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}
constexpr bool HasFF(uint32_t w) {
    const uint32_t x = ~w;
    return ((x - 0x01010101u) & ~x & 0x80808080u) != 0;
}
static_assert(HasFF(uint32_t(0x12FF3456u)) && !HasFF(uint32_t(0x7F7FFE00u)) &&
                  HasFF(uint64_t(0xFF00000000000000ull)) && !HasFF(uint64_t(0xFEFEFEFEFEFEFEFEull)),
              "0xFF bytes found wherever they stand, and only those");

inline uint64_t BigEndian(uint64_t w) { return __builtin_bswap64(w); }
inline uint32_t BigEndian(uint32_t w) { return __builtin_bswap32(w); }

// The bit writer's state in locals for a run of codes: kWordBits - free bits
// not yet written (right-aligned in acc, older bits above; bits above them
// are left over and never written) and the output cursor. It starts from, and
// ends in, the state the byte-wise writer keeps between calls: whole bytes
// in the host's buffer, the bits of the unfinished byte left-aligned in the
// byte at bitCursor, freeBits the bits still free there. Whenever a word of
// bits is complete it is stored at once if none of its bytes is 0xFF and the
// window's end is not near; otherwise it goes byte by byte. The writers it
// stands for are only looked at on those slower paths.
struct Writer {
    BitWord acc;
    int free;  // 1..kWordBits between codes
    uint8_t* cur;
    uint8_t* end;
    BitWriter* state;
    StreamBuffer* out;

    void Load(BitWriter& b, StreamBuffer& o) {
        state = &b;
        out = &o;
        cur = b.bitCursor;
        end = b.windowEnd;
        free = kWordBits - 8 + b.freeBits;
        acc = b.freeBits == 8 ? 0 : BitWord(*cur >> b.freeBits);
    }

    // One completed byte and, after an 0xFF, its stuffed zero; the window is
    // renewed as soon as its last byte is written.
    Status Emit(uint8_t byte) {
        BitWriter& b = *state;
        *cur++ = byte;
        if (cur == end) {
            b.bitCursor = cur;
            Q_TRY(RenewBitWindow(b, *out, uint16_t(b.windowEnd - b.windowStart), kStreamReserve));
            cur = b.bitCursor;
            end = b.windowEnd;
        }
        if (byte == 0xFF && b.stuffingEnabled != 0) {
            *cur++ = 0;
            if (cur == end) {
                b.bitCursor = cur;
                Q_TRY(RenewBitWindow(b, *out, uint16_t(b.windowEnd - b.windowStart), kStreamReserve));
                cur = b.bitCursor;
                end = b.windowEnd;
            }
        }
        return 0;
    }

    __attribute__((noinline)) Status EmitBytes(BitWord word) {
        for (int shift = kWordBits - 8; shift >= 0; shift -= 8) Q_TRY(Emit(uint8_t(word >> shift)));
        return 0;
    }

    // value < 2^n, n <= 28.
    Status Put(uint32_t value, int n) {
        free -= n;
        if (__builtin_expect(free > 0, 1)) {
            acc = (acc << n) | value;
            return 0;
        }
        // A word complete: the first n - over bits of value end it (n - over
        // is the free count before this code, 1..28, so no shift is by the
        // whole word).
        const int over = -free;
        const BitWord word = (acc << (n - over)) | (value >> over);
        acc = value;
        free = kWordBits - over;
        if (end - cur > int(sizeof(BitWord)) && !HasFF(word)) {
            const BitWord bigEndian = BigEndian(word);
            std::memcpy(cur, &bigEndian, sizeof(bigEndian));
            cur += sizeof(bigEndian);
            return 0;
        }
        // Through a copy, so that this writer's own address never escapes
        // and its fields can live in registers.
        Writer copy = *this;
        const Status status = copy.EmitBytes(word);
        *this = copy;
        return status;
    }

    // Writes the whole bytes and leaves the unfinished one where the byte-wise
    // writer keeps it.
    Status Settle() {
        int bits = kWordBits - free;
        while (bits >= 8) {
            bits -= 8;
            Q_TRY(Emit(uint8_t(acc >> bits)));
        }
        BitWriter& b = *state;
        b.bitCursor = cur;
        b.freeBits = uint16_t(8 - bits);
        *cur = uint8_t(acc << (8 - bits));
        return 0;
    }
};

// A code and its length as one word: (code << 5) | length, the code cut to
// its length (as PutBits would cut it).
inline uint32_t PackedCode(uint16_t code, uint8_t length) {
    return uint32_t(code & kBitMask[length > 16 ? 16 : length]) << 5 | length;
}

// Tables packed once per sequence.
struct PackedTables {
    const HuffPacked* packed;
    uint32_t Dc(int category) const { return packed->dc[category]; }
    uint32_t Ac(int symbol) const { return packed->ac[symbol]; }
};

// The AC coefficients at the set bits of `nonzero`, with ZRL for runs of
// sixteen zeros; sizeOf(k, &size, &extra) gives coefficient k's size
// (at most ten bits) and extra bits.
template <class Tables, class SizeOf>
inline Status CodeAcRuns(Writer& w, uint64_t nonzero, const Tables& tables, SizeOf sizeOf) {
    int last = 0;
    while (nonzero != 0) {
        const int k = LowestBit(nonzero);
        nonzero &= nonzero - 1;
        int run = k - last - 1;
        last = k;
        if (run > 15) {
            const uint32_t zrl = tables.Ac(kSymbolZrl);
            do {
                Q_TRY(w.Put(zrl >> 5, int(zrl & 31)));
                run -= 16;
            } while (run > 15);
        }
        int size;
        uint32_t extra;
        sizeOf(k, &size, &extra);
        const uint32_t code = tables.Ac(run * 16 + size);
        Q_TRY(w.Put((code >> 5) << size | extra, int(code & 31) + size));
    }
    return 0;
}

#if defined(__AVX2__)
struct BlockBits {
    alignas(32) uint16_t size[64];
    alignas(32) uint16_t extra[64];
};

// Sizes (capped at ten bits) and extra bits of 64 coefficients. The size is
// the float exponent of the magnitude; the extra bits are value - 1 for
// negative values, cut by a mask of every bit below the magnitude's top one.
inline void PrepareBlockBits(const int16_t* block, BlockBits* out) {
    const __m256i bias = _mm256_set1_epi16(126), cap = _mm256_set1_epi16(10);
    const __m256i tenBits = _mm256_set1_epi16(0x3FF);
    for (int i = 0; i < 4; ++i) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * i));
        const __m256i sign = _mm256_srai_epi16(v, 15);
        const __m256i magnitude = _mm256_abs_epi16(v);  // -32768 gives 0x8000, read unsigned
        const __m256i low = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(magnitude));
        const __m256i high = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(magnitude, 1));
        const __m256i lowExp = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(low)), 23);
        const __m256i highExp = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(high)), 23);
        __m256i size = _mm256_permute4x64_epi64(_mm256_packus_epi32(lowExp, highExp), 0xD8);
        size = _mm256_min_epu16(_mm256_subs_epu16(size, bias), cap);
        __m256i mask = _mm256_or_si256(magnitude, _mm256_srli_epi16(magnitude, 1));
        mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 2));
        mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 4));
        mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 8));
        const __m256i extra = _mm256_and_si256(_mm256_add_epi16(v, sign), _mm256_and_si256(mask, tenBits));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out->size + 16 * i), size);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out->extra + 16 * i), extra);
    }
}
#endif

// Codes one block into a loaded writer.
template <class Tables>
inline Status CodeBlock(Writer& w, const int16_t* block, int16_t* predictor, const Tables& tables) {
    const int16_t diff = int16_t(block[0] - *predictor);
    *predictor = block[0];
    // Negative values send their low bits as the one's complement of the
    // magnitude, i.e. value - 1. Code and extra bits go out as one field.
    const uint32_t dcMagnitude = uint32_t(diff < 0 ? -int32_t(diff) : int32_t(diff));
    int dcCategory = Category(dcMagnitude);
    if (dcCategory > 12) dcCategory = 12;
    const uint32_t dcExtra = uint32_t(diff < 0 ? diff - 1 : diff) & kBitMask[dcCategory];
    const uint32_t dcCode = tables.Dc(dcCategory);
    Q_TRY(w.Put((dcCode >> 5) << dcCategory | dcExtra, int(dcCode & 31) + dcCategory));

    // The non-zero AC coefficients, one bit per zigzag position; the zeros
    // between them only count as runs.
    uint64_t nonzero = NonzeroMask(block) & ~uint64_t(1);
    const bool lastIsZero = (nonzero >> 63) == 0;
#if defined(__AVX2__)
    // Sizes and extra bits of all 64 coefficients in vectors first: that
    // costs less than working them out one at a time in every block with an
    // AC coefficient, even one (best of 25 encodes of 4096 x 4096 pictures:
    // 2% to 4% faster than doing so from 16 coefficients on, 1% to 2% than
    // from 4 on).
    if (nonzero != 0) {
        BlockBits bits;
        PrepareBlockBits(block, &bits);
        Q_TRY(CodeAcRuns(w, nonzero, tables, [&bits](int k, int* size, uint32_t* extra) {
            *size = bits.size[k];
            *extra = bits.extra[k];
        }));
    } else
#endif
    {
        Q_TRY(CodeAcRuns(w, nonzero, tables, [block](int k, int* size, uint32_t* extra) {
            // value is not zero: sign is 0 or -1, magnitude at least 1.
            const int32_t value = block[k];
            const int32_t sign = value >> 31;
            const uint32_t magnitude = uint32_t((value ^ sign) - sign);
            const int bitCount = 32 - __builtin_clz(magnitude);
            *size = bitCount > 10 ? 10 : bitCount;
            *extra = uint32_t(value + sign) & ((1u << *size) - 1u);
        }));
    }
    if (lastIsZero) {
        const uint32_t eob = tables.Ac(kSymbolEob);
        Q_TRY(w.Put(eob >> 5, int(eob & 31)));
    }
    return 0;
}

// The blocks of one MCU with the writer loaded once.
inline Status CodeMcuBlocks(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                            const uint8_t* component, int16_t* predictors, const HuffPacked* tables) {
    Writer w;
    w.Load(bits, out);
    for (int b = 0; b < count; ++b) {
        const int c = component[b];
        Q_TRY(CodeBlock(w, blocks[b], &predictors[c], PackedTables{&tables[c]}));
    }
    return w.Settle();
}

}  // namespace
}  // namespace q32vex
