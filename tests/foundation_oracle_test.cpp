// The default tables against an independent encoder: libjpeg's cjpeg writes
// the same Annex K tables into every baseline file it makes (scaled by its own
// quality rule), so its DQT and DHT segments are a second source for ours.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "interface/tables.h"
#include "test_support.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

struct JpegTables {
    std::map<int, std::vector<uint8_t>> quant;    // id -> 64 entries, zigzag order
    std::map<int, std::vector<uint8_t>> huffman;  // (class << 4 | id) -> BITS + symbols
};

// Walks the marker segments up to the scan and collects the table segments.
bool ParseTables(const std::vector<uint8_t>& jpeg, JpegTables* out) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t pos = 2;
    while (pos + 4 <= jpeg.size()) {
        if (jpeg[pos] != 0xFF) return false;
        const uint8_t marker = jpeg[pos + 1];
        if (marker == 0xDA) return true;
        const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        const size_t end = pos + 2 + length;
        if (length < 2 || end > jpeg.size()) return false;
        size_t p = pos + 4;
        if (marker == 0xDB) {
            while (p < end) {
                const int precision = jpeg[p] >> 4, id = jpeg[p] & 15;
                if (precision != 0 || p + 65 > end) return false;
                out->quant[id].assign(jpeg.begin() + long(p) + 1, jpeg.begin() + long(p) + 65);
                p += 65;
            }
        } else if (marker == 0xC4) {
            while (p < end) {
                const int key = jpeg[p];
                if (p + 17 > end) return false;
                size_t symbols = 0;
                for (int i = 0; i < 16; ++i) symbols += jpeg[p + 1 + i];
                if (p + 17 + symbols > end) return false;
                out->huffman[key].assign(jpeg.begin() + long(p) + 1,
                                         jpeg.begin() + long(p + 17 + symbols));
                p += 17 + symbols;
            }
        }
        pos = end;
    }
    return false;
}

bool CjpegTables(int quality, JpegTables* tables) {
    const std::string ppm = vextest::TempPath("oracle_in.ppm");
    const std::string jpg = vextest::TempPath("oracle_out.jpg");
    const vextest::Image image = vextest::MakeTestImage(24, 16, 3, 11);
    static const char kHeader[] = "P6\n24 16\n255\n";
    std::vector<uint8_t> bytes(sizeof kHeader - 1 + image.pixels.size());
    std::copy(kHeader, kHeader + sizeof kHeader - 1, bytes.begin());
    std::copy(image.pixels.begin(), image.pixels.end(), bytes.begin() + sizeof kHeader - 1);
    if (!vextest::WriteFile(ppm, bytes)) return false;
    const int rc = vextest::Run("cjpeg -baseline -quality " + std::to_string(quality) +
                                " -outfile " + jpg + " " + ppm);
    std::vector<uint8_t> jpeg;
    const bool ok = rc == 0 && vextest::ReadFile(jpg, &jpeg) && ParseTables(jpeg, tables);
    std::remove(ppm.c_str());
    std::remove(jpg.c_str());
    return ok;
}

std::vector<uint8_t> Spec(const uint8_t* table) {
    uint16_t size = 0;
    EXPECT_EQ(GetTableSize(table == kLumDcSpec || table == kChromDcSpec ? kDcTable : kAcTable,
                           table, &size),
              0);
    return std::vector<uint8_t>(table, table + size);
}

std::vector<uint8_t> Scaled(const uint8_t* natural, uint16_t quality) {
    std::vector<uint8_t> out(64);
    EXPECT_EQ(AppVexMakeQTable(natural, quality, out.data()), 0);
    return out;
}

using OracleTables = LibraryTest;

TEST_F(OracleTables, HuffmanSpecificationsMatchCjpeg) {
    if (!vextest::HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) not installed";
    JpegTables t;
    ASSERT_TRUE(CjpegTables(75, &t));
    ASSERT_EQ(t.huffman.size(), 4u);
    EXPECT_EQ(t.huffman[0x00], Spec(kLumDcSpec));
    EXPECT_EQ(t.huffman[0x01], Spec(kChromDcSpec));
    EXPECT_EQ(t.huffman[0x10], Spec(kLumAcSpec));
    EXPECT_EQ(t.huffman[0x11], Spec(kChromAcSpec));
}

TEST_F(OracleTables, QuantisationTablesMatchCjpegWhereTheScalesAgree) {
    if (!vextest::HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) not installed";
    // cjpeg's quality 50 is the unscaled table, written in zigzag order: our
    // quality 50. Its quality 25 doubles every entry: our quality 100.
    JpegTables t;
    ASSERT_TRUE(CjpegTables(50, &t));
    EXPECT_EQ(t.quant[0], Scaled(kLumQuant, 50));
    EXPECT_EQ(t.quant[1], Scaled(kChromQuant, 50));
    ASSERT_TRUE(CjpegTables(25, &t));
    EXPECT_EQ(t.quant[0], Scaled(kLumQuant, 100));
    EXPECT_EQ(t.quant[1], Scaled(kChromQuant, 100));
}

}  // namespace
