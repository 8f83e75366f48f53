// The compression engine end to end: every supported pixel format and
// sampling, coded MCU row by MCU row, decodes with djpeg to the source
// image; partial MCUs are padded exactly as if the host had padded them;
// segments start afresh.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "encode/color_convert.h"
#include "encode_helpers.h"

namespace {

using namespace q32vex;
using namespace enctest;
using vextest::Image;
using vextest::LibraryTest;

class CompressionEngine : public LibraryTest {};
class CompressionEngineOracle : public LibraryTest {};

// Smooth content in every format: 5-5-5 words are made from 8-bit colour
// so that their low bits are not noise.
Image TestImage(int width, int height, int formatIndex, uint32_t seed) {
    if (formatIndex != 0) return vextest::MakeTestImage(width, height, vextest::BytesPerPixel(formatIndex), seed);
    const Image colour = vextest::MakeTestImage(width, height, 3, seed);
    Image words;
    words.width = width;
    words.height = height;
    words.bytesPerPixel = 2;
    words.pixels.resize(size_t(width) * height * 2);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        const uint8_t* c = &colour.pixels[3 * i];
        const unsigned w = (c[0] >> 3) | ((c[1] >> 3) << 5) | ((c[2] >> 3) << 10);
        words.pixels[2 * i] = uint8_t(w);
        words.pixels[2 * i + 1] = uint8_t(w >> 8);
    }
    return words;
}

using vextest::compress::Pair;

double DecodePsnr(const Image& image, const EngineRun& run, const std::string& name) {
    int16_t colorSpace = 0;
    vextest::SamplingOf(run.samplingIndex, &colorSpace);
    const EngineTables tables = DefaultTables(colorSpace, run.quality);
    std::vector<uint8_t> data;
    EXPECT_EQ(RunEngine(image, run, tables, &data), 0);
    const std::vector<uint8_t> jpeg =
        WrapJpeg(image.width, image.height, run.samplingIndex, tables, run.restartInterval, data);
    vextest::compress::Decoded decoded;
    if (!vextest::compress::Djpeg(jpeg, &decoded, name)) {
        ADD_FAILURE() << "djpeg could not decode " << name;
        return 0;
    }
    // Zero when djpeg's size differs from the source's.
    return vextest::compress::PsnrOf(decoded, vextest::compress::Expected(image, run.formatIndex));
}

TEST_F(CompressionEngineOracle, EverySupportedPairDecodesWithDjpeg) {
    if (!vextest::HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    const int sizes[][2] = {{1, 1}, {17, 9}, {100, 50}, {37, 41}};
    for (const Pair& p : vextest::compress::SupportedPairs()) {
        for (const auto& size : sizes) {
            for (uint16_t restart : {0, 3}) {
                const Image image = TestImage(size[0], size[1], p.format, uint32_t(size[0] + p.sampling));
                EngineRun run;
                run.formatIndex = p.format;
                run.samplingIndex = p.sampling;
                run.quality = 10;
                run.restartInterval = restart;
                const std::string name = "pair" + std::to_string(p.format) + std::to_string(p.sampling);
                const double psnr = DecodePsnr(image, run, name);
                // The test image's per-pixel noise keeps every pair near
                // 36 dB; misplaced blocks or components fall below 20.
                EXPECT_GT(psnr, 33.0) << "format " << p.format << " sampling " << p.sampling << " size "
                                       << size[0] << "x" << size[1] << " restart " << restart;
            }
        }
    }
}

TEST_F(CompressionEngineOracle, NaturalImagesAtTwoQualities) {
    if (!vextest::HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    Image photo;
    ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath("photo1.ppm"), &photo, 3));
    for (int sampling : {0, 1, 2, 6}) {
        EngineRun run;
        run.samplingIndex = sampling;
        run.quality = 25;  // the library's default
        EXPECT_GT(DecodePsnr(photo, run, "photo"), 30.0) << sampling;
        run.quality = 1;
        EXPECT_GT(DecodePsnr(photo, run, "photo"), sampling == 2 ? 45.0 : 35.0) << sampling;
    }
    Image grey;
    ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath("gray1.pgm"), &grey, 1));
    EngineRun run;
    run.formatIndex = 3;
    run.samplingIndex = 3;
    run.quality = 1;
    EXPECT_GT(DecodePsnr(grey, run, "grey"), 45.0);
}

// A padded MCU is coded exactly as if the host had delivered the padding:
// the last column repeated, then the last row, then uniform 128s for the
// rest of the pass.
TEST_F(CompressionEngine, PartialMcusAreCodedAsPaddedPixels) {
    for (const Pair& p : {Pair{1, 1}, Pair{2, 0}, Pair{0, 2}, Pair{1, 6}, Pair{3, 3}, Pair{4, 4}}) {
        const int bpp = vextest::BytesPerPixel(p.format);
        const int mcuW = kSamplings[p.sampling].mcuWidth, mcuH = kSamplings[p.sampling].mcuHeight;
        const int width = 5, rows = 3, mcus = 3;
        const Image small = vextest::MakeTestImage(width, rows, bpp, 3);
        Image padded;
        padded.width = mcuW * mcus;
        padded.height = mcuH;
        padded.bytesPerPixel = bpp;
        padded.pixels.assign(size_t(padded.width) * padded.height * bpp, 128);
        for (int y = 0; y < mcuH; ++y)
            for (int x = 0; x < mcuW; ++x) {
                const uint8_t* s = small.row(std::min(y, rows - 1)) + std::min(x, width - 1) * bpp;
                std::copy(s, s + bpp, padded.row(y) + x * bpp);
            }
        int16_t colorSpace = 0;
        vextest::SamplingOf(p.sampling, &colorSpace);
        const EngineTables tables = DefaultTables(colorSpace, 25);
        EngineRun run;
        run.formatIndex = p.format;
        run.samplingIndex = p.sampling;
        std::vector<uint8_t> fromPadded, fromSmall;
        ASSERT_EQ(RunEngine(padded, run, tables, &fromPadded), 0);
        // The small image as one pass of three MCUs: columns 5, rows 3.
        ASSERT_EQ(SetupCompressionEngine(&g.engine.params), 0);
        StartMemoryStream(4096);
        g.engine.params.passesPerTile = 1;
        ASSERT_EQ(StartSegment(), 0);
        std::vector<uint8_t*> rowPointers;
        for (int y = 0; y < rows; ++y) rowPointers.push_back(const_cast<uint8_t*>(small.row(y)));
        ASSERT_EQ(g.engine.params.mcusPerPass, mcus);
        ASSERT_EQ(EncodeMcuRow(width, rows, rowPointers.data()), 0);
        fromSmall = FinishMemoryStream();
        EXPECT_EQ(fromSmall, fromPadded) << "format " << p.format << " sampling " << p.sampling;
    }
}

// Each segment starts its markers and predictors again: two segments of
// the same pixels give the same bytes twice.
TEST_F(CompressionEngine, SegmentsStartAfresh) {
    const Image image = vextest::MakeTestImage(64, 8, 3, 4);
    const EngineTables tables = DefaultTables(0, 25);
    EngineRun run;
    run.restartInterval = 3;
    std::vector<uint8_t> one;
    ASSERT_EQ(RunEngine(image, run, tables, &one), 0);
    StartMemoryStream(4096);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < 8; ++y) rows.push_back(const_cast<uint8_t*>(image.row(y)));
    for (int segment = 0; segment < 2; ++segment) {
        ASSERT_EQ(StartSegment(), 0);
        ASSERT_EQ(EncodeMcuRow(64, 8, rows.data()), 0);
    }
    std::vector<uint8_t> twice = one;
    twice.insert(twice.end(), one.begin(), one.end());
    EXPECT_EQ(FinishMemoryStream(), twice);
}

TEST_F(CompressionEngine, SetupChoosesTheConverterAndReportsBadFormats) {
    const EngineTables tables = DefaultTables(0, 25);
    PixelFormatDesc format = vextest::FormatDesc(1);
    SamplingDesc sampling = vextest::SamplingOf(6);
    EngineParams params{};
    params.mcusPerPass = 1;
    params.passesPerTile = 1;
    params.pixelFormat = &format;
    params.sampling = &sampling;
    for (int c = 0; c < 3; ++c) {
        params.qTables[c] = tables.q[c];
        params.dcTables[c] = tables.dc[c];
        params.acTables[c] = tables.ac[c];
    }
    ASSERT_EQ(SetupCompressionEngine(&params), 0);
    EXPECT_EQ(g.converter, &ConvertH4V1);
    EXPECT_EQ(g.format.mcuWidth, 32);
    EXPECT_EQ(g.bitWriter.stuffingEnabled, 1);

    format = vextest::FormatDesc(0);  // 5-5-5 with 4:1:1 is not supported
    EXPECT_EQ(SetupCompressionEngine(&params), VEX_ERR_UNSUPPORTED);
    format = vextest::FormatDesc(1);
    params.pixelModel = 5;
    EXPECT_EQ(SetupCompressionEngine(&params), VEX_ERR_PIXEL_MODEL);
    params.pixelModel = 0;
    uint8_t zero[64] = {1};
    params.qTables[2] = zero;
    EXPECT_EQ(SetupCompressionEngine(&params), VEX_ERR_Q_TABLE);
}

}  // namespace
