// Bad input never gets past a status code: truncated streams, streams cut
// inside each header segment, damaged header bytes, random bytes and a host
// whose read callback fails each end in a status or a clean decode, leak
// nothing (the fixture checks), and leave the library decoding the next good
// stream exactly as before.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;

// Host input that fails at one chosen call (counted over the whole decode)
// with a status of its own, and otherwise serves like SourceRead.
int g_calls = 0;
int g_failAt = 0;
constexpr int16_t kHostStatus = -1234;

int16_t VEXAPI FailingRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    if (++g_calls == g_failAt) return kHostStatus;
    return SourceRead(data, position, count, flag);
}

// Decodes the whole image band by band through `read`; returns the first
// non-zero status, or 0 with the pixels in *out.
int16_t Decode(const Bytes& stream, int16_t container, uint16_t chunk, VexReadCallback read,
               Bytes* out) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = container;
    p.readCallback = read;
    ResetSource(stream, chunk);
    int16_t status = AppVexGetCompInfo(&p);
    if (status != 0) return status;
    ResetSource(stream, chunk);
    p.bandWidth = p.width;
    p.bandHeight = 16;
    status = AppVexDecompressBuffInit(&p);
    if (status != 0) return status;
    int bits = 0;
    const int channels = p.pixelModel == 1 ? 1 : p.pixelModel == 2 ? 4 : 3;
    for (int c = 0; c < channels; ++c) bits += p.pixelFormat.bits[c] + p.pixelFormat.pad[c];
    const size_t bpp = size_t(bits / 8);
    out->assign(size_t(p.width) * p.height * bpp, 0x55);
    Bytes band(size_t(p.bandWidth) * p.bandHeight * bpp);
    std::vector<uint8_t*> rows(p.bandHeight);
    for (int y = 0; y < p.bandHeight; ++y) rows[size_t(y)] = band.data() + size_t(y) * p.bandWidth * bpp;
    for (int guard = 0; guard < 100000; ++guard) {
        BandRect r = {0, 0, 0, 0};
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) return 0;
        if (r.x1 >= p.width || r.y1 >= p.height || r.x0 > r.x1 || r.y0 > r.y1) {
            ADD_FAILURE() << "band outside the image";
            return -1;
        }
        for (int y = r.y0; y <= r.y1; ++y) {
            std::memcpy(out->data() + (size_t(y) * p.width + r.x0) * bpp, rows[size_t(y - r.y0)],
                        size_t(r.x1 - r.x0 + 1) * bpp);
        }
    }
    ADD_FAILURE() << "decoding did not finish";
    return -1;
}

int16_t Decode(const Bytes& stream, int16_t container, uint16_t chunk = 65535) {
    Bytes pixels;
    return Decode(stream, container, chunk, SourceRead, &pixels);
}

uint32_t Get32Le(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

struct Sample {
    const char* name;
    int16_t container;
    int format, sampling;
    int width, height;
    uint16_t restart;
    uint16_t tileWidth, tileHeight;
};

const Sample kSamples[] = {
    {"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 37, 21, 2, 0xFFFF, 0xFFFF},
    {"jfif_grey", VEX_CONTAINER_JFIF, 3, 3, 19, 11, 0, 0xFFFF, 0xFFFF},
    {"tiff_tiled", VEX_CONTAINER_TIFF, 1, 0, 40, 20, 1, 16, 8},
};

Bytes Write(const Sample& s) {
    AppVexParams w = MakeParams(s.format, s.sampling, s.width, s.height);
    w.containerKind = s.container;
    w.restartInterval = s.restart;
    w.tileWidth = s.tileWidth;
    w.tileHeight = s.tileHeight;
    Bytes out;
    EXPECT_EQ(CompressImage(w, compress::PhotoImage(s.format, s.width, s.height), CompressOptions(), &out), 0);
    return out;
}

class DecompressBadInput : public LibraryTest {
protected:
    // The good stream still decodes to the pixels it gave before.
    void ExpectStillWorks(const Bytes& good, int16_t container, const Bytes& pixels,
                          const std::string& tag) {
        Bytes again;
        ASSERT_EQ(Decode(good, container, 65535, SourceRead, &again), 0) << tag;
        ASSERT_EQ(again, pixels) << tag;
    }
};

TEST_F(DecompressBadInput, EveryTruncationGivesAStatusOrACleanDecode) {
    for (const Sample& s : kSamples) {
        const Bytes good = Write(s);
        Bytes reference;
        ASSERT_EQ(Decode(good, s.container, 65535, SourceRead, &reference), 0) << s.name;
        for (size_t cut = 0; cut < good.size(); ++cut) {
            const Bytes prefix(good.begin(), good.begin() + long(cut));
            Bytes pixels;
            // A status or a clean decode; the decode helper checks every band.
            Decode(prefix, s.container, cut % 2 ? 3 : 65535, SourceRead, &pixels);
            if (cut % 17 == 0) ExpectStillWorks(good, s.container, reference, s.name);
        }
        ExpectStillWorks(good, s.container, reference, s.name);
    }
}

TEST_F(DecompressBadInput, CutInsideAnyHeaderSegmentIsAStatus) {
    const Bytes good = Write(kSamples[0]);
    std::vector<compress::Segment> segments;
    size_t scanStart = 0;
    ASSERT_TRUE(compress::ParseSegments(good, &segments, &scanStart));
    size_t headerEnd = 0;
    for (const compress::Segment& seg : segments) {
        // Cut after the marker, inside the length, and inside the body.
        for (size_t at : {seg.offset + 1, seg.offset + 2, seg.offset + 3, seg.offset + 2 + seg.length / 2}) {
            const Bytes prefix(good.begin(), good.begin() + long(at));
            for (uint16_t chunk : {uint16_t(65535), uint16_t(1)}) {
                EXPECT_NE(Decode(prefix, VEX_CONTAINER_JFIF, chunk), 0)
                    << "marker " << int(seg.marker) << " cut at " << at;
            }
        }
        headerEnd = std::max(headerEnd, seg.offset + 2 + seg.length);
    }
    ASSERT_EQ(headerEnd, scanStart);
    // The same for the TIFF directory and its out-of-line values.
    const Bytes tiff = Write(kSamples[2]);
    const size_t firstTile = Get32Le(tiff, Get32Le(tiff, 10 + 12 * 13 + 8));
    for (size_t cut = 0; cut < firstTile; cut += 5) {
        const Bytes prefix(tiff.begin(), tiff.begin() + long(cut));
        EXPECT_NE(Decode(prefix, VEX_CONTAINER_TIFF), 0) << "cut at " << cut;
    }
}

TEST_F(DecompressBadInput, DamagedHeaderBytesGiveAStatusOrACleanDecode) {
    for (const Sample& s : kSamples) {
        const Bytes good = Write(s);
        Bytes reference;
        ASSERT_EQ(Decode(good, s.container, 65535, SourceRead, &reference), 0);
        std::mt19937 rng(7);
        const size_t header = std::min<size_t>(good.size(), 700);
        for (size_t at = 0; at < header; ++at) {
            for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(rng())}) {
                Bytes bad = good;
                bad[at] = value;
                Bytes pixels;
                Decode(bad, s.container, at % 3 ? 65535 : 7, SourceRead, &pixels);
            }
        }
        ExpectStillWorks(good, s.container, reference, s.name);
    }
}

TEST_F(DecompressBadInput, RandomBytesGiveAStatusOrACleanDecode) {
    std::mt19937 rng(99);
    const Bytes jfifStart = {0xFF, 0xD8, 0xFF, 0xE0};
    const Bytes tiffStart = {0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 20, 0};
    for (int i = 0; i < 600; ++i) {
        Bytes bytes(size_t(rng() % 3000));
        for (auto& b : bytes) b = uint8_t(rng());
        const int16_t container = i % 2 ? VEX_CONTAINER_TIFF : VEX_CONTAINER_JFIF;
        // Some buffers open like the real thing so the readers get further.
        if (i % 3 == 1) {
            const Bytes& start = container == VEX_CONTAINER_JFIF ? jfifStart : tiffStart;
            if (bytes.size() < start.size()) bytes.resize(start.size());
            std::copy(start.begin(), start.end(), bytes.begin());
        }
        Decode(bytes, container, i % 5 == 0 ? 2 : 65535);
    }
    const Bytes good = Write(kSamples[0]);
    Bytes reference;
    ASSERT_EQ(Decode(good, VEX_CONTAINER_JFIF, 65535, SourceRead, &reference), 0);
    ExpectStillWorks(good, VEX_CONTAINER_JFIF, reference, "after random input");
}

TEST_F(DecompressBadInput, FailingReadCallbackStatusComesBackUnchanged) {
    for (const Sample& s : kSamples) {
        const Bytes good = Write(s);
        Bytes reference;
        g_calls = 0;
        g_failAt = 0;
        ASSERT_EQ(Decode(good, s.container, 97, FailingRead, &reference), 0) << s.name;
        const int calls = g_calls;
        ASSERT_GT(calls, 3) << s.name;
        for (int n = 1; n <= calls; ++n) {
            g_calls = 0;
            g_failAt = n;
            Bytes pixels;
            EXPECT_EQ(Decode(good, s.container, 97, FailingRead, &pixels), kHostStatus)
                << s.name << " failing call " << n << " of " << calls;
            // The sequence is closed after the failure.
            BandRect r = {5, 5, 5, 5};
            EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
            EXPECT_EQ(r.x0, 1);
            EXPECT_EQ(r.x1, 0);
        }
        g_failAt = 0;
        ExpectStillWorks(good, s.container, reference, s.name);
    }
}

}  // namespace
}  // namespace vextest
