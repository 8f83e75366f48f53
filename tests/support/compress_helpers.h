// Helpers for tests that write streams: the supported pairs of pixel format
// and sampling, records for them, a photograph in every host layout, what a
// faithful decoder shows for host pixels, and walkers over the JPEG segments
// and TIFF directory a stream holds.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace vextest {
namespace compress {

// One supported pair of pixel format and sampling.
struct Pair {
    int format;
    int sampling;
    const char* name;
};

inline const std::vector<Pair>& SupportedPairs() {
    static const std::vector<Pair> pairs = {
        {0, 0, "rgb555_422"}, {0, 1, "rgb555_420"}, {0, 2, "rgb555_444"}, {1, 0, "rgb24_422"}, {1, 1, "rgb24_420"},
        {1, 2, "rgb24_444"},  {1, 6, "rgb24_411"},  {2, 0, "rgb32_422"},  {2, 1, "rgb32_420"}, {2, 2, "rgb32_444"},
        {3, 3, "grey"},       {4, 4, "four_h2v2"},  {4, 5, "four_h1v1"},
    };
    return pairs;
}

// A compression record for the pair at the given size, defaults elsewhere.
inline AppVexParams MakeParams(int format, int sampling, int width, int height) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(width);
    p.height = uint16_t(height);
    p.pixelFormat = FormatDesc(format, &p.pixelModel);
    p.sampling = SamplingOf(sampling, &p.colorSpace);
    return p;
}

// A stream to write: container, sampling and format by index, size,
// restart interval and tiles; and its compression record.
struct Shape {
    const char* name;
    int16_t container;
    int samplingIndex, formatIndex;
    int width, height;
    uint16_t restart = 0, tileWidth = 0xFFFF, tileHeight = 0xFFFF;
};

inline void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

inline AppVexParams ParamsFor(const Shape& s) {
    AppVexParams p = MakeParams(s.formatIndex, s.samplingIndex, s.width, s.height);
    p.containerKind = s.container;
    p.restartInterval = s.restart;
    p.tileWidth = s.tileWidth;
    p.tileHeight = s.tileHeight;
    return p;
}

// A decompression record of a host that asks for `format` and states the
// sampling (a TIFF directory records it for YCbCr images only).
inline AppVexParams ReadParams(int16_t container, int format, int sampling) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = container;
    p.pixelFormat = FormatDesc(format, &p.pixelModel);
    p.sampling = SamplingOf(sampling, &p.colorSpace);
    return p;
}

// A natural photograph cut to `width` x `height` from its top-left corner, in
// the host layout of `format` (5-5-5 words, BGR, BGR + pad, grey, or four
// channels whose fourth is a smooth ramp).
inline Image PhotoImage(int format, int width, int height) {
    Image full, img;
    if (!LoadPnm(DataPath("photo1.ppm"), &full, BytesPerPixel(format))) return img;
    img.width = std::min(width, full.width);
    img.height = std::min(height, full.height);
    img.bytesPerPixel = full.bytesPerPixel;
    for (int y = 0; y < img.height; ++y)
        img.pixels.insert(img.pixels.end(), full.row(y), full.row(y) + size_t(img.width) * img.bytesPerPixel);
    for (int y = 0; y < img.height && img.bytesPerPixel == 4; ++y)
        for (int x = 0; x < img.width; ++x)  // padding to ignore, or the fourth channel
            img.row(y)[4 * x + 3] = uint8_t(format == 2 ? x * 7 + y : 160 + (x + y) % 96);
    return img;
}

// What a faithful decoder should show for the host pixels, in djpeg's output
// layout: RGB for colour (5-bit fields expanded as 8c), grey as is, and for
// four-component images the RGB djpeg derives from CMYK (component x K / 255).
inline Pnm Expected(const Image& image, int format) {
    Pnm e;
    e.width = image.width;
    e.height = image.height;
    e.channels = format == 3 ? 1 : 3;
    e.samples.resize(size_t(e.width) * e.height * e.channels);
    for (size_t i = 0; i < size_t(e.width) * e.height; ++i) {
        const uint8_t* p = image.pixels.data() + i * image.bytesPerPixel;
        uint8_t* d = e.samples.data() + i * e.channels;
        switch (format) {
            case 0: {
                const uint16_t w = uint16_t(p[0] | p[1] << 8);
                d[0] = uint8_t(((w >> 10) & 31) << 3), d[1] = uint8_t(((w >> 5) & 31) << 3);
                d[2] = uint8_t((w & 31) << 3);
                break;
            }
            case 1:
            case 2:
                d[0] = p[2], d[1] = p[1], d[2] = p[0];
                break;
            case 3:
                d[0] = p[0];
                break;
            default:
                for (int c = 0; c < 3; ++c) d[c] = uint8_t(p[c] * p[3] / 255.0 + 0.5);
        }
    }
    return e;
}

// JPEG marker segments up to and including SOS.
struct Segment {
    uint8_t marker;
    size_t offset;    // of the 0xFF
    uint16_t length;  // the length field (0 for SOI)
};

inline bool ParseSegments(const std::vector<uint8_t>& s, std::vector<Segment>* out, size_t* scanStart) {
    out->clear();
    if (s.size() < 2 || s[0] != 0xFF || s[1] != 0xD8) return false;
    out->push_back({0xD8, 0, 0});
    size_t pos = 2;
    while (pos + 4 <= s.size()) {
        if (s[pos] != 0xFF) return false;
        const uint8_t marker = s[pos + 1];
        const uint16_t length = uint16_t(s[pos + 2] << 8 | s[pos + 3]);
        out->push_back({marker, pos, length});
        pos += 2 + length;
        if (marker == 0xDA) {
            *scanStart = pos;
            return pos <= s.size();
        }
    }
    return false;
}

// Markers met in entropy-coded data from `start` (stuffed zero bytes skipped).
inline std::vector<uint8_t> ScanMarkers(const std::vector<uint8_t>& s, size_t start, size_t end) {
    std::vector<uint8_t> markers;
    for (size_t i = start; i + 1 < end; ++i) {
        if (s[i] != 0xFF) continue;
        if (s[i + 1] != 0x00) markers.push_back(s[i + 1]);
        ++i;
    }
    return markers;
}

// Little-endian fields of a TIFF file, and the position of the directory
// entry with `tag` (0 when there is none).
inline uint16_t Le16(const std::vector<uint8_t>& f, size_t at) { return uint16_t(f[at] | f[at + 1] << 8); }
inline uint32_t Le32(const std::vector<uint8_t>& f, size_t at) { return Le16(f, at) | uint32_t(Le16(f, at + 2)) << 16; }
inline void PutLe16(std::vector<uint8_t>* f, size_t at, uint16_t v) {
    (*f)[at] = uint8_t(v), (*f)[at + 1] = uint8_t(v >> 8);
}
inline void PutLe32(std::vector<uint8_t>* f, size_t at, uint32_t v) {
    PutLe16(f, at, uint16_t(v)), PutLe16(f, at + 2, uint16_t(v >> 16));
}
inline size_t TiffEntry(const std::vector<uint8_t>& f, uint16_t tag) {
    for (size_t i = 0, n = f.size() >= 10 ? Le16(f, 8) : 0; i < n && 22 + 12 * i <= f.size(); ++i)
        if (Le16(f, 10 + 12 * i) == tag) return 10 + 12 * i;
    return 0;
}

}  // namespace compress
}  // namespace vextest
