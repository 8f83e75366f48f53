// The vexjpeg command-line tool, end to end: what a user running it relies
// on, checked against djpeg/cjpeg and against the tool's own other paths.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_support.h"

namespace {

using tooltest::Pnm;
using tooltest::Q;
using tooltest::Result;

// T.81 Table K.1, natural order: the standard luminance quantisation table.
const int kK1[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A PNG file that holds only its signature, an IHDR chunk of the given size
// (8-bit RGB), an empty IDAT and IEND: enough for a reader to learn the size,
// nothing to decode.
std::vector<uint8_t> PngHeaderOnly(uint32_t width, uint32_t height) {
    auto crc32 = [](const uint8_t* p, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            c ^= p[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<uint8_t>& body) {
        const uint32_t n = uint32_t(body.size());
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(n >> s));
        std::vector<uint8_t> typed(type, type + 4);
        typed.insert(typed.end(), body.begin(), body.end());
        png.insert(png.end(), typed.begin(), typed.end());
        const uint32_t c = crc32(typed.data(), typed.size());
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(c >> s));
    };
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height})
        for (int s = 24; s >= 0; s -= 8) ihdr.push_back(uint8_t(v >> s));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", {});
    chunk("IEND", {});
    return png;
}

class ToolTest : public tooltest::ScratchTest {
protected:
    void SetUp() override {
        tooltest::ScratchTest::SetUp();
        tool_ = tooltest::BuiltProgram("vexjpeg");
        if (tool_.empty()) GTEST_SKIP() << "vexjpeg was not built";
        if (!vextest::HaveTool("djpeg") || !vextest::HaveTool("cjpeg")) GTEST_SKIP() << "djpeg/cjpeg missing";
        havePng_ = tooltest::Shell(tool_ + " --version").out.find("png") != std::string::npos;
    }
    // Runs vexjpeg with the arguments (already quoted where needed).
    Result Vex(const std::string& args) { return tooltest::Shell(tool_ + " " + args); }
    // Runs vexjpeg and expects success.
    void Ok(const std::string& args) {
        const Result r = Vex(args);
        ASSERT_EQ(r.code, 0) << "vexjpeg " << args << "\n" << r.err;
    }
    void Sh(const std::string& command) {
        const Result r = tooltest::Shell(command);
        ASSERT_EQ(r.code, 0) << command << "\n" << r.err;
    }
    Pnm Load(const std::string& path) {
        Pnm p;
        EXPECT_TRUE(tooltest::ReadPnm(path, &p)) << path;
        return p;
    }
    std::vector<uint8_t> Bytes(const std::string& path) {
        std::vector<uint8_t> b;
        EXPECT_TRUE(vextest::ReadFile(path, &b)) << path;
        return b;
    }
    std::string Data(const std::string& name) { return Q(vextest::DataPath(name)); }
    // djpeg's reference decode of a JPEG file into a PPM/PGM.
    Pnm Djpeg(const std::string& jpeg) {
        const std::string out = jpeg + ".djpeg.pnm";
        Sh("djpeg -nosmooth -dct int -outfile " + Q(out) + " " + Q(jpeg));
        return Load(out);
    }
    std::string tool_;
    bool havePng_ = false;
};

// Extracts the number after "key": in the tool's JSON (first occurrence).
long JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::strtol(json.c_str() + at + key.size() + 3, nullptr, 10);
}

std::vector<long> JsonNumbers(const std::string& json, const std::string& key) {
    std::vector<long> out;
    size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return out;
    at = json.find('[', at);
    const size_t end = json.find(']', at);
    const char* p = json.c_str() + at + 1;
    while (*p == '[' || *p == ' ') ++p;  // a list of lists reads as its first list
    while (p < json.c_str() + end) {
        char* next = nullptr;
        const long v = std::strtol(p, &next, 10);
        if (next == p) break;
        out.push_back(v);
        p = next;
        while (*p == ',' || *p == ' ') ++p;
    }
    return out;
}

// ---- what compress writes, other decoders read ---------------------------------------

TEST_F(ToolTest, CompressedPhotographsDecodeWithDjpeg) {
    const Pnm source = Load(vextest::DataPath("photo1.ppm"));
    for (const char* sampling : {"444", "422", "420", "411"}) {
        SCOPED_TRACE(sampling);
        const std::string jpg = Path(std::string("photo-") + sampling + ".jpg");
        Ok("compress " + Data("photo1.ppm") + " " + Q(jpg) + " --sampling " + sampling);
        const Pnm reference = Djpeg(jpg);
        EXPECT_GT(tooltest::PnmPsnr(reference, source), 30.0);
        Ok("decompress " + Q(jpg) + " " + Q(jpg + ".ppm"));
        EXPECT_GE(tooltest::PnmPsnr(Load(jpg + ".ppm"), reference), 40.0);
    }
    const Pnm gray = Load(vextest::DataPath("gray1.pgm"));
    const std::string jpg = Path("gray.jpg");
    Ok("compress " + Data("gray1.pgm") + " " + Q(jpg) + " --restart 3");
    const Pnm reference = Djpeg(jpg);
    EXPECT_EQ(reference.channels, 1);
    EXPECT_GT(tooltest::PnmPsnr(reference, gray), 30.0);
}

TEST_F(ToolTest, DecompressOfCjpegFilesMatchesDjpeg) {
    const std::vector<std::string> variants = {"",          "-sample 1x1", "-sample 2x1",   "-grayscale",
                                               "-restart 1", "-optimize",   "-quality 95 -restart 3B"};
    for (const std::string& flags : variants) {
        SCOPED_TRACE(flags);
        const std::string jpg = Path("cjpeg.jpg");
        Sh("cjpeg " + flags + " -outfile " + Q(jpg) + " " + Data("photo2.ppm"));
        Ok("decompress " + Q(jpg) + " " + Q(Path("ours.pnm")));
        EXPECT_GE(tooltest::PnmPsnr(Load(Path("ours.pnm")), Djpeg(jpg)), 40.0);
    }
}

// ---- image file formats in and out ---------------------------------------------------

TEST_F(ToolTest, EveryInputFormatGivesTheSamePixels) {
    // Identical pixels in different files compress to identical streams.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("ppm.jpg")));
    const std::vector<uint8_t> expected = Bytes(Path("ppm.jpg"));
    const Pnm rgb = Load(vextest::DataPath("photo1.ppm"));
    for (bool topDown : {false, true}) {
        vextest::WriteFile(Path("in24.bmp"), tooltest::MakeBmp(rgb, 24, topDown));
        Ok("compress " + Q(Path("in24.bmp")) + " " + Q(Path("bmp24.jpg")));
        EXPECT_EQ(Bytes(Path("bmp24.jpg")), expected) << "24-bit BMP, top-down " << topDown;
    }
    if (havePng_) {
        Ok("compress " + Data("photo1.png") + " " + Q(Path("png.jpg")));
        EXPECT_EQ(Bytes(Path("png.jpg")), expected) << "PNG";
    }
    // A 32-bit BMP takes the library's four-byte path; its unused byte must
    // not reach the image.
    vextest::WriteFile(Path("in32.bmp"), tooltest::MakeBmp(rgb, 32, false));
    Ok("compress " + Q(Path("in32.bmp")) + " " + Q(Path("bmp32.jpg")));
    EXPECT_GE(tooltest::PnmPsnr(Djpeg(Path("bmp32.jpg")), Djpeg(Path("ppm.jpg"))), 50.0);

    // 16-bit BMP: 5-5-5 words straight into the library.
    vextest::WriteFile(Path("in16.bmp"), tooltest::MakeBmp(rgb, 16, false));
    Ok("compress " + Q(Path("in16.bmp")) + " " + Q(Path("bmp16.jpg")));
    EXPECT_GT(tooltest::PnmPsnr(Djpeg(Path("bmp16.jpg")), rgb), 28.0);

    // Grey: PGM and an 8-bit grey-palette BMP.
    const Pnm gray = Load(vextest::DataPath("gray1.pgm"));
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("pgm.jpg")));
    vextest::WriteFile(Path("in8.bmp"), tooltest::MakeBmp(gray, 8, false));
    Ok("compress " + Q(Path("in8.bmp")) + " " + Q(Path("bmp8.jpg")));
    EXPECT_EQ(Bytes(Path("bmp8.jpg")), Bytes(Path("pgm.jpg")));
    if (havePng_) {
        Ok("compress " + Data("gray1.png") + " " + Q(Path("gpng.jpg")));
        EXPECT_EQ(Bytes(Path("gpng.jpg")), Bytes(Path("pgm.jpg")));
    }
}

TEST_F(ToolTest, BmpFilesOfOtherProgramsAreRead) {
    // djpeg writes 24-bit and 8-bit palette BMPs; they must hold the same
    // pixels as djpeg's PPM/PGM of the same file.
    Sh("cjpeg -outfile " + Q(Path("c.jpg")) + " " + Data("photo2.ppm"));
    Sh("djpeg -bmp -outfile " + Q(Path("dj.bmp")) + " " + Q(Path("c.jpg")));
    Sh("djpeg -outfile " + Q(Path("dj.ppm")) + " " + Q(Path("c.jpg")));
    Ok("compress " + Q(Path("dj.bmp")) + " " + Q(Path("a.jpg")));
    Ok("compress " + Q(Path("dj.ppm")) + " " + Q(Path("b.jpg")));
    EXPECT_EQ(Bytes(Path("a.jpg")), Bytes(Path("b.jpg")));
    Sh("djpeg -grayscale -bmp -outfile " + Q(Path("g.bmp")) + " " + Q(Path("c.jpg")));
    Sh("djpeg -grayscale -outfile " + Q(Path("g.pgm")) + " " + Q(Path("c.jpg")));
    Ok("compress " + Q(Path("g.bmp")) + " " + Q(Path("ga.jpg")));
    Ok("compress " + Q(Path("g.pgm")) + " " + Q(Path("gb.jpg")));
    EXPECT_EQ(Bytes(Path("ga.jpg")), Bytes(Path("gb.jpg")));
}

TEST_F(ToolTest, EveryOutputFormatHoldsTheDecodedPixels) {
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("p.jpg")) + " --sampling 420");
    Ok("decompress " + Q(Path("p.jpg")) + " " + Q(Path("out.ppm")));
    const Pnm ppm = Load(Path("out.ppm"));
    EXPECT_GE(tooltest::PnmPsnr(ppm, Djpeg(Path("p.jpg"))), 40.0);  // channel order of PPM output

    // cjpeg reads BMP on its own; what it sees must be what the PPM holds.
    auto cjpegView = [&](const std::string& file) {
        Sh("cjpeg -quality 100 -sample 1x1 -outfile " + Q(file + ".jpg") + " " + Q(file));
        return Djpeg(file + ".jpg");
    };
    const Pnm viaPpm = cjpegView(Path("out.ppm"));
    for (const char* format : {"bgr24", "bgrx32"}) {
        SCOPED_TRACE(format);
        const std::string bmp = Path(std::string("out-") + format + ".bmp");
        Ok("decompress " + Q(Path("p.jpg")) + " " + Q(bmp) + " --pixel-format " + format);
        EXPECT_EQ(tooltest::PnmPsnr(cjpegView(bmp), viaPpm), 99.0);
    }
    // 16-bit BMP output keeps the library's 5-5-5 words: each field is the
    // top five bits of the channel the 24-bit decode gives.
    Ok("decompress " + Q(Path("p.jpg")) + " " + Q(Path("o16.bmp")) + " --pixel-format bgr555");
    Ok("decompress " + Q(Path("p.jpg")) + " " + Q(Path("o555.ppm")) + " --pixel-format bgr555");
    const std::vector<uint8_t> bmp = Bytes(Path("o16.bmp"));
    const Pnm p555 = Load(Path("o555.ppm"));
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[28], 16);
    const uint32_t offset = bmp[10] | bmp[11] << 8;
    const int stride = (ppm.width * 2 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), offset + size_t(stride) * ppm.height);
    int mismatches = 0;
    for (int y = 0; y < ppm.height; ++y) {
        for (int x = 0; x < ppm.width; ++x) {
            const uint8_t* w = bmp.data() + offset + size_t(ppm.height - 1 - y) * stride + 2 * x;
            const unsigned word = w[0] | w[1] << 8;
            const uint8_t* rgb = p555.samples.data() + (size_t(y) * ppm.width + x) * 3;
            if ((word >> 10 & 31) != unsigned(rgb[0] >> 3) || (word >> 5 & 31) != unsigned(rgb[1] >> 3) ||
                (word & 31) != unsigned(rgb[2] >> 3) || (word & 0x8000))
                ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(tooltest::PnmPsnr(p555, ppm), 30.0);

    if (havePng_) {
        Ok("decompress " + Q(Path("p.jpg")) + " " + Q(Path("out.png")));
        EXPECT_EQ(Vex("compare " + Q(Path("out.png")) + " " + Q(Path("out.ppm"))).out, "psnr=inf (identical)\n");
    }
    // Grey images: PGM, and PPM when asked for.
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("g.jpg")));
    Ok("decompress " + Q(Path("g.jpg")) + " " + Q(Path("g.pgm")));
    EXPECT_GE(tooltest::PnmPsnr(Load(Path("g.pgm")), Djpeg(Path("g.jpg"))), 40.0);
    Ok("decompress " + Q(Path("g.jpg")) + " " + Q(Path("g.bmp")));
    Ok("compress " + Q(Path("g.bmp")) + " " + Q(Path("g2.jpg")));
    Ok("compress " + Q(Path("g.pgm")) + " " + Q(Path("g3.jpg")));
    EXPECT_EQ(Bytes(Path("g2.jpg")), Bytes(Path("g3.jpg")));
}

TEST_F(ToolTest, SamplingConvertsBetweenGreyAndColour) {
    // Colour input with --sampling gray gives a one-component file, and grey
    // input with a colour sampling a three-component one.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("g.jpg")) + " --sampling gray");
    EXPECT_EQ(Djpeg(Path("g.jpg")).channels, 1);
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("c.jpg")) + " --sampling 444");
    const Result info = Vex("info --json " + Q(Path("c.jpg")));
    EXPECT_EQ(JsonNumber(info.out, "components"), 3);
    const Pnm decoded = Djpeg(Path("c.jpg"));
    Pnm gray = Load(vextest::DataPath("gray1.pgm")), expanded;
    expanded.width = gray.width;
    expanded.height = gray.height;
    expanded.channels = 3;
    for (uint8_t v : gray.samples) expanded.samples.insert(expanded.samples.end(), 3, v);
    EXPECT_GT(tooltest::PnmPsnr(decoded, expanded), 30.0);
}

// ---- containers ------------------------------------------------------------------------

TEST_F(ToolTest, TiledTiffRoundTrip) {
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("t.tif")) + " --tile 64x64 --restart 2");
    const Result info = Vex("info --json " + Q(Path("t.tif")));
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("\"container\": \"tiff\""), std::string::npos);
    EXPECT_EQ(JsonNumber(info.out, "width"), 451);
    EXPECT_EQ(JsonNumber(info.out, "height"), 300);
    EXPECT_EQ(JsonNumber(info.out, "restart_interval"), 2);
    EXPECT_EQ(JsonNumber(info.out, "count"), 8 * 5);
    const std::vector<long> offsets = JsonNumbers(info.out, "offsets");
    const std::vector<long> counts = JsonNumbers(info.out, "byte_counts");
    ASSERT_EQ(offsets.size(), 40u);
    ASSERT_EQ(counts.size(), 40u);
    const long fileSize = long(Bytes(Path("t.tif")).size());
    for (size_t i = 0; i < offsets.size(); ++i) {
        EXPECT_GT(counts[i], 0);
        if (i > 0) EXPECT_EQ(offsets[i], offsets[i - 1] + counts[i - 1]) << "tiles lie back to back";
    }
    EXPECT_LE(offsets.back() + counts.back(), fileSize);

    Ok("decompress " + Q(Path("t.tif")) + " " + Q(Path("t.ppm")));
    const Pnm source = Load(vextest::DataPath("photo1.ppm"));
    EXPECT_GT(tooltest::PnmPsnr(Load(Path("t.ppm")), source), 30.0);

    // One tile: the same pixels as the JFIF file of the same options.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("one.tif")));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("one.jpg")));
    Ok("decompress " + Q(Path("one.tif")) + " " + Q(Path("one-t.ppm")));
    Ok("decompress " + Q(Path("one.jpg")) + " " + Q(Path("one-j.ppm")));
    EXPECT_EQ(Bytes(Path("one-t.ppm")), Bytes(Path("one-j.ppm")));
}

TEST_F(ToolTest, RawDataWithItsHeaderSidecar) {
    for (const char* sampling : {"420", "gray"}) {
        SCOPED_TRACE(sampling);
        const std::string s = sampling;
        Ok("compress " + Data("photo2.ppm") + " " + Q(Path(s + ".raw")) + " --restart 5 --quality 40 --sampling " + s);
        Ok("compress " + Data("photo2.ppm") + " " + Q(Path(s + ".jpg")) + " --restart 5 --quality 40 --sampling " + s);
        // The header, the raw data and an end-of-image marker make a JPEG
        // that djpeg decodes exactly as our JFIF file.
        Sh("cat " + Q(Path(s + ".raw.hdr")) + " " + Q(Path(s + ".raw")) + " > " + Q(Path(s + "-joined.jpg")) +
           " && printf '\\377\\331' >> " + Q(Path(s + "-joined.jpg")));
        EXPECT_EQ(tooltest::PnmPsnr(Djpeg(Path(s + "-joined.jpg")), Djpeg(Path(s + ".jpg"))), 99.0);
        // vexjpeg finds the sidecar itself.
        Ok("decompress " + Q(Path(s + ".raw")) + " " + Q(Path(s + "-raw.pnm")));
        Ok("decompress " + Q(Path(s + ".jpg")) + " " + Q(Path(s + "-jpg.pnm")));
        EXPECT_EQ(Bytes(Path(s + "-raw.pnm")), Bytes(Path(s + "-jpg.pnm")));
        const Result info = Vex("info --json " + Q(Path(s + ".raw")));
        ASSERT_EQ(info.code, 0) << info.err;
        EXPECT_NE(info.out.find("\"container\": \"raw\""), std::string::npos);
        EXPECT_EQ(JsonNumber(info.out, "restart_interval"), 5);
        EXPECT_EQ(JsonNumber(info.out, "width"), 320);
    }
    // --header names a sidecar kept elsewhere.
    Sh("mv " + Q(Path("420.raw.hdr")) + " " + Q(Path("moved.hdr")));
    Ok("decompress " + Q(Path("420.raw")) + " " + Q(Path("moved.pnm")) + " --header " + Q(Path("moved.hdr")));
    EXPECT_EQ(Bytes(Path("moved.pnm")), Bytes(Path("420-jpg.pnm")));
}

// ---- info ---------------------------------------------------------------------------------

TEST_F(ToolTest, InfoDescribesCjpegFiles) {
    Sh("cjpeg -quality 50 -sample 2x1 -restart 3B -outfile " + Q(Path("c.jpg")) + " " + Data("photo1.ppm"));
    Sh("wrjpgcom -comment 'made by cjpeg' " + Q(Path("c.jpg")) + " > " + Q(Path("cc.jpg")));
    const Result r = Vex("info --json " + Q(Path("cc.jpg")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(JsonNumber(r.out, "width"), 451);
    EXPECT_EQ(JsonNumber(r.out, "height"), 300);
    EXPECT_EQ(JsonNumber(r.out, "components"), 3);
    EXPECT_NE(r.out.find("\"sampling\": \"422\""), std::string::npos) << r.out;
    EXPECT_EQ(JsonNumber(r.out, "restart_interval"), 3);
    EXPECT_NE(r.out.find("\"label\": \"made by cjpeg\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"label\": \"JFIF\""), std::string::npos) << r.out;
    // cjpeg's quality 50 writes Table K.1 itself.
    const std::vector<long> q = JsonNumbers(r.out, "quant_tables_zigzag");
    ASSERT_GE(q.size(), 64u);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(q[k], kK1[kZigzag[k]]) << "zigzag position " << k;

    Sh("cjpeg -grayscale -outfile " + Q(Path("g.jpg")) + " " + Data("photo1.ppm"));
    const Result g = Vex("info " + Q(Path("g.jpg")));
    ASSERT_EQ(g.code, 0) << g.err;
    EXPECT_NE(g.out.find("451 x 300 pixels"), std::string::npos) << g.out;
    EXPECT_NE(g.out.find("1 (grey)"), std::string::npos) << g.out;
}

TEST_F(ToolTest, InfoDescribesOwnFilesAndCommentsReachTheFile) {
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("o.jpg")) +
       " --quality 50 --restart 4 --comment 'hello from vexjpeg'");
    // rdjpgcom is an independent reader of COM segments.
    const Result com = tooltest::Shell("rdjpgcom " + Q(Path("o.jpg")));
    EXPECT_NE(com.out.find("hello from vexjpeg"), std::string::npos) << com.out;
    const Result r = Vex("info --json " + Q(Path("o.jpg")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(JsonNumber(r.out, "restart_interval"), 4);
    EXPECT_NE(r.out.find("\"label\": \"hello from vexjpeg\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"sampling\": \"422\""), std::string::npos);
    const std::vector<long> q = JsonNumbers(r.out, "quant_tables_zigzag");
    ASSERT_GE(q.size(), 64u);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(q[k], kK1[kZigzag[k]]) << "quality 50 keeps Table K.1";
    // The text form says the same in words.
    const Result t = Vex("info " + Q(Path("o.jpg")));
    EXPECT_NE(t.out.find("every 4 MCUs"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("JFIF"), std::string::npos);
}

// ---- windows and bands ---------------------------------------------------------------------

TEST_F(ToolTest, WindowEqualsCropOfTheFullDecode) {
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("p.jpg")) + " --sampling 420");
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("p.tif")) + " --tile 32x32");
    struct Win {
        int x, y, w, h;
    };
    const Win windows[] = {{0, 0, 10, 10}, {37, 21, 100, 57}, {400, 250, 100, 100}, {0, 123, 451, 1}, {450, 0, 1, 300}};
    for (const char* file : {"p.jpg", "p.tif"}) {
        Ok("decompress " + Q(Path(file)) + " " + Q(Path("full.ppm")));
        const Pnm full = Load(Path("full.ppm"));
        for (const Win& w : windows) {
            for (const char* bands : {"", " --band-rows 16"}) {
                SCOPED_TRACE(std::string(file) + " " + std::to_string(w.x) + "," + std::to_string(w.y) + bands);
                const std::string spec =
                    std::to_string(w.x) + "," + std::to_string(w.y) + "," + std::to_string(w.w) + "," + std::to_string(w.h);
                Ok("decompress " + Q(Path(file)) + " " + Q(Path("win.ppm")) + " --window " + spec + bands);
                const Pnm win = Load(Path("win.ppm"));
                const Pnm crop = tooltest::Crop(full, w.x, w.y, w.w, w.h);
                ASSERT_EQ(win.width, crop.width);
                ASSERT_EQ(win.height, crop.height);
                EXPECT_TRUE(win.samples == crop.samples);
            }
        }
    }
}

TEST_F(ToolTest, BandSizesDoNotChangeTheResult) {
    Ok("compress " + Data("photo2.ppm") + " " + Q(Path("ref.jpg")));
    const std::vector<uint8_t> ref = Bytes(Path("ref.jpg"));
    for (const char* bands : {"--band-rows 8", "--band-rows 17", "--band-rows 100", "--band-memory 20000",
                              "--band-memory 3000"}) {
        SCOPED_TRACE(bands);
        Ok("compress " + Data("photo2.ppm") + " " + Q(Path("b.jpg")) + " " + bands);
        EXPECT_EQ(Bytes(Path("b.jpg")), ref);
    }
    Ok("decompress " + Q(Path("ref.jpg")) + " " + Q(Path("ref.ppm")));
    const std::vector<uint8_t> decoded = Bytes(Path("ref.ppm"));
    for (const char* bands : {"--band-rows 8", "--band-rows 33", "--band-memory 4000"}) {
        SCOPED_TRACE(bands);
        Ok("decompress " + Q(Path("ref.jpg")) + " " + Q(Path("b.ppm")) + " " + bands);
        EXPECT_EQ(Bytes(Path("b.ppm")), decoded);
    }
}

// ---- failures ----------------------------------------------------------------------------------

TEST_F(ToolTest, EveryFailureNamesItsCauseAndLeavesNoOutput) {
    // Inputs for the failures.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("good.jpg")));
    const std::vector<uint8_t> good = Bytes(Path("good.jpg"));
    vextest::WriteFile(Path("cut-data.jpg"), std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    vextest::WriteFile(Path("cut-header.jpg"), std::vector<uint8_t>(good.begin(), good.begin() + 120));
    Sh("cjpeg -progressive -outfile " + Q(Path("progressive.jpg")) + " " + Data("photo2.ppm"));
    vextest::WriteFile(Path("text.txt"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
    const std::string ppmHeader = "P6\n451 300\n255\n";
    std::vector<uint8_t> cut(ppmHeader.begin(), ppmHeader.end());
    cut.resize(cut.size() + 1000, 7);
    vextest::WriteFile(Path("cut.ppm"), cut);
    // Within the size limits but far larger than the file: refused before
    // any pixel memory is taken.
    const std::string hugeHeader = "P6\n16000 16000\n255\n";
    vextest::WriteFile(Path("huge.ppm"), std::vector<uint8_t>(hugeHeader.begin(), hugeHeader.end()));
    const std::string overHeader = "P6\n30000 30000\n255\n";
    vextest::WriteFile(Path("over.ppm"), std::vector<uint8_t>(overHeader.begin(), overHeader.end()));
    const std::string wideHeader = "P5\n70000 1\n255\n";
    std::vector<uint8_t> wide(wideHeader.begin(), wideHeader.end());
    wide.resize(wide.size() + 70000, 1);
    vextest::WriteFile(Path("wide.pgm"), wide);
    std::vector<uint8_t> bmp = tooltest::MakeBmp(Load(vextest::DataPath("gray1.pgm")), 24, false);
    bmp[18] = 0xFF, bmp[19] = 0xFF, bmp[22] = 0xFF, bmp[23] = 0xFF;  // 65535 x 65535
    vextest::WriteFile(Path("huge.bmp"), bmp);
    const std::vector<uint8_t> fakeTiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
    vextest::WriteFile(Path("std.tif"), fakeTiff);
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("t.tif")) + " --tile 64x64");
    const std::vector<uint8_t> tiff = Bytes(Path("t.tif"));
    vextest::WriteFile(Path("cut.tif"), std::vector<uint8_t>(tiff.begin(), tiff.begin() + tiff.size() * 2 / 3));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("lone.raw")));
    Sh("rm " + Q(Path("lone.raw.hdr")));

    struct Case {
        std::string args;
        int code;
        std::string message;
    };
    const std::string photo = Data("photo1.ppm");
    const std::string out = Q(Path("out.jpg"));
    const std::string img = Q(Path("out.ppm"));
    const std::vector<Case> cases = {
        {"compress", 1, "needs IN and OUT"},
        {"frobnicate a b", 1, "unknown command 'frobnicate'"},
        {"compress " + photo + " " + out + " --bogus", 1, "unknown option --bogus"},
        {"compress " + photo + " " + out + " --quality high", 1, "--quality needs a whole number"},
        {"compress " + photo + " " + out + " --band-rows 8 --band-memory 9000", 1, "not both"},
        {"compress " + photo + " " + Q(Path("out.xyz")), 1, "cannot tell the container"},
        {"compress " + photo + " " + out + " --tile 64x64", 1, "--tile needs the tiff container"},
        {"compress " + photo + " " + out + " --sampling 433", 1, "--sampling must be"},
        {"compress " + Q(Path("missing.ppm")) + " " + out, 2, "No such file"},
        {"compress " + Q(Path("text.txt")) + " " + out, 2, "not a PNG, PPM, PGM or BMP"},
        {"compress " + Q(Path("cut.ppm")) + " " + out, 2, "truncated"},
        {"compress " + Q(Path("huge.ppm")) + " " + out, 2, "truncated"},
        {"compress " + Q(Path("over.ppm")) + " " + out, 2, "900000000 pixels"},
        {"compress " + Q(Path("wide.pgm")) + " " + out, 2, "at most 65535"},
        {"compress " + Q(Path("huge.bmp")) + " " + out, 2, "pixels"},
        {"compress " + photo + " " + out + " --quality 0", 3, "VEX_ERR_QUALITY (-391)"},
        {"compress " + photo + " " + out + " --quality 256", 3, "VEX_ERR_QUALITY (-391)"},
        {"compress " + photo + " " + Q(Path("out.tif")) + " --tile 24x24", 3, "VEX_ERR_TILE (-381)"},
        {"compress " + photo + " " + out + " --band-memory 10", 3, "VEX_ERR_BAND (-380)"},
        {"decompress " + Q(Path("good.jpg")) + " " + img + " --window 451,0,10,10", 3, "VEX_ERR_WINDOW (-370)"},
        {"decompress " + Q(Path("progressive.jpg")) + " " + img, 3, "VEX_ERR_CONTAINER (-385)"},
        {"decompress " + Q(Path("std.tif")) + " " + img, 3, "VEX_ERR_CONTAINER (-385)"},
        {"decompress " + Q(Path("cut-header.jpg")) + " " + img, 3, "VEX_ERR_"},
        {"decompress " + Q(Path("cut-data.jpg")) + " " + img, 2, "truncated"},
        {"decompress " + Q(Path("cut.tif")) + " " + img, 2, "truncated"},
        {"decompress " + Q(Path("text.txt")) + " " + img, 2, "not a JPEG or TIFF file"},
        {"decompress " + Q(Path("lone.raw")) + " " + img + " --container raw", 2, "needs its header"},
        {"decompress " + Q(Path("good.jpg")) + " " + Q(Path("out.gif")), 1, "cannot tell the image format"},
        {"decompress " + Q(Path("good.jpg")) + " " + Q(Path("out.pgm")), 1, "PGM holds grey images only"},
        {"decompress " + Q(Path("good.jpg")) + " " + Q(Path("no-such-dir/out.ppm")), 4, "no-such-dir/out.ppm"},
        {"info " + Q(Path("progressive.jpg")), 3, "VEX_ERR_CONTAINER (-385)"},
        {"info " + Q(Path("missing.jpg")), 2, "No such file"},
    };
    std::vector<Case> all = cases;
    if (havePng_) {
        vextest::WriteFile(Path("wide.png"), PngHeaderOnly(70000, 10));
        vextest::WriteFile(Path("huge.png"), PngHeaderOnly(20000, 20000));
        vextest::WriteFile(Path("empty.png"), PngHeaderOnly(300, 200));
        all.push_back({"compress " + Q(Path("wide.png")) + " " + out, 2, "at most 65535"});
        all.push_back({"compress " + Q(Path("huge.png")) + " " + out, 2, "400000000 pixels"});
        all.push_back({"compress " + Q(Path("empty.png")) + " " + out, 2, "PNG: "});
    }
    const std::vector<std::string> before = Listing();
    for (const Case& c : all) {
        SCOPED_TRACE(c.args);
        // An older file under the output name must survive the failure.
        vextest::WriteFile(Path("out.ppm"), std::vector<uint8_t>{'o', 'l', 'd'});
        const Result r = Vex(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(r.err.rfind("vexjpeg: ", 0), 0u) << r.err;
        EXPECT_EQ(Bytes(Path("out.ppm")), (std::vector<uint8_t>{'o', 'l', 'd'}));
        std::vector<std::string> after = Listing();
        std::vector<std::string> expected = before;
        if (std::find(expected.begin(), expected.end(), "out.ppm") == expected.end()) {
            expected.push_back("out.ppm");
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(after, expected) << "no output and no temporary file left behind";
    }
}

// ---- help and progress ---------------------------------------------------------------------------

TEST_F(ToolTest, EachCommandDocumentsItsOptionsAndExitCodes) {
    const Result main = Vex("--help");
    EXPECT_EQ(main.code, 0);
    for (const char* word : {"compress", "decompress", "info", "exit codes", "  3  "})
        EXPECT_NE(main.out.find(word), std::string::npos) << word;
    const Result c = Vex("compress --help");
    EXPECT_EQ(c.code, 0);
    for (const char* opt : {"--quality", "--sampling", "--restart", "--container", "--tile", "--band-rows",
                            "--band-memory", "--comment", "--quiet", ".hdr"})
        EXPECT_NE(c.out.find(opt), std::string::npos) << opt;
    const Result d = Vex("decompress --help");
    EXPECT_EQ(d.code, 0);
    for (const char* opt : {"--window", "--pixel-format", "--band-rows", "--band-memory", "--header"})
        EXPECT_NE(d.out.find(opt), std::string::npos) << opt;
    const Result i = Vex("info --help");
    EXPECT_EQ(i.code, 0);
    EXPECT_NE(i.out.find("--json"), std::string::npos);
    EXPECT_EQ(Vex("").code, 1);
}

TEST_F(ToolTest, ProgressBarOnlyOnATerminalForLargeImages) {
    if (!vextest::HaveTool("script")) GTEST_SKIP() << "script(1) missing";
    // 2400 x 1800 pixels: above the size that gets a bar.
    Pnm big;
    big.width = 2400;
    big.height = 1800;
    big.channels = 3;
    big.samples.resize(size_t(big.width) * big.height * 3);
    for (size_t i = 0; i < big.samples.size(); ++i) big.samples[i] = uint8_t((i * 7) ^ (i >> 11));
    ASSERT_TRUE(tooltest::WritePnm(Path("big.ppm"), big));
    const std::string base = tool_ + " compress " + Q(Path("big.ppm")) + " " + Q(Path("big.jpg")) + " --band-rows 64";
    // Not a terminal: silent.
    const Result plain = tooltest::Shell(base);
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.err, "");
    // On a terminal (script gives the command one): the bar reaches 100%.
    const Result tty = tooltest::Shell("script -qec " + Q(base) + " /dev/null");
    EXPECT_EQ(tty.code, 0) << tty.out;
    EXPECT_NE(tty.out.find("compressing ["), std::string::npos) << tty.out;
    EXPECT_NE(tty.out.find("100%"), std::string::npos) << tty.out;
    const Result quiet = tooltest::Shell("script -qec " + Q(base + " --quiet") + " /dev/null");
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.out.find("compressing ["), std::string::npos) << quiet.out;
    // A small image on a terminal: no bar either.
    const Result small = tooltest::Shell("script -qec " +
                                         Q(tool_ + " compress " + Data("photo1.ppm") + " " + Q(Path("s.jpg"))) +
                                         " /dev/null");
    EXPECT_EQ(small.out.find("compressing ["), std::string::npos) << small.out;
}

}  // namespace
