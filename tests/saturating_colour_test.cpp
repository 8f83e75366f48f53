// The saturating-colour option of codec instances, end to end: strong
// colours next to white or black (tests/data/saturated.ppm) come out as
// libjpeg-turbo shows them with the option on, through the C interface, the
// strips of a parallel decode, the C++ wrapper and the tool, and wrap
// exactly as the legacy exports' do without it; and the option's refusals.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "q32vex.hpp"
#include "q32vex_codec.h"
#include "tool_support.h"

namespace vextest {
namespace {

struct Instance {
    VexCodec* codec = VexCodecCreate();
    ~Instance() { VexCodecDestroy(codec); }
};

// Blue, green, red triples as red, green, blue (as djpeg writes them).
std::vector<uint8_t> Rgb(std::vector<uint8_t> bgr) {
    for (size_t i = 0; i + 2 < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    return bgr;
}

// The legacy exports' decode of a JFIF stream to 24-bit pixels, as Rgb.
std::vector<uint8_t> LegacyRgb(const std::vector<uint8_t>& jpeg, int sampling) {
    Image legacy;
    EXPECT_EQ(DecompressImage(jpeg, compress::ReadParams(VEX_CONTAINER_JFIF, 1, sampling), {}, &legacy), 0);
    return Rgb(legacy.pixels);
}

// Decodes a JFIF stream to 24-bit pixels on `codec`, `threads` at a time,
// as Rgb.
std::vector<uint8_t> DecodeRgb(VexCodec* codec, const std::vector<uint8_t>& jpeg, int sampling, int threads = 1) {
    AppVexParams p = compress::ReadParams(VEX_CONTAINER_JFIF, 1, sampling);
    EXPECT_EQ(VexReadInfoMemory(codec, &p, jpeg.data(), jpeg.size()), 0);
    std::vector<uint8_t> bgr(size_t(p.width) * p.height * 3, 0xAA);
    EXPECT_EQ(VexDecompressMemoryThreads(codec, &p, jpeg.data(), jpeg.size(), bgr.data(), ptrdiff_t(p.width) * 3,
                                         threads),
              0);
    return Rgb(bgr);
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int largest = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
    return a.size() == b.size() ? largest : 256;
}

// Channels where the two decodes differ: each must be a wrap, a clamped 255
// that wrapped to 0 or a clamped 0 that wrapped to 255. Returns how many.
int CountWraps(const std::vector<uint8_t>& clamped, const std::vector<uint8_t>& wrapped, const std::string& what) {
    int wraps = 0;
    for (size_t i = 0; i < clamped.size() && i < wrapped.size(); ++i) {
        if (clamped[i] == wrapped[i]) continue;
        ++wraps;
        EXPECT_EQ(clamped[i] + wrapped[i], 255) << what << ": byte " << i;
        EXPECT_TRUE(clamped[i] == 0 || clamped[i] == 255) << what << ": byte " << i;
    }
    return wraps;
}

// What cjpeg makes of tests/data/saturated.ppm with `options`.
std::vector<uint8_t> Saturated(const std::string& options) { return Cjpeg(options, DataPath("saturated.ppm")); }

class SaturatingColour : public LibraryTest {
protected:
    void SetUp() override {
        if (!HaveTool("djpeg") || !HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    }
};

// 4:2:0 puts three quarters of a pure colour under each dot of the picture,
// which takes the dot's channel past 383 (or below -128) at any quality. At
// 4:2:2 a dot holds half its chroma sample, which reaches 383 only where the
// quantisation of chroma spreads the colour further: at chroma quality 80,
// not at 95.
TEST_F(SaturatingColour, StrongColoursMatchLibjpegWithTheOptionAndWrapWithout) {
    const struct {
        const char* options;
        int sampling;
        bool wraps;
    } kCases[] = {{"-quality 95 -sample 2x2", 1, true},
                  {"-quality 100 -sample 2x2", 1, true},
                  {"-quality 95 -sample 2x1", 0, false},
                  {"-quality 95,80 -sample 2x1", 0, true}};
    for (const auto& c : kCases) {
        const std::vector<uint8_t> jpeg = Saturated(c.options);
        ASSERT_FALSE(jpeg.empty()) << c.options;
        Pnm theirs;
        ASSERT_TRUE(Djpeg(jpeg, &theirs, "-dct int -nosmooth")) << c.options;

        Instance saturating, wrapping;
        ASSERT_EQ(VexCodecSetOption(saturating.codec, VEX_OPTION_SATURATING_COLOUR, 1), 0);
        const std::vector<uint8_t> clamped = DecodeRgb(saturating.codec, jpeg, c.sampling);
        const std::vector<uint8_t> wrapped = DecodeRgb(wrapping.codec, jpeg, c.sampling);
        EXPECT_LE(LargestDifference(clamped, theirs.samples), 8) << c.options;
        const int wraps = CountWraps(clamped, wrapped, c.options);
        if (c.wraps) {
            EXPECT_GT(wraps, 0) << c.options;
            EXPECT_EQ(LargestDifference(wrapped, theirs.samples), 255) << c.options;
        }

        // The legacy exports keep the wrap, byte for byte.
        EXPECT_EQ(LegacyRgb(jpeg, c.sampling), wrapped) << c.options;
    }
}

// A stream with a restart interval at every MCU is decoded in strips, each
// on an instance of its own; every strip clamps as the whole picture does.
// Through the C++ wrapper too, whose option defaults to the wrap.
TEST_F(SaturatingColour, EveryStripOfAParallelDecodeAndTheWrapperKeepTheChoice) {
    const std::vector<uint8_t> jpeg = Saturated("-quality 95,80 -sample 2x1 -restart 1B");
    ASSERT_FALSE(jpeg.empty());
    Instance saturating, wrapping;
    ASSERT_EQ(VexCodecSetOption(saturating.codec, VEX_OPTION_SATURATING_COLOUR, 1), 0);
    const std::vector<uint8_t> clamped = DecodeRgb(saturating.codec, jpeg, 0);
    const std::vector<uint8_t> wrapped = DecodeRgb(wrapping.codec, jpeg, 0);
    ASSERT_GT(CountWraps(clamped, wrapped, "one thread"), 0);
    EXPECT_EQ(DecodeRgb(saturating.codec, jpeg, 0, 2), clamped);
    EXPECT_EQ(DecodeRgb(wrapping.codec, jpeg, 0, 2), wrapped);

    for (int threads : {1, 2}) {
        q32vex::DecompressOptions options;
        options.threads = threads;
        options.format = q32vex::PixelFormat::Bgr24;
        auto rgb = [&] { return Rgb(q32vex::decompress(jpeg, options).pixels); };
        EXPECT_EQ(rgb(), wrapped) << threads << " threads";
        options.saturating_colour = true;
        EXPECT_EQ(rgb(), clamped) << threads << " threads";
    }
}

// The tool clamps unless asked for the legacy decoder's pixels.
using SaturatingColourTool = tooltest::VexjpegTest;

TEST_F(SaturatingColourTool, DecompressClampsAndLegacyColourWraps) {
    if (!HaveTool("djpeg") || !HaveTool("cjpeg")) GTEST_SKIP() << "djpeg/cjpeg missing";
    const std::vector<uint8_t> jpeg = Saturated("-quality 95 -sample 2x2");
    ASSERT_TRUE(WriteFile(Path("in.jpg"), jpeg));
    Ok("decompress " + tooltest::Q(Path("in.jpg")) + " " + tooltest::Q(Path("clamped.ppm")) + " --quiet");
    Ok("decompress " + tooltest::Q(Path("in.jpg")) + " " + tooltest::Q(Path("wrapped.ppm")) +
       " --quiet --legacy-colour");
    Pnm clamped, wrapped, theirs;
    ASSERT_TRUE(ReadPnm(Path("clamped.ppm"), &clamped));
    ASSERT_TRUE(ReadPnm(Path("wrapped.ppm"), &wrapped));
    ASSERT_TRUE(Djpeg(jpeg, &theirs, "-dct int -nosmooth"));
    EXPECT_LE(LargestDifference(clamped.samples, theirs.samples), 8);
    EXPECT_EQ(wrapped.samples, LegacyRgb(jpeg, 1));
    EXPECT_GT(CountWraps(clamped.samples, wrapped.samples, "tool"), 0);
}

// A stream that wraps without the option, made by this library: a white
// dot under three quarters of blue chroma, 4:2:0.
std::vector<uint8_t> WrappingStream() {
    Image image{16, 16, 3, std::vector<uint8_t>(16 * 16 * 3)};
    for (int i = 0; i < 16 * 16; ++i) {
        const bool dot = (i / 16) % 2 == 0 && i % 2 == 0;
        image.pixels[size_t(i) * 3] = 255;  // blue
        image.pixels[size_t(i) * 3 + 1] = image.pixels[size_t(i) * 3 + 2] = dot ? 255 : 0;
    }
    AppVexParams p = compress::MakeParams(1, 1, 16, 16);
    p.containerKind = VEX_CONTAINER_JFIF;
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(CompressImage(p, image, {}, &jpeg), 0);
    return jpeg;
}

using SaturatingColourOption = LibraryTest;

// Options and values the library does not know are refused and change
// nothing; an open sequence keeps the choice it was opened with; the
// option lasts across sequences until it is set again.
TEST_F(SaturatingColourOption, RefusesWhatItDoesNotKnowAndWhileASequenceIsOpen) {
    const std::vector<uint8_t> jpeg = WrappingStream();
    Instance reference;
    const std::vector<uint8_t> wrapped = DecodeRgb(reference.codec, jpeg, 1);
    ASSERT_EQ(VexCodecSetOption(reference.codec, VEX_OPTION_SATURATING_COLOUR, 1), 0);
    const std::vector<uint8_t> clamped = DecodeRgb(reference.codec, jpeg, 1);
    ASSERT_GT(CountWraps(clamped, wrapped, "16 x 16"), 0);

    Instance instance;
    for (const auto& [option, value] : {std::pair<int, int>{0, 1}, {99, 1}, {-1, 0}, {VEX_OPTION_SATURATING_COLOUR, 2},
                                        {VEX_OPTION_SATURATING_COLOUR, -1}})
        EXPECT_EQ(VexCodecSetOption(instance.codec, option, value), VEX_ERR_UNSUPPORTED) << option << " " << value;
    EXPECT_EQ(DecodeRgb(instance.codec, jpeg, 1), wrapped);

    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_SATURATING_COLOUR, 1), 0);
    EXPECT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_SATURATING_COLOUR, 3), VEX_ERR_UNSUPPORTED);
    EXPECT_EQ(DecodeRgb(instance.codec, jpeg, 1), clamped);
    EXPECT_EQ(DecodeRgb(instance.codec, jpeg, 1), clamped) << "a second sequence";

    // Open a banded sequence through the host functions, then try to turn
    // the option off in the middle of it.
    struct Source {
        const std::vector<uint8_t>* bytes;
        size_t at = 0;
    } source{&jpeg};
    VexIo io{};
    io.context = &source;
    io.read = [](void* context, uint8_t** data, int32_t position, uint16_t* count, int16_t*) -> int16_t {
        auto& s = *static_cast<Source*>(context);
        if (position != -1) s.at = size_t(position);
        const size_t n = std::min<size_t>(*count, s.bytes->size() - s.at);
        *data = const_cast<uint8_t*>(s.bytes->data()) + s.at;
        *count = uint16_t(n);
        s.at += n;
        return 0;
    };
    VexCodecSetIo(instance.codec, &io);
    AppVexParams p = compress::ReadParams(VEX_CONTAINER_JFIF, 1, 1);
    p.bandWidth = p.bandHeight = 16;
    ASSERT_EQ(VexDecompressOpen(instance.codec, &p), 0);
    EXPECT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_SATURATING_COLOUR, 0), VEX_ERR_BUSY);
    std::vector<uint8_t> bgr(16 * 16 * 3, 0xAA);
    std::vector<uint8_t*> rows(16);
    for (int y = 0; y < 16; ++y) rows[y] = bgr.data() + y * 48;
    BandRect filled = {1, 0, 0, 0};
    ASSERT_EQ(VexDecompressBand(instance.codec, rows.data(), &filled), 0);
    EXPECT_EQ(filled.x0, 0);
    EXPECT_EQ(filled.y1, 15);
    EXPECT_EQ(Rgb(bgr), clamped) << "the sequence opened saturating";
    BandRect end = {1, 0, 0, 0};
    ASSERT_EQ(VexDecompressBand(instance.codec, rows.data(), &end), 0);
    EXPECT_GT(end.x0, end.x1) << "no band after the last";
    VexCodecSetIo(instance.codec, nullptr);

    // Closed again, the option can be turned off.
    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_SATURATING_COLOUR, 0), 0);
    EXPECT_EQ(DecodeRgb(instance.codec, jpeg, 1), wrapped);
}

}  // namespace
}  // namespace vextest
