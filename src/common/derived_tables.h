// Derived tables for both directions and their cache: quantisation
// multipliers, dequantisation tables, Huffman code tables and the decoder's
// two-level lookup tables. Equal source tables share one cached slot, across
// sequences and directions, until AppVexDeallocate.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

enum Direction : uint16_t { kCompress = 1, kDecompress = 2 };

struct TableCache {
    uint16_t slotCount;
    uint16_t sourceSize;
    uint8_t* sourceCopy[4];
    void* derived[4][2];  // [slot][0 compress, 1 decompress]
    uint16_t componentSlot[4];
};

// The caches of the three table kinds, indexed by TableKind.
struct DerivedTableCache {
    TableCache kinds[3];
};

// Entry 8u+v: multiplier in the high 16 bits, dead-zone threshold in the
// low. The multipliers are kept again on their own, for the vector kernels
// to load eight at a time.
struct EncQuantTable {
    uint32_t entry[64];
    int16_t multiplier[64];
};

// Copies every entry's multiplier (at most 32767) into multiplier[].
inline void SetQuantMultipliers(EncQuantTable& table) {
    for (int k = 0; k < 64; ++k) table.multiplier[k] = int16_t(table.entry[k] >> 16);
}
// 64 values then 64 shifts, natural order.
struct DecQuantTable {
    uint16_t value[64];
    uint16_t shift[64];
};
struct HuffEncDc {
    uint8_t length[13];
    uint16_t code[13];
};
struct HuffEncAc {
    uint8_t length[256];
    uint16_t code[256];
};
// HuffDecTable: a flat uint16_t array, see BuildHuffDecTable.
constexpr int kDcLookahead = 11;
constexpr int kAcLookahead = 10;

// Scale factors of the scaled 8-point DCT divided by sqrt(2): 1/sqrt(2) for
// frequency 0, cos(k*pi/16) otherwise. These stored values, not the exact
// cosines, define the multipliers and the dequantisation values, so they are
// written out digit for digit.
inline constexpr double kDctScale[8] = {
    0.70710679065997, 0.98078528105666, 0.92387953507478, 0.83146961788496,
    0.70710679065997, 0.55557024694407, 0.38268345093153, 0.19509034501116,
};

extern const uint8_t kDctExponent[8];
extern const uint8_t kNormShift[256];

// Builds (or finds in the cache) the `direction` form of the tables of one
// kind that components 0..componentCount-1 use; tables[c] is component c's
// source table.
[[nodiscard]] Status BuildDerivedTables(DerivedTableCache& cache, uint16_t direction, int16_t kind,
                                        const uint8_t* const tables[4], uint16_t componentCount);
[[nodiscard]] Status BuildHuffDecTable(const uint8_t* definition, int lookahead, uint16_t** out);
void MakeHuffmanCodes(const uint8_t* definition, uint16_t* codes, uint8_t* lengths);
void ReleaseDerivedTables(DerivedTableCache& cache);

// Per-component lookups for the MCU drivers.
const EncQuantTable* EncQuant(const DerivedTableCache& cache, int component);
const HuffEncDc* EncDc(const DerivedTableCache& cache, int component);
const HuffEncAc* EncAc(const DerivedTableCache& cache, int component);
const DecQuantTable* DecQuant(const DerivedTableCache& cache, int component);
const uint16_t* DecDc(const DerivedTableCache& cache, int component);
const uint16_t* DecAc(const DerivedTableCache& cache, int component);

}  // namespace q32vex
