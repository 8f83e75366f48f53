// The JFIF stream's structure: segments in their order with their lengths and
// contents, the maker comment, restart markers where the interval puts them,
// and the host's extra segments through appMarkerCallback.
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::Decoded;
using compress::Djpeg;
using compress::MakeParams;
using compress::ParseSegments;
using compress::ScanMarkers;
using compress::Segment;

std::vector<uint8_t> Compress(AppVexParams p, uint32_t seed = 3) {
    const int bpp = p.pixelModel == 1 ? 1 : p.pixelModel == 2 ? 4 : 3;
    const Image image = MakeTestImage(p.width, p.height, bpp, seed);
    std::vector<uint8_t> out;
    EXPECT_EQ(CompressImage(p, image, CompressOptions(), &out), 0);
    return out;
}

std::vector<uint8_t> MarkersOf(const std::vector<Segment>& segments) {
    std::vector<uint8_t> m;
    for (const Segment& s : segments) m.push_back(s.marker);
    return m;
}

const Segment* Find(const std::vector<Segment>& segments, uint8_t marker) {
    for (const Segment& s : segments)
        if (s.marker == marker) return &s;
    return nullptr;
}

std::vector<uint8_t> Bytes(const std::vector<uint8_t>& s, size_t at, size_t n) {
    return std::vector<uint8_t>(s.begin() + at, s.begin() + at + n);
}

class CompressJpeg : public LibraryTest {};

TEST_F(CompressJpeg, ColourHeaderHasEverySegmentInOrder) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.densityUnits = 1;
    p.xDensity = 300;
    p.yDensity = 0x1234;
    const std::vector<uint8_t> s = Compress(p);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(MarkersOf(seg), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xC4, 0xC0, 0xDA}));

    // APP0: JFIF 1.00 with the record's density, no thumbnail.
    EXPECT_EQ(seg[1].length, 16);
    EXPECT_EQ(Bytes(s, seg[1].offset + 4, 14),
              (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 0, 1, 0x01, 0x2C, 0x12, 0x34, 0, 0}));

    // The maker comment with its zero byte.
    EXPECT_EQ(seg[2].length, 23);
    const std::string comment(reinterpret_cast<const char*>(s.data()) + seg[2].offset + 4, 21);
    EXPECT_EQ(comment, std::string("Brindle Rasters Inc.", 21));

    // DQT: luminance and the chrominance table shared by Cb and Cr, scaled to
    // half (quality 25) and in zigzag order.
    EXPECT_EQ(seg[3].length, 132);
    const size_t q0 = seg[3].offset + 4;
    EXPECT_EQ(s[q0], 0x00);
    EXPECT_EQ(Bytes(s, q0 + 1, 8), (std::vector<uint8_t>{8, 5, 6, 7, 6, 5, 8, 7}));
    EXPECT_EQ(s[q0 + 65], 0x01);
    EXPECT_EQ(Bytes(s, q0 + 66, 8), (std::vector<uint8_t>{8, 9, 9, 12, 10, 12, 23, 13}));

    // DHT: DC 0, DC 1, AC 0, AC 1 of Annex K.
    EXPECT_EQ(seg[4].length, 2 + 17 * 4 + 12 + 12 + 162 + 162);
    size_t at = seg[4].offset + 4;
    for (uint8_t classId : {0x00, 0x01, 0x10, 0x11}) {
        EXPECT_EQ(s[at], classId);
        int symbols = 0;
        for (int i = 1; i <= 16; ++i) symbols += s[at + i];
        EXPECT_EQ(symbols, classId & 0x10 ? 162 : 12);
        at += 17 + symbols;
    }
    EXPECT_EQ(at, seg[5].offset);

    // SOF0 and SOS.
    EXPECT_EQ(Bytes(s, seg[5].offset, 19),
              (std::vector<uint8_t>{0xFF, 0xC0, 0, 17, 8, 0, 50, 0, 100, 3, 1, 0x21, 0, 2, 0x11, 1,
                                    3, 0x11, 1}));
    EXPECT_EQ(Bytes(s, seg[6].offset, 14),
              (std::vector<uint8_t>{0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
    EXPECT_EQ(Bytes(s, s.size() - 2, 2), (std::vector<uint8_t>{0xFF, 0xD9}));
}

TEST_F(CompressJpeg, GreyHeaderHasOneTableOfEachKind) {
    const std::vector<uint8_t> s = Compress(MakeParams(3, 3, 17, 9));
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(MarkersOf(seg), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(seg[3].length, 67);
    EXPECT_EQ(seg[4].length, 2 + 17 * 2 + 12 + 162);
    EXPECT_EQ(Bytes(s, seg[5].offset, 13),
              (std::vector<uint8_t>{0xFF, 0xC0, 0, 11, 8, 0, 9, 0, 17, 1, 1, 0x11, 0}));
    EXPECT_EQ(Bytes(s, seg[6].offset, 10),
              (std::vector<uint8_t>{0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0}));
}

// Four components on chrominance, luminance, luminance, chrominance tables:
// the first table met gets id 0.
TEST_F(CompressJpeg, FourComponentSelectorsFollowFirstUse) {
    const std::vector<uint8_t> s = Compress(MakeParams(4, 4, 40, 24));
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    const Segment* dqt = Find(seg, 0xDB);
    ASSERT_NE(dqt, nullptr);
    EXPECT_EQ(dqt->length, 132);
    // Id 0 is the chrominance table: 17 / 2 in its first place.
    EXPECT_EQ(s[dqt->offset + 5], 8);
    EXPECT_EQ(s[dqt->offset + 5 + 1], 9);
    const Segment* sof = Find(seg, 0xC0);
    ASSERT_NE(sof, nullptr);
    EXPECT_EQ(Bytes(s, sof->offset + 9, 13),
              (std::vector<uint8_t>{4, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1, 4, 0x22, 0}));
    const Segment* sos = Find(seg, 0xDA);
    ASSERT_NE(sos, nullptr);
    EXPECT_EQ(Bytes(s, sos->offset + 4, 9),
              (std::vector<uint8_t>{4, 1, 0x00, 2, 0x11, 3, 0x11, 4, 0x00}));
}

TEST_F(CompressJpeg, RestartIntervalWritesDriAfterTheQuantisationTables) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.restartInterval = 1;
    std::vector<uint8_t> s = Compress(p);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(MarkersOf(seg), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDD, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(Bytes(s, seg[4].offset, 6), (std::vector<uint8_t>{0xFF, 0xDD, 0, 4, 0, 1}));

    p.restartInterval = 0x1234;
    s = Compress(p);
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    const Segment* dri = Find(seg, 0xDD);
    ASSERT_NE(dri, nullptr);
    EXPECT_EQ(Bytes(s, dri->offset + 4, 2), (std::vector<uint8_t>{0x12, 0x34}));
}

// 100 x 50 in 16 x 8 MCUs is 7 x 7 = 49 MCUs in one segment.
TEST_F(CompressJpeg, RestartMarkersFollowEveryIntervalAndCountModuloEight) {
    struct Case {
        uint16_t interval;
        std::vector<uint8_t> markers;
    };
    std::vector<uint8_t> every;
    for (int i = 0; i < 49; ++i) every.push_back(uint8_t(0xD0 + i % 8));
    const std::vector<Case> cases = {
        {0, {}},
        {1, every},
        {7, {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6}},  // the last one right before the end
        {5, {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD0}},
        {49, {0xD0}},
        {50, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("interval " + std::to_string(c.interval));
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.restartInterval = c.interval;
        const std::vector<uint8_t> s = Compress(p);
        std::vector<Segment> seg;
        size_t scan = 0;
        ASSERT_TRUE(ParseSegments(s, &seg, &scan));
        std::vector<uint8_t> expected = c.markers;
        expected.push_back(0xD9);
        EXPECT_EQ(ScanMarkers(s, scan, s.size()), expected);
        if (HaveTool("djpeg")) {
            Decoded d;
            EXPECT_TRUE(Djpeg(s, &d, "restart" + std::to_string(c.interval)));
        }
    }
}

// Each tile is its own segment: markers start again at D0 in every tile.
TEST_F(CompressJpeg, RestartNumberingStartsAgainInEveryTile) {
    AppVexParams p = MakeParams(1, 2, 64, 16);  // 4:4:4, 8 x 8 MCUs
    p.tileWidth = 32;
    p.tileHeight = 8;  // four tiles of four MCUs
    p.restartInterval = 3;
    std::vector<uint8_t> s = Compress(p);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(ScanMarkers(s, scan, s.size()), (std::vector<uint8_t>{0xD0, 0xD0, 0xD0, 0xD0, 0xD9}));

    p.restartInterval = 2;
    s = Compress(p);
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(ScanMarkers(s, scan, s.size()),
              (std::vector<uint8_t>{0xD0, 0xD1, 0xD0, 0xD1, 0xD0, 0xD1, 0xD0, 0xD1, 0xD9}));
}

// ---- appMarkerCallback ----------------------------------------------------

struct HostSegment {
    uint16_t size = 0;
    uint16_t bufferLength = 0;
    std::vector<uint8_t> data;
    bool nullData = false;
};

struct MarkerHost {
    std::vector<uint8_t> asked;  // marker codes in call order
    HostSegment segments[256];
    uint8_t failMarker = 0;
    int16_t failStatus = 0;
    bool presetsWereZero = true;
};
MarkerHost g_markers;

int16_t VEXAPI MarkerSource(uint8_t marker, uint16_t* size, uint16_t* bufferLength,
                            uint8_t** data) {
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

    static void Give(uint8_t marker, const std::vector<uint8_t>& body) {
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
    const std::vector<uint8_t> s = Compress(Record());
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(MarkersOf(seg), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(seg[1].length, 16);
    std::vector<uint8_t> asked = {0xE0};
    for (int m = 0xE1; m <= 0xEF; ++m) asked.push_back(uint8_t(m));
    asked.push_back(0xFE);
    EXPECT_EQ(g_markers.asked, asked);
    EXPECT_TRUE(g_markers.presetsWereZero);
}

TEST_F(CompressAppMarkers, ThumbnailFollowsTheJfifBody) {
    HostSegment& app0 = g_markers.segments[0xE0];
    app0.size = 0x0203;  // 2 wide, 3 high
    for (int i = 0; i < 18; ++i) app0.data.push_back(uint8_t(200 + i));
    app0.bufferLength = 18;
    const std::vector<uint8_t> s = Compress(Record());
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    ASSERT_EQ(seg[1].marker, 0xE0);
    EXPECT_EQ(seg[1].length, 34);
    EXPECT_EQ(Bytes(s, seg[1].offset + 4, 5), (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0}));
    EXPECT_EQ(s[seg[1].offset + 16], 2);
    EXPECT_EQ(s[seg[1].offset + 17], 3);
    EXPECT_EQ(Bytes(s, seg[1].offset + 18, 18), app0.data);
    EXPECT_EQ(seg[2].marker, 0xFE);
    if (HaveTool("djpeg")) {
        Decoded d;
        EXPECT_TRUE(Djpeg(s, &d, "thumbnail"));
    }
}

TEST_F(CompressAppMarkers, HostSegmentsStandBetweenTheTablesAndTheHuffmanTables) {
    Give(0xE1, {'E', 'x', 'i', 'f', 0, 0, 1, 2, 3, 4});
    Give(0xEF, {9});
    Give(0xFE, {'h', 'o', 's', 't'});
    HostSegment& empty = g_markers.segments[0xE5];
    empty.size = 4;  // marker and length only
    AppVexParams p = Record();
    p.restartInterval = 2;
    const std::vector<uint8_t> s = Compress(p);
    std::vector<Segment> seg;
    size_t scan = 0;
    ASSERT_TRUE(ParseSegments(s, &seg, &scan));
    EXPECT_EQ(MarkersOf(seg), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDD, 0xE1, 0xE5, 0xEF,
                                                    0xFE, 0xC4, 0xC0, 0xDA}));
    EXPECT_EQ(seg[5].length, 12);
    EXPECT_EQ(Bytes(s, seg[5].offset + 4, 10), g_markers.segments[0xE1].data);
    EXPECT_EQ(seg[6].length, 2);
    EXPECT_EQ(seg[7].length, 3);
    EXPECT_EQ(s[seg[7].offset + 4], 9);
    EXPECT_EQ(seg[8].length, 6);
    EXPECT_EQ(Bytes(s, seg[8].offset + 4, 4), (std::vector<uint8_t>{'h', 'o', 's', 't'}));
    // The maker comment still comes first.
    EXPECT_EQ(seg[2].length, 23);
    if (HaveTool("djpeg")) {
        Decoded d;
        EXPECT_TRUE(Djpeg(s, &d, "appn"));
    }
}

// A segment size of 1 to 3 cannot hold a marker and its length field; the
// open refuses it rather than write a stream whose lengths are wrong.
TEST_F(CompressAppMarkers, SegmentSizesBelowFourAreRefused) {
    for (uint16_t size : {uint16_t(1), uint16_t(2), uint16_t(3)}) {
        g_markers = MarkerHost();
        g_markers.segments[0xE2].size = size;
        g_markers.segments[0xE2].bufferLength = 100;
        g_markers.segments[0xE2].data.assign(100, 1);
        AppVexParams p = Record();
        std::vector<uint8_t> out;
        EXPECT_EQ(CompressImage(p, MakeTestImage(40, 24, 3, 1), CompressOptions(), &out),
                  VEX_ERR_CONTAINER)
            << size;
        // The open stopped at that segment and left the library closed.
        EXPECT_EQ(g_markers.asked.back(), 0xE2);
        uint8_t* rows[1] = {nullptr};
        BandRect next;
        EXPECT_EQ(AppVexCompressBuff(rows, &next), VEX_ERR_NOT_COMPRESSING);
    }
}

TEST_F(CompressAppMarkers, DataBeyondTheHostsBufferIsRefused) {
    Give(0xE3, {1, 2, 3, 4, 5, 6});
    g_markers.segments[0xE3].bufferLength = 5;
    std::vector<uint8_t> out;
    EXPECT_EQ(CompressImage(Record(), MakeTestImage(40, 24, 3, 1), CompressOptions(), &out),
              VEX_ERR_CONTAINER);

    g_markers = MarkerHost();
    g_markers.segments[0xE0].size = 0x0101;  // a 1 x 1 thumbnail without its bytes
    g_markers.segments[0xE0].bufferLength = 3;
    g_markers.segments[0xE0].nullData = true;
    EXPECT_EQ(CompressImage(Record(), MakeTestImage(40, 24, 3, 1), CompressOptions(), &out),
              VEX_ERR_CONTAINER);

    // A thumbnail too large for a 16-bit segment length.
    g_markers = MarkerHost();
    g_markers.segments[0xE0].size = 0xFFFF;
    g_markers.segments[0xE0].bufferLength = 0xFFFF;
    g_markers.segments[0xE0].data.assign(0xFFFF, 0);
    EXPECT_EQ(CompressImage(Record(), MakeTestImage(40, 24, 3, 1), CompressOptions(), &out),
              VEX_ERR_CONTAINER);

    // The next sequence is unaffected.
    g_markers = MarkerHost();
    EXPECT_EQ(CompressImage(Record(), MakeTestImage(40, 24, 3, 1), CompressOptions(), &out), 0);
}

TEST_F(CompressAppMarkers, CallbackStatusIsReturnedUnchanged) {
    for (uint8_t marker : {uint8_t(0xE0), uint8_t(0xE7), uint8_t(0xFE)}) {
        g_markers = MarkerHost();
        g_markers.failMarker = marker;
        g_markers.failStatus = 1234;
        std::vector<uint8_t> out;
        EXPECT_EQ(CompressImage(Record(), MakeTestImage(40, 24, 3, 1), CompressOptions(), &out),
                  1234);
        EXPECT_EQ(g_markers.asked.back(), marker);
    }
}

}  // namespace
}  // namespace vextest
