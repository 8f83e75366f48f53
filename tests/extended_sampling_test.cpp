// Frames beyond the legacy reader on instances with
// VEX_OPTION_EXTENDED_FRAMES: any sampling factors from 1 to 4, RGB-coded
// files, CMYK and YCCK. Files made by cjpeg, jpegtran and Pillow agree with
// djpeg (and CMYK shown as RGB with ImageMagick); the generic output routine
// gives the fixed routines' bytes where both apply; the legacy exports and
// instances without the option refuse as before.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "decode/any_sampling_output.h"
#include "decode/color_output.h"
#include "q32vex.hpp"
#include "q32vex_codec.h"
#include "test_support.h"
#include "tool_support.h"

namespace vextest {
namespace {

using q32vex::FrameColour;
using q32vex::FrameLayout;
using q32vex::kOutputRoutines;
using q32vex::kSaturatingOutputRoutines;
using q32vex::McuOutputRoutine;
using q32vex::OutputAnySampling;
using q32vex::PixelLayout;

struct Instance {
    explicit Instance(std::initializer_list<int> options) {
        for (int option : options) status = int16_t(status | VexCodecSetOption(codec, option, 1));
    }
    ~Instance() { VexCodecDestroy(codec); }
    VexCodec* codec = VexCodecCreate();
    int16_t status = 0;
};

constexpr int kGrey = 3, kBgr24 = 1, kBgrx32 = 2, kBgr555 = 0, kFour = 4;

struct Window {
    int x = 0, y = 0, width = 0, height = 0;
};

// Header, then the window (the whole picture when empty) in pixel format
// `formatIndex` through the one-call form, with a band budget (0: its own).
int16_t Decode(VexCodec* codec, const std::vector<uint8_t>& jpeg, int formatIndex, Image* out,
               const Window& window = {}, int32_t bandMemory = 0) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    const int16_t info = VexReadInfoMemory(codec, &p, jpeg.data(), jpeg.size());
    if (info != 0) return info;
    p.pixelFormat = FormatDesc(formatIndex, &p.pixelModel);
    p.bandMemory = bandMemory;
    out->width = p.width;
    out->height = p.height;
    if (window.width > 0) {
        p.windowLeft = uint16_t(window.x);
        p.windowTop = uint16_t(window.y);
        p.windowRight = uint16_t(window.x + window.width - 1);
        p.windowBottom = uint16_t(window.y + window.height - 1);
        out->width = window.width;
        out->height = window.height;
    }
    out->bytesPerPixel = BytesPerPixel(formatIndex);
    out->pixels.assign(size_t(out->width) * out->height * out->bytesPerPixel, 0xAA);
    return VexDecompressMemory(codec, &p, jpeg.data(), jpeg.size(), out->pixels.data(),
                               ptrdiff_t(out->width) * out->bytesPerPixel);
}

int16_t DecodeExtended(const std::vector<uint8_t>& jpeg, int formatIndex, Image* out) {
    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    return Decode(instance.codec, jpeg, formatIndex, out);
}

AppVexParams HeaderOf(VexCodec* codec, const std::vector<uint8_t>& jpeg) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    EXPECT_EQ(VexReadInfoMemory(codec, &p, jpeg.data(), jpeg.size()), 0);
    return p;
}

double DjpegPsnr(const std::vector<uint8_t>& jpeg, const Image& ours) {
    Pnm theirs;
    if (!Djpeg(jpeg, &theirs, "-dct int -nosmooth")) return -2;
    return Psnr(BgrAsPnm(ours), theirs);
}

Image Crop(const Image& image, const Window& w) {
    Image out;
    out.width = w.width;
    out.height = w.height;
    out.bytesPerPixel = image.bytesPerPixel;
    for (int y = 0; y < w.height; ++y) {
        const uint8_t* row = image.row(w.y + y) + size_t(w.x) * image.bytesPerPixel;
        out.pixels.insert(out.pixels.end(), row, row + size_t(w.width) * image.bytesPerPixel);
    }
    return out;
}

// The SOF0 or SOF2 segment's offset, or 0.
size_t FrameHeaderAt(const std::vector<uint8_t>& jpeg) {
    for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF;) {
        if (jpeg[pos + 1] == 0xC0 || jpeg[pos + 1] == 0xC2) return pos;
        pos += 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
    }
    return 0;
}

// The stream without its segments of marker `marker`.
std::vector<uint8_t> Without(const std::vector<uint8_t>& jpeg, uint8_t marker) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const size_t length = 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
        if (jpeg[pos + 1] != marker) out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + pos + length);
        pos += length;
    }
    out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
    return out;
}

// An Adobe APP14 segment with `transform`, right after SOI.
std::vector<uint8_t> WithAdobe(const std::vector<uint8_t>& jpeg, uint8_t transform) {
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform};
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

const std::string& Photo() {
    static const std::string path = DataPath("photo1.ppm");
    return path;
}

// ---- the generic routine against the fixed ones -----------------------------------

// Blocks with every sample value, the extremes included, so that wrapped
// and clamped channels both occur.
void FillBlocks(int16_t (*blocks)[64], uint32_t seed) {
    for (int b = 0; b < 10; ++b)
        for (int i = 0; i < 64; ++i) {
            seed = seed * 1103515245u + 12345u;
            blocks[b][i] = int16_t(seed >> 12);
        }
}

FrameLayout LayoutOf(int samplingIndex, FrameColour colour, PixelLayout pixels, bool saturating) {
    const SamplingDesc s = SamplingOf(samplingIndex);
    FrameLayout l{};
    l.colour = colour;
    l.pixels = pixels;
    l.saturating = saturating;
    l.hMax = l.vMax = 1;
    for (int c = 0; c < 4 && s.h[c] != 0; ++c) {
        l.componentCount = uint8_t(c + 1);
        l.h[c] = uint8_t(s.h[c]);
        l.v[c] = uint8_t(s.v[c]);
        l.hMax = std::max(l.hMax, l.h[c]);
        l.vMax = std::max(l.vMax, l.v[c]);
    }
    return l;
}

// Runs `routine` into a fresh MCU of rows, each followed by guard bytes.
template <typename Routine>
std::vector<uint8_t> Mcu(int width, int height, int bpp, Routine routine) {
    const int stride = width * bpp + 8;
    std::vector<uint8_t> bytes(size_t(stride) * height, 0x5A);
    std::vector<uint8_t*> rows;
    for (int y = 0; y < height; ++y) rows.push_back(bytes.data() + size_t(y) * stride);
    routine(rows.data());
    return bytes;
}

TEST(AnySamplingOutput, GivesTheFixedRoutinesBytesForTheTablesSamplings) {
    int16_t blocks[10][64];
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        FillBlocks(blocks, seed);
        for (const bool saturating : {false, true}) {
            const McuOutputRoutine* fixed = saturating ? kSaturatingOutputRoutines : kOutputRoutines;
            for (const int index : {0, 1, 2, 6}) {
                for (const PixelLayout pixels : {PixelLayout::kBgr555, PixelLayout::kBgr24, PixelLayout::kBgrx32}) {
                    const int bpp = pixels == PixelLayout::kBgr555 ? 2 : pixels == PixelLayout::kBgr24 ? 3 : 4;
                    const FrameLayout l = LayoutOf(index, FrameColour::kYCbCr, pixels, saturating);
                    const int w = 8 * l.hMax, h = 8 * l.vMax;
                    SCOPED_TRACE(testing::Message() << "sampling " << index << ", " << bpp << " bytes, seed " << seed
                                                    << (saturating ? ", clamped" : ", wrapped"));
                    EXPECT_EQ(Mcu(w, h, bpp, [&](uint8_t* const* rows) { OutputAnySampling(l, rows, blocks); }),
                              Mcu(w, h, bpp, [&](uint8_t* const* rows) { fixed[index](rows, blocks, bpp); }));
                }
            }
            // Grey, and the raw channels of both four-component layouts.
            const FrameLayout grey = LayoutOf(3, FrameColour::kGrey, PixelLayout::kGrey8, saturating);
            EXPECT_EQ(Mcu(8, 8, 1, [&](uint8_t* const* rows) { OutputAnySampling(grey, rows, blocks); }),
                      Mcu(8, 8, 1, [&](uint8_t* const* rows) { fixed[3](rows, blocks, 1); }));
            for (const int index : {4, 5}) {
                const FrameLayout four = LayoutOf(index, FrameColour::kCmyk, PixelLayout::kFour8, saturating);
                const int side = 8 * four.hMax;
                EXPECT_EQ(Mcu(side, side, 4, [&](uint8_t* const* rows) { OutputAnySampling(four, rows, blocks); }),
                          Mcu(side, side, 4, [&](uint8_t* const* rows) { fixed[index](rows, blocks, 4); }))
                    << "four components, sampling " << index;
            }
        }
    }
}

// ---- samplings made by cjpeg and jpegtran ---------------------------------------------

struct Made {
    std::string name;
    std::vector<uint8_t> jpeg;
};

std::vector<Made> SamplingFiles() {
    std::vector<Made> files;
    for (const char* sample : {"1x2,1x2,1x2", "2x2,2x2,1x1", "2x1,2x1,2x1", "3x1,1x1,1x1", "2x2,1x2,2x1",
                               "1x4,1x1,1x2", "1x2,1x1,1x1", "3x1,1x1,1x2"}) {
        files.push_back({std::string("-sample ") + sample, Cjpeg(std::string("-sample ") + sample, Photo())});
        files.push_back({std::string("restarts, -sample ") + sample,
                         Cjpeg(std::string("-restart 3B -sample ") + sample, Photo())});
    }
    // A lossless quarter turn of a 4:2:2 file gives 4:4:0.
    const std::string path = TempPath("sampling-422.jpg");
    WriteFile(path, Cjpeg("-sample 2x1", Photo()));
    const std::string turned = TempPath("sampling-440.jpg");
    EXPECT_EQ(Run("jpegtran -rotate 90 -outfile " + turned + " " + path), 0);
    files.push_back({"jpegtran -rotate 90 of 4:2:2", FileBytes(turned)});
    std::remove(path.c_str());
    std::remove(turned.c_str());
    return files;
}

TEST(ExtendedSampling, CjpegAndJpegtranSamplingsDecodeAsDjpegDecodesThem) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg") || !HaveTool("jpegtran")) GTEST_SKIP() << "libjpeg tools missing";
    for (const Made& made : SamplingFiles()) {
        SCOPED_TRACE(made.name);
        ASSERT_FALSE(made.jpeg.empty());
        Instance instance({VEX_OPTION_EXTENDED_FRAMES});
        Image bgr;
        ASSERT_EQ(Decode(instance.codec, made.jpeg, kBgr24, &bgr), 0);
        EXPECT_EQ(VexCodecFrameColour(instance.codec), VEX_FRAME_YCBCR);
        EXPECT_GE(DjpegPsnr(made.jpeg, bgr), 40.0);

        // The other colour formats carry the same colours.
        Image bgrx, words;
        ASSERT_EQ(Decode(instance.codec, made.jpeg, kBgrx32, &bgrx), 0);
        ASSERT_EQ(Decode(instance.codec, made.jpeg, kBgr555, &words), 0);
        bool same = true;
        for (size_t i = 0; i < size_t(bgr.width) * bgr.height && same; ++i) {
            const uint8_t* p = &bgr.pixels[3 * i];
            const unsigned word = unsigned(p[2] >> 3) << 10 | unsigned(p[1] >> 3) << 5 | unsigned(p[0] >> 3);
            same = std::equal(p, p + 3, &bgrx.pixels[4 * i]) && words.pixels[2 * i] == uint8_t(word) &&
                   words.pixels[2 * i + 1] == uint8_t(word >> 8);
        }
        EXPECT_TRUE(same);

        // A window that cuts MCUs on every side, in bands of a few rows,
        // holds what the whole picture holds there.
        const Window window{13, 21, bgr.width - 40, bgr.height - 50};
        Image part;
        ASSERT_EQ(Decode(instance.codec, made.jpeg, kBgr24, &part, window, 3 * 64 * 40), 0);
        EXPECT_TRUE(part.pixels == Crop(bgr, window).pixels);
    }
}

TEST(ExtendedSampling, TheRecordReportsTheFramesFactors) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg missing";
    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    // cjpeg refuses to make it: a 3 x 1, 1 x 1, 1 x 2 file whose second
    // component is then declared 2 x 1.
    std::vector<uint8_t> jpeg = Cjpeg("-sample 3x1,1x1,1x2", Photo());
    ASSERT_EQ(jpeg[FrameHeaderAt(jpeg) + 14], 0x11);
    jpeg[FrameHeaderAt(jpeg) + 14] = 0x21;
    const AppVexParams p = HeaderOf(instance.codec, jpeg);
    EXPECT_EQ(p.colorSpace, 0);
    EXPECT_EQ(p.sampling.h[0], 3);
    EXPECT_EQ(p.sampling.v[0], 1);
    EXPECT_EQ(p.sampling.h[1], 2);
    EXPECT_EQ(p.sampling.h[2], 1);
    EXPECT_EQ(p.sampling.v[2], 2);
    // 2 x 1 next to 3 x 1: its samples would cover one and a half pixels,
    // which libjpeg refuses too.
    Image image;
    EXPECT_EQ(Decode(instance.codec, jpeg, kBgr24, &image), VEX_ERR_SAMPLING);
    // Colour to grey bytes is no conversion this library makes.
    EXPECT_EQ(Decode(instance.codec, Cjpeg("-sample 1x2", Photo()), kGrey, &image), VEX_ERR_UNSUPPORTED);
}

// Progressive files with such samplings need both options.
TEST(ExtendedSampling, ProgressiveFramesOfAnySamplingNeedBothOptions) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg tools missing";
    for (const char* sample : {"1x2,1x2,1x2", "3x1,1x1,1x1", "1x2,1x1,1x1"}) {
        SCOPED_TRACE(sample);
        const std::vector<uint8_t> jpeg = Cjpeg(std::string("-progressive -sample ") + sample, Photo());
        Image image;
        Instance progressive({VEX_OPTION_PROGRESSIVE});
        EXPECT_EQ(Decode(progressive.codec, jpeg, kBgr24, &image), VEX_ERR_SAMPLING);
        Instance both({VEX_OPTION_PROGRESSIVE, VEX_OPTION_EXTENDED_FRAMES});
        ASSERT_EQ(Decode(both.codec, jpeg, kBgr24, &image), 0);
        EXPECT_GE(DjpegPsnr(jpeg, image), 40.0);
        // The same coefficients coded sequentially give the same pixels.
        Image sequential;
        ASSERT_EQ(DecodeExtended(Cjpeg(std::string("-sample ") + sample, Photo()), kBgr24, &sequential), 0);
        EXPECT_TRUE(sequential.pixels == image.pixels);
    }
}

// A lone component's factors mean nothing: grey declaring 2 x 2 decodes
// exactly as the same file declaring 1 x 1.
TEST(ExtendedSampling, GreyDeclaringLargerFactorsDecodesAsGrey) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg tools missing";
    for (const char* options : {"-grayscale", "-grayscale -progressive"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> plain = Cjpeg(options, Photo());
        std::vector<uint8_t> declared = plain;
        const size_t sof = FrameHeaderAt(declared);
        ASSERT_NE(sof, 0u);
        ASSERT_EQ(declared[sof + 9], 1);  // one component
        ASSERT_EQ(declared[sof + 11], 0x11);
        declared[sof + 11] = 0x22;

        Instance instance({VEX_OPTION_EXTENDED_FRAMES, VEX_OPTION_PROGRESSIVE});
        const AppVexParams p = HeaderOf(instance.codec, declared);
        EXPECT_EQ(p.sampling.h[0], 1);
        EXPECT_EQ(p.sampling.v[0], 1);
        Image ours, reference;
        ASSERT_EQ(Decode(instance.codec, declared, kGrey, &ours), 0);
        EXPECT_EQ(VexCodecFrameColour(instance.codec), VEX_FRAME_GREY);
        ASSERT_EQ(Decode(instance.codec, plain, kGrey, &reference), 0);
        EXPECT_TRUE(ours.pixels == reference.pixels);
        EXPECT_GE(DjpegPsnr(declared, ours), 40.0);
        // And grey goes to the colour formats as three equal channels.
        Image colour;
        ASSERT_EQ(Decode(instance.codec, declared, kBgr24, &colour), 0);
        bool equal = true;
        for (size_t i = 0; i < ours.pixels.size() && equal; ++i)
            equal = colour.pixels[3 * i] == ours.pixels[i] && colour.pixels[3 * i + 1] == ours.pixels[i] &&
                    colour.pixels[3 * i + 2] == ours.pixels[i];
        EXPECT_TRUE(equal);
    }
}

// Damaged files of such samplings end with a status or a picture, and the
// picture stays in the host's buffer.
TEST(ExtendedSampling, DamagedFilesStayInsideTheHostsBuffer) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg missing";
    for (const char* options : {"-sample 1x4,1x1,1x2 -restart 1", "-rgb -sample 3x1,1x1,1x1", "-sample 2x2,1x2,2x1"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> good = Cjpeg(options, Photo());
        ASSERT_FALSE(good.empty());
        int pictures = 0;
        for (size_t at = 20; at < good.size(); at += good.size() / 37 + 1) {
            std::vector<uint8_t> damaged = good;
            damaged[at] = uint8_t(damaged[at] ^ 0xA5);
            if (at % 3 == 0) damaged.resize(at + 1);
            Instance instance({VEX_OPTION_EXTENDED_FRAMES});
            AppVexParams p;
            AppVexSetDefaultDecompress(&p);
            p.containerKind = VEX_CONTAINER_JFIF;
            if (VexReadInfoMemory(instance.codec, &p, damaged.data(), damaged.size()) != 0) continue;
            p.pixelFormat = FormatDesc(kBgr24, &p.pixelModel);
            const size_t bytes = size_t(p.width) * p.height * 3;
            std::vector<uint8_t> pixels(bytes + 64, 0xC3);
            pictures += VexDecompressMemory(instance.codec, &p, damaged.data(), damaged.size(), pixels.data(),
                                            ptrdiff_t(p.width) * 3) == 0;
            EXPECT_TRUE(std::all_of(pixels.begin() + ptrdiff_t(bytes), pixels.end(), [](uint8_t b) { return b == 0xC3; }));
        }
        EXPECT_GT(pictures, 0);
    }
}

// ---- what the legacy face keeps ------------------------------------------------------

TEST_F(LibraryTest, LegacyExportsAndPlainInstancesRefuseOtherSamplingsAsBefore) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg missing";
    std::vector<uint8_t> grey22 = Cjpeg("-grayscale", Photo());
    grey22[FrameHeaderAt(grey22) + 11] = 0x22;
    const std::vector<std::vector<uint8_t>> refused = {
        Cjpeg("-sample 1x2,1x2,1x2", Photo()), Cjpeg("-sample 3x1,1x1,1x1", Photo()),
        Cjpeg("-sample 1x2,1x1,1x1", Photo()), Cjpeg("-sample 2x2,2x2,1x1", Photo()), grey22};
    for (const std::vector<uint8_t>& jpeg : refused) {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.containerKind = VEX_CONTAINER_JFIF;
        p.pixelFormat = FormatDesc(kBgr24, &p.pixelModel);
        Image image;
        const int16_t legacy = DecompressImage(jpeg, p, DecompressOptions{}, &image);
        EXPECT_TRUE(legacy == VEX_ERR_SAMPLING) << legacy;
        Instance plain({VEX_OPTION_SATURATING_COLOUR, VEX_OPTION_PROGRESSIVE});
        EXPECT_EQ(Decode(plain.codec, jpeg, jpeg == grey22 ? kGrey : kBgr24, &image), legacy);
    }
    // An RGB-coded file is decoded as YCbCr there, byte for byte as before.
    const std::vector<uint8_t> rgb = Cjpeg("-rgb", Photo());
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    p.pixelFormat = FormatDesc(kBgr24, &p.pixelModel);
    Image legacy, plain, extended;
    ASSERT_EQ(DecompressImage(rgb, p, DecompressOptions{}, &legacy), 0);
    Instance instance({});
    ASSERT_EQ(Decode(instance.codec, rgb, kBgr24, &plain), 0);
    EXPECT_TRUE(plain.pixels == legacy.pixels);
    ASSERT_EQ(DecodeExtended(rgb, kBgr24, &extended), 0);
    EXPECT_FALSE(extended.pixels == legacy.pixels);
}

// ---- colour transforms ----------------------------------------------------------------

TEST(ExtendedColour, RgbCodedFilesAreTakenAsTheyAre) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg tools missing";
    const std::vector<uint8_t> adobe = Cjpeg("-rgb", Photo());
    ASSERT_FALSE(adobe.empty());
    // cjpeg marks RGB with an Adobe segment (transform 0) and component ids
    // 'R', 'G', 'B'; either alone says RGB, and a JFIF segment says YCbCr.
    std::vector<uint8_t> idsOnly = Without(adobe, 0xEE);
    std::vector<uint8_t> numbered = idsOnly;
    const size_t sof = FrameHeaderAt(numbered);
    ASSERT_EQ(numbered[sof + 10], 'R');
    for (int c = 0; c < 3; ++c) numbered[sof + 10 + 3 * c] = uint8_t(c + 1);
    const std::vector<uint8_t> adobeNumbered = WithAdobe(numbered, 0);
    struct Case {
        const char* name;
        const std::vector<uint8_t>* jpeg;
        int colour;
    };
    const Case cases[] = {{"Adobe transform 0 and ids R, G, B", &adobe, VEX_FRAME_RGB},
                          {"ids R, G, B", &idsOnly, VEX_FRAME_RGB},
                          {"Adobe transform 0, ids 1, 2, 3", &adobeNumbered, VEX_FRAME_RGB},
                          {"ids 1, 2, 3", &numbered, VEX_FRAME_YCBCR}};
    Image rgb;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Instance instance({VEX_OPTION_EXTENDED_FRAMES});
        Image image;
        ASSERT_EQ(Decode(instance.codec, *c.jpeg, kBgr24, &image), 0);
        EXPECT_EQ(VexCodecFrameColour(instance.codec), c.colour);
        if (c.colour == VEX_FRAME_RGB) {
            EXPECT_GE(DjpegPsnr(adobe, image), 40.0);
            if (!rgb.pixels.empty()) EXPECT_TRUE(image.pixels == rgb.pixels);
            rgb = image;
        }
    }
    // RGB in the other layouts, and progressive.
    Image bgrx, progressive;
    ASSERT_EQ(DecodeExtended(adobe, kBgrx32, &bgrx), 0);
    bool same = true;
    for (size_t i = 0; i < size_t(rgb.width) * rgb.height && same; ++i)
        same = std::equal(&rgb.pixels[3 * i], &rgb.pixels[3 * i + 3], &bgrx.pixels[4 * i]);
    EXPECT_TRUE(same);
    Instance both({VEX_OPTION_PROGRESSIVE, VEX_OPTION_EXTENDED_FRAMES});
    ASSERT_EQ(Decode(both.codec, Cjpeg("-rgb -progressive", Photo()), kBgr24, &progressive), 0);
    EXPECT_TRUE(progressive.pixels == rgb.pixels);
}

// Pillow's CMYK files (inverted CMYK with an Adobe segment, transform 0):
// four channels as djpeg gives them, and RGB as ImageMagick shows them.
TEST(ExtendedColour, CmykFilesGiveTheirInksOrTheirLight) {
    if (!HaveTool("djpeg") || vextest::Run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
        GTEST_SKIP() << "djpeg or Pillow missing";
    const bool magick = vextest::Run("test -x /usr/bin/convert") == 0;
    for (const int subsampling : {0, 2}) {
        SCOPED_TRACE(subsampling);
        const std::string path = TempPath("pillow-cmyk.jpg");
        ASSERT_EQ(vextest::Run("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + Photo() +
                      "').convert('CMYK').save('" + path + "', quality=92, subsampling=" +
                      std::to_string(subsampling) + ")\""),
                  0);
        const std::vector<uint8_t> jpeg = FileBytes(path);
        Instance instance({VEX_OPTION_EXTENDED_FRAMES});
        Image inks, light;
        ASSERT_EQ(Decode(instance.codec, jpeg, kFour, &inks), 0);
        EXPECT_EQ(VexCodecFrameColour(instance.codec), VEX_FRAME_CMYK);
        ASSERT_EQ(Decode(instance.codec, jpeg, kBgr24, &light), 0);
        // The light is that of the inks decoded: C' x K' / 255, rounded.
        bool matches = true;
        for (size_t i = 0; i < size_t(inks.width) * inks.height && matches; ++i) {
            const uint8_t* ink = &inks.pixels[4 * i];
            for (int ch = 0; ch < 3; ++ch)
                matches = matches && light.pixels[3 * i + 2 - ch] == (ink[ch] * ink[3] + 127) / 255;
        }
        EXPECT_TRUE(matches);
        // djpeg writes CMYK as that same light.
        EXPECT_GE(DjpegPsnr(jpeg, light), 40.0);
        if (magick) {
            const std::string ppm = TempPath("magick-cmyk.ppm");
            // Replicated, not smoothed, as this library upsamples.
            ASSERT_EQ(vextest::Run("/usr/bin/convert -define jpeg:fancy-upsampling=off " + path +
                                   " -colorspace sRGB " + ppm),
                      0);
            Pnm theirs;
            ASSERT_TRUE(ReadPnm(ppm, &theirs));
            const Pnm ours = BgrAsPnm(light);
            ASSERT_EQ(theirs.samples.size(), ours.samples.size());
            size_t beyondOne = 0;
            for (size_t i = 0; i < ours.samples.size(); ++i)
                beyondOne += std::abs(int(ours.samples[i]) - int(theirs.samples[i])) > 1;
            EXPECT_LE(beyondOne, ours.samples.size() / 100) << "samples more than 1 level from ImageMagick's";
            EXPECT_GE(Psnr(ours, theirs), 44.0);
            std::remove(ppm.c_str());
        }
        std::remove(path.c_str());
    }
}

// A YCCK file: the inks come out as CMYK (or as coded, with the option),
// the light as djpeg shows it.
TEST(ExtendedColour, YcckFilesComeOutAsCmyk) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg missing";
    // Four components coded as they are, then marked YCCK.
    const Image made = MakeTestImage(100, 60, 4, 7);
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(made.width);
    p.height = uint16_t(made.height);
    p.sampling = SamplingOf(4, &p.colorSpace);
    p.pixelFormat = FormatDesc(kFour, &p.pixelModel);
    uint8_t* stream = nullptr;
    size_t size = 0;
    Instance coder({});
    ASSERT_EQ(VexCompressMemory(coder.codec, &p, made.pixels.data(), made.width * 4, &stream, &size), 0);
    const std::vector<uint8_t> plain(stream, stream + size);
    VexFree(stream);
    const std::vector<uint8_t> ycck = WithAdobe(plain, 2);

    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    Image coded, inks, light;
    ASSERT_EQ(Decode(instance.codec, plain, kFour, &coded), 0);
    ASSERT_EQ(Decode(instance.codec, ycck, kFour, &inks), 0);
    EXPECT_EQ(VexCodecFrameColour(instance.codec), VEX_FRAME_YCCK);
    ASSERT_EQ(Decode(instance.codec, ycck, kBgr24, &light), 0);
    EXPECT_GE(DjpegPsnr(ycck, light), 40.0);
    // C = 255 - red of the YCbCr, K as coded.
    bool inverted = true, blackKept = true;
    for (size_t i = 0; i < size_t(inks.width) * inks.height; ++i) {
        const uint8_t* y = &coded.pixels[4 * i];
        const int red = std::clamp(y[0] + ((91881 * (y[2] - 128) + 32768) >> 16), 0, 255);
        inverted = inverted && inks.pixels[4 * i] == 255 - red;
        blackKept = blackKept && inks.pixels[4 * i + 3] == y[3];
    }
    EXPECT_TRUE(inverted);
    EXPECT_TRUE(blackKept);

    Instance raw({VEX_OPTION_EXTENDED_FRAMES, VEX_OPTION_RAW_COMPONENTS});
    Image asCoded;
    ASSERT_EQ(Decode(raw.codec, ycck, kFour, &asCoded), 0);
    EXPECT_TRUE(asCoded.pixels == coded.pixels);
}

// ---- the C++ wrapper and the tool -------------------------------------------------------

// The wrapper's instances read such frames; four components become RGB when
// asked for, in the library.
TEST(ExtendedSurfaces, TheWrapperDecodesOtherSamplingsAndConvertsFourComponents) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg tools missing";
    const std::vector<uint8_t> jpeg = Cjpeg("-sample 1x2,1x1,1x1 -restart 2", Photo());
    for (const int threads : {1, 3}) {
        q32vex::DecompressOptions options;
        options.threads = threads;
        const q32vex::Image image = q32vex::decompress(jpeg, options);
        Image ours{image.width, image.height, 3, image.pixels};
        EXPECT_GE(DjpegPsnr(jpeg, ours), 40.0) << threads << " threads";
    }
    const q32vex::ImageInfo info = q32vex::read_info(jpeg);
    EXPECT_EQ(info.h[0], 1);
    EXPECT_EQ(info.v[0], 2);

    // Four components coded as they are, as CMYK: its light, or its inks.
    const Image made = MakeTestImage(64, 40, 4, 3);
    q32vex::Image four;
    four.width = made.width;
    four.height = made.height;
    four.format = q32vex::PixelFormat::Four8;
    four.pixels = made.pixels;
    const std::vector<uint8_t> cmyk = q32vex::compress(four.view(), q32vex::CompressOptions{});
    q32vex::DecompressOptions rgb;
    rgb.four_to_rgb = true;
    const q32vex::Image light = q32vex::decompress(cmyk, rgb);
    const q32vex::Image inks = q32vex::decompress(cmyk, q32vex::DecompressOptions{});
    ASSERT_EQ(light.format, q32vex::PixelFormat::Bgr24);
    ASSERT_EQ(inks.format, q32vex::PixelFormat::Four8);
    bool matches = true;
    for (size_t i = 0; i < size_t(light.width) * light.height && matches; ++i)
        for (int ch = 0; ch < 3; ++ch)
            matches = matches && light.pixels[3 * i + 2 - ch] ==
                                     (inks.pixels[4 * i + ch] * inks.pixels[4 * i + 3] + 127) / 255;
    EXPECT_TRUE(matches);
}

using ExtendedTool = tooltest::VexjpegTest;

// vexjpeg decompresses them as djpeg does.
TEST_F(ExtendedTool, DecompressesOtherSamplingsAndRgbFiles) {
    if (IsSkipped()) return;
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "libjpeg tools missing";
    for (const char* options : {"-sample 1x2,1x1,1x1", "-sample 3x1,1x1,1x1", "-rgb -sample 1x2,1x2,1x2"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> jpeg = Cjpeg(options, Photo());
        WriteFile(Path("in.jpg"), jpeg);
        Ok("decompress " + tooltest::Q(Path("in.jpg")) + " " + tooltest::Q(Path("out.ppm")));
        Pnm ours, theirs;
        ASSERT_TRUE(ReadPnm(Path("out.ppm"), &ours));
        ASSERT_TRUE(Djpeg(jpeg, &theirs, "-dct int -nosmooth"));
        EXPECT_GE(Psnr(ours, theirs), 40.0);
    }
}

}  // namespace
}  // namespace vextest
