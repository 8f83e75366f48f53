// Default quantisation tables and Huffman table definitions (ITU-T T.81 Annex K), the
// zigzag map, quality scaling and the numbering of equal tables. Everything
// here is a compile-time table; the routines only validate, scale and compare.
#include "common/tables.h"

#include "common/bytes.h"

namespace q32vex {
namespace {

// Bytes a Huffman table definition occupies: 16 BITS counts plus one byte per code.
constexpr uint16_t HuffSpecSize(const uint8_t* spec) {
    uint16_t size = 16;
    for (int i = 0; i < 16; ++i) size = uint16_t(size + spec[i]);
    return size;
}

struct ZigzagMaps {
    uint8_t toNatural[80];
    uint8_t toZigzag[64];
};

// Walks the 8x8 block along its anti-diagonals, alternating direction, which
// is the coding order of the coefficients. Entries past 63 map to the last
// coefficient so that a run overshooting the block cannot index out of it.
constexpr ZigzagMaps MakeZigzagMaps() {
    ZigzagMaps maps{};
    int k = 0;
    for (int diagonal = 0; diagonal < 15; ++diagonal) {
        const int first = diagonal < 8 ? 0 : diagonal - 7;
        const int last = diagonal < 8 ? diagonal : 7;
        for (int step = 0; step <= last - first; ++step) {
            // Even diagonals run up and to the right, odd ones down and to the left.
            const int row = diagonal % 2 == 0 ? last - step : first + step;
            const int column = diagonal - row;
            maps.toNatural[k++] = uint8_t(row * 8 + column);
        }
    }
    for (; k < 80; ++k) maps.toNatural[k] = 63;
    for (int z = 0; z < 64; ++z) maps.toZigzag[maps.toNatural[z]] = uint8_t(z);
    return maps;
}

constexpr ZigzagMaps kZigzagMaps = MakeZigzagMaps();

}  // namespace

// T.81 Table K.1, luminance, natural (row-major) order.
constexpr uint8_t kLumQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};

// T.81 Table K.2, chrominance, natural order.
constexpr uint8_t kChromQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};

// T.81 Table K.3, luminance DC: BITS, then the 12 difference categories.
constexpr uint8_t kLumDcSpec[kDcSpecBytes] = {
    0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,  //
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
};

// T.81 Table K.4, chrominance DC.
constexpr uint8_t kChromDcSpec[kDcSpecBytes] = {
    0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,  //
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
};

// T.81 Table K.5, luminance AC: BITS, then the 162 run/size symbols.
constexpr uint8_t kLumAcSpec[kAcSpecBytes] = {
    0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

// T.81 Table K.6, chrominance AC.
constexpr uint8_t kChromAcSpec[kAcSpecBytes] = {
    0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04, 0x04, 0x00, 0x01, 0x02, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

// The DC table definitions code the 12 difference categories; the AC ones fill
// their 178-byte slots exactly (162 run/size symbols).
static_assert(HuffSpecSize(kLumDcSpec) == 28 && HuffSpecSize(kChromDcSpec) == 28, "DC spec size");
static_assert(HuffSpecSize(kLumAcSpec) == kAcSpecBytes, "luminance AC spec size");
static_assert(HuffSpecSize(kChromAcSpec) == kAcSpecBytes, "chrominance AC spec size");
static_assert(kLumAcSpec[kAcSpecBytes - 1] == 0xfa && kChromAcSpec[kAcSpecBytes - 1] == 0xfa,
              "AC symbol lists end with run 15, size 10");
static_assert(kLumQuant[6 * 8 + 5] == 121 && kChromQuant[0] == 17, "quantisation extremes");

// Indexed by colour space: YCbCr, grey, three components sharing the
// luminance tables, and four components (CMYK-like, outer two on chrominance).
constexpr DefaultTableSet kDefaultTableSets[4] = {
    {3,
     {kLumQuant, kChromQuant, kChromQuant, nullptr},
     {kLumDcSpec, kChromDcSpec, kChromDcSpec, nullptr},
     {kLumAcSpec, kChromAcSpec, kChromAcSpec, nullptr}},
    {1,
     {kLumQuant, nullptr, nullptr, nullptr},
     {kLumDcSpec, nullptr, nullptr, nullptr},
     {kLumAcSpec, nullptr, nullptr, nullptr}},
    {3,
     {kLumQuant, kLumQuant, kLumQuant, nullptr},
     {kLumDcSpec, kLumDcSpec, kLumDcSpec, nullptr},
     {kLumAcSpec, kLumAcSpec, kLumAcSpec, nullptr}},
    {4,
     {kChromQuant, kLumQuant, kLumQuant, kChromQuant},
     {kChromDcSpec, kLumDcSpec, kLumDcSpec, kChromDcSpec},
     {kChromAcSpec, kLumAcSpec, kLumAcSpec, kChromAcSpec}},
};

// Zigzag position k -> natural index; the 16 entries past the block map to the
// last coefficient so that a run overshooting position 63 stays in the table.
constexpr uint8_t kZigzag[80] = {
     0,  1,  8, 16,  9,  2,  3, 10, 17, 24, 32, 25, 18, 11,  4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,  6,  7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63,
};

// Natural index -> zigzag position.
constexpr uint8_t kZigzagPos[64] = {
     0,  1,  5,  6, 14, 15, 27, 28,  2,  4,  7, 13, 16, 26, 29, 42,
     3,  8, 12, 17, 25, 30, 41, 43,  9, 11, 18, 24, 31, 40, 44, 53,
    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};

namespace {
constexpr bool ZigzagMatchesWalk() {
    for (int k = 0; k < 80; ++k) {
        if (kZigzag[k] != kZigzagMaps.toNatural[k]) return false;
    }
    for (int n = 0; n < 64; ++n) {
        if (kZigzagPos[n] != kZigzagMaps.toZigzag[n] || kZigzag[kZigzagPos[n]] != n) return false;
    }
    return true;
}
}  // namespace
static_assert(ZigzagMatchesWalk(), "zigzag tables must follow the diagonal walk");
static_assert(kZigzag[2] == 8 && kZigzag[3] == 16 && kZigzag[35] == 56 && kZigzag[62] == 62 &&
                  kZigzag[63] == 63 && kZigzag[79] == 63 && kZigzagPos[7] == 28,
              "zigzag landmarks");

void ScaleQuantTable(const uint8_t* naturalSource, uint16_t quality, uint8_t* zigzagDest) {
    for (int k = 0; k < 64; ++k) {
        uint32_t value = uint32_t(naturalSource[kZigzag[k]]) * quality / 50;
        // Steps stay in 2..255: an 8-bit table entry holds at most 255, and 2 is
        // the finest step the library quantises with.
        if (value < 2) value = 2;
        if (value > 255) value = 255;
        zigzagDest[k] = uint8_t(value);
    }
}

Status GetTableSize(int16_t kind, const uint8_t* table, uint16_t* size) {
    switch (kind) {
        case kQuantTable:
            for (int i = 0; i < 64; ++i) {
                if (table[i] == 0) return VEX_ERR_Q_TABLE;
            }
            *size = kQuantTableBytes;
            return 0;
        case kDcTable: {
            const uint16_t bytes = HuffSpecSize(table);
            if (bytes > kDcSpecBytes) return VEX_ERR_DC_TABLE;
            *size = bytes;
            return 0;
        }
        case kAcTable: {
            const uint16_t bytes = HuffSpecSize(table);
            if (bytes > kAcSpecBytes) return VEX_ERR_AC_TABLE;
            *size = bytes;
            return 0;
        }
        default:
            return VEX_ERR_TABLE_KIND;
    }
}

Status NumberTables(uint16_t* count, int16_t kind, const uint8_t* const tables[],
                    uint16_t number[]) {
    if (kind < kQuantTable || kind > kAcTable) return VEX_ERR_TABLE_KIND;
    uint16_t distinct = 0;
    for (uint16_t i = 0; i < *count; ++i) {
        uint16_t size = 0;
        Q_TRY(GetTableSize(kind, tables[i], &size));
        bool matched = false;
        // The same table handed in twice is the common case (the default sets
        // share their chrominance tables); catch it without comparing bytes.
        for (uint16_t j = 0; j < i && !matched; ++j) {
            if (tables[j] == tables[i]) {
                number[i] = number[j];
                matched = true;
            }
        }
        // Otherwise equal contents at different addresses still share one
        // table in the stream; compare only against tables that start a number.
        for (uint16_t j = 0; j < i && !matched; ++j) {
            if (number[j] != j) continue;
            uint16_t otherSize = 0;
            if (GetTableSize(kind, tables[j], &otherSize) != 0 || otherSize != size) continue;
            if (CompareBytes(tables[j], tables[i], size) == 0) {
                number[i] = j;
                matched = true;
            }
        }
        if (!matched) {
            number[i] = i;
            ++distinct;
        }
    }
    *count = distinct;
    return 0;
}

}  // namespace q32vex

extern "C" {

VEXEXPORT int16_t VEXAPI AppVexGetDefaultTables(int16_t colorSpace, const uint8_t* const** qTables,
                                                const uint8_t* const** dcTables,
                                                const uint8_t* const** acTables) {
    if (colorSpace < 0 || colorSpace > 3) return VEX_ERR_COLOR_SPACE;
    const q32vex::DefaultTableSet& set = q32vex::kDefaultTableSets[colorSpace];
    *qTables = set.q;
    *dcTables = set.dc;
    *acTables = set.ac;
    return 0;
}

VEXEXPORT int16_t VEXAPI AppVexMakeQTable(const uint8_t* source, uint16_t quality,
                                          uint8_t* destination) {
    if (quality == 0 || quality > 255) return VEX_ERR_QUALITY;
    q32vex::ScaleQuantTable(source, quality, destination);
    return 0;
}

VEXEXPORT int16_t VEXAPI AppVexGetTableSize(int16_t kind, const uint8_t* table, uint16_t* size) {
    return q32vex::GetTableSize(kind, table, size);
}

}  // extern "C"
