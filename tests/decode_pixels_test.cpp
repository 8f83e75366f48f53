// From coefficients to host pixels: the inverse DCT's worked values, its
// saturation and 16-bit wrap-around, and the MCU output routines' level
// restore, chroma replication, colour conversion, clamping and packing.
#include <cstring>

#include "decode/color_output.h"
#include "decode/inverse_dct.h"
#include "decode_helpers.h"

namespace {

using namespace vextest;
using q32vex::g;

class DecodePixels : public LibraryTest {};

// The dequantisation table the decoder derives for a 64-byte quantisation
// table (zigzag order), built by the library's own derived-table cache.
const q32vex::DecQuantTable* DerivedTable(const uint8_t* zigzagQuant) {
    g.format.componentCount = 1;
    g.engine.params = q32vex::EngineParams{};
    g.engine.params.qTables[0] = zigzagQuant;
    EXPECT_EQ(q32vex::BuildDerivedTables(q32vex::kDecompress, q32vex::kQuantTable), 0);
    return q32vex::DecQuant(0);
}

// A table under which the dequantised value equals the coefficient
// (((c << 1) * 16384 + 16384) >> 15 = c for |c| < 16384), so that tests can
// place any value r in front of the transform.
q32vex::DecQuantTable IdentityTable() {
    q32vex::DecQuantTable t;
    for (int i = 0; i < 64; ++i) {
        t.value[i] = 16384;
        t.shift[i] = 1;
    }
    return t;
}

TEST_F(DecodePixels, DcOnlyBlockIsFlatOneLevelAboveMidGrey) {
    uint8_t ones[64];
    std::memset(ones, 1, sizeof(ones));
    const q32vex::DecQuantTable* table = DerivedTable(ones);
    ASSERT_NE(table, nullptr);
    int16_t block[64] = {8};
    q32vex::InverseDctBlock(block, table);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 256) << i;
}

TEST_F(DecodePixels, FirstHorizontalFrequencyGivesTheWorkedRow) {
    uint8_t q[64];
    std::memset(q, 16, sizeof(q));
    const q32vex::DecQuantTable* table = DerivedTable(q);
    int16_t block[64] = {10, 3};
    q32vex::InverseDctBlock(block, table);
    const int16_t expected[8] = {7248, 6928, 6320, 5552, 4688, 3920, 3312, 2992};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(block[8 * y + x], expected[x]) << x << "," << y;
    }
}

TEST_F(DecodePixels, OutputSaturatesOutsideTheSampleRange) {
    const q32vex::DecQuantTable table = IdentityTable();
    const struct {
        int16_t r;
        int16_t out;
    } cases[] = {{4095, 32760}, {4096, 32767}, {9000, 32767}, {-4096, -32768},
                 {-4097, -32768}, {-9000, -32768}, {-1, -8}, {0, 0}};
    for (const auto& c : cases) {
        int16_t block[64] = {c.r};
        q32vex::InverseDctBlock(block, &table);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], c.out) << "r " << c.r << " at " << i;
    }
}

TEST_F(DecodePixels, IntermediateOverflowWrapsLikeSixteenBitRegisters) {
    // Column 0 gets x0 = x2 = x4 = 12000: x0 + x4 + x2 = 36000 overflows the
    // even part, which wraps to -29536 in rows 0 and 7 (a saturating
    // transform would give 32767 there instead).
    const q32vex::DecQuantTable table = IdentityTable();
    int16_t block[64] = {};
    block[0] = 12000;
    block[q32vex::kZigzagPos[16]] = 12000;
    block[q32vex::kZigzagPos[32]] = 12000;
    q32vex::InverseDctBlock(block, &table);
    const int16_t rowValue[8] = {-32768, 32767, -32768, 32767, 32767, -32768, 32767, -32768};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(block[8 * y + x], rowValue[y]) << x << "," << y;
    }
}

// Host rows for one MCU, with a guard of 0xAA bytes behind every row.
struct McuRows {
    static constexpr int kGuard = 16;
    int rowBytes;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t*> rows;
    McuRows(int width, int height, int bpp) : rowBytes(width * bpp) {
        bytes.assign(size_t(height) * (rowBytes + kGuard), 0xAA);
        for (int y = 0; y < height; ++y) rows.push_back(bytes.data() + size_t(y) * (rowBytes + kGuard));
    }
    const uint8_t* Pixel(int x, int y, int bpp) const { return rows[y] + x * bpp; }
    bool GuardsIntact() const {
        for (uint8_t* r : rows) {
            for (int i = 0; i < kGuard; ++i) {
                if (r[rowBytes + i] != 0xAA) return false;
            }
        }
        return true;
    }
};

void ClearBlocks() {
    std::memset(g.engine.blockBuffers, 0, sizeof(g.engine.blockBuffers));
}

// A sample value for a level 0..255 as the inverse DCT delivers it.
int16_t Sample(int level) {
    return int16_t((level - 128) * 256);
}

struct Routine {
    q32vex::McuOutputRoutine fn;
    int width, height;
    int lumaH, lumaV;  // component-0 blocks across and down (colour routines)
    const char* name;
};

const Routine kColourRoutines[] = {
    {q32vex::OutputH2V1, 16, 8, 2, 1, "H2V1"},
    {q32vex::OutputH2V2, 16, 16, 2, 2, "H2V2"},
    {q32vex::OutputH1V1, 8, 8, 1, 1, "H1V1"},
    {q32vex::OutputH4V1, 32, 8, 4, 1, "H4V1"},
};

// One pixel of an H1V1 MCU: luma and chroma samples as the inverse DCT gives them.
std::array<uint8_t, 3> ColourPixel(int16_t luma, int16_t cb, int16_t cr) {
    ClearBlocks();
    g.engine.blockBuffers[0][0] = luma;
    g.engine.blockBuffers[1][0] = cb;
    g.engine.blockBuffers[2][0] = cr;
    g.format.bytesPerPixel = 3;
    McuRows out(8, 8, 3);
    q32vex::OutputH1V1(out.rows.data());
    const uint8_t* p = out.Pixel(0, 0, 3);
    return {p[0], p[1], p[2]};
}

using Bgr = std::array<uint8_t, 3>;

TEST_F(DecodePixels, ColourChannelsClampAtBothEnds) {
    // Luma at the top: the blue sum 32767 + 64 passes 0x8000 and reads as 255.
    EXPECT_EQ(ColourPixel(32767, 0, 0), (Bgr{255, 255, 255}));
    // Luma 100 with Cb -80 (blue term -18060): the blue sum is negative. The
    // same Cb adds 3583 to green: (12800 + 3583) >> 7.
    EXPECT_EQ(ColourPixel(Sample(100), -80 * 256, 0), (Bgr{0, 127, 100}));
    // Luma at the bottom stays black whatever the rounding terms add.
    EXPECT_EQ(ColourPixel(-32768, 0, 0), (Bgr{0, 0, 0}));
}

TEST_F(DecodePixels, ChromaTermsGiveTheExpectedColours) {
    // Chroma indices 100, 511, 512 and 1023 at mid luma (y = 16384), with the
    // terms of those table rows: blue 16384 + tb, green 16384 + g1 + g2, red 16384 + tr.
    const int16_t c100 = 100 * 64, c511 = 511 * 64, c512 = -32768, c1023 = -64;
    EXPECT_EQ(ColourPixel(0, c100, c100), (Bgr{172, 102, 163}));
    EXPECT_EQ(ColourPixel(0, c511, c511), (Bgr{255, 0, 255}));
    EXPECT_EQ(ColourPixel(0, c512, c512), (Bgr{0, 255, 0}));
    EXPECT_EQ(ColourPixel(0, c1023, c1023), (Bgr{128, 128, 128}));
    // Only the top ten bits of a chroma sample select the row.
    EXPECT_EQ(ColourPixel(0, c100 + 63, c100 + 63), (Bgr{172, 102, 163}));
}

TEST_F(DecodePixels, FiveFiveFiveWordPacksTheTopBitsOfEachChannel) {
    ClearBlocks();
    g.engine.blockBuffers[1][0] = 100 * 64;  // blue 172, green 102, red 163
    g.engine.blockBuffers[2][0] = 100 * 64;
    g.format.bytesPerPixel = 2;
    McuRows out(8, 8, 2);
    q32vex::OutputH1V1(out.rows.data());
    const uint8_t* p = out.Pixel(0, 0, 2);
    EXPECT_EQ(p[0] | p[1] << 8, (163 >> 3) << 10 | (102 >> 3) << 5 | (172 >> 3));
    EXPECT_EQ(p[1] & 0x80, 0) << "bit 15 stays clear";
}

TEST_F(DecodePixels, ChromaSampleCoversItsPixelsOnly) {
    for (const Routine& r : kColourRoutines) {
        const int lumaBlocks = r.lumaH * r.lumaV;
        const int pixelsAcross = r.width / 8, pixelsDown = r.height / 8;  // per chroma sample
        for (int sample : {0, 9, 63}) {
            ClearBlocks();
            g.engine.blockBuffers[lumaBlocks][sample] = 100 * 64;  // Cb: blue +44 over mid-grey
            g.format.bytesPerPixel = 3;
            McuRows out(r.width, r.height, 3);
            r.fn(out.rows.data());
            const int sx = sample % 8, sy = sample / 8;
            int wrong = 0;
            for (int y = 0; y < r.height; ++y) {
                for (int x = 0; x < r.width; ++x) {
                    const bool covered = x / pixelsAcross == sx && y / pixelsDown == sy;
                    wrong += *out.Pixel(x, y, 3) != (covered ? 172 : 128);
                }
            }
            EXPECT_EQ(wrong, 0) << r.name << " sample " << sample;
        }
    }
}

}  // namespace
