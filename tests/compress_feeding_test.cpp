// The compressed stream must not depend on how the host feeds the library:
// band shapes (every band mode, requested or from a memory budget) and output
// buffer sizes change the calls, never the bytes.
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::CompressBands;
using compress::Feed;
using compress::MakeParams;
using compress::ResetGuardedSink;
using compress::Sink;

struct FeedCase {
    const char* name;
    Feed feed;
};

class CompressFeeding : public LibraryTest {
protected:
    // Compresses with every feed and checks each stream against the first.
    void ExpectSameStreams(const AppVexParams& params, const Image& image,
                           const std::vector<FeedCase>& feeds) {
        std::vector<uint8_t> reference;
        ASSERT_EQ(CompressBands(params, image, feeds[0].feed, &reference), 0) << feeds[0].name;
        ASSERT_GT(reference.size(), 100u);
        for (size_t i = 1; i < feeds.size(); ++i) {
            std::vector<uint8_t> stream;
            int calls = 0;
            ASSERT_EQ(CompressBands(params, image, feeds[i].feed, &stream, &calls), 0)
                << feeds[i].name;
            EXPECT_FALSE(Sink().guardBroken) << feeds[i].name;
            EXPECT_FALSE(Sink().sizeTooLarge) << feeds[i].name;
            EXPECT_EQ(stream, reference) << feeds[i].name << " (" << calls << " band calls)";
        }
    }

    static std::vector<FeedCase> WithBuffers(std::vector<FeedCase> bands) {
        std::vector<FeedCase> all;
        for (uint16_t size : {uint16_t(4096), uint16_t(1), uint16_t(7), uint16_t(65535)}) {
            for (const FeedCase& c : bands) {
                FeedCase f = c;
                f.feed.outputBuffer = size;
                all.push_back(f);
            }
        }
        return all;
    }
};

// Untiled 100 x 50, MCU 16 x 8: band modes 0, 1 and 3, requested and budgeted.
std::vector<FeedCase> UntiledFeeds() {
    std::vector<FeedCase> f;
    f.push_back({"whole image", Feed{}});
    Feed mode0;  // 40 x 20 becomes a 32-pixel piece of one MCU row
    mode0.bandWidth = 40;
    mode0.bandHeight = 20;
    f.push_back({"mode 0 requested", mode0});
    Feed mode0Min;
    mode0Min.bandWidth = 16;
    mode0Min.bandHeight = 8;
    f.push_back({"mode 0 one MCU", mode0Min});
    Feed mode1;  // full width, 16 rows
    mode1.bandWidth = 100;
    mode1.bandHeight = 20;
    f.push_back({"mode 1 requested", mode1});
    Feed budget0;
    budget0.bandMemory = 1000;
    f.push_back({"mode 0 budget", budget0});
    Feed budget1;
    budget1.bandMemory = 9000;
    f.push_back({"mode 1 budget", budget1});
    Feed budget3;
    budget3.bandMemory = 1 << 20;
    f.push_back({"mode 3 budget", budget3});
    return f;
}

// 100 x 50 in 32 x 16 tiles: all four band modes.
std::vector<FeedCase> TiledFeeds() {
    std::vector<FeedCase> f;
    f.push_back({"whole image", Feed{}});
    Feed mode0;
    mode0.bandWidth = 16;
    mode0.bandHeight = 8;
    f.push_back({"mode 0 requested", mode0});
    Feed mode1;
    mode1.bandWidth = 32;
    mode1.bandHeight = 8;
    f.push_back({"mode 1 requested", mode1});
    Feed mode2;
    mode2.bandWidth = 64;
    mode2.bandHeight = 16;
    f.push_back({"mode 2 requested", mode2});
    Feed mode3;
    mode3.bandWidth = 100;
    mode3.bandHeight = 32;
    f.push_back({"mode 3 requested", mode3});
    Feed budget0;
    budget0.bandMemory = 400;
    f.push_back({"mode 0 budget", budget0});
    Feed budget1;
    budget1.bandMemory = 800;
    f.push_back({"mode 1 budget", budget1});
    Feed budget2;
    budget2.bandMemory = 3200;
    f.push_back({"mode 2 budget", budget2});
    Feed budget3;
    budget3.bandMemory = 5000;
    f.push_back({"mode 3 budget", budget3});
    return f;
}

TEST_F(CompressFeeding, UntiledStreamsAreIdenticalForEveryContainer) {
    const Image image = MakeTestImage(100, 50, 3, 11);
    for (int16_t kind : {int16_t(0), int16_t(1), int16_t(2)}) {
        SCOPED_TRACE("container " + std::to_string(kind));
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.containerKind = kind;
        ExpectSameStreams(p, image, WithBuffers(UntiledFeeds()));
    }
}

TEST_F(CompressFeeding, TiledStreamsAreIdenticalForEveryContainer) {
    const Image image = MakeTestImage(100, 50, 3, 12);
    for (int16_t kind : {int16_t(0), int16_t(1), int16_t(2)}) {
        SCOPED_TRACE("container " + std::to_string(kind));
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.containerKind = kind;
        p.tileWidth = 32;
        p.tileHeight = 16;
        ExpectSameStreams(p, image, WithBuffers(TiledFeeds()));
    }
}

// Restart markers are counted across passes and bands, so they must not
// move when the bands do; 4:2:0 with 32-bit pixels exercises 16-row MCUs.
TEST_F(CompressFeeding, RestartIntervalsAndTallMcusDoNotDependOnBands) {
    const Image image = MakeTestImage(100, 50, 4, 13);
    AppVexParams p = MakeParams(2, 1, 100, 50);
    p.restartInterval = 3;
    p.tileWidth = 48;
    p.tileHeight = 32;
    std::vector<FeedCase> feeds;
    feeds.push_back({"whole image", Feed{}});
    Feed mode0;
    mode0.bandWidth = 16;
    mode0.bandHeight = 16;
    feeds.push_back({"mode 0", mode0});
    Feed mode1;
    mode1.bandWidth = 48;
    mode1.bandHeight = 16;
    feeds.push_back({"mode 1", mode1});
    Feed mode2;
    mode2.bandWidth = 96;
    mode2.bandHeight = 32;
    feeds.push_back({"mode 2", mode2});
    Feed budget;
    budget.bandMemory = 2000;
    feeds.push_back({"budget", budget});
    for (int16_t kind : {int16_t(1), int16_t(2)}) {
        SCOPED_TRACE("container " + std::to_string(kind));
        p.containerKind = kind;
        ExpectSameStreams(p, image, WithBuffers(feeds));
    }
}

// A natural image whose size is no multiple of the MCU, fed in narrow budget
// bands: every pair keeps its stream whatever the feed.
TEST_F(CompressFeeding, EveryPairIsIndependentOfFeeding) {
    for (const compress::Pair& pair : compress::SupportedPairs()) {
        SCOPED_TRACE(pair.name);
        const Image image = compress::PhotoImage(pair.format, 75, 41);
        ASSERT_EQ(image.width, 75);
        AppVexParams p = MakeParams(pair.format, pair.sampling, 75, 41);
        std::vector<FeedCase> feeds;
        feeds.push_back({"whole image", Feed{}});
        Feed narrow;
        narrow.bandWidth = 32;
        narrow.bandHeight = 16;
        narrow.outputBuffer = 7;
        feeds.push_back({"mode 0, 7-byte buffers", narrow});
        Feed rows;
        rows.bandWidth = 75;
        rows.bandHeight = 16;
        rows.outputBuffer = 1;
        feeds.push_back({"mode 1, 1-byte buffers", rows});
        ExpectSameStreams(p, image, feeds);
    }
}

// The band calls report clipped bands that tile the image exactly once.
TEST_F(CompressFeeding, ReportedBandsCoverTheImageOnce) {
    const Image image = MakeTestImage(100, 50, 3, 14);
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.tileWidth = 32;
    p.tileHeight = 16;
    p.bandWidth = 64;
    p.bandHeight = 16;
    ResetGuardedSink(4096);
    p.writeCallback = compress::GuardedWrite;
    ASSERT_EQ(AppVexCompressBuffInit(&p), 0);
    EXPECT_EQ(p.bandWidth, 64);
    EXPECT_EQ(p.bandHeight, 16);
    std::vector<int> covered(100 * 50, 0);
    BandRect band = {0, 0, 63, 15};
    std::vector<BandRect> reported;
    for (int guard = 0; guard < 1000; ++guard) {
        for (int y = band.y0; y <= band.y1; ++y)
            for (int x = band.x0; x <= band.x1; ++x) ++covered[y * 100 + x];
        std::vector<uint8_t*> rows;
        for (int y = band.y0; y <= band.y1; ++y)
            rows.push_back(const_cast<uint8_t*>(image.row(y)) + band.x0 * 3);
        BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        ASSERT_EQ(AppVexCompressBuff(rows.data(), &next), 0);
        if (next.x0 == 1 && next.x1 == 0) {
            // y0 and y1 are left as they were.
            EXPECT_EQ(next.y0, 0xEEEE);
            EXPECT_EQ(next.y1, 0xEEEE);
            break;
        }
        reported.push_back(next);
        band = next;
    }
    for (int i = 0; i < 100 * 50; ++i) ASSERT_EQ(covered[i], 1) << "pixel " << i;
    // Mode 2 bands: two tiles wide, one tile row high, clipped at the edges.
    ASSERT_GE(reported.size(), 2u);
    EXPECT_EQ(reported[0].x0, 64);
    EXPECT_EQ(reported[0].y0, 0);
    EXPECT_EQ(reported[0].x1, 99);
    EXPECT_EQ(reported[0].y1, 15);
    EXPECT_EQ(reported[1].x0, 0);
    EXPECT_EQ(reported[1].y0, 16);
    EXPECT_EQ(reported[1].x1, 63);
    EXPECT_EQ(reported[1].y1, 31);
    EXPECT_EQ(reported.back().y1, 49);
}

}  // namespace
}  // namespace vextest
