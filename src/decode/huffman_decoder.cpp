// Bit reader and block decoder. The reader keeps the next 32 bits of the scan in
// one word, unstuffs 0xFF 0x00 pairs and turns everything after a marker (or after
// the last byte) into zero bits, so corrupt or short data never stops decoding.
// Plain stretches of a chunk are read four bytes at a time into a wider window
// whose position always maps back onto the byte-wise reader's exact state.
#include "decode/huffman_decoder.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode/input_reader.h"
#include "interface/global_state.h"
#include "interface/tables.h"

namespace q32vex {

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

constexpr int kFlagEnd = 1;

// Installs the chunk ReadInput just handed out.
void Install(uint16_t count) {
    BitReader& r = g.bitReader;
    r.cursor = r.chunkStart;
    r.chunkEnd = r.chunkStart == nullptr ? nullptr : r.chunkStart + count;
    r.bitsLeft = 8;
}

// Leaves the reader with no byte to read: cursor at chunkEnd, end flag set.
void InstallNothing() {
    BitReader& r = g.bitReader;
    r.cursor = r.chunkStart;
    r.chunkEnd = r.chunkStart;
    r.endOfData = kFlagEnd;
}

// Called whenever the cursor may stand at the end of its chunk: fetches chunks
// until one holds a byte or the segment has ended. Afterwards either the cursor
// addresses a byte or cursor == chunkEnd with endOfData set.
Status RefillAtEnd() {
    BitReader& r = g.bitReader;
    while (r.cursor == r.chunkEnd && r.endOfData != kFlagEnd) {
        uint16_t count = 0;
        r.endOfData = kInputNext;
        Q_TRY(ReadInput(&r.chunkStart, -1, &count, &r.endOfData));
        if (r.endOfData == kFlagEnd && count == 0) return 0;
        Install(count);
    }
    return 0;
}

// The segment-start flavour of a refill: a final chunk of fewer than four bytes
// is not taken, and the reader then delivers zero bits without reading any byte,
// neither of that chunk nor of an earlier buffer.
Status FetchSegmentChunk() {
    BitReader& r = g.bitReader;
    uint16_t count = 0;
    r.endOfData = kInputNext;
    Q_TRY(ReadInput(&r.chunkStart, -1, &count, &r.endOfData));
    if (r.endOfData == kFlagEnd && count < 4) {
        InstallNothing();
        return 0;
    }
    Install(count);
    return 0;
}

bool AtEnd() {
    const BitReader& r = g.bitReader;
    return r.cursor == r.chunkEnd;
}

// The current byte is a fresh one (no bit used, not a pending stuffed 0xFF):
// a 0xFF is either stuffing, which makes it the data byte 0xFF, or a marker,
// after which only zeros enter the bit window. *usable turns false when the
// fill has to stop here.
Status ExamineFreshByte(bool* usable) {
    BitReader& r = g.bitReader;
    *usable = false;
    if (*r.cursor != 0xFF) {
        *usable = true;
        return 0;
    }
    ++r.cursor;
    Q_TRY(RefillAtEnd());
    if (AtEnd()) return 0;  // a lone 0xFF as the very last byte
    if (*r.cursor != 0x00) {
        r.markerSeen = 1;  // cursor rests on the marker's code byte
        return 0;
    }
    ++r.cursor;
    Q_TRY(RefillAtEnd());
    r.pendingFF = 1;
    r.bitsLeft = 8;
    *usable = true;
    return 0;
}

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
inline int16_t ExtendSign(uint32_t bitBuffer, int length, int s) {
    const uint16_t bits = uint16_t((bitBuffer >> (32 - length - s)) & kMask[s]);
    if (bits & kHalf[s]) return int16_t(bits);
    return int16_t(uint16_t((kLow[s] | bits) + 1));
}

Status FillBits(int need);

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
// take on) is left to FillBits, byte by byte.
struct FastReader {
    uint64_t window;
    int avail;
    const uint8_t* next;   // the next byte to enter the window
    const uint8_t* limit;  // words are loaded while next + 4 < limit

    uint32_t Bits() const { return uint32_t(window >> 32); }

    void Load() {
        const BitReader& r = g.bitReader;
        window = uint64_t(r.bitBuffer) << 32;
        avail = 32;
        next = r.cursor;
        limit = nullptr;  // nothing loads unless the state is a plain one
        if (r.markerSeen != 0 || r.pendingFF != 0 || r.cursor == nullptr || r.cursor >= r.chunkEnd ||
            r.bitsLeft < 1 || r.bitsLeft > 8) {
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
        BitReader& r = g.bitReader;
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
        return SkipSlowly();
    }

    // The byte-wise path of Skip, out of line.
    __attribute__((noinline)) Status SkipSlowly() {
        // Every bit loaded is inside bitBuffer now: the byte-wise reader stands
        // at `next` with a fresh byte (or where it stood, in a state the fast
        // path did not take on) and fills the rest.
        BitReader& r = g.bitReader;
        r.bitBuffer = Bits();
        if (limit != nullptr) {
            r.cursor = const_cast<uint8_t*>(next);
            r.bitsLeft = 8;
        }
        Q_TRY(FillBits(32 - avail));
        Load();
        return 0;
    }
};

}  // namespace

Status StartEntropyInput() {
    return FetchSegmentChunk();
}

Status ResyncEntropyInput() {
    BitReader& r = g.bitReader;
    r.markerSeen = 0;
    r.pendingFF = 0;
    // Drop every 0xFF x pair at the cursor: restart markers and anything else
    // standing in front of the data. A refill is only sought while the segment
    // has not ended; after its end there is nothing left to skip.
    for (;;) {
        if (AtEnd()) {
            if (r.endOfData == kFlagEnd) break;
            Q_TRY(FetchSegmentChunk());
            continue;
        }
        if (*r.cursor != 0xFF) break;
        ++r.cursor;
        if (AtEnd()) {
            if (r.endOfData == kFlagEnd) break;
            Q_TRY(FetchSegmentChunk());
            if (AtEnd()) break;
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
    return SkipBits(32);
}

Status SkipBits(int n) {
    BitReader& r = g.bitReader;
    n = std::clamp(n, 0, 32);
    r.bitBuffer = n == 32 ? 0 : r.bitBuffer << n;
    return FillBits(n);
}

namespace {

// Brings `need` bits into the low end of the (already shifted) bitBuffer,
// byte by byte: stuffing, markers, chunk ends and the end of the segment.
Status FillBits(int need) {
    BitReader& r = g.bitReader;
    if (r.markerSeen) return 0;
    // Before the first segment start the count is not set yet; a byte always
    // has one to eight bits left.
    if (r.bitsLeft == 0 || r.bitsLeft > 8) r.bitsLeft = 8;

    while (need > 0) {
        if (!r.pendingFF) {
            if (AtEnd()) {
                Q_TRY(RefillAtEnd());
                if (AtEnd()) return 0;  // segment ended: the rest stays zero
            }
            if (r.bitsLeft == 8) {
                bool usable = false;
                Q_TRY(ExamineFreshByte(&usable));
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
            Q_TRY(RefillAtEnd());
        }
    }
    return 0;
}

}  // namespace

Status ReadEntropyByte(uint16_t* out) {
    BitReader& r = g.bitReader;
    *out = 0;
    if (AtEnd()) {
        Q_TRY(RefillAtEnd());
        if (AtEnd()) return 0;
    }
    *out = *r.cursor;
    ++r.cursor;
    if (AtEnd()) {
        if (r.endOfData == kFlagEnd) return 0;
        Q_TRY(RefillAtEnd());
        if (AtEnd()) return 0;
    }
    r.bitsLeft = 8;
    return 0;
}

namespace {

// Coefficient k of the coded order goes to coefs[k], or to its natural place
// when Natural (which is where the inverse DCT wants it).
template <bool Natural>
inline Status DecodeCoefficients(FastReader& reader, int16_t* coefs, int16_t* predictor,
                                 const uint16_t* dcTable, const uint16_t* acTable, const int32_t* fastAc) {
#if defined(__SSE2__)
    for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(coefs + 8 * i), _mm_setzero_si128());
#else
    std::memset(coefs, 0, 64 * sizeof(int16_t));
#endif

    // DC. A hostile table could carry any symbol byte; only its low four bits
    // are a category, which keeps every shift and table index in range.
    uint16_t entry = LookUp(dcTable, reader.Bits(), kDcLookahead);
    int length = CodeLength(entry);
    int s = entry & 15;
    const int16_t diff = s == 0 ? 0 : ExtendSign(reader.Bits(), length, s);
    *predictor = int16_t(uint16_t(*predictor + diff));
    coefs[0] = *predictor;
    Q_TRY(reader.Skip(length + s));

    // AC. A run that would carry the index past 63 (corrupt data) ends the
    // block: its coefficient has no place and is dropped.
    int k = 1;
    while (k < 64) {
        if (Natural) {
            const int32_t fast = fastAc[uint32_t(reader.window >> (64 - kAcLookahead))];
            if ((fast & 0xFF) != 0) {
                Q_TRY(reader.Skip(fast & 0xFF));
                k += (fast >> 8) & 0xFF;
                if (k > 63) break;
                coefs[kZigzag[k]] = int16_t(fast >> 16);
                ++k;
                continue;
            }
        }
        entry = LookUp(acTable, reader.Bits(), kAcLookahead);
        length = CodeLength(entry);
        const int rs = entry & 0xFF;
        if (rs == 0) {
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
        ++k;
    }
    return 0;
}

}  // namespace

Status DecodeBlock(int16_t* coefs, int16_t* predictor, const uint16_t* dcTable,
                   const uint16_t* acTable) {
    FastReader reader;
    reader.Load();
    Q_TRY(DecodeCoefficients<false>(reader, coefs, predictor, dcTable, acTable, nullptr));
    reader.Store();
    return 0;
}

Status DecodeMcuBlocks(int16_t (*blocks)[64], int count, const uint8_t* component, int16_t* predictors,
                       const McuHuffTables* tables) {
    FastReader reader;
    reader.Load();
    for (int b = 0; b < count; ++b) {
        const McuHuffTables& t = tables[component[b]];
        Q_TRY(DecodeCoefficients<true>(reader, blocks[b], &predictors[component[b]], t.dc, t.ac, t.fastAc));
    }
    reader.Store();
    return 0;
}

void BuildFastAcTable(const uint16_t* acTable, int32_t* fast) {
    static_assert(kFastAcEntries == 1 << kAcLookahead, "one entry per lookahead value");
    for (uint32_t peek = 0; peek < uint32_t(kFastAcEntries); ++peek) {
        fast[peek] = 0;
        const uint16_t entry = acTable[peek];
        if (entry & 0x8000) continue;  // a longer code: the second level decides
        const int length = entry >> 8;
        const int rs = entry & 0xFF;
        const int s = rs & 15;
        // Codes missing from the table and magnitudes that reach beyond the
        // lookahead take the full path.
        if (length == 0 || length + s > kAcLookahead) continue;
        if (rs == 0) {
            // End of block: a run that carries the index past 63 ends it.
            fast[peek] = int32_t(0xFFu << 8 | uint32_t(length));
        } else if (s == 0) {
            // Sixteen zeros: a run of fifteen and a zero coefficient.
            fast[peek] = int32_t(15u << 8 | uint32_t(length));
        } else {
            const int16_t value = ExtendSign(peek << (32 - kAcLookahead), length, s);
            fast[peek] = int32_t(uint32_t(uint16_t(value)) << 16 | uint32_t(rs >> 4) << 8 | uint32_t(length + s));
        }
    }
}

}  // namespace q32vex
