// Inputs that once broke a promise of the library (found by fuzzing or by
// hand) are kept under tests/data/regress/<target>/ and replayed here through
// the same drivers the fuzz targets use: each must give a status code or a
// clean decode, with every reported pixel written and nothing leaked.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../fuzz/compress_driver.h"
#include "../fuzz/decode_driver.h"
#include "../fuzz/raw_driver.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using vextest::LibraryTest;

std::vector<fs::path> RegressionInputs(const std::string& target) {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(vextest::DataPath("regress")) / target;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Replay(const std::string& target, const std::vector<uint8_t>& bytes) {
    if (target == "compress") return vexfuzz::RunCompressRoundTrip(bytes.data(), bytes.size());
    if (target == "raw") return vexfuzz::RunRawEntropy(bytes.data(), bytes.size());
    vexfuzz::OptionReader in(bytes.data(), bytes.size());
    const vexfuzz::DecodeOptions o = vexfuzz::ReadDecodeOptions(in);
    const int16_t container = target == "tiff" ? VEX_CONTAINER_TIFF : VEX_CONTAINER_JFIF;
    return vexfuzz::DecodeStream(in.Rest(), in.RestSize(), container, o);
}

class HostileRegression : public LibraryTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(HostileRegression, EveryKeptInputIsHandled) {
    const std::vector<fs::path> files = RegressionInputs(GetParam());
    for (const fs::path& file : files) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(vextest::ReadFile(file.string(), &bytes)) << file;
        EXPECT_EQ(Replay(GetParam(), bytes), "") << file.filename();
    }
    // The empty input is the smallest hostile input of every target.
    EXPECT_EQ(Replay(GetParam(), {}), "");
}

INSTANTIATE_TEST_SUITE_P(HostileKept, HostileRegression,
                         ::testing::Values("jfif", "tiff", "raw", "compress"));

}  // namespace
