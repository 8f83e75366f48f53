// Compression driver: every parameter a host controls (sizes, formats,
// sampling, container, tiles, bands or budget, quality, restart interval,
// tables, extra header segments, output buffer size) comes from the fuzz
// input, the pixels from its tail. A stream the library accepted to write
// must read back: header fields equal, every pixel delivered, status 0.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "decode_driver.h"
#include "raw_driver.h"

namespace vexfuzz {

constexpr size_t kCompressOptionBytes = 32;

struct MarkerSource {
    uint8_t marker = 0;       // the one APPn/COM marker given a segment
    uint8_t size = 0;         // its segment size (marker and length included)
    uint8_t thumbnail = 0;    // APP0 thumbnail width (high nibble), height (low)
    uint8_t shortfall = 0;    // bytes the stated buffer length falls short
    LentBuffer data;
};
inline MarkerSource& CurrentMarkerSource() {
    static MarkerSource source;
    return source;
}

inline int16_t VEXAPI HostAppMarker(uint8_t marker, uint16_t* size, uint16_t* bufferLength,
                                    uint8_t** data) {
    MarkerSource& m = CurrentMarkerSource();
    if (size == nullptr || bufferLength == nullptr || data == nullptr) return kHostStop;
    uint32_t bytes = 0;
    if (marker == 0xE0) {
        const uint8_t w = m.thumbnail >> 4, h = m.thumbnail & 15;
        *size = uint16_t(w << 8 | h);
        bytes = 3u * w * h;
    } else if (marker == m.marker) {
        *size = m.size;
        bytes = m.size > 4 ? m.size - 4u : 0;
    } else {
        *size = 0;
        return 0;
    }
    m.data.Renew(bytes, uint8_t(marker));
    *bufferLength = uint16_t(bytes > m.shortfall ? bytes - m.shortfall : 0);
    *data = m.data.bytes;
    return 0;
}

struct CompressResult {
    int16_t status = 0;
    std::vector<uint8_t> stream;
    AppVexParams params;  // the record as the host filled it
    int formatIndex = 1;
    uint8_t chunkSel = 0;  // input chunk size for reading it back
    bool overSubscribed = false;  // a host Huffman table holds more codes than fit
};

// Counts that hold more codes than their lengths have room for: the encoder
// writes such a table's codes cut to their lengths, the decoder refuses it.
inline bool OverSubscribed(const std::vector<uint8_t>& spec) {
    uint32_t codes = 0;
    for (int length = 1; length <= 16; ++length) {
        codes = 2 * codes + spec[size_t(length - 1)];
        if (codes > (1u << length)) return true;
    }
    return false;
}

// `sinkFill` prefills every output buffer the host lends.
inline std::string RunCompress(const uint8_t* data, size_t size, CompressResult* result,
                               uint8_t sinkFill = 0xAA) {
    OptionReader in(data, size);
    const uint8_t formatSel = in.U8(), samplingSel = in.U8(), flags = in.U8();
    const uint8_t quality = in.U8();
    uint16_t width = in.U16(), height = in.U16();
    const uint16_t restart = in.U16();
    const uint16_t tileWidth = in.U16(), tileHeight = in.U16();
    const uint16_t bandA = in.U16(), bandB = in.U16();
    const uint16_t bufferSize = in.U16();
    MarkerSource& ms = CurrentMarkerSource();
    const uint8_t which = in.U8() % 16;
    ms.marker = uint8_t(which == 15 ? 0xFE : 0xE1 + which);
    ms.size = in.U8();
    ms.thumbnail = in.U8();
    ms.shortfall = uint8_t(in.U8() % 4);
    const uint8_t extra = in.U8();
    const uint8_t chunkSel = in.U8();
    in.pos = kCompressOptionBytes < size ? kCompressOptionBytes : size;

    if (uint64_t(width) * height > kMaxCompressPixels) {
        width = uint16_t(1 + width % 256);
        height = uint16_t(1 + height % 256);
    }
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    int formatIndex = formatSel % 5;
    int16_t model = 0;
    p.pixelFormat = FormatByIndex(formatIndex, &model);
    p.pixelModel = (formatSel & 0x80) ? int16_t((formatSel >> 5) & 3) : model;
    int16_t colorSpace = 0;
    p.sampling = SamplingByIndex(samplingSel % 7, &colorSpace);
    p.colorSpace = (samplingSel & 0x80) ? int16_t(((samplingSel >> 4) & 7) - 1) : colorSpace;
    p.containerKind = int16_t((flags >> 4) & 3);
    p.quality = quality;
    p.width = width;
    p.height = height;
    p.restartInterval = (extra & 1) ? restart : 0;
    if (extra & 2) {
        p.tileWidth = tileWidth;
        p.tileHeight = tileHeight;
    }
    p.densityUnits = extra >> 6;
    p.xDensity = bandA;
    p.yDensity = bandB;
    const int bandKind = (flags >> 6) & 3;
    if (bandKind == 1) {
        p.bandWidth = bandA;
        p.bandHeight = bandB;
    } else if (bandKind == 2) {
        p.bandMemory = int32_t(uint32_t(bandA) | uint32_t(bandB) << 16);
    } else {
        p.bandWidth = width;
        p.bandHeight = height;
    }
    if (flags & 8) p.appMarkerCallback = HostAppMarker;

    // Tables: component 0 its own, components 1.. one shared table unless
    // the input asks for a third distinct one.
    RawTables t;
    for (int i = 0; i < 4; ++i) {
        if (flags & 1) {
            t.q[i] = in.Bytes(64);
            p.qTables[i] = t.q[i].data();
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (flags & 2) t.dc[i] = FuzzedHuffmanSpec(in, false);
        if (flags & 4) t.ac[i] = FuzzedHuffmanSpec(in, true);
        if ((flags & 2) && OverSubscribed(t.dc[i])) result->overSubscribed = true;
        if ((flags & 4) && OverSubscribed(t.ac[i])) result->overSubscribed = true;
    }
    const int third = (extra & 4) ? 2 : 1;
    for (int i = 0; i < 4; ++i) {
        const int k = i == 0 ? 0 : i == 1 ? 1 : third;
        if (flags & 2) p.dcTables[i] = t.dc[k].data();
        if (flags & 4) p.acTables[i] = t.ac[k].data();
    }

    // Host image: each row its own exactly sized allocation.
    const int bpp = BytesPerPixelOf(p) > 0 && BytesPerPixelOf(p) <= 4 ? BytesPerPixelOf(p) : 1;
    const size_t rowBytes = size_t(width) * bpp;
    std::vector<std::unique_ptr<uint8_t[]>> image(height);
    const uint8_t* pixels = in.Rest();
    const size_t pixelCount = in.RestSize();
    size_t k = 0;
    for (uint16_t y = 0; y < height; ++y) {
        image[y].reset(new uint8_t[rowBytes ? rowBytes : 1]);
        for (size_t i = 0; i < rowBytes; ++i, ++k)
            image[y][i] = pixelCount ? uint8_t(pixels[k % pixelCount] + k / pixelCount) : uint8_t(k);
    }

    SinkHost sink;
    sink.fill = sinkFill;
    sink.bufferSize = bufferSize == 0 ? 4096 : bufferSize;
    CurrentSink() = &sink;
    p.writeCallback = HostWrite;
    result->params = p;
    result->formatIndex = formatIndex;
    result->chunkSel = chunkSel;
    AppVexParams host = p;
    int16_t s = AppVexCompressBuffInit(&host);
    if (!sink.finding.empty()) return sink.finding;
    if (!IsExpectedStatus(s)) return "unknown status from AppVexCompressBuffInit";
    {
        // Only the chosen band size is written back.
        AppVexParams expect = p;
        expect.bandWidth = host.bandWidth;
        expect.bandHeight = host.bandHeight;
        if (s == 0 && std::memcmp(&expect, &host, sizeof host) != 0)
            return "compression open wrote back more than the band size";
        if (s != 0 && std::memcmp(&expect, &host, sizeof host) != 0)
            return "failed compression open wrote the host record";
    }
    if (s == 0) {
        BandRect band = {0, 0, uint16_t(host.bandWidth - 1), uint16_t(host.bandHeight - 1)};
        if (band.x1 >= width) band.x1 = uint16_t(width - 1);
        if (band.y1 >= height) band.y1 = uint16_t(height - 1);
        std::vector<uint8_t*> rows;
        const uint64_t guard = uint64_t(width) * height + 64;
        for (uint64_t call = 0;; ++call) {
            if (call > guard) return "compression does not finish";
            if (band.x0 > band.x1 || band.y0 > band.y1 || band.x1 >= width || band.y1 >= height)
                return "compression asked for a band outside the image";
            rows.assign(size_t(band.y1 - band.y0 + 1) + 1, nullptr);
            for (int y = band.y0; y <= band.y1; ++y)
                rows[size_t(y - band.y0)] = image[size_t(y)].get() + size_t(band.x0) * bpp;
            BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
            s = AppVexCompressBuff(rows.data(), &next);
            if (!sink.finding.empty()) return sink.finding;
            if (!IsExpectedStatus(s)) return "unknown status from AppVexCompressBuff";
            if (s != 0) {
                BandRect after = next;
                if (AppVexCompressBuff(rows.data(), &after) != VEX_ERR_NOT_COMPRESSING)
                    return "compression sequence stayed open after a failure";
                break;
            }
            if (next.x0 == 1 && next.x1 == 0) break;
            band = next;
        }
    }
    result->status = s;
    result->stream = sink.stream;
    CurrentSink() = nullptr;
    return std::string();
}

// Our own stream must read back whole.
inline std::string CheckReadsBack(const CompressResult& c) {
    const uint8_t chunkSel = c.chunkSel;
    const int16_t kind = c.params.containerKind;
    if (c.status != 0 || (kind != VEX_CONTAINER_JFIF && kind != VEX_CONTAINER_TIFF))
        return std::string();
    // A well-behaved host: it delivers at least 512 bytes a call, since a
    // reader that skips forward within a short distance expects the skipped
    // bytes in one delivery, and it flags the end only with bytes.
    static const uint16_t kChunks[4] = {65535, 513, 4096, 1000};
    const uint16_t chunk = kChunks[chunkSel % 4];
    StreamHost host;
    host.data = c.stream.data();
    host.size = uint32_t(c.stream.size());
    host.chunk = chunk;
    CurrentStream() = &host;
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = kind;
    p.readCallback = HostRead;
    // A grey or four-channel TIFF records neither sampling nor padding: the
    // host states what it wrote. Factors past the colour space's components
    // were cleared by the open and are not part of the image.
    p.sampling = c.params.sampling;
    const int components = c.params.colorSpace == 1 ? 1 : c.params.colorSpace == 3 ? 4 : 3;
    for (int i = components; i < 4; ++i) p.sampling.h[i] = p.sampling.v[i] = 0;
    p.pixelFormat = c.params.pixelFormat;
    p.pixelModel = c.params.pixelModel;
    const int16_t s = AppVexGetCompInfo(&p);
    CurrentStream() = nullptr;
    if (s != 0) return "our own stream's header does not read back (status " + std::to_string(s) + ")";
    if (p.width != c.params.width || p.height != c.params.height)
        return "our own stream reads back with another size";
    if (p.restartInterval != c.params.restartInterval)
        return "our own stream reads back with another restart interval";
    DecodeOptions o;
    o.chunk = chunk;
    o.formatIndex = c.params.pixelModel == 0 && c.formatIndex < 3 ? c.formatIndex : 1;
    DecodePass pass;
    const std::string f = DecodePassOnce(c.stream.data(), c.stream.size(), p, o, 0xAA, &pass);
    if (!f.empty()) return f;
    const bool tablesRefused = pass.initStatus == VEX_ERR_DC_TABLE || pass.initStatus == VEX_ERR_AC_TABLE;
    if (pass.initStatus != 0 && !(tablesRefused && c.overSubscribed))
        return "our own stream does not open for decoding (status " + std::to_string(pass.initStatus) + ")";
    if (pass.status != 0 && pass.status != kHostStop)
        return "our own stream fails to decode (status " + std::to_string(pass.status) + ")";
    return std::string();
}

inline std::string RunCompressRoundTrip(const uint8_t* data, size_t size) {
    CompressResult c, again;
    std::string f = RunCompress(data, size, &c);
    if (f.empty()) f = CloseAndCheckLeaks();
    // The same compression into buffers prefilled differently: a byte handed
    // over but never written would differ.
    if (f.empty()) f = RunCompress(data, size, &again, 0x55);
    if (f.empty()) f = CloseAndCheckLeaks();
    if (f.empty() && (again.status != c.status || again.stream != c.stream))
        f = "compression handed over bytes it never wrote (or is not deterministic)";
    if (f.empty()) f = CheckReadsBack(c);
    const std::string leak = CloseAndCheckLeaks();
    return f.empty() ? leak : f;
}

// ---- this library's own streams, for seeds --------------------------------

// An image to compress: sampling and pixel format by index, size, restart
// interval and tiles (0xFFFF: one tile across or down).
struct SeedShape {
    int samplingIndex, formatIndex, width, height;
    uint16_t restart, tileWidth, tileHeight;
};

inline void Put16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
    (*b)[at] = uint8_t(v);
    (*b)[at + 1] = uint8_t(v >> 8);
}

// The compression target's option block for one shape.
inline std::vector<uint8_t> ShapeOptions(const SeedShape& s, int container, uint8_t quality) {
    std::vector<uint8_t> o(kCompressOptionBytes, 0);
    o[0] = uint8_t(s.formatIndex);
    o[1] = uint8_t(s.samplingIndex);
    o[2] = uint8_t(container << 4);
    o[3] = quality;
    Put16(&o, 4, uint16_t(s.width));
    Put16(&o, 6, uint16_t(s.height));
    Put16(&o, 8, s.restart);
    Put16(&o, 10, s.tileWidth);
    Put16(&o, 12, s.tileHeight);
    Put16(&o, 18, 4096);
    o[24] = uint8_t((s.restart ? 1 : 0) | (s.tileWidth != 0xFFFF ? 2 : 0));
    return o;
}

inline std::vector<uint8_t> ShapePixels(int n, int seed) {
    std::vector<uint8_t> p(size_t(n), 0);
    for (int i = 0; i < n; ++i) p[size_t(i)] = uint8_t((i * 7 + seed * 31 + (i / 13) * 5) & 0xFF);
    return p;
}

// Compresses a shape with default tables and leaves the library closed and
// empty; the stream (empty on failure) and the record the host passed.
inline std::vector<uint8_t> CompressShape(const SeedShape& s, int container, uint8_t quality,
                                          AppVexParams* record = nullptr) {
    std::vector<uint8_t> input = ShapeOptions(s, container, quality);
    const std::vector<uint8_t> px = ShapePixels(97, s.samplingIndex);
    input.insert(input.end(), px.begin(), px.end());
    CompressResult r;
    const std::string f = RunCompress(input.data(), input.size(), &r);
    if (record) *record = r.params;
    AppVexAbort();
    AppVexDeallocate();
    return f.empty() && r.status == 0 ? r.stream : std::vector<uint8_t>();
}

}  // namespace vexfuzz
