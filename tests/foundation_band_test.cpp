// Band geometry as a host experiences it: which band size it gets back for a
// request or a memory budget, how wide a band row can be, and in which order
// units and bands walk over tiles. The walk is also checked as a whole over a
// sweep of shapes: every MCU of the padded image is coded exactly once.
#include <cstdint>
#include <random>
#include <vector>

#include "band/band_geometry.h"
#include "interface/global_state.h"
#include "platform/allocator.h"
#include "test_support.h"

namespace {

using namespace q32vex;
using vextest::LibraryTest;

struct Shape {
    uint16_t width, height;
    uint16_t mcuW = 16, mcuH = 8, bits = 24;
    uint16_t tileW = 0xFFFF, tileH = 0xFFFF;
    uint16_t bandW = 0, bandH = 0;
    int32_t bandMemory = 0;
};

// Prepares the global copy the way a sequence open does before it asks for
// the geometry, and asks.
Status Choose(const Shape& s) {
    AppVexSetDefaultCompress(&g.seq.params);
    AppVexParams& p = g.seq.params;
    p.width = s.width;
    p.height = s.height;
    p.tileWidth = s.tileW;
    p.tileHeight = s.tileH;
    p.bandWidth = s.bandW;
    p.bandHeight = s.bandH;
    p.bandMemory = s.bandMemory;
    g.seq.mcuWidth = s.mcuW;
    g.seq.mcuHeight = s.mcuH;
    g.seq.bitsPerPixel = s.bits;
    g.seq.maxWidth = uint16_t(2047 * s.mcuW);
    g.band = BandGeometry{};
    return ChooseBandGeometry();
}

Shape Image100x50() { return Shape{100, 50}; }

bool Same(const Rect16& r, uint16_t x0, uint16_t y0, uint16_t x1, uint16_t y1) {
    return r.x0 == x0 && r.y0 == y0 && r.x1 == x1 && r.y1 == y1;
}

::testing::AssertionResult RectIs(const Rect16& r, uint16_t x0, uint16_t y0, uint16_t x1,
                                  uint16_t y1) {
    if (Same(r, x0, y0, x1, y1)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << r.x0 << ", " << r.y0 << ", " << r.x1 << ", "
                                         << r.y1 << ") instead of (" << x0 << ", " << y0 << ", "
                                         << x1 << ", " << y1 << ")";
}

bool Inside(const Rect16& inner, const Rect16& outer) {
    return inner.x0 >= outer.x0 && inner.x1 <= outer.x1 && inner.y0 >= outer.y0 &&
           inner.y1 <= outer.y1;
}

// One step of the walk as the sequences drive it: the next unit, and a new
// band whenever the unit has left the current one.
int Step() {
    const int result = AdvanceUnit();
    if (result != kImageDone && !Inside(g.band.unitRect, g.band.bandRect)) AdvanceBand();
    return result;
}

// ---- the 100 x 50 image in its forms --------------------------------------

using BandRequest = LibraryTest;

TEST_F(BandRequest, WholeImageBand) {
    Shape s = Image100x50();
    s.bandW = 100;
    s.bandH = 50;
    ASSERT_EQ(Choose(s), 0);
    const BandGeometry& b = g.band;
    EXPECT_EQ(b.bandMode, 3);
    EXPECT_EQ(g.seq.params.bandWidth, 100);
    EXPECT_EQ(g.seq.params.bandHeight, 50);
    EXPECT_EQ(g.seq.params.tileWidth, 100);
    EXPECT_EQ(g.seq.params.tileHeight, 50);
    EXPECT_EQ(b.paddedTileWidth, 112);
    EXPECT_EQ(b.paddedTileHeight, 56);
    EXPECT_EQ(b.paddedImageWidth, 112);
    EXPECT_EQ(b.paddedImageHeight, 56);
    EXPECT_EQ(b.bandSpanWidth, 112);
    EXPECT_EQ(b.bandSpanHeight, 56);
    EXPECT_EQ(b.unitWidth, 112);
    EXPECT_EQ(b.passWidth, 112);
    EXPECT_TRUE(RectIs(b.unitRect, 0, 0, 111, 7));
    EXPECT_TRUE(RectIs(b.bandRect, 0, 0, 111, 55));
}

TEST_F(BandRequest, EachModeSnapsTheRequestToItsGrid) {
    struct Case {
        uint16_t tileW, tileH, bandW, bandH;
        int mode;
        uint16_t outW, outH, passWidth, spanW, spanH;
    };
    const Case cases[] = {
        // untiled
        {0xFFFF, 0xFFFF, 100, 47, 1, 100, 40, 112, 112, 40},    // lower than the image
        {0xFFFF, 0xFFFF, 99, 50, 0, 96, 8, 16, 96, 8},         // 6 and 7 MCUs share only 1
        {0xFFFF, 0xFFFF, 500, 900, 3, 100, 50, 112, 112, 56},  // larger than the image
        // 32 x 16 tiles
        {32, 16, 20, 50, 0, 16, 8, 16, 16, 8},
        {32, 16, 32, 10, 1, 32, 8, 32, 32, 8},
        {32, 16, 64, 16, 2, 64, 16, 32, 64, 16},
        {32, 16, 95, 40, 2, 64, 16, 32, 64, 16},
        {32, 16, 100, 40, 3, 100, 32, 32, 128, 32},
        {32, 16, 100, 50, 3, 100, 50, 32, 128, 64},
    };
    for (const Case& c : cases) {
        Shape s = Image100x50();
        s.tileW = c.tileW;
        s.tileH = c.tileH;
        s.bandW = c.bandW;
        s.bandH = c.bandH;
        ASSERT_EQ(Choose(s), 0) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.band.bandMode, c.mode) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.seq.params.bandWidth, c.outW) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.seq.params.bandHeight, c.outH) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.band.bandSpanWidth, c.spanW) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.band.bandSpanHeight, c.spanH) << c.bandW << "x" << c.bandH;
        EXPECT_EQ(g.band.passWidth, c.passWidth) << c.bandW << "x" << c.bandH;
    }
}

TEST_F(BandRequest, RefusesBandsBelowOneMcu) {
    Shape s = Image100x50();
    s.bandW = 15;
    s.bandH = 50;
    EXPECT_EQ(Choose(s), VEX_ERR_BAND);
    s.bandW = 100;
    s.bandH = 7;
    EXPECT_EQ(Choose(s), VEX_ERR_BAND);
    // Images smaller than an MCU take bands as small as the image.
    s = Shape{5, 3};
    s.bandW = 5;
    s.bandH = 3;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.bandMode, 3);
    EXPECT_EQ(g.band.paddedImageWidth, 16);
    EXPECT_EQ(g.band.paddedImageHeight, 8);
    EXPECT_EQ(g.band.passWidth, 16);
}

using TileChecks = LibraryTest;

TEST_F(TileChecks, TilesMustBeWholeMcusWhenSmallerThanTheImage) {
    Shape s = Image100x50();
    s.bandW = 100;
    s.bandH = 50;
    s.tileW = 0;
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
    s.tileW = 24;  // not a multiple of 16
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
    s.tileW = 200;  // wider than the image: one tile column
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.seq.params.tileWidth, 100);
    s.tileW = 100;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.seq.params.tileWidth, 100);
    s.tileH = 12;  // not a multiple of 8
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
    s.tileH = 0;
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
}

TEST_F(TileChecks, ChecksRunInOrderSizeTileWidthTileHeightBand) {
    Shape s{0, 50};
    s.tileW = 24;
    s.bandW = 1;
    s.bandH = 1;
    EXPECT_EQ(Choose(s), VEX_ERR_IMAGE_SIZE);
    s = Shape{100, 0};
    EXPECT_EQ(Choose(s), VEX_ERR_IMAGE_SIZE);
    s = Image100x50();
    s.tileW = 24;
    s.tileH = 12;
    s.bandW = 1;
    s.bandH = 1;
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
    s.tileW = 200;
    EXPECT_EQ(Choose(s), VEX_ERR_TILE);
    // What was settled before the failure stays settled.
    EXPECT_EQ(g.seq.params.tileWidth, 100);
    s.tileH = 16;
    EXPECT_EQ(Choose(s), VEX_ERR_BAND);
}

TEST_F(TileChecks, ImagesThatCannotBePaddedIn16BitsAreRefused) {
    // 65535 columns round up to 65536 with any MCU width.
    Shape s{65535, 16};
    s.bandW = 64;
    s.bandH = 8;
    EXPECT_EQ(Choose(s), VEX_ERR_IMAGE_SIZE);
    s = Shape{16, 65535};
    s.bandW = 16;
    s.bandH = 8;
    EXPECT_EQ(Choose(s), VEX_ERR_IMAGE_SIZE);
    // Tiles that overshoot the 16-bit range.
    s = Shape{65500, 16};
    s.tileW = 1024;
    s.bandW = 1024;
    s.bandH = 8;
    EXPECT_EQ(Choose(s), VEX_ERR_IMAGE_SIZE);
    // The largest widths that still pad to 65535 or less are fine.
    s = Shape{65520, 16};
    s.bandW = 4096;
    s.bandH = 8;
    EXPECT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.paddedImageWidth, 65520);
    s = Shape{65504, 8, 32, 8, 24};
    s.bandW = 4096;
    s.bandH = 8;
    EXPECT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.paddedImageWidth, 65504);
}

// ---- budgets, at and around every threshold ---------------------------------

struct BudgetCase {
    int32_t budget;
    int16_t status;
    int mode;
    uint16_t bandW, bandH, passWidth;
};

void CheckBudgets(Shape s, const std::vector<BudgetCase>& cases) {
    for (const BudgetCase& c : cases) {
        s.bandMemory = c.budget;
        ASSERT_EQ(Choose(s), c.status) << "budget " << c.budget;
        if (c.status != 0) continue;
        EXPECT_EQ(g.band.bandMode, c.mode) << "budget " << c.budget;
        EXPECT_EQ(g.seq.params.bandWidth, c.bandW) << "budget " << c.budget;
        EXPECT_EQ(g.seq.params.bandHeight, c.bandH) << "budget " << c.budget;
        EXPECT_EQ(g.band.passWidth, c.passWidth) << "budget " << c.budget;
        EXPECT_EQ(g.seq.params.bandMemory, c.budget) << "the budget stays";
    }
}

using BandBudget = LibraryTest;

TEST_F(BandBudget, UntiledImageThresholds) {
    // 100 x 50 at 24 bits: one MCU piece 16 x 8 = 384 bytes, one MCU row of
    // the image 2400 bytes, the whole image 15000 bytes.
    CheckBudgets(Image100x50(), {
                                    {0, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {-1, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {INT32_MIN, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {300, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {383, VEX_ERR_BAND, 0, 0, 0, 0},
                                    {384, 0, 0, 16, 8, 16},
                                    {1000, 0, 0, 32, 8, 16},
                                    {2399, 0, 0, 96, 8, 16},
                                    {2400, 0, 1, 100, 8, 112},
                                    {14999, 0, 1, 100, 48, 112},
                                    {15000, 0, 3, 100, 50, 112},
                                    {INT32_MAX, 0, 3, 100, 50, 112},
                                });
}

TEST_F(BandBudget, TiledImageThresholds) {
    // 32 x 16 tiles: 384-byte MCU piece, 768-byte tile MCU row, 1536-byte
    // tile, 4800-byte tile row, 15000-byte image.
    Shape s = Image100x50();
    s.tileW = 32;
    s.tileH = 16;
    CheckBudgets(s, {
                        {383, VEX_ERR_BAND, 0, 0, 0, 0},
                        {384, 0, 0, 16, 8, 16},
                        {767, 0, 0, 16, 8, 16},
                        {768, 0, 1, 32, 8, 32},
                        {1535, 0, 1, 32, 8, 32},
                        {1536, 0, 2, 32, 16, 32},
                        {3072, 0, 2, 64, 16, 32},
                        {4799, 0, 2, 96, 16, 32},
                        {4800, 0, 3, 100, 16, 32},
                        {9600, 0, 3, 100, 32, 32},
                        {14999, 0, 3, 100, 48, 32},
                        {15000, 0, 3, 100, 50, 32},
                    });
}

TEST_F(BandBudget, NarrowBandPicksTheCheapestPassAndNarrowsTheBand) {
    // A 320-pixel tile is 20 MCUs; the budget holds 9 MCUs (3456 bytes at 24
    // bits, below one 7680-byte tile MCU row). Cost = passes per tile MCU row
    // x (bands per tile row)^2: 1-MCU passes with 9-MCU bands 20 x 9 = 180;
    // 2-MCU passes, 8-MCU bands 10 x 9 = 90; 5-MCU passes, 5-MCU bands
    // 4 x 16 = 64; 4-MCU passes, 8-MCU bands 5 x 9 = 45, the cheapest.
    Shape s{320, 40};
    s.bandMemory = 9 * 384;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.bandMode, 0);
    EXPECT_EQ(g.band.passWidth, 64);
    EXPECT_EQ(g.seq.params.bandWidth, 128);
    EXPECT_EQ(g.band.unitWidth, 128);
    EXPECT_TRUE(RectIs(g.band.bandRect, 0, 0, 127, 7));
}

using RowLimit = LibraryTest;

TEST_F(RowLimit, FullWidthRequestIsReplacedByABudgetOfWholeRows) {
    // 30000 pixels at 32 bits are 120000 bytes a row. The band of 100 rows
    // becomes a budget of 100 x 64 KiB, which gives 48 full-width rows, then
    // 24, then 8, then a 16384-pixel piece of one MCU row; the pass search
    // then settles on 1875-MCU passes and bands (3750 MCUs per tile row).
    Shape s{30000, 100, 8, 8, 32};
    s.bandW = 30000;
    s.bandH = 100;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.bandMode, 0);
    EXPECT_EQ(g.seq.params.bandMemory, 8 * 65536);
    EXPECT_EQ(g.seq.params.bandHeight, 8);
    EXPECT_EQ(g.seq.params.bandWidth, 15000);
    EXPECT_EQ(g.band.passWidth, 15000);
}

TEST_F(RowLimit, ExactlyOneBandRowOf64KiBIsAllowed) {
    Shape s{16384, 16, 8, 8, 32};
    s.bandW = 16384;
    s.bandH = 16;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_EQ(g.band.bandMode, 3);
    EXPECT_EQ(g.seq.params.bandMemory, 0);
    EXPECT_EQ(g.seq.params.bandWidth, 16384);
    s = Shape{16386, 16, 8, 8, 32};  // 65544 bytes: one row too wide
    s.bandW = 16386;
    s.bandH = 16;
    ASSERT_EQ(Choose(s), 0);
    EXPECT_NE(g.seq.params.bandMemory, 0);
    EXPECT_LE(uint32_t(g.seq.params.bandWidth) * 4, 65536u);
}

// ---- walking units and bands -----------------------------------------------

using BandWalk = LibraryTest;

TEST_F(BandWalk, TiledBandsOfTwoTilesFollowTheWorkedExample) {
    Shape s = Image100x50();
    s.tileW = 32;
    s.tileH = 16;
    s.bandW = 64;
    s.bandH = 16;
    ASSERT_EQ(Choose(s), 0);
    const BandGeometry& b = g.band;
    EXPECT_EQ(b.bandMode, 2);
    EXPECT_EQ(g.seq.params.bandHeight, 16);
    EXPECT_EQ(g.seq.params.bandWidth, 64);
    EXPECT_EQ(b.passWidth, 32);
    EXPECT_EQ(b.paddedImageWidth, 128);
    EXPECT_EQ(b.paddedImageHeight, 64);
    EXPECT_TRUE(RectIs(b.unitRect, 0, 0, 31, 7));
    EXPECT_TRUE(RectIs(b.bandRect, 0, 0, 63, 15));

    EXPECT_EQ(Step(), kSameTile);
    EXPECT_TRUE(RectIs(b.unitRect, 0, 8, 31, 15));
    EXPECT_EQ(Step(), kNewTile);
    EXPECT_TRUE(RectIs(b.unitRect, 32, 0, 63, 7));
    EXPECT_EQ(Step(), kSameTile);
    EXPECT_TRUE(RectIs(b.unitRect, 32, 8, 63, 15));
    EXPECT_TRUE(RectIs(b.bandRect, 0, 0, 63, 15));
    EXPECT_EQ(Step(), kNewTile);
    EXPECT_TRUE(RectIs(b.unitRect, 64, 0, 95, 7));
    // Left the first band: the next reaches to the padded edge.
    EXPECT_TRUE(RectIs(b.bandRect, 64, 0, 127, 15));
    EXPECT_EQ(Step(), kSameTile);
    EXPECT_EQ(Step(), kNewTile);
    EXPECT_TRUE(RectIs(b.unitRect, 96, 0, 127, 7));
    EXPECT_EQ(Step(), kSameTile);
    EXPECT_TRUE(RectIs(b.unitRect, 96, 8, 127, 15));
    EXPECT_EQ(Step(), kNewTile);
    EXPECT_TRUE(RectIs(b.unitRect, 0, 16, 31, 23));
    EXPECT_TRUE(RectIs(b.bandRect, 0, 16, 63, 31));

    // The rest of the image: tiles left to right, then down; two MCU rows
    // each; the last tile row lies partly (y0 = 56 wholly) below the image.
    int units = 9;
    int tileChanges = 4;
    int result;
    while ((result = Step()) != kImageDone) {
        ++units;
        if (result == kNewTile) ++tileChanges;
        ASSERT_LE(units, 32);
    }
    EXPECT_EQ(units, 32);
    EXPECT_EQ(tileChanges, 15);
    EXPECT_TRUE(RectIs(b.unitRect, 96, 56, 127, 63));
    EXPECT_TRUE(RectIs(b.bandRect, 64, 48, 127, 63));
    // Done stays done and moves nothing.
    EXPECT_EQ(AdvanceUnit(), kImageDone);
    EXPECT_TRUE(RectIs(b.unitRect, 96, 56, 127, 63));
}

// Over many shapes: a successful choice gives a usable geometry, and the walk
// visits every MCU of the padded image once, tile by tile, inside its band.
TEST_F(BandWalk, EveryShapeCoversThePaddedImageExactlyOnce) {
    std::mt19937 rng(20240607);
    struct Mcu {
        uint16_t w, h, bits;
    };
    const Mcu mcus[] = {{16, 8, 24}, {16, 16, 16}, {8, 8, 8}, {8, 8, 32}, {32, 8, 24},
                        {16, 16, 32}};
    const uint16_t sizes[] = {1, 5, 8, 15, 16, 17, 31, 33, 64, 100, 150, 257};
    int checked = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const Mcu m = mcus[rng() % 6];
        Shape s{sizes[rng() % 12], sizes[rng() % 12], m.w, m.h, m.bits};
        const int tw = int(rng() % 4), th = int(rng() % 4);
        s.tileW = tw == 0 ? 0xFFFF : uint16_t(m.w * tw * (1 + rng() % 2));
        s.tileH = th == 0 ? 0xFFFF : uint16_t(m.h * th);
        if (rng() % 2) {
            s.bandW = uint16_t(1 + rng() % 300);
            s.bandH = uint16_t(1 + rng() % 300);
        } else {
            s.bandMemory = int32_t(rng() % 40000);
        }
        const Status status = Choose(s);
        if (status != 0) {
            EXPECT_TRUE(status == VEX_ERR_BAND || status == VEX_ERR_TILE) << status;
            continue;
        }
        ++checked;
        const BandGeometry& b = g.band;
        const AppVexParams& p = g.seq.params;
        ASSERT_GE(p.bandWidth, 1);
        ASSERT_GE(p.bandHeight, 1);
        ASSERT_LE((uint32_t(p.bandWidth) * m.bits + 7) / 8, 65536u);
        ASSERT_EQ(b.passWidth % m.w, 0);
        ASSERT_GT(b.passWidth, 0);
        ASSERT_LE(b.passWidth, g.seq.maxWidth);
        ASSERT_EQ(b.paddedTileWidth % b.passWidth, 0);
        ASSERT_EQ(b.unitWidth % b.passWidth, 0) << "a unit is whole passes";
        ASSERT_EQ(b.paddedImageWidth % b.paddedTileWidth, 0);
        ASSERT_EQ(b.paddedImageHeight % b.paddedTileHeight, 0);

        const int cols = b.paddedImageWidth / m.w, rows = b.paddedImageHeight / m.h;
        std::vector<uint8_t> seen(size_t(cols) * rows, 0);
        int lastTileX = -1, lastTileY = -1, result = kNewTile;
        int units = 0;
        do {
            const Rect16 u = b.unitRect;
            ASSERT_EQ(u.y1 - u.y0 + 1, m.h);
            ASSERT_LT(u.x1, b.paddedImageWidth);
            ASSERT_LT(u.y1, b.paddedImageHeight);
            ASSERT_EQ(u.x0 / b.paddedTileWidth, u.x1 / b.paddedTileWidth) << "one tile";
            const int tileX = u.x0 / b.paddedTileWidth, tileY = u.y0 / b.paddedTileHeight;
            ASSERT_EQ(result == kNewTile, tileX != lastTileX || tileY != lastTileY);
            lastTileX = tileX;
            lastTileY = tileY;
            ASSERT_TRUE(Inside(u, b.bandRect));
            ASSERT_LE(b.bandRect.x1 - b.bandRect.x0 + 1, b.bandSpanWidth);
            ASSERT_LE(b.bandRect.y1 - b.bandRect.y0 + 1, b.bandSpanHeight);
            for (int x = u.x0 / m.w; x <= u.x1 / m.w; ++x) {
                uint8_t& cell = seen[size_t(u.y0 / m.h) * cols + x];
                ASSERT_EQ(cell, 0) << "MCU coded twice";
                cell = 1;
            }
            ++units;
            ASSERT_LE(units, cols * rows);
            result = Step();
        } while (result != kImageDone);
        for (uint8_t cell : seen) ASSERT_EQ(cell, 1) << "MCU never coded";
    }
    EXPECT_GT(checked, 1000);
}

// ---- runs of contiguous tiles -------------------------------------------------

using TileRun = LibraryTest;

TEST_F(TileRun, SumsTheTilesStoredBackToBack) {
    ASSERT_EQ(AllocTileArrays(5), 0);
    const uint32_t offsets[5] = {100, 150, 200, 400, 450};
    const uint32_t counts[5] = {50, 50, 30, 50, 10};
    for (int i = 0; i < 5; ++i) {
        g.tiles.offsets[i] = offsets[i];
        g.tiles.byteCounts[i] = counts[i];
    }
    struct Case {
        int current;
        uint16_t tilesLeft;
        uint32_t readAhead;
    };
    const Case cases[] = {
        {0, 5, 80},  // tiles 1 and 2 follow tile 0; tile 3 does not follow tile 2
        {0, 2, 50},  // only one more tile may be looked at
        {0, 1, 0},   // the last tile
        {1, 4, 30},
        {2, 3, 0},   // tile 3 starts elsewhere
        {3, 2, 10},
        {4, 1, 0},
        {3, 9, 10},  // a count beyond the arrays reads nothing past them
    };
    for (const Case& c : cases) {
        g.tiles.byteCountsCursor = g.tiles.byteCounts + c.current;
        g.tiles.offsetsCursor = g.tiles.offsets + c.current;
        g.band.tilesLeft = c.tilesLeft;
        g.in.readAhead = 0xDEAD;
        MergeTileRun();
        EXPECT_EQ(g.in.readAhead, c.readAhead) << "tile " << c.current;
    }
}

}  // namespace
