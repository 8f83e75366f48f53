// Reading a JPEG header: what a host learns from AppVexGetCompInfo for the
// marker layouts real streams use, and which hostile segments are refused
// before anything is stored outside the library's table slots or written to
// the host's record.
#include <cstring>
#include <string>
#include <tuple>
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

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Segment(uint8_t marker, const Bytes& body) {
    return Join({{0xFF, marker, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)}, body});
}

Bytes JfifBody(uint8_t units, uint16_t x, uint16_t y, const Bytes& thumbnail = {}, uint8_t w = 0, uint8_t h = 0) {
    return Join({{'J', 'F', 'I', 'F', 0, 1, 2, units, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y), w, h},
                 thumbnail});
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
    for (int len = 2, left = symbols; len < 16 && left > 0; ++len) {
        bits[size_t(len - 1)] = uint8_t(std::min(left, (1 << len) / 2));
        left -= bits[size_t(len - 1)];
    }
    b.insert(b.end(), bits.begin(), bits.end());
    for (int i = 0; i < symbols; ++i) b.push_back(uint8_t(classId & 0x10 ? i + 1 : i % 12));
    return b;
}

Bytes Frame(uint16_t width, uint16_t height, const Bytes& components) {
    return Join({{8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
                  uint8_t(components.size() / 3)},
                 components});
}

Bytes Scan(const Bytes& selectors) {
    Bytes b = {uint8_t(selectors.size())};
    for (size_t c = 0; c < selectors.size(); ++c) b.insert(b.end(), {uint8_t(c + 1), selectors[c]});
    return Join({b, {0, 63, 0}});
}

// A three-component 4:2:2 header with two quantisation and two pairs of
// Huffman tables, followed by a few entropy bytes and EOI.
struct HeaderParts {
    Bytes start = {0xFF, 0xD8};
    Bytes app0 = Segment(0xE0, JfifBody(1, 300, 200));
    Bytes dqt = Segment(0xDB, Join({QuantTable(0, 1), QuantTable(1, 101)}));
    Bytes dri;
    Bytes sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1}));
    Bytes dht = Segment(
        0xC4, Join({HuffmanTable(0x00, 12), HuffmanTable(0x10, 40), HuffmanTable(0x01, 10), HuffmanTable(0x11, 30)}));
    Bytes sos = Segment(0xDA, Scan({0x00, 0x11, 0x11}));
    Bytes tail = {0x12, 0x34, 0xFF, 0xD9};
    Bytes Build() const { return Join({start, app0, dqt, dri, sof, dht, sos, tail}); }
};

// True when `table` holds the BITS and symbols of the DHT body `body`.
bool Holds(const uint8_t* table, const Bytes& body) {
    return std::memcmp(table, body.data() + 1, body.size() - 1) == 0;
}

class ParserJpeg : public LibraryTest {
protected:
    int16_t Info(const Bytes& stream, AppVexParams* p, uint16_t chunk = 65535, int16_t container = 1) {
        AppVexSetDefaultDecompress(p);
        p->containerKind = container;
        p->readCallback = SourceRead;
        ResetSource(stream, chunk);
        return AppVexGetCompInfo(p);
    }
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
    EXPECT_TRUE(Holds(p.dcTables[1], HuffmanTable(0x01, 10)));
    EXPECT_TRUE(Holds(p.acTables[2], HuffmanTable(0x11, 30)));
    // Scan selectors pick DC and AC tables independently.
    h.sos = Segment(0xDA, Scan({0x01, 0x10, 0x11}));
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_TRUE(Holds(p.dcTables[0], HuffmanTable(0x00, 12)));
    EXPECT_TRUE(Holds(p.acTables[0], HuffmanTable(0x11, 30)));
    EXPECT_TRUE(Holds(p.dcTables[1], HuffmanTable(0x01, 10)));
    EXPECT_TRUE(Holds(p.acTables[1], HuffmanTable(0x10, 40)));
}

// What the segment callback saw: each call's marker, information value and
// bytes, in order.
struct SegmentCall {
    uint8_t marker;
    uint16_t info;
    Bytes data;
};
std::vector<SegmentCall> g_segmentCalls;

int16_t VEXAPI RecordSegment(uint8_t marker, uint16_t info, uint16_t count, uint8_t** data) {
    g_segmentCalls.push_back({marker, info, Bytes(*data, *data + count)});
    return 0;
}

// The JFIF fields are taken from the first piece of the APP0 data the input
// hands over: 14 bytes for the densities, 17 for the whole JFIF header with
// its thumbnail size. A host lending smaller buffers keeps its own density
// fields and is handed the JFIF header as data.
TEST_F(ParserJpeg, JfifFieldsComeFromTheFirstPieceOnly) {
    HeaderParts h;
    const Bytes thumbnail = {0xA1, 0xB2, 0xC3};
    const Bytes app0 = JfifBody(1, 300, 200, thumbnail, 1, 1);
    h.app0 = Segment(0xE0, app0);
    const Bytes stream = h.Build();
    // The APP0 data starts at byte 6 and the host's buffers at multiples of
    // the chunk size, so a chunk of c bytes makes a first piece of c - 6 % c.
    struct Case {
        uint16_t chunk;
        bool densities, header;
    };
    std::vector<Case> cases;
    for (uint16_t chunk = 1; chunk <= 7; ++chunk) cases.push_back({chunk, false, false});
    cases.push_back({20, true, false});  // first piece 14 bytes
    cases.push_back({22, true, false});  // 16
    cases.push_back({23, true, true});   // 17
    cases.push_back({65535, true, true});
    for (const Case& c : cases) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.containerKind = VEX_CONTAINER_JFIF;
        p.readCallback = SourceRead;
        p.appMarkerReadCallback = RecordSegment;
        p.densityUnits = 2;
        p.xDensity = 77;
        p.yDensity = 88;
        ResetSource(stream, c.chunk);
        g_segmentCalls.clear();
        ASSERT_EQ(AppVexGetCompInfo(&p), 0) << "chunk " << c.chunk;
        EXPECT_EQ(p.densityUnits, c.densities ? 1 : 2) << "chunk " << c.chunk;
        EXPECT_EQ(p.xDensity, c.densities ? 300 : 77) << "chunk " << c.chunk;
        EXPECT_EQ(p.yDensity, c.densities ? 200 : 88) << "chunk " << c.chunk;
        Bytes delivered;
        for (const SegmentCall& call : g_segmentCalls) {
            EXPECT_EQ(call.marker, 0xE0);
            EXPECT_EQ(call.info, c.header ? 0x0101 : app0.size()) << "chunk " << c.chunk;
            delivered.insert(delivered.end(), call.data.begin(), call.data.end());
        }
        EXPECT_EQ(delivered, c.header ? thumbnail : app0) << "chunk " << c.chunk;
    }
}

// One and four components set the pixel layout themselves; three leave it
// to the host.
TEST_F(ParserJpeg, ComponentCountSetsThePixelLayout) {
    HeaderParts grey, four;
    grey.sof = Segment(0xC0, Frame(9, 7, {1, 0x11, 0}));
    grey.sos = Segment(0xDA, Scan({0x00}));
    four.sof = Segment(0xC0, Frame(9, 7, {1, 0x22, 1, 2, 0x11, 0, 3, 0x11, 0, 4, 0x22, 1}));
    four.sos = Segment(0xDA, Scan({0x11, 0x00, 0x00, 0x11}));
    for (const auto& [parts, space, model, format, sampling] :
         {std::tuple<HeaderParts, int, int, int, int>{grey, 1, 1, 3, 3}, {four, 3, 2, 4, 4}}) {
        AppVexParams p;
        ASSERT_EQ(Info(parts.Build(), &p), 0);
        EXPECT_EQ(std::vector<int>({p.colorSpace, p.pixelModel}), std::vector<int>({space, model}));
        const PixelFormatDesc f = FormatDesc(format);
        const SamplingDesc s = SamplingOf(sampling);
        EXPECT_EQ(std::memcmp(&p.pixelFormat, &f, sizeof f), 0) << space;
        EXPECT_EQ(std::memcmp(&p.sampling, &s, sizeof s), 0) << space;
    }
}

TEST_F(ParserJpeg, LayoutsRealStreamsUseAreRead) {
    AppVexParams p;
    // End of image before a scan: the slots stay where the ids put them;
    // with the scan, component order.
    HeaderParts h;
    h.sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 1, 2, 0x11, 1, 3, 0x11, 1}));
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.qTables[0][0], 101);
    h.sos = {0xFF, 0xD9};
    h.tail = {};
    ASSERT_EQ(Info(h.Build(), &p), 0);
    EXPECT_EQ(p.width, 35);
    EXPECT_EQ(p.qTables[0][0], 1);
    EXPECT_EQ(p.qTables[1][0], 101);
    // A comment may come first.
    HeaderParts comment;
    comment.start = Join({{0xFF, 0xD8}, Segment(0xFE, {'h', 'i'})});
    EXPECT_EQ(Info(comment.Build(), &p), 0);
    // One table per DQT segment, and 16-bit entries (length 131) of which
    // the low bytes are kept.
    HeaderParts split;
    Bytes wide = {0x10};
    for (int k = 0; k < 64; ++k) wide.insert(wide.end(), {uint8_t(k + 1), uint8_t(200 - k)});
    split.dqt = Join({Segment(0xDB, wide), Segment(0xDB, QuantTable(1, 9))});
    // DC 1 and AC 1 in one DHT segment, the other ids in a second.
    split.dht = Join({Segment(0xC4, Join({HuffmanTable(0x01, 10), HuffmanTable(0x11, 30)})),
                      Segment(0xC4, Join({HuffmanTable(0x00, 12), HuffmanTable(0x10, 40)}))});
    ASSERT_EQ(Info(split.Build(), &p), 0);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(p.qTables[0][k], 200 - k) << k;
    EXPECT_EQ(p.qTables[1][0], 9);
}

TEST_F(ParserJpeg, HostileSegmentsAreRefused) {
    struct Case {
        const char* name;
        void (*edit)(HeaderParts*);
    };
    const Case cases[] = {
        {"frame first", [](HeaderParts* h) { h->start = h->sof; }},
        {"fill byte before a marker", [](HeaderParts* h) { h->dqt.insert(h->dqt.begin(), 0xFF); }},
        {"quant selector 4",
         [](HeaderParts* h) {
             h->sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 4, 2, 0x11, 1, 3, 0x11, 1}));
         }},
        {"dc selector 2",
         [](HeaderParts* h) {
             h->sos = Segment(0xDA, Scan({0x20, 0x11, 0x11}));
         }},
        {"ac selector 2",
         [](HeaderParts* h) {
             h->sos = Segment(0xDA, Scan({0x02, 0x11, 0x11}));
         }},
        {"dqt id 4", [](HeaderParts* h) { h->dqt = Segment(0xDB, QuantTable(4, 1)); }},
        {"dqt precision 2", [](HeaderParts* h) { h->dqt = Segment(0xDB, QuantTable(0x20, 1)); }},
        {"dqt length 100",
         [](HeaderParts* h) {
             Bytes odd = QuantTable(0, 7);
             odd.resize(98);
             h->dqt = Segment(0xDB, odd);
         }},
        {"dht id 2", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x02, 12)); }},
        {"dht class 2", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x20, 12)); }},
        {"dht id twice",
         [](HeaderParts* h) {
             h->dht = Segment(0xC4, Join({HuffmanTable(0x00, 12), HuffmanTable(0x00, 12)}));
         }},
        {"dc symbols 65", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x00, 65)); }},
        {"ac symbols 163", [](HeaderParts* h) { h->dht = Segment(0xC4, HuffmanTable(0x10, 163)); }},
        {"symbols beyond the segment",
         [](HeaderParts* h) {
             Bytes t = HuffmanTable(0x00, 12);
             t.pop_back();
             h->dht = Segment(0xC4, t);
         }},
        {"dri length 5",
         [](HeaderParts* h) {
             h->dri = Segment(0xDD, {0, 4, 0});
         }},
        {"dnl length 3", [](HeaderParts* h) { h->dri = Segment(0xDC, {0}); }},
        {"precision 12", [](HeaderParts* h) { h->sof[4] = 12; }},
        {"two components",
         [](HeaderParts* h) {
             h->sof = Segment(0xC0, Frame(35, 21, {1, 0x21, 0, 2, 0x11, 1}));
         }},
        {"scan count differs",
         [](HeaderParts* h) {
             h->sos = Segment(0xDA, Scan({0x00, 0x11}));
         }},
        {"scan without frame", [](HeaderParts* h) { h->sof = {}; }},
        {"frame cut short",
         [](HeaderParts* h) {
             h->sof = Segment(0xC0, Bytes{8, 0, 21, 0, 35, 3, 1, 0x21, 0});
         }},
        {"restart marker in header",
         [](HeaderParts* h) {
             h->dri = {0xFF, 0xD0};
         }},
        {"jfif major version 2",
         [](HeaderParts* h) {
             Bytes body = JfifBody(1, 72, 72, {1, 2, 3}, 1, 1);
             body[5] = 2;
             h->app0 = Segment(0xE0, body);
         }},
    };
    AppVexParams untouched;
    AppVexSetDefaultDecompress(&untouched);
    for (const Case& c : cases) {
        HeaderParts h;
        c.edit(&h);
        AppVexParams p;
        EXPECT_EQ(Info(h.Build(), &p), VEX_ERR_CONTAINER) << c.name;
        // Nothing of a failed read reaches the host.
        p.readCallback = untouched.readCallback;
        p.appMarkerReadCallback = untouched.appMarkerReadCallback;
        EXPECT_EQ(std::memcmp(&p, &untouched, sizeof p), 0) << c.name;
    }
    // Segments cut short report the short read: inside DRI, inside SOS.
    HeaderParts h;
    h.dri = Segment(0xDD, {0, 4});
    const Bytes stream = h.Build();
    AppVexParams p;
    const size_t driBody = h.start.size() + h.app0.size() + h.dqt.size() + 4;
    EXPECT_EQ(Info(Bytes(stream.begin(), stream.begin() + long(driBody + 1)), &p), VEX_ERR_SHORT_READ);
    const size_t sosBody = stream.size() - h.tail.size() - h.sos.size() + 4;
    EXPECT_EQ(Info(Bytes(stream.begin(), stream.begin() + long(sosBody + 3)), &p), VEX_ERR_SHORT_READ);
}

TEST_F(ParserJpeg, ReadsOnlyWhatItCan) {
    const Bytes stream = HeaderParts().Build();
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_NO_CALLBACK);
    EXPECT_EQ(Info(stream, &p, 65535, VEX_CONTAINER_RAW), VEX_ERR_CONTAINER);
    EXPECT_EQ(Info(stream, &p, 65535, 3), VEX_ERR_CONTAINER);
    // An ordinary TIFF ("II", 42 in little-endian order, directory at 8) is
    // not this library's TIFF layout.
    Bytes tiff = {0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 20, 0};
    tiff.resize(8 + 2 + 20 * 12 + 4, 0);
    EXPECT_EQ(Info(tiff, &p, 65535, VEX_CONTAINER_TIFF), VEX_ERR_CONTAINER);
}

}  // namespace
}  // namespace vextest
