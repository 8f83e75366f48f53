// Huffman table definition checks. Encoding and decoding ask different things
// of a table: a decoder must never alias codes or index past its lookup
// blocks, while an encoder writes whatever codes a table defines.
#include "common/huffman_table_checks.h"

#include "common/derived_tables.h"
#include "common/tables.h"

namespace q32vex {
namespace {

// A DC symbol is a difference category; the code table has one entry for
// each of categories 0..12 (ITU-T T.81 Table F.1), and a symbol past them
// would name an entry that does not exist.
constexpr int kDcCategories = 13;

}  // namespace

uint32_t HuffmanSymbolCount(const uint8_t* definition) {
    uint32_t n = 0;
    for (int i = 0; i < 16; ++i) n += definition[i];
    return n;
}

// Decoding refuses a table whose BITS counts over-subscribe the code space:
// canonical codes that overflow their length would alias shorter codes and
// index past the lookup table's blocks, and such a table describes no stream
// a conforming encoder writes, so refusing it is the safe reading.
bool HuffmanCodesFit(const uint8_t* definition) {
    uint32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        code += definition[length - 1];
        if (code > (1u << length)) return false;
        code <<= 1;
    }
    return true;
}

// What both directions ask of a Huffman table definition: at least one code,
// and DC symbols that are categories. Encoding takes an over-subscribed
// table as it stands: its codes are built as ITU-T T.81 Annex C
// builds them and each is cut to its length when written, so the bytes follow
// from the table alone.
Status CheckHuffmanSpec(uint16_t direction, int16_t kind, const uint8_t* definition) {
    const Status bad = kTableError[kind];
    const uint32_t n = HuffmanSymbolCount(definition);
    if (n == 0) return bad;
    if (direction == kDecompress && !HuffmanCodesFit(definition)) return bad;
    if (kind == kDcTable) {
        for (uint32_t i = 0; i < n; ++i) {
            if (definition[16 + i] >= kDcCategories) return bad;
        }
    }
    return 0;
}

}  // namespace q32vex
