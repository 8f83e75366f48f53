// Default tables (T.81 Annex K), the zigzag map, the default table sets,
// quality scaling and the numbering of equal tables.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

enum TableKind : int16_t { kQuantTable = 0, kDcTable = 1, kAcTable = 2 };

constexpr uint16_t kQuantTableBytes = 64;
constexpr uint16_t kDcSpecBytes = 80;
constexpr uint16_t kAcSpecBytes = 178;

// The library's own table slots: compression keeps the quality-scaled
// quantisation tables here (zigzag order), the header readers the tables
// they read from a stream.
struct TableSlots {
    uint8_t q[4][kQuantTableBytes];
    uint8_t dc[2][kDcSpecBytes];
    uint8_t ac[2][kAcSpecBytes];
};

// A default table set: component count, then per-component table pointers.
struct DefaultTableSet {
    uint16_t components;
    const uint8_t* q[4];
    const uint8_t* dc[4];
    const uint8_t* ac[4];
};

extern const uint8_t kLumQuant[64];
extern const uint8_t kChromQuant[64];
extern const uint8_t kLumDcSpec[kDcSpecBytes];
extern const uint8_t kChromDcSpec[kDcSpecBytes];
extern const uint8_t kLumAcSpec[kAcSpecBytes];
extern const uint8_t kChromAcSpec[kAcSpecBytes];
extern const DefaultTableSet kDefaultTableSets[4];

// zigzag position k -> natural index. Padded to 80 entries (the tail maps to
// 63) so that a corrupt run past coefficient 63 stays inside the table.
extern const uint8_t kZigzag[80];
// natural index -> zigzag position.
extern const uint8_t kZigzagPos[64];

// destination[k] = clamp(source[zigzag[k]] * quality / 50, 2, 255).
void ScaleQuantTable(const uint8_t* naturalSource, uint16_t quality, uint8_t* zigzagDest);

// AppVexGetTableSize without the export wrapper.
[[nodiscard]] Status GetTableSize(int16_t kind, const uint8_t* table, uint16_t* size);

// On entry *count is the number of slots to examine; on success it holds the
// number of distinct tables and number[i] the first slot equal to slot i.
[[nodiscard]] Status NumberTables(uint16_t* count, int16_t kind, const uint8_t* const tables[],
                                  uint16_t number[]);

}  // namespace q32vex
