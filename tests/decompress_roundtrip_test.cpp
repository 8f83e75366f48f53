// Every stream the compressor writes decodes back: each supported pair of
// pixel format and sampling, each container kind, with and without restart
// intervals and tiles, at sizes that cut MCUs; and partial MCUs are coded as
// if the host had padded them.
#include <cmath>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::Pair;

// PSNR over the channels a format carries (5-bit fields compared on their own
// 0..31 scale, the padding byte of 32-bit colour left out).
double ChannelPsnr(const Image& a, const Image& b, int format) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
    double sum = 0, peak = format == 0 ? 31 : 255;
    size_t n = 0;
    for (size_t i = 0; i < size_t(a.width) * a.height; ++i) {
        const uint8_t* p = a.pixels.data() + i * a.bytesPerPixel;
        const uint8_t* q = b.pixels.data() + i * b.bytesPerPixel;
        const int channels = format == 0 ? 3 : format == 2 ? 3 : a.bytesPerPixel;
        for (int c = 0; c < channels; ++c) {
            const int shift = 5 * c;
            const double d = format == 0
                                 ? double(((p[0] | p[1] << 8) >> shift & 31) - ((q[0] | q[1] << 8) >> shift & 31))
                                 : double(p[c]) - double(q[c]);
            sum += d * d;
            ++n;
        }
    }
    return sum == 0 ? 99 : 10 * std::log10(peak * peak * double(n) / sum);
}

class DecompressRoundTrip : public LibraryTest {};

TEST_F(DecompressRoundTrip, EveryPairContainerAndSizeDecodesBackAtQualityOne) {
    struct Case {
        const char* name;
        int width, height;
        int16_t container;
        uint16_t restart, tileWidth, tileHeight;
    };
    const Case cases[] = {
        {"jfif", 77, 53, VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
        {"jfif_restart5", 77, 53, VEX_CONTAINER_JFIF, 5, 0xFFFF, 0xFFFF},
        {"tiff", 77, 53, VEX_CONTAINER_TIFF, 0, 0xFFFF, 0xFFFF},
        {"tiff_tiles", 77, 53, VEX_CONTAINER_TIFF, 0, 64, 16},
        {"tiff_tiles_restart3", 77, 53, VEX_CONTAINER_TIFF, 3, 32, 32},
        {"1x1", 1, 1, VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
        {"1x17", 1, 17, VEX_CONTAINER_JFIF, 1, 0xFFFF, 0xFFFF},
        {"17x1", 17, 1, VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
        {"15x9", 15, 9, VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
        {"33x31", 33, 31, VEX_CONTAINER_JFIF, 2, 0xFFFF, 0xFFFF},
        {"100x3", 100, 3, VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
    };
    for (const Pair& pair : compress::SupportedPairs()) {
        for (const Case& c : cases) {
            const std::string tag = std::string(pair.name) + "/" + c.name;
            const Image source = compress::PhotoImage(pair.format, c.width, c.height);
            AppVexParams w = compress::MakeParams(pair.format, pair.sampling, c.width, c.height);
            w.quality = 1;
            w.containerKind = c.container;
            w.restartInterval = c.restart;
            w.tileWidth = c.tileWidth;
            w.tileHeight = c.tileHeight;
            Bytes stream;
            ASSERT_EQ(CompressImage(w, source, CompressOptions(), &stream), 0) << tag;
            Image decoded;
            ASSERT_EQ(DecompressImage(stream, compress::ReadParams(c.container, pair.format, pair.sampling),
                                      DecompressOptions(), &decoded),
                      0)
                << tag;
            ASSERT_EQ(decoded.width, c.width) << tag;
            ASSERT_EQ(decoded.height, c.height) << tag;
            ASSERT_EQ(decoded.bytesPerPixel, source.bytesPerPixel) << tag;
            // 5-bit fields come back truncated from 8-bit samples, so about
            // every second value lands one step low: about 33 dB on their
            // 0..31 scale is the best a 5-5-5 round trip gives.
            EXPECT_GE(ChannelPsnr(decoded, source, pair.format), pair.format == 0 ? 30.0 : 40.0) << tag;
        }
    }
}

TEST_F(DecompressRoundTrip, BareEntropyDataDecodesWithTablesFromAHeader) {
    // A grey image: its one table of each kind sits in slot 0 after a header
    // read, which is where a bare stream's component 0 looks for it.
    const Image source = compress::PhotoImage(3, 61, 45);
    AppVexParams w = compress::MakeParams(3, 3, 61, 45);
    w.quality = 1;
    w.restartInterval = 4;
    Bytes jfif, raw;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &jfif), 0);
    w.containerKind = VEX_CONTAINER_RAW;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &raw), 0);
    // Bare data is exactly the JFIF stream's scan data.
    std::vector<compress::Segment> segments;
    size_t scan = 0;
    ASSERT_TRUE(compress::ParseSegments(jfif, &segments, &scan));
    EXPECT_EQ(raw, Bytes(jfif.begin() + long(scan), jfif.end() - 2));

    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = SourceRead;
    ResetSource(jfif, 65535);
    ASSERT_EQ(AppVexGetCompInfo(&p), 0);
    Image fromHeader, fromRaw;
    ASSERT_EQ(DecompressImage(jfif, p, DecompressOptions(), &fromHeader), 0);
    p.containerKind = VEX_CONTAINER_RAW;
    ResetSource(raw, 65535);
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER) << "nothing to read a header from";
    std::vector<BandRect> bands;
    DecompressOptions options;
    options.bands = &bands;
    ASSERT_EQ(DecompressImage(raw, p, options, &fromRaw), 0);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].x1, 60);
    EXPECT_EQ(bands[0].y1, 44);
    EXPECT_EQ(fromRaw.pixels, fromHeader.pixels);
    EXPECT_GE(ChannelPsnr(fromRaw, source, 3), 40.0);
}

// A partial MCU is coded exactly as if the host had delivered it padded: the
// last column repeated, then the last row; an MCU wholly outside the image
// (in a tile that reaches past it) is uniform 128s.
TEST_F(DecompressRoundTrip, PartialMcusAreCodedAsPaddedPixels) {
    const int width = 37, height = 21, paddedWidth = 64, paddedHeight = 32;  // 2 x 2 tiles of 32 x 16
    for (const Pair& pair : compress::SupportedPairs()) {
        const Image image = MakeTestImage(width, height, BytesPerPixel(pair.format), 3);
        const int mcuW = pair.sampling == 6                                                 ? 32
                         : (pair.sampling == 0 || pair.sampling == 1 || pair.sampling == 4) ? 16
                                                                                            : 8;
        const int mcuH = pair.sampling == 1 || pair.sampling == 4 ? 16 : 8;
        Image padded;
        padded.width = paddedWidth;
        padded.height = paddedHeight;
        padded.bytesPerPixel = image.bytesPerPixel;
        padded.pixels.assign(size_t(paddedWidth) * paddedHeight * image.bytesPerPixel, 128);
        for (int y = 0; y < paddedHeight; ++y) {
            for (int x = 0; x < paddedWidth; ++x) {
                if (x / mcuW * mcuW >= width || y / mcuH * mcuH >= height) continue;
                const uint8_t* s = image.row(std::min(y, height - 1)) + std::min(x, width - 1) * image.bytesPerPixel;
                std::copy(s, s + image.bytesPerPixel, padded.row(y) + x * image.bytesPerPixel);
            }
        }
        Bytes fromImage, fromPadded;
        for (const Image* source : {&image, const_cast<const Image*>(&padded)}) {
            AppVexParams w = compress::MakeParams(pair.format, pair.sampling, source->width, source->height);
            w.containerKind = VEX_CONTAINER_RAW;
            w.tileWidth = 32;
            w.tileHeight = 16;
            w.restartInterval = 1;
            ASSERT_EQ(CompressImage(w, *source, CompressOptions(), source == &image ? &fromImage : &fromPadded), 0);
        }
        EXPECT_EQ(fromImage, fromPadded) << pair.name;
    }
}

}  // namespace
}  // namespace vextest
