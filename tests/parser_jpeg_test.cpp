// Reading a JPEG header: what a host learns from AppVexGetCompInfo for the
// marker layouts real streams use, how APPn and COM data reach its callback,
// and which hostile segments are refused before anything is stored outside
// the library's table slots.
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

// The record is packed: its pointer fields are read by value before a check
// compares them.
template <class T>
T Ptr(T value) {
    return value;
}

Bytes Segment(uint8_t marker, const Bytes& body) {
    Bytes s = {0xFF, marker, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

void Append(Bytes* a, const Bytes& b) { a->insert(a->end(), b.begin(), b.end()); }

Bytes JfifBody(uint8_t units, uint16_t x, uint16_t y, const Bytes& thumbnail = {},
               uint8_t thumbW = 0, uint8_t thumbH = 0) {
    Bytes b = {'J', 'F', 'I', 'F', 0, 1, 2, units, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8),
               uint8_t(y), thumbW, thumbH};
    Append(&b, thumbnail);
    return b;
}

Bytes QuantTable(uint8_t id, uint8_t base) {
    Bytes b = {id};
    for (int k = 0; k < 64; ++k) b.push_back(uint8_t(base + k));
    return b;
}

// A DHT table body (class/id, BITS, symbols) with `symbols` codes.
Bytes HuffmanTable(uint8_t classId, int symbols) {
    Bytes b = {classId};
    Bytes bits(16, 0);
    int left = symbols;
    for (int len = 2; len < 16 && left > 0; ++len) {
        const int n = std::min(left, (1 << len) / 2);
        bits[size_t(len - 1)] = uint8_t(n);
        left -= n;
    }
    Append(&b, bits);
    for (int i = 0; i < symbols; ++i) b.push_back(uint8_t(classId & 0x10 ? i + 1 : i % 12));
    return b;
}

Bytes Frame(uint16_t width, uint16_t height, const Bytes& components) {
    Bytes b = {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
               uint8_t(components.size() / 3)};
    Append(&b, components);
    return b;
}

Bytes Scan(const Bytes& selectors) {
    Bytes b = {uint8_t(selectors.size())};
    for (size_t c = 0; c < selectors.size(); ++c) {
        b.push_back(uint8_t(c + 1));
        b.push_back(selectors[c]);
    }
    Append(&b, {0, 63, 0});
    return b;
}

// A three-component 4:2:2 header with two quantisation and two pairs of
// Huffman tables, followed by a few entropy bytes and EOI.
struct HeaderParts {
    Bytes start = {0xFF, 0xD8};
    Bytes app0 = Segment(0xE0, JfifBody(1, 300, 200));
    Bytes dqt = Segment(0xDB, [] {
        Bytes b = QuantTable(0, 1);
        Append(&b, QuantTable(1, 101));
        return b;
    }());
    Bytes dri;
    Bytes sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1}));
    Bytes dht = Segment(0xC4, [] {
        Bytes b = HuffmanTable(0x00, 12);
        Append(&b, HuffmanTable(0x10, 40));
        Append(&b, HuffmanTable(0x01, 10));
        Append(&b, HuffmanTable(0x11, 30));
        return b;
    }());
    Bytes sos = Segment(0xDA, Scan({0x00, 0x11, 0x11}));
    Bytes tail = {0x12, 0x34, 0xFF, 0xD9};

    Bytes Build() const {
        Bytes s = start;
        for (const Bytes* part : {&app0, &dqt, &dri, &sof, &dht, &sos, &tail}) Append(&s, *part);
        return s;
    }
};

class ParserJpeg : public LibraryTest {
protected:
    int16_t Info(const Bytes& stream, AppVexParams* p, uint16_t chunk = 65535) {
        AppVexSetDefaultDecompress(p);
        p->readCallback = SourceRead;
        p->appMarkerReadCallback = markerCallback;
        ResetSource(stream, chunk);
        return AppVexGetCompInfo(p);
    }
    VexAppMarkerReadCallback markerCallback = nullptr;
};

TEST_F(ParserJpeg, FrameScanAndJfifFieldsReachTheRecord) {
    HeaderParts h;
    h.dri = Segment(0xDD, {0x01, 0x02});
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.width, 35);
    EXPECT_EQ(p.height, 21);
    EXPECT_EQ(p.restartInterval, 0x0102);
    EXPECT_EQ(p.colorSpace, 0);
    EXPECT_EQ(p.densityUnits, 1);
    EXPECT_EQ(p.xDensity, 300);
    EXPECT_EQ(p.yDensity, 200);
    const SamplingDesc expected = {{2, 1, 1, 0}, {1, 1, 1, 0}};
    EXPECT_EQ(std::memcmp(&p.sampling, &expected, sizeof expected), 0);
    // Component 0 names table 0, components 1 and 2 table 1.
    ASSERT_NE(Ptr(p.qTables[0]), nullptr);
    EXPECT_EQ(p.qTables[0][0], 1);
    EXPECT_EQ(p.qTables[1][0], 101);
    EXPECT_EQ(Ptr(p.qTables[2]), Ptr(p.qTables[1]));
    EXPECT_EQ(Ptr(p.dcTables[1]), Ptr(p.dcTables[2]));
    EXPECT_NE(Ptr(p.dcTables[0]), Ptr(p.dcTables[1]));
    const Bytes dc1 = HuffmanTable(0x01, 10);
    EXPECT_EQ(std::memcmp(p.dcTables[1], dc1.data() + 1, dc1.size() - 1), 0);
    const Bytes ac1 = HuffmanTable(0x11, 30);
    EXPECT_EQ(std::memcmp(p.acTables[2], ac1.data() + 1, ac1.size() - 1), 0);
}

TEST_F(ParserJpeg, GreyStreamSetsItsOwnPixelFormat) {
    HeaderParts h;
    h.sof = Segment(0xC0, Frame(9, 7, {1, 0x11, 0}));
    h.sos = Segment(0xDA, Scan({0x00}));
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.colorSpace, 1);
    EXPECT_EQ(p.pixelModel, 1);
    const PixelFormatDesc grey = {{8, 0, 0, 0}, {0, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(&p.pixelFormat, &grey, sizeof grey), 0);
    const SamplingDesc sampling = {{1, 0, 0, 0}, {1, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(&p.sampling, &sampling, sizeof sampling), 0);
}

TEST_F(ParserJpeg, FourComponentStreamSetsFourChannels) {
    HeaderParts h;
    h.sof = Segment(0xC0, Frame(9, 7, {1, 0x22, 1, 2, 0x11, 0, 3, 0x11, 0, 4, 0x22, 1}));
    h.sos = Segment(0xDA, Scan({0x11, 0x00, 0x00, 0x11}));
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.colorSpace, 3);
    EXPECT_EQ(p.pixelModel, 2);
    const PixelFormatDesc four = {{8, 8, 8, 8}, {0, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(&p.pixelFormat, &four, sizeof four), 0);
    EXPECT_EQ(Ptr(p.qTables[0]), Ptr(p.qTables[3]));
    EXPECT_EQ(p.qTables[0][0], 101);
    EXPECT_EQ(p.acTables[1][0], HuffmanTable(0x10, 40)[1]);
}

TEST_F(ParserJpeg, ScanSelectorsPickDcAndAcTablesIndependently) {
    HeaderParts h;
    h.sos = Segment(0xDA, Scan({0x01, 0x10, 0x11}));
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    const Bytes dc0 = HuffmanTable(0x00, 12), ac1 = HuffmanTable(0x11, 30);
    const Bytes dc1 = HuffmanTable(0x01, 10), ac0 = HuffmanTable(0x10, 40);
    EXPECT_EQ(std::memcmp(p.dcTables[0], dc0.data() + 1, dc0.size() - 1), 0);
    EXPECT_EQ(std::memcmp(p.acTables[0], ac1.data() + 1, ac1.size() - 1), 0);
    EXPECT_EQ(std::memcmp(p.dcTables[1], dc1.data() + 1, dc1.size() - 1), 0);
    EXPECT_EQ(std::memcmp(p.acTables[1], ac0.data() + 1, ac0.size() - 1), 0);
}

TEST_F(ParserJpeg, EndOfImageBeforeTheScanLeavesTablesInIdOrder) {
    HeaderParts h;
    // Every component names quantisation table 1; without a scan the slots
    // stay where their ids put them.
    h.sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 1, 2, 0x11, 1, 3, 0x11, 1}));
    h.sos = {0xFF, 0xD9};
    h.tail = {};
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.width, 35);
    EXPECT_EQ(p.qTables[0][0], 1);
    EXPECT_EQ(p.qTables[1][0], 101);
    // The same stream with its scan re-orders them.
    HeaderParts withScan;
    withScan.sof = h.sof;
    ASSERT_EQ(Info(withScan.Build(), &p), 0);
    EXPECT_EQ(p.qTables[0][0], 101);
}

TEST_F(ParserJpeg, StreamMayOpenWithACommentButNotWithAFrame) {
    HeaderParts h;
    h.start = Segment(0xFE, {'h', 'i'});
    AppVexParams p;
    EXPECT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.width, 35);
    h.start = {};
    Bytes frameFirst = h.sof;
    Append(&frameFirst, h.Build());
    EXPECT_EQ(Info(frameFirst, &p), VEX_ERR_CONTAINER);
    // Fill bytes in front of a marker are not a marker.
    HeaderParts fill;
    fill.dqt.insert(fill.dqt.begin(), 0xFF);
    EXPECT_EQ(Info(fill.Build(), &p), VEX_ERR_CONTAINER);
}

TEST_F(ParserJpeg, QuantisationSegmentLengthDecidesTheEntrySize) {
    AppVexParams p;
    {
        HeaderParts h;  // length 67: one table of 8-bit entries
        h.dqt = Segment(0xDB, QuantTable(0, 7));
        Bytes second = Segment(0xDB, QuantTable(1, 9));
        Append(&h.dqt, second);
        ASSERT_EQ(h.dqt[2] * 256 + h.dqt[3], 67);
        ASSERT_EQ(Info(h.Build(), &p), 0);
        EXPECT_EQ(p.qTables[0][5], 12);
    }
    {
        HeaderParts h;  // length 131: one table of 16-bit entries, low bytes kept
        Bytes wide = {0x10};
        for (int k = 0; k < 64; ++k) {
            wide.push_back(uint8_t(k + 1));  // high byte, dropped
            wide.push_back(uint8_t(200 - k));
        }
        h.dqt = Segment(0xDB, wide);
        Append(&h.dqt, Segment(0xDB, QuantTable(1, 9)));
        ASSERT_EQ(h.dqt[2] * 256 + h.dqt[3], 131);
        ASSERT_EQ(Info(h.Build(), &p), 0);
        for (int k = 0; k < 64; ++k) ASSERT_EQ(p.qTables[0][k], 200 - k) << k;
    }
    {
        HeaderParts h;  // length 100: neither size
        Bytes odd = QuantTable(0, 7);
        odd.resize(98);
        h.dqt = Segment(0xDB, odd);
        EXPECT_EQ(Info(h.Build(), &p), VEX_ERR_CONTAINER);
    }
}

TEST_F(ParserJpeg, HuffmanIdsMayEachAppearOncePerSegment) {
    AppVexParams p;
    HeaderParts twice;
    Bytes body = HuffmanTable(0x00, 12);
    Append(&body, HuffmanTable(0x00, 12));
    twice.dht = Segment(0xC4, body);
    EXPECT_EQ(Info(twice.Build(), &p), VEX_ERR_CONTAINER);

    // DC 1 and AC 1 alone are a valid segment; the other ids come in a second.
    HeaderParts split;
    Bytes ones = HuffmanTable(0x01, 10);
    Append(&ones, HuffmanTable(0x11, 30));
    Bytes zeros = HuffmanTable(0x00, 12);
    Append(&zeros, HuffmanTable(0x10, 40));
    split.dht = Segment(0xC4, ones);
    Append(&split.dht, Segment(0xC4, zeros));
    EXPECT_EQ(Info(split.Build(), &p), 0);
}

TEST_F(ParserJpeg, SelectorsAndIdsBeyondTheSlotsAreRefused) {
    struct Case {
        const char* name;
        void (*edit)(HeaderParts*);
    };
    const Case cases[] = {
        {"quant selector 4", [](HeaderParts* h) {
             h->sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 4, 2, 0x11, 1, 3, 0x11, 1}));
         }},
        {"dc selector 2", [](HeaderParts* h) { h->sos = Segment(0xDA, Scan({0x20, 0x11, 0x11})); }},
        {"ac selector 2", [](HeaderParts* h) { h->sos = Segment(0xDA, Scan({0x02, 0x11, 0x11})); }},
        {"dqt id 4", [](HeaderParts* h) { h->dqt = Segment(0xDB, QuantTable(4, 1)); }},
        {"dqt precision 2", [](HeaderParts* h) { h->dqt = Segment(0xDB, QuantTable(0x20, 1)); }},
        {"dht id 2", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x02, 12)); }},
        {"dht class 2", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x20, 12)); }},
        {"dc symbols 65", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x00, 65)); }},
        {"ac symbols 163", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x10, 163)); }},
        {"bits beyond segment", [](HeaderParts* h) {
             Bytes t = HuffmanTable(0x00, 12);
             t.pop_back();
             h->dht = Segment(0xC4, t);
         }},
        {"dri length 5", [](HeaderParts* h) { h->dri = Segment(0xDD, {0, 4, 0}); }},
        {"dri length 40", [](HeaderParts* h) { h->dri = Segment(0xDD, Bytes(38, 0x11)); }},
        {"dnl length 3", [](HeaderParts* h) { h->dri = Segment(0xDC, {0}); }},
        {"precision 12", [](HeaderParts* h) { h->sof[4] = 12; }},
        {"two components", [](HeaderParts* h) {
             h->sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 0, 2, 0x11, 1}));
         }},
        {"scan count differs", [](HeaderParts* h) { h->sos = Segment(0xDA, Scan({0x00, 0x11})); }},
        {"scan without frame", [](HeaderParts* h) { h->sof = {}; }},
        {"frame cut short", [](HeaderParts* h) {
             h->sof = Segment(0xC0, Bytes{8, 0, 21, 0, 35, 3, 1, 0x21, 0});
         }},
        {"progressive frame", [](HeaderParts* h) { h->sof[1] = 0xC2; }},
        {"arithmetic frame", [](HeaderParts* h) { h->sof[1] = 0xC9; }},
        {"restart marker in header", [](HeaderParts* h) { h->dri = {0xFF, 0xD0}; }},
        {"jfif major version 2", [](HeaderParts* h) {
             Bytes body = JfifBody(1, 72, 72, {1, 2, 3}, 1, 1);
             body[5] = 2;
             h->app0 = Segment(0xE0, body);
         }},
    };
    for (const Case& c : cases) {
        HeaderParts h;
        c.edit(&h);
        AppVexParams p;
        const AppVexParams untouched = [] {
            AppVexParams d;
            AppVexSetDefaultDecompress(&d);
            return d;
        }();
        EXPECT_EQ(Info(h.Build(), &p), VEX_ERR_CONTAINER) << c.name;
        // Nothing of a failed read reaches the host.
        p.readCallback = untouched.readCallback;
        p.appMarkerReadCallback = untouched.appMarkerReadCallback;
        EXPECT_EQ(std::memcmp(&p, &untouched, sizeof p), 0) << c.name;
    }
}

TEST_F(ParserJpeg, SegmentsCutShortReportTheShortRead) {
    HeaderParts h;
    h.dri = Segment(0xDD, {0, 4});
    Bytes stream = h.Build();
    AppVexParams p;
    // Cut inside the DRI body and inside the scan header.
    const size_t driBody = h.start.size() + h.app0.size() + h.dqt.size() + 4;
    EXPECT_EQ(Info(Bytes(stream.begin(), stream.begin() + long(driBody + 1)), &p), VEX_ERR_SHORT_READ);
    const size_t sosBody = stream.size() - h.tail.size() - h.sos.size() + 4;
    EXPECT_EQ(Info(Bytes(stream.begin(), stream.begin() + long(sosBody + 3)), &p),
              VEX_ERR_SHORT_READ);
}

// ---- APPn and COM delivery ----------------------------------------------

struct MarkerCall {
    uint8_t marker;
    uint16_t info;
    uint16_t count;
    Bytes data;
};
std::vector<MarkerCall> g_calls;
int16_t g_commentStatus = 0;

int16_t VEXAPI RecordMarker(uint8_t marker, uint16_t info, uint16_t count, uint8_t** data) {
    g_calls.push_back({marker, info, count, Bytes(*data, *data + count)});
    if (marker == 0xFE) return g_commentStatus;
    return 0x1234;  // not examined for APPn
}

// The data of one segment, joined from its pieces, and the calls it took.
Bytes Joined(uint8_t marker, std::vector<MarkerCall>* calls) {
    Bytes all;
    for (const MarkerCall& c : g_calls) {
        if (c.marker != marker) continue;
        Append(&all, c.data);
        calls->push_back(c);
    }
    return all;
}

class ParserMarkers : public ParserJpeg {
protected:
    void SetUp() override {
        g_calls.clear();
        g_commentStatus = 0;
        markerCallback = RecordMarker;
    }
};

TEST_F(ParserMarkers, SegmentDataArrivesWholeForEveryInputChunk) {
    Bytes app1(3000);
    for (size_t i = 0; i < app1.size(); ++i) app1[i] = uint8_t(i * 13 + 1);
    const Bytes comment = {'a', ' ', 'n', 'o', 't', 'e'};
    HeaderParts h;
    h.dri = Segment(0xE1, app1);
    Append(&h.dri, Segment(0xFE, comment));
    const Bytes stream = h.Build();
    for (uint16_t chunk : {uint16_t(65535), uint16_t(1), uint16_t(3), uint16_t(511)}) {
        g_calls.clear();
        AppVexParams p;
        ASSERT_EQ(Info(stream, &p, chunk), 0) << chunk;
        std::vector<MarkerCall> calls;
        EXPECT_EQ(Joined(0xE1, &calls), app1) << chunk;
        ASSERT_FALSE(calls.empty());
        for (const MarkerCall& c : calls) EXPECT_EQ(c.info, app1.size());
        // Several pieces end with an empty call; one piece stands alone.
        if (calls.size() > 1) {
            EXPECT_EQ(calls.back().count, 0);
        } else {
            EXPECT_EQ(chunk, 65535);
        }
        calls.clear();
        EXPECT_EQ(Joined(0xFE, &calls), comment) << chunk;
        // JFIF fields come through at every chunk size.
        EXPECT_EQ(p.xDensity, 300) << chunk;
        EXPECT_EQ(p.densityUnits, 1) << chunk;
    }
}

TEST_F(ParserMarkers, JfifThumbnailIsHandedOnWithoutTheHeader) {
    Bytes thumbnail;
    for (int i = 0; i < 2 * 3 * 3; ++i) thumbnail.push_back(uint8_t(i + 40));
    HeaderParts h;
    h.app0 = Segment(0xE0, JfifBody(2, 96, 48, thumbnail, 3, 2));
    const Bytes stream = h.Build();
    for (uint16_t chunk : {uint16_t(65535), uint16_t(1), uint16_t(7)}) {
        g_calls.clear();
        AppVexParams p;
        ASSERT_EQ(Info(stream, &p, chunk), 0);
        std::vector<MarkerCall> calls;
        EXPECT_EQ(Joined(0xE0, &calls), thumbnail) << chunk;
        // Width x 256 + height, however the data was split.
        for (const MarkerCall& c : calls) EXPECT_EQ(c.info, 3 * 256 + 2) << chunk;
        EXPECT_EQ(p.densityUnits, 2);
        EXPECT_EQ(p.xDensity, 96);
        EXPECT_EQ(p.yDensity, 48);
    }
}

TEST_F(ParserMarkers, OnlyTheFirstJfifSegmentAfterStartOfImageIsParsedInFull) {
    const Bytes thumbnail = {9, 8, 7};
    HeaderParts h;
    h.app0 = Segment(0xE0, JfifBody(1, 10, 10, thumbnail, 1, 1));
    Append(&h.app0, Segment(0xE0, JfifBody(1, 20, 20, thumbnail, 1, 1)));
    AppVexParams p;
    ASSERT_EQ(Info(h.Build(), &p), 0);
    std::vector<MarkerCall> calls;
    Joined(0xE0, &calls);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].data, thumbnail);
    EXPECT_EQ(calls[1].count, 17);  // the second one arrives whole
    EXPECT_EQ(calls[1].info, 17);
    EXPECT_EQ(p.xDensity, 20);      // its density fields still count
}

TEST_F(ParserMarkers, CommentCallbackStatusEndsTheRead) {
    HeaderParts h;
    h.dri = Segment(0xFE, {'x'});
    g_commentStatus = -7;
    AppVexParams p;
    EXPECT_EQ(Info(h.Build(), &p), -7);
    g_commentStatus = 0;
    EXPECT_EQ(Info(h.Build(), &p), 0);
}

TEST_F(ParserMarkers, WithoutACallbackSegmentsAreSteppedOver) {
    markerCallback = nullptr;
    HeaderParts h;
    h.dri = Segment(0xE1, Bytes(5000, 0xFF));  // marker-like bytes inside the data
    Append(&h.dri, Segment(0xFE, Bytes(40, 'c')));
    Append(&h.dri, Segment(0xE2, Bytes(600, 0xFF)));
    AppVexParams p;
    for (uint16_t chunk : {uint16_t(65535), uint16_t(5), uint16_t(1)}) {
        ASSERT_EQ(Info(h.Build(), &p, chunk), 0);
        EXPECT_EQ(p.width, 35);
    }
    EXPECT_TRUE(g_calls.empty());
}

// ---- the TIFF side refuses what is not its layout --------------------------

TEST_F(ParserJpeg, StandardLittleEndianTiffHeaderIsRefused) {
    // "II", 42 in little-endian order, first directory at 8: any ordinary TIFF.
    Bytes tiff = {0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 20, 0};
    tiff.resize(8 + 2 + 20 * 12 + 4, 0);
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_TIFF;
    p.readCallback = SourceRead;
    ResetSource(tiff, 65535);
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER);
    if (HaveTool("convert")) {
        // A real tiled, JPEG-compressed TIFF from another writer.
        const std::string path = TempPath("foreign.tif");
        if (vextest::Run("convert " + DataPath("photo1.ppm") +
                         " -compress jpeg -define tiff:tile-geometry=64x64 " + path +
                         " 2>/dev/null") == 0) {
            Bytes foreign;
            ASSERT_TRUE(ReadFile(path, &foreign));
            ResetSource(foreign, 65535);
            EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER);
        }
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace vextest
