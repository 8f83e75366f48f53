// The vexjpeg command-line tool, end to end: what it writes djpeg reads, what
// cjpeg writes it decodes as djpeg does, every container carries the same
// pixels, windows and bands change nothing, and every failure is one line
// naming its cause with a documented exit code.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "q32vex.hpp"
#include "tool_support.h"

namespace vextest {
namespace {

using tooltest::Q;
using tooltest::Result;

class ToolTest : public tooltest::VexjpegTest {
protected:
    void SetUp() override {
        tooltest::VexjpegTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!HaveTool("djpeg") || !HaveTool("cjpeg")) GTEST_SKIP() << "djpeg/cjpeg missing";
    }
    void Sh(const std::string& command) {
        const Result r = tooltest::Shell(command);
        ASSERT_EQ(r.code, 0) << command << "\n" << r.err;
    }
    Pnm Load(const std::string& path) {
        Pnm p;
        EXPECT_TRUE(ReadPnm(path, &p)) << path;
        return p;
    }
    std::vector<uint8_t> Bytes(const std::string& path) {
        std::vector<uint8_t> b;
        EXPECT_TRUE(ReadFile(path, &b)) << path;
        return b;
    }
    std::string Data(const std::string& name) { return Q(DataPath(name)); }
    // djpeg's reference decode of a JPEG file.
    Pnm Reference(const std::string& jpeg) {
        Pnm p;
        EXPECT_TRUE(Djpeg(Bytes(jpeg), &p, "-nosmooth -dct int")) << jpeg;
        return p;
    }
};

// The number after "key": in the tool's JSON (first occurrence); for a list,
// its numbers (a list of lists reads as its first list).
std::vector<long> Json(const std::string& json, const std::string& key) {
    std::vector<long> out;
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return out;
    const char* p = json.c_str() + at + key.size() + 3;
    while (*p == ' ' || *p == '[') ++p;
    for (char* next = nullptr;; p = next) {
        const long v = std::strtol(p, &next, 10);
        if (next == p) break;
        out.push_back(v);
        while (*next == ',' || *next == ' ') ++next;
    }
    return out;
}

TEST_F(ToolTest, EveryCommandAndContainerAgreesWithTheOracles) {
    // What compress writes djpeg reads; what decompress gives is djpeg's
    // decode, of our files and of cjpeg's.
    const Pnm photo = Load(DataPath("photo1.ppm"));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("ppm.jpg")) + " --sampling 420 --restart 3");
    EXPECT_GT(Psnr(Reference(Path("ppm.jpg")), photo), 30.0);
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("pgm.jpg")));
    for (const char* flags : {"-grayscale", "-sample 1x1 -restart 1", "-optimize", "-quality 95 -restart 3B"}) {
        Sh(std::string("cjpeg ") + flags + " -outfile " + Q(Path("cjpeg.jpg")) + " " + Data("photo2.ppm"));
        Ok("decompress " + Q(Path("cjpeg.jpg")) + " " + Q(Path("cjpeg.pnm")));
        EXPECT_GE(Psnr(Load(Path("cjpeg.pnm")), Reference(Path("cjpeg.jpg"))), 40.0) << flags;
    }
    for (const char* file : {"ppm.jpg", "pgm.jpg"}) {
        Ok("decompress " + Q(Path(file)) + " " + Q(Path(file) + ".pnm"));
        EXPECT_GE(Psnr(Load(Path(file) + ".pnm"), Reference(Path(file))), 40.0) << file;
    }

    // Containers: a tiled TIFF as info reads it; raw data decoded through its
    // header sidecar, found beside it or named by --header.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("t.tif")) + " --tile 64x64 --restart 2");
    const std::string info = Vex("info --json " + Q(Path("t.tif"))).out;
    EXPECT_NE(info.find("\"container\": \"tiff\""), std::string::npos) << info;
    EXPECT_EQ(Json(info, "count"), std::vector<long>({8 * 5}));
    EXPECT_EQ(Json(info, "restart_interval"), std::vector<long>({2}));
    Ok("decompress " + Q(Path("t.tif")) + " " + Q(Path("t.ppm")));
    EXPECT_GT(Psnr(Load(Path("t.ppm")), photo), 30.0);
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("r.raw")) + " --sampling 420 --restart 3");
    Ok("decompress " + Q(Path("r.raw")) + " " + Q(Path("r.pnm")));
    EXPECT_EQ(Bytes(Path("r.pnm")), Bytes(Path("ppm.jpg.pnm")));
    Sh("mv " + Q(Path("r.raw.hdr")) + " " + Q(Path("moved.hdr")));
    Ok("decompress " + Q(Path("r.raw")) + " " + Q(Path("moved.pnm")) + " --header " + Q(Path("moved.hdr")));
    EXPECT_EQ(Bytes(Path("moved.pnm")), Bytes(Path("ppm.jpg.pnm")));

    // Info: a comment reaches the file (rdjpgcom reads it back), and info
    // names it with the file's other facts; cjpeg's quality 50 and ours write
    // the same unscaled table.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("o.jpg")) + " --scale 50 --comment 'a note'");
    EXPECT_NE(tooltest::Shell("rdjpgcom " + Q(Path("o.jpg"))).out.find("a note"), std::string::npos);
    Sh("cjpeg -quality 50 -outfile " + Q(Path("c.jpg")) + " " + Data("photo1.ppm"));
    const std::string ours = Vex("info --json " + Q(Path("o.jpg"))).out,
                      theirs = Vex("info --json " + Q(Path("c.jpg"))).out;
    for (const char* text : {"\"label\": \"a note\"", "\"label\": \"JFIF\"", "\"sampling\": \"422\""})
        EXPECT_NE(ours.find(text), std::string::npos) << text << " in " << ours;
    EXPECT_EQ(Json(ours, "width"), std::vector<long>({451}));
    EXPECT_EQ(Json(ours, "quant_tables_zigzag"), Json(theirs, "quant_tables_zigzag"));

    // The window and band options reach the library: a window is the crop
    // of the full decode, and band sizes change neither bytes nor pixels.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("a.tif")) + " --tile 32x32");
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("b.tif")) + " --tile 32x32 --band-memory 3000");
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("c.tif")) + " --tile 32x32 --band-rows 17");
    EXPECT_EQ(Bytes(Path("b.tif")), Bytes(Path("a.tif")));
    EXPECT_EQ(Bytes(Path("c.tif")), Bytes(Path("a.tif")));
    Ok("decompress " + Q(Path("c.tif")) + " " + Q(Path("full.ppm")) + " --band-memory 4000");
    Ok("decompress " + Q(Path("c.tif")) + " " + Q(Path("win.ppm")) + " --window 37,21,100,57 --band-rows 16");
    const Pnm win = Load(Path("win.ppm")), crop = Crop(Load(Path("full.ppm")), 37, 21, 100, 57);
    EXPECT_TRUE(win.width == 100 && win.height == 57 && win.samples == crop.samples);
}

// The quantisation tables of a JPEG file, in the order of its DQT segments.
std::vector<std::vector<uint8_t>> QuantTables(const std::vector<uint8_t>& jpeg) {
    std::vector<std::vector<uint8_t>> tables;
    for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA;) {
        const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (jpeg[pos + 1] == 0xDB)
            for (size_t t = pos + 4; t + 65 <= pos + 2 + length && t + 65 <= jpeg.size(); t += 65)
                tables.emplace_back(jpeg.begin() + long(t + 1), jpeg.begin() + long(t + 65));
        pos += 2 + length;
    }
    return tables;
}

// --quality is cjpeg's: the same tables, but for the 1s the library cannot
// write (raised to 2).
TEST_F(ToolTest, QualityGivesCjpegsTables) {
    for (int quality : {10, 50, 75, 90, 95, 100}) {
        SCOPED_TRACE(quality);
        const std::string q = std::to_string(quality);
        Ok("compress " + Data("photo1.ppm") + " " + Q(Path("v.jpg")) + " --quality " + q);
        // Baseline tables: below quality 25 plain cjpeg writes 16-bit ones.
        Sh("cjpeg -baseline -quality " + q + " -outfile " + Q(Path("c.jpg")) + " " + Data("photo1.ppm"));
        std::vector<std::vector<uint8_t>> expected = QuantTables(Bytes(Path("c.jpg")));
        ASSERT_EQ(expected.size(), 2u);
        int ones = 0;
        for (auto& table : expected)
            for (uint8_t& v : table) ones += v == 1 ? (v = 2, 1) : 0;
        // Tables that became equal are written once.
        if (expected[0] == expected[1]) expected.pop_back();
        EXPECT_EQ(QuantTables(Bytes(Path("v.jpg"))), expected);
        EXPECT_EQ(ones > 0, quality >= 95);
    }
    // The default is cjpeg's default, 75.
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("d.jpg")));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("q75.jpg")) + " --quality 75");
    EXPECT_EQ(Bytes(Path("d.jpg")), Bytes(Path("q75.jpg")));
}

// Sequential frames in several scans, and extended sequential (SOF1) ones at
// 8 bits, decode as the single-scan baseline file with the same coefficients.
TEST_F(ToolTest, DecodesSeveralScansAndExtendedSequentialFrames) {
    Sh("printf '0;1 2;' >" + Q(Path("split.scans")));
    Sh("cjpeg -restart 1 -outfile " + Q(Path("single.jpg")) + " " + Data("photo2.ppm"));
    Sh("cjpeg -restart 1 -scans " + Q(Path("split.scans")) + " -outfile " + Q(Path("split.jpg")) + " " +
       Data("photo2.ppm"));
    std::vector<uint8_t> sof1 = Bytes(Path("single.jpg"));
    for (size_t i = 0; i + 1 < sof1.size(); ++i) {
        if (sof1[i] == 0xFF && sof1[i + 1] == 0xC0) {
            sof1[i + 1] = 0xC1;
            break;
        }
    }
    ASSERT_TRUE(WriteFile(Path("sof1.jpg"), sof1));
    for (const char* name : {"single", "split", "sof1"})
        Ok("decompress " + Q(Path(std::string(name) + ".jpg")) + " " + Q(Path(std::string(name) + ".ppm")));
    EXPECT_EQ(Bytes(Path("split.ppm")), Bytes(Path("single.ppm")));
    EXPECT_EQ(Bytes(Path("sof1.ppm")), Bytes(Path("single.ppm")));
    // info reads it as the library does.
    const Result json = Vex("info --json " + Q(Path("sof1.jpg")));
    EXPECT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(Json(json.out, "width"), std::vector<long>{320});
}

// Files of other coding processes are named, and info still describes them.
TEST_F(ToolTest, InfoDescribesJpegFilesItCannotDecode) {
    Sh("cjpeg -arithmetic -progressive -outfile " + Q(Path("p.jpg")) + " " + Data("photo2.ppm"));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("b.jpg")));
    const Result text = Vex("info " + Q(Path("p.jpg")) + " " + Q(Path("b.jpg")));
    EXPECT_EQ(text.code, 0) << text.err;
    for (const char* words : {"JPEG, progressive, arithmetic-coded", "8 bits per sample", "sampling: 2x2 1x1 1x1",
                              "progressive, arithmetic-coded JPEG (SOF10): not supported by this codec",
                              "JFIF (JPEG interchange"})
        EXPECT_NE(text.out.find(words), std::string::npos) << words << " in\n" << text.out;
    const Result json = Vex("info --json " + Q(Path("p.jpg")));
    EXPECT_EQ(Json(json.out, "sof"), std::vector<long>{10});
    EXPECT_EQ(Json(json.out, "h"), (std::vector<long>{2, 1, 1}));
    EXPECT_NE(json.out.find("\"decodable\": false"), std::string::npos) << json.out;
}

// The tool streams: its peak memory does not follow the image's size. An
// 8192 x 8192 picture (192 MiB of pixels) goes through in a few MiB. Slow
// (a 200 MB file each way): run by the CTest test labelled slow, which sets
// Q32VEX_SLOW.
TEST_F(ToolTest, MemoryDoesNotGrowWithTheImage) {
    if (std::getenv("Q32VEX_SLOW") == nullptr) GTEST_SKIP() << "slow: set Q32VEX_SLOW=1";
    if (!HaveTool("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time missing";
    constexpr int kSide = 8192;
    {
        std::FILE* f = std::fopen(Path("big.ppm").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "P6\n%d %d\n255\n", kSide, kSide);
        std::vector<uint8_t> row(size_t(kSide) * 3);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                row[size_t(x) * 3] = uint8_t(x + y);
                row[size_t(x) * 3 + 1] = uint8_t((x >> 3) ^ (y >> 3));
                row[size_t(x) * 3 + 2] = uint8_t(y * 3 + (x * 7 & 31));
            }
            std::fwrite(row.data(), 1, row.size(), f);
        }
        std::fclose(f);
    }
    auto peakKiB = [&](const std::string& args) {
        const Result r = tooltest::Shell("/usr/bin/time -f %M " + tool_ + " " + args + " 2>&1 >/dev/null");
        EXPECT_EQ(r.code, 0) << args << "\n" << r.out << r.err;
        return std::atol(r.out.substr(r.out.find_last_of('\n', r.out.size() - 2) + 1).c_str());
    };
    const long compress = peakKiB("compress " + Q(Path("big.ppm")) + " " + Q(Path("big.jpg")) + " --sampling 420");
    const long decompress = peakKiB("decompress " + Q(Path("big.jpg")) + " " + Q(Path("big-out.ppm")));
    EXPECT_GT(compress, 0);
    EXPECT_LT(compress, 32 * 1024) << "KiB";
    EXPECT_LT(decompress, 32 * 1024) << "KiB";
    Pnm decoded;
    ASSERT_TRUE(ReadPnm(Path("big-out.ppm"), &decoded));
    EXPECT_EQ(decoded.width, kSide);
    EXPECT_EQ(decoded.height, kSide);
}

// "-" is standard input and output; pipes, FIFOs and symlinks get exactly
// the bytes a plain file gets, whatever the container (a TIFF file's tables
// are written back near its start) and whatever the BMP row order.
TEST_F(ToolTest, StandardStreamsPipesFifosAndLinksGetTheFileBytes) {
    const std::string ppm = Data("photo1.ppm");
    Ok("compress " + ppm + " " + Q(Path("file.jpg")) + " --sampling 420");
    Ok("compress " + ppm + " " + Q(Path("file.tif")) + " --tile 64x32");
    Ok("decompress " + Q(Path("file.jpg")) + " " + Q(Path("file.ppm")));
    Ok("decompress " + Q(Path("file.jpg")) + " " + Q(Path("file.bmp")));
    const std::string tool = Q(tool_);
    // Redirected files (seekable) and pipes (not) on both sides.
    Sh(tool + " compress - - --container jfif --sampling 420 < " + ppm + " > " + Q(Path("redirect.jpg")));
    Sh("cat " + ppm + " | " + tool + " compress - - --container jfif --sampling 420 | cat > " + Q(Path("pipe.jpg")));
    Sh("cat " + ppm + " | " + tool + " compress - - --container tiff --tile 64x32 | cat > " + Q(Path("pipe.tif")));
    Sh("cat " + Q(Path("file.jpg")) + " | " + tool + " decompress - - --format ppm | cat > " + Q(Path("pipe.ppm")));
    // A bottom-up BMP from a pipe, and a BMP written to one (rows top-down).
    Ok("compress " + Q(Path("file.bmp")) + " " + Q(Path("bmp.jpg")));
    Sh("cat " + Q(Path("file.bmp")) + " | " + tool + " compress - " + Q(Path("pipe-bmp.jpg")));
    Sh("cat " + Q(Path("file.jpg")) + " | " + tool + " decompress - - --format bmp | cat > " + Q(Path("pipe.bmp")));
    EXPECT_EQ(Bytes(Path("redirect.jpg")), Bytes(Path("file.jpg")));
    EXPECT_EQ(Bytes(Path("pipe.jpg")), Bytes(Path("file.jpg")));
    EXPECT_EQ(Bytes(Path("pipe.tif")), Bytes(Path("file.tif")));
    EXPECT_EQ(Bytes(Path("pipe.ppm")), Bytes(Path("file.ppm")));
    EXPECT_EQ(Bytes(Path("pipe-bmp.jpg")), Bytes(Path("bmp.jpg")));
    const Result same = Vex("compare " + Q(Path("pipe.bmp")) + " " + Q(Path("file.ppm")));
    EXPECT_EQ(same.out, "psnr=inf (identical)\n") << same.err;

    // A symlink is written through: the link stays, its target changes.
    Sh("printf old > " + Q(Path("target.jpg")) + " && ln -s target.jpg " + Q(Path("link.jpg")));
    Ok("compress " + ppm + " " + Q(Path("link.jpg")) + " --sampling 420");
    EXPECT_EQ(Bytes(Path("target.jpg")), Bytes(Path("file.jpg")));
    EXPECT_EQ(tooltest::Shell("test -L " + Q(Path("link.jpg"))).code, 0) << "the link was replaced";
    // A FIFO is written directly, and its reader gets the whole stream.
    Sh("mkfifo " + Q(Path("fifo")));
    Sh("(cat " + Q(Path("fifo")) + " > " + Q(Path("from-fifo.jpg")) + " &) && " + tool + " compress " + ppm + " " +
       Q(Path("fifo")) + " --container jfif --sampling 420 && sleep 0.2");
    EXPECT_EQ(Bytes(Path("from-fifo.jpg")), Bytes(Path("file.jpg")));
    EXPECT_EQ(tooltest::Shell("test -p " + Q(Path("fifo"))).code, 0) << "the FIFO was replaced";
}

// A TIFF file records the subsampling of colour images only: the tool reads
// grey files back as grey, and four-component files as 1 x 1 unless told.
TEST_F(ToolTest, GreyAndFourComponentTiffFilesReadBack) {
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("grey.tif")) + " --tile 32x32");
    Ok("compress " + Data("gray1.pgm") + " " + Q(Path("grey.jpg")));
    Ok("decompress " + Q(Path("grey.tif")) + " " + Q(Path("tif.pgm")));
    Ok("decompress " + Q(Path("grey.jpg")) + " " + Q(Path("jpg.pgm")));
    EXPECT_EQ(Bytes(Path("tif.pgm")), Bytes(Path("jpg.pgm")));
    // Four channels: the same pixels through a JFIF file (which records the
    // layout) and a TIFF file (which does not), for each layout.
    const std::vector<uint8_t> pixels = MakeTestImage(48, 32, 4, 7).pixels;
    for (const char* sampling : {"444", "420"}) {
        SCOPED_TRACE(sampling);
        q32vex::CompressOptions o;
        o.with_sampling(std::string(sampling) == "444" ? q32vex::Sampling::Four444 : q32vex::Sampling::Four420);
        q32vex::ImageView view{pixels.data(), 48, 32, 48 * 4, q32vex::PixelFormat::Four8};
        ASSERT_TRUE(WriteFile(Path("four.jpg"), q32vex::compress(view, o)));
        o.container = q32vex::Container::Tiff;
        ASSERT_TRUE(WriteFile(Path("four.tif"), q32vex::compress(view, o)));
        Ok("decompress " + Q(Path("four.jpg")) + " " + Q(Path("jpg.png")));
        Ok("decompress " + Q(Path("four.tif")) + " " + Q(Path("tif.png")) + " --sampling " + sampling);
        const Result r = Vex("compare " + Q(Path("jpg.png")) + " " + Q(Path("tif.png")));
        EXPECT_EQ(r.out, "psnr=inf (identical)\n") << r.err;
    }
}

TEST_F(ToolTest, EveryFailureNamesItsCauseAndExitCodeAndLeavesNoOutput) {
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("good.jpg")));
    const std::vector<uint8_t> good = Bytes(Path("good.jpg"));
    WriteFile(Path("cut-data.jpg"), std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)));
    WriteFile(Path("cut-header.jpg"), std::vector<uint8_t>(good.begin(), good.begin() + 120));
    Sh("cjpeg -arithmetic -progressive -outfile " + Q(Path("arith-progressive.jpg")) + " " + Data("photo2.ppm"));
    Sh("cjpeg -arithmetic -outfile " + Q(Path("arithmetic.jpg")) + " " + Data("photo2.ppm"));
    WriteFile(Path("text.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
    auto header = [](const std::string& text, size_t extra, uint8_t fill) {
        std::vector<uint8_t> b(text.begin(), text.end());
        b.resize(b.size() + extra, fill);
        return b;
    };
    WriteFile(Path("cut.ppm"), header("P6\n451 300\n255\n", 1000, 7));
    // Far larger than the file: refused before any pixel memory is taken.
    WriteFile(Path("huge.ppm"), header("P6\n16000 16000\n255\n", 0, 0));
    WriteFile(Path("over.ppm"), header("P6\n30000 30000\n255\n", 0, 0));
    WriteFile(Path("wide.pgm"), header("P5\n70000 1\n255\n", 70000, 1));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("t.tif")) + " --tile 64x64");
    const std::vector<uint8_t> tiff = Bytes(Path("t.tif"));
    WriteFile(Path("cut.tif"), std::vector<uint8_t>(tiff.begin(), tiff.begin() + long(tiff.size() * 2 / 3)));
    Ok("compress " + Data("photo1.ppm") + " " + Q(Path("lone.raw")));
    Sh("rm " + Q(Path("lone.raw.hdr")));

    struct Case {
        std::string args;
        int code;
        std::string message;
    };
    const std::string photo = Data("photo1.ppm"), out = Q(Path("out.jpg")), img = Q(Path("out.ppm"));
    std::vector<Case> cases = {
        {"compress", 1, "needs IN and OUT"},
        {"frobnicate a b", 1, "unknown command 'frobnicate'"},
        {"compress " + photo + " " + out + " --bogus", 1, "unknown option --bogus"},
        {"compress " + photo + " " + out + " --band-rows 8 --band-memory 9000", 1, "not both"},
        {"compress " + photo + " " + out + " --tile 64x64", 1, "--tile needs the tiff container"},
        {"compress " + Q(Path("missing.ppm")) + " " + out, 2, "No such file"},
        {"compress " + Q(Path("text.txt")) + " " + out, 2, "not a PNG, PPM, PGM or BMP"},
        {"compress " + Q(Path("cut.ppm")) + " " + out, 2, "truncated"},
        {"compress " + Q(Path("huge.ppm")) + " " + out, 2, "truncated"},
        {"compress " + Q(Path("over.ppm")) + " " + out, 2, "2700000000 bytes of pixels expected"},
        {"compress " + Q(Path("wide.pgm")) + " " + out, 2, "at most 65535"},
        {"compress " + photo + " " + out + " --quality 101", 1, "--quality needs a whole number from 1 to 100"},
        {"compress " + photo + " " + out + " --quality abc", 1, "--quality needs a whole number from 1 to 100"},
        {"compress " + photo + " " + out + " --scale 0", 1, "--scale needs a whole number from 1 to 255"},
        {"compress " + photo + " " + Q(Path("out.tif")) + " --tile 24x24", 3, "VEX_ERR_TILE (-381)"},
        {"compress " + photo + " " + out + " --band-memory 10", 3, "VEX_ERR_BAND (-380)"},
        {"compress " + photo + " " + out + " --band-rows 8 --sampling 420", 3,
         "--band-rows must be at least 16 for this sampling"},
        {"decompress " + Q(Path("good.jpg")) + " " + img + " --window 451,0,10,10", 3, "VEX_ERR_WINDOW (-370)"},
        {"decompress " + Q(Path("arith-progressive.jpg")) + " " + img, 3,
         "progressive, arithmetic-coded JPEG (SOF10): not supported by this codec"},
        {"decompress " + Q(Path("arithmetic.jpg")) + " " + img, 3,
         "extended sequential, arithmetic-coded JPEG (SOF9): not supported by this codec"},
        {"decompress " + Q(Path("text.txt")) + " " + img + " --container tiff", 3, "VEX_ERR_"},
        {"decompress " + photo + " " + img, 2, "a PPM/PGM image, not a JPEG or TIFF file"},
        {"decompress " + Q(dir_) + " " + img, 2, "is a directory"},
        {"info " + Q(Path("missing.jpg")) + " " + Q(Path("good.jpg")), 2, "No such file"},
        {"decompress " + Q(Path("cut-header.jpg")) + " " + img, 3, "VEX_ERR_"},
        {"decompress " + Q(Path("cut-data.jpg")) + " " + img + " --strict", 2, "truncated"},
        {"decompress " + Q(Path("cut.tif")) + " " + img, 2, "truncated"},
        {"decompress " + Q(Path("text.txt")) + " " + img, 2, "not a JPEG or TIFF file"},
        {"decompress " + Q(Path("lone.raw")) + " " + img + " --container raw", 2, "needs its header"},
        {"decompress " + Q(Path("good.jpg")) + " " + Q(Path("out.gif")), 1, "cannot tell the image format"},
        {"decompress " + Q(Path("good.jpg")) + " " + Q(Path("no-such-dir/out.ppm")), 4, "no-such-dir/out.ppm"},
        {"info " + Q(Path("missing.jpg")), 2, "No such file"},
    };
    WriteFile(Path("out.ppm"), {'o', 'l', 'd'});
    const std::vector<std::string> before = Listing();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Vex(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(r.err.rfind("vexjpeg: ", 0), 0u) << r.err;
        // An older file under the output name survives; no output and no
        // temporary file is left behind.
        EXPECT_EQ(Bytes(Path("out.ppm")), std::vector<uint8_t>({'o', 'l', 'd'}));
        EXPECT_EQ(Listing(), before);
    }
    // The help names every command, option and exit code.
    for (const auto& [command, words] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"--help", {"compress", "decompress", "info", "exit codes", "  3  "}},
             {"compress --help",
              {"--quality", "--scale", "--sampling", "--restart", "--container", "--tile", "--band-rows", "--band-memory",
               "--comment", "--quiet", ".hdr"}},
             {"decompress --help", {"--window", "--pixel-format", "--band-rows", "--band-memory", "--header"}},
             {"info --help", {"--json"}}}) {
        const Result r = Vex(command);
        EXPECT_EQ(r.code, 0) << command;
        for (const std::string& w : words) EXPECT_NE(r.out.find(w), std::string::npos) << command << ": " << w;
    }
    EXPECT_EQ(Vex("").code, 1);
}

// Progressive files decode as djpeg decodes them, one picture or a batch.
// A damaged JPEG file is written as djpeg writes it, with its damage named
// on stderr and exit code 2; --strict refuses it and writes nothing. In the
// batch form the damaged file gives 2 and the intact one is written as well.
TEST_F(ToolTest, DamagedFilesAreWrittenWithWarningsUnlessStrict) {
    Sh("cjpeg -restart 2 -outfile " + Q(Path("good.jpg")) + " " + Data("photo1.ppm"));
    const std::vector<uint8_t> good = Bytes(Path("good.jpg"));
    WriteFile(Path("cut.jpg"), std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() * 2 / 3)));
    std::vector<uint8_t> renumbered = good;
    for (size_t i = good.size() / 2; i + 1 < renumbered.size(); ++i) {
        if (renumbered[i] == 0xFF && renumbered[i + 1] >= 0xD0 && renumbered[i + 1] <= 0xD7) {
            renumbered[i + 1] = uint8_t(0xD0 + (renumbered[i + 1] - 0xD0 + 1) % 8);
            break;
        }
    }
    WriteFile(Path("renumbered.jpg"), renumbered);

    for (const std::string name : {"cut", "renumbered"}) {
        SCOPED_TRACE(name);
        const std::string in = Q(Path(name + ".jpg")), out = Path(name + ".ppm");
        Sh("djpeg -dct int -nosmooth -outfile " + Q(Path(name + ".djpeg.ppm")) + " " + in + " 2>/dev/null || true");
        const Result r = Vex("decompress " + in + " " + Q(out) + " --quiet");
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(r.err.rfind("vexjpeg: warning: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_NE(r.err.find(name == "cut" ? "truncated" : "restart marker"), std::string::npos) << r.err;
        const Pnm ours = Load(out), theirs = Load(Path(name + ".djpeg.ppm"));
        EXPECT_GE(Psnr(ours, theirs), 40.0);

        const Result strict = Vex("decompress " + in + " " + Q(Path(name + "-strict.ppm")) + " --quiet --strict");
        EXPECT_EQ(strict.code, 2) << strict.err;
        EXPECT_NE(strict.err.find("--strict"), std::string::npos) << strict.err;
        EXPECT_EQ(strict.err.find('\n'), strict.err.size() - 1) << "one line: " << strict.err;
        std::vector<uint8_t> none;
        EXPECT_FALSE(ReadFile(Path(name + "-strict.ppm"), &none));
    }
    // An intact file says nothing and exits 0, --strict or not.
    const Result intact = Vex("decompress " + Q(Path("good.jpg")) + " " + Q(Path("good.ppm")) + " --quiet --strict");
    EXPECT_EQ(intact.code, 0) << intact.err;
    EXPECT_EQ(intact.err, "");

    Sh("mkdir " + Q(Path("batch")));
    const Result batch = Vex("decompress " + Q(Path("good.jpg")) + " " + Q(Path("cut.jpg")) + " --out-dir " +
                             Q(Path("batch")) + " --format ppm");
    EXPECT_EQ(batch.code, 2) << batch.err;
    Pnm batchCut;
    EXPECT_TRUE(ReadPnm(Path("batch/cut.ppm"), &batchCut));
    EXPECT_EQ(Bytes(Path("batch/good.ppm")), Bytes(Path("good.ppm")));
}

TEST_F(ToolTest, ProgressiveFilesDecode) {
    Sh("cjpeg -progressive -restart 2 -outfile " + Q(Path("p.jpg")) + " " + Data("photo1.ppm"));
    Ok("decompress " + Q(Path("p.jpg")) + " " + Q(Path("p.ppm")));
    Sh("djpeg -dct int -nosmooth -outfile " + Q(Path("d.ppm")) + " " + Q(Path("p.jpg")));
    Pnm ours, theirs;
    ASSERT_TRUE(ReadPnm(Path("p.ppm"), &ours));
    ASSERT_TRUE(ReadPnm(Path("d.ppm"), &theirs));
    ASSERT_EQ(ours.samples.size(), theirs.samples.size());
    EXPECT_GE(Psnr(ours.samples.data(), theirs.samples.data(), ours.samples.size()), 40.0);
}

}  // namespace
}  // namespace vextest
