// Four-channel pixels (8,8,8,8) under the colour pixel model. The model counts
// three channels, so bitsPerPixel is 24, while the format row the record
// matches moves 4 bytes per pixel: band sizes and the steps between passes
// follow the 24 bits, the engines take 4 bytes a pixel. With four components
// the streams are those of the four-channel model; with three components the
// fourth channel is dropped before the engine is set up and the host's pixels
// are 3-byte colour.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kFourChannelFormat = 4;

// Four-channel pixels with the colour model, for `colorSpace` and sampling
// row `sampling`.
AppVexParams ColourModelRecord(int sampling, int16_t colorSpace, int width, int height) {
    AppVexParams p = compress::MakeParams(kFourChannelFormat, sampling, width, height);
    p.pixelModel = 0;
    p.colorSpace = colorSpace;
    return p;
}

// The pixels a compression reads from host rows of 4-byte pixels when each
// pass starts 3 bytes per pixel on from the pass before: column x of a band
// that starts at a multiple of `bandWidth` is read at byte 3 x (start of its
// pass) + 4 x (its place in the pass), both counted from the band's left edge.
Image ReadInPasses(const Image& host, int bandWidth, int passWidth) {
    Image read = host;
    for (int y = 0; y < host.height; ++y) {
        for (int x = 0; x < host.width; ++x) {
            const int bandX0 = x / bandWidth * bandWidth, inBand = x - bandX0;
            const size_t at = size_t(4) * bandX0 + 3 * size_t(inBand / passWidth * passWidth) + 4 * (inBand % passWidth);
            std::memcpy(read.row(y) + 4 * x, host.row(y) + at, 4);
        }
    }
    return read;
}

// What a decode leaves in host rows of 4-byte pixels when each pass is written
// from 3 bytes per pixel on: per band (bands start at multiples of `bandWidth`,
// each pass `passWidth` wide), the passes in order over the band's columns
// from `windowLeft` on, later passes over the ends of earlier ones; bytes that
// no pass reaches keep the host's fill 0xAA. `decoded` holds the image's
// pixels, 4 bytes each.
Image WrittenInPasses(const Image& decoded, int bandWidth, int passWidth, int windowLeft) {
    Image out;
    out.width = decoded.width - windowLeft;
    out.height = decoded.height;
    out.bytesPerPixel = 4;
    out.pixels.assign(size_t(out.width) * out.height * 4, 0);
    for (int bandX0 = 0; bandX0 < decoded.width; bandX0 += bandWidth) {
        const int visibleX0 = std::max(bandX0, windowLeft);
        const int visibleX1 = std::min(bandX0 + bandWidth, decoded.width) - 1;
        if (visibleX0 > visibleX1) continue;
        for (int y = 0; y < decoded.height; ++y) {
            Bytes row(size_t(visibleX1 - visibleX0 + 1) * 4, 0xAA);
            for (int passX0 = bandX0; passX0 <= visibleX1; passX0 += passWidth) {
                const int x0 = std::max(passX0, visibleX0), x1 = std::min(passX0 + passWidth - 1, visibleX1);
                if (x0 > x1) continue;
                std::memcpy(row.data() + 3 * (x0 - visibleX0), decoded.row(y) + 4 * x0, size_t(x1 - x0 + 1) * 4);
            }
            std::memcpy(out.row(y) + 4 * (visibleX0 - windowLeft), row.data(), row.size());
        }
    }
    return out;
}

class FourChannelColourModel : public LibraryTest {};

// The support matrix decides, for the question and the open alike: the
// four-channel row goes with the two four-component samplings, whatever the
// colour space counts; every other sampling is an unsupported pair.
TEST_F(FourChannelColourModel, SupportIsTheMatrixEntryForQuestionAndOpen) {
    struct Case {
        int sampling;
        int16_t colorSpace;
        int16_t expected;
    };
    const Case cases[] = {
        {4, 3, 0},
        {5, 3, 0},
        {4, 0, 0},
        {5, 0, 0},
        {0, 0, VEX_ERR_UNSUPPORTED},
        {1, 0, VEX_ERR_UNSUPPORTED},
        {2, 0, VEX_ERR_UNSUPPORTED},
        {6, 0, VEX_ERR_UNSUPPORTED},
        {3, 1, VEX_ERR_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "sampling " << c.sampling << " colour space " << c.colorSpace);
        ResetSink(4096);
        AppVexParams p = ColourModelRecord(c.sampling, c.colorSpace, 64, 32);
        p.writeCallback = SinkWrite;
        p.bandWidth = 64;
        p.bandHeight = 32;
        EXPECT_EQ(AppVexQuerySupport(VEX_DIRECTION_COMPRESS, &p), c.expected);
        const AppVexParams before = p;
        EXPECT_EQ(AppVexCompressBuffInit(&p), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(AppVexAbort(), 0);
        } else {
            EXPECT_EQ(std::memcmp(&before, &p, sizeof p), 0) << "a refused open wrote the record";
        }
    }
}

// Geometry is checked before the tables and the engine: a bad size, tile or
// band answers first, also for a record that the engine would refuse (four
// components' sampling on three components under the four-channel model).
TEST_F(FourChannelColourModel, GeometryIsCheckedBeforeTablesAndEngine) {
    ResetSink(4096);
    for (int16_t model : {int16_t(0), int16_t(2)}) {
        for (int16_t colorSpace : {int16_t(3), int16_t(0)}) {
            SCOPED_TRACE(::testing::Message() << "model " << model << " colour space " << colorSpace);
            AppVexParams good = ColourModelRecord(5, colorSpace, 64, 32);
            good.pixelModel = model;
            good.writeCallback = SinkWrite;
            good.bandWidth = 64;
            good.bandHeight = 32;
            good.quality = 0;  // the first table check would answer next
            AppVexParams p = good;
            p.width = 0;
            EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_IMAGE_SIZE);
            p = good;
            p.tileWidth = 12;
            EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_TILE);
            p = good;
            p.bandWidth = 4;
            EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_BAND);
            p = good;
            EXPECT_EQ(AppVexCompressBuffInit(&p), VEX_ERR_QUALITY);
            p.quality = 25;
            const int16_t engine = model == 2 && colorSpace == 0 ? VEX_ERR_PIXEL_FORMAT : 0;
            EXPECT_EQ(AppVexCompressBuffInit(&p), engine);
            if (engine == 0) EXPECT_EQ(AppVexAbort(), 0);
        }
    }
}

// Four components: the engine takes the pixels 4 bytes each, and with one
// pass across each band the stream is exactly the four-channel model's.
TEST_F(FourChannelColourModel, FourComponentsGiveTheFourChannelModelsStream) {
    for (int sampling : {5, 4}) {
        for (int16_t container : {int16_t(VEX_CONTAINER_JFIF), int16_t(VEX_CONTAINER_RAW)}) {
            SCOPED_TRACE(::testing::Message() << "sampling " << sampling << " container " << container);
            const Image image = compress::PhotoImage(kFourChannelFormat, 77, 45);
            AppVexParams four = compress::MakeParams(kFourChannelFormat, sampling, 77, 45);
            four.containerKind = container;
            four.restartInterval = 3;
            AppVexParams colour = four;
            colour.pixelModel = 0;
            Bytes expected, stream;
            ASSERT_EQ(CompressImage(four, image, CompressOptions(), &expected), 0);
            ASSERT_EQ(CompressImage(colour, image, CompressOptions(), &stream), 0);
            EXPECT_EQ(stream, expected);
        }
    }
    // A TIFF directory counts its samples by the pixel model (three here)
    // against four compressed components; the header writer refuses that.
    AppVexParams tiff = ColourModelRecord(5, 3, 16, 16);
    tiff.containerKind = VEX_CONTAINER_TIFF;
    Bytes none;
    EXPECT_EQ(CompressImage(tiff, compress::PhotoImage(kFourChannelFormat, 16, 16), CompressOptions(), &none),
              VEX_ERR_CONTAINER);
}

// Bands are sized at 24 bits per pixel and each pass of a band starts 3 bytes
// per pixel on from the one before, while a pass reads 4-byte pixels. The
// host's rows hold the band at 4 bytes a pixel and are followed by noise, so
// a read past them would change the stream.
TEST_F(FourChannelColourModel, PassesStepThreeBytesPerPixelThroughRowsOfFourBytePixels) {
    struct Case {
        const char* name;
        int sampling, width, height;
        uint16_t tileWidth, tileHeight, bandWidth, bandHeight;
        int32_t bandMemory;
        int expectedBandWidth, passWidth;
    };
    const Case cases[] = {
        // 40 of 104 padded columns: 5 and 13 MCUs have only 1 in common, so
        // five passes of one MCU make up each band.
        {"narrow_band", 5, 100, 20, 0xFFFF, 0xFFFF, 40, 8, 0, 40, 8},
        // 48 of 112: 3 and 7 MCUs of 16, three passes of one MCU.
        {"narrow_band_h2v2", 4, 100, 40, 0xFFFF, 0xFFFF, 48, 16, 0, 48, 16},
        // 1000 bytes at 3 bytes a pixel: 1000 / (24 x 8) = 5 MCUs, 40 columns
        // (4 bytes a pixel would give 3 MCUs); passes of one MCU again.
        {"budget", 5, 100, 20, 0xFFFF, 0xFFFF, 0, 0, 1000, 40, 8},
        // The whole image as one band across tiles 32 wide: each tile is one
        // pass, and tile t starts 96 t bytes into the band's rows.
        {"tiles", 5, 100, 40, 32, 16, 100, 40, 0, 100, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image host = MakeTestImage(c.width, c.height, 4, 11);
        AppVexParams colour = ColourModelRecord(c.sampling, 3, c.width, c.height);
        colour.containerKind = VEX_CONTAINER_RAW;
        colour.tileWidth = c.tileWidth;
        colour.tileHeight = c.tileHeight;
        std::vector<BandRect> bands;
        CompressOptions o;
        o.bandWidth = c.bandWidth;
        o.bandHeight = c.bandHeight;
        o.bandMemory = c.bandMemory;
        o.bands = &bands;
        Bytes stream, expected;
        ASSERT_EQ(CompressImage(colour, host, o, &stream), 0);
        if (c.expectedBandWidth < c.width) {
            ASSERT_FALSE(bands.empty());
            EXPECT_EQ(bands[0].x0, c.expectedBandWidth) << "bands sized at 24 bits per pixel";
        } else {
            EXPECT_TRUE(bands.empty()) << "one band for the whole image";
        }
        const Image read = ReadInPasses(host, c.expectedBandWidth, c.passWidth);
        ASSERT_NE(read.pixels, host.pixels) << "the case has more than one pass per band";
        AppVexParams four = colour;
        four.pixelModel = 2;
        ASSERT_EQ(CompressImage(four, read, CompressOptions(), &expected), 0);
        EXPECT_EQ(stream, expected);
    }
}

// Three components (colour space 0): the fourth channel and the fourth
// sampling factors are cleared before the engine is set up, which then
// matches 3-byte colour and 4:2:0 (or 4:4:4). The host's pixels are 3-byte
// colour, read in passes 3 bytes a pixel apart as well, and the stream is
// that of the 3-byte format in every container.
TEST_F(FourChannelColourModel, ThreeComponentsCodeThreeBytePixels) {
    struct Case {
        int sampling, threeComponentSampling;
    };
    for (const Case& c : {Case{4, 1}, Case{5, 2}}) {
        for (int16_t container : {int16_t(VEX_CONTAINER_RAW), int16_t(VEX_CONTAINER_JFIF), int16_t(VEX_CONTAINER_TIFF)}) {
            // The whole image as one band, and bands of 80 columns in passes
            // of 16 (of 96 padded columns), five passes to a band.
            for (uint16_t bandWidth : {uint16_t(0), uint16_t(80)}) {
                SCOPED_TRACE(::testing::Message() << "sampling " << c.sampling << " container " << container
                                                  << " band width " << bandWidth);
                const Image image = compress::PhotoImage(1, 93, 37);
                AppVexParams colour = ColourModelRecord(c.sampling, 0, 93, 37);
                colour.containerKind = container;
                AppVexParams three = compress::MakeParams(1, c.threeComponentSampling, 93, 37);
                three.containerKind = container;
                CompressOptions o;
                o.bandWidth = bandWidth;
                o.bandHeight = bandWidth == 0 ? 0 : 16;
                Bytes stream, expected;
                ASSERT_EQ(CompressImage(three, image, o, &expected), 0);
                ASSERT_EQ(CompressImage(colour, image, o, &stream), 0);
                EXPECT_EQ(stream, expected);
            }
        }
    }
}

// Decoding bare data with the colour model and the four-channel row: the
// engine writes 4-byte pixels, each pass from 3 bytes per pixel on, so later
// passes overwrite the ends of earlier ones and the last bytes of a band's
// rows stay as the host left them; nothing lands outside the rows.
TEST_F(FourChannelColourModel, BareDataDecodesIntoRowsOfFourBytePixels) {
    const int width = 100, height = 20;
    const Image source = compress::PhotoImage(kFourChannelFormat, width, height);
    AppVexParams w = compress::MakeParams(kFourChannelFormat, 5, width, height);
    w.restartInterval = 4;
    // Bare data takes component i's quantisation table from slot i: four
    // distinct tables put each component's table in its own slot.
    std::vector<Bytes> q;
    for (int i = 0; i < 4; ++i) q.push_back(Bytes(64, uint8_t(4 + 4 * i)));  // steps 2, 4, 6, 8
    for (int i = 0; i < 4; ++i) w.qTables[i] = q[size_t(i)].data();
    Bytes jfif, raw;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &jfif), 0);
    w.containerKind = VEX_CONTAINER_RAW;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &raw), 0);

    // The header read leaves the tables in the library's slots, where a bare
    // stream's components find them.
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = SourceRead;
    ResetSource(jfif, 65535);
    ASSERT_EQ(AppVexGetCompInfo(&p), 0);
    ASSERT_EQ(p.pixelModel, 2);
    Image decoded;
    ASSERT_EQ(DecompressImage(jfif, p, DecompressOptions(), &decoded), 0);
    p.containerKind = VEX_CONTAINER_RAW;
    p.pixelModel = 0;

    struct Case {
        const char* name;
        uint16_t bandWidth, bandHeight;
        uint16_t windowLeft;
        int passWidth;
    };
    const Case cases[] = {
        {"whole", 0, 0, 0, width},        // one pass: the four-channel model's pixels
        {"narrow_band", 40, 8, 0, 8},     // five passes of one MCU per band
        {"narrow_band_window", 40, 8, 5, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppVexParams q = p;
        q.windowLeft = c.windowLeft;
        DecompressOptions o;
        o.bandWidth = c.bandWidth;
        o.bandHeight = c.bandHeight;
        Image out;
        ASSERT_EQ(DecompressImage(raw, q, o, &out), 0);
        ASSERT_EQ(out.bytesPerPixel, 4);
        const Image expected = WrittenInPasses(decoded, c.bandWidth == 0 ? width : c.bandWidth, c.passWidth, c.windowLeft);
        EXPECT_EQ(out.pixels, expected.pixels);
        if (c.passWidth == width) EXPECT_EQ(out.pixels, decoded.pixels);
    }

    // Four components' sampling on three components: the engine is set up
    // for the record's four-component sampling and finds no tables for the
    // fourth, which the open reports without writing the record.
    AppVexParams three = p;
    three.colorSpace = 0;
    three.sampling = SamplingOf(4);
    three.bandWidth = width;
    three.bandHeight = height;
    ResetSource(raw, 65535);
    const AppVexParams before = three;
    EXPECT_EQ(AppVexDecompressBuffInit(&three), VEX_ERR_Q_TABLE);
    EXPECT_EQ(std::memcmp(&before, &three, sizeof three), 0);
}

}  // namespace
}  // namespace vextest
