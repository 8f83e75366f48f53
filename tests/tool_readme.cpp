// The README's C and C++ examples: the README shows the files under
// examples/ verbatim, and the programs built from them do what it says.
#include <fstream>
#include <sstream>
#include <string>

#include "tool_support.h"

namespace {

using tooltest::Q;

std::string SourceFile(const std::string& relative) {
    std::ifstream f(std::string(Q32VEX_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class ReadmeTest : public tooltest::ScratchTest {};

TEST_F(ReadmeTest, ShowsTheExampleFilesVerbatim) {
    const std::string readme = SourceFile("README.md");
    ASSERT_FALSE(readme.empty()) << "README.md missing";
    for (const char* file : {"examples/example_c.c", "examples/example_cpp.cpp"}) {
        const std::string code = SourceFile(file);
        ASSERT_FALSE(code.empty()) << file;
        const std::string fence = std::string(file).find(".cpp") != std::string::npos ? "```cpp\n" : "```c\n";
        EXPECT_NE(readme.find(fence + code + "```"), std::string::npos) << file << " is not in README.md as it is";
    }
}

TEST_F(ReadmeTest, CExampleWritesAJpegThatDjpegReads) {
    const std::string program = tooltest::BuiltProgram("example_c");
    if (program.empty()) GTEST_SKIP() << "example_c was not built";
    if (!vextest::HaveTool("djpeg")) GTEST_SKIP() << "djpeg missing";
    const tooltest::Result r = tooltest::Shell("cd " + Q(dir_) + " && " + Q(program));
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "status 0\n");
    ASSERT_EQ(vextest::Run("djpeg -outfile " + Q(Path("c.ppm")) + " " + Q(Path("example_c.jpg"))), 0);
    tooltest::Pnm image;
    ASSERT_TRUE(tooltest::ReadPnm(Path("c.ppm"), &image));
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 48);
    // The gradient it draws: blue grows to the right, green downwards.
    const uint8_t* topLeft = &image.samples[0];
    const uint8_t* bottomRight = &image.samples[(size_t(47) * 64 + 63) * 3];
    EXPECT_LT(topLeft[2] + 40, bottomRight[2]);
    EXPECT_LT(topLeft[1] + 40, bottomRight[1]);
}

TEST_F(ReadmeTest, CxxExampleCropsAQuarter) {
    const std::string program = tooltest::BuiltProgram("example_cpp");
    if (program.empty()) GTEST_SKIP() << "example_cpp was not built";
    if (!vextest::HaveTool("djpeg") || !vextest::HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg/djpeg missing";
    ASSERT_EQ(vextest::Run("cjpeg -outfile " + Q(Path("in.jpg")) + " " + Q(vextest::DataPath("photo1.ppm"))), 0);
    const tooltest::Result r = tooltest::Shell(Q(program) + " " + Q(Path("in.jpg")) + " " + Q(Path("out.jpg")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("451 x 300, 3 components\nwrote 226 x 150, ", 0), 0u) << r.out;
    ASSERT_EQ(vextest::Run("djpeg -outfile " + Q(Path("out.ppm")) + " " + Q(Path("out.jpg"))), 0);
    tooltest::Pnm quarter, full;
    ASSERT_TRUE(tooltest::ReadPnm(Path("out.ppm"), &quarter));
    EXPECT_EQ(quarter.width, 226);
    EXPECT_EQ(quarter.height, 150);
    ASSERT_EQ(vextest::Run("djpeg -outfile " + Q(Path("in.ppm")) + " " + Q(Path("in.jpg"))), 0);
    ASSERT_TRUE(tooltest::ReadPnm(Path("in.ppm"), &full));
    EXPECT_GT(tooltest::PnmPsnr(quarter, tooltest::Crop(full, 0, 0, 226, 150)), 30.0);

    vextest::WriteFile(Path("bad.jpg"), std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC2, 0, 2});
    const tooltest::Result bad = tooltest::Shell(Q(program) + " " + Q(Path("bad.jpg")) + " " + Q(Path("x.jpg")));
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("VEX_ERR_CONTAINER (-385)"), std::string::npos) << bad.err;
}

}  // namespace
