// Derived tables and their cache. Each kind keeps up to four distinct source
// tables with their compression and decompression forms, so equal tables are
// derived once and survive from one sequence (and direction) to the next.
#include "common/derived_tables.h"

#include <cstring>

#include "common/tables.h"
#include "platform/allocator.h"

namespace q32vex {

// Scale factors of the scaled 8-point DCT divided by sqrt(2): 1/sqrt(2) for
// frequency 0, cos(k*pi/16) otherwise. These stored values, not the exact
// cosines, define the multipliers, so they are written out digit for digit.
constexpr double kDctScale[8] = {
    0.70710679065997, 0.98078528105666, 0.92387953507478, 0.83146961788496,
    0.70710679065997, 0.55557024694407, 0.38268345093153, 0.19509034501116,
};

// Power-of-two headroom the forward DCT leaves at each frequency.
constexpr uint8_t kDctExponent[8] = {0, 2, 1, 2, 0, 2, 1, 2};

namespace {

// 7 - floor(log2 q), 7 for q = 0: brings q * 2^shift into 128..255.
constexpr uint8_t NormShiftOf(int q) {
    int shift = 7;
    for (int v = q; v > 1; v >>= 1) --shift;
    return uint8_t(shift);
}

constexpr uint16_t kSourceSize[3] = {kQuantTableBytes, kDcSpecBytes, kAcSpecBytes};
constexpr Status kTableError[3] = {VEX_ERR_Q_TABLE, VEX_ERR_DC_TABLE, VEX_ERR_AC_TABLE};
constexpr int kMaxSlots = 4;

}  // namespace

#define Q_SHIFT4(i) NormShiftOf(i), NormShiftOf(i + 1), NormShiftOf(i + 2), NormShiftOf(i + 3)
#define Q_SHIFT16(i) Q_SHIFT4(i), Q_SHIFT4(i + 4), Q_SHIFT4(i + 8), Q_SHIFT4(i + 12)
#define Q_SHIFT64(i) Q_SHIFT16(i), Q_SHIFT16(i + 16), Q_SHIFT16(i + 32), Q_SHIFT16(i + 48)
constexpr uint8_t kNormShift[256] = {Q_SHIFT64(0), Q_SHIFT64(64), Q_SHIFT64(128), Q_SHIFT64(192)};
#undef Q_SHIFT64
#undef Q_SHIFT16
#undef Q_SHIFT4

static_assert(kNormShift[0] == 7 && kNormShift[1] == 7 && kNormShift[2] == 6 && kNormShift[3] == 6);
static_assert(kNormShift[4] == 5 && kNormShift[15] == 4 && kNormShift[16] == 3);
static_assert(kNormShift[127] == 1 && kNormShift[128] == 0 && kNormShift[255] == 0);

namespace {

// Rounds a double to double precision through memory. The 32-bit x87 build
// keeps intermediates in 80-bit registers; storing each step makes the
// multipliers identical on every target.
inline double Rounded(double x) {
    volatile double stored = x;
    return stored;
}

// 2^e for small signed e, exactly.
double PowerOfTwo(int e) {
    double p = 1.0;
    for (; e > 0; --e) p *= 2.0;
    for (; e < 0; ++e) p *= 0.5;
    return p;
}

void Natural(const uint8_t* zigzagSource, uint8_t* natural) {
    for (int k = 0; k < 64; ++k) natural[kZigzag[k]] = zigzagSource[k];
}

// Forward multipliers: the Q15 product of the DCT output with m gives F/q,
// and t = 16384 / m marks the outputs that round to zero anyway.
void DeriveEncQuant(const uint8_t* source, uint32_t* table) {
    uint8_t q[64];
    Natural(source, q);
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            const int k = 8 * u + v;
            const double p = PowerOfTwo(kDctExponent[u] + kDctExponent[v] - 4);
            const double scale = Rounded(kDctScale[u] * kDctScale[v]);
            const double x = Rounded(p * scale * 32768.0);
            double y = Rounded(Rounded(x / q[k]) + 0.5);
            if (y > 32767.0) y = 32767.0;
            const uint32_t m = uint32_t(y);
            const uint32_t t = m != 0 ? 16384u / m : 0u;
            table[k] = (m << 16) | t;
        }
    }
}

// Dequantisation value: q x scale normalised to eight significant bits, with
// the shift the inverse DCT applies first, so dequantising stays in 16 bits.
void DeriveDecQuant(const uint8_t* source, DecQuantTable* table) {
    uint8_t q[64];
    Natural(source, q);
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            const int k = 8 * u + v;
            const int b = kNormShift[q[k]];
            const double p = PowerOfTwo(b);
            const double scale = Rounded(kDctScale[v] * kDctScale[u]);
            const double scaled = Rounded(Rounded(p * scale) * q[k]);
            double x = Rounded(scaled * 128.0 + 0.5);
            if (x > 32767.0) x = 32767.0;
            table->value[k] = uint16_t(x);
            table->shift[k] = uint16_t(11 - b);
        }
    }
}

uint32_t HuffmanSymbolCount(const uint8_t* spec) {
    uint32_t n = 0;
    for (int i = 0; i < 16; ++i) n += spec[i];
    return n;
}

// Decoding refuses a table whose BITS counts over-subscribe the code space:
// canonical codes that overflow their length would alias shorter codes and
// index past the lookup table's blocks, and such a table describes no stream
// a conforming encoder writes, so refusing it is the safe reading.
bool HuffmanCodesFit(const uint8_t* spec) {
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code += spec[length - 1];
        if (code > (1u << length)) return false;
        code <<= 1;
    }
    return true;
}

// A DC symbol is a difference category; the code table has one entry for
// each of categories 0..12 (ITU-T T.81 Table F.1), and a symbol past them
// would name an entry that does not exist.
constexpr int kDcCategories = 13;

// What both directions ask of a Huffman table definition: at least one code,
// and DC symbols that are categories. Encoding takes an over-subscribed
// table as it stands: its codes are built as ITU-T T.81 Annex C
// builds them and each is cut to its length when written, so the bytes follow
// from the table alone.
Status CheckHuffmanSpec(uint16_t direction, int16_t kind, const uint8_t* spec) {
    const Status bad = kTableError[kind];
    const uint32_t n = HuffmanSymbolCount(spec);
    if (n == 0) return bad;
    if (direction == kDecompress && !HuffmanCodesFit(spec)) return bad;
    if (kind == kDcTable) {
        for (uint32_t i = 0; i < n; ++i) {
            if (spec[16 + i] >= kDcCategories) return bad;
        }
    }
    return 0;
}

// The three builders, indexed by kind. Each writes the derived table for
// one direction through `out`; an unknown direction builds nothing.
using TableBuilder = Status (*)(uint16_t direction, const uint8_t* source, void** out);

Status BuildQuantTables(uint16_t direction, const uint8_t* source, void** out) {
    if (direction == kCompress) {
        auto* table = static_cast<uint32_t*>(LibAlloc(64 * sizeof(uint32_t)));
        if (table == nullptr) return VEX_ERR_NO_MEMORY;
        DeriveEncQuant(source, table);
        *out = table;
    } else if (direction == kDecompress) {
        auto* table = static_cast<DecQuantTable*>(LibAlloc(sizeof(DecQuantTable)));
        if (table == nullptr) return VEX_ERR_NO_MEMORY;
        DeriveDecQuant(source, table);
        *out = table;
    }
    return 0;
}

Status BuildDcHuffTable(uint16_t direction, const uint8_t* source, void** out) {
    Q_TRY(CheckHuffmanSpec(direction, kDcTable, source));
    if (direction == kCompress) {
        auto* table = static_cast<HuffEncDc*>(LibAlloc(sizeof(HuffEncDc)));
        if (table == nullptr) return VEX_ERR_NO_MEMORY;
        // The symbols were checked to be categories, so they index the table.
        MakeHuffmanCodes(source, table->code, table->length);
        *out = table;
    } else if (direction == kDecompress) {
        uint16_t* table = nullptr;
        Q_TRY(BuildHuffDecTable(source, kDcLookahead, &table));
        *out = table;
    }
    return 0;
}

Status BuildAcHuffTable(uint16_t direction, const uint8_t* source, void** out) {
    Q_TRY(CheckHuffmanSpec(direction, kAcTable, source));
    if (direction == kCompress) {
        auto* table = static_cast<HuffEncAc*>(LibAlloc(sizeof(HuffEncAc)));
        if (table == nullptr) return VEX_ERR_NO_MEMORY;
        MakeHuffmanCodes(source, table->code, table->length);
        *out = table;
    } else if (direction == kDecompress) {
        uint16_t* table = nullptr;
        Q_TRY(BuildHuffDecTable(source, kAcLookahead, &table));
        *out = table;
    }
    return 0;
}

constexpr TableBuilder kBuilders[3] = {BuildQuantTables, BuildDcHuffTable, BuildAcHuffTable};

void FreeSlot(uint8_t* source, void* const derived[2]) {
    LibFree(source);
    LibFree(derived[0]);
    LibFree(derived[1]);
}

}  // namespace

Status BuildDerivedTables(DerivedTableCache& caches, uint16_t direction, int16_t kind,
                          const uint8_t* const tables[4], uint16_t componentCount) {
    if (kind < kQuantTable || kind > kAcTable) return VEX_ERR_TABLE_KIND;
    // The cache has one column per direction; there is nothing to build for
    // any other value.
    if (direction != kCompress && direction != kDecompress) return VEX_ERR_TABLE_KIND;
    TableCache& cache = caches.kinds[kind];
    cache.sourceSize = kSourceSize[kind];
    const int d = direction == kCompress ? 0 : 1;
    const int n = componentCount <= kMaxSlots ? componentCount : kMaxSlots;
    const int cached = cache.slotCount <= kMaxSlots ? cache.slotCount : kMaxSlots;

    // The sequence's tables, then the cached copies: numbering the joint list
    // finds for every new table the first equal one, cached or not.
    const uint8_t* list[2 * kMaxSlots] = {};
    uint16_t number[2 * kMaxSlots] = {};
    for (int i = 0; i < n; ++i) {
        // The opens check the tables of the colour space's components; a
        // sampling with more components than that (bare four-component data
        // described as colour space 0) reaches here with no table for the
        // extra one. Refused with the kind's table code rather than read
        // through a null pointer.
        if (tables[i] == nullptr) return kTableError[kind];
        list[i] = tables[i];
    }
    for (int j = 0; j < cached; ++j) list[n + j] = cache.sourceCopy[j];
    uint16_t count = uint16_t(n + cached);
    Q_TRY(NumberTables(&count, kind, list, number));
    // Every new Huffman table is checked before the cache changes, so that a
    // bad table leaves the cache as it was.
    if (kind != kQuantTable) {
        for (int i = 0; i < n; ++i) {
            if (number[i] == i) Q_TRY(CheckHuffmanSpec(direction, kind, tables[i]));
        }
    }

    uint8_t* oldSource[kMaxSlots] = {};
    void* oldDerived[kMaxSlots][2] = {};
    for (int j = 0; j < cached; ++j) {
        oldSource[j] = cache.sourceCopy[j];
        oldDerived[j][0] = cache.derived[j][0];
        oldDerived[j][1] = cache.derived[j][1];
    }
    std::memset(cache.sourceCopy, 0, sizeof(cache.sourceCopy));
    std::memset(cache.derived, 0, sizeof(cache.derived));
    cache.slotCount = 0;

    // Cached tables that no component of this sequence uses are dropped.
    for (int j = 0; j < cached; ++j) {
        if (number[n + j] >= n) {
            FreeSlot(oldSource[j], oldDerived[j]);
            oldSource[j] = nullptr;
        }
    }

    // On a failure the slots completed so far stay cached; cached slots that
    // a later component would have taken over are released.
    auto releaseUntaken = [&]() {
        for (int j = 0; j < cached; ++j) {
            if (oldSource[j] != nullptr) FreeSlot(oldSource[j], oldDerived[j]);
        }
    };

    uint16_t slotOf[kMaxSlots] = {};
    uint16_t newCount = 0;
    for (int i = 0; i < n; ++i) {
        if (number[i] == i) {
            int taken = -1;
            for (int j = 0; j < cached; ++j) {
                if (oldSource[j] != nullptr && number[n + j] == i) {
                    taken = j;
                    break;
                }
            }
            if (taken >= 0) {
                cache.sourceCopy[newCount] = oldSource[taken];
                cache.derived[newCount][0] = oldDerived[taken][0];
                cache.derived[newCount][1] = oldDerived[taken][1];
                oldSource[taken] = nullptr;
                if (cache.derived[newCount][d] == nullptr) {
                    void* built = nullptr;
                    const Status status =
                        kBuilders[kind](direction, cache.sourceCopy[newCount], &built);
                    if (status != 0) {
                        FreeSlot(cache.sourceCopy[newCount], cache.derived[newCount]);
                        cache.sourceCopy[newCount] = nullptr;
                        cache.derived[newCount][0] = cache.derived[newCount][1] = nullptr;
                        releaseUntaken();
                        return status;
                    }
                    cache.derived[newCount][d] = built;
                }
            } else {
                auto* copy = static_cast<uint8_t*>(LibAlloc(cache.sourceSize));
                if (copy == nullptr) {
                    releaseUntaken();
                    return VEX_ERR_NO_MEMORY;
                }
                // Only the bytes that take part are copied: a host table may
                // be shorter than the slot size.
                uint16_t size = 0;
                Status status = GetTableSize(kind, tables[i], &size);
                if (status == 0) {
                    std::memcpy(copy, tables[i], size);
                    void* built = nullptr;
                    status = kBuilders[kind](direction, copy, &built);
                    cache.derived[newCount][d] = built;
                }
                if (status != 0) {
                    LibFree(copy);
                    releaseUntaken();
                    return status;
                }
                cache.sourceCopy[newCount] = copy;
            }
            slotOf[i] = newCount;
            ++newCount;
            cache.slotCount = newCount;
        }
        cache.componentSlot[i] = slotOf[number[i]];
    }
    cache.slotCount = newCount;
    return 0;
}

void MakeHuffmanCodes(const uint8_t* spec, uint16_t* codes, uint8_t* lengths) {
    uint32_t code = 0;
    uint32_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < spec[length - 1]; ++i, ++k) {
            const uint8_t symbol = spec[16 + k];
            codes[symbol] = uint16_t(code);
            lengths[symbol] = uint8_t(length);
            ++code;
        }
        code <<= 1;
    }
}

Status BuildHuffDecTable(const uint8_t* spec, int lookahead, uint16_t** out) {
    // The table comes from an untrusted stream: refuse what would alias codes
    // or index outside the blocks, with the table code of the class.
    const Status bad = lookahead == kDcLookahead ? VEX_ERR_DC_TABLE : VEX_ERR_AC_TABLE;
    if (lookahead < 1 || lookahead > 16 || HuffmanSymbolCount(spec) == 0 || !HuffmanCodesFit(spec)) return bad;
    const uint32_t symbols = HuffmanSymbolCount(spec);
    const uint32_t blockSize = 1u << (16 - lookahead);

    // Canonical codes in order, and the distinct lookahead prefixes of the
    // codes longer than the lookahead (at most one per long code).
    uint16_t codes[16 * 255];
    uint8_t lengths[16 * 255];
    uint16_t prefixes[16 * 255];
    uint32_t prefixCount = 0;
    uint32_t code = 0;
    uint32_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < spec[length - 1]; ++i, ++k) {
            codes[k] = uint16_t(code);
            lengths[k] = uint8_t(length);
            if (length > lookahead) {
                const uint16_t prefix = uint16_t(code >> (length - lookahead));
                bool seen = false;
                for (uint32_t p = 0; p < prefixCount; ++p) seen = seen || prefixes[p] == prefix;
                if (!seen) prefixes[prefixCount++] = prefix;
            }
            ++code;
        }
        code <<= 1;
    }

    const uint32_t entries = (1u << lookahead) + prefixCount * blockSize;
    auto* table = static_cast<uint16_t*>(LibAlloc(entries * 2));
    if (table == nullptr) return VEX_ERR_NO_MEMORY;
    for (uint32_t s = 0; s < symbols; ++s) {
        const int length = lengths[s];
        const uint16_t entry = uint16_t((length << 8) | spec[16 + s]);
        if (length <= lookahead) {
            const uint32_t first = uint32_t(codes[s]) << (lookahead - length);
            const uint32_t fill = 1u << (lookahead - length);
            for (uint32_t t = 0; t < fill; ++t) table[first + t] = entry;
        } else {
            const uint16_t prefix = uint16_t(codes[s] >> (length - lookahead));
            uint32_t j = 0;
            while (prefixes[j] != prefix) ++j;
            table[prefix] = uint16_t(0x8000 | j);
            const uint32_t rest = codes[s] & ((1u << (length - lookahead)) - 1);
            const uint32_t first = (1u << lookahead) + j * blockSize + (rest << (16 - length));
            const uint32_t fill = 1u << (16 - length);
            for (uint32_t t = 0; t < fill; ++t) table[first + t] = entry;
        }
    }
    *out = table;
    return 0;
}

void ReleaseDerivedTables(DerivedTableCache& caches) {
    for (TableCache& cache : caches.kinds) {
        const int cached = cache.slotCount <= kMaxSlots ? cache.slotCount : kMaxSlots;
        for (int j = 0; j < cached; ++j) {
            LibFree(cache.sourceCopy[j]);
            LibFree(cache.derived[j][0]);
            LibFree(cache.derived[j][1]);
            cache.sourceCopy[j] = nullptr;
            cache.derived[j][0] = cache.derived[j][1] = nullptr;
        }
        cache.slotCount = 0;
    }
}

namespace {

const void* Derived(const DerivedTableCache& caches, int kind, int component, int d) {
    const TableCache& cache = caches.kinds[kind];
    return cache.derived[cache.componentSlot[component]][d];
}

}  // namespace

const uint32_t* EncQuant(const DerivedTableCache& cache, int component) {
    return static_cast<const uint32_t*>(Derived(cache, kQuantTable, component, 0));
}
const HuffEncDc* EncDc(const DerivedTableCache& cache, int component) {
    return static_cast<const HuffEncDc*>(Derived(cache, kDcTable, component, 0));
}
const HuffEncAc* EncAc(const DerivedTableCache& cache, int component) {
    return static_cast<const HuffEncAc*>(Derived(cache, kAcTable, component, 0));
}
const DecQuantTable* DecQuant(const DerivedTableCache& cache, int component) {
    return static_cast<const DecQuantTable*>(Derived(cache, kQuantTable, component, 1));
}
const uint16_t* DecDc(const DerivedTableCache& cache, int component) {
    return static_cast<const uint16_t*>(Derived(cache, kDcTable, component, 1));
}
const uint16_t* DecAc(const DerivedTableCache& cache, int component) {
    return static_cast<const uint16_t*>(Derived(cache, kAcTable, component, 1));
}

}  // namespace q32vex
