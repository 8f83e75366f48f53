// A real decoder agrees with the JFIF streams: djpeg decodes every supported
// pair of pixel format and sampling, with and without restart intervals, at
// odd sizes, and gives back the host's image within the quality it asked for.
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::Decoded;
using compress::Djpeg;
using compress::Expected;
using compress::MakeParams;
using compress::Pair;

class CompressDjpeg : public LibraryTest {
protected:
    void SetUp() override {
        if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";
    }

    // Compresses `image`, decodes it with djpeg and returns the PSNR against
    // what the host's pixels stand for (0 when anything fails).
    double RoundTrip(const Pair& pair, const Image& image, uint16_t quality,
                     uint16_t restartInterval, const std::string& tag) {
        AppVexParams p = MakeParams(pair.format, pair.sampling, image.width, image.height);
        p.quality = quality;
        p.restartInterval = restartInterval;
        std::vector<uint8_t> jpeg;
        CompressOptions opt;
        const int16_t status = CompressImage(p, image, opt, &jpeg);
        EXPECT_EQ(status, 0) << tag;
        if (status != 0) return 0;
        Decoded decoded;
        const bool ok = Djpeg(jpeg, &decoded, tag);
        EXPECT_TRUE(ok) << tag << ": djpeg rejected the stream";
        if (!ok) return 0;
        const Decoded expected = Expected(image, pair.format);
        EXPECT_EQ(decoded.width, image.width) << tag;
        EXPECT_EQ(decoded.height, image.height) << tag;
        EXPECT_EQ(decoded.channels, expected.channels) << tag;
        return compress::PsnrOf(decoded, expected);
    }
};

// Smooth synthetic content for the small sizes, where a photograph has too
// little room; its noise keeps every block busy. Padding bits and bytes hold
// noise too, which the library must ignore.
Image SyntheticFor(int format, int width, int height, uint32_t seed) {
    if (format != 0) return MakeTestImage(width, height, BytesPerPixel(format), seed);
    // 5-5-5 words made from smooth 8-bit channels, the pad bit set at random.
    const Image bgr = MakeTestImage(width, height, 3, seed);
    Image image;
    image.width = width;
    image.height = height;
    image.bytesPerPixel = 2;
    image.pixels.resize(size_t(width) * height * 2);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        const uint8_t* s = bgr.pixels.data() + 3 * i;
        const uint16_t w = uint16_t((s[0] >> 3) | (s[1] >> 3) << 5 | (s[2] >> 3) << 10 |
                                    ((i * 7) & 1) << 15);
        image.pixels[2 * i] = uint8_t(w);
        image.pixels[2 * i + 1] = uint8_t(w >> 8);
    }
    return image;
}

TEST_F(CompressDjpeg, EveryPairDecodesAtOddSizesWithAndWithoutRestarts) {
    struct Size {
        int width, height;
    };
    for (const Pair& pair : compress::SupportedPairs()) {
        for (const Size size : {Size{1, 1}, Size{17, 9}, Size{100, 50}}) {
            for (uint16_t restart : {uint16_t(0), uint16_t(1), uint16_t(3)}) {
                const std::string tag = std::string(pair.name) + "_" + std::to_string(size.width) +
                                        "x" + std::to_string(size.height) + "_r" +
                                        std::to_string(restart);
                const Image image = SyntheticFor(pair.format, size.width, size.height, 5);
                const double psnr = RoundTrip(pair, image, 25, restart, tag);
                // The noisy synthetic content at the default quality stays well
                // above what a wrong channel order or a shifted block gives.
                EXPECT_GE(psnr, 31.0) << tag;
            }
        }
    }
}

// A photograph of 451 x 300 leaves partial MCUs at the right and bottom for
// every sampling.
TEST_F(CompressDjpeg, EveryPairDecodesANaturalImageWithPartialMcus) {
    for (const Pair& pair : compress::SupportedPairs()) {
        for (uint16_t restart : {uint16_t(0), uint16_t(5)}) {
            const std::string tag = std::string(pair.name) + "_photo_r" + std::to_string(restart);
            const Image image = compress::PhotoImage(pair.format, 451, 300);
            ASSERT_EQ(image.width, 451);
            const double psnr = RoundTrip(pair, image, 25, restart, tag);
            // 4:1:1 keeps a quarter of the chroma columns and must still look
            // like the photograph; four components go through djpeg's CMYK
            // to RGB step, which loses a little more.
            EXPECT_GE(psnr, 32.0) << tag;
        }
    }
}

TEST_F(CompressDjpeg, DefaultQualityKeepsANaturalImageAbove30Db) {
    for (int sampling : {2, 1}) {
        for (int format : {1, 0, 2}) {
            const Pair pair = {format, sampling, "photo"};
            const std::string tag = "q25_f" + std::to_string(format) + "_s" + std::to_string(sampling);
            const double psnr = RoundTrip(pair, compress::PhotoImage(format, 451, 300), 25, 0, tag);
            EXPECT_GE(psnr, 30.0) << tag;
        }
    }
}

TEST_F(CompressDjpeg, QualityOneIsNearlyLossless) {
    for (int format : {1, 0, 2}) {
        const Pair pair = {format, 2, "photo"};
        const std::string tag = "q1_f" + std::to_string(format);
        const double psnr = RoundTrip(pair, compress::PhotoImage(format, 451, 300), 1, 0, tag);
        EXPECT_GE(psnr, 45.0) << tag;
    }
    const Pair grey = {3, 3, "grey"};
    EXPECT_GE(RoundTrip(grey, compress::PhotoImage(3, 451, 300), 1, 0, "q1_grey"), 45.0);
}

// Quality scales the tables: a coarser table loses more, and the stream
// shrinks with it.
TEST_F(CompressDjpeg, HigherQualityValuesCostDetail) {
    const Image image = compress::PhotoImage(1, 200, 120);
    const Pair pair = {1, 0, "photo"};
    const double fine = RoundTrip(pair, image, 10, 0, "q10");
    const double coarse = RoundTrip(pair, image, 200, 0, "q200");
    EXPECT_GT(fine, coarse + 3.0);
    EXPECT_GE(coarse, 25.0);
}

// A grey image may come as one-channel pixels of the colour model as well.
TEST_F(CompressDjpeg, GreyPixelsOfTheColourModelDecode) {
    const Image image = compress::PhotoImage(3, 120, 80);
    AppVexParams p = MakeParams(3, 3, 120, 80);
    p.pixelModel = 0;
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(CompressImage(p, image, CompressOptions(), &jpeg), 0);
    Decoded decoded;
    ASSERT_TRUE(Djpeg(jpeg, &decoded, "grey_model0"));
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_GE(compress::PsnrOf(decoded, Expected(image, 3)), 35.0);
}

// Host tables are used as given: an identity-like table of 1s (raised to 2 by
// the scaling) at quality 50 decodes almost exactly.
TEST_F(CompressDjpeg, HostTablesAreUsed) {
    const Image image = compress::PhotoImage(1, 96, 64);
    std::vector<uint8_t> flat(64, 1);
    AppVexParams p = MakeParams(1, 2, 96, 64);
    p.quality = 50;
    for (int i = 0; i < 3; ++i) p.qTables[i] = flat.data();
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(CompressImage(p, image, CompressOptions(), &jpeg), 0);
    Decoded decoded;
    ASSERT_TRUE(Djpeg(jpeg, &decoded, "flat_tables"));
    EXPECT_GE(compress::PsnrOf(decoded, Expected(image, 1)), 45.0);
}

}  // namespace
}  // namespace vextest
