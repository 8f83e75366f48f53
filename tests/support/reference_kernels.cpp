// The tests' reference forms of the inverse DCT and of the block coder, built
// from the library's transform and block coder template (the block decoder's
// is in reference_decoder.cpp: the coder's and decoder's headers cannot share
// a translation unit).
#include "reference_kernels.h"

#include <gtest/gtest.h>

#include "common/tables.h"
#include "decode/inverse_dct.h"
#include "encode/huffman_coder.h"

namespace vextest {

using namespace q32vex;

namespace {

int16_t Wrap(int32_t v) { return int16_t(uint16_t(uint32_t(v))); }

// The code tables as BuildDerivedTables lays them out, packed on the fly.
struct SpecTables {
    const HuffEncDc* dc;
    const HuffEncAc* ac;
    uint32_t Dc(int category) const { return PackedCode(dc->code[category], dc->length[category]); }
    uint32_t Ac(int symbol) const { return PackedCode(ac->code[symbol], ac->length[symbol]); }
};

}  // namespace

void InverseDctBlock(int16_t* block, const DecQuantTable* table) {
    int16_t scratch[64];
    for (int k = 0; k < 64; ++k) scratch[kZigzag[k]] = block[k];
    for (int i = 0; i < 64; ++i) {
        if (scratch[i] == 0) continue;
        const int16_t shifted = Wrap(int32_t(scratch[i]) * (1 << (table->shift[i] & 15)));
        const int32_t product = int32_t(shifted) * int32_t(table->value[i]);
        scratch[i] = Wrap((product + 16384) >> 15);
    }
    TransformDequantized(scratch, block);
}

Status EncodeBlock(BitWriter& bits, StreamBuffer& out, const int16_t* block, int16_t* predictor, const HuffEncDc* dc,
                   const HuffEncAc* ac) {
    Writer w;
    w.Load(bits, out);
    Q_TRY(CodeBlock(w, block, predictor, SpecTables{dc, ac}));
    return w.Settle();
}

EncQuantTable LibraryEncQuantTable(const uint8_t* zigzag) {
    DerivedTableCache cache{};
    const uint8_t* sources[4] = {zigzag, nullptr, nullptr, nullptr};
    EXPECT_EQ(BuildDerivedTables(cache, kCompress, kQuantTable, sources, 1), 0);
    const EncQuantTable table = *EncQuant(cache, 0);
    ReleaseDerivedTables(cache);
    return table;
}

}  // namespace vextest
