// The library's runners. The in-memory hosts lend the library pointers
// straight into one preallocated stream (no copies); the scale run's hosts
// stream through a file with one 64 KiB buffer each way.
#include "q32vex_runner.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "measure.h"
#include "platform/allocator.h"
#include "q32vex_codec.h"

namespace vexbench {
namespace {

// ---------------------------------------------------------------------------
// In-memory hosts

struct MemorySink {
    std::vector<uint8_t> data;
    uint32_t bufferPos = 0;
    uint32_t end = 0;
};
MemorySink g_sink;

int16_t VEXAPI SinkWrite(uint8_t** buffer, int32_t position, uint16_t* size, void*) {
    // The finished bytes are already in place: the buffer lent was the stream.
    if (*size != 0) g_sink.end = std::max(g_sink.end, g_sink.bufferPos + *size);
    const uint32_t next = position == -1 ? g_sink.bufferPos + *size : uint32_t(position);
    if (next >= g_sink.data.size()) return -1;
    g_sink.bufferPos = next;
    *buffer = g_sink.data.data() + next;
    *size = uint16_t(std::min<size_t>(65535, g_sink.data.size() - next));
    return 0;
}

struct MemorySource {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t pos = 0;
};
MemorySource g_source;

int16_t VEXAPI SourceRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    if (position != -1) g_source.pos = uint32_t(position);
    const uint32_t available = g_source.pos < g_source.size ? g_source.size - g_source.pos : 0;
    const uint32_t n = std::min<uint32_t>(*count, available);
    *data = const_cast<uint8_t*>(g_source.data + std::min(g_source.pos, g_source.size));
    *count = uint16_t(n);
    g_source.pos += n;
    if (g_source.pos >= g_source.size) *flag = 1;
    return 0;
}

// ---------------------------------------------------------------------------
// File hosts of the scale run

struct FileSink {
    int fd = -1;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(65535);
    uint32_t bufferPos = 0;
    uint64_t end = 0;
    bool ok = true;
};
FileSink* fileSink = nullptr;

int16_t VEXAPI FileWrite(uint8_t** buffer, int32_t position, uint16_t* size, void*) {
    FileSink& s = *fileSink;
    if (*size != 0) {
        if (pwrite(s.fd, s.buffer.data(), *size, off_t(s.bufferPos)) != ssize_t(*size)) return -1;
        s.end = std::max<uint64_t>(s.end, s.bufferPos + uint64_t(*size));
    }
    s.bufferPos = position == -1 ? s.bufferPos + *size : uint32_t(position);
    *buffer = s.buffer.data();
    *size = uint16_t(s.buffer.size());
    return 0;
}

struct FileSource {
    int fd = -1;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(65535);
    uint64_t pos = 0, size = 0;
};
FileSource* fileSource = nullptr;

int16_t VEXAPI FileRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    FileSource& s = *fileSource;
    if (position != -1) s.pos = uint32_t(position);
    const uint64_t available = s.pos < s.size ? s.size - s.pos : 0;
    const size_t n = size_t(std::min<uint64_t>(*count, available));
    if (n && pread(s.fd, s.buffer.data(), n, off_t(s.pos)) != ssize_t(n)) return -1;
    *data = s.buffer.data();
    *count = uint16_t(n);
    s.pos += n;
    if (s.pos >= s.size) *flag = 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Records

void SetFormat(AppVexParams* p, int sampling) {
    static const SamplingDesc kSamplings[4] = {
        {{2, 1, 1, 0}, {1, 1, 1, 0}}, {{2, 1, 1, 0}, {2, 1, 1, 0}}, {{1, 1, 1, 0}, {1, 1, 1, 0}},
        {{1, 0, 0, 0}, {1, 0, 0, 0}}};
    if (sampling == 3) {
        p->colorSpace = 1;
        p->pixelModel = 1;
        p->pixelFormat = PixelFormatDesc{{8, 0, 0, 0}, {0, 0, 0, 0}};
    } else {
        p->colorSpace = 0;
        p->pixelModel = 0;
        p->pixelFormat = PixelFormatDesc{{8, 8, 8, 0}, {0, 0, 0, 0}};
    }
    p->sampling = kSamplings[sampling];
}

// The whole image as one band, or bands the library sizes from a budget.
void ApplyBand(const Band& band, AppVexParams* p) {
    const bool whole = band.bandMemory == 0;
    p->bandWidth = whole ? p->width : 0;
    p->bandHeight = whole ? p->height : 0;
    p->bandMemory = whole ? 0 : band.bandMemory;
}

}  // namespace

const char* SamplingName(int sampling) {
    switch (sampling) {
        case 0: return "4:2:2";
        case 1: return "4:2:0";
        case 2: return "4:4:4";
        default: return "grey";
    }
}

void ReserveSink(size_t capacity) { g_sink.data.assign(capacity, 0); }

std::vector<uint8_t> SinkStream() {
    return std::vector<uint8_t>(g_sink.data.begin(), g_sink.data.begin() + g_sink.end);
}

int16_t OurEncode(const Image& image, int sampling, int quality, const Band& band) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(image.width);
    p.height = uint16_t(image.height);
    p.containerKind = VEX_CONTAINER_JFIF;
    SetFormat(&p, sampling);
    p.quality = uint16_t(quality);
    p.writeCallback = SinkWrite;
    ApplyBand(band, &p);
    g_sink.bufferPos = 0;
    g_sink.end = 0;
    int16_t status = AppVexCompressBuffInit(&p);
    if (status != 0) return status;
    BandRect rect = {0, 0, uint16_t(std::min(p.bandWidth, p.width) - 1),
                     uint16_t(std::min(p.bandHeight, p.height) - 1)};
    std::vector<uint8_t*> rows(std::max<int>(p.bandHeight, 1));
    for (;;) {
        const int n = rect.y1 - rect.y0 + 1;
        if (size_t(n) > rows.size()) rows.resize(n);
        for (int i = 0; i < n; ++i)
            rows[i] = const_cast<uint8_t*>(image.row(rect.y0 + i)) + size_t(rect.x0) * image.bpp;
        BandRect next;
        status = AppVexCompressBuff(rows.data(), &next);
        if (status != 0) return status;
        if (next.x0 == 1 && next.x1 == 0) return 0;
        rect = next;
    }
}

namespace {

// Resizes *out for a decode unless it already has that shape.
void SizeImage(int width, int height, int bpp, Image* out) {
    if (out->width == width && out->height == height && out->bpp == bpp) return;
    out->width = width;
    out->height = height;
    out->bpp = bpp;
    out->pixels.assign(size_t(width) * height * bpp, 0);
}

}  // namespace

// A status no library call gives, for a band where the host did not expect it.
constexpr int16_t kBandOutOfOrder = -9999;

int16_t OurDecode(const uint8_t* stream, uint32_t size, const Band& band, Image* out,
                  std::vector<uint8_t>* bandBuffer) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = SourceRead;
    g_source = MemorySource{stream, size, 0};
    int16_t status = AppVexGetCompInfo(&p);
    if (status != 0) return status;
    const bool grey = p.colorSpace == 1;
    SetFormat(&p, grey ? 3 : 2);
    p.windowLeft = 0;
    p.windowTop = 0;
    p.windowRight = uint16_t(p.width - 1);
    p.windowBottom = uint16_t(p.height - 1);
    const int bpp = grey ? 1 : 3;
    SizeImage(p.width, p.height, bpp, out);
    ApplyBand(band, &p);
    g_source = MemorySource{stream, size, 0};
    status = AppVexDecompressBuffInit(&p);
    if (status != 0) return status;
    // Bands come in order, left to right and then down, each bandWidth x
    // bandHeight or cut by the image's edges: the rows handed over point
    // where the next band will go in the picture, so a band lands in place
    // as a host that keeps the picture would have it; one that would reach
    // past the picture's edge goes to a buffer and is copied. A band out of
    // that order fails the run, as its pixels went to the wrong place.
    const int bandW = std::max<int>(p.bandWidth, 1), bandH = std::max<int>(p.bandHeight, 1);
    if (bandBuffer->size() < size_t(bandW) * bandH * bpp) bandBuffer->resize(size_t(bandW) * bandH * bpp);
    std::vector<uint8_t*> rows(bandH);
    int nextX = 0, nextY = 0;
    for (;;) {
        const bool inPlace = nextY + bandH <= p.height && nextX + bandW <= p.width;
        for (int y = 0; y < bandH; ++y)
            rows[y] = inPlace ? out->row(nextY + y) + size_t(nextX) * bpp : bandBuffer->data() + size_t(y) * bandW * bpp;
        BandRect r;
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) return 0;
        if (r.x0 != nextX || r.y0 != nextY) return kBandOutOfOrder;
        if (!inPlace) {
            for (int y = r.y0; y <= r.y1; ++y)
                std::memcpy(out->row(y) + size_t(r.x0) * bpp, rows[y - r.y0], size_t(r.x1 - r.x0 + 1) * bpp);
        }
        nextX = r.x1 + 1;
        if (nextX >= p.width) {
            nextX = 0;
            nextY = r.y1 + 1;
        }
    }
}

int16_t OurInstanceDecode(const uint8_t* stream, uint32_t size, Image* out) {
    // One instance for the whole run, as a host that decodes many files keeps one.
    static VexCodec* const codec = [] {
        VexCodec* c = VexCodecCreate();
        VexCodecSetOption(c, VEX_OPTION_PROGRESSIVE, 1);
        VexCodecSetOption(c, VEX_OPTION_EXTENDED_FRAMES, 1);
        return c;
    }();
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    int16_t status = VexReadInfoMemory(codec, &p, stream, size);
    if (status != 0) return status;
    const bool grey = p.colorSpace == 1;
    SetFormat(&p, grey ? 3 : 2);
    const int bpp = grey ? 1 : 3;
    SizeImage(p.width, p.height, bpp, out);
    return VexDecompressMemory(codec, &p, stream, size, out->pixels.data(), ptrdiff_t(p.width) * bpp);
}

bool RunScale(const Image& source, int width, int height, int sampling, int budget, const std::string& path,
              ScaleResult* result, std::string* failure) {
    ScaleResult res;
    res.width = width;
    res.height = height;
    res.sampling = SamplingName(sampling);
    AppVexDeallocate();
    malloc_trim(0);
    ResetPeakRss();
    res.rssBeforeKb = StatusKb("VmRSS:");
    q32vex::ResetPeakBytes();
    const int64_t liveBefore = q32vex::GetAllocatorStats().liveBytes;

    FileSink sink;
    sink.fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (sink.fd < 0) return false;
    fileSink = &sink;
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(width);
    p.height = uint16_t(height);
    p.containerKind = VEX_CONTAINER_JFIF;
    SetFormat(&p, sampling);
    p.quality = 25;
    p.writeCallback = FileWrite;
    p.bandWidth = 0;
    p.bandHeight = 0;
    p.bandMemory = budget;
    double t0 = Now();
    int16_t status = AppVexCompressBuffInit(&p);
    double library = Now() - t0;
    if (status != 0) return false;
    const int bpp = source.bpp;
    std::vector<uint8_t> band(size_t(p.bandWidth) * p.bandHeight * bpp);
    std::vector<uint8_t*> rows(p.bandHeight);
    BandRect rect = {0, 0, uint16_t(std::min(p.bandWidth, p.width) - 1),
                     uint16_t(std::min(p.bandHeight, p.height) - 1)};
    for (;;) {
        const int w = rect.x1 - rect.x0 + 1, h = rect.y1 - rect.y0 + 1;
        for (int i = 0; i < h; ++i) {
            rows[i] = band.data() + size_t(i) * w * bpp;
            GeneratedRow(source, rect.y0 + i, rect.x0, w, rows[i]);
        }
        BandRect next;
        t0 = Now();
        status = AppVexCompressBuff(rows.data(), &next);
        library += Now() - t0;
        if (status != 0) return false;
        if (next.x0 == 1 && next.x1 == 0) break;
        rect = next;
    }
    res.encodeSeconds = library;
    res.streamBytes = sink.end;
    fileSink = nullptr;

    FileSource src;
    src.fd = sink.fd;
    src.size = sink.end;
    fileSource = &src;
    AppVexParams d;
    AppVexSetDefaultDecompress(&d);
    d.readCallback = FileRead;
    if (AppVexGetCompInfo(&d) != 0) return false;
    SetFormat(&d, sampling);
    d.windowLeft = 0;
    d.windowTop = 0;
    d.windowRight = uint16_t(width - 1);
    d.windowBottom = uint16_t(height - 1);
    d.bandWidth = 0;
    d.bandHeight = 0;
    d.bandMemory = budget;
    src.pos = 0;
    t0 = Now();
    status = AppVexDecompressBuffInit(&d);
    library = Now() - t0;
    if (status != 0) return false;
    std::vector<uint8_t> out(size_t(d.bandWidth) * d.bandHeight * bpp);
    std::vector<uint8_t*> outRows(d.bandHeight);
    for (int i = 0; i < d.bandHeight; ++i) outRows[i] = out.data() + size_t(i) * d.bandWidth * bpp;
    uint64_t pixels = 0;
    for (;;) {
        BandRect r;
        t0 = Now();
        status = AppVexDecompressBuff(outRows.data(), &r);
        library += Now() - t0;
        if (status != 0) return false;
        if (r.x0 == 1 && r.x1 == 0) break;
        pixels += uint64_t(r.x1 - r.x0 + 1) * (r.y1 - r.y0 + 1);
    }
    res.decodeSeconds = library;
    fileSource = nullptr;
    close(sink.fd);
    std::remove(path.c_str());
    if (pixels != uint64_t(width) * height) {
        *failure = "scale decode delivered " + std::to_string(pixels) + " pixels";
        return false;
    }
    res.libraryPeak = q32vex::GetAllocatorStats().peakBytes - liveBefore;
    res.rssPeakKb = StatusKb("VmHWM:");
    *result = res;
    return true;
}

}  // namespace vexbench
