// Feeding-independence of decoding: a decode window gives exactly the crop of
// the full image, every band request and memory budget gives the same pixels,
// every input chunk size gives the same pixels, and the library writes only
// the rectangle it reports, inside the band it asked the host for.
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

struct Window {
    uint16_t left, top, right, bottom;
};

struct Feeding {
    uint16_t chunk = 65535;
    uint16_t bandWidth = 0, bandHeight = 0;  // 0, 0 with no budget: whole image
    int32_t bandMemory = 0;
};

struct Outcome {
    int16_t status = 0;
    Image image;          // the window's pixels
    int calls = 0;        // band calls that returned a rectangle
    BandRect first = {0, 0, 0, 0};
    bool strayWrite = false;
};

constexpr size_t kGuard = 16;

// Decodes band by band like a careful host: each call gets rows of exactly
// the band size the open wrote back, with guard bytes after every row and
// guard rows below, all prefilled with 0xAA; after the call every byte outside
// the reported rectangle must still be 0xAA.
Outcome DecodeWindow(const Bytes& stream, AppVexParams p, const Window& w, const Feeding& f) {
    Outcome out;
    p.readCallback = SourceRead;
    ResetSource(stream, f.chunk);
    out.status = AppVexGetCompInfo(&p);
    if (out.status != 0) return out;
    ResetSource(stream, f.chunk);
    p.windowLeft = w.left;
    p.windowTop = w.top;
    p.windowRight = w.right;
    p.windowBottom = w.bottom;
    if (f.bandWidth == 0 && f.bandHeight == 0 && f.bandMemory == 0) {
        p.bandWidth = p.width;
        p.bandHeight = p.height;
    } else {
        p.bandWidth = f.bandWidth;
        p.bandHeight = f.bandHeight;
        p.bandMemory = f.bandMemory;
    }
    out.status = AppVexDecompressBuffInit(&p);
    if (out.status != 0) return out;
    int bits = 0;
    const int channels = p.pixelModel == 1 ? 1 : p.pixelModel == 2 ? 4 : 3;
    for (int c = 0; c < channels; ++c) bits += p.pixelFormat.bits[c] + p.pixelFormat.pad[c];
    const int bpp = bits / 8;
    const int ww = p.windowRight - p.windowLeft + 1, wh = p.windowBottom - p.windowTop + 1;
    out.image.width = ww;
    out.image.height = wh;
    out.image.bytesPerPixel = bpp;
    out.image.pixels.assign(size_t(ww) * wh * bpp, 0x55);
    const size_t stride = size_t(p.bandWidth) * bpp + kGuard;
    Bytes band(stride * (p.bandHeight + 2));
    std::vector<uint8_t*> rows(p.bandHeight);
    for (int y = 0; y < p.bandHeight; ++y) rows[size_t(y)] = band.data() + size_t(y) * stride;
    for (int guard = 0; guard < 1000000; ++guard) {
        std::fill(band.begin(), band.end(), 0xAA);
        BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        out.status = AppVexDecompressBuff(rows.data(), &r);
        if (out.status != 0) return out;
        if (r.x0 == 1 && r.x1 == 0) return out;
        if (out.calls++ == 0) out.first = r;
        if (r.x1 >= ww || r.y1 >= wh || r.x0 > r.x1 || r.y0 > r.y1 ||
            r.x1 - r.x0 >= p.bandWidth || r.y1 - r.y0 >= p.bandHeight) {
            ADD_FAILURE() << "band rectangle outside the window or the band";
            out.status = -1;
            return out;
        }
        const size_t used = size_t(r.x1 - r.x0 + 1) * bpp;
        for (size_t y = 0; y < band.size() / stride; ++y) {
            const uint8_t* row = band.data() + y * stride;
            const size_t from = int(y) <= r.y1 - r.y0 ? used : 0;
            for (size_t i = from; i < stride; ++i) {
                if (row[i] != 0xAA) out.strayWrite = true;
            }
        }
        for (int y = r.y0; y <= r.y1; ++y) {
            std::memcpy(out.image.row(y) + size_t(r.x0) * bpp, rows[size_t(y - r.y0)], used);
        }
    }
    ADD_FAILURE() << "decoding did not finish";
    out.status = -1;
    return out;
}

Image Crop(const Image& full, const Window& w) {
    Image c;
    c.width = w.right - w.left + 1;
    c.height = w.bottom - w.top + 1;
    c.bytesPerPixel = full.bytesPerPixel;
    for (int y = w.top; y <= w.bottom; ++y) {
        const uint8_t* row = full.row(y) + size_t(w.left) * full.bytesPerPixel;
        c.pixels.insert(c.pixels.end(), row, row + size_t(c.width) * c.bytesPerPixel);
    }
    return c;
}

// The bytes that carry the image: the padding byte of 32-bit colour is the
// host's and is left out.
Bytes ImageBytes(const Image& image, int format) {
    Bytes b = image.pixels;
    if (format == 2) {
        for (size_t i = 3; i < b.size(); i += 4) b[i] = 0;
    }
    return b;
}

class DecompressWindow : public LibraryTest {
protected:
    static AppVexParams Record(int format = 1) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.pixelFormat = FormatDesc(format, &p.pixelModel);
        return p;
    }
    // A 4:2:0 JFIF stream with restarts and a tiled 4:1:1 TIFF file of the photo.
    static Bytes Jfif(int format = 1, int sampling = 1) {
        AppVexParams w = MakeParams(format, sampling, 141, 75);
        w.restartInterval = 7;
        Bytes s;
        EXPECT_EQ(CompressImage(w, compress::PhotoImage(format, 141, 75), CompressOptions(), &s), 0);
        return s;
    }
    static Bytes TiledTiff() {
        AppVexParams w = MakeParams(1, 6, 141, 75);
        w.containerKind = VEX_CONTAINER_TIFF;
        w.tileWidth = 64;
        w.tileHeight = 24;
        w.restartInterval = 3;
        Bytes s;
        EXPECT_EQ(CompressImage(w, compress::PhotoImage(1, 141, 75), CompressOptions(), &s), 0);
        return s;
    }
};

const Window kWhole = {0, 0, 0xFFFF, 0xFFFF};

TEST_F(DecompressWindow, WindowIsTheCropOfTheFullImage) {
    const Window windows[] = {
        {5, 3, 100, 60},    {17, 9, 17, 9},     {0, 0, 140, 0},  {0, 74, 140, 74},
        {138, 70, 140, 74}, {31, 15, 32, 16},   {63, 23, 64, 24}, {100, 0, 0xFFFF, 0xFFFF},
    };
    for (int container : {VEX_CONTAINER_JFIF, VEX_CONTAINER_TIFF}) {
        const Bytes stream = container == VEX_CONTAINER_JFIF ? Jfif() : TiledTiff();
        AppVexParams p = Record();
        p.containerKind = int16_t(container);
        const Outcome full = DecodeWindow(stream, p, kWhole, Feeding());
        ASSERT_EQ(full.status, 0);
        ASSERT_FALSE(full.strayWrite);
        for (const Window& w : windows) {
            const std::string tag = std::to_string(container) + ": " + std::to_string(w.left) + "," +
                                    std::to_string(w.top) + " - " + std::to_string(w.right) + "," +
                                    std::to_string(w.bottom);
            Window clamped = w;
            clamped.right = std::min<uint16_t>(w.right, 140);
            clamped.bottom = std::min<uint16_t>(w.bottom, 74);
            for (const Feeding& f : {Feeding(), Feeding{65535, 40, 16, 0}, Feeding{65535, 0, 0, 3000}}) {
                const Outcome o = DecodeWindow(stream, p, w, f);
                ASSERT_EQ(o.status, 0) << tag;
                EXPECT_FALSE(o.strayWrite) << tag;
                EXPECT_EQ(o.image.pixels, Crop(full.image, clamped).pixels)
                    << tag << " band " << f.bandWidth << "x" << f.bandHeight << " budget "
                    << f.bandMemory;
            }
        }
    }
}

TEST_F(DecompressWindow, EveryBandRequestAndBudgetGivesTheSamePixels) {
    for (int container : {VEX_CONTAINER_JFIF, VEX_CONTAINER_TIFF}) {
        const Bytes stream = container == VEX_CONTAINER_JFIF ? Jfif() : TiledTiff();
        AppVexParams p = Record();
        p.containerKind = int16_t(container);
        const Outcome reference = DecodeWindow(stream, p, kWhole, Feeding());
        ASSERT_EQ(reference.status, 0);
        const Feeding feedings[] = {
            {65535, 141, 16, 0}, {65535, 141, 33, 0}, {65535, 50, 16, 0},  {65535, 32, 16, 0},
            {65535, 64, 24, 0},  {65535, 128, 24, 0}, {65535, 64, 60, 0}, {65535, 0, 0, 800},
            {65535, 0, 0, 2000}, {65535, 0, 0, 9000}, {65535, 0, 0, 20000}, {65535, 0, 0, 1 << 20},
        };
        for (const Feeding& f : feedings) {
            const std::string tag = std::to_string(container) + " band " + std::to_string(f.bandWidth) +
                                    "x" + std::to_string(f.bandHeight) + " budget " +
                                    std::to_string(f.bandMemory);
            const Outcome o = DecodeWindow(stream, p, kWhole, f);
            ASSERT_EQ(o.status, 0) << tag;
            EXPECT_FALSE(o.strayWrite) << tag;
            EXPECT_EQ(o.image.pixels, reference.image.pixels) << tag;
        }
    }
}

TEST_F(DecompressWindow, EveryInputChunkSizeGivesTheSamePixels) {
    for (int container : {VEX_CONTAINER_JFIF, VEX_CONTAINER_TIFF}) {
        const Bytes stream = container == VEX_CONTAINER_JFIF ? Jfif() : TiledTiff();
        AppVexParams p = Record();
        p.containerKind = int16_t(container);
        const Outcome reference = DecodeWindow(stream, p, kWhole, Feeding());
        ASSERT_EQ(reference.status, 0);
        for (uint16_t chunk : {uint16_t(1), uint16_t(3), uint16_t(511), uint16_t(513)}) {
            Feeding f;
            f.chunk = chunk;
            f.bandWidth = 141;
            f.bandHeight = 16;
            const Outcome o = DecodeWindow(stream, p, {3, 2, 120, 70}, f);
            ASSERT_EQ(o.status, 0) << chunk;
            EXPECT_EQ(o.image.pixels, Crop(reference.image, {3, 2, 120, 70}).pixels) << chunk;
        }
    }
}

TEST_F(DecompressWindow, EveryPixelFormatKeepsToItsWindow) {
    struct Case {
        int format, sampling;
    };
    for (const Case& c : {Case{0, 0}, Case{2, 2}, Case{3, 3}, Case{4, 4}, Case{1, 6}}) {
        const Bytes stream = Jfif(c.format, c.sampling);
        AppVexParams p = Record(c.format);
        const Outcome full = DecodeWindow(stream, p, kWhole, Feeding());
        ASSERT_EQ(full.status, 0) << c.format;
        const Window w = {7, 5, 90, 44};
        const Outcome o = DecodeWindow(stream, p, w, Feeding{65535, 37, 16, 0});
        ASSERT_EQ(o.status, 0) << c.format;
        EXPECT_FALSE(o.strayWrite) << c.format;
        EXPECT_EQ(ImageBytes(o.image, c.format), ImageBytes(Crop(full.image, w), c.format)) << c.format;
    }
}

TEST_F(DecompressWindow, BandsAboveTheWindowAreDecodedWithoutReturning) {
    const Bytes stream = Jfif();
    const Outcome o = DecodeWindow(stream, Record(), {0, 40, 0xFFFF, 0xFFFF}, Feeding{65535, 141, 16, 0});
    ASSERT_EQ(o.status, 0);
    // Rows 40..74 meet the 16-row MCU bands starting at 32, 48 and 64.
    EXPECT_EQ(o.calls, 3);
    EXPECT_EQ(o.first.y0, 0);
    EXPECT_EQ(o.first.y1, 7);
    EXPECT_EQ(o.first.x0, 0);
    EXPECT_EQ(o.first.x1, 140);
}

TEST_F(DecompressWindow, WindowLimitsAreCheckedAndWrittenBack) {
    const Bytes stream = Jfif();
    AppVexParams p = Record();
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
}

TEST_F(DecompressWindow, ClosedSequenceReportsAnEmptyBand) {
    const Bytes stream = Jfif();
    const Outcome o = DecodeWindow(stream, Record(), kWhole, Feeding());
    ASSERT_EQ(o.status, 0);
    for (int i = 0; i < 3; ++i) {
        BandRect r = {7, 7, 7, 7};
        EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
        EXPECT_EQ(r.x0, 1);
        EXPECT_EQ(r.x1, 0);
    }
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
}

TEST_F(DecompressWindow, HeaderReadRefusesWhatItCannotRead) {
    const Bytes stream = Jfif();
    AppVexParams p = Record();
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_NO_CALLBACK);
    p.readCallback = SourceRead;
    p.containerKind = VEX_CONTAINER_RAW;
    ResetSource(stream, 65535);
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER);
    p.containerKind = 3;
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER);
    // While a sequence is open the header read waits its turn.
    p.containerKind = VEX_CONTAINER_JFIF;
    ResetSource(stream, 65535);
    ASSERT_EQ(AppVexGetCompInfo(&p), 0);
    p.bandWidth = p.width;
    p.bandHeight = 16;
    ResetSource(stream, 65535);
    ASSERT_EQ(AppVexDecompressBuffInit(&p), 0);
    ResetSource(stream, 65535);
    AppVexParams other = Record();
    other.readCallback = SourceRead;
    EXPECT_EQ(AppVexGetCompInfo(&other), VEX_ERR_BUSY);
    EXPECT_EQ(AppVexAbort(), 0);
}

}  // namespace
}  // namespace vextest
