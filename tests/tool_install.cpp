// The installed package: `cmake --install` into a temporary prefix, moved
// elsewhere afterwards, then the README examples built against it through
// find_package(q32vex) and through pkg-config, and the installed vexjpeg run.
#include <string>

#include "tool_support.h"

namespace {

using tooltest::Q;

class InstalledPackageTest : public tooltest::ScratchTest {};

TEST_F(InstalledPackageTest, CMakeAndPkgConfigConsumersBuildAndRun) {
    for (const char* tool : {"cmake", "pkg-config", "cc", "c++", "djpeg"})
        if (!vextest::HaveTool(tool)) GTEST_SKIP() << tool << " missing";
    if (tooltest::BuiltProgram("vexjpeg").empty()) GTEST_SKIP() << "tools were not built";
    // Build the consumers the way the library itself was built.
    const std::string flags = sizeof(void*) == 4 ? "-m32" : "";
    const std::string source = Q32VEX_SOURCE_DIR, binary = Q32VEX_BINARY_DIR;

    auto run = [&](const std::string& command) {
        const tooltest::Result r = tooltest::Shell(command);
        EXPECT_EQ(r.code, 0) << command << "\n" << r.out << r.err;
        return r.code == 0;
    };
    ASSERT_TRUE(run("cmake --install " + Q(binary) + " --prefix " + Q(Path("staging"))));
    // The tree must not depend on where it was installed.
    ASSERT_TRUE(run("mv " + Q(Path("staging")) + " " + Q(Path("prefix"))));
    const std::string prefix = Path("prefix");
    for (const char* file : {"include/q32vex.h", "include/q32vex.hpp", "lib/pkgconfig/q32vex.pc",
                             "lib/cmake/q32vex/q32vexConfig.cmake", "bin/vexjpeg"})
        EXPECT_EQ(vextest::Run("test -e " + Q(prefix + "/" + file)), 0) << file;

    // find_package(q32vex) and target q32vex::q32vex.
    ASSERT_TRUE(run("cmake -S " + Q(source + "/examples") + " -B " + Q(Path("cm")) + " -DCMAKE_PREFIX_PATH=" +
                    Q(prefix) + " -DCMAKE_C_FLAGS=" + Q(flags) + " -DCMAKE_CXX_FLAGS=" + Q(flags) +
                    " -DCMAKE_BUILD_TYPE=Release"));
    ASSERT_TRUE(run("cmake --build " + Q(Path("cm")) + " -j2"));
    // pkg-config, with the library found at run time through its rpath.
    const std::string pc = "PKG_CONFIG_PATH=" + Q(prefix + "/lib/pkgconfig") + " pkg-config";
    const std::string link = "$(" + pc + " --cflags --libs q32vex) -Wl,-rpath,$(" + pc + " --variable=libdir q32vex)";
    ASSERT_TRUE(run("cc -std=c99 " + flags + " " + Q(source + "/examples/example_c.c") + " -o " +
                    Q(Path("pc_example_c")) + " " + link));
    ASSERT_TRUE(run("c++ -std=c++17 " + flags + " " + Q(source + "/examples/example_cpp.cpp") + " -o " +
                    Q(Path("pc_example_cpp")) + " " + link));

    for (const std::string& c : {Path("cm/example_c"), Path("pc_example_c")}) {
        ASSERT_TRUE(run("cd " + Q(dir_) + " && rm -f example_c.jpg && " + Q(c)));
        EXPECT_TRUE(run("djpeg -outfile /dev/null " + Q(Path("example_c.jpg"))));
    }
    for (const std::string& cpp : {Path("cm/example_cpp"), Path("pc_example_cpp")})
        EXPECT_TRUE(run(Q(cpp) + " " + Q(Path("example_c.jpg")) + " " + Q(Path("quarter.jpg"))));

    // The installed tool runs from the moved tree and finds its library.
    EXPECT_TRUE(run(Q(prefix + "/bin/vexjpeg") + " compress " + Q(vextest::DataPath("photo1.ppm")) + " " +
                    Q(Path("t.jpg"))));
    EXPECT_TRUE(run("djpeg -outfile /dev/null " + Q(Path("t.jpg"))));
}

}  // namespace
