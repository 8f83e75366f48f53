#include "tool_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tooltest {

std::string Q(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

static std::string Slurp(const std::string& path) {
    std::vector<uint8_t> bytes;
    vextest::ReadFile(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

Result Shell(const std::string& command) {
    static int counter = 0;
    const std::string base = vextest::TempPath("shell" + std::to_string(++counter));
    Result r;
    r.code = vextest::Run("(" + command + ") >" + base + ".out 2>" + base + ".err </dev/null");
    r.out = Slurp(base + ".out");
    r.err = Slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return r;
}

std::string BuiltProgram(const std::string& name) {
    const std::string path = std::string(Q32VEX_BINARY_DIR) + "/bin/" + name;
    return access(path.c_str(), X_OK) == 0 ? path : "";
}

void ScratchTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    dir_ = vextest::TempPath(name);
    vextest::Run("rm -rf " + Q(dir_));
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0) << dir_;
}

void ScratchTest::TearDown() {
    if (!HasFailure()) vextest::Run("rm -rf " + Q(dir_));
    vextest::LibraryTest::TearDown();
}

void VexjpegTest::SetUp() {
    ScratchTest::SetUp();
    if (HasFatalFailure()) return;
    tool_ = BuiltProgram("vexjpeg");
    if (tool_.empty()) GTEST_SKIP() << "vexjpeg was not built";
}

Result VexjpegTest::Vex(const std::string& args) { return Shell(tool_ + " " + args); }

void VexjpegTest::Ok(const std::string& args) {
    const Result r = Vex(args);
    ASSERT_EQ(r.code, 0) << "vexjpeg " << args << "\n" << r.err;
}

std::vector<std::string> ScratchTest::Listing() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tooltest
