// Whole streams do not depend on the SIMD level: every supported pair,
// container, restart interval, band feeding and output buffer size gives the
// same bytes, handed over in the same callbacks, at every level; and every
// stream, also a damaged one, decodes to the same pixels with the same input
// requests at every level.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "platform/cpu.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;
using compress::Pair;
using q32vex::SimdLevel;

// Restores the level the process started with, also when a test fails.
class SimdStreams : public LibraryTest {
protected:
    void SetUp() override { saved_ = q32vex::ActiveSimdLevel(); }
    void TearDown() override {
        q32vex::SetSimdLevelForTesting(saved_);
        LibraryTest::TearDown();
    }

    // Compresses at every level and expects the scalar level's stream and
    // number of output hand-overs; returns the stream.
    Bytes ExpectSameEncode(const AppVexParams& params, const Image& image, const CompressOptions& options,
                           const std::string& tag) {
        Bytes reference, stream;
        q32vex::SetSimdLevelForTesting(q32vex::kSimdScalar);
        EXPECT_EQ(CompressImage(params, image, options, &reference), 0) << tag;
        const int calls = g_sink.calls;
        for (SimdLevel level : VectorSimdLevels()) {
            q32vex::SetSimdLevelForTesting(level);
            EXPECT_EQ(CompressImage(params, image, options, &stream), 0) << tag;
            EXPECT_EQ(stream, reference) << tag << " at " << q32vex::SimdLevelName(level);
            EXPECT_EQ(g_sink.calls, calls) << tag << " at " << q32vex::SimdLevelName(level);
        }
        return reference;
    }

    // Decodes at every level and expects the scalar level's status, pixels
    // and number of input requests.
    void ExpectSameDecode(const Bytes& stream, const AppVexParams& params, const DecompressOptions& options,
                          const std::string& tag) {
        Image reference, image;
        q32vex::SetSimdLevelForTesting(q32vex::kSimdScalar);
        const int16_t status = DecompressImage(stream, params, options, &reference);
        const int calls = g_source.calls;
        for (SimdLevel level : VectorSimdLevels()) {
            q32vex::SetSimdLevelForTesting(level);
            ASSERT_EQ(DecompressImage(stream, params, options, &image), status)
                << tag << " at " << q32vex::SimdLevelName(level);
            ASSERT_EQ(g_source.calls, calls) << tag << " at " << q32vex::SimdLevelName(level);
            ASSERT_EQ(image.pixels, reference.pixels) << tag << " at " << q32vex::SimdLevelName(level);
        }
    }

private:
    SimdLevel saved_ = q32vex::kSimdScalar;
};

struct Variant {
    const char* name;
    int16_t container;
    uint16_t restart;
    uint16_t tileWidth, tileHeight;
    uint16_t quality;
};

const Variant kVariants[] = {
    {"jfif_q25", VEX_CONTAINER_JFIF, 0, 0xFFFF, 0xFFFF, 25},
    {"jfif_q1_restart3", VEX_CONTAINER_JFIF, 3, 0xFFFF, 0xFFFF, 1},
    {"jfif_q100_restart1", VEX_CONTAINER_JFIF, 1, 0xFFFF, 0xFFFF, 100},
    {"raw_q5", VEX_CONTAINER_RAW, 0, 0xFFFF, 0xFFFF, 5},
    {"tiff_tiles_q50", VEX_CONTAINER_TIFF, 2, 32, 32, 50},
};

TEST_F(SimdStreams, EveryPairCompressesToTheSameBytesAtEveryLevel) {
    for (const Pair& pair : compress::SupportedPairs()) {
        const Image photo = compress::PhotoImage(pair.format, 211, 150);
        const Image noise = MakeTestImage(77, 53, BytesPerPixel(pair.format), 5);
        for (const Variant& v : kVariants) {
            for (const Image* image : {&photo, &noise}) {
                AppVexParams w = MakeParams(pair.format, pair.sampling, image->width, image->height);
                w.containerKind = v.container;
                w.restartInterval = v.restart;
                w.tileWidth = v.tileWidth;
                w.tileHeight = v.tileHeight;
                w.quality = v.quality;
                const std::string tag = std::string(pair.name) + "/" + v.name + "/" + std::to_string(image->width) +
                                        "x" + std::to_string(image->height);
                const Bytes stream = ExpectSameEncode(w, *image, CompressOptions(), tag);
                if (v.container != VEX_CONTAINER_RAW)
                    ExpectSameDecode(stream, compress::ReadParams(v.container, pair.format, pair.sampling),
                                     DecompressOptions(), tag + " decode");
            }
        }
    }
}

TEST_F(SimdStreams, FeedingAndBufferSizesDoNotChangeTheBytes) {
    // Tiny output buffers put window renewals and stuffed zeros at every
    // possible place; band budgets split passes.
    const Pair pairs[] = {{1, 1, "rgb24_420"}, {3, 3, "grey"}, {2, 2, "rgb32_444"}};
    for (const Pair& pair : pairs) {
        const Image photo = compress::PhotoImage(pair.format, 203, 117);
        AppVexParams w = MakeParams(pair.format, pair.sampling, photo.width, photo.height);
        w.quality = 3;  // many large coefficients: long codes, many 0xFF bytes
        w.restartInterval = 7;
        for (uint16_t buffer : {uint16_t(1), uint16_t(2), uint16_t(7), uint16_t(61), uint16_t(4096)}) {
            for (int32_t budget : {0, 3000}) {
                CompressOptions options;
                options.outputBuffer = buffer;
                options.bandMemory = budget;
                const std::string tag =
                    std::string(pair.name) + " buffer " + std::to_string(buffer) + " budget " + std::to_string(budget);
                ExpectSameEncode(w, photo, options, tag);
            }
        }
    }
}

TEST_F(SimdStreams, InputChunksAndWindowsDecodeAlikeAtEveryLevel) {
    const Pair pairs[] = {{1, 1, "rgb24_420"}, {3, 3, "grey"}, {1, 0, "rgb24_422"}, {2, 2, "rgb32_444"}};
    for (const Pair& pair : pairs) {
        const Image photo = compress::PhotoImage(pair.format, 203, 117);
        AppVexParams w = MakeParams(pair.format, pair.sampling, photo.width, photo.height);
        w.quality = 2;
        w.restartInterval = 5;
        Bytes stream;
        ASSERT_EQ(CompressImage(w, photo, CompressOptions(), &stream), 0);
        for (uint16_t chunk : {uint16_t(1), uint16_t(3), uint16_t(7), uint16_t(509), uint16_t(65535)}) {
            DecompressOptions options;
            options.inputChunk = chunk;
            AppVexParams r = compress::ReadParams(VEX_CONTAINER_JFIF, pair.format, pair.sampling);
            ExpectSameDecode(stream, r, options, std::string(pair.name) + " chunk " + std::to_string(chunk));
            // A window that cuts MCUs on every side, read through a small budget.
            r.windowLeft = 5;
            r.windowTop = 3;
            r.windowRight = 150;
            r.windowBottom = 100;
            options.bandMemory = 2000;
            ExpectSameDecode(stream, r, options, std::string(pair.name) + " window chunk " + std::to_string(chunk));
        }
    }
}

TEST_F(SimdStreams, DamagedStreamsDecodeAlikeAtEveryLevel) {
    // Corrupt entropy data never fails, but it walks the decoder through
    // invalid codes, runs past 63, early markers, stray 0xFF bytes and a
    // truncated end: every level must take the same path.
    const Pair pairs[] = {{1, 1, "rgb24_420"}, {3, 3, "grey"}};
    std::mt19937 rng(77);
    for (const Pair& pair : pairs) {
        const Image photo = compress::PhotoImage(pair.format, 96, 64);
        AppVexParams w = MakeParams(pair.format, pair.sampling, photo.width, photo.height);
        w.quality = 10;
        w.restartInterval = 4;
        Bytes clean;
        ASSERT_EQ(CompressImage(w, photo, CompressOptions(), &clean), 0);
        // The entropy-coded data starts after the SOS segment.
        size_t sos = 0;
        for (size_t i = 0; i + 3 < clean.size(); ++i) {
            if (clean[i] == 0xFF && clean[i + 1] == 0xDA) {
                sos = i + 2 + (size_t(clean[i + 2]) << 8 | clean[i + 3]);
                break;
            }
        }
        ASSERT_GT(sos, 0u);
        ASSERT_LT(sos + 16, clean.size());
        for (int n = 0; n < 60; ++n) {
            Bytes damaged = clean;
            const size_t span = clean.size() - 2 - sos;
            const int kind = n % 5;
            if (kind == 0) {
                for (int k = 0; k < 4; ++k) damaged[sos + rng() % span] = uint8_t(rng());
            } else if (kind == 1) {
                damaged[sos + rng() % span] = 0xFF;  // a stray marker prefix
            } else if (kind == 2) {
                const size_t at = sos + rng() % span;
                damaged[at] = 0xFF;
                damaged[at + 1] = uint8_t(0xD0 + rng() % 8);  // a restart in the wrong place
            } else if (kind == 3) {
                damaged.resize(sos + rng() % span);  // truncated, no EOI
            } else {
                for (size_t i = sos + rng() % span; i < damaged.size() - 2; i += 1 + rng() % 9)
                    damaged[i] = uint8_t(rng() | 0xF0);  // runs of long codes
            }
            for (uint16_t chunk : {uint16_t(5), uint16_t(65535)}) {
                DecompressOptions options;
                options.inputChunk = chunk;
                ExpectSameDecode(
                    damaged, compress::ReadParams(VEX_CONTAINER_JFIF, pair.format, pair.sampling), options,
                    std::string(pair.name) + " damage " + std::to_string(n) + " chunk " + std::to_string(chunk));
            }
        }
    }
}

TEST_F(SimdStreams, TheTestHookNeverChoosesALevelThatCannotRunHere) {
    // The hook clamps like the environment variable does: a level above the
    // processor's, or one of the other processor family (NEON on x86, the x86
    // levels on ARM), leaves the processor's own level.
    const SimdLevel cpu = q32vex::CpuSimdLevel();
    ASSERT_TRUE(q32vex::SimdLevelRunsHere(cpu));
    for (int l = 0; l < q32vex::kSimdLevelCount; ++l) {
        const SimdLevel level = SimdLevel(l);
        q32vex::SetSimdLevelForTesting(level);
        EXPECT_EQ(q32vex::ActiveSimdLevel(), q32vex::SimdLevelRunsHere(level) ? level : cpu)
            << "asked for " << q32vex::SimdLevelName(level);
    }
    const bool x86 = cpu >= q32vex::kSimdSse2 && cpu <= q32vex::kSimdAvx2Bmi2;
    EXPECT_EQ(q32vex::SimdLevelRunsHere(q32vex::kSimdNeon), cpu == q32vex::kSimdNeon);
    EXPECT_EQ(q32vex::SimdLevelRunsHere(q32vex::kSimdSse2), x86);
    q32vex::SetSimdLevelForTesting(q32vex::kSimdScalar);
    EXPECT_EQ(q32vex::ActiveSimdLevel(), q32vex::kSimdScalar);
}

}  // namespace
}  // namespace vextest
