// One picture on several threads: strips of whole restart intervals give the
// single-threaded stream byte for byte, and decoding a stream's strips apart
// gives its pixels exactly; djpeg reads the joined stream.
#include <cstring>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {
namespace {

struct Case {
    const char* name;
    int sampling, format;
    int width, height;
    uint16_t restart;
};

const Case kCases[] = {
    {"420_row_intervals", 1, 1, 451, 300, 29},   // 29 MCUs a row: one interval a row
    {"420_odd_interval", 1, 1, 451, 300, 7},     // intervals across rows
    {"422_single_mcu", 0, 2, 200, 333, 1},       // a marker after every MCU
    {"444_tall", 2, 1, 64, 1000, 3},
    {"grey", 3, 3, 301, 517, 5},
    {"411", 6, 1, 250, 120, 2},
    {"four", 5, 4, 90, 260, 4},
};

std::vector<uint8_t> Compress(const Case& c, const Image& image, int threads, int16_t* status) {
    AppVexParams p = compress::MakeParams(c.format, c.sampling, c.width, c.height);
    p.restartInterval = c.restart;
    VexCodec* codec = VexCodecCreate();
    uint8_t* out = nullptr;
    size_t size = 0;
    *status = VexCompressMemoryThreads(codec, &p, image.pixels.data(), image.width * image.bytesPerPixel, threads,
                                       &out, &size);
    std::vector<uint8_t> stream(out, out + size);
    VexFree(out);
    VexCodecDestroy(codec);
    return stream;
}

std::vector<uint8_t> Decompress(const Case& c, const std::vector<uint8_t>& stream, int threads, int16_t* status) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    VexCodec* codec = VexCodecCreate();
    *status = VexReadInfoMemory(codec, &p, stream.data(), stream.size());
    p.pixelFormat = FormatDesc(c.format, &p.pixelModel);
    const int bpp = BytesPerPixel(c.format);
    std::vector<uint8_t> pixels(size_t(c.width) * c.height * bpp, 0x5A);
    if (*status == 0)
        *status = VexDecompressMemoryThreads(codec, &p, stream.data(), stream.size(), pixels.data(), c.width * bpp,
                                             threads);
    VexCodecDestroy(codec);
    return pixels;
}

// The streaming forms, through host functions that keep only a strip: rows
// are asked for and delivered top to bottom without gaps, and the pieces of
// the stream arrive in order.
struct StripHost {
    const Image* image = nullptr;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> pixels;
    uint32_t nextRow = 0;
    bool inOrder = true;
    int16_t failAtRow = -1;  // a host error when this row is asked for or delivered

    static int16_t Rows(void* context, uint32_t firstRow, uint32_t count, const uint8_t** rows) {
        auto* h = static_cast<StripHost*>(context);
        h->inOrder = h->inOrder && firstRow == h->nextRow;
        h->nextRow = firstRow + count;
        if (h->failAtRow >= 0 && uint32_t(h->failAtRow) < firstRow + count) return -7;
        for (uint32_t r = 0; r < count; ++r)
            rows[r] = h->image->pixels.data() + size_t(firstRow + r) * h->image->width * h->image->bytesPerPixel;
        return 0;
    }
    static int16_t Write(void* context, const uint8_t* data, size_t size) {
        auto* h = static_cast<StripHost*>(context);
        h->stream.insert(h->stream.end(), data, data + size);
        return 0;
    }
    static int16_t Deliver(void* context, uint32_t firstRow, uint32_t count, const uint8_t* const* rows) {
        auto* h = static_cast<StripHost*>(context);
        h->inOrder = h->inOrder && firstRow == h->nextRow;
        h->nextRow = firstRow + count;
        if (h->failAtRow >= 0 && uint32_t(h->failAtRow) < firstRow + count) return -7;
        const size_t rowBytes = h->pixels.size() / (h->pixels.empty() ? 1 : h->image->height);
        for (uint32_t r = 0; r < count; ++r)
            std::memcpy(h->pixels.data() + (firstRow + r) * rowBytes, rows[r], rowBytes);
        return 0;
    }
};

std::vector<uint8_t> CompressStrips(const Case& c, StripHost& host, int threads, int16_t* status) {
    AppVexParams p = compress::MakeParams(c.format, c.sampling, c.width, c.height);
    p.restartInterval = c.restart;
    VexCodec* codec = VexCodecCreate();
    *status = VexCompressStrips(codec, &p, StripHost::Rows, StripHost::Write, &host, threads);
    VexCodecDestroy(codec);
    return host.stream;
}

std::vector<uint8_t> DecompressStrips(const Case& c, const std::vector<uint8_t>& stream, StripHost& host,
                                      int threads, int16_t* status) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    VexCodec* codec = VexCodecCreate();
    *status = VexReadInfoMemory(codec, &p, stream.data(), stream.size());
    p.pixelFormat = FormatDesc(c.format, &p.pixelModel);
    host.pixels.assign(size_t(c.width) * c.height * BytesPerPixel(c.format), 0x5A);
    if (*status == 0)
        *status = VexDecompressStrips(codec, &p, stream.data(), stream.size(), StripHost::Deliver, &host, threads);
    VexCodecDestroy(codec);
    return host.pixels;
}

// The pixels without the padding byte of 32-bit colour pixels, whose value
// the decoders leave open.
std::vector<uint8_t> ColourBytes(const Case& c, std::vector<uint8_t> pixels) {
    if (c.format == 2)
        for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0;
    return pixels;
}

class ParallelStrips : public LibraryTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ParallelStrips, GiveTheSingleThreadedBytesAndPixels) {
    const Case& c = GetParam();
    const Image image = MakeTestImage(c.width, c.height, BytesPerPixel(c.format), 17);
    int16_t status = -1;
    const std::vector<uint8_t> single = Compress(c, image, 1, &status);
    ASSERT_EQ(status, 0);
    const std::vector<uint8_t> pixels = Decompress(c, single, 1, &status);
    ASSERT_EQ(status, 0);
    for (int threads : {2, 3, 4, 7}) {
        EXPECT_EQ(Compress(c, image, threads, &status), single) << threads << " threads";
        EXPECT_EQ(status, 0);
        EXPECT_EQ(Decompress(c, single, threads, &status), pixels) << threads << " threads";
        EXPECT_EQ(status, 0);
    }
    for (int threads : {1, 2, 3}) {
        StripHost in, out;
        in.image = out.image = &image;
        EXPECT_EQ(CompressStrips(c, in, threads, &status), single) << threads << " threads, streaming";
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(in.inOrder);
        EXPECT_EQ(in.nextRow, uint32_t(c.height));
        EXPECT_EQ(ColourBytes(c, DecompressStrips(c, single, out, threads, &status)), ColourBytes(c, pixels))
            << threads << " threads, streaming";
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(out.inOrder);
        EXPECT_EQ(out.nextRow, uint32_t(c.height));
    }
    if (c.format != 4) {
        Pnm decoded;
        EXPECT_TRUE(Djpeg(Compress(c, image, 4, &status), &decoded));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelStrips, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

using ParallelFallback = LibraryTest;

// Without restart markers, or with damage where the markers should be, one
// thread does the work and the result is the one-call form's.
TEST_F(ParallelFallback, StreamsThatCannotBeCutAreCodedWhole) {
    Case c = kCases[0];
    c.restart = 0;
    const Image image = MakeTestImage(c.width, c.height, 3, 4);
    int16_t status = -1;
    const std::vector<uint8_t> single = Compress(c, image, 1, &status);
    EXPECT_EQ(Compress(c, image, 4, &status), single);
    EXPECT_EQ(Decompress(c, single, 4, &status), Decompress(c, single, 1, &status));
    // The streaming forms refuse before asking the host for anything.
    StripHost untouched;
    untouched.image = &image;
    EXPECT_TRUE(CompressStrips(c, untouched, 2, &status).empty());
    EXPECT_EQ(status, VEX_ERR_UNSUPPORTED);
    EXPECT_EQ(untouched.nextRow, 0u);

    c.restart = 29;
    std::vector<uint8_t> damaged = Compress(c, image, 1, &status);
    // Turn the restart markers into stuffed zero bytes: the strips cannot be
    // found, and the whole decode reports what the stream is.
    int16_t singleStatus = 0, parallelStatus = 0;
    for (size_t i = 600; i + 1 < damaged.size() - 2; ++i)
        if (damaged[i] == 0xFF && damaged[i + 1] >= 0xD0 && damaged[i + 1] <= 0xD7) damaged[i + 1] = 0x00;
    StripHost host;
    host.image = &image;
    const std::vector<uint8_t> untouchedPixels = DecompressStrips(c, damaged, host, 2, &status);
    EXPECT_EQ(status, VEX_ERR_UNSUPPORTED);
    EXPECT_EQ(untouchedPixels, std::vector<uint8_t>(untouchedPixels.size(), 0x5A));
    EXPECT_EQ(host.nextRow, 0u);
    const std::vector<uint8_t> one = Decompress(c, damaged, 1, &singleStatus);
    const std::vector<uint8_t> four = Decompress(c, damaged, 4, &parallelStatus);
    EXPECT_EQ(parallelStatus, singleStatus);
    EXPECT_EQ(four, one);
}

// A stream damaged inside a strip, on an instance that reads damaged
// streams: the strips give one thread's pixels and one thread's report.
TEST_F(ParallelFallback, DamageInsideAStripIsReportedAsOneThreadReportsIt) {
    const Case& c = kCases[1];
    const Image image = MakeTestImage(c.width, c.height, BytesPerPixel(c.format), 5);
    int16_t status = 0;
    std::vector<uint8_t> stream = Compress(c, image, 1, &status);
    ASSERT_EQ(status, 0);
    // A restart marker two thirds in, inside a strip (those between strips
    // are RST7), renumbered.
    size_t at = stream.size() * 2 / 3;
    while (at + 1 < stream.size() && !(stream[at] == 0xFF && stream[at + 1] >= 0xD0 && stream[at + 1] < 0xD7)) ++at;
    ASSERT_LT(at + 1, stream.size());
    stream[at + 1] = uint8_t(0xD0 + (stream[at + 1] - 0xD0 + 2) % 7);
    const auto decode = [&](bool strips, VexDecodeReport* report) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        VexCodec* codec = VexCodecCreate();
        EXPECT_EQ(VexCodecSetOption(codec, VEX_OPTION_EXTENDED_FRAMES, 1), 0);
        EXPECT_EQ(VexReadInfoMemory(codec, &p, stream.data(), stream.size()), 0);
        p.pixelFormat = FormatDesc(c.format, &p.pixelModel);
        StripHost host;
        host.image = &image;
        host.pixels.assign(size_t(c.width) * c.height * BytesPerPixel(c.format), 0);
        const int16_t s = strips ? VexDecompressStrips(codec, &p, stream.data(), stream.size(), StripHost::Deliver,
                                                       &host, 2)
                                 : VexDecompressMemory(codec, &p, stream.data(), stream.size(), host.pixels.data(),
                                                       ptrdiff_t(c.width) * BytesPerPixel(c.format));
        EXPECT_EQ(s, 0);
        EXPECT_EQ(VexCodecDecodeReport(codec, report), 0);
        VexCodecDestroy(codec);
        return host.pixels;
    };
    VexDecodeReport one{}, split{};
    const std::vector<uint8_t> expected = decode(false, &one);
    EXPECT_NE(one.damage, 0u);
    EXPECT_EQ(decode(true, &split), expected);
    EXPECT_EQ(split.damage, one.damage);
    EXPECT_EQ(split.corruptAtMcu, one.corruptAtMcu);
    EXPECT_EQ(split.dataEndedAtMcu, one.dataEndedAtMcu);
    EXPECT_EQ(split.restartFaults, one.restartFaults);
    EXPECT_EQ(split.skippedBytes, one.skippedBytes);
}

// A host function's error ends the work with its status, on every thread,
// and nothing after the failing strip reaches the host.
TEST_F(ParallelFallback, HostErrorsStopTheStrips) {
    const Case& c = kCases[2];
    const Image image = MakeTestImage(c.width, c.height, BytesPerPixel(c.format), 9);
    int16_t status = 0;
    StripHost whole;
    whole.image = &image;
    const std::vector<uint8_t> stream = CompressStrips(c, whole, 2, &status);
    ASSERT_EQ(status, 0);
    for (int threads : {1, 2, 3}) {
        StripHost in;
        in.image = &image;
        in.failAtRow = 150;
        CompressStrips(c, in, threads, &status);
        EXPECT_EQ(status, -7) << threads;
        EXPECT_LT(in.stream.size(), stream.size());
        StripHost out;
        out.image = &image;
        out.failAtRow = 150;
        DecompressStrips(c, stream, out, threads, &status);
        EXPECT_EQ(status, -7) << threads;
        EXPECT_LE(out.nextRow, uint32_t(c.height));
    }
}

}  // namespace
}  // namespace vextest
