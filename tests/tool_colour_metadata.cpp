// vexjpeg and what goes beyond the pixels of a colour image: four-component
// (CMYK, YCCK) files shown as djpeg and Pillow show them, and the ICC
// profile and Exif block carried between PNG and JPEG files. Pillow (through
// /usr/bin/python3) makes the inputs and judges the outputs.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "q32vex.hpp"
#include "tool_support.h"

namespace vextest {
namespace {

using tooltest::Q;
using tooltest::Result;

class ToolColourTest : public tooltest::VexjpegTest {
protected:
    void SetUp() override {
        tooltest::VexjpegTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg missing";
        if (tooltest::Shell("/usr/bin/python3 -c 'import PIL.ImageCms, PIL.PngImagePlugin'").code != 0)
            GTEST_SKIP() << "Pillow missing";
        if (tooltest::Shell(tool_ + " --version").out.find("png") == std::string::npos)
            GTEST_SKIP() << "vexjpeg without PNG support";
    }
    // Runs a Python program in the scratch directory; its standard output.
    std::string Py(const std::string& program) {
        WriteFile(Path("t.py"), std::vector<uint8_t>(program.begin(), program.end()));
        const Result r = tooltest::Shell("cd " + Q(dir_) + " && /usr/bin/python3 t.py");
        EXPECT_EQ(r.code, 0) << program << "\n" << r.err;
        return r.out;
    }
};

// Python: the largest difference of any sample between two pictures.
const char kMaxDiff[] =
    "from PIL import Image, ImageChops\n"
    "def maxdiff(a, b):\n"
    "    assert a.size == b.size and a.mode == b.mode, (a.size, b.size, a.mode, b.mode)\n"
    "    return max(hi for lo, hi in ImageChops.difference(a, b).getextrema())\n";

// The largest sample difference between two PPM files of the same shape
// (-1 when they differ in shape).
int MaxDiff(const Pnm& a, const Pnm& b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) return -1;
    int most = 0;
    for (size_t i = 0; i < a.samples.size(); ++i) most = std::max(most, std::abs(a.samples[i] - b.samples[i]));
    return most;
}

// An Adobe APP14 segment with the given transform, placed after APP0.
std::vector<uint8_t> WithAdobeSegment(std::vector<uint8_t> jpeg, uint8_t transform) {
    const size_t app0End = 4 + (size_t(jpeg[4]) << 8 | jpeg[5]);
    const std::vector<uint8_t> app14 = {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform};
    jpeg.insert(jpeg.begin() + long(app0End), app14.begin(), app14.end());
    return jpeg;
}

// Four components become the RGB that djpeg and Pillow show; the channels
// as decoded are still there for whoever asks.
TEST_F(ToolColourTest, FourComponentImagesAreShownAsDjpegAndPillowShowThem) {
    // Adobe CMYK from Pillow (inverted samples, APP14 transform 0), with a
    // black channel that varies.
    Py(std::string(kMaxDiff) +
       "src = Image.open(" + Q(DataPath("photo1.ppm")) + ")\n"
       "r, g, b = src.split()\n"
       "Image.merge('CMYK', (r, g, b, src.convert('L').point(lambda v: 255 - v))).save('adobe.jpg', quality=95)\n");
    Ok("decompress " + Q(Path("adobe.jpg")) + " " + Q(Path("adobe.png")));
    Ok("decompress " + Q(Path("adobe.jpg")) + " " + Q(Path("adobe.ppm")));
    Ok("decompress " + Q(Path("adobe.jpg")) + " " + Q(Path("adobe.bmp")));
    Ok("decompress " + Q(Path("adobe.jpg")) + " " + Q(Path("raw.png")) + " --raw-channels");
    for (const char* other : {"adobe.ppm", "adobe.bmp"}) {
        const Result same = Vex("compare " + Q(Path("adobe.png")) + " " + Q(Path(other)));
        EXPECT_EQ(same.out, "psnr=inf (identical)\n") << other << same.err;
    }
    // The conversion of the very samples decoded is Pillow's conversion of
    // inverted CMYK, to the level; the whole decode is within a level or two
    // of Pillow's own (its libjpeg rounds the inverse DCT its own way).
    const std::string judged = Py(std::string(kMaxDiff) +
                                  "raw = Image.open('raw.png')\n"
                                  "ours = Image.open('adobe.png')\n"
                                  "assert raw.mode == 'RGBA' and ours.mode == 'RGB', (raw.mode, ours.mode)\n"
                                  "cmyk = Image.frombytes('CMYK', raw.size, raw.tobytes(), 'raw', 'CMYK;I')\n"
                                  "print(maxdiff(cmyk.convert('RGB'), ours), "
                                  "maxdiff(Image.open('adobe.jpg').convert('RGB'), ours) <= 2)\n");
    EXPECT_EQ(judged, "0 True\n");
    // The raw channels are the library's decode of the stream.
    const std::vector<uint8_t> jpeg = FileBytes(Path("adobe.jpg"));
    const q32vex::Image decoded = q32vex::decompress(jpeg);
    ASSERT_EQ(decoded.format, q32vex::PixelFormat::Four8);
    WriteFile(Path("decoded.bin"), decoded.pixels);
    EXPECT_EQ(Py("from PIL import Image\n"
                 "print(Image.open('raw.png').tobytes() == open('decoded.bin', 'rb').read())\n"),
              "True\n");

    // Without an Adobe segment (as the library writes four components) the
    // samples are read as inverted all the same, as djpeg reads them; and a
    // YCCK file (APP14 transform 2) goes through YCbCr first, in both
    // four-component layouts.
    const q32vex::Image pixels = [] {
        const Image made = MakeTestImage(96, 64, 4, 11);
        q32vex::Image image;
        image.width = made.width;
        image.height = made.height;
        image.format = q32vex::PixelFormat::Four8;
        image.pixels = made.pixels;
        return image;
    }();
    for (const q32vex::Sampling sampling : {q32vex::Sampling::Four444, q32vex::Sampling::Four420}) {
        SCOPED_TRACE(int(sampling));
        q32vex::CompressOptions options;
        options.jpeg_quality = 90;
        options.with_sampling(sampling);
        const std::vector<uint8_t> plain = q32vex::compress(pixels.view(), options);
        WriteFile(Path("plain.jpg"), plain);
        WriteFile(Path("ycck.jpg"), WithAdobeSegment(plain, 2));
        for (const char* name : {"plain", "ycck"}) {
            SCOPED_TRACE(name);
            const std::string file = Path(std::string(name) + ".jpg");
            Ok("decompress " + Q(file) + " " + Q(file + ".ppm"));
            Pnm ours, theirs;
            ASSERT_TRUE(ReadPnm(file + ".ppm", &ours));
            ASSERT_TRUE(Djpeg(FileBytes(file), &theirs, "-pnm -dct int -nosmooth"));
            ASSERT_EQ(theirs.channels, 3);
            // Within what two inverse DCTs' rounding, carried through
            // YCbCr and multiplied by black, makes.
            EXPECT_LE(MaxDiff(ours, theirs), 3);
            EXPECT_GT(Psnr(ours, theirs), 48.0);
        }
    }
    // The YCCK conversion of the samples decoded is Pillow's YCbCr to RGB,
    // then inverted CMYK to RGB, within its rounding of the first step.
    Ok("decompress " + Q(Path("ycck.jpg")) + " " + Q(Path("ycck.png")));
    Ok("decompress " + Q(Path("ycck.jpg")) + " " + Q(Path("ycck-raw.png")) + " --raw-channels");
    const std::string ycck = Py(std::string(kMaxDiff) +
                                "from PIL import ImageChops\n"
                                "y, cb, cr, k = Image.open('ycck-raw.png').split()\n"
                                "rgb = Image.merge('YCbCr', (y, cb, cr)).convert('RGB')\n"
                                "ink = Image.merge('CMYK', rgb.split() + (ImageChops.invert(k),))\n"
                                "print(maxdiff(ink.convert('RGB'), Image.open('ycck.png')))\n");
    EXPECT_LE(std::atoi(ycck.c_str()), 1) << ycck;
    EXPECT_EQ(ycck.back(), '\n') << ycck;

    // Formats without a fourth channel refuse the raw channels.
    const Result refused = Vex("decompress " + Q(Path("adobe.jpg")) + " " + Q(Path("r.ppm")) + " --raw-channels");
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("PPM cannot hold four-component images"), std::string::npos) << refused.err;
}

// The positions and lengths of a JPEG file's APP2 segments.
std::vector<std::pair<size_t, size_t>> App2Segments(const std::vector<uint8_t>& jpeg) {
    std::vector<std::pair<size_t, size_t>> found;
    for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA;) {
        const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (jpeg[pos + 1] == 0xE2) found.emplace_back(pos, 2 + length);
        pos += 2 + length;
    }
    return found;
}

// An ICC profile and an Exif block go from PNG to JPEG and back byte for
// byte; --strip leaves them out both ways; profiles in several chunks are
// joined in sequence order.
TEST_F(ToolColourTest, IccProfileAndExifTravelBetweenPngAndJpeg) {
    Py("from PIL import Image, ImageCms\n"
       "icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()\n"
       "open('srgb.icc', 'wb').write(icc)\n"
       "exif = Image.Exif()\n"
       "exif[0x010F] = 'vexjpeg maker'\n"
       "exif[0x0131] = 'the colour test'\n"
       "photo = Image.open(" + Q(DataPath("photo1.ppm")) + ")\n"
       "photo.save('meta.png', icc_profile=icc, exif=exif.tobytes())\n"
       // A profile larger than one segment: the sRGB one, padded, in three
       // APP2 chunks as Pillow writes them.
       "big = bytearray(icc) + bytes(range(256)) * 600\n"
       "big[0:4] = len(big).to_bytes(4, 'big')\n"
       "open('big.icc', 'wb').write(big)\n"
       "photo.save('big.jpg', icc_profile=bytes(big), quality=90)\n"
       "photo.save('big.png', icc_profile=bytes(big))\n");
    Ok("compress " + Q(Path("meta.png")) + " " + Q(Path("meta.jpg")));
    Ok("compress " + Q(Path("meta.png")) + " " + Q(Path("stripped.jpg")) + " --strip");
    Ok("decompress " + Q(Path("meta.jpg")) + " " + Q(Path("back.png")));
    Ok("decompress " + Q(Path("meta.jpg")) + " " + Q(Path("stripped.png")) + " --strip");
    Pnm decoded;
    for (const char* file : {"meta.jpg", "stripped.jpg"})
        EXPECT_TRUE(Djpeg(FileBytes(Path(file)), &decoded)) << "djpeg cannot read " << file;
    const std::string judged =
        Py("from PIL import Image\n"
           "icc = open('srgb.icc', 'rb').read()\n"
           "source = Image.open('meta.png')\n"
           "exif = source.info['exif']\n"  // Pillow prefixes "Exif\\0\\0" in both formats
           "for name in ('meta.jpg', 'back.png'):\n"
           "    im = Image.open(name)\n"
           "    print(name, im.info.get('icc_profile') == icc, im.info.get('exif') == exif,\n"
           "          im.getexif().get(0x010F), im.getexif().get(0x0131))\n"
           "for name in ('stripped.jpg', 'stripped.png'):\n"
           "    im = Image.open(name)\n"
           "    print(name, 'icc_profile' in im.info, 'exif' in im.info)\n");
    EXPECT_EQ(judged,
              "meta.jpg True True vexjpeg maker the colour test\n"
              "back.png True True vexjpeg maker the colour test\n"
              "stripped.jpg False False\n"
              "stripped.png False False\n");

    // Chunks of a large profile are joined by their sequence numbers, not by
    // their order in the file; a missing chunk leaves the profile out.
    const std::vector<uint8_t> big = FileBytes(Path("big.jpg"));
    const auto chunks = App2Segments(big);
    ASSERT_EQ(chunks.size(), 3u);
    std::vector<uint8_t> shuffled(big.begin(), big.begin() + long(chunks[0].first));
    for (int i : {2, 0, 1})
        shuffled.insert(shuffled.end(), big.begin() + long(chunks[i].first),
                        big.begin() + long(chunks[i].first + chunks[i].second));
    const size_t after = chunks[2].first + chunks[2].second;
    shuffled.insert(shuffled.end(), big.begin() + long(after), big.end());
    WriteFile(Path("shuffled.jpg"), shuffled);
    std::vector<uint8_t> missing = big;
    missing.erase(missing.begin() + long(chunks[1].first), missing.begin() + long(chunks[1].first + chunks[1].second));
    WriteFile(Path("missing.jpg"), missing);
    for (const char* name : {"big", "shuffled", "missing"})
        Ok("decompress " + Q(Path(std::string(name) + ".jpg")) + " " + Q(Path(std::string(name) + ".png")));
    EXPECT_EQ(Py("from PIL import Image\n"
                 "big = open('big.icc', 'rb').read()\n"
                 "for name in ('big', 'shuffled', 'missing'):\n"
                 "    print(Image.open(name + '.png').info.get('icc_profile') == big)\n"),
              "True\nTrue\nFalse\n");

    // One APP2 segment is what the library's header takes: a larger profile
    // is refused, not cut, and --strip writes the image without it.
    const Result refused = Vex("compress " + Q(Path("big.png")) + " " + Q(Path("big-out.jpg")));
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("its ICC profile has 154188 bytes; one APP2 segment holds at most 65517"),
              std::string::npos)
        << refused.err;
    Ok("compress " + Q(Path("big.png")) + " " + Q(Path("big-out.jpg")) + " --strip");

    // A profile that does not describe the pixels written stays out of the
    // PNG file: a CMYK file's profile once its pixels are RGB.
    Py("from PIL import Image\n"
       "icc = bytearray(open('srgb.icc', 'rb').read())\n"
       "icc[16:20] = b'CMYK'\n"
       "Image.open(" + Q(DataPath("photo1.ppm")) + ").convert('CMYK').save('cmyk.jpg', icc_profile=bytes(icc))\n");
    const Result cmyk = Vex("decompress " + Q(Path("cmyk.jpg")) + " " + Q(Path("cmyk.png")));
    EXPECT_EQ(cmyk.code, 0) << cmyk.err;
    EXPECT_NE(cmyk.err.find("the ICC profile (CMYK) does not describe the RGB pixels"), std::string::npos)
        << cmyk.err;
    EXPECT_EQ(Py("from PIL import Image\nprint('icc_profile' in Image.open('cmyk.png').info)\n"), "False\n");
}

}  // namespace
}  // namespace vextest
