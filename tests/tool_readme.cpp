// The README's C and C++ examples: the README shows the files under
// examples/ verbatim, and the programs built from them do what it says.
#include <string>
#include <vector>

#include "tool_support.h"

namespace vextest {
namespace {

using tooltest::Q;

class ReadmeTest : public tooltest::ScratchTest {};

TEST_F(ReadmeTest, ShowsTheExampleFilesVerbatim) {
    const std::vector<uint8_t> readme = FileBytes(std::string(Q32VEX_SOURCE_DIR) + "/README.md");
    ASSERT_FALSE(readme.empty()) << "README.md missing";
    for (const std::string file :
         {"examples/example_c.c", "examples/example_instances.c", "examples/example_cpp.cpp"}) {
        const std::vector<uint8_t> code = FileBytes(std::string(Q32VEX_SOURCE_DIR) + "/" + file);
        ASSERT_FALSE(code.empty()) << file;
        const std::string fenced = (file.find(".cpp") != std::string::npos ? "```cpp\n" : "```c\n") +
                                   std::string(code.begin(), code.end()) + "```";
        EXPECT_NE(std::string(readme.begin(), readme.end()).find(fenced), std::string::npos)
            << file << " is not in README.md as it is";
    }
}

// The README's table of exit codes and the tool's help name the same codes,
// the damaged input among them.
TEST_F(ReadmeTest, ExitCodeTableMatchesTheToolsHelp) {
    const std::vector<uint8_t> bytes = FileBytes(std::string(Q32VEX_SOURCE_DIR) + "/README.md");
    const std::string readme(bytes.begin(), bytes.end());
    const size_t table = readme.find("Exit codes:\n\n| code | meaning |\n|---|---|\n");
    ASSERT_NE(table, std::string::npos) << "README.md has no table of exit codes";
    std::vector<std::string> rows;
    for (size_t at = readme.find("|---|---|\n", table) + 10; readme.compare(at, 3, "| `") == 0;) {
        const size_t end = readme.find('\n', at);
        rows.push_back(readme.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(rows.size(), 5u);
    for (size_t code = 0; code < rows.size(); ++code)
        EXPECT_EQ(rows[code].rfind("| `" + std::to_string(code) + "` |", 0), 0u) << rows[code];
    EXPECT_NE(rows[2].find("damaged"), std::string::npos);
    EXPECT_NE(rows[2].find("--strict"), std::string::npos);

    const std::string tool = tooltest::BuiltProgram("vexjpeg");
    if (tool.empty()) GTEST_SKIP() << "vexjpeg was not built";
    const tooltest::Result help = tooltest::Shell(Q(tool) + " --help");
    ASSERT_EQ(help.code, 0);
    for (size_t code = 0; code < rows.size(); ++code)
        EXPECT_NE(help.out.find("\n  " + std::to_string(code) + "  "), std::string::npos) << code;
    EXPECT_NE(help.out.find("damaged"), std::string::npos) << help.out;
}

TEST_F(ReadmeTest, ExamplesDoWhatTheReadmeSays) {
    const std::string c = tooltest::BuiltProgram("example_c"), cpp = tooltest::BuiltProgram("example_cpp");
    if (c.empty() || cpp.empty()) GTEST_SKIP() << "the examples were not built";
    if (!HaveTool("djpeg") || !HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg/djpeg missing";
    const tooltest::Result r = tooltest::Shell("cd " + Q(dir_) + " && " + Q(c));
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "status 0\n");
    Pnm image;
    ASSERT_TRUE(Djpeg(FileBytes(Path("example_c.jpg")), &image));
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 48);
    // The gradient it draws: blue grows to the right, green downwards.
    const uint8_t* topLeft = &image.samples[0];
    const uint8_t* bottomRight = &image.samples[(size_t(47) * 64 + 63) * 3];
    EXPECT_LT(topLeft[2] + 40, bottomRight[2]);
    EXPECT_LT(topLeft[1] + 40, bottomRight[1]);

    // The C++ example writes the top-left quarter of a file.
    ASSERT_TRUE(WriteFile(Path("in.jpg"), Cjpeg("", DataPath("photo1.ppm"))));
    const tooltest::Result q = tooltest::Shell(Q(cpp) + " " + Q(Path("in.jpg")) + " " + Q(Path("out.jpg")));
    ASSERT_EQ(q.code, 0) << q.err;
    EXPECT_EQ(q.out.rfind("451 x 300, 3 components\nwrote 226 x 150, ", 0), 0u) << q.out;
    Pnm quarter, full;
    ASSERT_TRUE(Djpeg(FileBytes(Path("out.jpg")), &quarter));
    ASSERT_TRUE(Djpeg(FileBytes(Path("in.jpg")), &full));
    EXPECT_EQ(quarter.width, 226);
    EXPECT_EQ(quarter.height, 150);
    EXPECT_GT(Psnr(quarter, Crop(full, 0, 0, 226, 150)), 30.0);
    WriteFile(Path("bad.jpg"), {0xFF, 0xD8, 0xFF, 0xC2, 0, 2});
    // The instances example: four threads, four equal streams.
    const std::string instances = tooltest::BuiltProgram("example_instances");
    ASSERT_FALSE(instances.empty());
    const tooltest::Result t = tooltest::Shell(Q(instances));
    EXPECT_EQ(t.code, 0) << t.err;
    EXPECT_EQ(t.out.rfind("four equal streams: ", 0), 0u) << t.out;
    const tooltest::Result bad = tooltest::Shell(Q(cpp) + " " + Q(Path("bad.jpg")) + " " + Q(Path("x.jpg")));
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("VEX_ERR_CONTAINER (-385)"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace vextest
