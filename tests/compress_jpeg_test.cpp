// The JFIF stream's structure: segments in their order with their lengths and
// contents, the maker comment, table ids, and restart markers where the
// interval puts them.
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;
using compress::Segment;

// A compressed stream and its segments up to SOS.
struct Written {
    int16_t status = -1;
    Bytes s;
    std::vector<Segment> seg;
    size_t scan = 0;
    Bytes markers() const {
        Bytes m;
        for (const Segment& x : seg) m.push_back(x.marker);
        return m;
    }
    Bytes at(size_t offset, size_t n) const { return Bytes(s.begin() + long(offset), s.begin() + long(offset + n)); }
    const Segment* find(uint8_t marker) const {
        for (const Segment& x : seg)
            if (x.marker == marker) return &x;
        return nullptr;
    }
};

Written Compress(const AppVexParams& p) {
    const int bpp = p.pixelModel == 1 ? 1 : p.pixelModel == 2 ? 4 : 3;
    Written w;
    w.status = CompressImage(p, MakeTestImage(p.width, p.height, bpp, 3), CompressOptions(), &w.s);
    if (w.status == 0) {
        EXPECT_TRUE(compress::ParseSegments(w.s, &w.seg, &w.scan));
    }
    return w;
}

const Bytes kPlainHeader = {0xD8, 0xE0, 0xFE, 0xDB, 0xC4, 0xC0, 0xDA};

class CompressJpeg : public LibraryTest {};

TEST_F(CompressJpeg, ColourHeaderHasEverySegmentInOrder) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.densityUnits = 1;
    p.xDensity = 300;
    p.yDensity = 0x1234;
    const Written w = Compress(p);
    ASSERT_EQ(w.markers(), kPlainHeader);
    // APP0: JFIF 1.00 with the record's density, no thumbnail.
    EXPECT_EQ(w.seg[1].length, 16);
    EXPECT_EQ(w.at(w.seg[1].offset + 4, 14), Bytes({'J', 'F', 'I', 'F', 0, 1, 0, 1, 0x01, 0x2C, 0x12, 0x34, 0, 0}));
    // The maker comment with its zero byte.
    EXPECT_EQ(w.seg[2].length, 23);
    const Bytes comment = w.at(w.seg[2].offset + 4, 21);
    EXPECT_EQ(std::string(comment.begin(), comment.end()), std::string("Brindle Rasters Inc.", 21));
    // DQT: luminance and the chrominance table shared by Cb and Cr, scaled to
    // half (quality 25) and in zigzag order; DHT: DC 0, DC 1, AC 0, AC 1.
    EXPECT_EQ(w.seg[3].length, 132);
    EXPECT_EQ(w.at(w.seg[3].offset + 4, 9), Bytes({0x00, 8, 5, 6, 7, 6, 5, 8, 7}));
    EXPECT_EQ(w.at(w.seg[3].offset + 4 + 65, 9), Bytes({0x01, 8, 9, 9, 12, 10, 12, 23, 13}));
    EXPECT_EQ(w.seg[4].length, 2 + 17 * 4 + 12 + 12 + 162 + 162);
    EXPECT_EQ(w.at(w.seg[5].offset, 19),
              Bytes({0xFF, 0xC0, 0, 17, 8, 0, 50, 0, 100, 3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1}));
    EXPECT_EQ(w.at(w.seg[6].offset, 14), Bytes({0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
    EXPECT_EQ(w.at(w.s.size() - 2, 2), Bytes({0xFF, 0xD9}));

    const Written grey = Compress(MakeParams(3, 3, 17, 9));
    ASSERT_EQ(grey.markers(), kPlainHeader);
    EXPECT_EQ(grey.seg[3].length, 67);
    EXPECT_EQ(grey.seg[4].length, 2 + 17 * 2 + 12 + 162);
    EXPECT_EQ(grey.at(grey.seg[5].offset, 13), Bytes({0xFF, 0xC0, 0, 11, 8, 0, 9, 0, 17, 1, 1, 0x11, 0}));
    EXPECT_EQ(grey.at(grey.seg[6].offset, 10), Bytes({0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0}));
}

// Table ids count up in the order tables are first used; equal bytes at
// other addresses are the same table.
TEST_F(CompressJpeg, TableIdsFollowFirstUse) {
    const Written four = Compress(MakeParams(4, 4, 40, 24));  // chrominance, luminance, luminance, chrominance
    const Segment* dqt = four.find(0xDB);
    ASSERT_NE(dqt, nullptr);
    EXPECT_EQ(dqt->length, 132);
    EXPECT_EQ(four.at(dqt->offset + 4, 3), Bytes({0, 8, 9}));  // id 0: chrominance, 17 / 2 first
    EXPECT_EQ(four.at(four.find(0xC0)->offset + 9, 13), Bytes({4, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1, 4, 0x22, 0}));
    EXPECT_EQ(four.at(four.find(0xDA)->offset + 4, 9), Bytes({4, 1, 0x00, 2, 0x11, 3, 0x11, 4, 0x00}));

    Bytes a(64, 10), b(64, 20), copyOfB(64, 20), c(64, 30);
    AppVexParams p = MakeParams(4, 5, 16, 8);
    p.quality = 50;
    const uint8_t* tables[4] = {a.data(), copyOfB.data(), b.data(), c.data()};
    for (int i = 0; i < 4; ++i) p.qTables[i] = tables[i];
    const Written w = Compress(p);
    const Segment* q = w.find(0xDB);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->length, 2 + 3 * 65);
    EXPECT_EQ(Bytes({w.s[q->offset + 4], w.s[q->offset + 4 + 65], w.s[q->offset + 4 + 130], w.s[q->offset + 4 + 131]}),
              Bytes({0, 1, 2, 30}));
    const size_t sof = w.find(0xC0)->offset;
    EXPECT_EQ(Bytes({w.s[sof + 12], w.s[sof + 15], w.s[sof + 18], w.s[sof + 21]}), Bytes({0, 1, 1, 2}));
}

TEST_F(CompressJpeg, RestartIntervalWritesDriAfterTheQuantisationTables) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.restartInterval = 0x1234;
    const Written w = Compress(p);
    EXPECT_EQ(w.markers(), Bytes({0xD8, 0xE0, 0xFE, 0xDB, 0xDD, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(w.at(w.seg[4].offset, 6), Bytes({0xFF, 0xDD, 0, 4, 0x12, 0x34}));
}

TEST_F(CompressJpeg, RestartMarkersFollowEveryIntervalAndCountModuloEight) {
    // 100 x 50 in 16 x 8 MCUs is 7 x 7 = 49 MCUs in one segment.
    Bytes every;
    for (int i = 0; i < 49; ++i) every.push_back(uint8_t(0xD0 + i % 8));
    const std::pair<uint16_t, Bytes> cases[] = {
        {0, {}},
        {1, every},
        {7, {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6}},  // the last one right before the end
        {5, {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD0}},
        {49, {0xD0}},
        {50, {}},
    };
    for (const auto& [interval, markers] : cases) {
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.restartInterval = interval;
        const Written w = Compress(p);
        Bytes expected = markers;
        expected.push_back(0xD9);
        EXPECT_EQ(compress::ScanMarkers(w.s, w.scan, w.s.size()), expected) << "interval " << interval;
    }
}

}  // namespace
}  // namespace vextest
