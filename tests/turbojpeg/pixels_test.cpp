// The TurboJPEG layer's pixel conversions: at every SIMD level this machine
// runs, every pair of formats gives the scalar reference's bytes, for every
// row length around the vector steps, from any alignment, and writes nothing
// past the row (rows are allocated to their exact size, which the sanitizer
// build checks; the guard bytes check it elsewhere).
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <random>
#include <string>
#include <vector>

#include "../../turbojpeg/pixels.h"
#include "platform/cpu.h"

namespace {

using q32vex_tj::ConvertRow;
using q32vex_tj::MakeConversion;
using q32vex_tj::RowConversion;

constexpr uint8_t kGuard = 0xA5;

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> out(bytes);
    for (uint8_t& b : out) b = uint8_t(random());
    return out;
}

class LevelScope {
public:
    explicit LevelScope(q32vex::SimdLevel level) : saved_(q32vex::SetSimdLevelForTesting(level)) {}
    ~LevelScope() { q32vex::SetSimdLevelForTesting(saved_); }

private:
    q32vex::SimdLevel saved_;
};

TEST(TurboJpegPixels, EveryPairMatchesTheScalarFormAtEveryLevel) {
    int vectorPairs = 0;
    for (int level = q32vex::kSimdSsse3; level < q32vex::kSimdLevelCount; ++level) {
        if (!q32vex::SimdLevelRunsHere(q32vex::SimdLevel(level))) continue;
        LevelScope scope{q32vex::SimdLevel(level)};
        for (int from = 0; from < TJPF_CMYK; ++from) {
            for (int to = 0; to < TJPF_CMYK; ++to) {
                const RowConversion vector = MakeConversion(from, to);
                if (vector.vector == nullptr) continue;
                ++vectorPairs;
                RowConversion scalar = vector;
                scalar.vector = nullptr;
                for (size_t n = 0; n < 70; ++n) {
                    SCOPED_TRACE(std::string(q32vex::SimdLevelName(q32vex::SimdLevel(level))) + ": " +
                                 std::to_string(from) + " to " + std::to_string(to) + ", " + std::to_string(n) +
                                 " pixels");
                    const size_t offset = n % 5;  // unaligned starts
                    const std::vector<uint8_t> source = Noise(offset + n * size_t(tjPixelSize[from]), uint32_t(n));
                    const size_t bytes = n * size_t(tjPixelSize[to]);
                    std::vector<uint8_t> expected(bytes + 8, kGuard), got(bytes + 8, kGuard);
                    std::vector<uint8_t> exact(bytes);
                    ConvertRow(scalar, source.data() + offset, expected.data(), n);
                    ConvertRow(vector, source.data() + offset, got.data(), n);
                    ConvertRow(vector, source.data() + offset, exact.data(), n);
                    ASSERT_EQ(got, expected);
                    ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + ptrdiff_t(bytes)), exact);
                }
            }
        }
    }
    if (!q32vex::SimdLevelRunsHere(q32vex::kSimdSsse3)) GTEST_SKIP() << "no vector level here";
    EXPECT_GT(vectorPairs, 100);
}

// What the conversions promise, on a few pixels by hand: grey is the
// rounded BT.601 luma, colour from grey repeats it, the fourth byte is 0xFF.
TEST(TurboJpegPixels, LumaSpreadAndFourthByte) {
    const uint8_t rgb[3 * 20] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 10, 20, 30};
    uint8_t grey[20];
    ConvertRow(TJPF_RGB, TJPF_GRAY, rgb, grey, 20);
    EXPECT_EQ(grey[0], 76);   // 0.299 * 255
    EXPECT_EQ(grey[1], 150);  // 0.587 * 255
    EXPECT_EQ(grey[2], 29);   // 0.114 * 255
    EXPECT_EQ(grey[3], 255);
    EXPECT_EQ(grey[4], 18);   // 2.99 + 11.74 + 3.42
    uint8_t argb[4 * 20];
    ConvertRow(TJPF_GRAY, TJPF_ARGB, grey, argb, 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(argb[4 * i], 0xFF);
        EXPECT_EQ(argb[4 * i + 1], grey[i]);
        EXPECT_EQ(argb[4 * i + 3], grey[i]);
    }
    uint8_t bgrx[4 * 20];
    ConvertRow(TJPF_RGB, TJPF_BGRX, rgb, bgrx, 20);
    EXPECT_EQ(bgrx[0], 0);
    EXPECT_EQ(bgrx[2], 255);
    EXPECT_EQ(bgrx[3], 0xFF);
    EXPECT_EQ(bgrx[16 + 0], 30);
    EXPECT_EQ(bgrx[16 + 2], 10);
}

}  // namespace
