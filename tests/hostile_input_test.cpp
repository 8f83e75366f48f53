// Hostile input: streams cut at every length, damaged at every header byte,
// built with broken tables and absurd sizes, random, or kept from earlier
// failures. Each must end in a status code or a clean decode that writes
// every pixel it reports, leak nothing, allocate nothing in proportion to a
// claimed size, and leave the library decoding the next good stream as
// before. A cut inside the header is always a status.
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../fuzz/compress_driver.h"
#include "../fuzz/decode_driver.h"
#include "../fuzz/raw_driver.h"
#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

using StreamShape = compress::Shape;

Bytes MakeStream(const StreamShape& s) {
    Bytes out;
    EXPECT_EQ(CompressImage(compress::ParamsFor(s), MakeTestImage(s.width, s.height, BytesPerPixel(s.formatIndex), 11),
                            CompressOptions(), &out),
              0);
    return out;
}

// Pixels of a good stream, as a host that states the sampling gets them.
Bytes DecodeGood(const Bytes& stream, const StreamShape& s) {
    Image image;
    EXPECT_EQ(DecompressImage(stream, compress::ReadParams(s.container, s.formatIndex, s.samplingIndex),
                              DecompressOptions(), &image),
              0);
    return image.pixels;
}

// A whole decode through the hostile-input host; "" when every promise held.
std::string Decode(const Bytes& stream, int16_t container, vexfuzz::DecodeOutcome* outcome = nullptr,
                   uint16_t chunk = 65535, int samplingIndex = -1) {
    vexfuzz::DecodeOptions o;
    o.chunk = chunk;
    o.samplingIndex = samplingIndex;
    return vexfuzz::DecodeStream(stream.data(), stream.size(), container, o, outcome);
}

// Where the entropy-coded data starts: behind SOS, or at the first tile.
size_t HeaderEnd(const Bytes& s, int16_t container) {
    if (container == VEX_CONTAINER_TIFF)
        return compress::Le32(s, compress::Le32(s, compress::TiffEntry(s, 0x0144) + 8));
    std::vector<compress::Segment> segments;
    size_t scan = 0;
    EXPECT_TRUE(compress::ParseSegments(s, &segments, &scan));
    return scan;
}

class HostileTruncation : public LibraryTest, public ::testing::WithParamInterface<StreamShape> {};

TEST_P(HostileTruncation, EveryPrefixGivesAStatusOrACleanDecode) {
    const StreamShape shape = GetParam();
    const Bytes stream = MakeStream(shape);
    const Bytes reference = DecodeGood(stream, shape);
    const size_t headerEnd = HeaderEnd(stream, shape.container);
    ASSERT_GT(headerEnd, 20u);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        const Bytes prefix(stream.begin(), stream.begin() + long(cut));
        // Small chunks for some cuts, so the cut also falls between reads.
        vexfuzz::DecodeOutcome outcome;
        ASSERT_EQ(Decode(prefix, shape.container, &outcome, cut % 3 == 0 ? 1 : 65535, shape.samplingIndex), "")
            << "cut at " << cut;
        if (cut < headerEnd) {
            EXPECT_TRUE(outcome.infoStatus != 0 || outcome.initStatus != 0 || outcome.status != 0)
                << "a header cut at " << cut << " decoded";
        }
    }
    EXPECT_EQ(DecodeGood(stream, shape), reference);
}

TEST_P(HostileTruncation, DamagedBytesGiveAStatusOrACleanDecode) {
    const StreamShape shape = GetParam();
    const Bytes stream = MakeStream(shape);
    const Bytes reference = DecodeGood(stream, shape);
    // Every byte of the first 700 (all header segments), then every 5th.
    for (size_t i = 0; i < stream.size(); i += i < 700 ? 1 : 5) {
        for (const uint8_t value : {uint8_t(stream[i] ^ 0xFF), uint8_t(0x00), uint8_t(0xFF), uint8_t(stream[i] + 1)}) {
            Bytes damaged = stream;
            damaged[i] = value;
            ASSERT_EQ(Decode(damaged, shape.container, nullptr, 65535, shape.samplingIndex), "")
                << "byte " << i << " set to " << int(value);
        }
    }
    EXPECT_EQ(DecodeGood(stream, shape), reference);
}

INSTANTIATE_TEST_SUITE_P(HostileStreams, HostileTruncation,
                         ::testing::Values(StreamShape{"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 41, 27, 2},
                                           StreamShape{"jfif_grey", VEX_CONTAINER_JFIF, 3, 3, 19, 11, 0},
                                           StreamShape{"tiff_tiled_422", VEX_CONTAINER_TIFF, 0, 1, 40, 20, 1, 16, 8},
                                           StreamShape{"tiff_four", VEX_CONTAINER_TIFF, 4, 4, 20, 18, 0}),
                         [](const ::testing::TestParamInfo<StreamShape>& info) {
                             return std::string(info.param.name);
                         });

// ---- constructed headers -------------------------------------------------

struct Built {
    vexfuzz::RawTables tables;
    uint16_t width = 24, height = 16;
    int samplingIndex = 2;
    uint16_t restart = 0;
};

Built DefaultBuilt() {
    Built b;
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    EXPECT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    for (int i = 0; i < 4; ++i) b.tables.q[i].assign(q[i ? 1 : 0], q[i ? 1 : 0] + 64);
    for (int i = 0; i < 3; ++i) {
        b.tables.dc[i].assign(dc[i ? 1 : 0], dc[i ? 1 : 0] + 80);
        b.tables.ac[i].assign(ac[i ? 1 : 0], ac[i ? 1 : 0] + 178);
    }
    return b;
}

Bytes NoiseBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = uint8_t(rng());
    return b;
}

// A JPEG stream of a header with these tables, some entropy-coded bytes, EOI.
Bytes BuildStream(const Built& b, const Bytes& entropy) {
    int16_t colorSpace = 0;
    const SamplingDesc s = SamplingOf(b.samplingIndex, &colorSpace);
    Bytes stream = vexfuzz::BuildHeader(b.tables, b.width, b.height, s,
                                        colorSpace == 1   ? 1
                                        : colorSpace == 3 ? 4
                                                          : 3,
                                        b.restart);
    stream.insert(stream.end(), entropy.begin(), entropy.end());
    stream.insert(stream.end(), {0xFF, 0xD9});
    return stream;
}

using HostileTables = LibraryTest;

// Tables come from untrusted streams: counts that overflow the code space or
// define no code are refused with the class's code (and allocate nothing:
// the host checks for leaks); complete or sparse ones decode noise cleanly.
TEST_F(HostileTables, HuffmanTablesThatDefineNoUsableCodeAreRefused) {
    struct Case {
        bool ac;
        int length;  // of every code; 0: one code of each length, two of 16 bits
        int symbols;
        bool refused;
    };
    const Case cases[] = {
        {false, 1, 3, true},                           // overfull at length 1
        {false, 1, 0, true},                           // no code at all
        {false, 1, 2, false},                          // complete: the all-ones code is used
        {false, 16, 12, false},                        // all codes 16 bits long
        {true, 16, 162, false}, {true, 0, 17, false},  // complete to 16 bits
        {true, 2, 5, true},                            // overfull at length 2
        {true, 16, 1, false},                          // one long code only
    };
    const Bytes entropy = NoiseBytes(900, 5);
    for (const Case& c : cases) {
        Built b = DefaultBuilt();
        std::vector<uint8_t>& spec = c.ac ? b.tables.ac[0] : b.tables.dc[0];
        std::fill(spec.begin(), spec.end(), 0);
        if (c.length == 0) {
            std::fill(spec.begin(), spec.begin() + 15, 1);
            spec[15] = 2;
        } else {
            spec[size_t(c.length - 1)] = uint8_t(c.symbols);
        }
        for (int i = 0; i < c.symbols; ++i) spec[size_t(16 + i)] = uint8_t(c.ac ? i * 7 : i % 12);
        vexfuzz::DecodeOutcome outcome;
        EXPECT_EQ(Decode(BuildStream(b, entropy), VEX_CONTAINER_JFIF, &outcome), "")
            << (c.ac ? "AC" : "DC") << " table of " << c.symbols << " codes of length " << c.length;
        EXPECT_EQ(outcome.initStatus, c.refused ? (c.ac ? VEX_ERR_AC_TABLE : VEX_ERR_DC_TABLE) : 0)
            << (c.ac ? "AC" : "DC") << " table of " << c.symbols << " codes of length " << c.length;
    }
}

TEST_F(HostileTables, CorruptEntropyDataDecodesCleanlyWithEverySampling) {
    const Bytes entropy = NoiseBytes(4000, 9);
    for (int sampling = 0; sampling < 7; ++sampling) {
        for (uint16_t restart : {uint16_t(0), uint16_t(1), uint16_t(7)}) {
            Built b = DefaultBuilt();
            b.samplingIndex = sampling;
            b.restart = restart;
            b.width = 37;
            b.height = 21;
            vexfuzz::DecodeOutcome outcome;
            ASSERT_EQ(Decode(BuildStream(b, entropy), VEX_CONTAINER_JFIF, &outcome), "")
                << "sampling " << sampling << " restart " << restart;
            EXPECT_EQ(outcome.initStatus, 0);
            EXPECT_EQ(outcome.status, 0) << "corrupt entropy data is not an error";
        }
    }
    // Data that stops half way is not an error either: what is there decodes
    // as before, the rest as zeros.
    const Image photo = compress::PhotoImage(3, 256, 128);
    Bytes whole;
    ASSERT_EQ(CompressImage(compress::MakeParams(3, 3, 256, 128), photo, CompressOptions(), &whole), 0);
    const Bytes half(whole.begin(), whole.begin() + long(HeaderEnd(whole, VEX_CONTAINER_JFIF) + whole.size()) / 2);
    Image a, b;
    ASSERT_EQ(DecompressImage(whole, compress::ReadParams(VEX_CONTAINER_JFIF, 3, 3), DecompressOptions(), &a), 0);
    ASSERT_EQ(DecompressImage(half, compress::ReadParams(VEX_CONTAINER_JFIF, 3, 3), DecompressOptions(), &b), 0);
    EXPECT_TRUE(std::equal(a.pixels.begin(), a.pixels.begin() + 256 * 8, b.pixels.begin())) << "the first MCU row";
}

// ---- sizes -----------------------------------------------------------------

using HostileSizes = LibraryTest;

// A header claiming about 65535 x 65535 pixels with a few bytes of data: the
// open and the first bands must not allocate in proportion to the claimed
// size. 65520 pads to whole MCUs within 16 bits and must decode; 65535 pads
// past 65535 and may be refused.
TEST_F(HostileSizes, HugeClaimedImageAllocatesLittle) {
    for (const uint16_t size : {uint16_t(65520), uint16_t(65535)}) {
        for (int sampling : {1, 3, 4}) {
            SCOPED_TRACE(::testing::Message() << "size " << size << " sampling " << sampling);
            Built b = DefaultBuilt();
            b.samplingIndex = sampling;
            b.width = b.height = size;
            const Bytes stream = BuildStream(b, NoiseBytes(64, 2));
            ResetSource(stream, 65535);
            AppVexParams p;
            AppVexSetDefaultDecompress(&p);
            p.readCallback = SourceRead;
            ASSERT_EQ(AppVexGetCompInfo(&p), 0);
            EXPECT_EQ(p.width, size);
            ResetSource(stream, 65535);
            q32vex::ResetPeakBytes();
            const int64_t before = q32vex::GetAllocatorStats().liveBytes;
            p.bandWidth = p.bandHeight = 0;
            p.bandMemory = 1 << 20;
            const int16_t open = AppVexDecompressBuffInit(&p);
            EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 256 * 1024);
            if (size == 65535 && open != 0) {
                EXPECT_TRUE(vexfuzz::IsLibraryStatus(open)) << open;
                continue;
            }
            ASSERT_EQ(open, 0);
            const int bpp = vexfuzz::BytesPerPixelOf(p);
            ASSERT_LE(uint64_t(p.bandWidth) * bpp * p.bandHeight, uint64_t(1) << 20);
            std::vector<uint8_t> band(size_t(p.bandWidth) * bpp * p.bandHeight, 0xAA);
            std::vector<uint8_t*> rows(p.bandHeight);
            for (int y = 0; y < p.bandHeight; ++y) rows[size_t(y)] = band.data() + size_t(y) * p.bandWidth * bpp;
            for (int call = 0; call < 2; ++call) {
                BandRect r = {0, 0, 0, 0};
                ASSERT_EQ(AppVexDecompressBuff(rows.data(), &r), 0);
                EXPECT_LT(r.x1, size);
            }
            EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 256 * 1024) << "memory grew with the claim";
            EXPECT_EQ(AppVexAbort(), 0);
        }
    }
}

// A TIFF whose directory claims a far larger image than its tiles cover.
TEST_F(HostileSizes, TiffClaimingAHugeImageIsRefusedOrBounded) {
    const StreamShape shape = {"tiff", VEX_CONTAINER_TIFF, 0, 1, 40, 20, 1, 16, 8};
    const Bytes stream = MakeStream(shape);
    for (uint32_t claim : {65535u, 0x10000u, 0xFFFFFFFFu}) {
        Bytes bad = stream;
        compress::PutLe32(&bad, compress::TiffEntry(bad, 0x0100) + 8, claim);
        compress::PutLe32(&bad, compress::TiffEntry(bad, 0x0101) + 8, claim);
        q32vex::ResetPeakBytes();
        const int64_t before = q32vex::GetAllocatorStats().liveBytes;
        EXPECT_EQ(Decode(bad, VEX_CONTAINER_TIFF, nullptr, 65535, shape.samplingIndex), "") << "claim " << claim;
        EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 1024 * 1024) << "claim " << claim;
    }
}

// ---- random and kept inputs ----------------------------------------------------

using HostileRandom = LibraryTest;

TEST_F(HostileRandom, RandomBytesBehindEachContainerStartAreHandled) {
    const Bytes jfifStart = {0xFF, 0xD8, 0xFF, 0xE0};
    const Bytes tiffStart = {0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x17, 0x00};
    for (uint32_t seed = 0; seed < 300; ++seed) {
        const Bytes noise = NoiseBytes(seed % 97 * 5, seed);
        Bytes jfif = jfifStart, tiff = tiffStart;
        jfif.insert(jfif.end(), noise.begin(), noise.end());
        tiff.insert(tiff.end(), noise.begin(), noise.end());
        ASSERT_EQ(Decode(noise, VEX_CONTAINER_JFIF), "") << seed;
        ASSERT_EQ(Decode(jfif, VEX_CONTAINER_JFIF), "") << seed;
        ASSERT_EQ(Decode(tiff, VEX_CONTAINER_TIFF), "") << seed;
    }
}

// Inputs that once broke a promise (found by fuzzing or by hand) are kept
// under tests/data/regress/<target>/ and replayed through the fuzz drivers.
TEST_F(HostileRandom, EveryKeptInputIsHandled) {
    namespace fs = std::filesystem;
    for (const std::string target : {"jfif", "tiff", "raw", "compress"}) {
        std::vector<Bytes> inputs = {{}};  // the empty input, the smallest hostile one
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fs::path(DataPath("regress")) / target, ec)) {
            if (entry.path().filename().string()[0] == '.') continue;
            inputs.emplace_back();
            ASSERT_TRUE(ReadFile(entry.path().string(), &inputs.back())) << entry.path();
        }
        for (const Bytes& bytes : inputs) {
            std::string finding;
            if (target == "compress") {
                finding = vexfuzz::RunCompressRoundTrip(bytes.data(), bytes.size());
            } else if (target == "raw") {
                finding = vexfuzz::RunRawEntropy(bytes.data(), bytes.size());
            } else {
                vexfuzz::OptionReader in(bytes.data(), bytes.size());
                const vexfuzz::DecodeOptions o = vexfuzz::ReadDecodeOptions(in);
                finding = vexfuzz::DecodeStream(in.Rest(), in.RestSize(),
                                                target == "tiff" ? VEX_CONTAINER_TIFF : VEX_CONTAINER_JFIF, o);
            }
            EXPECT_EQ(finding, "") << target << " input of " << bytes.size() << " bytes";
        }
    }
}

}  // namespace
}  // namespace vextest
