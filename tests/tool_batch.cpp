// vexjpeg's batch form, FILE... --out-dir DIR -j N: every output holds the
// bytes the single-file command writes, whatever the number of threads; a
// failing file reports itself and the rest still convert; messages come in
// the order of the files; the exit code is the highest any file gave; and
// inputs that would overwrite each other are refused before any work.
#include <cstdio>
#include <string>
#include <vector>

#include "tool_support.h"

namespace vextest {
namespace {

using tooltest::Q;
using tooltest::Result;

class BatchTest : public tooltest::VexjpegTest {
protected:
    void Mkdir(const std::string& name) { ASSERT_EQ(vextest::Run("mkdir -p " + Q(Path(name))), 0) << name; }
    // The lines of a text, without their ends.
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return lines;
    }
    // Names in a directory of the scratch directory, sorted.
    std::vector<std::string> Files(const std::string& dir) {
        const Result r = tooltest::Shell("ls -A " + Q(Path(dir)));
        EXPECT_EQ(r.code, 0) << r.err;
        return Lines(r.out);
    }
    // A picture of width x height with content everywhere, as a PPM file.
    void WritePicture(const std::string& name, int width, int height) {
        Pnm p;
        p.width = width;
        p.height = height;
        p.channels = 3;
        p.samples.resize(size_t(width) * size_t(height) * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t* s = &p.samples[(size_t(y) * size_t(width) + size_t(x)) * 3];
                s[0] = uint8_t(x + y);
                s[1] = uint8_t((x >> 3) ^ (y >> 2));
                s[2] = uint8_t(y * 3 + (x * 7 & 31));
            }
        ASSERT_TRUE(WritePnm(Path(name), p));
    }
};

// Images of each kind the tool reads and one damaged file, compressed and
// decompressed one by one and then as a batch with 1 and 4 threads: the
// batch outputs are the single-file outputs, byte for byte; the damaged file
// gives the single-file message, and no output.
TEST_F(BatchTest, OutputsEqualTheSingleFileOutputsWhateverTheThreads) {
    std::vector<std::string> images = {"photo1.ppm", "gray1.pgm"};
    if (Vex("--version").out.find("png") != std::string::npos) images.push_back("photo2.png");
    Mkdir("in");
    for (const std::string& name : images) ASSERT_EQ(vextest::Run("cp " + Q(DataPath(name)) + " " + Q(Path("in/" + name))), 0);
    ASSERT_TRUE(WriteFile(Path("in/broken.ppm"), {'P', '6', '\n', '6', '4', ' ', '6', '4', '\n', '2', '5', '5', '\n', 1, 2}));
    std::string inputs;
    for (const std::string& name : {images[0], std::string("broken.ppm"), images[1]}) inputs += " " + Q(Path("in/" + name));
    for (size_t i = 2; i < images.size(); ++i) inputs += " " + Q(Path("in/" + images[i]));
    const Result single = Vex("compress " + Q(Path("in/broken.ppm")) + " " + Q(Path("broken.jpg")));
    ASSERT_EQ(single.code, 2) << single.err;

    struct Form {
        std::string options, extension;
    };
    for (const Form& form : {Form{"--sampling 420 --restart 3", ".jpg"}, Form{"--container tiff --tile 32x32", ".tif"}}) {
        SCOPED_TRACE(form.options);
        Mkdir("single");
        for (const std::string& name : images) {
            const std::string stem = name.substr(0, name.find('.'));
            Ok("compress " + Q(Path("in/" + name)) + " " + Q(Path("single/" + stem + form.extension)) + " " +
               form.options);
        }
        for (const char* jobs : {"1", "4"}) {
            SCOPED_TRACE(jobs);
            const std::string dir = std::string("j") + jobs;
            Mkdir(dir);
            const Result r = Vex("compress" + inputs + " --out-dir " + Q(Path(dir)) + " -j " + jobs + " " + form.options);
            EXPECT_EQ(r.code, 2) << r.err;
            EXPECT_EQ(r.err, single.err) << "the damaged file's message, alone";
            EXPECT_EQ(Files(dir), Files("single")) << "one output per good input, no temporary files";
            for (const std::string& name : Files("single"))
                EXPECT_EQ(FileBytes(Path(dir + "/" + name)), FileBytes(Path("single/" + name))) << name;
        }
        ASSERT_EQ(vextest::Run("rm -rf " + Q(Path("single")) + " " + Q(Path("j1")) + " " + Q(Path("j4"))), 0);
    }

    // Decompression: the default image format is the single-file command's
    // for a .png name (.pnm without PNG support), or --format's.
    Mkdir("jpg");
    Ok("compress " + Q(Path("in/" + images[0])) + " " + Q(Path("in/" + images[1])) +
       " --out-dir " + Q(Path("jpg")) + " -j 2");
    const bool png = Vex("--version").out.find("png") != std::string::npos;
    for (const std::string& format : {std::string(png ? "png" : "pnm"), std::string("bmp")}) {
        SCOPED_TRACE(format);
        for (const char* jobs : {"1", "4"}) {
            const std::string dir = std::string("d") + jobs;
            Mkdir(dir);
            Ok("decompress " + Q(Path("jpg/photo1.jpg")) + " " + Q(Path("jpg/gray1.jpg")) + " --out-dir " +
               Q(Path(dir)) + " -j" + jobs + (format == "bmp" ? " --format bmp" : ""));
            for (const char* stem : {"photo1", "gray1"}) {
                Ok("decompress " + Q(Path(std::string("jpg/") + stem + ".jpg")) + " " +
                   Q(Path(std::string("one.") + format)));
                const std::vector<uint8_t> batch = FileBytes(Path(dir + "/" + stem + "." + format));
                EXPECT_FALSE(batch.empty()) << stem;
                EXPECT_EQ(batch, FileBytes(Path("one." + format))) << stem;
            }
            ASSERT_EQ(vextest::Run("rm -rf " + Q(Path(dir))), 0);
        }
    }
}

// A slow failing file first, quick ones after it: the quick ones finish
// first on other threads, yet every message and --stats line comes out in
// the order of the files, each line whole. The exit code is the highest of
// the files' codes: 3 for a stream of an unsupported process over 2 for
// truncated files (written with a warning), and 4 for an output that cannot
// be written over both.
TEST_F(BatchTest, MessagesComeInFileOrderAndTheHighestCodeWins) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg missing";
    WritePicture("big.ppm", 2048, 2048);
    Ok("compress " + Q(Path("big.ppm")) + " " + Q(Path("whole.jpg")) + " --sampling 444 --quality 95");
    // Its data ends early: the decoder gets through the image before the
    // missing end is noticed.
    const std::vector<uint8_t> whole = FileBytes(Path("whole.jpg"));
    ASSERT_GT(whole.size(), 1000u);
    ASSERT_TRUE(WriteFile(Path("a-slow-cut.jpg"), std::vector<uint8_t>(whole.begin(), whole.end() - 64)));
    Ok("compress " + Q(DataPath("photo1.ppm")) + " " + Q(Path("small.jpg")));
    const std::vector<uint8_t> small = FileBytes(Path("small.jpg"));
    std::vector<std::string> files = {"a-slow-cut.jpg"};
    for (int i = 0; i < 6; ++i) {
        const std::string good = "good" + std::to_string(i) + ".jpg", cut = "cut" + std::to_string(i) + ".jpg";
        ASSERT_TRUE(WriteFile(Path(good), small));
        ASSERT_TRUE(WriteFile(Path(cut), std::vector<uint8_t>(small.begin(), small.end() - 40 - i)));
        files.push_back(good);
        files.push_back(cut);
    }
    ASSERT_EQ(vextest::Run("cjpeg -arithmetic -outfile " + Q(Path("arithmetic.jpg")) + " " + Q(DataPath("photo2.ppm"))), 0);
    files.push_back("arithmetic.jpg");
    std::string list;
    for (const std::string& f : files) list += " " + Q(Path(f));

    // What each file says alone, in order.
    std::string expectErr, expectOut;
    for (const std::string& f : files) {
        const Result r = Vex("decompress " + Q(Path(f)) + " " + Q(Path("alone.bmp")) + " --stats");
        expectErr += r.err;
        for (const std::string& line : Lines(r.out)) expectOut += Path(f) + ": " + line.substr(0, line.find(" ms=")) + "\n";
    }
    ASSERT_EQ(Lines(expectErr).size(), 8u) << expectErr;

    Mkdir("out");
    const Result r = Vex("decompress" + list + " --out-dir " + Q(Path("out")) + " -j 4 --format bmp --stats");
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(r.err, expectErr);
    // Timings differ from run to run; the rest of each stats line does not.
    std::string out;
    for (const std::string& line : Lines(r.out)) out += line.substr(0, line.find(" ms=")) + "\n";
    EXPECT_EQ(out, expectOut);

    // An output name taken by a directory cannot be written: 4 wins.
    ASSERT_EQ(vextest::Run("rm -rf " + Q(Path("out")) + " && mkdir -p " + Q(Path("out/good3.bmp"))), 0);
    const Result blocked = Vex("decompress" + list + " --out-dir " + Q(Path("out")) + " -j 3 --format bmp");
    EXPECT_EQ(blocked.code, 4) << blocked.err;
    EXPECT_NE(blocked.err.find("good3.bmp: is a directory"), std::string::npos) << blocked.err;
    // Damaged files are written as far as they go, as djpeg writes them.
    EXPECT_EQ(Files("out").size(), 13u) << "good0..5 but good3, the directory, cut0..5 and a-slow-cut";
}

// What would overwrite or cannot be read is refused before anything is
// converted, with a message naming the files.
TEST_F(BatchTest, ClashingNamesAndUnusableArgumentsAreRefusedUpFront) {
    Mkdir("a");
    Mkdir("b");
    Mkdir("out");
    const std::string photo = Q(DataPath("photo1.ppm"));
    ASSERT_EQ(vextest::Run("cp " + photo + " " + Q(Path("a/x.ppm")) + " && cp " + photo + " " + Q(Path("b/x.pgm"))), 0);
    const std::string first = Q(Path("a/first.ppm"));
    ASSERT_EQ(vextest::Run("cp " + photo + " " + first), 0);
    struct Case {
        std::string args;
        int code;
        std::string message;
    };
    const std::string out = " --out-dir " + Q(Path("out"));
    const std::vector<Case> cases = {
        {"compress " + first + " " + Q(Path("a/x.ppm")) + " " + Q(Path("b/x.pgm")) + out, 1,
         Path("a/x.ppm") + " and " + Path("b/x.pgm") + " would both be written to " + Path("out") + "/x.jpg"},
        {"compress " + first + " " + first + out + " -j 2", 1, "would both be written to"},
        {"decompress " + Q(Path("a/x.jpg")) + " " + Q(Path("b/x.jpeg")) + out, 1, "/x.png"},
        {"compress " + first + " -" + out, 1, "standard input ('-') cannot be one of several inputs"},
        {"compress " + first + " " + Q(Path("a/x.ppm")) + " --out-dir " + Q(Path("missing")), 4,
         Path("missing") + ": no such directory"},
        {"compress " + first + out + " -j 0", 1, "-j needs a whole number from 1 to 64"},
        {"compress " + first + out + " -j 65", 1, "-j needs a whole number from 1 to 64"},
        {"compress " + first + " " + Q(Path("a/x.ppm")) + " -j 2", 1, "-j needs --out-dir DIR"},
        {"compress " + first + " " + Q(Path("a/x.ppm")) + " " + Q(Path("b/x.pgm")), 1, "FILE... --out-dir DIR"},
        {"compress" + out, 1, "needs input files"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Vex(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(Files("out").empty()) << "something was converted";
    }
    // Without -j the batch runs too (one thread per processor), and -jN
    // is -j N.
    Ok("compress " + first + " " + Q(Path("a/x.ppm")) + out);
    EXPECT_EQ(Files("out"), (std::vector<std::string>{"first.jpg", "x.jpg"}));
    Ok("compress " + first + out + " -j2 --container tiff");
    EXPECT_EQ(Files("out"), (std::vector<std::string>{"first.jpg", "first.tif", "x.jpg"}));
    const Result help = Vex("compress --help");
    for (const char* words : {"--out-dir DIR", "-j N", "highest"})
        EXPECT_NE(help.out.find(words), std::string::npos) << words;
}

// --threads N for one picture: with restart intervals the file is coded and
// decoded in strips streamed a few at a time, with the bytes and pixels of
// one thread (also from standard input, and by default, one per core);
// without them the option changes nothing.
TEST_F(BatchTest, ThreadsForOnePictureKeepBytesAndPixels) {
    WritePicture("big.ppm", 700, 530);
    for (const std::string restart : {"--restart 2", "--restart 44", ""}) {
        SCOPED_TRACE(restart);
        Ok("compress " + Q(Path("big.ppm")) + " " + Q(Path("one.jpg")) + " --sampling 420 --threads 1 " + restart);
        Ok("decompress " + Q(Path("one.jpg")) + " " + Q(Path("one.ppm")) + " --threads 1");
        Ok("decompress - " + Q(Path("stdin.ppm")) + " --threads 2 < " + Q(Path("one.jpg")));
        EXPECT_EQ(FileBytes(Path("stdin.ppm")), FileBytes(Path("one.ppm")));
        Ok("compress " + Q(Path("big.ppm")) + " " + Q(Path("default.jpg")) + " --sampling 420 " + restart);
        EXPECT_EQ(FileBytes(Path("default.jpg")), FileBytes(Path("one.jpg")));
        for (const char* threads : {"2", "3", "0"}) {
            Ok("compress " + Q(Path("big.ppm")) + " " + Q(Path("many.jpg")) + " --sampling 420 --threads " + threads +
               " " + restart);
            EXPECT_EQ(FileBytes(Path("many.jpg")), FileBytes(Path("one.jpg"))) << threads;
            Ok("decompress " + Q(Path("one.jpg")) + " " + Q(Path("many.ppm")) + " --threads " + threads);
            EXPECT_EQ(FileBytes(Path("many.ppm")), FileBytes(Path("one.ppm"))) << threads;
        }
    }
    EXPECT_EQ(Vex("compress " + Q(Path("big.ppm")) + " " + Q(Path("x.jpg")) + " --threads 65").code, 1);
}

}  // namespace
}  // namespace vextest
