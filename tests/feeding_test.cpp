// Feeding independence: how a host feeds the library (band shapes requested
// or from a memory budget, output buffer sizes, input chunk sizes, decode
// windows) changes the calls, never the bytes or pixels. The harness also
// checks on every run that bands tile the image once, that nothing outside a
// lent buffer or the reported rectangle is touched.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;

struct Feed {
    uint16_t bandWidth, bandHeight;
    int32_t bandMemory;
};

std::string Describe(const Feed& f) {
    return f.bandMemory != 0 ? "budget " + std::to_string(f.bandMemory)
                             : "band " + std::to_string(f.bandWidth) + "x" + std::to_string(f.bandHeight);
}

class Feeding : public LibraryTest {};

TEST_F(Feeding, CompressedBytesDoNotDependOnBandsOrOutputBuffers) {
    // 100 x 50 in 16 x 8 MCUs: band modes 0, 1 and 3 untiled, all four in
    // 32 x 16 tiles; 4:2:0 from 32-bit pixels has 16-row MCUs, and restart
    // markers counted across passes and bands must not move with them.
    const std::vector<Feed> untiled = {{40, 20, 0},  {16, 8, 0},   {100, 20, 0},
                                       {0, 0, 1000}, {0, 0, 9000}, {0, 0, 1 << 20}};
    const std::vector<Feed> tiled = {{16, 8, 0},  {32, 8, 0},  {64, 16, 0},  {100, 32, 0},
                                     {0, 0, 400}, {0, 0, 800}, {0, 0, 3200}, {0, 0, 5000}};
    const std::vector<Feed> tall = {{16, 16, 0}, {48, 16, 0}, {96, 32, 0}, {0, 0, 2000}};
    const std::vector<Feed> narrow = {{32, 16, 0}, {0, 0, 1500}};
    struct Case {
        std::string name;
        AppVexParams params;
        Image image;
        const std::vector<Feed>* feeds;
    };
    std::vector<Case> cases;
    for (int16_t kind : {int16_t(0), int16_t(1), int16_t(2)}) {
        AppVexParams p = MakeParams(1, 0, 100, 50);
        p.containerKind = kind;
        cases.push_back({"untiled, container " + std::to_string(kind), p, MakeTestImage(100, 50, 3, 11), &untiled});
        p.tileWidth = 32;
        p.tileHeight = 16;
        cases.push_back({"tiled, container " + std::to_string(kind), p, MakeTestImage(100, 50, 3, 12), &tiled});
        p = MakeParams(2, 1, 100, 50);
        p.containerKind = kind;
        p.restartInterval = 3;
        p.tileWidth = 48;
        p.tileHeight = 32;
        cases.push_back({"restarts, container " + std::to_string(kind), p, MakeTestImage(100, 50, 4, 13), &tall});
    }
    // A photograph whose size is no multiple of any MCU, in every pair.
    for (const compress::Pair& pair : compress::SupportedPairs())
        cases.push_back({pair.name, MakeParams(pair.format, pair.sampling, 75, 41),
                         compress::PhotoImage(pair.format, 75, 41), &narrow});
    for (const Case& c : cases) {
        Bytes reference;
        ASSERT_EQ(CompressImage(c.params, c.image, CompressOptions(), &reference), 0) << c.name;
        ASSERT_GT(reference.size(), 100u);
        for (const Feed& f : *c.feeds) {
            for (uint16_t buffer : {uint16_t(1), uint16_t(7), uint16_t(4096), uint16_t(65535)}) {
                const std::string tag = c.name + ", " + Describe(f) + ", buffer " + std::to_string(buffer);
                CompressOptions o;
                o.outputBuffer = buffer;
                o.bandWidth = f.bandWidth;
                o.bandHeight = f.bandHeight;
                o.bandMemory = f.bandMemory;
                Bytes stream;
                ASSERT_EQ(CompressImage(c.params, c.image, o, &stream), 0) << tag;
                EXPECT_EQ(stream, reference) << tag;
            }
        }
    }
}

TEST_F(Feeding, CompressionAsksForBandsOfTwoTilesRowByRow) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.tileWidth = 32;
    p.tileHeight = 16;
    std::vector<BandRect> bands;
    CompressOptions o;
    o.bandWidth = 64;
    o.bandHeight = 16;
    o.bands = &bands;
    Bytes stream;
    ASSERT_EQ(CompressImage(p, MakeTestImage(100, 50, 3, 14), o, &stream), 0);
    // After the first band (0,0 - 63,15): clipped at the image's edges.
    ASSERT_EQ(bands.size(), 7u);
    EXPECT_EQ(std::vector<int>({bands[0].x0, bands[0].y0, bands[0].x1, bands[0].y1}),
              std::vector<int>({64, 0, 99, 15}));
    EXPECT_EQ(std::vector<int>({bands[1].x0, bands[1].y0, bands[1].x1, bands[1].y1}),
              std::vector<int>({0, 16, 63, 31}));
    EXPECT_EQ(std::vector<int>({bands[6].x0, bands[6].y0, bands[6].x1, bands[6].y1}),
              std::vector<int>({64, 48, 99, 49}));
}

// ---- decoding ---------------------------------------------------------------

struct Window {
    uint16_t left, top, right, bottom;
};
const Window kWhole = {0, 0, 0xFFFF, 0xFFFF};

// A 4:2:0 JFIF stream with restarts, or a tiled 4:1:1 TIFF file, of a
// 141 x 75 piece of the photograph.
Bytes PhotoStream(int16_t container, int format = 1, int sampling = 1) {
    AppVexParams w = MakeParams(format, container == VEX_CONTAINER_TIFF ? 6 : sampling, 141, 75);
    w.containerKind = container;
    w.restartInterval = container == VEX_CONTAINER_TIFF ? 3 : 7;
    if (container == VEX_CONTAINER_TIFF) w.tileWidth = 64, w.tileHeight = 24;
    Bytes s;
    EXPECT_EQ(CompressImage(w, compress::PhotoImage(format, 141, 75), CompressOptions(), &s), 0);
    return s;
}

// Decodes `w` of the stream; the status, the pixels in *out.
int16_t DecodeWindow(const Bytes& stream, int16_t container, int format, const Window& w, const DecompressOptions& o,
                     Image* out) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = container;
    p.pixelFormat = FormatDesc(format, &p.pixelModel);
    p.windowLeft = w.left, p.windowTop = w.top, p.windowRight = w.right, p.windowBottom = w.bottom;
    return DecompressImage(stream, p, o, out);
}

std::vector<uint8_t> CropOf(const Image& full, const Window& w) {
    std::vector<uint8_t> c;
    for (int y = w.top; y <= std::min<int>(w.bottom, full.height - 1); ++y) {
        const uint8_t* row = full.row(y) + size_t(w.left) * full.bytesPerPixel;
        c.insert(c.end(), row, row + size_t(std::min<int>(w.right, full.width - 1) - w.left + 1) * full.bytesPerPixel);
    }
    return c;
}

TEST_F(Feeding, DecodedPixelsDoNotDependOnWindowBandsOrInputChunks) {
    const Window windows[] = {{5, 3, 100, 60},    {17, 9, 17, 9},   {0, 0, 140, 0},   {0, 74, 140, 74},
                              {138, 70, 140, 74}, {31, 15, 32, 16}, {63, 23, 64, 24}, {100, 0, 0xFFFF, 0xFFFF}};
    const Feed feeds[] = {{141, 16, 0}, {141, 33, 0}, {50, 16, 0},  {32, 16, 0},  {64, 24, 0},   {128, 24, 0},
                          {64, 60, 0},  {0, 0, 800},  {0, 0, 2000}, {0, 0, 9000}, {0, 0, 20000}, {0, 0, 1 << 20}};
    for (int16_t container : {int16_t(VEX_CONTAINER_JFIF), int16_t(VEX_CONTAINER_TIFF)}) {
        const Bytes stream = PhotoStream(container);
        Image full;
        ASSERT_EQ(DecodeWindow(stream, container, 1, kWhole, DecompressOptions(), &full), 0);
        struct Run {
            Window window;
            DecompressOptions options;
            std::string name;
        };
        std::vector<Run> runs;
        for (const Window& w : windows) {
            for (const Feed& f : {Feed{0, 0, 0}, Feed{40, 16, 0}, Feed{0, 0, 3000}}) {
                DecompressOptions o;
                o.bandWidth = f.bandWidth, o.bandHeight = f.bandHeight, o.bandMemory = f.bandMemory;
                runs.push_back(
                    {w, o, "window " + std::to_string(w.left) + "," + std::to_string(w.top) + ", " + Describe(f)});
            }
        }
        for (const Feed& f : feeds) {
            DecompressOptions o;
            o.bandWidth = f.bandWidth, o.bandHeight = f.bandHeight, o.bandMemory = f.bandMemory;
            runs.push_back({kWhole, o, Describe(f)});
        }
        for (uint16_t chunk : {uint16_t(1), uint16_t(3), uint16_t(511), uint16_t(513)}) {
            DecompressOptions o;
            o.inputChunk = chunk, o.bandWidth = 141, o.bandHeight = 16;
            runs.push_back({{3, 2, 120, 70}, o, "chunk " + std::to_string(chunk)});
        }
        for (const Run& r : runs) {
            const std::string tag = "container " + std::to_string(container) + ", " + r.name;
            Image part;
            // The TIFF reader steps over the 4-byte next-directory offset to
            // reach its first value; a host handing over one byte a call
            // cannot cover that step.
            if (container == VEX_CONTAINER_TIFF && r.options.inputChunk == 1) {
                EXPECT_EQ(DecodeWindow(stream, container, 1, r.window, r.options, &part), VEX_ERR_NO_BUFFER) << tag;
                continue;
            }
            ASSERT_EQ(DecodeWindow(stream, container, 1, r.window, r.options, &part), 0) << tag;
            EXPECT_EQ(part.pixels, CropOf(full, r.window)) << tag;
        }
    }
}

TEST_F(Feeding, EveryPixelFormatKeepsToItsWindow) {
    struct Case {
        int format, sampling;
    };
    for (const Case& c : {Case{0, 0}, Case{2, 2}, Case{3, 3}, Case{4, 4}, Case{1, 6}}) {
        const Bytes stream = PhotoStream(VEX_CONTAINER_JFIF, c.format, c.sampling);
        Image full, part;
        ASSERT_EQ(DecodeWindow(stream, VEX_CONTAINER_JFIF, c.format, kWhole, DecompressOptions(), &full), 0);
        const Window w = {7, 5, 90, 44};
        DecompressOptions o;
        o.bandWidth = 37, o.bandHeight = 16;
        ASSERT_EQ(DecodeWindow(stream, VEX_CONTAINER_JFIF, c.format, w, o, &part), 0) << c.format;
        Bytes crop = CropOf(full, w);
        if (c.format == 2) {
            // The fourth byte of 32-bit colour is not image data: MCUs the
            // window cuts come through a staging area whose fourth bytes are
            // zero, whole MCUs leave the host's byte as it was.
            for (int y = 0; y < full.height; ++y)
                for (int x = 0; x < full.width; ++x)
                    ASSERT_EQ(full.row(y)[4 * x + 3], x >= 136 || y >= 72 ? 0 : 0xAA) << x << "," << y;
            for (size_t i = 3; i < crop.size(); i += 4) crop[i] = part.pixels[i] = 0;
        }
        EXPECT_EQ(part.pixels, crop) << c.format;
    }
}

TEST_F(Feeding, BandsAboveTheWindowAreDecodedWithoutReturning) {
    std::vector<BandRect> bands;
    DecompressOptions o;
    o.bandWidth = 141, o.bandHeight = 16, o.bands = &bands;
    Image part;
    ASSERT_EQ(DecodeWindow(PhotoStream(VEX_CONTAINER_JFIF), VEX_CONTAINER_JFIF, 1, {0, 40, 0xFFFF, 0xFFFF}, o, &part),
              0);
    // Rows 40..74 meet the 16-row MCU bands starting at 32, 48 and 64.
    ASSERT_EQ(bands.size(), 3u);
    EXPECT_EQ(std::vector<int>({bands[0].x0, bands[0].y0, bands[0].x1, bands[0].y1}), std::vector<int>({0, 0, 140, 7}));
    EXPECT_EQ(bands[2].y1, 34);
}

TEST_F(Feeding, WindowLimitsAreCheckedAndWrittenBack) {
    const Bytes stream = PhotoStream(VEX_CONTAINER_JFIF);
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = SourceRead;
    ResetSource(stream, 65535);
    ASSERT_EQ(AppVexGetCompInfo(&p), 0);
    p.bandWidth = 141;
    p.bandHeight = 75;
    for (const Window& bad : {Window{141, 0, 0xFFFF, 0xFFFF}, Window{0, 75, 0xFFFF, 0xFFFF}}) {
        AppVexParams q = p;
        q.windowLeft = bad.left;
        q.windowTop = bad.top;
        const AppVexParams before = q;
        ResetSource(stream, 65535);
        EXPECT_EQ(AppVexDecompressBuffInit(&q), VEX_ERR_WINDOW);
        EXPECT_EQ(std::memcmp(&q, &before, sizeof q), 0) << "record written after a failure";
    }
    AppVexParams q = p;
    q.windowLeft = 140;
    ResetSource(stream, 65535);
    ASSERT_EQ(AppVexDecompressBuffInit(&q), 0);
    EXPECT_EQ(q.windowRight, 140);
    EXPECT_EQ(q.windowBottom, 74);
    // Until the sequence is over, a header read waits its turn.
    AppVexParams other;
    AppVexSetDefaultDecompress(&other);
    other.readCallback = SourceRead;
    EXPECT_EQ(AppVexGetCompInfo(&other), VEX_ERR_BUSY);
    EXPECT_EQ(AppVexAbort(), 0);
    // A closed sequence reports an empty band, however often it is asked.
    for (int i = 0; i < 2; ++i) {
        BandRect r = {7, 7, 7, 7};
        EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
        EXPECT_EQ(r.x0, 1);
        EXPECT_EQ(r.x1, 0);
    }
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
}

}  // namespace
}  // namespace vextest
