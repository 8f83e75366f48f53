#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/allocator.h"

namespace vextest {

MemorySink g_sink;
MemorySource g_source;

void ResetSink(uint16_t bufferSize) {
    g_sink = MemorySink();
    g_sink.bufferSize = bufferSize;
}

int16_t VEXAPI SinkWrite(uint8_t** buffer, int32_t position, uint16_t* size, void* reserved) {
    EXPECT_EQ(reserved, nullptr);
    ++g_sink.calls;
    if (g_sink.failAtCall != 0 && g_sink.calls == g_sink.failAtCall) return g_sink.failStatus;
    // Take over the finished bytes of the buffer handed out last.
    if (*size != 0) {
        EXPECT_FALSE(g_sink.buffer.empty());
        EXPECT_LE(*size, g_sink.buffer.size());
        const uint32_t end = g_sink.bufferPos + *size;
        if (g_sink.stream.size() < end) g_sink.stream.resize(end);
        std::memcpy(g_sink.stream.data() + g_sink.bufferPos, g_sink.buffer.data(), *size);
    }
    const uint32_t next = position == -1 ? g_sink.bufferPos + *size : uint32_t(position);
    g_sink.bufferPos = next;
    g_sink.buffer.assign(g_sink.bufferSize, 0xAA);
    *buffer = g_sink.buffer.data();
    *size = g_sink.bufferSize;
    return 0;
}

void ResetSource(const std::vector<uint8_t>& data, uint16_t chunk) {
    g_source = MemorySource();
    g_source.data = data;
    g_source.chunk = chunk;
}

int16_t VEXAPI SourceRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    ++g_source.calls;
    if (g_source.failAtCall != 0 && g_source.calls == g_source.failAtCall) return g_source.failStatus;
    if (position != -1) g_source.pos = uint32_t(position);
    const uint32_t available =
        g_source.pos < g_source.data.size() ? uint32_t(g_source.data.size() - g_source.pos) : 0;
    const uint32_t n = std::min<uint32_t>({*count, g_source.chunk, available});
    // A fresh copy each time, so a library that keeps reading an old buffer
    // shows up under the address sanitizer.
    g_source.buffer.assign(g_source.data.begin() + g_source.pos,
                           g_source.data.begin() + g_source.pos + n);
    if (g_source.buffer.empty()) g_source.buffer.reserve(1);
    *data = g_source.buffer.data();
    *count = uint16_t(n);
    g_source.pos += n;
    // "Nothing follows" goes with the last bytes. A delivery of nothing
    // leaves the flag alone: the library takes that as the end by itself,
    // and reads "no bytes, end flag set" as a host failure.
    if (n > 0 && g_source.pos >= g_source.data.size()) *flag = 1;
    return 0;
}

void LibraryTest::TearDown() {
    AppVexAbort();
    EXPECT_EQ(AppVexDeallocate(), 0);
    const q32vex::AllocatorStats stats = q32vex::GetAllocatorStats();
    EXPECT_EQ(stats.liveBlocks, 0) << "library blocks leaked";
    EXPECT_EQ(stats.liveBytes, 0);
    q32vex::FailAllocationAfter(0);
}

PixelFormatDesc FormatDesc(int index, int16_t* pixelModel) {
    static const PixelFormatDesc kDescs[5] = {
        {{5, 5, 5, 0}, {0, 0, 1, 0}}, {{8, 8, 8, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 0}, {0, 0, 8, 0}},
        {{8, 0, 0, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 8}, {0, 0, 0, 0}},
    };
    static const int16_t kModels[5] = {0, 0, 0, 1, 2};
    if (pixelModel) *pixelModel = kModels[index];
    return kDescs[index];
}

int BytesPerPixel(int formatIndex) {
    static const int kBytes[5] = {2, 3, 4, 1, 4};
    return kBytes[formatIndex];
}

SamplingDesc SamplingOf(int index, int16_t* colorSpace) {
    static const SamplingDesc kSamplings[7] = {
        {{2, 1, 1, 0}, {1, 1, 1, 0}}, {{2, 1, 1, 0}, {2, 1, 1, 0}}, {{1, 1, 1, 0}, {1, 1, 1, 0}},
        {{1, 0, 0, 0}, {1, 0, 0, 0}}, {{2, 1, 1, 2}, {2, 1, 1, 2}}, {{1, 1, 1, 1}, {1, 1, 1, 1}},
        {{4, 1, 1, 0}, {1, 1, 1, 0}},
    };
    static const int16_t kSpaces[7] = {0, 0, 0, 1, 3, 3, 0};
    if (colorSpace) *colorSpace = kSpaces[index];
    return kSamplings[index];
}

Image MakeTestImage(int width, int height, int bytesPerPixel, uint32_t seed) {
    Image img;
    img.width = width;
    img.height = height;
    img.bytesPerPixel = bytesPerPixel;
    img.pixels.resize(size_t(width) * height * bytesPerPixel);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = img.row(y) + size_t(x) * bytesPerPixel;
            for (int c = 0; c < bytesPerPixel; ++c) {
                const double v = 128 + 90 * std::sin((x + 7 * c) * 0.05 + seed) *
                                           std::cos((y - 5 * c) * 0.07);
                p[c] = uint8_t(std::clamp(int(v) + noise(rng), 0, 255));
            }
        }
    }
    return img;
}

bool LoadPnm(const std::string& path, Image* out, int bytesPerPixel) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    f >> magic >> w >> h >> maxval;
    f.get();
    if ((magic != "P6" && magic != "P5") || maxval != 255 || w <= 0 || h <= 0) return false;
    const int channels = magic == "P6" ? 3 : 1;
    std::vector<uint8_t> raw(size_t(w) * h * channels);
    f.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()));
    if (!f) return false;
    out->width = w;
    out->height = h;
    out->bytesPerPixel = bytesPerPixel;
    out->pixels.assign(size_t(w) * h * bytesPerPixel, 0);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        const uint8_t* s = raw.data() + i * channels;
        uint8_t* d = out->pixels.data() + i * bytesPerPixel;
        const uint8_t r = s[0], g = s[channels > 1 ? 1 : 0], b = s[channels > 1 ? 2 : 0];
        if (bytesPerPixel == 1) {
            d[0] = channels == 1 ? s[0] : uint8_t((r * 299 + g * 587 + b * 114) / 1000);
        } else if (bytesPerPixel == 2) {
            const uint16_t word = uint16_t((b >> 3) | ((g >> 3) << 5) | ((r >> 3) << 10));
            d[0] = uint8_t(word);
            d[1] = uint8_t(word >> 8);
        } else {
            d[0] = b;
            d[1] = g;
            d[2] = r;
            if (bytesPerPixel == 4) d[3] = uint8_t(r ^ b);
        }
    }
    return true;
}

std::string DataPath(const std::string& name) {
    return std::string(Q32VEX_SOURCE_DIR) + "/tests/data/" + name;
}

int16_t CompressImage(AppVexParams params, const Image& image, const CompressOptions& opt,
                      std::vector<uint8_t>* out) {
    ResetSink(opt.outputBuffer);
    params.writeCallback = SinkWrite;
    if (opt.bandWidth == 0 && opt.bandHeight == 0 && opt.bandMemory == 0) {
        params.bandWidth = params.width;
        params.bandHeight = params.height;
    } else {
        params.bandWidth = opt.bandWidth;
        params.bandHeight = opt.bandHeight;
        params.bandMemory = opt.bandMemory;
    }
    int16_t status = AppVexCompressBuffInit(&params);
    if (status != 0) return status;
    BandRect band = {0, 0, uint16_t(params.bandWidth - 1), uint16_t(params.bandHeight - 1)};
    band.x1 = uint16_t(std::min<int>(band.x1, image.width - 1));
    band.y1 = uint16_t(std::min<int>(band.y1, image.height - 1));
    std::vector<uint8_t*> rows;
    for (int guard = 0; guard < 10000000; ++guard) {
        rows.clear();
        for (int y = band.y0; y <= band.y1; ++y)
            rows.push_back(const_cast<uint8_t*>(image.row(y)) + size_t(band.x0) * image.bytesPerPixel);
        BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        status = AppVexCompressBuff(rows.data(), &next);
        if (status != 0) return status;
        if (next.x0 == 1 && next.x1 == 0) {
            *out = g_sink.stream;
            return 0;
        }
        EXPECT_LE(next.x1, image.width - 1);
        EXPECT_LE(next.y1, image.height - 1);
        band = next;
    }
    ADD_FAILURE() << "compression did not finish";
    return -1;
}

int16_t DecompressImage(const std::vector<uint8_t>& stream, AppVexParams params,
                        const DecompressOptions& opt, Image* out) {
    params.readCallback = SourceRead;
    ResetSource(stream, opt.inputChunk);
    int16_t status = AppVexGetCompInfo(&params);
    if (status != 0) return status;
    ResetSource(stream, opt.inputChunk);
    if (opt.bandWidth == 0 && opt.bandHeight == 0 && opt.bandMemory == 0) {
        params.bandWidth = params.width;
        params.bandHeight = params.height;
        params.bandMemory = 0;
    } else {
        params.bandWidth = opt.bandWidth;
        params.bandHeight = opt.bandHeight;
        params.bandMemory = opt.bandMemory;
    }
    status = AppVexDecompressBuffInit(&params);
    if (status != 0) return status;
    int bits = 0;
    const int channels = params.pixelModel == 1 ? 1 : params.pixelModel == 2 ? 4 : 3;
    for (int c = 0; c < channels; ++c) bits += params.pixelFormat.bits[c] + params.pixelFormat.pad[c];
    const int bpp = bits / 8;
    const int ww = params.windowRight - params.windowLeft + 1;
    const int wh = params.windowBottom - params.windowTop + 1;
    out->width = ww;
    out->height = wh;
    out->bytesPerPixel = bpp;
    out->pixels.assign(size_t(ww) * wh * bpp, 0x55);
    const int bandW = std::max<int>(params.bandWidth, 1), bandH = std::max<int>(params.bandHeight, 1);
    std::vector<uint8_t> bandBuf(size_t(bandW) * bandH * bpp);
    std::vector<uint8_t*> rows(bandH);
    for (int y = 0; y < bandH; ++y) rows[y] = bandBuf.data() + size_t(y) * bandW * bpp;
    for (int guard = 0; guard < 10000000; ++guard) {
        std::fill(bandBuf.begin(), bandBuf.end(), 0xAA);
        BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) return 0;
        EXPECT_LE(r.x1, ww - 1);
        EXPECT_LE(r.y1, wh - 1);
        EXPECT_LE(r.y1 - r.y0 + 1, bandH);
        EXPECT_LE(r.x1 - r.x0 + 1, bandW);
        if (r.x1 >= ww || r.y1 >= wh || r.x0 > r.x1 || r.y0 > r.y1) return -1;
        for (int y = r.y0; y <= r.y1; ++y)
            std::memcpy(out->row(y) + size_t(r.x0) * bpp, rows[y - r.y0], size_t(r.x1 - r.x0 + 1) * bpp);
    }
    ADD_FAILURE() << "decompression did not finish";
    return -1;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

int Run(const std::string& command) {
    const int rc = std::system(command.c_str());
    if (rc == -1) return -1;
    return WEXITSTATUS(rc);
}

bool HaveTool(const std::string& name) {
    return Run("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir ? dir : "/tmp";
    return base + "/q32vex_" + std::to_string(::getpid()) + "_" + name;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace vextest
