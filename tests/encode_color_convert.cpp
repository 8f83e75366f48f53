// Colour conversion and edge padding: the samples that reach the DCT for
// known pixels (white, black, 5-5-5 words), how chroma is averaged, and how
// partial MCUs are completed.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "encode/color_convert.h"
#include "encode_helpers.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

class ColorTables : public LibraryTest {};
class ColorConverters : public LibraryTest {};
class EdgePadding : public LibraryTest {};

void SetFormat(int bytesPerPixel, int mcuWidth, int mcuHeight) {
    g.format.bytesPerPixel = uint16_t(bytesPerPixel);
    g.format.mcuWidth = uint16_t(mcuWidth);
    g.format.mcuHeight = uint16_t(mcuHeight);
    g.format.mcuRowBytes = uint16_t(mcuWidth * bytesPerPixel);
}

// An MCU of host pixels: `height` rows of `width` pixels.
struct Mcu {
    int width, height, bpp;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t*> pointers;
    Mcu(int w, int h, int b) : width(w), height(h), bpp(b), rows(h, std::vector<uint8_t>(w * b)) {
        for (auto& r : rows) pointers.push_back(r.data());
    }
    uint8_t* at(int x, int y) { return rows[y].data() + x * bpp; }
    void Fill(std::initializer_list<uint8_t> bytes) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                std::copy(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), bpp), at(x, y));
    }
};

int16_t Cb(int b, int gr, int r) {
    return int16_t(kForwardColor[0][b].cb + kForwardColor[1][gr].cb + kForwardColor[2][r].cb);
}

int16_t Cr(const std::array<uint8_t, 3>& p) {
    return int16_t(kForwardColor[0][p[0]].cr + kForwardColor[1][p[1]].cr + kForwardColor[2][p[2]].cr);
}
int Floor2(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

void ClearBlocks() {
    for (auto& block : g.engine.blockBuffers)
        for (auto& s : block) s = 0x5555;
}

bool BlockIs(int b, int16_t value) {
    for (int16_t s : g.engine.blockBuffers[b])
        if (s != value) return false;
    return true;
}

// ---- tables -------------------------------------------------------------------

TEST_F(ColorTables, NamedEntriesAreFormedExactly) {
    EXPECT_EQ(kForwardColor[1][3].y, -9391);
    EXPECT_EQ(kForwardColor[1][253].y, 9391);
    EXPECT_EQ(kForwardColor[2][3].y, -4783);
    EXPECT_EQ(kForwardColor[2][253].y, 4783);
    EXPECT_EQ(kForwardColor[0][255].y, 1853);
    EXPECT_EQ(kForwardColor[1][255].y, 9542);
    EXPECT_EQ(kForwardColor[2][255].y, 4860);
}

// ---- converters -------------------------------------------------------------

TEST_F(ColorConverters, WhiteAndBlackSamples) {
    for (int bpp : {3, 4}) {
        SetFormat(bpp, 8, 8);
        Mcu mcu(8, 8, bpp);
        mcu.Fill({255, 255, 255, 17});  // the pad byte of 4-byte pixels is ignored
        ClearBlocks();
        ConvertH1V1(mcu.pointers.data());
        EXPECT_TRUE(BlockIs(0, 16255));
        EXPECT_TRUE(BlockIs(1, -8));
        EXPECT_TRUE(BlockIs(2, 4));
        mcu.Fill({0, 0, 0, 200});
        ConvertH1V1(mcu.pointers.data());
        EXPECT_TRUE(BlockIs(0, -16382));
        EXPECT_TRUE(BlockIs(1, 8));
        EXPECT_TRUE(BlockIs(2, -2));
    }
}

// 5-bit fields stand for 8c: all-31 words convert like bytes of 248, and the
// word 0x8080 like blue 0, green 32, red 0.
TEST_F(ColorConverters, WordPixelsConvertAsTheirByteValues) {
    const std::pair<uint16_t, std::array<uint8_t, 3>> cases[] = {
        {0x7FFF, {248, 248, 248}}, {0xFFFF, {248, 248, 248}}, {0x8080, {0, 32, 0}}, {0x7C00, {0, 0, 248}}};
    for (const auto& c : cases) {
        for (McuConverter convert : {ConvertH2V1, ConvertH2V2, ConvertH1V1}) {
            const int h = convert == ConvertH2V2 ? 16 : 8, w = convert == ConvertH1V1 ? 8 : 16;
            SetFormat(3, w, h);
            Mcu bytes(w, h, 3);
            bytes.Fill({c.second[0], c.second[1], c.second[2]});
            convert(bytes.pointers.data());
            std::vector<int16_t> expected(&g.engine.blockBuffers[0][0], &g.engine.blockBuffers[6][0]);
            SetFormat(2, w, h);
            Mcu words(w, h, 2);
            words.Fill({uint8_t(c.first), uint8_t(c.first >> 8)});
            ClearBlocks();
            convert(words.pointers.data());
            std::vector<int16_t> got(&g.engine.blockBuffers[0][0], &g.engine.blockBuffers[6][0]);
            const int used = (convert == ConvertH1V1 ? 3 : convert == ConvertH2V1 ? 4 : 6) * 64;
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + used, expected.begin())) << std::hex << c.first;
        }
    }
}

// Pixels whose chroma (at scale 64) is 1, 0 and -1.
struct ChromaPixels {
    std::array<uint8_t, 3> plus, zero, minus;
};
ChromaPixels FindChromaPixels() {
    ChromaPixels p{};
    bool found[3] = {};
    for (int b = 100; b < 160; ++b)
        for (int gr = 100; gr < 160; ++gr)
            for (int r = 100; r < 160; ++r) {
                const int cb = Cb(b, gr, r);
                std::array<uint8_t, 3> px = {uint8_t(b), uint8_t(gr), uint8_t(r)};
                if (cb == 1 && !found[0]) p.plus = px, found[0] = true;
                if (cb == 0 && !found[1]) p.zero = px, found[1] = true;
                if (cb == -1 && !found[2]) p.minus = px, found[2] = true;
            }
    EXPECT_TRUE(found[0] && found[1] && found[2]);
    return p;
}

TEST_F(ColorConverters, FourPixelChromaHalvesEachPairWithFlooring) {
    const ChromaPixels p = FindChromaPixels();
    // 2 x 2: top-left differs, the other three are zero-chroma pixels.
    SetFormat(3, 16, 16);
    Mcu mcu(16, 16, 3);
    mcu.Fill({p.zero[0], p.zero[1], p.zero[2]});
    std::copy(p.plus.begin(), p.plus.end(), mcu.at(0, 0));
    std::copy(p.minus.begin(), p.minus.end(), mcu.at(2, 0));
    ConvertH2V2(mcu.pointers.data());
    EXPECT_EQ(g.engine.blockBuffers[4][0], 0);   // ((1 + 0) >> 1) + ((0 + 0) >> 1)
    EXPECT_EQ(g.engine.blockBuffers[4][1], -1);  // ((-1 + 0) >> 1) + 0
    EXPECT_EQ(g.engine.blockBuffers[5][0], Floor2(Cr(p.plus) + Cr(p.zero)) + Floor2(2 * Cr(p.zero)));
    EXPECT_EQ(g.engine.blockBuffers[5][1], Floor2(Cr(p.minus) + Cr(p.zero)) + Floor2(2 * Cr(p.zero)));
    // 4 x 1 mirrors it over four horizontal pixels.
    SetFormat(3, 32, 8);
    Mcu wide(32, 8, 3);
    wide.Fill({p.zero[0], p.zero[1], p.zero[2]});
    std::copy(p.plus.begin(), p.plus.end(), wide.at(0, 0));
    std::copy(p.minus.begin(), p.minus.end(), wide.at(4, 0));
    std::copy(p.plus.begin(), p.plus.end(), wide.at(8, 0));
    std::copy(p.plus.begin(), p.plus.end(), wide.at(10, 0));
    ConvertH4V1(wide.pointers.data());
    EXPECT_EQ(g.engine.blockBuffers[4][0], 0);
    EXPECT_EQ(g.engine.blockBuffers[4][1], -1);
    EXPECT_EQ(g.engine.blockBuffers[4][2], 0);  // (1 + 0) >> 1 twice
    EXPECT_EQ(g.engine.blockBuffers[5][1], Floor2(Cr(p.minus) + Cr(p.zero)) + Floor2(2 * Cr(p.zero)));
    // 2 x 1 adds the two scale-64 values: no halving.
    SetFormat(3, 16, 8);
    Mcu pair(16, 8, 3);
    pair.Fill({p.zero[0], p.zero[1], p.zero[2]});
    std::copy(p.plus.begin(), p.plus.end(), pair.at(0, 0));
    std::copy(p.minus.begin(), p.minus.end(), pair.at(2, 0));
    ConvertH2V1(pair.pointers.data());
    EXPECT_EQ(g.engine.blockBuffers[2][0], 1);
    EXPECT_EQ(g.engine.blockBuffers[2][1], -1);
    EXPECT_EQ(g.engine.blockBuffers[3][0], Cr(p.plus) + Cr(p.zero));
    EXPECT_EQ(g.engine.blockBuffers[3][1], Cr(p.minus) + Cr(p.zero));
    EXPECT_EQ(g.engine.blockBuffers[3][2], 2 * Cr(p.zero));
}

// ---- edge padding --------------------------------------------------------

void PrefillEdgeRows() {
    for (auto& row : g.engine.edgeRows) std::memset(row, 0xAA, kEdgeRowBytes);
    for (int r = 0; r < 16; ++r) g.engine.edgeRowPointers[r] = g.engine.edgeRows[r];
}

TEST_F(EdgePadding, LastColumnThenLastRowAreRepeated) {
    SetFormat(4, 16, 16);
    Mcu mcu(16, 3, 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 16; ++x)
            for (int k = 0; k < 4; ++k) mcu.at(x, y)[k] = uint8_t(16 * y + x + 64 * k);
    PrefillEdgeRows();
    FillEdgeMcu(mcu.pointers.data(), 5, 3);
    for (int r = 0; r < 16; ++r) {
        for (int x = 0; x < 16; ++x)
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(g.engine.edgeRows[r][4 * x + k], mcu.at(std::min(x, 4), std::min(r, 2))[k]) << r << " " << x;
        for (int i = 64; i < kEdgeRowBytes; ++i) ASSERT_EQ(g.engine.edgeRows[r][i], 0xAA);
    }
}

TEST_F(EdgePadding, FourToOneRowsUseNinetySixBytes) {
    SetFormat(3, 32, 8);
    Mcu mcu(32, 8, 3);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x)
            for (int k = 0; k < 3; ++k) mcu.at(x, y)[k] = uint8_t(x * 8 + y + k);
    PrefillEdgeRows();
    FillEdgeMcu(mcu.pointers.data(), 30, 8);
    for (int r = 0; r < 8; ++r) {
        for (int x = 0; x < 32; ++x)
            for (int k = 0; k < 3; ++k) ASSERT_EQ(g.engine.edgeRows[r][3 * x + k], mcu.at(std::min(x, 29), r)[k]);
        for (int i = 96; i < kEdgeRowBytes; ++i) ASSERT_EQ(g.engine.edgeRows[r][i], 0xAA);
    }
    // Converting the padded MCU equals converting the same pixels in place.
    ConvertH4V1(g.engine.edgeRowPointers);
    std::vector<int16_t> padded(&g.engine.blockBuffers[0][0], &g.engine.blockBuffers[6][0]);
    for (int y = 0; y < 8; ++y)
        for (int x = 30; x < 32; ++x) std::copy(mcu.at(29, y), mcu.at(29, y) + 3, mcu.at(x, y));
    ConvertH4V1(mcu.pointers.data());
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), &g.engine.blockBuffers[0][0]));
}

TEST_F(EdgePadding, McuOutsideTheImageIsMidGrey) {
    for (int bpp : {1, 2, 3, 4}) {
        SetFormat(bpp, 16, 16);
        PrefillEdgeRows();
        FillEdgeMcu(nullptr, 0, 16);  // no rows are read
        for (int r = 0; r < 16; ++r) {
            for (int i = 0; i < 16 * bpp; ++i) ASSERT_EQ(g.engine.edgeRows[r][i], 128) << bpp;
            for (int i = 16 * bpp; i < kEdgeRowBytes; ++i) ASSERT_EQ(g.engine.edgeRows[r][i], 0xAA);
        }
        PrefillEdgeRows();
        FillEdgeMcu(nullptr, 16, 0);
        EXPECT_EQ(g.engine.edgeRows[15][16 * bpp - 1], 128);
    }
}

}  // namespace
