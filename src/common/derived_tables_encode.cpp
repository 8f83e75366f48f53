// The compression forms of the derived tables: quantisation multipliers for
// the forward DCT and the Huffman code and length of every symbol.
#include <cstdint>

#include "common/derived_table_builders.h"
#include "common/derived_tables.h"
#include "common/huffman_table_checks.h"
#include "platform/allocator.h"

namespace q32vex {

// Power-of-two headroom the forward DCT leaves at each frequency.
constexpr uint8_t kDctExponent[8] = {0, 2, 1, 2, 0, 2, 1, 2};

namespace {

// Forward multipliers: the Q15 product of the DCT output with m gives F/q,
// and t = 16384 / m marks the outputs that round to zero anyway.
void DeriveEncQuant(const uint8_t* source, EncQuantTable* table) {
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
            table->entry[k] = (m << 16) | t;
        }
    }
    SetQuantMultipliers(*table);
}

Status BuildEncQuant(const uint8_t* source, void** out) {
    auto* table = static_cast<EncQuantTable*>(LibAlloc(sizeof(EncQuantTable)));
    if (table == nullptr) return VEX_ERR_NO_MEMORY;
    DeriveEncQuant(source, table);
    *out = table;
    return 0;
}

// A code and a length per symbol, in a HuffEncDc or HuffEncAc. DC symbols
// were checked to be categories, so they index the DC table.
template <typename Table, int16_t kKind>
Status BuildEncHuffman(const uint8_t* source, void** out) {
    Q_TRY(CheckHuffmanSpec(kCompress, kKind, source));
    auto* table = static_cast<Table*>(LibAlloc(sizeof(Table)));
    if (table == nullptr) return VEX_ERR_NO_MEMORY;
    MakeHuffmanCodes(source, table->code, table->length);
    *out = table;
    return 0;
}

using EncodeBuilder = Status (*)(const uint8_t* source, void** out);
constexpr EncodeBuilder kEncodeBuilders[3] = {BuildEncQuant, BuildEncHuffman<HuffEncDc, kDcTable>,
                                              BuildEncHuffman<HuffEncAc, kAcTable>};

}  // namespace

Status BuildEncodeTable(int16_t kind, const uint8_t* source, void** out) {
    return kEncodeBuilders[kind](source, out);
}

void MakeHuffmanCodes(const uint8_t* definition, uint16_t* codes, uint8_t* lengths) {
    uint32_t code = 0;
    uint32_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < definition[length - 1]; ++i, ++k) {
            const uint8_t symbol = definition[16 + k];
            codes[symbol] = uint16_t(code);
            lengths[symbol] = uint8_t(length);
            ++code;
        }
        code <<= 1;
    }
}

}  // namespace q32vex
