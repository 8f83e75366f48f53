// Helpers shared by the compression tests: records for each supported pair,
// a guarded output host that records every hand-over, a band driver that
// gives the library only the band it asked for, a JPEG segment walker and a
// djpeg round trip.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
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
        {0, 0, "rgb555_422"}, {0, 1, "rgb555_420"}, {0, 2, "rgb555_444"},
        {1, 0, "rgb24_422"},  {1, 1, "rgb24_420"},  {1, 2, "rgb24_444"},
        {1, 6, "rgb24_411"},  {2, 0, "rgb32_422"},  {2, 1, "rgb32_420"},
        {2, 2, "rgb32_444"},  {3, 3, "grey"},       {4, 4, "four_h2v2"},
        {4, 5, "four_h1v1"},
    };
    return pairs;
}

inline AppVexParams MakeParams(int format, int sampling, int width, int height) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(width);
    p.height = uint16_t(height);
    int16_t model = 0, space = 0;
    p.pixelFormat = FormatDesc(format, &model);
    p.sampling = SamplingOf(sampling, &space);
    p.pixelModel = model;
    p.colorSpace = space;
    return p;
}

// Output host whose buffers carry a guard zone that must stay untouched, and
// which records the position and size of every call.
struct GuardedSink {
    static constexpr size_t kGuard = 32;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> buffer;
    uint32_t bufferPos = 0;
    uint16_t bufferSize = 4096;
    int failAtCall = 0;
    int16_t failStatus = -1;
    bool guardBroken = false;
    bool sizeTooLarge = false;
    struct Call {
        int32_t position;
        uint16_t size;
    };
    std::vector<Call> calls;
};

inline GuardedSink& Sink() {
    static GuardedSink sink;
    return sink;
}

inline void ResetGuardedSink(uint16_t bufferSize) {
    Sink() = GuardedSink();
    Sink().bufferSize = bufferSize;
}

inline int16_t VEXAPI GuardedWrite(uint8_t** buffer, int32_t position, uint16_t* size,
                                   void* reserved) {
    GuardedSink& s = Sink();
    if (reserved != nullptr) s.guardBroken = true;
    s.calls.push_back({position, *size});
    if (s.failAtCall != 0 && int(s.calls.size()) == s.failAtCall) return s.failStatus;
    if (!s.buffer.empty()) {
        for (size_t i = s.bufferSize; i < s.buffer.size(); ++i)
            if (s.buffer[i] != 0xA5) s.guardBroken = true;
    }
    if (*size != 0) {
        if (*size > s.bufferSize || s.buffer.empty()) {
            s.sizeTooLarge = true;
        } else {
            const uint32_t end = s.bufferPos + *size;
            if (s.stream.size() < end) s.stream.resize(end);
            std::memcpy(s.stream.data() + s.bufferPos, s.buffer.data(), *size);
        }
    }
    s.bufferPos = position == -1 ? s.bufferPos + *size : uint32_t(position);
    s.buffer.assign(s.bufferSize + GuardedSink::kGuard, 0xA5);
    std::fill(s.buffer.begin(), s.buffer.begin() + s.bufferSize, 0xAA);
    *buffer = s.buffer.data();
    *size = s.bufferSize;
    return 0;
}

struct Feed {
    uint16_t outputBuffer = 4096;
    uint16_t bandWidth = 0, bandHeight = 0;  // 0, 0 and no budget: whole image
    int32_t bandMemory = 0;
};

// Compresses `image` band by band. Each band is copied into a buffer of its
// own whose rows are followed by random bytes, so a read outside the band the
// library asked for changes the output. Returns the first non-zero status.
inline int16_t CompressBands(AppVexParams params, const Image& image, const Feed& feed,
                             std::vector<uint8_t>* out, int* bandCalls = nullptr) {
    ResetGuardedSink(feed.outputBuffer);
    params.writeCallback = GuardedWrite;
    if (feed.bandWidth == 0 && feed.bandHeight == 0 && feed.bandMemory == 0) {
        params.bandWidth = params.width;
        params.bandHeight = params.height;
    } else {
        params.bandWidth = feed.bandWidth;
        params.bandHeight = feed.bandHeight;
        params.bandMemory = feed.bandMemory;
    }
    int16_t status = AppVexCompressBuffInit(&params);
    if (status != 0) return status;
    BandRect band = {0, 0, uint16_t(std::min<int>(params.bandWidth, image.width) - 1),
                     uint16_t(std::min<int>(params.bandHeight, image.height) - 1)};
    std::mt19937 rng(band.x1 * 31 + band.y1);
    const int bpp = image.bytesPerPixel;
    if (bandCalls) *bandCalls = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const int w = band.x1 - band.x0 + 1, h = band.y1 - band.y0 + 1;
        const size_t stride = size_t(w) * bpp + 24;
        std::vector<uint8_t> copy(stride * h);
        for (auto& b : copy) b = uint8_t(rng());
        std::vector<uint8_t*> rows(h);
        for (int y = 0; y < h; ++y) {
            rows[y] = copy.data() + y * stride;
            std::memcpy(rows[y], image.row(band.y0 + y) + size_t(band.x0) * bpp, size_t(w) * bpp);
        }
        BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        if (bandCalls) ++*bandCalls;
        status = AppVexCompressBuff(rows.data(), &next);
        if (status != 0) return status;
        if (next.x0 == 1 && next.x1 == 0) {
            *out = Sink().stream;
            return 0;
        }
        if (next.x1 >= image.width || next.y1 >= image.height || next.x0 > next.x1 ||
            next.y0 > next.y1) {
            ADD_FAILURE() << "band outside the image: " << next.x0 << "," << next.y0 << " "
                          << next.x1 << "," << next.y1;
            return -1;
        }
        band = next;
    }
    ADD_FAILURE() << "compression did not finish";
    return -1;
}

// JPEG marker segments up to and including SOS.
struct Segment {
    uint8_t marker;
    size_t offset;   // of the 0xFF
    uint16_t length; // the length field (0 for SOI)
};

inline bool ParseSegments(const std::vector<uint8_t>& s, std::vector<Segment>* out,
                          size_t* scanStart) {
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

// Decoded pixels as djpeg writes them: RGB triples or grey bytes.
struct Decoded {
    int width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;
};

inline bool ReadPnm(const std::vector<uint8_t>& file, Decoded* out) {
    size_t pos = 0;
    auto token = [&]() {
        while (pos < file.size() && isspace(file[pos])) ++pos;
        std::string t;
        while (pos < file.size() && !isspace(file[pos])) t += char(file[pos++]);
        return t;
    };
    const std::string magic = token();
    if (magic != "P5" && magic != "P6") return false;
    out->channels = magic == "P6" ? 3 : 1;
    out->width = std::stoi(token());
    out->height = std::stoi(token());
    if (std::stoi(token()) != 255) return false;
    ++pos;  // the single whitespace byte after maxval
    const size_t n = size_t(out->width) * out->height * out->channels;
    if (file.size() < pos + n) return false;
    out->pixels.assign(file.begin() + pos, file.begin() + pos + n);
    return true;
}

// Runs djpeg on `jpeg`; false when djpeg fails or its output is unreadable.
inline bool Djpeg(const std::vector<uint8_t>& jpeg, Decoded* out, const std::string& tag) {
    const std::string in = TempPath(tag + ".jpg"), pnm = TempPath(tag + ".pnm");
    if (!WriteFile(in, jpeg)) return false;
    const int rc = Run("djpeg -pnm -outfile " + pnm + " " + in + " 2>/dev/null");
    std::vector<uint8_t> file;
    const bool ok = rc == 0 && ReadFile(pnm, &file) && ReadPnm(file, out);
    std::remove(in.c_str());
    std::remove(pnm.c_str());
    return ok;
}

// What a faithful decoder should show for the host pixels, in djpeg's output
// layout: RGB for colour (5-bit fields expanded as 8c), grey as is, and for
// four-component images the RGB djpeg derives from CMYK (component x K / 255).
inline Decoded Expected(const Image& image, int format) {
    Decoded e;
    e.width = image.width;
    e.height = image.height;
    e.channels = format == 3 ? 1 : 3;
    e.pixels.resize(size_t(e.width) * e.height * e.channels);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = image.row(y) + size_t(x) * image.bytesPerPixel;
            uint8_t* d = e.pixels.data() + (size_t(y) * e.width + x) * e.channels;
            switch (format) {
                case 0: {
                    const uint16_t w = uint16_t(p[0] | p[1] << 8);
                    d[0] = uint8_t(((w >> 10) & 31) << 3);
                    d[1] = uint8_t(((w >> 5) & 31) << 3);
                    d[2] = uint8_t((w & 31) << 3);
                    break;
                }
                case 1:
                case 2:
                    d[0] = p[2];
                    d[1] = p[1];
                    d[2] = p[0];
                    break;
                case 3: d[0] = p[0]; break;
                default:
                    for (int c = 0; c < 3; ++c) d[c] = uint8_t(p[c] * p[3] / 255.0 + 0.5);
                    break;
            }
        }
    }
    return e;
}

// A natural photograph cut to `width` x `height` from its top-left corner, in
// the host layout of `format` (5-5-5 words, BGR, BGR + pad, grey, or four
// channels whose fourth is a smooth ramp).
inline Image PhotoImage(int format, int width, int height) {
    Image rgb;
    const int bpp = BytesPerPixel(format);
    if (!LoadPnm(DataPath("photo1.ppm"), &rgb, 3)) return Image();
    width = std::min(width, rgb.width);
    height = std::min(height, rgb.height);
    Image img;
    img.width = width;
    img.height = height;
    img.bytesPerPixel = bpp;
    img.pixels.resize(size_t(width) * height * bpp);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* s = rgb.row(y) + size_t(x) * 3;  // B, G, R
            uint8_t* d = img.row(y) + size_t(x) * bpp;
            switch (format) {
                case 0: {
                    const uint16_t w = uint16_t((s[0] >> 3) | (s[1] >> 3) << 5 | (s[2] >> 3) << 10);
                    d[0] = uint8_t(w);
                    d[1] = uint8_t(w >> 8);
                    break;
                }
                case 1: std::memcpy(d, s, 3); break;
                case 2:
                    std::memcpy(d, s, 3);
                    d[3] = uint8_t(x * 7 + y);  // padding the library must ignore
                    break;
                case 3: d[0] = uint8_t((s[2] * 299 + s[1] * 587 + s[0] * 114) / 1000); break;
                default:
                    std::memcpy(d, s, 3);
                    d[3] = uint8_t(160 + (x + y) % 96);
                    break;
            }
        }
    }
    return img;
}

inline double PsnrOf(const Decoded& a, const Decoded& b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) return 0;
    return Psnr(a.pixels.data(), b.pixels.data(), a.pixels.size());
}

}  // namespace compress
}  // namespace vextest
