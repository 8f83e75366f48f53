// Every vector kernel, at every SIMD level this processor has, gives exactly
// the scalar kernel's results: on random blocks, on extreme blocks, on real
// photographs, and for colour exhaustively over all 2^24 RGB values and all
// chroma pairs, with either colour output.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/derived_tables.h"
#include "common/tables.h"
#include "decode/color_output.h"
#include "decode/inverse_dct.h"
#include "encode/color_convert.h"
#include "encode/forward_dct.h"
#include "kernels/kernels.h"
#include "platform/cpu.h"
#include "reference_kernels.h"
#include "test_support.h"

namespace {

using namespace q32vex;
using vextest::InverseDctBlock;
using vextest::LibraryEncQuantTable;
using Block = std::vector<int16_t>;

// The routine an engine would use at `level`: the level's vector one where it
// has one, else the scalar one.
McuConverter ChooseConverter(uint16_t sampling, uint16_t bytesPerPixel, McuConverter scalar, SimdLevel level) {
    const McuConverter vector = KernelsFor(level).converter(sampling, bytesPerPixel);
    return vector != nullptr ? vector : scalar;
}
McuOutputRoutine ChooseOutputRoutine(uint16_t sampling, uint16_t bytesPerPixel, SimdLevel level,
                                     ColourOutput colour = ColourOutput::kWrapping) {
    const KernelTable& kernels = KernelsFor(level, colour);
    const McuOutputRoutine vector = kernels.outputRoutine(sampling, bytesPerPixel);
    return vector != nullptr ? vector : kernels.scalarOutputRoutines[sampling];
}

// The vector levels this processor can run, with the scalar level in front
// when `withScalar` (the pair and natural-order kernels have a scalar twin
// of their own to check).
std::vector<SimdLevel> Levels(bool withScalar = false) {
    std::vector<SimdLevel> levels = vextest::VectorSimdLevels();
    if (withScalar) levels.insert(levels.begin(), kSimdScalar);
    return levels;
}

// The comparisons below are only as good as the list of levels they run: a
// processor family the library has vector kernels for must offer its levels
// (else every comparison would skip), each with its own table.
TEST(SimdLevels, EveryRunnableLevelHasItsOwnTable) {
#if defined(__aarch64__)
    EXPECT_EQ(Levels(), std::vector<SimdLevel>{kSimdNeon});
#elif defined(__x86_64__)
    ASSERT_FALSE(Levels().empty());  // every 64-bit x86 processor has SSE2
    EXPECT_EQ(Levels().front(), kSimdSse2);
#endif
    for (SimdLevel level : Levels(true)) EXPECT_STREQ(KernelsFor(level).name, SimdLevelName(level));
}

#define SKIP_WITHOUT_VECTOR_LEVEL() \
    if (Levels().empty()) GTEST_SKIP() << "no vector level on this processor"

// Runs `kernel` at every level on a copy of `input` followed by guard words
// and expects `expected`, with the guard untouched.
void ExpectAtEveryLevel(const Block& input, const Block& expected, const std::vector<SimdLevel>& levels,
                        const std::function<void(SimdLevel, int16_t*)>& kernel, const std::string& what) {
    for (SimdLevel level : levels) {
        alignas(32) int16_t got[64 + 8];
        std::memcpy(got, input.data(), 128);
        for (int i = 64; i < 72; ++i) got[i] = int16_t(0xAAAA);
        kernel(level, got);
        ASSERT_EQ(Block(got, got + 64), expected) << what << " at level " << SimdLevelName(level);
        for (int i = 64; i < 72; ++i) ASSERT_EQ(got[i], int16_t(0xAAAA)) << "wrote past the block";
    }
}

// Blocks at the limits: for each fill value a uniform block, a DC-only one,
// alternating signs, a checkerboard, a ramp and a single spike.
std::vector<Block> ExtremeBlocks(std::initializer_list<int16_t> fills) {
    std::vector<Block> blocks;
    for (int16_t v : fills) {
        Block uniform(64, v), dc(64, 0), alternating(64), checker(64), ramp(64), spike(64, int16_t(-v));
        dc[0] = v;
        spike[27] = v;
        for (int k = 0; k < 64; ++k) {
            alternating[k] = k % 2 ? v : int16_t(-v);
            checker[k] = (k / 8 + k) % 2 ? v : int16_t(~v);
            ramp[k] = int16_t(v / 64 * k);
        }
        blocks.insert(blocks.end(), {uniform, dc, alternating, checker, ramp, spike});
    }
    return blocks;
}

// 8 x 8 pieces of a grey photograph as the converters hand them to the
// forward DCT: 128 x (s - 128).
std::vector<Block> PhotoBlocks() {
    vextest::Image image;
    EXPECT_TRUE(vextest::LoadPnm(vextest::DataPath("gray1.pgm"), &image, 1));
    std::vector<Block> blocks;
    for (int y = 0; y + 8 <= image.height; y += 8)
        for (int x = 0; x + 8 <= image.width; x += 8) {
            Block b(64);
            for (int k = 0; k < 64; ++k) b[k] = int16_t((image.row(y + k / 8)[x + k % 8] - 128) * 128);
            blocks.push_back(b);
        }
    return blocks;
}

// ---------------------------------------------------------------------------
// Forward DCT and quantiser.

// A forward table as the derived-table builder lays it out: multiplier m in
// the high half, dead-zone threshold trunc(16384 / m) low.
EncQuantTable RandomEncTable(std::mt19937& rng, uint32_t maxMultiplier) {
    EncQuantTable table{};
    for (uint32_t& t : table.entry) {
        const uint32_t m = 1 + rng() % maxMultiplier;
        t = (m << 16) | (16384 / m);
    }
    SetQuantMultipliers(table);
    return table;
}

// The default luminance table scaled to `quality`, as images are coded.
EncQuantTable DefaultEncTable(uint16_t quality) {
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    EXPECT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    std::vector<uint8_t> zigzag(64);
    EXPECT_EQ(AppVexMakeQTable(q[0], quality, zigzag.data()), 0);
    return LibraryEncQuantTable(zigzag.data());
}

using SimdForwardDct = vextest::LibraryTest;

TEST_F(SimdForwardDct, EveryKindOfBlockMatchesScalar) {
    SKIP_WITHOUT_VECTOR_LEVEL();
    std::mt19937 rng(7);
    const std::vector<EncQuantTable> realTables = {
        LibraryEncQuantTable(std::vector<uint8_t>(64, 1).data()), DefaultEncTable(1), DefaultEncTable(25), DefaultEncTable(255)};
    auto check = [&](const Block& samples, const EncQuantTable& table, const std::string& what) {
        Block expected = samples;
        ForwardDctQuantize(expected.data(), &table);
        ExpectAtEveryLevel(
            samples, expected, Levels(), [&](SimdLevel l, int16_t* b) { KernelsFor(l).forwardDct(b, &table); }, what);
    };
    // Samples as the converters make them (-16384..16256), and full 16-bit
    // values whose sums wrap: the vector code must wrap the same way.
    EncQuantTable table{};
    for (int n = 0; n < 25000; ++n) {
        if (n % 50 == 0) table = RandomEncTable(rng, n % 100 == 0 ? 32767 : 4000);
        Block b(64);
        for (int16_t& s : b) s = n < 20000 ? int16_t(int(rng() % 32641) - 16384) : int16_t(rng());
        if (n >= 20000 && n % 7 == 0)
            for (int16_t& s : b) s = (rng() & 1) ? 32767 : -32768;
        check(b, table, "random block " + std::to_string(n));
    }
    for (const Block& b : ExtremeBlocks({0, 16256, -16384, 32767, -32768}))
        for (const auto& t : realTables) check(b, t, "extreme block");
    for (const Block& b : PhotoBlocks())
        for (const auto& t : realTables) check(b, t, "photo block");
}

TEST_F(SimdForwardDct, PairKernelsMatchTwoScalarBlocks) {
    // Two blocks with different tables, as the engine pairs them across
    // components.
    std::mt19937 rng(17);
    for (int n = 0; n < 5000; ++n) {
        const EncQuantTable ta = RandomEncTable(rng, n % 2 ? 32767 : 3000), tb = RandomEncTable(rng, 2000);
        Block a(64), b(64);
        for (int k = 0; k < 64; ++k) {
            a[k] = int16_t(int(rng() % 32641) - 16384);
            b[k] = n % 3 ? int16_t(int(rng() % 32641) - 16384) : int16_t(rng());
        }
        Block expectA = a, expectB = b;
        ForwardDctQuantize(expectA.data(), &ta);
        ForwardDctQuantize(expectB.data(), &tb);
        for (SimdLevel level : Levels(true)) {
            Block gotA = a, gotB = b;
            KernelsFor(level).forwardDctPair(gotA.data(), &ta, gotB.data(), &tb);
            ASSERT_EQ(gotA, expectA) << "first block, level " << SimdLevelName(level);
            ASSERT_EQ(gotB, expectB) << "second block, level " << SimdLevelName(level);
        }
    }
}

// ---------------------------------------------------------------------------
// Dequantisation and inverse DCT.

// Values and shifts as the derived-table builder makes them.
DecQuantTable RandomDecTable(std::mt19937& rng) {
    DecQuantTable t;
    for (int k = 0; k < 64; ++k) {
        t.value[k] = uint16_t(rng() % 32768);
        t.shift[k] = uint16_t(4 + rng() % 8);
    }
    return t;
}

using SimdInverseDct = vextest::LibraryTest;

// The engine's kernel at `levels` on a block in natural order, against the
// reference on the same block in zigzag order with the DecQuantTable the
// DequantTable is made from.
void ExpectNaturalKernelsMatchTheReference(const Block& coded, const DecQuantTable& table,
                                           const std::vector<SimdLevel>& levels, const std::string& what) {
    DequantTable dequant;
    MakeDequantTable(&table, &dequant);
    Block natural(64), expected = coded;
    for (int k = 0; k < 64; ++k) natural[kZigzag[k]] = coded[k];
    InverseDctBlock(expected.data(), &table);
    ExpectAtEveryLevel(
        natural, expected, levels, [&](SimdLevel l, int16_t* b) { KernelsFor(l).inverseDct(b, &dequant); }, what);
}

TEST_F(SimdInverseDct, EveryKindOfBlockMatchesTheReference) {
    std::mt19937 rng(3);
    auto check = [&](const Block& coefs, const DecQuantTable& table, const std::string& what) {
        ExpectNaturalKernelsMatchTheReference(coefs, table, Levels(true), what);
    };
    DecQuantTable table = RandomDecTable(rng);
    for (int n = 0; n < 30000; ++n) {
        if (n % 100 == 0) table = RandomDecTable(rng);
        Block coefs(64, 0);
        if (n < 20000) {  // like real data: a DC and a few low-frequency coefficients
            coefs[0] = int16_t(int(rng() % 4096) - 2048);
            for (int i = int(rng() % 12); i > 0; --i) coefs[1 + rng() % 63] = int16_t(int(rng() % 2047) - 1023);
        } else {  // full 16-bit values, which wrap
            for (int16_t& c : coefs) c = int16_t(rng());
        }
        check(coefs, table, "random block " + std::to_string(n));
    }
    DecQuantTable tables[3];
    for (int k = 0; k < 64; ++k) {
        tables[0].value[k] = 8192;  // q = 16 at DC
        tables[0].shift[k] = 8;
        tables[1].value[k] = 32767;
        tables[1].shift[k] = 11;
    }
    tables[2] = RandomDecTable(rng);
    for (const Block& b : ExtremeBlocks({1, -1, 2047, -2048, 1023, -1024, 32767, -32768}))
        for (const DecQuantTable& t : tables) check(b, t, "extreme block");
    // Photographs through the library's forward DCT at quality 25.
    const EncQuantTable forward = DefaultEncTable(25);
    for (Block b : PhotoBlocks()) {
        ForwardDctQuantize(b.data(), &forward);
        check(b, tables[0], "photo block");
    }
}

// Blocks with and without AC coefficients, each with its own table, so that
// the DC-only shortcut meets every kind of table.
TEST_F(SimdInverseDct, DcOnlyAndFullBlocksMatchTheReference) {
    std::mt19937 rng(13);
    for (int n = 0; n < 20000; ++n) {
        const DecQuantTable table = RandomDecTable(rng);
        Block coded(64, 0);
        const int kind = n % 4;
        coded[0] = int16_t(kind == 3 ? int16_t(rng()) : int(rng() % 4096) - 2048);
        if (kind == 1) {
            for (int i = 0; i < 6; ++i) coded[1 + rng() % 63] = int16_t(int(rng() % 2047) - 1023);
        } else if (kind == 2) {
            for (int16_t& c : coded) c = int16_t(rng());
        }  // kinds 0 and 3: DC only, with in-range and full-range values
        ExpectNaturalKernelsMatchTheReference(coded, table, Levels(true), "block " + std::to_string(n));
    }
}

// Blocks without AC coefficients skip the transform: every DC value, through
// tables whose scale and multiplier wrap, gives the full transform's block.
TEST_F(SimdInverseDct, FlatBlockShortcutMatchesTheTransformForEveryDcValue) {
    std::mt19937 rng(29);
    for (int t = 0; t < 6; ++t) {
        DecQuantTable table = RandomDecTable(rng);
        if (t == 0) table.shift[0] = 15;  // 2^15 wraps to -32768 as a 16-bit factor
        if (t == 1) table.shift[0] = 0;
        DequantTable dequant;
        MakeDequantTable(&table, &dequant);
        for (int dc = -32768; dc <= 32767; ++dc) {
            int16_t expected[64] = {int16_t(dc)}, got[64] = {int16_t(dc)};
            InverseDctBlock(expected, &table);
            InverseDctDcOnly(got, &dequant);
            ASSERT_EQ(0, std::memcmp(got, expected, sizeof(expected))) << "dc " << dc << ", table " << t;
        }
    }
}

TEST_F(SimdInverseDct, PairKernelsMatchTwoScalarBlocks) {
    // Every mix of DC-only and full blocks, each with its own table.
    std::mt19937 rng(19);
    for (int n = 0; n < 8000; ++n) {
        DequantTable ta, tb;
        const DecQuantTable qa = RandomDecTable(rng), qb = RandomDecTable(rng);
        MakeDequantTable(&qa, &ta);
        MakeDequantTable(&qb, &tb);
        alignas(32) int16_t a[64] = {}, b[64] = {};
        a[0] = int16_t(int(rng() % 4096) - 2048);
        b[0] = int16_t(rng());
        if (n % 4 & 1)
            for (int i = 0; i < 5; ++i) a[rng() % 64] = int16_t(int(rng() % 2047) - 1023);
        if (n % 4 & 2)
            for (int16_t& c : b) c = int16_t(rng());
        alignas(32) int16_t expectA[64], expectB[64];
        std::memcpy(expectA, a, sizeof(a));
        std::memcpy(expectB, b, sizeof(b));
        InverseDctNatural(expectA, &ta);
        InverseDctNatural(expectB, &tb);
        for (SimdLevel level : Levels(true)) {
            alignas(32) int16_t gotA[64], gotB[64];
            std::memcpy(gotA, a, sizeof(a));
            std::memcpy(gotB, b, sizeof(b));
            KernelsFor(level).inverseDctPair(gotA, &ta, gotB, &tb);
            ASSERT_EQ(0, std::memcmp(gotA, expectA, sizeof(gotA))) << "first block, level " << SimdLevelName(level);
            ASSERT_EQ(0, std::memcmp(gotB, expectB, sizeof(gotB))) << "second block, level " << SimdLevelName(level);
        }
    }
}

// ---------------------------------------------------------------------------
// Colour conversion (compression) and MCU output (decompression).

struct Layout {
    int sampling, bytesPerPixel;
    McuConverter converter;
    McuOutputRoutine output, saturating;  // the scalar routines of each colour output
    int mcuWidth, mcuHeight, blocks;
    bool threeComponents() const { return saturating != output; }
};

const Layout kLayouts[] = {
    {0, 2, ConvertH2V1, OutputH2V1, OutputH2V1Saturating, 16, 8, 4},
    {0, 3, ConvertH2V1, OutputH2V1, OutputH2V1Saturating, 16, 8, 4},
    {0, 4, ConvertH2V1, OutputH2V1, OutputH2V1Saturating, 16, 8, 4},
    {1, 2, ConvertH2V2, OutputH2V2, OutputH2V2Saturating, 16, 16, 6},
    {1, 3, ConvertH2V2, OutputH2V2, OutputH2V2Saturating, 16, 16, 6},
    {1, 4, ConvertH2V2, OutputH2V2, OutputH2V2Saturating, 16, 16, 6},
    {2, 2, ConvertH1V1, OutputH1V1, OutputH1V1Saturating, 8, 8, 3},
    {2, 3, ConvertH1V1, OutputH1V1, OutputH1V1Saturating, 8, 8, 3},
    {2, 4, ConvertH1V1, OutputH1V1, OutputH1V1Saturating, 8, 8, 3},
    {3, 1, ConvertGrey, OutputGrey, OutputGrey, 8, 8, 1},
    {6, 3, ConvertH4V1, OutputH4V1, OutputH4V1Saturating, 32, 8, 6},
    {4, 4, ConvertCmykH2V2, OutputFourH2V2, OutputFourH2V2, 16, 16, 10},
    {5, 4, ConvertCmyk, OutputFour, OutputFour, 8, 8, 4},
};
constexpr ColourOutput kColourOutputs[] = {ColourOutput::kWrapping, ColourOutput::kSaturating};

std::string Describe(const Layout& l, SimdLevel level, ColourOutput colour = ColourOutput::kWrapping) {
    return "sampling " + std::to_string(l.sampling) + ", " + std::to_string(l.bytesPerPixel) +
           " bytes per pixel, level " + SimdLevelName(level) +
           (colour == ColourOutput::kSaturating ? ", saturating" : ", wrapping");
}

// Converts one MCU whose rows are `pixels` (laid out without gaps) with the
// scalar and every vector converter; each row is its own exactly sized
// allocation, so that a read past it shows up under the address sanitizer.
void CheckConverter(const Layout& layout, const uint8_t* pixels, const std::string& what) {
    const int bpp = layout.bytesPerPixel;
    alignas(32) int16_t blocks[10][64];
    const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
    std::vector<std::vector<uint8_t>> rowStore(layout.mcuHeight);
    uint8_t* rows[16];
    for (int r = 0; r < layout.mcuHeight; ++r) {
        rowStore[r].assign(pixels + r * rowBytes, pixels + (r + 1) * rowBytes);
        rows[r] = rowStore[r].data();
    }
    std::memset(blocks, 0xAA, sizeof(blocks));
    layout.converter(rows, blocks, bpp);
    int16_t expected[10][64];
    std::memcpy(expected, blocks, sizeof(expected));
    for (SimdLevel level : Levels()) {
        std::memset(blocks, 0xAA, sizeof(blocks));
        ChooseConverter(uint16_t(layout.sampling), uint16_t(bpp), layout.converter, level)(rows, blocks, bpp);
        ASSERT_EQ(0, std::memcmp(expected, blocks, sizeof(expected)))
            << what << ": " << Describe(layout, level);
    }
}

// Writes one MCU from `blocks` with the scalar and every vector routine of
// the colour output into rows prefilled with 0xAA and followed by guard
// bytes that stay untouched.
void CheckOutput(const Layout& layout, const int16_t (*blocks)[64], const std::string& what, ColourOutput colour) {
    constexpr int kGuard = 16;
    const int bpp = layout.bytesPerPixel;
    alignas(32) int16_t mcu[10][64];
    const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
    auto run = [&](McuOutputRoutine routine) {
        std::vector<uint8_t> out((rowBytes + kGuard) * layout.mcuHeight, 0xAA);
        uint8_t* rows[16];
        for (int r = 0; r < layout.mcuHeight; ++r) rows[r] = out.data() + r * (rowBytes + kGuard);
        std::memcpy(mcu, blocks, sizeof(int16_t) * 64 * layout.blocks);
        routine(rows, mcu, bpp);
        return out;
    };
    const std::vector<uint8_t> expected =
        run(colour == ColourOutput::kSaturating ? layout.saturating : layout.output);
    for (int r = 0; r < layout.mcuHeight; ++r)
        for (int i = 0; i < kGuard; ++i) ASSERT_EQ(expected[r * (rowBytes + kGuard) + rowBytes + i], 0xAA);
    for (SimdLevel level : Levels())
        ASSERT_EQ(run(ChooseOutputRoutine(uint16_t(layout.sampling), uint16_t(layout.bytesPerPixel), level, colour)),
                  expected)
            << what << ": " << Describe(layout, level, colour);
}

using SimdColor = vextest::LibraryTest;

TEST_F(SimdColor, RandomUniformAndPhotographMcusMatchScalar) {
    SKIP_WITHOUT_VECTOR_LEVEL();
    std::mt19937 rng(21);
    int16_t blocks[10][64];
    for (const Layout& layout : kLayouts) {
        std::vector<uint8_t> pixels(size_t(layout.mcuWidth) * layout.mcuHeight * layout.bytesPerPixel);
        for (int n = 0; n < 300; ++n) {
            for (auto& p : pixels) p = uint8_t(rng());
            CheckConverter(layout, pixels.data(), "random MCU");
            for (auto& block : blocks)
                for (auto& s : block) s = int16_t(rng());
            for (ColourOutput colour : kColourOutputs) CheckOutput(layout, blocks, "random samples", colour);
        }
        for (int fill : {0, 255, 128, 127, 1}) {
            std::fill(pixels.begin(), pixels.end(), uint8_t(fill));
            CheckConverter(layout, pixels.data(), "uniform MCU " + std::to_string(fill));
        }
        for (int16_t fill : {int16_t(0), int16_t(32767), int16_t(-32768), int16_t(32760), int16_t(-256)}) {
            for (auto& block : blocks) std::fill(std::begin(block), std::end(block), fill);
            for (ColourOutput colour : kColourOutputs)
                CheckOutput(layout, blocks, "uniform samples " + std::to_string(fill), colour);
        }
        vextest::Image image;
        const std::string name = layout.bytesPerPixel == 1 ? "gray1.pgm" : "photo2.ppm";
        ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath(name), &image, layout.bytesPerPixel));
        const size_t rowBytes = size_t(layout.mcuWidth) * layout.bytesPerPixel;
        for (int y = 0; y + layout.mcuHeight <= image.height; y += layout.mcuHeight) {
            for (int x = 0; x + layout.mcuWidth <= image.width; x += layout.mcuWidth) {
                for (int r = 0; r < layout.mcuHeight; ++r)
                    std::memcpy(pixels.data() + r * rowBytes, image.row(y + r) + size_t(x) * layout.bytesPerPixel,
                                rowBytes);
                CheckConverter(layout, pixels.data(), name + " MCU at " + std::to_string(x) + "," + std::to_string(y));
            }
        }
    }
}

// Every 24-bit colour through the 4:4:4 converter (no averaging, so every
// pixel's Y, Cb and Cr are compared on their own).
TEST_F(SimdColor, AllRgbValuesConvertAsScalar) {
    SKIP_WITHOUT_VECTOR_LEVEL();
    std::vector<McuConverter> vectors;
    for (SimdLevel level : Levels()) vectors.push_back(ChooseConverter(2, 3, ConvertH1V1, level));
    uint8_t rowStore[8][24];
    uint8_t* rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = rowStore[r];
    int16_t expected[3][64];
    alignas(32) int16_t blocks[10][64];
    for (uint32_t base = 0; base < (1u << 24); base += 64) {
        for (int i = 0; i < 64; ++i) {
            const uint32_t rgb = base + uint32_t(i);
            uint8_t* p = rowStore[i / 8] + 3 * (i % 8);
            p[0] = uint8_t(rgb), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb >> 16);
        }
        ConvertH1V1(rows, blocks, 3);
        std::memcpy(expected, blocks, sizeof(expected));
        for (size_t l = 0; l < vectors.size(); ++l) {
            vectors[l](rows, blocks, 3);
            if (std::memcmp(expected, blocks, sizeof(expected)) != 0)
                FAIL() << "colours " << base << ".." << base + 63 << " differ at level " << SimdLevelName(Levels()[l]);
        }
    }
}

// Every chroma index pair (1024 x 1024) with luma running through all 16-bit
// values, in every three-component routine (the 4:4:4 ones give each pixel
// its own chroma) and with either colour output: every channel sum the
// kernels can meet, from far below 0 to far above 255.
TEST_F(SimdColor, AllChromaPairsOutputAsScalar) {
    SKIP_WITHOUT_VECTOR_LEVEL();
    for (const Layout& layout : kLayouts) {
        if (!layout.threeComponents()) continue;
        const int lumaBlocks = layout.blocks - 2;
        int16_t blocks[10][64];
        uint32_t pixel = 0;
        for (uint32_t base = 0; base < (1u << 20); base += 64) {
            for (int b = 0; b < lumaBlocks; ++b)
                for (int i = 0; i < 64; ++i) blocks[b][i] = int16_t(uint16_t((pixel + uint32_t(64 * b + i)) * 40503u));
            for (int i = 0; i < 64; ++i, ++pixel) {
                const uint32_t pair = base + uint32_t(i);
                // Chroma index = bits 6..15; the low six bits vary too.
                blocks[lumaBlocks][i] = int16_t(uint16_t(((pair & 1023) << 6) | (pixel & 63)));
                blocks[lumaBlocks + 1][i] = int16_t(uint16_t(((pair >> 10) << 6) | ((pixel >> 3) & 63)));
            }
            for (ColourOutput colour : kColourOutputs) {
                CheckOutput(layout, blocks, "chroma pairs from " + std::to_string(base), colour);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST_F(SimdColor, VectorKernelsAreChosenOnlyAboveTheScalarLevel) {
    // The comparisons above mean something only if the dispatch hands out
    // the scalar kernels at the scalar level and others above it.
    EXPECT_EQ(ChooseOutputRoutine(1, 3, kSimdScalar), &OutputH2V2);
    EXPECT_EQ(ChooseConverter(1, 3, ConvertH2V2, kSimdScalar), &ConvertH2V2);
    EXPECT_EQ(KernelsFor(kSimdScalar).forwardDct, &ForwardDctQuantize);
    EXPECT_EQ(KernelsFor(kSimdScalar).inverseDct, &InverseDctNatural);
    for (SimdLevel level : Levels()) {
        EXPECT_NE(ChooseOutputRoutine(1, 3, level), &OutputH2V2) << SimdLevelName(level);
        EXPECT_NE(ChooseConverter(1, 3, ConvertH2V2, level), &ConvertH2V2) << SimdLevelName(level);
        EXPECT_NE(KernelsFor(level).forwardDct, &ForwardDctQuantize) << SimdLevelName(level);
        EXPECT_NE(KernelsFor(level).inverseDct, &InverseDctNatural) << SimdLevelName(level);
    }
}

// Each level has a saturating table that differs from its wrapping one in
// the output routines only: the three-component ones are its own (the
// scalar level's are the scalar saturating routines), grey and
// four-component samples cannot leave 0..255 and keep theirs.
TEST_F(SimdColor, SaturatingTablesDifferInTheThreeComponentOutputOnly) {
    for (SimdLevel level : Levels(true)) {
        const KernelTable& wrapping = KernelsFor(level);
        const KernelTable& saturating = KernelsFor(level, ColourOutput::kSaturating);
        const std::string name = SimdLevelName(level);
        EXPECT_NE(&wrapping, &saturating) << name;
        EXPECT_STREQ(saturating.name, wrapping.name);
        EXPECT_EQ(saturating.inverseDct, wrapping.inverseDct) << name;
        EXPECT_EQ(saturating.decodeMcuBlocks, wrapping.decodeMcuBlocks) << name;
        EXPECT_EQ(saturating.converter, wrapping.converter) << name;
        for (const Layout& l : kLayouts) {
            const uint16_t sampling = uint16_t(l.sampling), bpp = uint16_t(l.bytesPerPixel);
            const McuOutputRoutine w = ChooseOutputRoutine(sampling, bpp, level);
            const McuOutputRoutine s = ChooseOutputRoutine(sampling, bpp, level, ColourOutput::kSaturating);
            if (!l.threeComponents()) {
                EXPECT_EQ(s, w) << Describe(l, level);
            } else {
                EXPECT_NE(s, w) << Describe(l, level);
                if (level == kSimdScalar) EXPECT_EQ(s, l.saturating) << Describe(l, level);
                else EXPECT_NE(s, l.saturating) << Describe(l, level);
            }
        }
    }
}

}  // namespace
