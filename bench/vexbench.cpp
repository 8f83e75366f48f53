// vexbench: megapixels per second of this library and of libjpeg-turbo's
// TurboJPEG API on the same in-memory images, in one process, runs
// interleaved and repeated, the median reported; plus the streaming scale
// test (a generated image up to 30000 x 30000 through a small band budget).
//
//   vexbench [--smoke] [--quick] [--reps N] [--min-time S] [--json FILE]
//            [--no-scale] [--scale-only] [--only TEXT]
//
// Quality: this library's `quality` scales the Annex K tables in fiftieths
// (50 = unscaled); libjpeg's quality Q >= 50 scales them by (200 - 2Q)%. So
// peer Q75 is our 25 and peer Q95 our 5: both sides code the same tables.
#include <malloc.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/allocator.h"
#include "platform/cpu.h"
#include "ppm.h"
#include "q32vex.h"

namespace {

// ---------------------------------------------------------------------------
// Images

struct Image {
    int width = 0, height = 0, bpp = 0;  // bpp 3: blue, green, red; 1: grey
    std::vector<uint8_t> pixels;
    uint8_t* row(int y) { return pixels.data() + size_t(y) * width * bpp; }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * width * bpp; }
    double megapixels() const { return double(width) * height / 1e6; }
};

bool LoadPnm(const std::string& path, Image* out) {
    vexppm::Pnm file;
    if (!vexppm::ReadPnm(path, &file)) return false;
    out->width = file.width;
    out->height = file.height;
    out->bpp = file.channels;
    out->pixels = std::move(file.samples);
    if (out->bpp == 3) {  // RGB file order to blue, green, red
        for (size_t i = 0; i < out->pixels.size(); i += 3) std::swap(out->pixels[i], out->pixels[i + 2]);
    }
    return true;
}

Image ToGrey(const Image& colour) {
    Image grey;
    grey.width = colour.width;
    grey.height = colour.height;
    grey.bpp = 1;
    grey.pixels.resize(size_t(colour.width) * colour.height);
    for (size_t i = 0; i < grey.pixels.size(); ++i) {
        const uint8_t* p = colour.pixels.data() + 3 * i;
        grey.pixels[i] = uint8_t((p[0] * 114 + p[1] * 587 + p[2] * 299 + 500) / 1000);
    }
    return grey;
}

Image Crop(const Image& src, int width, int height) {
    Image out;
    out.width = std::min(width, src.width);
    out.height = std::min(height, src.height);
    out.bpp = src.bpp;
    out.pixels.resize(size_t(out.width) * out.height * out.bpp);
    for (int y = 0; y < out.height; ++y)
        std::memcpy(out.row(y), src.row(y), size_t(out.width) * out.bpp);
    return out;
}

// A large photograph-like image: the photographs tiled, alternating, mirrored
// on every other tile so that no seam is a straight copy.
Image Mosaic(const std::vector<const Image*>& tiles, int width, int height) {
    Image out;
    out.width = width;
    out.height = height;
    out.bpp = 3;
    out.pixels.resize(size_t(width) * height * 3);
    const int tw = 320, th = 300;
    for (int y = 0; y < height; ++y) {
        const int ty = y / th;
        for (int x = 0; x < width; ++x) {
            const int tx = x / tw;
            const Image& t = *tiles[size_t(tx + ty) % tiles.size()];
            int sx = x % tw, sy = y % th;
            if ((tx + ty) & 1) sx = tw - 1 - sx;
            sx = sx % t.width;
            sy = sy % t.height;
            std::memcpy(out.row(y) + size_t(x) * 3, t.row(sy) + size_t(sx) * 3, 3);
        }
    }
    return out;
}

double Psnr(const Image& a, const Image& b) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(a.pixels.size()) / sum);
}

// ---------------------------------------------------------------------------
// Hosts of this library: memory sink and source that lend the library
// pointers straight into one preallocated stream (no copies).

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

const char* SamplingName(int sampling) {
    switch (sampling) {
        case 0: return "4:2:2";
        case 1: return "4:2:0";
        case 2: return "4:4:4";
        default: return "grey";
    }
}

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

struct Band {
    int bandMemory = 0;  // 0: the whole image as one band
};

// The whole image as one band, or bands the library sizes from a budget.
void ApplyBand(const Band& band, AppVexParams* p) {
    const bool whole = band.bandMemory == 0;
    p->bandWidth = whole ? p->width : 0;
    p->bandHeight = whole ? p->height : 0;
    p->bandMemory = whole ? 0 : band.bandMemory;
}

// Compresses `image` into g_sink; returns the library's status.
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

// Decompresses `stream` into *out (blue-green-red or grey); `bandBuffer` is
// the host's band storage for budgeted runs.
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
    if (out->width != p.width || out->height != p.height || out->bpp != bpp) {
        out->width = p.width;
        out->height = p.height;
        out->bpp = bpp;
        out->pixels.assign(size_t(p.width) * p.height * bpp, 0);
    }
    ApplyBand(band, &p);
    g_source = MemorySource{stream, size, 0};
    status = AppVexDecompressBuffInit(&p);
    if (status != 0) return status;
    const bool direct = p.bandWidth == p.width && p.bandHeight == p.height;
    const int bandW = std::max<int>(p.bandWidth, 1), bandH = std::max<int>(p.bandHeight, 1);
    std::vector<uint8_t*> rows(bandH);
    if (direct) {
        for (int y = 0; y < bandH; ++y) rows[y] = out->row(y);
    } else {
        if (bandBuffer->size() < size_t(bandW) * bandH * bpp) bandBuffer->resize(size_t(bandW) * bandH * bpp);
        for (int y = 0; y < bandH; ++y) rows[y] = bandBuffer->data() + size_t(y) * bandW * bpp;
    }
    for (;;) {
        BandRect r;
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) return 0;
        if (!direct) {
            for (int y = r.y0; y <= r.y1; ++y)
                std::memcpy(out->row(y) + size_t(r.x0) * bpp, rows[y - r.y0], size_t(r.x1 - r.x0 + 1) * bpp);
        }
    }
}

// ---------------------------------------------------------------------------
// The peer

struct Peer {
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    std::vector<uint8_t> stream;
    unsigned long streamSize = 0;
    ~Peer() {
        tjDestroy(compressor);
        tjDestroy(decompressor);
    }
};

int PeerSubsampling(int sampling) {
    switch (sampling) {
        case 0: return TJSAMP_422;
        case 1: return TJSAMP_420;
        case 2: return TJSAMP_444;
        default: return TJSAMP_GRAY;
    }
}

bool PeerEncode(Peer& peer, const Image& image, int sampling, int quality, int flags) {
    unsigned char* buffer = peer.stream.data();
    peer.streamSize = peer.stream.size();
    return tjCompress2(peer.compressor, image.pixels.data(), image.width, 0, image.height,
                       image.bpp == 1 ? TJPF_GRAY : TJPF_BGR, &buffer, &peer.streamSize,
                       PeerSubsampling(sampling), quality, flags | TJFLAG_NOREALLOC) == 0;
}

bool PeerDecode(Peer& peer, const uint8_t* stream, uint32_t size, Image* out, int flags) {
    return tjDecompress2(peer.decompressor, stream, size, out->pixels.data(), out->width, 0, out->height,
                         out->bpp == 1 ? TJPF_GRAY : TJPF_BGR, flags) == 0;
}

// ---------------------------------------------------------------------------
// Measurement

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

long StatusKb(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line)) {
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

// Resets the process's peak resident size to the current one (Linux 4.0+).
bool ResetPeakRss() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

struct Memory {
    long rssGrowthKb = -1;  // peak resident size during one run minus before it
    int64_t libraryPeak = -1;  // this library's allocator peak during the run
};

Memory MeasureMemory(const std::function<bool()>& run, bool ours) {
    Memory m;
    if (ours) AppVexDeallocate();  // so that the run builds its tables again
    malloc_trim(0);
    const bool reset = ResetPeakRss();
    const long before = StatusKb("VmRSS:");
    q32vex::ResetPeakBytes();
    const int64_t liveBefore = q32vex::GetAllocatorStats().liveBytes;
    if (!run()) return m;
    if (reset && before >= 0) m.rssGrowthKb = std::max(0L, StatusKb("VmHWM:") - before);
    if (ours) m.libraryPeak = q32vex::GetAllocatorStats().peakBytes - liveBefore;
    return m;
}

struct Runner {
    Runner(std::string n, std::function<bool()> f, bool o) : name(std::move(n)), run(std::move(f)), ours(o) {}
    std::string name;
    std::function<bool()> run;
    bool ours;
    std::vector<double> times;
    Memory memory;
};

struct Settings {
    bool smoke = false;
    bool quick = false;
    int reps = 0;          // 0: adaptive
    double minTime = 0.6;  // seconds per runner and case
    std::string json = "out/bench.json";
    bool scale = true;
    bool benchCases = true;
    std::string only;
};

// Interleaves the runners rep by rep; every failure is fatal to the case.
bool Measure(std::vector<Runner>& runners, const Settings& s) {
    for (Runner& r : runners) {  // warm-up, and the memory figures
        r.memory = MeasureMemory(r.run, r.ours);
        if (r.memory.rssGrowthKb < 0 && !r.run()) {
            std::fprintf(stderr, "vexbench: %s failed\n", r.name.c_str());
            return false;
        }
    }
    int reps = s.reps;
    if (reps == 0) {
        double slowest = 0;
        for (Runner& r : runners) {
            const double t0 = Now();
            if (!r.run()) return false;
            slowest = std::max(slowest, Now() - t0);
        }
        reps = int(std::ceil(s.minTime / std::max(slowest, 1e-6)));
        reps = std::clamp(reps, 5, 41) | 1;
    }
    if (s.smoke) reps = 1;
    for (int rep = 0; rep < reps; ++rep) {
        for (Runner& r : runners) {
            const double t0 = Now();
            if (!r.run()) {
                std::fprintf(stderr, "vexbench: %s failed\n", r.name.c_str());
                return false;
            }
            r.times.push_back(Now() - t0);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Cases and report

struct Row {
    std::string image, sampling, direction, band;
    int peerQuality = 0, ourQuality = 0;
    double megapixels = 0;
    double ours = 0, peer = 0, peerFast = 0;  // MP/s
    Memory oursMemory, peerMemory;
    uint32_t streamBytes = 0;
    double psnr = 0;
};

std::string Fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), format, v);
    return buf;
}

struct Bench {
    Settings settings;
    Peer peer;
    std::vector<Row> rows;
    bool failed = false;
    int smallBudget = 64 * 1024;

    void Fail(const std::string& what) {
        std::fprintf(stderr, "vexbench: FAILED: %s\n", what.c_str());
        failed = true;
    }

    void RunCase(const std::string& imageName, const Image& image, int sampling, int peerQuality) {
        const int ourQuality = peerQuality == 75 ? 25 : peerQuality == 95 ? 5 : (200 - 2 * peerQuality) / 2;
        const std::string label = imageName + " " + SamplingName(sampling) + " Q" + std::to_string(peerQuality);
        if (!settings.only.empty() && label.find(settings.only) == std::string::npos) return;
        const size_t capacity = image.pixels.size() * 2 + 65536 * 4;
        g_sink.data.assign(capacity, 0);
        peer.stream.assign(tjBufSize(image.width, image.height, PeerSubsampling(sampling)), 0);

        // Our stream, decoded by the peer: the reference both decoders read.
        if (OurEncode(image, sampling, ourQuality, Band{}) != 0) return Fail("encode " + label);
        std::vector<uint8_t> stream(g_sink.data.begin(), g_sink.data.begin() + g_sink.end);
        Image peerView;
        peerView.width = image.width;
        peerView.height = image.height;
        peerView.bpp = image.bpp;
        peerView.pixels.assign(image.pixels.size(), 0);
        if (!PeerDecode(peer, stream.data(), uint32_t(stream.size()), &peerView, 0))
            return Fail("libjpeg-turbo cannot decode our stream for " + label);
        const double psnr = Psnr(image, peerView);
        Image ours = peerView;
        std::vector<uint8_t> bandBuffer;
        if (OurDecode(stream.data(), uint32_t(stream.size()), Band{}, &ours, &bandBuffer) != 0)
            return Fail("decode " + label);
        const double agreement = Psnr(ours, peerView);
        if (psnr < 25 || agreement < 30) {
            return Fail(label + ": PSNR against the source " + Fmt("%.1f", psnr) +
                        " dB, against libjpeg-turbo's decode " + Fmt("%.1f", agreement) + " dB");
        }

        const Band whole{}, small{smallBudget};
        // Encode.
        {
            std::vector<Runner> runners;
            runners.push_back({"ours", [&] { return OurEncode(image, sampling, ourQuality, whole) == 0; }, true});
            runners.push_back({"ours band", [&] { return OurEncode(image, sampling, ourQuality, small) == 0; }, true});
            runners.push_back({"peer", [&] { return PeerEncode(peer, image, sampling, peerQuality, 0); }, false});
            runners.push_back({"peer fast",
                               [&] { return PeerEncode(peer, image, sampling, peerQuality, TJFLAG_FASTDCT); },
                               false});
            if (!Measure(runners, settings)) return Fail("encode timing " + label);
            AddRows(imageName, image, sampling, peerQuality, ourQuality, "encode", runners,
                    uint32_t(stream.size()), psnr);
        }
        // Decode of the same stream.
        {
            Image out = peerView;
            std::vector<Runner> runners;
            runners.push_back({"ours",
                               [&] { return OurDecode(stream.data(), uint32_t(stream.size()), whole, &out, &bandBuffer) == 0; },
                               true});
            runners.push_back({"ours band",
                               [&] { return OurDecode(stream.data(), uint32_t(stream.size()), small, &out, &bandBuffer) == 0; },
                               true});
            runners.push_back({"peer",
                               [&] { return PeerDecode(peer, stream.data(), uint32_t(stream.size()), &out, 0); },
                               false});
            runners.push_back({"peer fast",
                               [&] {
                                   return PeerDecode(peer, stream.data(), uint32_t(stream.size()), &out,
                                                     TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
                               },
                               false});
            if (!Measure(runners, settings)) return Fail("decode timing " + label);
            AddRows(imageName, image, sampling, peerQuality, ourQuality, "decode", runners,
                    uint32_t(stream.size()), psnr);
        }
    }

    void AddRows(const std::string& imageName, const Image& image, int sampling, int peerQuality,
                 int ourQuality, const char* direction, const std::vector<Runner>& r, uint32_t bytes,
                 double psnr) {
        const double mp = image.megapixels();
        for (int band = 0; band < 2; ++band) {
            Row row;
            row.image = imageName;
            row.sampling = SamplingName(sampling);
            row.direction = direction;
            row.band = band == 0 ? "whole" : std::to_string(smallBudget / 1024) + " KiB";
            row.peerQuality = peerQuality;
            row.ourQuality = ourQuality;
            row.megapixels = mp;
            row.ours = mp / Median(r[size_t(band)].times);
            row.peer = mp / Median(r[2].times);
            row.peerFast = mp / Median(r[3].times);
            row.oursMemory = r[size_t(band)].memory;
            row.peerMemory = r[2].memory;
            row.streamBytes = bytes;
            row.psnr = psnr;
            rows.push_back(row);
        }
    }

    void PrintTable() const {
        std::printf("\nSIMD level: %s. Peer: libjpeg-turbo %s via TurboJPEG. One thread, median of "
                    "interleaved repeats.\n",
                    q32vex::SimdLevelName(q32vex::ActiveSimdLevel()), "(system)");
        std::printf("Quality: peer Q75 = our quality 25, peer Q95 = our quality 5 (same scaled tables).\n");
        std::printf("Encode: peer = its integer DCT, fast = TJFLAG_FASTDCT. Decode (of our stream): peer = "
                    "integer IDCT with fancy upsampling, fast = TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE "
                    "(replication, like ours).\n");
        std::printf("Memory: lib = this library's allocator peak; RSS = growth of the process's peak "
                    "resident size during one run (host buffers preallocated).\n\n");
        std::printf("| image | MP | sampling | Q | dir | band | ours MP/s | peer MP/s | fast MP/s | "
                    "ours/peer | ours/fast | lib KiB | ours RSS KiB | peer RSS KiB |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const Row& r : rows) {
            std::printf("| %s | %.2f | %s | %d | %s | %s | %.1f | %.1f | %.1f | %.2f | %.2f | %lld | %ld | %ld |\n",
                        r.image.c_str(), r.megapixels, r.sampling.c_str(), r.peerQuality, r.direction.c_str(),
                        r.band.c_str(), r.ours, r.peer, r.peerFast, r.ours / r.peer, r.ours / r.peerFast,
                        (long long)(r.oursMemory.libraryPeak / 1024), r.oursMemory.rssGrowthKb,
                        r.peerMemory.rssGrowthKb);
        }
        // Geometric means of the whole-image ratios.
        for (const char* dir : {"encode", "decode"}) {
            double logPeer = 0, logFast = 0;
            int n = 0;
            for (const Row& r : rows) {
                if (r.direction != dir || r.band != "whole") continue;
                logPeer += std::log(r.ours / r.peer);
                logFast += std::log(r.ours / r.peerFast);
                ++n;
            }
            if (n)
                std::printf("\n%s, whole image, geometric mean over %d cases: ours/peer %.2f, ours/fast %.2f", dir, n,
                            std::exp(logPeer / n), std::exp(logFast / n));
        }
        std::printf("\n");
    }

    // -----------------------------------------------------------------------
    // Scale: a generated image streamed through a band budget.

    struct ScaleResult {
        int width, height;
        std::string sampling;
        double encodeSeconds = 0, decodeSeconds = 0;
        uint64_t streamBytes = 0;
        int64_t libraryPeak = 0;
        long rssBeforeKb = 0, rssPeakKb = 0;
    };
    std::vector<ScaleResult> scale;

    struct FileSink {
        int fd = -1;
        std::vector<uint8_t> buffer = std::vector<uint8_t>(65535);
        uint32_t bufferPos = 0;
        uint64_t end = 0;
        bool ok = true;
    };
    static FileSink* fileSink;
    static int16_t VEXAPI FileWrite(uint8_t** buffer, int32_t position, uint16_t* size, void*) {
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
    static FileSource* fileSource;
    static int16_t VEXAPI FileRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
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

    // Fills row y of the generated image, columns x0 .. x0 + n - 1: the mosaic
    // repeated in both directions.
    static void GeneratedRow(const Image& source, int y, int x0, int n, uint8_t* out) {
        const uint8_t* src = source.row(y % source.height);
        while (n > 0) {
            const int x = x0 % source.width;
            const int k = std::min(n, source.width - x);
            std::memcpy(out, src + size_t(x) * source.bpp, size_t(k) * source.bpp);
            out += size_t(k) * source.bpp;
            x0 += k;
            n -= k;
        }
    }

    bool RunScale(const Image& source, int width, int height, int sampling, int budget, const std::string& path) {
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
            Fail("scale decode delivered " + std::to_string(pixels) + " pixels");
            return false;
        }
        res.libraryPeak = q32vex::GetAllocatorStats().peakBytes - liveBefore;
        res.rssPeakKb = StatusKb("VmHWM:");
        scale.push_back(res);
        return true;
    }

    void PrintScale() const {
        if (scale.empty()) return;
        std::printf("\nScale: generated image streamed through a %d KiB band budget (JFIF, our quality 25); "
                    "time counts library calls only.\n\n",
                    ScaleBudget() / 1024);
        std::printf("| size | MP | sampling | encode s | encode ms/MP | decode s | decode ms/MP | stream MB | "
                    "lib peak KiB | RSS before KiB | RSS peak KiB |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const ScaleResult& r : scale) {
            const double mp = double(r.width) * r.height / 1e6;
            std::printf("| %dx%d | %.0f | %s | %.2f | %.2f | %.2f | %.2f | %.1f | %lld | %ld | %ld |\n", r.width,
                        r.height, mp, r.sampling.c_str(), r.encodeSeconds, 1000 * r.encodeSeconds / mp,
                        r.decodeSeconds, 1000 * r.decodeSeconds / mp, double(r.streamBytes) / 1e6,
                        (long long)(r.libraryPeak / 1024), r.rssBeforeKb, r.rssPeakKb);
        }
    }

    int ScaleBudget() const { return settings.smoke ? 64 * 1024 : 1024 * 1024; }

    void WriteJson() const {
        std::string j = "{\n  \"simdLevel\": \"";
        j += q32vex::SimdLevelName(q32vex::ActiveSimdLevel());
        j += "\",\n  \"smoke\": ";
        j += settings.smoke ? "true" : "false";
        j += ",\n  \"note\": \"peer Q75 = our quality 25, peer Q95 = our quality 5; MP/s medians\",\n";
        j += "  \"cases\": [\n";
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            char buf[1024];
            std::snprintf(buf, sizeof(buf),
                          "    {\"image\": \"%s\", \"megapixels\": %.4f, \"sampling\": \"%s\", \"peerQuality\": %d, "
                          "\"ourQuality\": %d, \"direction\": \"%s\", \"band\": \"%s\", \"oursMPs\": %.3f, "
                          "\"peerMPs\": %.3f, \"peerFastMPs\": %.3f, \"ratioPeer\": %.4f, \"ratioPeerFast\": %.4f, "
                          "\"libraryPeakBytes\": %lld, \"oursRssGrowthKiB\": %ld, \"peerRssGrowthKiB\": %ld, "
                          "\"streamBytes\": %u, \"psnr\": %.2f}%s\n",
                          r.image.c_str(), r.megapixels, r.sampling.c_str(), r.peerQuality, r.ourQuality,
                          r.direction.c_str(), r.band.c_str(), r.ours, r.peer, r.peerFast, r.ours / r.peer,
                          r.ours / r.peerFast, (long long)r.oursMemory.libraryPeak, r.oursMemory.rssGrowthKb,
                          r.peerMemory.rssGrowthKb, r.streamBytes, r.psnr, i + 1 < rows.size() ? "," : "");
            j += buf;
        }
        j += "  ],\n  \"scale\": [\n";
        for (size_t i = 0; i < scale.size(); ++i) {
            const ScaleResult& r = scale[i];
            const double mp = double(r.width) * r.height / 1e6;
            char buf[768];
            std::snprintf(buf, sizeof(buf),
                          "    {\"width\": %d, \"height\": %d, \"sampling\": \"%s\", \"budgetBytes\": %d, "
                          "\"encodeSeconds\": %.4f, \"encodeMsPerMP\": %.4f, \"decodeSeconds\": %.4f, "
                          "\"decodeMsPerMP\": %.4f, \"streamBytes\": %llu, \"libraryPeakBytes\": %lld, "
                          "\"rssBeforeKiB\": %ld, \"rssPeakKiB\": %ld}%s\n",
                          r.width, r.height, r.sampling.c_str(), ScaleBudget(), r.encodeSeconds,
                          1000 * r.encodeSeconds / mp, r.decodeSeconds, 1000 * r.decodeSeconds / mp,
                          (unsigned long long)r.streamBytes, (long long)r.libraryPeak, r.rssBeforeKb, r.rssPeakKb,
                          i + 1 < scale.size() ? "," : "");
            j += buf;
        }
        j += "  ]\n}\n";
        const std::string& path = settings.json;
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            const std::string dir = path.substr(0, slash);
            if (!dir.empty()) mkdir(dir.c_str(), 0755);
        }
        std::ofstream f(path);
        f << j;
        if (!f) std::fprintf(stderr, "vexbench: cannot write %s\n", path.c_str());
    }
};
Bench::FileSink* Bench::fileSink = nullptr;
Bench::FileSource* Bench::fileSource = nullptr;

int Usage() {
    std::fprintf(stderr,
                 "usage: vexbench [--smoke] [--quick] [--reps N] [--min-time S] [--json FILE] [--no-scale]\n"
                 "                [--scale-only] [--only TEXT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Bench bench;
    Settings& s = bench.settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--smoke") s.smoke = true;
        else if (a == "--quick") s.quick = true;
        else if (a == "--no-scale") s.scale = false;
        else if (a == "--scale-only") s.benchCases = false;
        else if (a == "--reps" && i + 1 < argc) s.reps = std::atoi(argv[++i]);
        else if (a == "--min-time" && i + 1 < argc) s.minTime = std::atof(argv[++i]);
        else if (a == "--json" && i + 1 < argc) s.json = argv[++i];
        else if (a == "--only" && i + 1 < argc) s.only = argv[++i];
        else return Usage();
    }

    const std::string data = std::string(Q32VEX_SOURCE_DIR) + "/tests/data/";
    Image photo1, photo2, gray1;
    if (!LoadPnm(data + "photo1.ppm", &photo1) || !LoadPnm(data + "photo2.ppm", &photo2) ||
        !LoadPnm(data + "gray1.pgm", &gray1)) {
        std::fprintf(stderr, "vexbench: cannot read the photographs in %s\n", data.c_str());
        return 1;
    }
    const Image mosaic = Mosaic({&photo1, &photo2}, s.smoke ? 640 : 4096, s.smoke ? 600 : 4096);

    if (s.benchCases) {
        struct Source {
            std::string name;
            Image colour, grey;
        };
        std::vector<Source> sources;
        if (s.smoke) {
            sources.push_back({"photo1-crop", Crop(photo1, 61, 45), ToGrey(Crop(photo1, 61, 45))});
        } else {
            if (!s.quick) {
                sources.push_back({"photo1", photo1, ToGrey(photo1)});
                sources.push_back({"photo2", photo2, ToGrey(photo2)});
                sources.push_back({"gray1", Image(), gray1});
            }
            sources.push_back({"mosaic4096", mosaic, ToGrey(mosaic)});
        }
        for (const Source& src : sources) {
            for (int quality : {75, 95}) {
                for (int sampling : {3, 2, 0, 1}) {
                    const Image& img = sampling == 3 ? src.grey : src.colour;
                    if (img.pixels.empty()) continue;
                    bench.RunCase(src.name, img, sampling, quality);
                    std::fflush(stdout);
                }
            }
        }
        bench.PrintTable();
    }
    if (s.scale) {
        const std::string path = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") +
                                 "/vexbench_scale_" + std::to_string(getpid()) + ".jpg";
        const std::vector<std::pair<int, int>> sizes =
            s.smoke ? std::vector<std::pair<int, int>>{{100, 100}, {400, 400}, {1000, 1000}}
                    : std::vector<std::pair<int, int>>{{1000, 1000}, {4000, 4000}, {30000, 30000}};
        const Image greyMosaic = ToGrey(mosaic);
        for (int sampling : {3, 1}) {
            for (const auto& size : sizes) {
                if (!bench.RunScale(sampling == 3 ? greyMosaic : mosaic, size.first, size.second, sampling,
                                    bench.ScaleBudget(), path)) {
                    bench.Fail("scale run " + std::to_string(size.first) + "x" + std::to_string(size.second));
                }
            }
        }
        bench.PrintScale();
    }
    bench.WriteJson();
    if (bench.failed) {
        std::fprintf(stderr, "vexbench: some cases failed\n");
        return 1;
    }
    return 0;
}
