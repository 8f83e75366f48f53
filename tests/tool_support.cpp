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

std::vector<uint8_t> MakeBmp(const vextest::Pnm& image, int bits, bool topDown) {
    const uint32_t stride = (uint32_t(image.width) * bits + 31) / 32 * 4;
    const uint32_t palette = bits == 8 ? 1024 : 0;
    const uint32_t offset = 54 + palette;
    std::vector<uint8_t> out(offset + size_t(stride) * image.height, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        out[at] = uint8_t(v);
        out[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, uint32_t(out.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, uint32_t(image.width));
    put32(22, topDown ? uint32_t(-image.height) : uint32_t(image.height));
    put16(26, 1);
    put16(28, uint32_t(bits));
    put32(46, bits == 8 ? 256 : 0);
    for (uint32_t i = 0; i < palette / 4; ++i) out[54 + 4 * i] = out[55 + 4 * i] = out[56 + 4 * i] = uint8_t(i);
    for (int y = 0; y < image.height; ++y) {
        const int fileRow = topDown ? y : image.height - 1 - y;
        uint8_t* d = out.data() + offset + size_t(fileRow) * stride;
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* s = image.samples.data() + (size_t(y) * image.width + x) * image.channels;
            const uint8_t r = s[0], g = s[image.channels > 1 ? 1 : 0], b = s[image.channels > 1 ? 2 : 0];
            switch (bits) {
                case 8:
                    d[x] = s[0];
                    break;
                case 16: {
                    const uint32_t w = uint32_t(b >> 3) | uint32_t(g >> 3) << 5 | uint32_t(r >> 3) << 10;
                    d[2 * x] = uint8_t(w);
                    d[2 * x + 1] = uint8_t(w >> 8);
                    break;
                }
                case 24:
                    d[3 * x] = b;
                    d[3 * x + 1] = g;
                    d[3 * x + 2] = r;
                    break;
                default:
                    d[4 * x] = b;
                    d[4 * x + 1] = g;
                    d[4 * x + 2] = r;
                    d[4 * x + 3] = 0x5A;  // unused byte: must be ignored
            }
        }
    }
    return out;
}

}  // namespace tooltest
