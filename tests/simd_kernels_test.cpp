// Every vector kernel, at every SIMD level this processor has, gives exactly
// the scalar kernel's results: on random blocks, on extreme blocks, on real
// photographs, and for colour exhaustively over all 2^24 RGB values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decode/color_output.h"
#include "decode/inverse_dct.h"
#include "encode/color_convert.h"
#include "encode/forward_dct.h"
#include "interface/global_state.h"
#include "platform/cpu.h"
#include "platform/simd_dispatch.h"
#include "test_support.h"

namespace {

using namespace q32vex;

// The vector levels this processor can run (the scalar level is the reference).
std::vector<SimdLevel> VectorLevels() {
    std::vector<SimdLevel> levels;
    for (int l = kSimdSse2; l <= CpuSimdLevel(); ++l) levels.push_back(SimdLevel(l));
    return levels;
}

// A forward quantisation table as the derived-table builder lays it out:
// multiplier m in the high half, dead-zone threshold trunc(16384 / m) low.
void MakeEncTable(std::mt19937& rng, int maxMultiplier, uint32_t* table) {
    for (int k = 0; k < 64; ++k) {
        const uint32_t m = 1 + rng() % uint32_t(maxMultiplier);
        table[k] = (m << 16) | (16384 / m);
    }
}

// Annex K luminance at quality 50 (natural order) through the multiplier
// formula: the tables real images are coded with.
void MakeAnnexKEncTable(int scalePercent, uint32_t* table) {
    static const int kLum[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                 14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                 18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const double kScale[8] = {0.70710679065997, 0.98078528105666, 0.92387953507478,
                                     0.83146961788496, 0.70710679065997, 0.55557024694407,
                                     0.38268345093153, 0.19509034501116};
    static const int kExp[8] = {0, 2, 1, 2, 0, 2, 1, 2};
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            int q = kLum[8 * u + v] * scalePercent / 100;
            q = q < 1 ? 1 : q > 255 ? 255 : q;
            const double p = std::ldexp(1.0, kExp[u] + kExp[v] - 4);
            double y = p * (kScale[u] * kScale[v]) * 32768 / q + 0.5;
            if (y > 32767) y = 32767;
            const uint32_t m = uint32_t(y);
            table[8 * u + v] = (m << 16) | (m ? 16384 / m : 0);
        }
    }
}

std::string LevelName(SimdLevel level) { return SimdLevelName(level); }

// Natural index of zigzag position k (ITU-T T.81 figure A.6).
int NaturalIndex(int k) {
    static const int kOrder[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    return kOrder[k];
}

// ---------------------------------------------------------------------------
// Forward DCT and quantiser.

class SimdForwardDct : public vextest::LibraryTest {
protected:
    // Runs every level on `samples` and expects the scalar result.
    void Check(const int16_t* samples, const uint32_t* table, const std::string& what) {
        int16_t expected[64];
        std::memcpy(expected, samples, sizeof(expected));
        ForwardDctQuantize(expected, table);
        for (SimdLevel level : VectorLevels()) {
            alignas(16) int16_t got[64 + 8];
            std::memcpy(got, samples, 128);
            for (int i = 64; i < 72; ++i) got[i] = int16_t(0xAAAA);
            ChooseForwardDct(level)(got, table);
            ASSERT_EQ(0, std::memcmp(got, expected, sizeof(expected)))
                << what << " at level " << LevelName(level);
            for (int i = 64; i < 72; ++i) ASSERT_EQ(got[i], int16_t(0xAAAA)) << "wrote past the block";
        }
    }
};

TEST_F(SimdForwardDct, RandomSampleBlocksMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(7);
    uint32_t table[64];
    for (int n = 0; n < 20000; ++n) {
        if (n % 50 == 0) MakeEncTable(rng, n % 100 == 0 ? 32767 : 4000, table);
        int16_t block[64];
        // Samples as the converters make them: 128 x (s - 128) and chroma
        // means at the same scale (any value in -16384..16256).
        for (int k = 0; k < 64; ++k) block[k] = int16_t(int(rng() % 32641) - 16384);
        Check(block, table, "random samples " + std::to_string(n));
    }
}

TEST_F(SimdForwardDct, ExtremeAndPatternedBlocksMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    uint32_t tables[3][64];
    for (int k = 0; k < 64; ++k) tables[0][k] = (1024u << 16) | 16;  // q = 1 at DC scale
    MakeAnnexKEncTable(100, tables[1]);
    MakeAnnexKEncTable(1, tables[2]);  // all ones after clamping: the largest multipliers
    std::vector<std::vector<int16_t>> blocks;
    blocks.push_back(std::vector<int16_t>(64, 0));
    blocks.push_back(std::vector<int16_t>(64, 16256));   // all 255
    blocks.push_back(std::vector<int16_t>(64, -16384));  // all 0
    std::vector<int16_t> b(64);
    for (int k = 0; k < 64; ++k) b[k] = (k % 2) ? 16256 : -16384;  // alternating columns
    blocks.push_back(b);
    for (int k = 0; k < 64; ++k) b[k] = ((k / 8) % 2) ? 16256 : -16384;  // alternating rows
    blocks.push_back(b);
    for (int k = 0; k < 64; ++k) b[k] = ((k / 8 + k) % 2) ? 16256 : -16384;  // checkerboard
    blocks.push_back(b);
    for (int k = 0; k < 64; ++k) b[k] = int16_t(-16384 + 258 * k);  // ramp
    blocks.push_back(b);
    for (int k = 0; k < 64; ++k) b[k] = (k == 27) ? 16256 : -16384;  // single spike
    blocks.push_back(b);
    for (const auto& block : blocks)
        for (const auto& table : tables) Check(block.data(), table, "patterned block");
}

TEST_F(SimdForwardDct, Full16BitInputsWrapLikeScalar) {
    // Outside the converters' range the 16-bit sums wrap; the vector code must
    // wrap the same way.
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(11);
    uint32_t table[64];
    MakeEncTable(rng, 32767, table);
    for (int n = 0; n < 5000; ++n) {
        int16_t block[64];
        for (int k = 0; k < 64; ++k) block[k] = int16_t(rng());
        if (n % 7 == 0)
            for (int k = 0; k < 64; ++k) block[k] = (rng() & 1) ? 32767 : -32768;
        Check(block, table, "full-range block");
    }
}

TEST_F(SimdForwardDct, PairKernelsMatchTwoScalarBlocks) {
    // Two blocks with different tables, as the engine pairs them across
    // components.
    std::mt19937 rng(17);
    std::vector<SimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), kSimdScalar);
    for (int n = 0; n < 5000; ++n) {
        uint32_t ta[64], tb[64];
        MakeEncTable(rng, n % 2 ? 32767 : 3000, ta);
        MakeAnnexKEncTable(1 + int(rng() % 200), tb);
        int16_t a[64], b[64];
        for (int k = 0; k < 64; ++k) {
            a[k] = int16_t(int(rng() % 32641) - 16384);
            b[k] = n % 3 ? int16_t(int(rng() % 32641) - 16384) : int16_t(rng());
        }
        int16_t expectA[64], expectB[64];
        std::memcpy(expectA, a, sizeof(a));
        std::memcpy(expectB, b, sizeof(b));
        ForwardDctQuantize(expectA, ta);
        ForwardDctQuantize(expectB, tb);
        for (SimdLevel level : levels) {
            int16_t gotA[64], gotB[64];
            std::memcpy(gotA, a, sizeof(a));
            std::memcpy(gotB, b, sizeof(b));
            ChooseForwardDctPair(level)(gotA, ta, gotB, tb);
            ASSERT_EQ(0, std::memcmp(gotA, expectA, sizeof(gotA))) << "first block, level " << LevelName(level);
            ASSERT_EQ(0, std::memcmp(gotB, expectB, sizeof(gotB))) << "second block, level " << LevelName(level);
        }
    }
}

// ---------------------------------------------------------------------------
// Dequantisation and inverse DCT.

class SimdInverseDct : public vextest::LibraryTest {
protected:
    void Check(const int16_t* coefs, const DecQuantTable& table, const std::string& what) {
        int16_t expected[64];
        std::memcpy(expected, coefs, sizeof(expected));
        InverseDctBlock(expected, &table);
        for (SimdLevel level : VectorLevels()) {
            alignas(16) int16_t got[64 + 8];
            std::memcpy(got, coefs, 128);
            for (int i = 64; i < 72; ++i) got[i] = int16_t(0xAAAA);
            ChooseInverseDct(level)(got, &table);
            ASSERT_EQ(0, std::memcmp(got, expected, sizeof(expected)))
                << what << " at level " << LevelName(level);
            for (int i = 64; i < 72; ++i) ASSERT_EQ(got[i], int16_t(0xAAAA)) << "wrote past the block";
        }
    }
    // Values and shifts as the derived-table builder makes them: value in
    // 128..32767 region, shift 4..11.
    static DecQuantTable RandomTable(std::mt19937& rng) {
        DecQuantTable t;
        for (int k = 0; k < 64; ++k) {
            t.value[k] = uint16_t(rng() % 32768);
            t.shift[k] = uint16_t(4 + rng() % 8);
        }
        return t;
    }
};

TEST_F(SimdInverseDct, SparseCodedBlocksMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(3);
    DecQuantTable table = RandomTable(rng);
    for (int n = 0; n < 20000; ++n) {
        if (n % 100 == 0) table = RandomTable(rng);
        int16_t coefs[64] = {};
        // Like real data: a DC and a few low-frequency coefficients.
        const int count = int(rng() % 12);
        coefs[0] = int16_t(int(rng() % 4096) - 2048);
        for (int i = 0; i < count; ++i) coefs[1 + rng() % 63] = int16_t(int(rng() % 2047) - 1023);
        Check(coefs, table, "sparse block " + std::to_string(n));
    }
}

TEST_F(SimdInverseDct, ExtremeBlocksMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(5);
    DecQuantTable tables[3];
    for (int k = 0; k < 64; ++k) {
        tables[0].value[k] = 8192;  // q = 16 at DC: value 8192, shift 8
        tables[0].shift[k] = 8;
        tables[1].value[k] = 32767;
        tables[1].shift[k] = 11;
    }
    tables[2] = RandomTable(rng);
    const int16_t fills[] = {0, 1, -1, 2047, -2048, 32767, -32768, 1023, -1024};
    for (const DecQuantTable& table : tables) {
        for (int16_t fill : fills) {
            int16_t coefs[64];
            for (int k = 0; k < 64; ++k) coefs[k] = fill;
            Check(coefs, table, "uniform block " + std::to_string(fill));
            int16_t dcOnly[64] = {};
            dcOnly[0] = fill;
            Check(dcOnly, table, "DC-only block " + std::to_string(fill));
            for (int k = 0; k < 64; ++k) coefs[k] = (k % 2) ? fill : int16_t(-fill);
            Check(coefs, table, "alternating block " + std::to_string(fill));
        }
    }
}

TEST_F(SimdInverseDct, Full16BitCoefficientsWrapLikeScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(9);
    for (int n = 0; n < 10000; ++n) {
        const DecQuantTable table = RandomTable(rng);
        int16_t coefs[64];
        for (int k = 0; k < 64; ++k) coefs[k] = int16_t(rng());
        Check(coefs, table, "full-range block");
    }
}

// The engine's form: natural-order coefficients and a DequantTable, with the
// DC-only shortcut; it must equal the zigzag kernel on the same block.
TEST_F(SimdInverseDct, NaturalOrderKernelsMatchTheZigzagKernel) {
    std::mt19937 rng(13);
    std::vector<SimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), kSimdScalar);
    for (int n = 0; n < 20000; ++n) {
        const DecQuantTable table = RandomTable(rng);
        DequantTable dequant;
        MakeDequantTable(&table, &dequant);
        int16_t coded[64] = {};
        const int kind = n % 4;
        coded[0] = int16_t(kind == 3 ? int16_t(rng()) : int(rng() % 4096) - 2048);
        if (kind == 1) {
            for (int i = 0; i < 6; ++i) coded[1 + rng() % 63] = int16_t(int(rng() % 2047) - 1023);
        } else if (kind == 2) {
            for (int k = 0; k < 64; ++k) coded[k] = int16_t(rng());
        }  // kinds 0 and 3: DC only, with in-range and full-range values
        int16_t expected[64];
        std::memcpy(expected, coded, sizeof(expected));
        InverseDctBlock(expected, &table);
        for (SimdLevel level : levels) {
            alignas(16) int16_t got[64 + 8];
            for (int k = 0; k < 64; ++k) got[NaturalIndex(k)] = coded[k];
            for (int i = 64; i < 72; ++i) got[i] = int16_t(0xAAAA);
            ChooseInverseDctNatural(level)(got, &dequant);
            ASSERT_EQ(0, std::memcmp(got, expected, sizeof(expected)))
                << "block " << n << " at level " << LevelName(level);
            for (int i = 64; i < 72; ++i) ASSERT_EQ(got[i], int16_t(0xAAAA)) << "wrote past the block";
        }
    }
}

// Blocks without AC coefficients skip the transform: every DC value, through
// tables whose scale and multiplier wrap, gives the full transform's block.
TEST_F(SimdInverseDct, FlatBlockShortcutMatchesTheTransformForEveryDcValue) {
    std::mt19937 rng(29);
    for (int t = 0; t < 6; ++t) {
        DecQuantTable table = RandomTable(rng);
        if (t == 0) table.shift[0] = 15;  // 2^15 wraps to -32768 as a 16-bit factor
        if (t == 1) table.shift[0] = 0;
        DequantTable dequant;
        MakeDequantTable(&table, &dequant);
        for (int dc = -32768; dc <= 32767; ++dc) {
            int16_t expected[64] = {};
            expected[0] = int16_t(dc);
            InverseDctBlock(expected, &table);
            int16_t got[64] = {};
            got[0] = int16_t(dc);
            InverseDctDcOnly(got, &dequant);
            ASSERT_EQ(0, std::memcmp(got, expected, sizeof(expected))) << "dc " << dc << ", table " << t;
        }
    }
}

TEST_F(SimdInverseDct, PairKernelsMatchTwoScalarBlocks) {
    // Every mix of DC-only and full blocks, each with its own table.
    std::mt19937 rng(19);
    std::vector<SimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), kSimdScalar);
    for (int n = 0; n < 8000; ++n) {
        DequantTable ta, tb;
        const DecQuantTable qa = RandomTable(rng), qb = RandomTable(rng);
        MakeDequantTable(&qa, &ta);
        MakeDequantTable(&qb, &tb);
        alignas(16) int16_t a[64] = {}, b[64] = {};
        a[0] = int16_t(int(rng() % 4096) - 2048);
        b[0] = int16_t(rng());
        if (n % 4 & 1)
            for (int i = 0; i < 5; ++i) a[rng() % 64] = int16_t(int(rng() % 2047) - 1023);
        if (n % 4 & 2)
            for (int k = 0; k < 64; ++k) b[k] = int16_t(rng());
        alignas(16) int16_t expectA[64], expectB[64];
        std::memcpy(expectA, a, sizeof(a));
        std::memcpy(expectB, b, sizeof(b));
        InverseDctNatural(expectA, &ta);
        InverseDctNatural(expectB, &tb);
        for (SimdLevel level : levels) {
            alignas(16) int16_t gotA[64], gotB[64];
            std::memcpy(gotA, a, sizeof(a));
            std::memcpy(gotB, b, sizeof(b));
            ChooseInverseDctPair(level)(gotA, &ta, gotB, &tb);
            ASSERT_EQ(0, std::memcmp(gotA, expectA, sizeof(gotA))) << "first block, level " << LevelName(level);
            ASSERT_EQ(0, std::memcmp(gotB, expectB, sizeof(gotB))) << "second block, level " << LevelName(level);
        }
    }
}

// ---------------------------------------------------------------------------
// Colour conversion (compression side).

struct Layout {
    int sampling;
    int bytesPerPixel;
    McuConverter scalar;
    int mcuWidth, mcuHeight, blocks;
};

const Layout kConverterLayouts[] = {
    {0, 2, ConvertH2V1, 16, 8, 4},  {0, 3, ConvertH2V1, 16, 8, 4},  {0, 4, ConvertH2V1, 16, 8, 4},
    {1, 2, ConvertH2V2, 16, 16, 6}, {1, 3, ConvertH2V2, 16, 16, 6}, {1, 4, ConvertH2V2, 16, 16, 6},
    {2, 2, ConvertH1V1, 8, 8, 3},   {2, 3, ConvertH1V1, 8, 8, 3},   {2, 4, ConvertH1V1, 8, 8, 3},
    {3, 1, ConvertGrey, 8, 8, 1},   {6, 3, ConvertH4V1, 32, 8, 6},  {4, 4, ConvertCmykH2V2, 16, 16, 10},
    {5, 4, ConvertCmyk, 8, 8, 4},
};

class SimdColorConvert : public vextest::LibraryTest {
protected:
    // Converts one MCU whose rows are `pixels` (mcuWidth x bpp bytes each, laid
    // out without gaps) with the scalar and every vector converter.
    void Check(const Layout& layout, const uint8_t* pixels, const std::string& what) {
        g.format.bytesPerPixel = uint16_t(layout.bytesPerPixel);
        const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
        // Each row in its own exactly sized allocation, so that a read past
        // the row shows up under the address sanitizer.
        std::vector<std::vector<uint8_t>> rowStore(layout.mcuHeight);
        uint8_t* rows[16];
        for (int r = 0; r < layout.mcuHeight; ++r) {
            rowStore[r].assign(pixels + r * rowBytes, pixels + (r + 1) * rowBytes);
            rows[r] = rowStore[r].data();
        }
        std::memset(g.engine.blockBuffers, 0xAA, sizeof(g.engine.blockBuffers));
        layout.scalar(rows);
        int16_t expected[10][64];
        std::memcpy(expected, g.engine.blockBuffers, sizeof(expected));
        for (SimdLevel level : VectorLevels()) {
            McuConverter vector = ChooseConverter(uint16_t(layout.sampling),
                                                  uint16_t(layout.bytesPerPixel), layout.scalar, level);
            std::memset(g.engine.blockBuffers, 0xAA, sizeof(g.engine.blockBuffers));
            vector(rows);
            ASSERT_EQ(0, std::memcmp(expected, g.engine.blockBuffers, sizeof(expected)))
                << what << ": sampling " << layout.sampling << ", " << layout.bytesPerPixel
                << " bytes per pixel, level " << LevelName(level);
        }
    }
};

TEST_F(SimdColorConvert, RandomAndUniformMcusMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(21);
    for (const Layout& layout : kConverterLayouts) {
        const size_t bytes = size_t(layout.mcuWidth) * layout.mcuHeight * layout.bytesPerPixel;
        std::vector<uint8_t> pixels(bytes);
        for (int n = 0; n < 300; ++n) {
            for (auto& p : pixels) p = uint8_t(rng());
            Check(layout, pixels.data(), "random MCU");
        }
        for (int fill : {0, 255, 128, 127, 1}) {
            std::fill(pixels.begin(), pixels.end(), uint8_t(fill));
            Check(layout, pixels.data(), "uniform MCU " + std::to_string(fill));
        }
    }
}

TEST_F(SimdColorConvert, PhotographMcusMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    for (const Layout& layout : kConverterLayouts) {
        vextest::Image image;
        const std::string name = layout.bytesPerPixel == 1 ? "gray1.pgm" : "photo2.ppm";
        ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath(name), &image, layout.bytesPerPixel));
        const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
        std::vector<uint8_t> mcu(rowBytes * layout.mcuHeight);
        for (int y = 0; y + layout.mcuHeight <= image.height; y += layout.mcuHeight) {
            for (int x = 0; x + layout.mcuWidth <= image.width; x += layout.mcuWidth) {
                for (int r = 0; r < layout.mcuHeight; ++r)
                    std::memcpy(mcu.data() + r * rowBytes,
                                image.row(y + r) + size_t(x) * layout.bytesPerPixel, rowBytes);
                Check(layout, mcu.data(), name + " MCU at " + std::to_string(x) + "," + std::to_string(y));
            }
        }
    }
}

// Every 24-bit colour through the 4:4:4 converter (no averaging, so every
// pixel's Y, Cb and Cr are compared on their own).
TEST_F(SimdColorConvert, AllRgbValuesMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    g.format.bytesPerPixel = 3;
    std::vector<McuConverter> vectors;
    for (SimdLevel level : VectorLevels()) vectors.push_back(ChooseConverter(2, 3, ConvertH1V1, level));
    uint8_t rowStore[8][24];
    uint8_t* rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = rowStore[r];
    int16_t expected[3][64];
    for (uint32_t base = 0; base < (1u << 24); base += 64) {
        for (int i = 0; i < 64; ++i) {
            const uint32_t rgb = base + uint32_t(i);
            uint8_t* p = rowStore[i / 8] + 3 * (i % 8);
            p[0] = uint8_t(rgb);
            p[1] = uint8_t(rgb >> 8);
            p[2] = uint8_t(rgb >> 16);
        }
        ConvertH1V1(rows);
        std::memcpy(expected, g.engine.blockBuffers, sizeof(expected));
        for (size_t l = 0; l < vectors.size(); ++l) {
            vectors[l](rows);
            if (std::memcmp(expected, g.engine.blockBuffers, sizeof(expected)) != 0) {
                FAIL() << "colours " << base << ".." << base + 63 << " differ at level "
                       << LevelName(VectorLevels()[l]);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// MCU output routines (decompression side).

struct OutputLayout {
    int sampling;
    int bytesPerPixel;
    McuOutputRoutine scalar;
    int mcuWidth, mcuHeight, blocks;
};

const OutputLayout kOutputLayouts[] = {
    {0, 2, OutputH2V1, 16, 8, 4},  {0, 3, OutputH2V1, 16, 8, 4},  {0, 4, OutputH2V1, 16, 8, 4},
    {1, 2, OutputH2V2, 16, 16, 6}, {1, 3, OutputH2V2, 16, 16, 6}, {1, 4, OutputH2V2, 16, 16, 6},
    {2, 2, OutputH1V1, 8, 8, 3},   {2, 3, OutputH1V1, 8, 8, 3},   {2, 4, OutputH1V1, 8, 8, 3},
    {3, 1, OutputGrey, 8, 8, 1},   {6, 3, OutputH4V1, 32, 8, 6},  {4, 4, OutputFourH2V2, 16, 16, 10},
    {5, 4, OutputFour, 8, 8, 4},
};

class SimdColorOutput : public vextest::LibraryTest {
protected:
    static constexpr int kGuard = 16;

    // Writes one MCU from `blocks` with the scalar and every vector routine
    // into rows prefilled with 0xAA and followed by guard bytes.
    void Check(const OutputLayout& layout, const int16_t (*blocks)[64], const std::string& what) {
        g.format.bytesPerPixel = uint16_t(layout.bytesPerPixel);
        const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
        auto run = [&](McuOutputRoutine routine, std::vector<uint8_t>* out) {
            out->assign((rowBytes + kGuard) * layout.mcuHeight, 0xAA);
            uint8_t* rows[16];
            for (int r = 0; r < layout.mcuHeight; ++r) rows[r] = out->data() + r * (rowBytes + kGuard);
            std::memcpy(g.engine.blockBuffers, blocks, sizeof(int16_t) * 64 * layout.blocks);
            routine(rows);
        };
        std::vector<uint8_t> expected, got;
        run(layout.scalar, &expected);
        for (SimdLevel level : VectorLevels()) {
            run(ChooseOutputRoutine(uint16_t(layout.sampling), uint16_t(layout.bytesPerPixel),
                                    layout.scalar, level),
                &got);
            ASSERT_EQ(expected, got) << what << ": sampling " << layout.sampling << ", "
                                     << layout.bytesPerPixel << " bytes per pixel, level "
                                     << LevelName(level);
        }
        // The guard bytes after each row are never touched.
        for (int r = 0; r < layout.mcuHeight; ++r)
            for (int i = 0; i < kGuard; ++i) ASSERT_EQ(expected[r * (rowBytes + kGuard) + rowBytes + i], 0xAA);
    }
};

TEST_F(SimdColorOutput, RandomAndExtremeSamplesMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    std::mt19937 rng(31);
    int16_t blocks[10][64];
    for (const OutputLayout& layout : kOutputLayouts) {
        for (int n = 0; n < 300; ++n) {
            for (auto& block : blocks)
                for (auto& s : block) s = int16_t(rng());
            Check(layout, blocks, "random samples");
        }
        for (int16_t fill : {int16_t(0), int16_t(32767), int16_t(-32768), int16_t(32760), int16_t(-256)}) {
            for (auto& block : blocks)
                for (auto& s : block) s = fill;
            Check(layout, blocks, "uniform samples " + std::to_string(fill));
        }
    }
}

// Every chroma index pair (1024 x 1024) with luma running through all 16-bit
// values, in the 4:4:4 routine where each pixel has its own chroma.
TEST_F(SimdColorOutput, AllChromaPairsMatchScalar) {
    if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this processor";
    for (int bpp : {3, 2}) {
        const OutputLayout& layout = kOutputLayouts[bpp == 3 ? 7 : 6];
        int16_t blocks[3][64];
        uint32_t pixel = 0;
        for (uint32_t base = 0; base < (1u << 20); base += 64) {
            for (int i = 0; i < 64; ++i, ++pixel) {
                const uint32_t pair = base + uint32_t(i);
                blocks[0][i] = int16_t(uint16_t(pixel * 40503u));
                // Chroma index = bits 6..15; the low six bits vary too.
                blocks[1][i] = int16_t(uint16_t(((pair & 1023) << 6) | (pixel & 63)));
                blocks[2][i] = int16_t(uint16_t(((pair >> 10) << 6) | ((pixel >> 3) & 63)));
            }
            Check(layout, blocks, "chroma pairs from " + std::to_string(base));
            if (HasFatalFailure()) return;
        }
    }
}

TEST_F(SimdColorOutput, ScalarKernelIsChosenAtScalarLevel) {
    // The dispatch never hands out a vector routine below its level.
    EXPECT_EQ(ChooseOutputRoutine(1, 3, OutputH2V2, kSimdScalar), &OutputH2V2);
    EXPECT_EQ(ChooseConverter(1, 3, ConvertH2V2, kSimdScalar), &ConvertH2V2);
    EXPECT_EQ(ChooseForwardDct(kSimdScalar), &ForwardDctQuantize);
    EXPECT_EQ(ChooseInverseDct(kSimdScalar), &InverseDctBlock);
    for (SimdLevel level : VectorLevels()) {
        EXPECT_NE(ChooseOutputRoutine(1, 3, OutputH2V2, level), &OutputH2V2) << LevelName(level);
        EXPECT_NE(ChooseConverter(1, 3, ConvertH2V2, level), &ConvertH2V2) << LevelName(level);
    }
}

}  // namespace
