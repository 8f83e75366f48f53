// Every stream the compressor writes decodes back: each supported pair of
// pixel format and sampling, each container kind, with and without restart
// intervals and tiles, at sizes that cut MCUs. At quality 1 the decoded
// pixels match the host's source closely.
#include <cmath>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;
using compress::Pair;

// PSNR over the channels a format carries (5-bit fields compared on their own
// 0..31 scale, the padding byte of 32-bit colour left out).
double ChannelPsnr(const Image& a, const Image& b, int format) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
    double sum = 0;
    double peak = 255;
    size_t n = 0;
    const size_t pixels = size_t(a.width) * a.height;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = a.pixels.data() + i * a.bytesPerPixel;
        const uint8_t* q = b.pixels.data() + i * b.bytesPerPixel;
        if (format == 0) {
            peak = 31;
            const int wa = p[0] | p[1] << 8, wb = q[0] | q[1] << 8;
            for (int shift : {0, 5, 10}) {
                const double d = ((wa >> shift) & 31) - ((wb >> shift) & 31);
                sum += d * d;
                ++n;
            }
            continue;
        }
        const int channels = format == 2 ? 3 : a.bytesPerPixel;
        for (int c = 0; c < channels; ++c) {
            const double d = double(p[c]) - double(q[c]);
            sum += d * d;
            ++n;
        }
    }
    if (sum == 0) return 99;
    return 10 * std::log10(peak * peak * double(n) / sum);
}

// 5-bit fields come back truncated from 8-bit samples, so about every second
// value lands one step low: about 33 dB on their 0..31 scale is the best a
// 5-5-5 round trip gives. Every other format keeps 40 dB at quality 1.
double MinimumPsnr(int format) { return format == 0 ? 30.0 : 40.0; }

class DecompressRoundTrip : public LibraryTest {
protected:
    // The host record for decoding a stream of `pair`: three-component images
    // take the format the host chooses; the TIFF directory leaves the sampling
    // of non-YCbCr images and the unused channels of grey to the host.
    static AppVexParams DecodeRecord(const Pair& pair, int16_t container) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.containerKind = container;
        p.pixelFormat = FormatDesc(pair.format, &p.pixelModel);
        p.sampling = SamplingOf(pair.sampling, &p.colorSpace);
        return p;
    }
};

TEST_F(DecompressRoundTrip, EveryPairAndContainerDecodesBackAtQualityOne) {
    struct Variant {
        const char* name;
        int16_t container;
        uint16_t restart;
        uint16_t tileWidth, tileHeight;
    };
    const Variant variants[] = {
        {"jfif", VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF},
        {"jfif_restart5", VEX_CONTAINER_JFIF, 5, 0xFFFF, 0xFFFF},
        {"tiff", VEX_CONTAINER_TIFF, 0, 0xFFFF, 0xFFFF},
        {"tiff_tiles", VEX_CONTAINER_TIFF, 0, 64, 16},
        {"tiff_tiles_restart3", VEX_CONTAINER_TIFF, 3, 32, 32},
    };
    for (const Pair& pair : compress::SupportedPairs()) {
        const Image source = compress::PhotoImage(pair.format, 77, 53);
        ASSERT_EQ(source.width, 77);
        for (const Variant& v : variants) {
            const std::string tag = std::string(pair.name) + "/" + v.name;
            AppVexParams w = MakeParams(pair.format, pair.sampling, 77, 53);
            w.quality = 1;
            w.containerKind = v.container;
            w.restartInterval = v.restart;
            w.tileWidth = v.tileWidth;
            w.tileHeight = v.tileHeight;
            Bytes stream;
            ASSERT_EQ(CompressImage(w, source, CompressOptions(), &stream), 0) << tag;
            Image decoded;
            ASSERT_EQ(DecompressImage(stream, DecodeRecord(pair, v.container), DecompressOptions(),
                                      &decoded),
                      0)
                << tag;
            ASSERT_EQ(decoded.width, 77) << tag;
            ASSERT_EQ(decoded.height, 53) << tag;
            ASSERT_EQ(decoded.bytesPerPixel, source.bytesPerPixel) << tag;
            EXPECT_GE(ChannelPsnr(decoded, source, pair.format), MinimumPsnr(pair.format)) << tag;
        }
    }
}

TEST_F(DecompressRoundTrip, OddSizesFromOnePixelUpDecodeEveryPixel) {
    const int sizes[][2] = {{1, 1}, {1, 17}, {17, 1}, {15, 9}, {33, 31}, {100, 3}};
    for (const Pair& pair : compress::SupportedPairs()) {
        for (const auto& size : sizes) {
            const Image source = compress::PhotoImage(pair.format, size[0], size[1]);
            const std::string tag = std::string(pair.name) + " " + std::to_string(size[0]) + "x" +
                                    std::to_string(size[1]);
            AppVexParams w = MakeParams(pair.format, pair.sampling, size[0], size[1]);
            w.quality = 1;
            Bytes stream;
            ASSERT_EQ(CompressImage(w, source, CompressOptions(), &stream), 0) << tag;
            Image decoded;
            ASSERT_EQ(DecompressImage(stream, DecodeRecord(pair, VEX_CONTAINER_JFIF),
                                      DecompressOptions(), &decoded),
                      0)
                << tag;
            // The harness fills its image with 0x55 first: every pixel was delivered.
            ASSERT_EQ(decoded.pixels.size(), source.pixels.size()) << tag;
            EXPECT_GE(ChannelPsnr(decoded, source, pair.format), 30.0) << tag;
        }
    }
}

TEST_F(DecompressRoundTrip, BareEntropyDataDecodesWithTablesFromAHeader) {
    // A grey image: its one table of each kind sits in slot 0 after a header
    // read, which is where a bare stream's component 0 looks for it.
    const Image source = compress::PhotoImage(3, 61, 45);
    AppVexParams w = MakeParams(3, 3, 61, 45);
    w.quality = 1;
    w.restartInterval = 4;
    Bytes jfif, raw;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &jfif), 0);
    w.containerKind = VEX_CONTAINER_RAW;
    ASSERT_EQ(CompressImage(w, source, CompressOptions(), &raw), 0);

    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = SourceRead;
    ResetSource(jfif, 65535);
    ASSERT_EQ(AppVexGetCompInfo(&p), 0);
    Image fromHeader;
    ASSERT_EQ(DecompressImage(jfif, p, DecompressOptions(), &fromHeader), 0);

    // The header's description, now for the bare data.
    p.containerKind = VEX_CONTAINER_RAW;
    AppVexParams rawCopy = p;
    rawCopy.readCallback = SourceRead;
    ResetSource(raw, 65535);
    EXPECT_EQ(AppVexGetCompInfo(&rawCopy), VEX_ERR_CONTAINER);  // nothing to read a header from
    ResetSource(raw, 65535);
    p.bandWidth = p.width;
    p.bandHeight = p.height;
    ASSERT_EQ(AppVexDecompressBuffInit(&p), 0);
    Image fromRaw;
    fromRaw.width = 61;
    fromRaw.height = 45;
    fromRaw.bytesPerPixel = 1;
    fromRaw.pixels.assign(61 * 45, 0xAA);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < 45; ++y) rows.push_back(fromRaw.row(y));
    BandRect r = {0, 0, 0, 0};
    ASSERT_EQ(AppVexDecompressBuff(rows.data(), &r), 0);
    EXPECT_EQ(r.x0, 0);
    EXPECT_EQ(r.y0, 0);
    EXPECT_EQ(r.x1, 60);
    EXPECT_EQ(r.y1, 44);
    EXPECT_EQ(fromRaw.pixels, fromHeader.pixels);
    EXPECT_GE(ChannelPsnr(fromRaw, source, 3), 40.0);
}

}  // namespace
}  // namespace vextest
