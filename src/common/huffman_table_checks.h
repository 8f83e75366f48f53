// What a Huffman table definition (16 code-length counts, then the symbols)
// must satisfy before anything is derived from it, in each direction.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

// The status a bad table of each kind (TableKind) is refused with.
inline constexpr Status kTableError[3] = {VEX_ERR_Q_TABLE, VEX_ERR_DC_TABLE, VEX_ERR_AC_TABLE};

// The number of codes the counts define.
uint32_t HuffmanSymbolCount(const uint8_t* definition);
// Whether the counts fit the code space: no canonical code overflows its length.
bool HuffmanCodesFit(const uint8_t* definition);
// The checks of `direction` (Direction) for a table of `kind` (kDcTable or
// kAcTable): 0, or the kind's table status.
[[nodiscard]] Status CheckHuffmanSpec(uint16_t direction, int16_t kind, const uint8_t* definition);

}  // namespace q32vex
