// A stream cut anywhere inside its header, JPEG marker segments or the TIFF
// directory and its out-of-line values, always ends in a status code, never
// in a decode of made-up pixels, and leaks nothing (the fixture checks).
#include <algorithm>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;

// Reads the header and decodes the whole image; the first non-zero status.
int16_t Decode(const Bytes& stream, int16_t container, uint16_t chunk = 65535) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = container;
    DecompressOptions options;
    options.inputChunk = chunk;
    Image pixels;
    return DecompressImage(stream, p, options, &pixels);
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

using DecompressBadInput = LibraryTest;

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

}  // namespace
}  // namespace vextest
