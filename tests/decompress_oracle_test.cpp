// Streams written by another encoder (cjpeg) decode to what another decoder
// (djpeg -nosmooth -dct int) makes of them: grey, 4:4:4, 4:2:2, 4:2:0, with
// restart markers, optimised Huffman tables and a camera-style APP1 segment.
// Frame types this library does not decode are refused.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace vextest {
namespace {

class DecompressOracle : public LibraryTest {
protected:
    void SetUp() override {
        if (!HaveTool("cjpeg") || !HaveTool("djpeg")) {
            GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
        }
    }

    // Writes a JPEG of the test photograph with cjpeg and the given options.
    std::vector<uint8_t> Cjpeg(const std::string& options, const std::string& tag) {
        const std::string in = DataPath("photo1.ppm");
        const std::string out = TempPath(tag + ".jpg");
        const int rc = vextest::Run("cjpeg " + options + " -outfile " + out + " " + in);
        EXPECT_EQ(rc, 0) << "cjpeg " << options;
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadFile(out, &bytes));
        std::remove(out.c_str());
        return bytes;
    }

    // djpeg's decode of `jpeg`, packed like the library's output: BGR for
    // colour, one byte for grey.
    Image Djpeg(const std::vector<uint8_t>& jpeg, int bytesPerPixel, const std::string& tag) {
        const std::string in = TempPath(tag + "_oracle.jpg");
        const std::string out = TempPath(tag + "_oracle.pnm");
        EXPECT_TRUE(WriteFile(in, jpeg));
        EXPECT_EQ(vextest::Run("djpeg -nosmooth -dct int -outfile " + out + " " + in), 0);
        Image image;
        EXPECT_TRUE(LoadPnm(out, &image, bytesPerPixel)) << tag;
        std::remove(in.c_str());
        std::remove(out.c_str());
        return image;
    }

    // Decodes with the library and with djpeg; returns the PSNR between them.
    double Agreement(const std::vector<uint8_t>& jpeg, const std::string& tag,
                     uint16_t expectedComponents) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        Image ours;
        const int16_t status = DecompressImage(jpeg, p, DecompressOptions(), &ours);
        EXPECT_EQ(status, 0) << tag;
        if (status != 0) return 0;
        EXPECT_EQ(ours.bytesPerPixel, expectedComponents == 1 ? 1 : 3) << tag;
        const Image theirs = Djpeg(jpeg, ours.bytesPerPixel, tag);
        EXPECT_EQ(ours.width, theirs.width) << tag;
        EXPECT_EQ(ours.height, theirs.height) << tag;
        if (ours.pixels.size() != theirs.pixels.size()) return 0;
        return Psnr(ours.pixels.data(), theirs.pixels.data(), ours.pixels.size());
    }
};

// Inserts a camera-style APP1 segment (an "Exif" header and a little-endian
// TIFF body) directly after SOI, where cameras put it.
std::vector<uint8_t> WithExifSegment(const std::vector<uint8_t>& jpeg, size_t bodyBytes) {
    std::vector<uint8_t> body = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};
    while (body.size() < bodyBytes) body.push_back(uint8_t(body.size() * 7));
    const size_t length = body.size() + 2;
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.push_back(0xFF);
    out.push_back(0xE1);
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

TEST_F(DecompressOracle, BaselineSamplingsAgreeWithDjpeg) {
    struct Case {
        const char* options;
        const char* tag;
        uint16_t components;
    };
    const Case cases[] = {
        {"-quality 90 -grayscale", "grey", 1},
        {"-quality 90 -sample 1x1", "s444", 3},
        {"-quality 90 -sample 2x1", "s422", 3},
        {"-quality 90 -sample 2x2", "s420", 3},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> jpeg = Cjpeg(c.options, c.tag);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_GE(Agreement(jpeg, c.tag, c.components), 40.0) << c.tag;
    }
}

TEST_F(DecompressOracle, RestartMarkersAndOptimisedTablesAgreeWithDjpeg) {
    struct Case {
        const char* options;
        const char* tag;
        uint16_t components;
    };
    const Case cases[] = {
        {"-quality 85 -restart 1", "restart_rows", 3},
        {"-quality 85 -restart 3B -sample 1x1", "restart_blocks", 3},
        {"-quality 85 -restart 1 -grayscale", "restart_grey", 1},
        {"-quality 85 -optimize", "optimize", 3},
        {"-quality 85 -optimize -sample 2x1 -restart 2", "optimize_restart", 3},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> jpeg = Cjpeg(c.options, c.tag);
        ASSERT_FALSE(jpeg.empty());
        EXPECT_GE(Agreement(jpeg, c.tag, c.components), 40.0) << c.tag;
    }
}

TEST_F(DecompressOracle, ExifSegmentBeforeJfifIsSteppedOver) {
    const std::vector<uint8_t> plain = Cjpeg("-quality 90", "exif_base");
    ASSERT_FALSE(plain.empty());
    for (size_t bytes : {size_t(20), size_t(3000), size_t(65000)}) {
        const std::vector<uint8_t> jpeg = WithExifSegment(plain, bytes);
        const std::string tag = "exif" + std::to_string(bytes);
        EXPECT_GE(Agreement(jpeg, tag, 3), 40.0) << tag;
    }
}

TEST_F(DecompressOracle, ProgressiveAndArithmeticFramesAreRefused) {
    for (const char* options : {"-progressive", "-arithmetic"}) {
        const std::vector<uint8_t> jpeg = Cjpeg(std::string("-quality 80 ") + options, "refused");
        ASSERT_FALSE(jpeg.empty());
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.readCallback = SourceRead;
        ResetSource(jpeg, 65535);
        const AppVexParams before = p;
        EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_CONTAINER) << options;
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << "record written after a failure";
        ResetSource(jpeg, 65535);
        EXPECT_EQ(AppVexDecompressBuffInit(&p), VEX_ERR_CONTAINER) << options;
    }
}

}  // namespace
}  // namespace vextest
