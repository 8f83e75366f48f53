// Decoding driver shared by the JFIF, TIFF and raw-entropy fuzz targets and by
// the regression tests: it decodes one stream twice with different host-buffer
// prefills and the same feeding, so any output byte the library reports as
// filled but never writes shows up as a difference, and it checks statuses,
// band rectangles, window coverage and leaks on the way.
#pragma once
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_host.h"

namespace vexfuzz {

struct DecodeOptions {
    int formatIndex = 1;   // host pixel format for three-component streams
    uint8_t bandKind = 0;  // 0 whole image, 1 requested band, 2 memory budget
    uint16_t bandWidth = 0, bandHeight = 0;
    int32_t bandMemory = 0;
    uint16_t chunk = 65535;
    EndStyle endStyle = kEndFlagWithLast;
    bool window = false;
    uint16_t left = 0, top = 0, right = 0xFFFF, bottom = 0xFFFF;
    bool markerCallback = false;
    int16_t comStatus = 0;
    // A TIFF file records sampling only for YCbCr, and a reader sets only the
    // channel bits; for grey and four-channel files the host states the
    // sampling and pixel layout it wrote. -1 keeps the defaults.
    int samplingIndex = -1;
};

inline uint16_t ChunkSize(uint8_t selector) {
    static const uint16_t kChunks[10] = {65535, 1, 2, 3, 7, 64, 511, 513, 4096, 65534};
    return kChunks[selector % 10];
}

// Consumes exactly kDecodeOptionBytes bytes.
inline DecodeOptions ReadDecodeOptions(OptionReader& in) {
    DecodeOptions o;
    const size_t start = in.pos;
    o.formatIndex = in.U8();
    const uint8_t flags = in.U8();
    o.bandKind = uint8_t((flags & 3) == 3 ? 0 : flags & 3);
    o.endStyle = EndStyle(((flags >> 2) & 3) == 3 ? 0 : (flags >> 2) & 3);
    o.window = (flags & 0x10) != 0;
    o.markerCallback = (flags & 0x20) != 0;
    o.comStatus = (flags & 0x40) ? kHostFail : 0;
    const uint16_t a = in.U16(), b = in.U16();
    o.bandWidth = a;
    o.bandHeight = b;
    o.bandMemory = int32_t(uint32_t(a) | (uint32_t(b) << 16));
    o.chunk = ChunkSize(in.U8());
    const uint8_t sampling = in.U8();
    o.samplingIndex = sampling == 0 ? -1 : (sampling - 1) % 7;
    o.left = in.U16();
    o.top = in.U16();
    o.right = in.U16();
    o.bottom = in.U16();
    in.pos = start + kDecodeOptionBytes;
    return o;
}

// Statuses of a whole decode, for callers that expect particular codes.
struct DecodeOutcome {
    int16_t infoStatus = 0;
    int16_t initStatus = 0;
    int16_t status = 0;
    AppVexParams info;
};

struct DecodePass {
    int16_t initStatus = 0;
    int16_t status = 0;
    std::vector<uint8_t> window;  // returned bands, composed; 0 elsewhere
    uint64_t covered = 0;
    uint64_t sum = 0;
};

// One decompression sequence over `stream` starting from the record `info`
// (as a header read left it), with host rows prefilled with `prefill`.
inline std::string DecodePassOnce(const uint8_t* stream, size_t n, AppVexParams p,
                                  const DecodeOptions& o, uint8_t prefill, DecodePass* out) {
    StreamHost host;
    host.data = stream;
    host.size = uint32_t(std::min<size_t>(n, 0x7FFFFFFF));
    host.chunk = o.chunk;
    host.endStyle = o.endStyle;
    CurrentStream() = &host;
    CurrentMarkerSink().comStatus = o.comStatus;

    p.readCallback = HostRead;
    p.appMarkerReadCallback = o.markerCallback ? HostAppMarkerRead : nullptr;
    const bool threeComponents = p.colorSpace == 0 || p.colorSpace == 2;
    if (threeComponents) p.pixelFormat = FormatByIndex(o.formatIndex, &p.pixelModel);
    if (o.bandKind == 0) {
        p.bandWidth = p.width;
        p.bandHeight = p.height;
        p.bandMemory = 0;
    } else if (o.bandKind == 1) {
        p.bandWidth = o.bandWidth;
        p.bandHeight = o.bandHeight;
        p.bandMemory = 0;
    } else {
        p.bandWidth = 0;
        p.bandHeight = 0;
        p.bandMemory = o.bandMemory;
    }
    if (o.window) {
        p.windowLeft = o.left;
        p.windowTop = o.top;
        p.windowRight = o.right;
        p.windowBottom = o.bottom;
    } else {
        p.windowLeft = p.windowTop = 0;
        p.windowRight = p.windowBottom = 0xFFFF;
    }
    const AppVexParams before = p;
    out->initStatus = AppVexDecompressBuffInit(&p);
    if (!host.finding.empty()) return host.finding;
    if (!IsExpectedStatus(out->initStatus)) return "unknown status from AppVexDecompressBuffInit";
    if (out->initStatus != 0) {
        if (std::memcmp(&before, &p, sizeof p) != 0) return "failed open wrote the host record";
        return std::string();
    }
    if (p.width == 0 || p.height == 0) return "open accepted an empty image";
    if (p.windowLeft >= p.width || p.windowTop >= p.height || p.windowRight >= p.width ||
        p.windowBottom >= p.height)
        return "open wrote back a window outside the image";
    const int bpp = BytesPerPixelOf(p);
    if (bpp < 1 || bpp > 4) return "open accepted a pixel format without whole bytes";
    // A window whose right or bottom edge lies before its left or top edge is
    // accepted and delivers nothing.
    const uint32_t winW = p.windowLeft > p.windowRight ? 0 : uint32_t(p.windowRight - p.windowLeft + 1);
    const uint32_t winH = p.windowTop > p.windowBottom ? 0 : uint32_t(p.windowBottom - p.windowTop + 1);
    if (uint64_t(p.width) * p.height > kMaxDecodePixels) {
        // Too large to decode here; the open itself must still have been cheap.
        AppVexAbort();
        out->status = kHostStop;
        return std::string();
    }
    const uint32_t rowsW = std::min<uint32_t>(p.bandWidth, winW);
    const uint32_t rowsH = std::min<uint32_t>(p.bandHeight, winH);
    const size_t rowBytes = size_t(rowsW) * bpp;
    std::vector<std::unique_ptr<uint8_t[]>> rowStore(rowsH);
    std::vector<uint8_t*> rows(rowsH + 1, nullptr);
    for (uint32_t y = 0; y < rowsH; ++y) {
        rowStore[y].reset(new uint8_t[rowBytes]);
        rows[y] = rowStore[y].get();
    }
    out->window.assign(size_t(winW) * winH * bpp, 0);
    // Every band call returns at least one MCU row of one band; this bounds a
    // walk that has lost its way.
    const uint64_t guard = (uint64_t(p.width) / 8 + 2) * (uint64_t(p.height) / 8 + 2) * 4 + 64;
    for (uint64_t call = 0;; ++call) {
        if (call > guard) return "decompression does not finish";
        for (uint32_t y = 0; y < rowsH; ++y) std::memset(rows[y], prefill, rowBytes);
        BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        const int16_t s = AppVexDecompressBuff(rows.data(), &r);
        if (!host.finding.empty()) return host.finding;
        if (!IsExpectedStatus(s)) return "unknown status from AppVexDecompressBuff";
        if (s != 0) {
            out->status = s;
            BandRect after = {7, 7, 7, 7};
            if (AppVexDecompressBuff(rows.data(), &after) != 0 || after.x0 != 1 || after.x1 != 0)
                return "band call after a failure did not report a closed sequence";
            break;
        }
        if (r.x0 == 1 && r.x1 == 0) break;
        if (r.x0 > r.x1 || r.y0 > r.y1) return "band call returned an inverted rectangle";
        if (r.x1 >= winW || r.y1 >= winH) return "band rectangle outside the window";
        const uint32_t w = uint32_t(r.x1 - r.x0 + 1), h = uint32_t(r.y1 - r.y0 + 1);
        if (w > rowsW || h > rowsH) return "band rectangle larger than the band written back";
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t* dst = out->window.data() + (size_t(r.y0 + y) * winW + r.x0) * bpp;
            std::memcpy(dst, rows[y], size_t(w) * bpp);
            for (size_t i = 0; i < size_t(w) * bpp; ++i) out->sum += rows[y][i];
        }
        out->covered += uint64_t(w) * h;
        if (out->covered > uint64_t(winW) * winH) return "bands cover more than the window";
    }
    if (out->status == 0 && out->covered != uint64_t(winW) * winH)
        return "decode finished without delivering the whole window";
    BandRect again = {7, 7, 7, 7};
    if (AppVexDecompressBuff(rows.data(), &again) != 0 || again.x0 != 1 || again.x1 != 0)
        return "band call on a closed sequence did not report an empty band";
    // The unused fourth byte of the padded 32-bit layout belongs to the host.
    if (p.pixelModel == 0 && bpp == 4)
        for (size_t i = 3; i < out->window.size(); i += 4) out->window[i] = 0;
    return std::string();
}

// Decodes twice and compares; `info` is the record the header read returned.
inline std::string DecodeTwice(const uint8_t* stream, size_t n, const AppVexParams& info,
                               const DecodeOptions& o, DecodeOutcome* outcome = nullptr) {
    DecodePass a, b;
    std::string f = DecodePassOnce(stream, n, info, o, 0xAA, &a);
    if (outcome) {
        outcome->initStatus = a.initStatus;
        outcome->status = a.status;
    }
    if (!f.empty()) return f;
    if (a.initStatus != 0 || a.status == kHostStop) return std::string();
    f = DecodePassOnce(stream, n, info, o, 0x55, &b);
    if (!f.empty()) return f;
    if (a.initStatus != b.initStatus || a.status != b.status || a.covered != b.covered)
        return "two identical decodes ended differently";
    if (a.window != b.window) return "decoder left output bytes unwritten (or is not deterministic)";
    return std::string();
}

// A whole JFIF (container 1) or TIFF (container 2) decode as a host would run it.
inline std::string DecodeStream(const uint8_t* stream, size_t n, int16_t container,
                                const DecodeOptions& o, DecodeOutcome* outcome = nullptr) {
    StreamHost host;
    host.data = stream;
    host.size = uint32_t(std::min<size_t>(n, 0x7FFFFFFF));
    host.chunk = o.chunk;
    host.endStyle = o.endStyle;
    CurrentStream() = &host;
    CurrentMarkerSink().comStatus = o.comStatus;
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = container;
    p.readCallback = HostRead;
    p.appMarkerReadCallback = o.markerCallback ? HostAppMarkerRead : nullptr;
    if (o.samplingIndex >= 0) {
        p.sampling = SamplingByIndex(o.samplingIndex, nullptr);
        p.pixelFormat = FormatByIndex(SupportedFormatFor(o.samplingIndex, o.formatIndex), &p.pixelModel);
    }
    const AppVexParams before = p;
    const int16_t s = AppVexGetCompInfo(&p);
    if (!host.finding.empty()) return host.finding;
    if (!IsExpectedStatus(s)) return "unknown status from AppVexGetCompInfo";
    std::string f;
    if (outcome) {
        outcome->infoStatus = s;
        outcome->info = p;
    }
    if (s != 0) {
        if (std::memcmp(&before, &p, sizeof p) != 0) return "failed header read wrote the host record";
    } else {
        f = DecodeTwice(stream, n, p, o, outcome);
    }
    CurrentStream() = nullptr;
    const std::string leak = CloseAndCheckLeaks();
    return f.empty() ? leak : f;
}

}  // namespace vexfuzz
