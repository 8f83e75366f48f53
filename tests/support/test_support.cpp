#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "../../fuzz/fuzz_host.h"

namespace vextest {

std::vector<q32vex::SimdLevel> VectorSimdLevels() {
    std::vector<q32vex::SimdLevel> levels;
    for (int l = q32vex::kSimdScalar + 1; l < q32vex::kSimdLevelCount; ++l) {
        if (q32vex::SimdLevelRunsHere(q32vex::SimdLevel(l))) levels.push_back(q32vex::SimdLevel(l));
    }
    return levels;
}

MemorySink g_sink;
MemorySource g_source;

constexpr size_t kSinkGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

void ResetSink(uint16_t bufferSize) {
    g_sink = MemorySink();
    g_sink.bufferSize = bufferSize;
}

int16_t VEXAPI SinkWrite(uint8_t** buffer, int32_t position, uint16_t* size, void* reserved) {
    MemorySink& s = g_sink;
    EXPECT_EQ(reserved, nullptr);
    ++s.calls;
    s.log.push_back({position, *size});
    if (s.failAtCall != 0 && s.calls == s.failAtCall) return s.failStatus;
    for (size_t i = s.bufferSize; i < s.buffer.size(); ++i) {
        if (s.buffer[i] != kGuardByte) {
            ADD_FAILURE() << "write past the end of the output buffer";
            break;
        }
    }
    // Take over the finished bytes of the buffer handed out last.
    if (*size != 0) {
        EXPECT_FALSE(s.buffer.empty());
        EXPECT_LE(*size, s.bufferSize);
        const uint32_t n = std::min<uint32_t>(*size, uint32_t(s.buffer.size()));
        if (s.stream.size() < s.bufferPos + n) s.stream.resize(s.bufferPos + n);
        std::memcpy(s.stream.data() + s.bufferPos, s.buffer.data(), n);
    }
    s.bufferPos = position == -1 ? s.bufferPos + *size : uint32_t(position);
    s.buffer.assign(s.bufferSize + kSinkGuard, kGuardByte);
    std::fill(s.buffer.begin(), s.buffer.begin() + s.bufferSize, 0xAA);
    *buffer = s.buffer.data();
    *size = s.bufferSize;
    return 0;
}

void ResetSource(const std::vector<uint8_t>& data, uint16_t chunk) {
    g_source = MemorySource();
    g_source.data = data;
    g_source.chunk = chunk;
}

int16_t VEXAPI SourceRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    MemorySource& s = g_source;
    ++s.calls;
    s.log.push_back({position, *count});
    if (s.failAtCall != 0 && s.calls == s.failAtCall) return s.failStatus;
    if (position != -1) s.pos = uint32_t(position);
    const uint32_t available = s.pos < s.data.size() ? uint32_t(s.data.size() - s.pos) : 0;
    const uint32_t n = std::min<uint32_t>({*count, s.chunk, available});
    // A fresh copy each time, so a library that keeps reading an old buffer
    // shows up under the address sanitizer.
    s.buffer.assign(s.data.begin() + s.pos, s.data.begin() + s.pos + n);
    s.buffer.reserve(1);
    *data = s.buffer.data();
    *count = uint16_t(n);
    s.pos += n;
    // "Nothing follows" goes with the last bytes. A delivery of nothing
    // leaves the flag alone: the library takes that as the end by itself,
    // and reads "no bytes, end flag set" as a host failure.
    if (n > 0 && s.pos >= s.data.size()) *flag = 1;
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

PixelFormatDesc FormatDesc(int index, int16_t* pixelModel) { return vexfuzz::FormatByIndex(index, pixelModel); }

int BytesPerPixel(int formatIndex) {
    static const int kBytes[5] = {2, 3, 4, 1, 4};
    return kBytes[formatIndex];
}

SamplingDesc SamplingOf(int index, int16_t* colorSpace) { return vexfuzz::SamplingByIndex(index, colorSpace); }

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
                const double v = 128 + 90 * std::sin((x + 7 * c) * 0.05 + seed) * std::cos((y - 5 * c) * 0.07);
                p[c] = uint8_t(std::clamp(int(v) + noise(rng), 0, 255));
            }
        }
    }
    return img;
}

bool LoadPnm(const std::string& path, Image* out, int bytesPerPixel) {
    Pnm file;
    if (!ReadPnm(path, &file)) return false;
    const int channels = file.channels;
    out->width = file.width;
    out->height = file.height;
    out->bytesPerPixel = bytesPerPixel;
    out->pixels.assign(size_t(file.width) * file.height * bytesPerPixel, 0);
    for (size_t i = 0; i < size_t(file.width) * file.height; ++i) {
        const uint8_t* s = file.samples.data() + i * channels;
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

std::string DataPath(const std::string& name) { return std::string(Q32VEX_SOURCE_DIR) + "/tests/data/" + name; }

// Band size fields of the record from the options: a band of the whole
// image when none is asked for.
template <class Options>
static void SetBand(AppVexParams* p, const Options& opt) {
    const bool whole = opt.bandWidth == 0 && opt.bandHeight == 0 && opt.bandMemory == 0;
    p->bandWidth = whole ? p->width : opt.bandWidth;
    p->bandHeight = whole ? p->height : opt.bandHeight;
    p->bandMemory = whole ? 0 : opt.bandMemory;
}

int16_t CompressImage(AppVexParams params, const Image& image, const CompressOptions& opt, std::vector<uint8_t>* out) {
    ResetSink(opt.outputBuffer);
    g_sink.failAtCall = opt.failWriteAt;
    g_sink.failStatus = kHostStatus;
    params.writeCallback = SinkWrite;
    SetBand(&params, opt);
    int16_t status = AppVexCompressBuffInit(&params);
    if (status != 0) return status;
    BandRect band = {0, 0, uint16_t(std::min<int>(params.bandWidth, image.width) - 1),
                     uint16_t(std::min<int>(params.bandHeight, image.height) - 1)};
    std::vector<uint8_t> covered(size_t(image.width) * image.height, 0);
    std::mt19937 rng(params.bandWidth * 31u + params.bandHeight);
    const int bpp = image.bytesPerPixel;
    for (int call = 0; call < 10000000; ++call) {
        if (call == opt.abortAfterBands) return AppVexAbort();
        const int w = band.x1 - band.x0 + 1, h = band.y1 - band.y0 + 1;
        const size_t stride = size_t(w) * bpp + 24;
        std::vector<uint8_t> copy(stride * h);
        for (uint8_t& b : copy) b = uint8_t(rng());
        std::vector<uint8_t*> rows(h);
        for (int y = 0; y < h; ++y) {
            rows[y] = copy.data() + y * stride;
            std::memcpy(rows[y], image.row(band.y0 + y) + size_t(band.x0) * bpp, size_t(w) * bpp);
            for (int x = band.x0; x <= band.x1; ++x) ++covered[size_t(band.y0 + y) * image.width + x];
        }
        BandRect next = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        status = AppVexCompressBuff(rows.data(), &next);
        if (status != 0) return status;
        if (next.x0 == 1 && next.x1 == 0) {
            EXPECT_EQ(next.y0, 0xEEEE) << "the finishing call leaves y0 and y1 alone";
            EXPECT_EQ(next.y1, 0xEEEE);
            EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), long(covered.size()))
                << "the bands did not cover the image exactly once";
            *out = g_sink.stream;
            return 0;
        }
        if (opt.bands) opt.bands->push_back(next);
        if (next.x1 >= image.width || next.y1 >= image.height || next.x0 > next.x1 || next.y0 > next.y1) {
            ADD_FAILURE() << "band outside the image: " << next.x0 << "," << next.y0 << " " << next.x1 << ","
                          << next.y1;
            return -1;
        }
        band = next;
    }
    ADD_FAILURE() << "compression did not finish";
    return -1;
}

int16_t DecompressImage(const std::vector<uint8_t>& stream, AppVexParams params, const DecompressOptions& opt,
                        Image* out) {
    params.readCallback = SourceRead;
    ResetSource(stream, opt.inputChunk);
    g_source.failAtCall = opt.failReadAt;
    g_source.failStatus = kHostStatus;
    int16_t status = 0;
    if (params.containerKind != VEX_CONTAINER_RAW) {
        status = AppVexGetCompInfo(&params);
        if (status != 0) return status;
        g_source.pos = 0;
    }
    SetBand(&params, opt);
    status = AppVexDecompressBuffInit(&params);
    if (status != 0) return status;
    const int bpp = vexfuzz::BytesPerPixelOf(params);
    const int ww = params.windowRight - params.windowLeft + 1;
    const int wh = params.windowBottom - params.windowTop + 1;
    out->width = ww;
    out->height = wh;
    out->bytesPerPixel = bpp;
    out->pixels.assign(size_t(ww) * wh * bpp, 0x55);
    // Rows of exactly the band the open wrote back, then guard bytes, and
    // two guard rows below.
    const size_t used = size_t(params.bandWidth) * bpp, stride = used + 16;
    std::vector<uint8_t> band(stride * (params.bandHeight + 2));
    std::vector<uint8_t*> rows(params.bandHeight);
    for (int y = 0; y < params.bandHeight; ++y) rows[y] = band.data() + y * stride;
    for (int call = 0; call < 10000000; ++call) {
        if (call == opt.abortAfterBands) return AppVexAbort();
        std::fill(band.begin(), band.end(), 0xAA);
        BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) return 0;
        if (opt.bands) opt.bands->push_back(r);
        if (r.x1 >= ww || r.y1 >= wh || r.x0 > r.x1 || r.y0 > r.y1 || r.x1 - r.x0 >= params.bandWidth ||
            r.y1 - r.y0 >= params.bandHeight) {
            ADD_FAILURE() << "band rectangle outside the window or the band";
            return -1;
        }
        const size_t filled = size_t(r.x1 - r.x0 + 1) * bpp;
        for (size_t y = 0; y < band.size() / stride; ++y) {
            const uint8_t* row = band.data() + y * stride;
            const size_t from = int(y) <= r.y1 - r.y0 ? filled : 0;
            if (std::any_of(row + from, row + stride, [](uint8_t b) { return b != 0xAA; })) {
                ADD_FAILURE() << "byte written outside the reported rectangle, row " << y;
                return -1;
            }
        }
        for (int y = r.y0; y <= r.y1; ++y) std::memcpy(out->row(y) + size_t(r.x0) * bpp, rows[y - r.y0], filled);
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

bool WritePnm(const std::string& path, const Pnm& image) {
    std::ofstream f(path, std::ios::binary);
    f << (image.channels == 3 ? "P6" : "P5") << "\n" << image.width << " " << image.height << "\n255\n";
    f.write(reinterpret_cast<const char*>(image.samples.data()), std::streamsize(image.samples.size()));
    return bool(f);
}

Pnm Crop(const Pnm& image, int x, int y, int w, int h) {
    Pnm out;
    out.width = std::min(w, image.width - x);
    out.height = std::min(h, image.height - y);
    out.channels = image.channels;
    for (int r = 0; r < out.height; ++r) {
        const uint8_t* s = image.samples.data() + (size_t(y + r) * image.width + x) * image.channels;
        out.samples.insert(out.samples.end(), s, s + size_t(out.width) * image.channels);
    }
    return out;
}

double Psnr(const Pnm& a, const Pnm& b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels || a.samples.empty()) return -1;
    return Psnr(a.samples.data(), b.samples.data(), a.samples.size());
}

Pnm BgrAsPnm(const Image& image) {
    Pnm p{image.width, image.height, image.bytesPerPixel == 1 ? 1 : 3, {}};
    p.samples.reserve(size_t(image.width) * image.height * p.channels);
    for (size_t i = 0; i < size_t(image.width) * image.height; ++i) {
        const uint8_t* px = image.pixels.data() + i * image.bytesPerPixel;
        if (p.channels == 1) {
            p.samples.push_back(px[0]);
        } else {
            p.samples.insert(p.samples.end(), {px[2], px[1], px[0]});
        }
    }
    return p;
}

int DjpegWarnings(const std::vector<uint8_t>& jpeg, Pnm* out, std::string* messages, const std::string& options) {
    static int counter = 0;
    const std::string base = TempPath("djpeg" + std::to_string(++counter));
    int status = -1;
    if (WriteFile(base + ".jpg", jpeg)) {
        status = Run("djpeg " + options + " -outfile " + base + ".pnm " + base + ".jpg 2>" + base + ".txt");
        std::vector<uint8_t> text;
        if (messages != nullptr) *messages = ReadFile(base + ".txt", &text) ? std::string(text.begin(), text.end()) : "";
        if (!ReadPnm(base + ".pnm", out)) status = -1;
    }
    for (const char* suffix : {".jpg", ".pnm", ".txt"}) std::remove((base + suffix).c_str());
    return status;
}

bool Djpeg(const std::vector<uint8_t>& jpeg, Pnm* out, const std::string& options) {
    return DjpegWarnings(jpeg, out, nullptr, options) == 0;
}

bool DjpegDamaged(const std::vector<uint8_t>& jpeg, Pnm* out, bool* warned, const std::string& options) {
    // djpeg exits with 2 when it warned and still wrote the picture.
    const int status = DjpegWarnings(jpeg, out, nullptr, options);
    *warned = status == 2;
    return status == 0 || status == 2;
}

std::vector<uint8_t> Cjpeg(const std::string& options, const std::string& input) {
    static int counter = 0;
    const std::string path = TempPath("cjpeg" + std::to_string(++counter) + ".jpg");
    std::vector<uint8_t> bytes;
    if (Run("cjpeg " + options + " -outfile " + path + " " + input) != 0 || !ReadFile(path, &bytes)) bytes.clear();
    std::remove(path.c_str());
    return bytes;
}

int Run(const std::string& command) {
    const int rc = std::system(command.c_str());
    if (rc == -1) return -1;
    return WEXITSTATUS(rc);
}

bool HaveTool(const std::string& name) { return Run("command -v " + name + " >/dev/null 2>&1") == 0; }

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

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    ReadFile(path, &bytes);
    return bytes;
}

}  // namespace vextest
