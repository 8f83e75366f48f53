// Agreement with another codec: djpeg decodes every stream this library
// writes (every supported pair of pixel format and sampling, odd sizes,
// restart intervals) back to the host's image within the quality asked for;
// this library decodes cjpeg's streams as djpeg does; and the default tables
// are the ones cjpeg writes.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::Pair;

class Oracle : public LibraryTest {
protected:
    void SetUp() override {
        if (!HaveTool("djpeg") || !HaveTool("cjpeg"))
            GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    }
};

// Compresses `image` and returns the PSNR of djpeg's decode against what the
// host's pixels stand for (0 when anything fails).
double DjpegPsnr(const AppVexParams& p, const Image& image, int format, const std::string& tag) {
    std::vector<uint8_t> jpeg;
    const int16_t status = CompressImage(p, image, CompressOptions(), &jpeg);
    EXPECT_EQ(status, 0) << tag;
    Pnm decoded;
    if (status != 0 || !Djpeg(jpeg, &decoded)) {
        ADD_FAILURE() << tag << ": no stream djpeg decodes";
        return 0;
    }
    return std::max(0.0, Psnr(decoded, compress::Expected(image, format)));
}

// Smooth synthetic content for sizes a photograph has too little room in;
// its noise keeps every block busy. 5-5-5 words are made from 8-bit colour
// with the unused top bit set at random: the library must ignore it, as it
// ignores the pad byte of 32-bit pixels (noise there too).
Image Synthetic(int format, int width, int height) {
    if (format != 0) return MakeTestImage(width, height, BytesPerPixel(format), 5);
    Image image = MakeTestImage(width, height, 3, 5);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        const uint8_t* s = image.pixels.data() + 3 * i;
        const uint16_t w = uint16_t((s[0] >> 3) | (s[1] >> 3) << 5 | (s[2] >> 3) << 10 | ((i * 7) & 1) << 15);
        image.pixels[2 * i] = uint8_t(w);
        image.pixels[2 * i + 1] = uint8_t(w >> 8);
    }
    image.bytesPerPixel = 2;
    image.pixels.resize(size_t(width) * height * 2);
    return image;
}

TEST_F(Oracle, DjpegDecodesEveryPairAtOddSizesWithAndWithoutRestarts) {
    struct Size {
        int width, height;
        bool photo;
    };
    for (const Pair& pair : compress::SupportedPairs()) {
        for (const Size size : {Size{1, 1, false}, Size{17, 9, false}, Size{100, 50, false}, Size{451, 300, true}}) {
            for (uint16_t restart : {uint16_t(0), uint16_t(1), uint16_t(5)}) {
                const std::string tag = std::string(pair.name) + " " + std::to_string(size.width) + "x" +
                                        std::to_string(size.height) + " restart " + std::to_string(restart);
                const Image image = size.photo ? compress::PhotoImage(pair.format, size.width, size.height)
                                               : Synthetic(pair.format, size.width, size.height);
                AppVexParams p = compress::MakeParams(pair.format, pair.sampling, size.width, size.height);
                p.restartInterval = restart;
                // At the default quality a wrong channel order, a shifted block
                // or a lost restart falls far below these floors; 4:1:1 and
                // djpeg's CMYK to RGB step lose a little more than the rest.
                EXPECT_GE(DjpegPsnr(p, image, pair.format, tag), size.photo ? 32.0 : 31.0) << tag;
            }
        }
    }
}

TEST_F(Oracle, QualityAndHostChoicesReachTheStream) {
    for (int format : {0, 1, 2, 3}) {
        AppVexParams p = compress::MakeParams(format, format == 3 ? 3 : 2, 451, 300);
        p.quality = 1;  // every quantiser at its floor of 2
        EXPECT_GE(DjpegPsnr(p, compress::PhotoImage(format, 451, 300), format, "q1"), 45.0) << format;
    }
    // A coarser table loses more detail; host tables are used as given (all
    // 1s, raised to 2 by the scaling); grey pixels may come as one-channel
    // pixels of the colour model too.
    const Image image = compress::PhotoImage(1, 200, 120);
    AppVexParams p = compress::MakeParams(1, 0, 200, 120);
    p.quality = 200;
    const double coarse = DjpegPsnr(p, image, 1, "q200");
    EXPECT_GE(coarse, 25.0);
    const std::vector<uint8_t> flat(64, 1);
    p.quality = 50;
    for (int i = 0; i < 3; ++i) p.qTables[i] = flat.data();
    EXPECT_GT(DjpegPsnr(p, image, 1, "flat host tables"), coarse + 10.0);
    // Each component with its own table, in every MCU: a fine table for
    // luminance and a coarse one for chrominance, far apart enough that
    // chrominance quantised with the wrong one comes out many times too
    // strong.
    const std::vector<uint8_t> coarseChroma(64, 24);
    for (int sampling : {0, 2}) {  // 4:2:2, 4:4:4
        p = compress::MakeParams(1, sampling, 200, 120);
        p.quality = 50;
        p.qTables[0] = flat.data();
        p.qTables[1] = p.qTables[2] = coarseChroma.data();
        EXPECT_GE(DjpegPsnr(p, image, 1, "fine luminance, coarse chrominance"), 34.0) << sampling;
    }
    p = compress::MakeParams(3, 3, 120, 80);
    p.pixelModel = 0;
    EXPECT_GE(DjpegPsnr(p, compress::PhotoImage(3, 120, 80), 3, "grey in the colour model"), 35.0);
}

// A camera-style APP1 segment ("Exif" and a little-endian TIFF body) put
// directly after SOI, where cameras put it.
std::vector<uint8_t> WithExif(const std::vector<uint8_t>& jpeg, size_t bodyBytes) {
    std::vector<uint8_t> body = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};
    while (body.size() < bodyBytes) body.push_back(uint8_t(body.size() * 7));
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

TEST_F(Oracle, CjpegStreamsDecodeAsDjpegDecodesThem) {
    const char* const options[] = {
        "-quality 90 -grayscale",
        "-quality 90 -sample 1x1",
        "-quality 90 -sample 2x1",
        "-quality 90 -sample 2x2",
        "-quality 85 -restart 1",
        "-quality 85 -restart 3B -sample 1x1",
        "-quality 85 -restart 1 -grayscale",
        "-quality 85 -optimize",
        "-quality 85 -optimize -sample 2x1 -restart 2",
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> streams;
    for (const char* o : options) streams.push_back({o, Cjpeg(o, DataPath("photo1.ppm"))});
    const std::vector<uint8_t> plain = Cjpeg("-quality 90", DataPath("photo1.ppm"));
    for (size_t bytes : {size_t(20), size_t(3000), size_t(65000)})
        streams.push_back({"exif " + std::to_string(bytes), WithExif(plain, bytes)});
    for (const auto& [tag, jpeg] : streams) {
        ASSERT_GT(jpeg.size(), 100u) << tag;
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        Image ours;
        ASSERT_EQ(DecompressImage(jpeg, p, DecompressOptions(), &ours), 0) << tag;
        Pnm theirs;
        ASSERT_TRUE(Djpeg(jpeg, &theirs, "-nosmooth -dct int")) << tag;
        EXPECT_GE(Psnr(BgrAsPnm(ours), theirs), 40.0) << tag;
    }
}

TEST_F(Oracle, ProgressiveAndArithmeticFramesAreRefused) {
    for (const char* options : {"-progressive", "-arithmetic"}) {
        const std::vector<uint8_t> jpeg = Cjpeg(std::string("-quality 80 ") + options, DataPath("photo1.ppm"));
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

// Quantisation tables by id and Huffman tables by class << 4 | id, as the
// DQT and DHT segments in front of the scan hold them.
using Tables = std::map<int, std::vector<uint8_t>>;

Tables TablesOf(const std::vector<uint8_t>& jpeg) {
    Tables t;
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const size_t end = pos + 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
        for (size_t p = pos + 4; p < end && end <= jpeg.size();) {
            size_t n = 64;  // 8-bit quantisation table
            if (jpeg[pos + 1] == 0xC4) {
                n = 16;
                for (int i = 1; i <= 16; ++i) n += jpeg[p + i];
            } else if (jpeg[pos + 1] != 0xDB) {
                break;
            }
            t[(jpeg[pos + 1] == 0xC4 ? 0x100 : 0) | jpeg[p]].assign(jpeg.begin() + long(p) + 1,
                                                                    jpeg.begin() + long(p + 1 + n));
            p += 1 + n;
        }
        pos = end;
    }
    return t;
}

TEST_F(Oracle, DefaultTablesAreTheOnesCjpegWrites) {
    // cjpeg's quality 50 is the unscaled table, our 50; its 25 doubles every
    // entry, our 100. Its Huffman tables are the same at every quality.
    const Image image = MakeTestImage(24, 16, 3, 11);
    Pnm ppm;
    ppm.width = 24, ppm.height = 16, ppm.channels = 3, ppm.samples = image.pixels;
    const std::string input = TempPath("tables.ppm");
    ASSERT_TRUE(WritePnm(input, ppm));
    for (const auto& [theirs, ours] : {std::pair<int, uint16_t>{50, 50}, {25, 100}}) {
        const Tables reference = TablesOf(Cjpeg("-baseline -quality " + std::to_string(theirs), input));
        ASSERT_EQ(reference.size(), 6u) << "two quantisation tables, four Huffman tables";
        AppVexParams p = compress::MakeParams(1, 0, 24, 16);
        p.quality = ours;
        std::vector<uint8_t> stream;
        ASSERT_EQ(CompressImage(p, image, CompressOptions(), &stream), 0);
        EXPECT_EQ(TablesOf(stream), reference) << "cjpeg quality " << theirs;
    }
    std::remove(input.c_str());
}

}  // namespace
}  // namespace vextest
