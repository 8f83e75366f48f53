// The decompression forms of the derived tables: dequantisation values with
// their shifts for the inverse DCT, and the Huffman decoder's two-level
// lookup tables.
#include <cstdint>

#include "common/derived_table_builders.h"
#include "common/derived_tables.h"
#include "common/huffman_table_checks.h"
#include "platform/allocator.h"

namespace q32vex {
namespace {

// 7 - floor(log2 q), 7 for q = 0: brings q * 2^shift into 128..255.
constexpr uint8_t NormShiftOf(int q) {
    int shift = 7;
    for (int v = q; v > 1; v >>= 1) --shift;
    return uint8_t(shift);
}

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

Status BuildDecQuant(const uint8_t* source, void** out) {
    auto* table = static_cast<DecQuantTable*>(LibAlloc(sizeof(DecQuantTable)));
    if (table == nullptr) return VEX_ERR_NO_MEMORY;
    DeriveDecQuant(source, table);
    *out = table;
    return 0;
}

// The lookup table of a DC or AC table, with the kind's lookahead.
template <int16_t kKind, int kLookahead>
Status BuildDecHuffman(const uint8_t* source, void** out) {
    Q_TRY(CheckHuffmanSpec(kDecompress, kKind, source));
    uint16_t* table = nullptr;
    Q_TRY(BuildHuffDecTable(source, kLookahead, &table));
    *out = table;
    return 0;
}

using DecodeBuilder = Status (*)(const uint8_t* source, void** out);
constexpr DecodeBuilder kDecodeBuilders[3] = {BuildDecQuant, BuildDecHuffman<kDcTable, kDcLookahead>,
                                              BuildDecHuffman<kAcTable, kAcLookahead>};

}  // namespace

Status BuildDecodeTable(int16_t kind, const uint8_t* source, void** out) {
    return kDecodeBuilders[kind](source, out);
}

Status BuildHuffDecTable(const uint8_t* definition, int lookahead, uint16_t** out) {
    // The table comes from an untrusted stream: refuse what would alias codes
    // or index outside the blocks, with the table code of the class.
    const Status bad = lookahead == kDcLookahead ? VEX_ERR_DC_TABLE : VEX_ERR_AC_TABLE;
    if (lookahead < 1 || lookahead > 16 || HuffmanSymbolCount(definition) == 0 || !HuffmanCodesFit(definition)) return bad;
    const uint32_t symbols = HuffmanSymbolCount(definition);
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
        for (int i = 0; i < definition[length - 1]; ++i, ++k) {
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
        const uint16_t entry = uint16_t((length << 8) | definition[16 + s]);
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

}  // namespace q32vex
