// Hostile input: streams cut at every length, damaged at every header byte,
// built with broken tables and absurd sizes, or random. Each must end in a
// status code or a clean decode that writes every pixel it reports, leaks
// nothing, allocates nothing in proportion to a claimed size, and leaves the
// library able to decode the next good stream to the same bytes as before.
#include <random>
#include <string>
#include <vector>

#include "../fuzz/decode_driver.h"
#include "../fuzz/raw_driver.h"
#include "test_support.h"

namespace {

using vextest::LibraryTest;
using Bytes = std::vector<uint8_t>;

struct StreamShape {
    const char* name;
    int16_t container;
    int samplingIndex;
    int formatIndex;
    int width, height;
    uint16_t restart;
    uint16_t tileWidth = 0xFFFF, tileHeight = 0xFFFF;
};

Bytes MakeStream(const StreamShape& s) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(s.width);
    p.height = uint16_t(s.height);
    p.containerKind = s.container;
    p.sampling = vextest::SamplingOf(s.samplingIndex, &p.colorSpace);
    p.pixelFormat = vextest::FormatDesc(s.formatIndex, &p.pixelModel);
    p.restartInterval = s.restart;
    p.tileWidth = s.tileWidth;
    p.tileHeight = s.tileHeight;
    const vextest::Image image =
        vextest::MakeTestImage(s.width, s.height, vextest::BytesPerPixel(s.formatIndex), 11);
    Bytes out;
    EXPECT_EQ(vextest::CompressImage(p, image, vextest::CompressOptions(), &out), 0);
    return out;
}

// Decoded pixels of a good stream, as a host with default choices gets them
// (a TIFF host states the sampling, which grey and four-channel files omit).
Bytes DecodeGood(const Bytes& stream, const StreamShape& shape) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = shape.container;
    p.sampling = vextest::SamplingOf(shape.samplingIndex);
    vextest::Image image;
    EXPECT_EQ(vextest::DecompressImage(stream, p, vextest::DecompressOptions(), &image), 0);
    return image.pixels;
}

std::string Decode(const Bytes& stream, int16_t container, vexfuzz::DecodeOutcome* outcome = nullptr,
                   uint16_t chunk = 65535, int samplingIndex = -1) {
    vexfuzz::DecodeOptions o;
    o.chunk = chunk;
    o.samplingIndex = samplingIndex;
    return vexfuzz::DecodeStream(stream.data(), stream.size(), container, o, outcome);
}

const StreamShape kJfif420 = {"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 41, 27, 2};
const StreamShape kJfifGrey = {"jfif_grey", VEX_CONTAINER_JFIF, 3, 3, 19, 11, 0};
const StreamShape kTiffTiled = {"tiff_tiled_422", VEX_CONTAINER_TIFF, 0, 1, 40, 20, 1, 16, 8};
const StreamShape kTiffFour = {"tiff_four", VEX_CONTAINER_TIFF, 4, 4, 20, 18, 0};

void PrintTo(const StreamShape& s, std::ostream* os) { *os << s.name; }

class HostileTruncation : public LibraryTest, public ::testing::WithParamInterface<StreamShape> {};

TEST_P(HostileTruncation, EveryPrefixGivesAStatusOrACleanDecode) {
    const StreamShape shape = GetParam();
    const Bytes stream = MakeStream(shape);
    ASSERT_FALSE(stream.empty());
    const Bytes reference = DecodeGood(stream, shape);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        const Bytes prefix(stream.begin(), stream.begin() + long(cut));
        // Small chunks for some cuts, so the cut also falls between reads.
        ASSERT_EQ(Decode(prefix, shape.container, nullptr, cut % 3 == 0 ? 7 : 65535, shape.samplingIndex), "")
            << "cut at " << cut;
    }
    EXPECT_EQ(DecodeGood(stream, shape), reference);
}

TEST_P(HostileTruncation, DamagedBytesGiveAStatusOrACleanDecode) {
    const StreamShape shape = GetParam();
    const Bytes stream = MakeStream(shape);
    ASSERT_FALSE(stream.empty());
    const Bytes reference = DecodeGood(stream, shape);
    // Every byte of the first 700 (all header segments), then every 5th.
    for (size_t i = 0; i < stream.size(); i += i < 700 ? 1 : 5) {
        for (int variant = 0; variant < 4; ++variant) {
            Bytes damaged = stream;
            const uint8_t v = damaged[i];
            damaged[i] = variant == 0 ? uint8_t(v ^ 0xFF) : variant == 1 ? 0x00
                         : variant == 2 ? 0xFF : uint8_t(v + 1);
            ASSERT_EQ(Decode(damaged, shape.container, nullptr, 65535, shape.samplingIndex), "")
                << "byte " << i << " variant " << variant;
        }
    }
    EXPECT_EQ(DecodeGood(stream, shape), reference);
}

INSTANTIATE_TEST_SUITE_P(HostileStreams, HostileTruncation,
                         ::testing::Values(kJfif420, kJfifGrey, kTiffTiled, kTiffFour),
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

// A JPEG stream from a header with these tables and some entropy-coded bytes.
Bytes BuildStream(const Built& b, const Bytes& entropy) {
    int16_t colorSpace = 0;
    const SamplingDesc s = vexfuzz::SamplingByIndex(b.samplingIndex, &colorSpace);
    const int components = colorSpace == 1 ? 1 : colorSpace == 3 ? 4 : 3;
    Bytes stream = vexfuzz::BuildHeader(b.tables, b.width, b.height, s, components, b.restart);
    stream.insert(stream.end(), entropy.begin(), entropy.end());
    stream.push_back(0xFF);
    stream.push_back(0xD9);
    return stream;
}

Bytes NoiseBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = uint8_t(rng());
    return b;
}

using HostileTables = LibraryTest;

TEST_F(HostileTables, HuffmanSpecificationsThatDefineNoUsableCodeAreHandled) {
    // Each replaces the luminance DC or AC table of an otherwise good header.
    struct Case {
        bool ac;
        std::vector<uint8_t> bits;  // 16 counts
        int symbols;
    };
    const Case cases[] = {
        {false, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 3},   // overfull at length 1
        {false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},   // no code at all
        {false, {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2},   // complete, all-ones code used
        {false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12}, 12}, // all codes 16 bits long
        {true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 162}, 162},
        {true, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}, 17},   // complete to 16 bits
        {true, {0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5},    // overfull at length 2
        {true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 1},    // one long code only
    };
    const Bytes entropy = NoiseBytes(900, 5);
    for (const Case& c : cases) {
        Built b = DefaultBuilt();
        std::vector<uint8_t>& spec = c.ac ? b.tables.ac[0] : b.tables.dc[0];
        std::fill(spec.begin(), spec.end(), 0);
        std::copy(c.bits.begin(), c.bits.end(), spec.begin());
        for (int i = 0; i < c.symbols; ++i) spec[size_t(16 + i)] = uint8_t(c.ac ? i * 7 : i % 12);
        vexfuzz::DecodeOutcome outcome;
        EXPECT_EQ(Decode(BuildStream(b, entropy), VEX_CONTAINER_JFIF, &outcome), "")
            << (c.ac ? "AC" : "DC") << " case with " << c.symbols << " symbols";
        EXPECT_TRUE(vexfuzz::IsLibraryStatus(outcome.initStatus));
    }
}

TEST_F(HostileTables, CorruptEntropyDataDecodesCleanlyWithEveryTableShape) {
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
}

// Header segments whose fields name storage the library does not have.
TEST_F(HostileTables, OutOfRangeSelectorsAndIdsAreRefused) {
    const Bytes entropy = NoiseBytes(200, 3);
    const Bytes good = BuildStream(DefaultBuilt(), entropy);
    // Offsets inside the stream BuildHeader lays out for three components:
    // SOI 2, DQT 4 + 3 * 65, DHT 4 + DC0, DC1, AC0, AC1, SOF0 4 + 6 + 9.
    const size_t dqt = 2, dht = dqt + 4 + 3 * 65;
    size_t dhtLength = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t at = dht + 4 + dhtLength;
        size_t n = 17;
        for (int k = 0; k < 16; ++k) n += good[at + 1 + size_t(k)];
        dhtLength += n;
    }
    const size_t sof = dht + 4 + dhtLength;
    const size_t sos = sof + 4 + 6 + 9;
    ASSERT_EQ(good[sof + 1], 0xC0);
    ASSERT_EQ(good[sos + 1], 0xDA);
    struct Patch {
        size_t at;
        uint8_t value;
        const char* what;
    };
    const Patch patches[] = {
        {dqt + 4 + 65, 0x05, "DQT table id 5"},
        {dht + 4, 0x02, "DHT class 0 id 2"},
        {dht + 4, 0x20, "DHT class 2"},
        {sof + 4 + 6 + 2, 0x07, "quantisation selector 7"},
        {sos + 4 + 1 + 1, 0x20, "DC selector 2"},
        {sos + 4 + 1 + 3, 0x13, "AC selector 3"},
        {sof + 4, 12, "precision 12"},
        {sof + 4 + 5, 2, "two components"},
    };
    for (const Patch& patch : patches) {
        Bytes bad = good;
        bad[patch.at] = patch.value;
        vexfuzz::DecodeOutcome outcome;
        EXPECT_EQ(Decode(bad, VEX_CONTAINER_JFIF, &outcome), "") << patch.what;
        EXPECT_EQ(outcome.infoStatus, VEX_ERR_CONTAINER) << patch.what;
    }
}

TEST_F(HostileTables, RestartSegmentLongerThanItsFieldIsRefused) {
    Built b = DefaultBuilt();
    Bytes stream = BuildStream(b, NoiseBytes(100, 1));
    // A DRI segment of 40 bytes in front of SOS.
    Bytes dri = {0xFF, 0xDD, 0x00, 42};
    dri.resize(dri.size() + 40, 0x01);
    size_t sos = 2;
    while (!(stream[sos] == 0xFF && stream[sos + 1] == 0xDA)) sos += 2 + (stream[sos + 2] << 8 | stream[sos + 3]);
    stream.insert(stream.begin() + long(sos), dri.begin(), dri.end());
    vexfuzz::DecodeOutcome outcome;
    EXPECT_EQ(Decode(stream, VEX_CONTAINER_JFIF, &outcome), "");
    EXPECT_NE(outcome.infoStatus, 0);
    EXPECT_TRUE(vexfuzz::IsLibraryStatus(outcome.infoStatus));
}

// ---- sizes -----------------------------------------------------------------

using HostileSizes = LibraryTest;

// A header claiming about 65535 x 65535 pixels with a few bytes of data: the
// open and the first bands must not allocate in proportion to the claimed
// size. 65520 pads to whole MCUs within 16 bits and must decode; 65535 pads
// past 65535 and may be refused.
TEST_F(HostileSizes, HugeClaimedImageAllocatesLittle) {
    for (const uint16_t size : {uint16_t(65520), uint16_t(65535)})
    for (int sampling : {1, 3, 4}) {
        SCOPED_TRACE(::testing::Message() << "size " << size << " sampling " << sampling);
        Built b = DefaultBuilt();
        b.samplingIndex = sampling;
        b.width = size;
        b.height = size;
        const Bytes stream = BuildStream(b, NoiseBytes(64, 2));
        vextest::ResetSource(stream, 65535);
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        p.readCallback = vextest::SourceRead;
        ASSERT_EQ(AppVexGetCompInfo(&p), 0);
        EXPECT_EQ(p.width, size);
        EXPECT_EQ(p.height, size);
        vextest::ResetSource(stream, 65535);
        q32vex::ResetPeakBytes();
        const int64_t before = q32vex::GetAllocatorStats().liveBytes;
        p.bandWidth = 0;
        p.bandHeight = 0;
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
        EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 256 * 1024)
            << "library memory grew with the claimed size";
        EXPECT_EQ(AppVexAbort(), 0);
    }
}

// A TIFF whose directory claims a far larger image than its tiles cover.
TEST_F(HostileSizes, TiffClaimingAHugeImageIsRefusedOrBounded) {
    const Bytes stream = MakeStream(kTiffTiled);
    ASSERT_GT(stream.size(), 300u);
    const uint16_t entries = uint16_t(stream[8] | stream[9] << 8);
    for (uint32_t claim : {65535u, 0x10000u, 0xFFFFFFFFu}) {
        Bytes bad = stream;
        for (uint16_t i = 0; i < entries; ++i) {
            const size_t at = 10 + size_t(i) * 12;
            const uint16_t tag = uint16_t(bad[at] | bad[at + 1] << 8);
            if (tag == 0x0100 || tag == 0x0101)
                for (int k = 0; k < 4; ++k) bad[at + 8 + size_t(k)] = uint8_t(claim >> (8 * k));
        }
        q32vex::ResetPeakBytes();
        const int64_t before = q32vex::GetAllocatorStats().liveBytes;
        vexfuzz::DecodeOutcome outcome;
        EXPECT_EQ(Decode(bad, VEX_CONTAINER_TIFF, &outcome, 65535, kTiffTiled.samplingIndex), "")
            << "claim " << claim;
        EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 1024 * 1024) << "claim " << claim;
    }
}

// ---- random bytes ----------------------------------------------------------

using HostileRandom = LibraryTest;

TEST_F(HostileRandom, RandomBytesBehindEachContainerStartAreHandled) {
    const Bytes jfifStart = {0xFF, 0xD8, 0xFF, 0xE0};
    const Bytes tiffStart = {0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x17, 0x00};
    for (uint32_t seed = 0; seed < 300; ++seed) {
        const Bytes noise = NoiseBytes(seed % 97 * 5, seed);
        Bytes jfif = jfifStart;
        jfif.insert(jfif.end(), noise.begin(), noise.end());
        Bytes tiff = tiffStart;
        tiff.insert(tiff.end(), noise.begin(), noise.end());
        ASSERT_EQ(Decode(noise, VEX_CONTAINER_JFIF), "") << seed;
        ASSERT_EQ(Decode(jfif, VEX_CONTAINER_JFIF), "") << seed;
        ASSERT_EQ(Decode(tiff, VEX_CONTAINER_TIFF), "") << seed;
    }
}

}  // namespace
