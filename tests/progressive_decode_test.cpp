// Progressive JPEG on codec instances with VEX_OPTION_PROGRESSIVE: the same
// coefficients as a sequential file give the same pixels, byte for byte;
// files made by cjpeg agree with djpeg; the legacy exports and instances
// without the option refuse them as before; the memory budget refuses before
// allocating; damaged files end with a status or a picture, never a crash.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/allocator.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {
namespace {

struct Instance {
    explicit Instance(bool progressive) {
        if (codec != nullptr && progressive) optionStatus = VexCodecSetOption(codec, VEX_OPTION_PROGRESSIVE, 1);
    }
    ~Instance() { VexCodecDestroy(codec); }
    VexCodec* codec = VexCodecCreate();
    int16_t optionStatus = 0;
};

// A decoding record for JFIF streams; three-component pictures come out in
// `formatIndex` (grey ones as grey bytes, which the header sets).
AppVexParams ReadParams(int formatIndex = 1) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    p.pixelFormat = FormatDesc(formatIndex, &p.pixelModel);
    return p;
}

int BytesPerPixelOf(const AppVexParams& p) {
    int bits = 0;
    for (int i = 0; i < 4; ++i) bits += p.pixelFormat.bits[i] + p.pixelFormat.pad[i];
    return (bits + 7) / 8;
}

// Header, then the whole picture through the one-call form.
int16_t DecodeOnInstance(VexCodec* codec, const std::vector<uint8_t>& stream, AppVexParams p, Image* out) {
    const int16_t info = VexReadInfoMemory(codec, &p, stream.data(), stream.size());
    if (info != 0) return info;
    out->width = p.width;
    out->height = p.height;
    out->bytesPerPixel = BytesPerPixelOf(p);
    out->pixels.assign(size_t(out->width) * out->height * out->bytesPerPixel, 0xAA);
    return VexDecompressMemory(codec, &p, stream.data(), stream.size(), out->pixels.data(),
                               out->width * out->bytesPerPixel);
}

int16_t DecodeProgressive(const std::vector<uint8_t>& stream, Image* out, int formatIndex = 1) {
    Instance instance(true);
    if (instance.codec == nullptr || instance.optionStatus != 0) return -1;
    return DecodeOnInstance(instance.codec, stream, ReadParams(formatIndex), out);
}

std::string WriteText(const std::string& name, const std::string& text) {
    const std::string path = TempPath(name);
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    return path;
}

// Successive-approximation scripts: DC in three bits, AC bands split at odd
// places and refined one bit at a time, each component differently; the grey
// one also refines its DC in a scan of its own.
const char kColourScript[] =
    "0,1,2: 0-0, 0, 2;\n"
    "0: 1-3, 0, 3;\n"
    "1: 1-9, 0, 1;\n"
    "2: 1-63, 0, 0;\n"
    "0: 4-17, 0, 3;\n"
    "0: 18-63, 0, 3;\n"
    "1: 10-63, 0, 1;\n"
    "0,1,2: 0-0, 2, 1;\n"
    "0: 1-17, 3, 2;\n"
    "0: 18-63, 3, 2;\n"
    "0: 1-63, 2, 1;\n"
    "1: 1-63, 1, 0;\n"
    "0,1,2: 0-0, 1, 0;\n"
    "0: 1-5, 1, 0;\n"
    "0: 6-63, 1, 0;\n";
// DC first coded component by component (non-interleaved), refined together.
const char kSeparateDcScript[] =
    "0: 0-0, 0, 1;\n"
    "1: 0-0, 0, 1;\n"
    "2: 0-0, 0, 1;\n"
    "2: 1-63, 0, 1;\n"
    "0: 1-63, 0, 2;\n"
    "1: 1-63, 0, 0;\n"
    "0,1,2: 0-0, 1, 0;\n"
    "0: 1-63, 2, 1;\n"
    "2: 1-63, 1, 0;\n"
    "0: 1-63, 1, 0;\n";
const char kGreyScript[] =
    "0: 0-0, 0, 1;\n"
    "0: 1-5, 0, 2;\n"
    "0: 6-63, 0, 2;\n"
    "0: 1-63, 2, 1;\n"
    "0: 0-0, 1, 0;\n"
    "0: 1-63, 1, 0;\n";

struct Picture {
    const char* name;
    int x, y, width, height;  // the crop of photo1 (width 0: the whole of it)
};

struct Sampling {
    const char* name;
    const char* cjpeg;  // cjpeg option
};

const Picture kPictures[] = {
    {"photo", 0, 0, 0, 0},       {"crop_33x17", 101, 57, 33, 17}, {"crop_17x41", 7, 200, 17, 41},
    {"crop_8x8", 300, 100, 8, 8}, {"crop_1x1", 10, 10, 1, 1},     {"crop_130x66", 250, 180, 130, 66},
};
const Sampling kSamplings[] = {
    {"420", "-sample 2x2"}, {"422", "-sample 2x1"}, {"444", "-sample 1x1"},
    {"411", "-sample 4x1"}, {"grey", "-grayscale"},
};
// jpegtran options that make the progressive file (the script names are
// filled in at run time).
const char* const kModes[] = {
    "-progressive", "-progressive -restart 1", "-progressive -restart 2B", "SCRIPT", "SCRIPT -restart 3B",
    "SEPARATE_DC",
};

std::string PicturePath(const Picture& picture) {
    const std::string source = DataPath("photo1.ppm");
    if (picture.width == 0) return source;
    Pnm full;
    if (!ReadPnm(source, &full)) return std::string();
    const std::string path = TempPath(std::string("progressive_") + picture.name + ".ppm");
    if (!WritePnm(path, Crop(full, picture.x, picture.y, picture.width, picture.height))) return std::string();
    return path;
}

std::vector<uint8_t> Jpegtran(const std::string& options, const std::vector<uint8_t>& input) {
    static int counter = 0;
    const std::string base = TempPath("jpegtran" + std::to_string(++counter));
    std::vector<uint8_t> bytes;
    if (!WriteFile(base + ".in.jpg", input) ||
        Run("jpegtran " + options + " -outfile " + base + ".out.jpg " + base + ".in.jpg") != 0 ||
        !ReadFile(base + ".out.jpg", &bytes))
        bytes.clear();
    std::remove((base + ".in.jpg").c_str());
    std::remove((base + ".out.jpg").c_str());
    return bytes;
}

std::string ModeOptions(const std::string& mode, bool grey) {
    const std::string script = WriteText(grey ? "grey.scans" : "colour.scans", grey ? kGreyScript : kColourScript);
    const std::string separate = WriteText("separate.scans", grey ? kGreyScript : kSeparateDcScript);
    if (mode.rfind("SCRIPT", 0) == 0) return "-scans " + script + mode.substr(6);
    if (mode == "SEPARATE_DC") return "-scans " + separate;
    return mode;
}

bool IsProgressive(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2) return true;
    return false;
}

class ProgressiveExactness : public LibraryTest {};

// jpegtran rewrites a sequential file's coefficients in progressive scans
// without changing them, so the progressive decode must give exactly the
// pixels of the sequential decode of the original.
TEST_F(ProgressiveExactness, SameCoefficientsGiveTheSequentialPixelsByteForByte) {
    if (!HaveTool("cjpeg") || !HaveTool("jpegtran")) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    int compared = 0;
    for (const Picture& picture : kPictures) {
        const std::string input = PicturePath(picture);
        ASSERT_FALSE(input.empty());
        for (const Sampling& sampling : kSamplings) {
            const bool grey = std::string(sampling.name) == "grey";
            const std::vector<uint8_t> sequential = Cjpeg(std::string(sampling.cjpeg) + " -quality 85", input);
            ASSERT_FALSE(sequential.empty());
            Image expected;
            {
                Instance plain(false);
                ASSERT_EQ(DecodeOnInstance(plain.codec, sequential, ReadParams(), &expected), 0)
                    << picture.name << " " << sampling.name;
            }
            for (const char* mode : kModes) {
                SCOPED_TRACE(std::string(picture.name) + " " + sampling.name + " " + mode);
                const std::vector<uint8_t> progressive = Jpegtran(ModeOptions(mode, grey), sequential);
                ASSERT_TRUE(IsProgressive(progressive));
                Image decoded;
                ASSERT_EQ(DecodeProgressive(progressive, &decoded), 0);
                ASSERT_EQ(decoded.width, expected.width);
                ASSERT_EQ(decoded.height, expected.height);
                EXPECT_TRUE(decoded.pixels == expected.pixels);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 6 * 5 * 6);
}

// Each pixel format's output routine, fed from the coefficient store.
TEST_F(ProgressiveExactness, EveryColourPixelFormatMatchesTheSequentialDecode) {
    if (!HaveTool("cjpeg") || !HaveTool("jpegtran")) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    const std::string input = PicturePath(kPictures[5]);
    const std::vector<uint8_t> sequential = Cjpeg("-sample 2x2", input);
    const std::vector<uint8_t> progressive = Jpegtran("-progressive", sequential);
    for (int format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        Image expected, decoded;
        Instance plain(false);
        ASSERT_EQ(DecodeOnInstance(plain.codec, sequential, ReadParams(format), &expected), 0);
        ASSERT_EQ(DecodeProgressive(progressive, &decoded, format), 0);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
    }
}

// Band by band, with a window and small bands through the host's own read
// callback in small pieces: the window's pixels of the whole decode.
TEST_F(ProgressiveExactness, BandsAndWindowsComeFromTheSameStore) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::vector<uint8_t> progressive = Cjpeg("-progressive -sample 2x2", DataPath("photo1.ppm"));
    Image whole;
    ASSERT_EQ(DecodeProgressive(progressive, &whole), 0);

    Instance instance(true);
    ASSERT_EQ(instance.optionStatus, 0);
    ResetSource(progressive, 1000);
    AppVexParams p = ReadParams();
    p.readCallback = SourceRead;
    ASSERT_EQ(VexReadInfo(instance.codec, &p), 0);
    p.windowLeft = 37;
    p.windowTop = 21;
    p.windowRight = 401;
    p.windowBottom = 250;
    p.bandWidth = 100;
    p.bandHeight = 40;
    ResetSource(progressive, 1000);
    ASSERT_EQ(VexDecompressOpen(instance.codec, &p), 0);
    const int bpp = 3;
    const int winW = 401 - 37 + 1, winH = 250 - 21 + 1;
    std::vector<uint8_t> window(size_t(winW) * winH * bpp, 0);
    std::vector<uint8_t> band(size_t(p.bandWidth) * p.bandHeight * bpp);
    std::vector<uint8_t*> rows(p.bandHeight);
    for (int y = 0; y < p.bandHeight; ++y) rows[y] = band.data() + size_t(y) * p.bandWidth * bpp;
    size_t covered = 0;
    for (int call = 0; call < 10000; ++call) {
        BandRect r = {1, 0, 0, 0};
        ASSERT_EQ(VexDecompressBand(instance.codec, rows.data(), &r), 0);
        if (r.x0 == 1 && r.x1 == 0) break;
        for (int y = r.y0; y <= r.y1; ++y)
            std::memcpy(window.data() + (size_t(y) * winW + r.x0) * bpp, rows[y - r.y0], size_t(r.x1 - r.x0 + 1) * bpp);
        covered += size_t(r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
    }
    EXPECT_EQ(covered, size_t(winW) * winH);
    for (int y = 0; y < winH; ++y) {
        const uint8_t* expected = whole.pixels.data() + (size_t(y + 21) * whole.width + 37) * bpp;
        ASSERT_EQ(std::memcmp(window.data() + size_t(y) * winW * bpp, expected, size_t(winW) * bpp), 0) << "row " << y;
    }
}

class ProgressiveOracle : public LibraryTest {};

// Files made by cjpeg itself, progressive from the start, against djpeg.
TEST_F(ProgressiveOracle, CjpegFilesAgreeWithDjpeg) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    const std::string colour = WriteText("oracle_colour.scans", kColourScript);
    const std::string grey = WriteText("oracle_grey.scans", kGreyScript);
    const std::string separate = WriteText("oracle_separate.scans", kSeparateDcScript);
    double worst = 1000;
    for (const Picture& picture : {kPictures[0], kPictures[1], kPictures[5]}) {
        const std::string input = PicturePath(picture);
        for (const Sampling& sampling : kSamplings) {
            const bool isGrey = std::string(sampling.name) == "grey";
            for (const std::string& mode :
                 {std::string("-progressive"), std::string("-progressive -restart 1"),
                  std::string("-progressive -restart 2B"), "-scans " + (isGrey ? grey : colour),
                  "-scans " + (isGrey ? grey : separate) + " -restart 5B"}) {
                SCOPED_TRACE(std::string(picture.name) + " " + sampling.name + " " + mode);
                const std::vector<uint8_t> jpeg = Cjpeg(std::string(sampling.cjpeg) + " " + mode, input);
                ASSERT_TRUE(IsProgressive(jpeg));
                Image decoded;
                ASSERT_EQ(DecodeProgressive(jpeg, &decoded), 0);
                Pnm reference;
                ASSERT_TRUE(Djpeg(jpeg, &reference, "-dct int -nosmooth"));
                const double psnr = Psnr(BgrAsPnm(decoded), reference);
                EXPECT_GE(psnr, 40.0);
                worst = std::min(worst, psnr);
            }
        }
    }
    std::printf("lowest PSNR against djpeg: %.2f dB\n", worst);
}

class ProgressiveRefusal : public LibraryTest {};

// Without the option nothing changes: the legacy exports and a plain
// instance refuse at the frame header with the same status.
TEST_F(ProgressiveRefusal, LegacyExportsAndPlainInstancesRefuseAsBefore) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::vector<uint8_t> jpeg = Cjpeg("-progressive", DataPath("photo1.ppm"));
    ASSERT_TRUE(IsProgressive(jpeg));

    AppVexParams legacy = ReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(jpeg, 4096);
    EXPECT_EQ(AppVexGetCompInfo(&legacy), VEX_ERR_CONTAINER);
    legacy = ReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(jpeg, 4096);
    EXPECT_EQ(AppVexDecompressBuffInit(&legacy), VEX_ERR_CONTAINER);

    Instance plain(false);
    Image out;
    EXPECT_EQ(DecodeOnInstance(plain.codec, jpeg, ReadParams(), &out), VEX_ERR_CONTAINER);
    AppVexParams p = ReadParams();
    std::vector<uint8_t> pixels(451 * 300 * 3);
    EXPECT_EQ(VexDecompressMemory(plain.codec, &p, jpeg.data(), jpeg.size(), pixels.data(), 451 * 3),
              VEX_ERR_CONTAINER);
    // Switched off again, the option leaves an instance as a plain one.
    Instance toggled(true);
    ASSERT_EQ(VexCodecSetOption(toggled.codec, VEX_OPTION_PROGRESSIVE, 0), 0);
    EXPECT_EQ(DecodeOnInstance(toggled.codec, jpeg, ReadParams(), &out), VEX_ERR_CONTAINER);
    EXPECT_EQ(VexCodecSetOption(toggled.codec, VEX_OPTION_PROGRESSIVE, 2), VEX_ERR_UNSUPPORTED);
}

TEST_F(ProgressiveRefusal, HeaderIsDescribedWithTheOption) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::vector<uint8_t> jpeg = Cjpeg("-progressive -sample 2x1 -restart 3B", DataPath("photo1.ppm"));
    Instance instance(true);
    AppVexParams p = ReadParams();
    ASSERT_EQ(VexReadInfoMemory(instance.codec, &p, jpeg.data(), jpeg.size()), 0);
    EXPECT_EQ(p.width, 451);
    EXPECT_EQ(p.height, 300);
    EXPECT_EQ(p.sampling.h[0], 2);
    EXPECT_EQ(p.sampling.v[0], 1);
    EXPECT_EQ(p.sampling.h[1], 1);
    EXPECT_EQ(p.restartInterval, 3);
    // 29 x 38 MCUs of four blocks, 128 bytes each.
    EXPECT_EQ(VexCodecProgressiveBytes(instance.codec), uint64_t(29) * 38 * 4 * 128);
}

// A frame header is all it takes to know the store's size: too large for the
// budget, the open refuses before allocating anything of that size or
// reading the scans.
// Sets the frame size in the SOF2 segment.
std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            break;
        }
    }
    return jpeg;
}

TEST_F(ProgressiveRefusal, BudgetRefusesBeforeAllocating) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    // 451 x 600 4:4:4: 57 x 75 MCUs of three blocks, 1.6 MB of store.
    const std::vector<uint8_t> jpeg = WithFrameSize(Cjpeg("-progressive -sample 1x1", DataPath("photo1.ppm")), 451, 600);
    Instance instance(true);
    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 1), 0);
    Image out;
    q32vex::ResetPeakBytes();
    const int64_t before = q32vex::GetAllocatorStats().peakBytes;
    EXPECT_EQ(DecodeOnInstance(instance.codec, jpeg, ReadParams(), &out), VEX_ERR_IMAGE_SIZE);
    EXPECT_EQ(VexCodecProgressiveBytes(instance.codec), uint64_t(57) * 75 * 3 * 128);
    EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 256 * 1024);
    // Raised, the same instance decodes it (the lower half from no data).
    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 2), 0);
    EXPECT_EQ(DecodeOnInstance(instance.codec, jpeg, ReadParams(), &out), 0);
    EXPECT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 0), VEX_ERR_UNSUPPORTED);
    EXPECT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 4096), VEX_ERR_UNSUPPORTED);

    // 65000 x 65000 4:4:4 promised by a 400-byte file: about 24 GiB of store,
    // refused under the default budget at no cost.
    std::vector<uint8_t> huge = WithFrameSize(jpeg, 65000, 65000);
    huge.resize(400);
    Instance fresh(true);
    q32vex::ResetPeakBytes();
    const int64_t start = q32vex::GetAllocatorStats().peakBytes;
    AppVexParams p = ReadParams();
    std::vector<uint8_t> pixel(3);
    EXPECT_EQ(VexDecompressMemory(fresh.codec, &p, huge.data(), huge.size(), pixel.data(), 3), VEX_ERR_IMAGE_SIZE);
    EXPECT_GT(VexCodecProgressiveBytes(fresh.codec), uint64_t(1) << 34);
    EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - start, 256 * 1024);
}

class ProgressiveDamage : public LibraryTest {};

// Cut anywhere or with bits flipped, a file gives a status or a picture; the
// open and the decode touch nothing outside the host's buffers (the guarded
// rows of the band driver and the sanitizer builds check that). A file cut
// after its first scan still decodes: the scans that are there make the
// picture.
TEST_F(ProgressiveDamage, CutAndFlippedFilesEndCleanly) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::string script = WriteText("damage.scans", kColourScript);
    const std::vector<uint8_t> jpeg =
        Cjpeg("-sample 2x2 -restart 2B -scans " + script, PicturePath(kPictures[5]));
    ASSERT_TRUE(IsProgressive(jpeg));
    Image whole;
    ASSERT_EQ(DecodeProgressive(jpeg, &whole), 0);
    size_t firstScanData = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            firstScanData = i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
            break;
        }
    }
    ASSERT_GT(firstScanData, 0u);
    for (size_t cut = 0; cut < jpeg.size(); cut += 1 + cut / 16) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::vector<uint8_t> cutFile(jpeg.begin(), jpeg.begin() + long(cut));
        Image out;
        const int16_t status = DecodeProgressive(cutFile, &out);
        if (cut >= firstScanData) {
            EXPECT_EQ(status, 0);
        } else {
            EXPECT_NE(status, 0);
        }
    }
    // Without its last bytes (the end marker and a little data) the picture
    // is nearly the whole one.
    {
        const std::vector<uint8_t> cutFile(jpeg.begin(), jpeg.end() - 20);
        Image out;
        ASSERT_EQ(DecodeProgressive(cutFile, &out), 0);
        EXPECT_GE(Psnr(out.pixels.data(), whole.pixels.data(), out.pixels.size()), 30.0);
    }
    uint32_t seed = 12345;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> flipped = jpeg;
        for (int k = 0; k < 1 + trial % 4; ++k) {
            seed = seed * 1103515245u + 12345u;
            const size_t at = (seed >> 8) % flipped.size();
            flipped[at] = uint8_t(flipped[at] ^ (1u << ((seed >> 4) & 7)));
        }
        Image out;
        const int16_t status = DecodeProgressive(flipped, &out);
        EXPECT_TRUE(status == 0 || (status <= -367 && status >= -398)) << "trial " << trial << " status " << status;
    }
}

}  // namespace
}  // namespace vextest
