// The JFIF stream's structure: segments in their order with their lengths and
// contents, the maker comment, table ids, restart markers where the interval
// puts them, and the host's extra segments through appMarkerCallback.
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
    // Each tile is its own segment: markers start again at D0 in every tile.
    AppVexParams p = MakeParams(1, 2, 64, 16);  // 4:4:4, 8 x 8 MCUs
    p.tileWidth = 32;
    p.tileHeight = 8;  // four tiles of four MCUs
    p.restartInterval = 2;
    const Written w = Compress(p);
    EXPECT_EQ(compress::ScanMarkers(w.s, w.scan, w.s.size()),
              Bytes({0xD0, 0xD1, 0xD0, 0xD1, 0xD0, 0xD1, 0xD0, 0xD1, 0xD9}));
}

// ---- appMarkerCallback ----------------------------------------------------

struct HostSegment {
    uint16_t size = 0, bufferLength = 0;
    Bytes data;
    bool nullData = false;
};

struct MarkerHost {
    Bytes asked;  // marker codes in call order
    HostSegment segments[256];
    uint8_t failMarker = 0;
    int16_t failStatus = 0;
    bool presetsWereZero = true;
};
MarkerHost g_markers;

int16_t VEXAPI MarkerSource(uint8_t marker, uint16_t* size, uint16_t* bufferLength, uint8_t** data) {
    g_markers.asked.push_back(marker);
    if (*size != 0 || *bufferLength != 0) g_markers.presetsWereZero = false;
    if (g_markers.failStatus != 0 && marker == g_markers.failMarker) return g_markers.failStatus;
    HostSegment& h = g_markers.segments[marker];
    *size = h.size;
    *bufferLength = h.bufferLength;
    *data = h.nullData ? nullptr : h.data.data();
    return 0;
}

class CompressAppMarkers : public LibraryTest {
protected:
    void SetUp() override { g_markers = MarkerHost(); }
    static void Give(uint8_t marker, const Bytes& body) {
        HostSegment& h = g_markers.segments[marker];
        h.data = body;
        h.size = uint16_t(body.size() + 4);
        h.bufferLength = uint16_t(body.size());
    }
    static AppVexParams Record() {
        AppVexParams p = MakeParams(1, 0, 40, 24);
        p.appMarkerCallback = MarkerSource;
        return p;
    }
};

TEST_F(CompressAppMarkers, EmptyAnswersLeaveThePlainHeader) {
    const Written w = Compress(Record());
    EXPECT_EQ(w.markers(), kPlainHeader);
    EXPECT_EQ(w.seg[1].length, 16);
    Bytes asked = {0xE0};
    for (int m = 0xE1; m <= 0xEF; ++m) asked.push_back(uint8_t(m));
    asked.push_back(0xFE);
    EXPECT_EQ(g_markers.asked, asked);
    EXPECT_TRUE(g_markers.presetsWereZero);
}

TEST_F(CompressAppMarkers, HostSegmentsReachTheirPlaces) {
    HostSegment& app0 = g_markers.segments[0xE0];
    app0.size = 0x0203;  // a thumbnail 2 wide, 3 high
    for (int i = 0; i < 18; ++i) app0.data.push_back(uint8_t(200 + i));
    app0.bufferLength = 18;
    Give(0xE1, {'E', 'x', 'i', 'f', 0, 0, 1, 2, 3, 4});
    Give(0xEF, {9});
    Give(0xFE, {'h', 'o', 's', 't'});
    g_markers.segments[0xE5].size = 4;  // marker and length only
    AppVexParams p = Record();
    p.restartInterval = 2;
    const Written w = Compress(p);
    // Between the tables (and DRI) and the Huffman tables; the maker comment
    // still comes first.
    ASSERT_EQ(w.markers(), Bytes({0xD8, 0xE0, 0xFE, 0xDB, 0xDD, 0xE1, 0xE5, 0xEF, 0xFE, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(w.seg[1].length, 34);
    EXPECT_EQ(w.at(w.seg[1].offset + 16, 20),
              Bytes({2, 3, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217}));
    EXPECT_EQ(w.seg[2].length, 23);
    EXPECT_EQ(w.seg[5].length, 12);
    EXPECT_EQ(w.at(w.seg[5].offset + 4, 10), g_markers.segments[0xE1].data);
    EXPECT_EQ(w.seg[6].length, 2);
    EXPECT_EQ(w.at(w.seg[7].offset + 2, 3), Bytes({0, 3, 9}));
    EXPECT_EQ(w.at(w.seg[8].offset + 2, 6), Bytes({0, 6, 'h', 'o', 's', 't'}));
    Pnm decoded;
    if (HaveTool("djpeg")) {
        EXPECT_TRUE(Djpeg(w.s, &decoded));
    }
}

TEST_F(CompressAppMarkers, SegmentsThatCannotBeWrittenAreRefused) {
    const Image image = MakeTestImage(40, 24, 3, 1);
    Bytes out;
    // A size of 1 to 3 cannot hold a marker and its length field: the open
    // stops at that segment and leaves the library closed.
    for (uint16_t size : {uint16_t(1), uint16_t(2), uint16_t(3)}) {
        g_markers = MarkerHost();
        HostSegment& h = g_markers.segments[0xE2];
        h.size = size;
        h.bufferLength = 100;
        h.data.assign(100, 1);
        EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), VEX_ERR_CONTAINER) << size;
        EXPECT_EQ(g_markers.asked.back(), 0xE2);
        EXPECT_EQ(AppVexCompressBuff(nullptr, nullptr), VEX_ERR_NOT_COMPRESSING);
    }
    // Data beyond the host's buffer, a thumbnail without its bytes, and one
    // too large for a 16-bit segment length.
    g_markers = MarkerHost();
    Give(0xE3, {1, 2, 3, 4, 5, 6});
    g_markers.segments[0xE3].bufferLength = 5;
    EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), VEX_ERR_CONTAINER);
    g_markers = MarkerHost();
    g_markers.segments[0xE0] = HostSegment{0x0101, 3, {}, true};
    EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), VEX_ERR_CONTAINER);
    g_markers = MarkerHost();
    g_markers.segments[0xE0] = HostSegment{0xFFFF, 0xFFFF, Bytes(0xFFFF, 0), false};
    EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), VEX_ERR_CONTAINER);
    // A callback's own status comes back unchanged.
    for (uint8_t marker : {uint8_t(0xE0), uint8_t(0xE7), uint8_t(0xFE)}) {
        g_markers = MarkerHost();
        g_markers.failMarker = marker;
        g_markers.failStatus = kHostStatus;
        EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), kHostStatus);
        EXPECT_EQ(g_markers.asked.back(), marker);
    }
    // The next sequence is unaffected.
    g_markers = MarkerHost();
    EXPECT_EQ(CompressImage(Record(), image, CompressOptions(), &out), 0);
}

}  // namespace
}  // namespace vextest
