// Derived tables: the quantisation multipliers and dequantisation values a
// codec depends on, the Huffman codes of T.81 Annex K, the decoder's lookup
// tables (also from hostile input) and the cache that shares equal tables
// across components, sequences and directions without leaking.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode_helpers.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

class QuantisationTables : public LibraryTest {};
class HuffmanCodeTables : public LibraryTest {};
class HuffmanDecodeTable : public LibraryTest {};
class DerivedTableCache : public LibraryTest {};

std::vector<uint8_t> Zigzag(const uint8_t* natural) {
    std::vector<uint8_t> z(64);
    for (int k = 0; k < 64; ++k) z[k] = natural[kZigzag[k]];
    return z;
}

std::vector<uint8_t> Flat(int q) { return std::vector<uint8_t>(64, uint8_t(q)); }

// Points the engine's tables of one kind at `tables` (one per component).
void UseTables(int16_t kind, const std::vector<const uint8_t*>& tables) {
    g.format.componentCount = uint16_t(tables.size());
    const uint8_t** slots = kind == kQuantTable ? g.engine.params.qTables
                            : kind == kDcTable  ? g.engine.params.dcTables
                                                : g.engine.params.acTables;
    for (int i = 0; i < 4; ++i) slots[i] = i < int(tables.size()) ? tables[i] : nullptr;
}

uint32_t Multiplier(uint32_t entry) { return entry >> 16; }
uint32_t Threshold(uint32_t entry) { return entry & 0xFFFF; }

std::string Code(uint16_t code, uint8_t length) {
    std::string s;
    for (int i = length - 1; i >= 0; --i) s += char('0' + ((code >> i) & 1));
    return s;
}

int64_t LiveBlocks() { return GetAllocatorStats().liveBlocks; }
int64_t Allocations() { return GetAllocatorStats().totalAllocations; }

// ---- quantisation ------------------------------------------------------

TEST_F(QuantisationTables, AnnexKLuminanceMultipliersAndThresholds) {
    const std::vector<uint8_t> lum = Zigzag(kLumQuant);
    UseTables(kQuantTable, {lum.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    const uint32_t* table = EncQuant(0);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(Multiplier(table[0]), 64u);  // q = 16
    EXPECT_EQ(Threshold(table[0]), 256u);
    EXPECT_EQ(Multiplier(table[9]), 2627u);  // u = v = 1, q = 12
    EXPECT_EQ(Threshold(table[9]), 6u);
}

TEST_F(QuantisationTables, DequantisationWorkedValues) {
    std::vector<uint8_t> table = Flat(1);
    table[0] = 16;
    UseTables(kQuantTable, {table.data()});
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(DecQuant(0)->value[0], 8192);
    EXPECT_EQ(DecQuant(0)->shift[0], 8);
    EXPECT_EQ(DecQuant(0)->shift[1], 4);  // q = 1
    table[0] = 1;
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(DecQuant(0)->value[0], 8192);
    EXPECT_EQ(DecQuant(0)->shift[0], 4);
    table[0] = 255;
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(DecQuant(0)->value[0], 16320);
    EXPECT_EQ(DecQuant(0)->shift[0], 11);
}

// ---- Huffman codes -------------------------------------------------------

TEST_F(HuffmanCodeTables, AnnexKLuminanceCodes) {
    UseTables(kDcTable, {kLumDcSpec});
    ASSERT_EQ(BuildDerivedTables(kCompress, kDcTable), 0);
    const HuffEncDc* dc = EncDc(0);
    EXPECT_EQ(Code(dc->code[0], dc->length[0]), "00");
    EXPECT_EQ(Code(dc->code[1], dc->length[1]), "010");
    EXPECT_EQ(Code(dc->code[5], dc->length[5]), "110");
    EXPECT_EQ(Code(dc->code[11], dc->length[11]), "111111110");
    EXPECT_EQ(dc->length[12], 0);  // not listed

    UseTables(kAcTable, {kLumAcSpec});
    ASSERT_EQ(BuildDerivedTables(kCompress, kAcTable), 0);
    const HuffEncAc* ac = EncAc(0);
    EXPECT_EQ(Code(ac->code[0x00], ac->length[0x00]), "1010");  // EOB
    EXPECT_EQ(Code(ac->code[0xF0], ac->length[0xF0]), "11111111001");  // ZRL
    EXPECT_EQ(Code(ac->code[0x01], ac->length[0x01]), "00");
    EXPECT_EQ(Code(ac->code[0x03], ac->length[0x03]), "100");
    EXPECT_EQ(Code(ac->code[0x11], ac->length[0x11]), "1100");
    EXPECT_EQ(Code(ac->code[0x21], ac->length[0x21]), "11100");
    EXPECT_EQ(Code(ac->code[0xE1], ac->length[0xE1]), "1111111111101011");
    EXPECT_EQ(Code(ac->code[0xFA], ac->length[0xFA]), "1111111111111110");
    EXPECT_EQ(ac->length[0x0B], 0);  // size 11 is no baseline symbol
}

// ---- the decoder's lookup tables --------------------------------------------

// Looks a 16-bit window up the way the block decoder does.
uint16_t Lookup(const uint16_t* table, int lookahead, uint16_t window) {
    const uint16_t first = table[window >> (16 - lookahead)];
    if ((first & 0x8000) == 0) return first;
    const uint32_t block = first & 0x7FFF;
    const uint32_t rest = window & ((1u << (16 - lookahead)) - 1);
    return table[(1u << lookahead) + (block << (16 - lookahead)) + rest];
}

// Every code, followed by any bits, decodes to its symbol and length.
TEST_F(HuffmanDecodeTable, EveryCodeDecodesToItsSymbol) {
    std::mt19937 rng(7);
    for (const uint8_t* spec : {kLumDcSpec, kChromDcSpec, kLumAcSpec, kChromAcSpec}) {
        const bool dc = spec == kLumDcSpec || spec == kChromDcSpec;
        const int lookahead = dc ? kDcLookahead : kAcLookahead;
        uint16_t* table = nullptr;
        ASSERT_EQ(BuildHuffDecTable(spec, lookahead, &table), 0);
        uint16_t codes[256] = {};
        uint8_t lengths[256] = {};
        MakeHuffmanCodes(spec, codes, lengths);
        int n = 0;
        for (int i = 0; i < 16; ++i) n += spec[i];
        for (int i = 0; i < n; ++i) {
            const uint8_t s = spec[16 + i];
            for (int trial = 0; trial < 8; ++trial) {
                const uint16_t filler = uint16_t(rng() & ((1u << (16 - lengths[s])) - 1));
                const uint16_t window = uint16_t((uint32_t(codes[s]) << (16 - lengths[s])) | filler);
                const uint16_t entry = Lookup(table, lookahead, window);
                ASSERT_EQ(entry >> 8, lengths[s]) << int(s);
                ASSERT_EQ(entry & 0xFF, s);
            }
        }
        // The all-ones window is no code in any of these tables.
        EXPECT_EQ(Lookup(table, lookahead, 0xFFFF), 0);
        LibFree(table);
    }
}

TEST_F(HuffmanDecodeTable, FullOneBitCodeSpaceIsAccepted) {
    uint8_t spec[18] = {2};
    spec[16] = 0x05;
    spec[17] = 0x07;
    uint16_t* table = nullptr;
    ASSERT_EQ(BuildHuffDecTable(spec, kAcLookahead, &table), 0);
    EXPECT_EQ(table[0], 0x0105);
    EXPECT_EQ(table[511], 0x0105);
    EXPECT_EQ(table[512], 0x0107);
    EXPECT_EQ(table[1023], 0x0107);
    LibFree(table);
}

// Tables come from untrusted streams: BITS that overflow the code space or
// define no code are refused with the class's code and allocate nothing.
TEST_F(HuffmanDecodeTable, HostileTablesAreRefused) {
    std::vector<std::vector<uint8_t>> bad;
    std::vector<uint8_t> spec(16 + 64, 0);
    spec[0] = 3;  // three codes of one bit
    bad.push_back(spec);
    spec.assign(16 + 64, 0);
    spec[1] = 4;  // the two-bit space is full...
    spec[15] = 1;  // ...so no 16-bit code is left
    bad.push_back(spec);
    spec.assign(16 + 64, 0);  // no code at all
    bad.push_back(spec);
    spec.assign(16 + 64, 0);
    spec[7] = 255;  // 255 eight-bit codes leave room for two nine-bit codes, not three
    spec[8] = 3;
    bad.push_back(spec);
    for (const std::vector<uint8_t>& s : bad) {
        std::vector<uint8_t> padded = s;
        padded.resize(16 + 16 * 255, 0);
        const int64_t blocks = LiveBlocks();
        uint16_t* table = nullptr;
        EXPECT_EQ(BuildHuffDecTable(padded.data(), kDcLookahead, &table), VEX_ERR_DC_TABLE);
        EXPECT_EQ(BuildHuffDecTable(padded.data(), kAcLookahead, &table), VEX_ERR_AC_TABLE);
        EXPECT_EQ(table, nullptr);
        EXPECT_EQ(LiveBlocks(), blocks);
    }
}

// ---- the cache ----------------------------------------------------------------

// Blocks the cache holds: its copies and derived tables.
int64_t CacheBlocks() {
    int64_t n = 0;
    for (const TableCache& cache : g.cache) {
        for (int j = 0; j < cache.slotCount; ++j) {
            n += cache.sourceCopy[j] != nullptr;
            n += cache.derived[j][0] != nullptr;
            n += cache.derived[j][1] != nullptr;
        }
    }
    return n;
}

TEST_F(DerivedTableCache, EqualContentsShareOneSlot) {
    const std::vector<uint8_t> a = Zigzag(kLumQuant), sameAsA = Zigzag(kLumQuant), b = Zigzag(kChromQuant);
    UseTables(kQuantTable, {a.data(), b.data(), sameAsA.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    const TableCache& cache = g.cache[kQuantTable];
    EXPECT_EQ(cache.slotCount, 2);
    EXPECT_EQ(cache.componentSlot[0], 0);
    EXPECT_EQ(cache.componentSlot[1], 1);
    EXPECT_EQ(cache.componentSlot[2], 0);
    EXPECT_EQ(EncQuant(0), EncQuant(2));
    EXPECT_NE(EncQuant(0), EncQuant(1));
    EXPECT_EQ(LiveBlocks(), 4);  // two copies, two derived tables
    EXPECT_EQ(std::memcmp(cache.sourceCopy[1], b.data(), 64), 0);
}

TEST_F(DerivedTableCache, LaterSequencesReuseTablesInEitherDirection) {
    const std::vector<uint8_t> a = Zigzag(kLumQuant);
    UseTables(kQuantTable, {a.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    const uint32_t* enc = EncQuant(0);

    // Same contents at another address: nothing is built or copied.
    const std::vector<uint8_t> copy = a;
    UseTables(kQuantTable, {copy.data()});
    int64_t allocations = Allocations();
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    EXPECT_EQ(Allocations(), allocations);
    EXPECT_EQ(EncQuant(0), enc);

    // The other direction builds only its own table.
    allocations = Allocations();
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(Allocations(), allocations + 1);
    EXPECT_NE(DecQuant(0), nullptr);
    EXPECT_EQ(EncQuant(0), enc);

    // Both directions are now cached.
    allocations = Allocations();
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(Allocations(), allocations);
    EXPECT_EQ(LiveBlocks(), 3);
}

TEST_F(DerivedTableCache, TablesNoLongerUsedAreReleased) {
    const std::vector<uint8_t> a = Zigzag(kLumQuant), b = Zigzag(kChromQuant), c = Flat(3);
    UseTables(kQuantTable, {a.data(), b.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    ASSERT_EQ(BuildDerivedTables(kDecompress, kQuantTable), 0);
    EXPECT_EQ(LiveBlocks(), 6);
    UseTables(kQuantTable, {c.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    EXPECT_EQ(g.cache[kQuantTable].slotCount, 1);
    EXPECT_EQ(LiveBlocks(), 2);
    EXPECT_EQ(std::memcmp(g.cache[kQuantTable].sourceCopy[0], c.data(), 64), 0);
}

// A bad table is reported before anything changes.
TEST_F(DerivedTableCache, InvalidTablesLeaveTheCacheAsItWas) {
    const std::vector<uint8_t> a = Zigzag(kLumQuant);
    UseTables(kQuantTable, {a.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    const void* enc = EncQuant(0);
    std::vector<uint8_t> zero = Flat(4);
    zero[40] = 0;
    UseTables(kQuantTable, {zero.data()});
    EXPECT_EQ(BuildDerivedTables(kCompress, kQuantTable), VEX_ERR_Q_TABLE);
    EXPECT_EQ(g.cache[kQuantTable].slotCount, 1);
    EXPECT_EQ(g.cache[kQuantTable].derived[0][0], enc);
    EXPECT_EQ(LiveBlocks(), 2);

    std::vector<uint8_t> dc(kLumDcSpec, kLumDcSpec + kDcSpecBytes);
    dc[16 + 11] = 12;  // no baseline DC difference needs category 12
    UseTables(kDcTable, {dc.data()});
    EXPECT_EQ(BuildDerivedTables(kCompress, kDcTable), VEX_ERR_DC_TABLE);
    EXPECT_EQ(BuildDerivedTables(kDecompress, kDcTable), VEX_ERR_DC_TABLE);
    std::vector<uint8_t> empty(kAcSpecBytes, 0);
    UseTables(kAcTable, {empty.data()});
    EXPECT_EQ(BuildDerivedTables(kCompress, kAcTable), VEX_ERR_AC_TABLE);
    std::vector<uint8_t> tooLong(kDcSpecBytes + 16, 0);
    tooLong[8] = 65;  // 81 bytes
    UseTables(kDcTable, {tooLong.data()});
    EXPECT_EQ(BuildDerivedTables(kCompress, kDcTable), VEX_ERR_DC_TABLE);
    EXPECT_EQ(BuildDerivedTables(kCompress, 3), VEX_ERR_TABLE_KIND);
    EXPECT_EQ(LiveBlocks(), 2);
    EXPECT_EQ(g.cache[kDcTable].slotCount, 0);
}

// Only the bytes that take part are read: a host's DC table of 28 bytes at
// the very end of its allocation is fine (the address sanitizer would see
// a read of the full 80-byte slot).
TEST_F(DerivedTableCache, ShortHostTablesAreNotOverread) {
    std::vector<uint8_t> shortDc(kLumDcSpec, kLumDcSpec + 28);
    UseTables(kDcTable, {shortDc.data()});
    ASSERT_EQ(BuildDerivedTables(kCompress, kDcTable), 0);
    ASSERT_EQ(BuildDerivedTables(kDecompress, kDcTable), 0);
    EXPECT_EQ(std::memcmp(g.cache[kDcTable].sourceCopy[0], kLumDcSpec, kDcSpecBytes), 0);
}

}  // namespace
