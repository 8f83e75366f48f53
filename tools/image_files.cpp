// Image files of the command-line tool. Every header field is checked
// before anything is allocated, with sizes computed in 64 bits, so a hostile
// header cannot ask for more memory than a row; where the input can tell its
// size, pixel data that would run past its end is refused before any row is
// read.
#include "image_files.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <limits>

#ifdef VEXJPEG_HAVE_PNG
#include <png.h>
#endif

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace vexjpeg {

using q32vex::Image;
using q32vex::PixelFormat;

namespace {

// The library codes images of at most 65535 x 65535 pixels.
constexpr uint64_t kMaxSide = 65535;
// A whole image held in memory (ReadImage, and PNG files decoded whole) is
// at most 2^28 pixels, about 1 GiB at four bytes each.
constexpr uint64_t kMaxWholePixels = uint64_t(1) << 28;

[[noreturn]] void Fail(const std::string& message) { throw ImageFileError{message}; }

void CheckSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) Fail("the image has no pixels");
    if (width > kMaxSide || height > kMaxSide)
        Fail("the image is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; at most 65535 each way is supported");
}

void CheckWholeSize(uint64_t width, uint64_t height) {
    if (width * height > kMaxWholePixels)
        Fail("the image has " + std::to_string(width * height) + " pixels; at most " +
             std::to_string(kMaxWholePixels) + " can be held whole");
}

// Refuses pixel data that would end past the end of an input that knows its
// size; `what` names the file kind.
void CheckFits(InputFile& in, uint64_t offset, uint64_t bytes, const char* what) {
    if (!in.Seekable()) return;
    const uint64_t size = in.Size();
    if (offset > size || bytes > size - offset)
        Fail(std::string(what) + " file is truncated: " + std::to_string(bytes) + " bytes of pixels expected, " +
             std::to_string(offset > size ? 0 : size - offset) + " present");
}

void ReadRowBytes(InputFile& in, uint8_t* out, size_t n, const char* what) {
    if (in.Read(out, n) != n) Fail(std::string(what) + " file is truncated: its pixel rows end early");
}

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
void PutLe16(uint8_t* out, uint32_t v) {
    out[0] = uint8_t(v);
    out[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* out, uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out + 2, v >> 16);
}

// Red-green-blue triples to blue-green-red (and back: the same swap), the
// most of a PPM row's cost. Sixteen pixels a step where the processor has
// SSSE3: three 16-byte loads, and each output vector gathered by byte
// shuffles from the (at most three) input vectors its bytes come from; the
// last pixels go through the plain loop. Works in place.
void SwapRedBlueScalar(const uint8_t* in, uint8_t* out, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t first = in[3 * i];
        out[3 * i] = in[3 * i + 2];
        out[3 * i + 1] = in[3 * i + 1];
        out[3 * i + 2] = first;
    }
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
// masks[o][v]: output vector o's bytes taken from input vector v (0x80, which
// gives 0, where they come from another).
struct SwapMasks {
    alignas(16) uint8_t masks[3][3][16];
    SwapMasks() {
        for (int j = 0; j < 48; ++j) {
            const int from = 3 * (j / 3) + 2 - j % 3;
            for (int v = 0; v < 3; ++v) masks[j / 16][v][j % 16] = from / 16 == v ? uint8_t(from % 16) : 0x80;
        }
    }
};

__attribute__((target("ssse3"))) inline __m128i SwapMask(const SwapMasks& swap, int o, int v) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(swap.masks[o][v]));
}

__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const uint8_t* in, uint8_t* out, size_t pixels) {
    static const SwapMasks swap;
    const __m128i m00 = SwapMask(swap, 0, 0), m01 = SwapMask(swap, 0, 1), m10 = SwapMask(swap, 1, 0);
    const __m128i m11 = SwapMask(swap, 1, 1), m12 = SwapMask(swap, 1, 2);
    const __m128i m21 = SwapMask(swap, 2, 1), m22 = SwapMask(swap, 2, 2);
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i + 32));
        const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01));
        const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)),
                                        _mm_shuffle_epi8(c, m12));
        const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), o0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i + 16), o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i + 32), o2);
    }
    SwapRedBlueScalar(in + 3 * i, out + 3 * i, pixels - i);
}

void SwapRedBlue(const uint8_t* in, uint8_t* out, size_t pixels) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) SwapRedBlueSsse3(in, out, pixels);
    else SwapRedBlueScalar(in, out, pixels);
}
#else
void SwapRedBlue(const uint8_t* in, uint8_t* out, size_t pixels) { SwapRedBlueScalar(in, out, pixels); }
#endif

uint8_t Expand5(uint32_t c) { return uint8_t((c << 3) | (c >> 2)); }
uint8_t Expand6(uint32_t c) { return uint8_t((c << 2) | (c >> 4)); }

// ---- PNM -----------------------------------------------------------------------

class PnmReader : public ImageReader {
public:
    explicit PnmReader(InputFile& in) : in_(in) {
        uint8_t magic[2] = {0, 0};
        if (in_.Read(magic, 2) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6'))
            Fail("not a binary PPM (P6) or PGM (P5) file");
        channels_ = magic[1] == '6' ? 3 : 1;
        const uint64_t w = Number("width");
        const uint64_t h = Number("height");
        maxval_ = Number("maximum value");
        // The single whitespace byte that ends the header.
        if (!IsSpace(next_) || next_ == '\v' || next_ == '\f') Fail("PNM header: bad end of header");
        if (maxval_ == 0 || maxval_ > 65535) Fail("PNM maximum value must be 1 to 65535");
        CheckSize(w, h);
        width = int(w);
        height = int(h);
        format = channels_ == 3 ? PixelFormat::Bgr24 : PixelFormat::Gray8;
        sampleBytes_ = maxval_ > 255 ? 2 : 1;
        raw_.resize(size_t(w) * channels_ * sampleBytes_);
        CheckFits(in_, in_.Position(), uint64_t(raw_.size()) * h, "PNM");
    }

    void ReadRow(uint8_t* row) override {
        ReadRowBytes(in_, raw_.data(), raw_.size(), "PNM");
        const size_t samples = size_t(width) * channels_;
        if (maxval_ == 255) {
            // The usual file: bytes as they are, red and blue swapped.
            if (channels_ == 1) {
                std::memcpy(row, raw_.data(), samples);
            } else {
                SwapRedBlue(raw_.data(), row, size_t(width));
            }
            return;
        }
        for (size_t i = 0; i < samples; ++i) {
            uint32_t v = sampleBytes_ == 2 ? (uint32_t(raw_[2 * i]) << 8 | raw_[2 * i + 1]) : raw_[i];
            if (v > maxval_) v = maxval_;
            const uint8_t s = maxval_ == 255 ? uint8_t(v) : uint8_t((v * 255 + maxval_ / 2) / maxval_);
            // PPM holds red, green, blue; the library's rows are blue first.
            row[channels_ == 3 ? (i - i % 3) + 2 - i % 3 : i] = s;
        }
    }

private:
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    int Next() {
        uint8_t c = 0;
        return in_.Read(&c, 1) == 1 ? c : -1;
    }
    // The next decimal field, after whitespace and comments; leaves the byte
    // after it in next_.
    uint64_t Number(const char* what) {
        int c = Next();
        for (;;) {
            if (c < 0) Fail(std::string("PNM header ends before its ") + what);
            if (c == '#') {
                while (c >= 0 && c != '\n' && c != '\r') c = Next();
            } else if (IsSpace(c)) {
                c = Next();
            } else {
                break;
            }
        }
        if (c < '0' || c > '9') Fail(std::string("PNM header: bad ") + what);
        uint64_t value = 0;
        while (c >= '0' && c <= '9') {
            value = value * 10 + uint64_t(c - '0');
            if (value > 0xFFFFFFFFu) Fail(std::string("PNM header: ") + what + " is too large");
            c = Next();
        }
        next_ = c;
        if (c < 0) Fail("PNM file has no pixel data");
        return value;
    }

    InputFile& in_;
    int channels_ = 3;
    uint32_t maxval_ = 255;
    size_t sampleBytes_ = 1;
    int next_ = -1;
    std::vector<uint8_t> raw_;
};

class PnmWriter : public ImageWriter {
public:
    PnmWriter(OutputFile& out, bool gray, int width, PixelFormat pixels, int height)
        : out_(out), gray_(gray), width_(width), pixels_(pixels), line_(size_t(width) * (gray ? 1 : 3)) {
        if (gray && pixels != PixelFormat::Gray8)
            Fail("PGM holds grey images only; write a colour image as .ppm, .png or .bmp");
        if (pixels == PixelFormat::Four8) Fail("PPM cannot hold four-component images; use .png");
        const std::string header = std::string(gray ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                                   std::to_string(height) + "\n255\n";
        out_.Write(header.data(), header.size());
    }
    void WriteRow(const uint8_t* row) override {
        if (gray_) {
            out_.Write(row, size_t(width_));
            return;
        }
        const uint8_t* bgr = row;
        if (pixels_ != PixelFormat::Bgr24) {
            RowToBgr24(row, pixels_, width_, line_.data());
            bgr = line_.data();
        }
        // PPM holds red, green, blue.
        SwapRedBlue(bgr, line_.data(), size_t(width_));
        out_.Write(line_.data(), line_.size());
    }

private:
    OutputFile& out_;
    bool gray_;
    int width_;
    PixelFormat pixels_;
    std::vector<uint8_t> line_;
};

// ---- BMP -----------------------------------------------------------------------

class BmpReader : public ImageReader {
public:
    explicit BmpReader(InputFile& in) : in_(in) {
        // Bottom-up rows (a positive height) are read from the end back,
        // which needs an input that seeks: a pipe is copied aside first.
        const std::vector<uint8_t> peek = in_.Peek(26);
        if (peek.size() == 26 && int32_t(Le32(&peek[22])) > 0) in_.MakeSeekable();
        uint8_t fixed[54];
        if (in_.Read(fixed, sizeof fixed) != sizeof fixed || fixed[0] != 'B' || fixed[1] != 'M')
            Fail("not a BMP file");
        dataOffset_ = Le32(&fixed[10]);
        const uint32_t infoSize = Le32(&fixed[14]);
        const int32_t rawWidth = int32_t(Le32(&fixed[18]));
        const int32_t rawHeight = int32_t(Le32(&fixed[22]));
        const uint32_t planes = Le16(&fixed[26]);
        bitCount_ = Le16(&fixed[28]);
        const uint32_t compression = Le32(&fixed[30]);
        const uint32_t colorsUsed = Le32(&fixed[46]);
        if (infoSize < 40 || infoSize > 0x10000) Fail("BMP: unsupported or damaged info header");
        if (planes != 1) Fail("BMP: plane count is not 1");
        if (rawWidth <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<int32_t>::min())
            Fail("BMP: bad image size");
        topDown_ = rawHeight < 0;
        const uint64_t w = uint64_t(rawWidth);
        const uint64_t h = topDown_ ? uint64_t(-int64_t(rawHeight)) : uint64_t(rawHeight);
        CheckSize(w, h);
        width = int(w);
        height = int(h);

        // The rest of the info header, the channel masks or the palette: all
        // of it lies before the pixel data, and only so much is read.
        const uint64_t headerEnd = 14 + uint64_t(infoSize);
        uint64_t keep = headerEnd + (compression == 3 && infoSize == 40 ? 12 : 0) + (bitCount_ == 8 ? 1024 : 0);
        keep = std::min<uint64_t>(keep, dataOffset_);
        if (dataOffset_ < 54) Fail("BMP: pixel data overlaps the header");
        std::vector<uint8_t> head(fixed, fixed + 54);
        head.resize(size_t(std::max<uint64_t>(keep, 54)));
        if (keep > 54 && in_.Read(head.data() + 54, head.size() - 54) != head.size() - 54)
            Fail("BMP: unsupported or damaged info header");

        uint32_t masks[3] = {0, 0, 0};
        if (compression == 3) {
            if (14 + 40 + 12 > head.size()) Fail("BMP: channel masks missing");
            for (int i = 0; i < 3; ++i) masks[i] = Le32(&head[14 + 40 + 4 * size_t(i)]);
        } else if (compression != 0) {
            Fail("BMP: compressed BMP files (RLE, JPEG, PNG) are not supported");
        }
        switch (bitCount_) {
            case 8: format = PixelFormat::Bgr24; break;
            case 16:
                format = PixelFormat::Bgr555;
                if (compression == 3) {
                    if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) {
                        is565_ = true;
                        format = PixelFormat::Bgr24;
                    } else if (!(masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F)) {
                        Fail("BMP: 16-bit channel masks other than 5-5-5 and 5-6-5 are not supported");
                    }
                }
                break;
            case 24:
                if (compression != 0) Fail("BMP: 24-bit files cannot have channel masks");
                format = PixelFormat::Bgr24;
                break;
            case 32:
                format = PixelFormat::Bgrx32;
                if (compression == 3 && !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF))
                    Fail("BMP: 32-bit channel masks other than 8-8-8 are not supported");
                break;
            default:
                Fail("BMP: " + std::to_string(bitCount_) + " bits per pixel is not supported (8, 16, 24, 32 are)");
        }
        if (bitCount_ == 8 && compression != 0) Fail("BMP: 8-bit files cannot have channel masks");

        if (bitCount_ == 8) {
            const uint64_t entries = colorsUsed == 0 ? 256 : colorsUsed;
            if (entries > 256) Fail("BMP: palette larger than 256 entries");
            if (headerEnd + entries * 4 > dataOffset_ || headerEnd + entries * 4 > head.size())
                Fail("BMP: palette overlaps the pixel data");
            palette_.assign(256 * 3, 0);
            for (uint64_t i = 0; i < entries; ++i) {
                const uint8_t* e = &head[size_t(headerEnd + i * 4)];
                std::memcpy(&palette_[size_t(i) * 3], e, 3);
                if (e[0] != i || e[1] != i || e[2] != i) grayPalette_ = false;
            }
            if (grayPalette_) format = PixelFormat::Gray8;
        }

        stride_ = (w * bitCount_ + 31) / 32 * 4;
        raw_.resize(size_t(stride_));
        if (!topDown_ && !in_.Seekable()) Fail("BMP: bottom-up rows need an input that seeks");
        CheckFits(in_, dataOffset_, stride_ * h, "BMP");
        if (topDown_) Skip(dataOffset_ - in_.Position());
    }

    void ReadRow(uint8_t* dst) override {
        if (!topDown_) in_.Seek(dataOffset_ + stride_ * uint64_t(height - 1 - y_));
        ++y_;
        ReadRowBytes(in_, raw_.data(), raw_.size(), "BMP");
        const uint8_t* src = raw_.data();
        if (bitCount_ == 8) {
            for (int x = 0; x < width; ++x) {
                if (grayPalette_) {
                    dst[x] = src[x];
                } else {
                    std::memcpy(dst + x * 3, &palette_[size_t(src[x]) * 3], 3);
                }
            }
        } else if (is565_) {
            for (int x = 0; x < width; ++x) {
                const uint32_t w = Le16(src + 2 * x);
                dst[x * 3] = Expand5(w & 31);
                dst[x * 3 + 1] = Expand6((w >> 5) & 63);
                dst[x * 3 + 2] = Expand5(w >> 11);
            }
        } else {
            std::memcpy(dst, src, size_t(width) * size_t(q32vex::bytes_per_pixel(format)));
            if (format == PixelFormat::Bgr555)  // the top bit is padding
                for (int x = 0; x < width; ++x) dst[x * 2 + 1] &= 0x7F;
        }
    }

private:
    void Skip(uint64_t n) {
        uint8_t chunk[4096];
        while (n > 0) {
            const size_t k = size_t(std::min<uint64_t>(n, sizeof chunk));
            if (in_.Read(chunk, k) != k) Fail("BMP file is truncated: its pixel rows end past the end of the file");
            n -= k;
        }
    }

    InputFile& in_;
    uint64_t dataOffset_ = 0;
    uint32_t bitCount_ = 24;
    bool topDown_ = false;
    bool is565_ = false;
    bool grayPalette_ = true;
    uint64_t stride_ = 0;
    int y_ = 0;
    std::vector<uint8_t> palette_;  // blue, green, red per entry
    std::vector<uint8_t> raw_;
};

class BmpWriter : public ImageWriter {
public:
    BmpWriter(OutputFile& out, int width, int height, PixelFormat pixels) : out_(out), height_(height) {
        if (pixels == PixelFormat::Four8) Fail("BMP cannot hold four-component images; use .png");
        bpp_ = q32vex::bytes_per_pixel(pixels);
        const uint32_t bitCount = uint32_t(bpp_ * 8);
        stride_ = (uint32_t(width) * bitCount + 31) / 32 * 4;
        rowBytes_ = size_t(width) * size_t(bpp_);
        const uint32_t paletteBytes = pixels == PixelFormat::Gray8 ? 256 * 4 : 0;
        const uint64_t dataBytes = uint64_t(stride_) * uint32_t(height);
        if (dataBytes > 0xFFFFFFFFu - 54 - paletteBytes) Fail("image too large for a BMP file");
        dataOffset_ = 54 + paletteBytes;
        // Rows go bottom-up, the usual order, where the output can seek;
        // otherwise top-down, which a negative height announces.
        bottomUp_ = out_.Seekable();
        std::vector<uint8_t> h(dataOffset_, 0);
        h[0] = 'B';
        h[1] = 'M';
        PutLe32(&h[2], uint32_t(dataOffset_ + dataBytes));
        PutLe32(&h[10], dataOffset_);
        PutLe32(&h[14], 40);
        PutLe32(&h[18], uint32_t(width));
        PutLe32(&h[22], bottomUp_ ? uint32_t(height) : uint32_t(-int64_t(height)));
        PutLe16(&h[26], 1);
        PutLe16(&h[28], bitCount);
        PutLe32(&h[30], 0);  // BI_RGB: 16-bit rows are 5-5-5
        PutLe32(&h[34], uint32_t(dataBytes));
        PutLe32(&h[38], 2835);  // 72 dpi
        PutLe32(&h[42], 2835);
        PutLe32(&h[46], paletteBytes ? 256 : 0);
        for (uint32_t i = 0; i < paletteBytes / 4; ++i) h[54 + 4 * i] = h[55 + 4 * i] = h[56 + 4 * i] = uint8_t(i);
        out_.Write(h.data(), h.size());
        line_.assign(stride_, 0);
    }
    void WriteRow(const uint8_t* row) override {
        std::memcpy(line_.data(), row, rowBytes_);
        const uint64_t index = bottomUp_ ? uint64_t(height_ - 1 - y_) : uint64_t(y_);
        ++y_;
        out_.WriteAt(dataOffset_ + index * stride_, line_.data(), line_.size());
    }

private:
    OutputFile& out_;
    int height_;
    int bpp_ = 3;
    uint32_t stride_ = 0;
    size_t rowBytes_ = 0;
    uint32_t dataOffset_ = 54;
    bool bottomUp_ = true;
    int y_ = 0;
    std::vector<uint8_t> line_;
};

// ---- PNG -----------------------------------------------------------------------

#ifdef VEXJPEG_HAVE_PNG
struct PngFailure {
    std::string message;
};

void PngError(png_structp png, png_const_charp message) {
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep data, png_size_t n) {
    auto* in = static_cast<InputFile*>(png_get_io_ptr(png));
    size_t got = 0;
    try {
        got = in->Read(data, n);
    } catch (const FileError& e) {
        png_error(png, e.message.c_str());  // no exception may cross libpng
    }
    if (got != n) png_error(png, "the file is truncated");
}

// The whole file at once through libpng's simplified interface, which takes
// every kind of PNG: transparent pixels are composited onto white, as a
// viewer shows them.
class WholePngReader : public ImageReader {
public:
    WholePngReader(const std::vector<uint8_t>& bytes, Metadata found) {
        metadata = std::move(found);
        png_image png;
        std::memset(&png, 0, sizeof png);
        png.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()))
            Fail(std::string("PNG: ") + png.message);
        try {
            CheckSize(png.width, png.height);
            CheckWholeSize(png.width, png.height);
        } catch (...) {
            png_image_free(&png);
            throw;
        }
        const bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
        png.format = color ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
        width = int(png.width);
        height = int(png.height);
        format = color ? PixelFormat::Bgr24 : PixelFormat::Gray8;
        rowBytes_ = size_t(width) * (color ? 3 : 1);
        pixels_.resize(rowBytes_ * size_t(height));
        png_color background = {255, 255, 255};
        if (!png_image_finish_read(&png, &background, pixels_.data(), 0, nullptr))
            Fail(std::string("PNG: ") + png.message);
    }
    void ReadRow(uint8_t* row) override {
        std::memcpy(row, pixels_.data() + rowBytes_ * size_t(y_++), rowBytes_);
    }

private:
    size_t rowBytes_ = 0;
    int y_ = 0;
    std::vector<uint8_t> pixels_;
};

// Row by row through libpng's progressive interface, for the PNG files that
// need no whole-image step: 8 bits or fewer per sample, not interlaced,
// without transparency. Those decode exactly as the simplified interface
// decodes them.
class RowPngReader : public ImageReader {
public:
    // Null when the file needs the whole-image reader; `found` receives the
    // metadata of its header either way.
    static std::unique_ptr<ImageReader> Open(InputFile& in, Metadata* found) {
        std::unique_ptr<RowPngReader> r(new RowPngReader(in));
        const bool rows = r->Start();
        *found = r->metadata;
        if (!rows) return nullptr;
        return r;
    }
    ~RowPngReader() override { png_destroy_read_struct(&png_, &info_, nullptr); }

    void ReadRow(uint8_t* row) override {
        if (setjmp(png_jmpbuf(png_))) Fail("PNG: " + error_);
        png_read_row(png_, row, nullptr);
        if (format == PixelFormat::Bgr24) {
            // libpng gives red, green, blue.
            for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
        }
    }

private:
    explicit RowPngReader(InputFile& in) : in_(in) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error_, PngError, PngWarning);
        if (png_ == nullptr) Fail("PNG: out of memory");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) Fail("PNG: out of memory");
    }
    bool Start() {
        if (setjmp(png_jmpbuf(png_))) Fail("PNG: " + error_);
        png_set_read_fn(png_, &in_, PngRead);
        png_read_info(png_, info_);
        ReadMetadata();
        const png_uint_32 w = png_get_image_width(png_, info_);
        const png_uint_32 h = png_get_image_height(png_, info_);
        const int depth = png_get_bit_depth(png_, info_);
        const int type = png_get_color_type(png_, info_);
        // A stated gamma other than sRGB's makes the simplified interface
        // convert the samples; such files take the whole-image path too.
        png_fixed_point gamma = 0;
        const bool otherGamma = png_get_gAMA_fixed(png_, info_, &gamma) != 0 && std::abs(gamma - 45455) > 100;
        if (depth > 8 || png_get_interlace_type(png_, info_) != PNG_INTERLACE_NONE ||
            png_get_valid(png_, info_, PNG_INFO_tRNS) || (type & PNG_COLOR_MASK_ALPHA) != 0 || otherGamma)
            return false;
        CheckSize(w, h);
        width = int(w);
        height = int(h);
        if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
        if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png_);
        png_read_update_info(png_, info_);
        format = (type & PNG_COLOR_MASK_COLOR) != 0 ? PixelFormat::Bgr24 : PixelFormat::Gray8;
        return true;
    }

    // The chunks before the pixel data; an eXIf chunk after them would come
    // too late for a JPEG header written before the first row.
    void ReadMetadata() {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png_, info_, &name, &compression, &profile, &length) != 0 && profile != nullptr)
            metadata.icc.assign(profile, profile + length);
#ifdef PNG_eXIf_SUPPORTED
        png_bytep exif = nullptr;
        png_uint_32 exifLength = 0;
        if (png_get_eXIf_1(png_, info_, &exifLength, &exif) != 0 && exif != nullptr)
            metadata.exif.assign(exif, exif + exifLength);
#endif
    }

    InputFile& in_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    std::string error_;
};

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<OutputFile*>(png_get_io_ptr(png));
    try {
        out->Write(data, n);
    } catch (const FileError& e) {
        png_error(png, e.message.c_str());
    }
}
void PngFlush(png_structp) {}

class PngWriter : public ImageWriter {
public:
    PngWriter(OutputFile& out, int width, int height, PixelFormat pixels, const Metadata& metadata)
        : width_(width), pixels_(pixels) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, PngError, PngWarning);
        if (png_ == nullptr) Fail("PNG: out of memory");
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) Fail("PNG: out of memory");
        if (setjmp(png_jmpbuf(png_))) Fail("PNG: " + error_);
        png_set_write_fn(png_, &out, PngWrite, PngFlush);
        // Four components go out as they are, as red, green, blue and alpha.
        const int type = pixels == PixelFormat::Gray8   ? PNG_COLOR_TYPE_GRAY
                         : pixels == PixelFormat::Four8 ? PNG_COLOR_TYPE_RGBA
                                                        : PNG_COLOR_TYPE_RGB;
        png_set_IHDR(png_, info_, png_uint_32(width), png_uint_32(height), 8, type, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // libpng checks a profile against the image (its colour space, its
        // header and tag table); one it finds unfit is left out, with the
        // image still written, rather than failing the whole file.
        png_set_benign_errors(png_, 1);
        if (!metadata.icc.empty())
            png_set_iCCP(png_, info_, "ICC profile", PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                         png_uint_32(metadata.icc.size()));
#ifdef PNG_eXIf_SUPPORTED
        if (!metadata.exif.empty())
            png_set_eXIf_1(png_, info_, png_uint_32(metadata.exif.size()), const_cast<png_bytep>(metadata.exif.data()));
#endif
        png_write_info(png_, info_);
        if (type == PNG_COLOR_TYPE_RGB) {
            png_set_bgr(png_);
            line_.resize(size_t(width) * 3);
        }
    }
    ~PngWriter() override { png_destroy_write_struct(&png_, &info_); }
    void WriteRow(const uint8_t* row) override {
        const uint8_t* pixels = row;
        if (!line_.empty()) {
            RowToBgr24(row, pixels_, width_, line_.data());
            pixels = line_.data();
        }
        Write(pixels);
    }
    void Finish() override {
        if (setjmp(png_jmpbuf(png_))) Fail("PNG: " + error_);
        png_write_end(png_, nullptr);
    }

private:
    void Write(const uint8_t* pixels) {
        if (setjmp(png_jmpbuf(png_))) Fail("PNG: " + error_);
        png_write_row(png_, const_cast<png_bytep>(pixels));
    }

    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    std::string error_;
    int width_;
    PixelFormat pixels_;
    std::vector<uint8_t> line_;
};
#endif

std::unique_ptr<ImageReader> OpenPng(InputFile& in) {
#ifdef VEXJPEG_HAVE_PNG
    in.MakeSeekable();
    const uint64_t start = in.Position();
    Metadata metadata;
    if (std::unique_ptr<ImageReader> rows = RowPngReader::Open(in, &metadata)) return rows;
    in.Seek(start);
    return std::make_unique<WholePngReader>(in.ReadRest(), std::move(metadata));
#else
    (void)in;
    Fail("this vexjpeg was built without PNG support; use PPM, PGM or BMP");
#endif
}

}  // namespace

bool HavePng() {
#ifdef VEXJPEG_HAVE_PNG
    return true;
#else
    return false;
#endif
}

ImageFormat FormatFromName(const std::string& name) {
    if (name == "png") return ImageFormat::Png;
    if (name == "ppm" || name == "pgm" || name == "pnm") return ImageFormat::Pnm;
    if (name == "bmp" || name == "dib") return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

ImageFormat FormatFromExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return ImageFormat::Unknown;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return FormatFromName(ext);
}

ImageFormat SniffImage(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) return ImageFormat::Png;
    if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6')) return ImageFormat::Pnm;
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

std::unique_ptr<ImageReader> OpenImageReader(InputFile& in, ImageFormat format) {
    switch (format) {
        case ImageFormat::Pnm: return std::make_unique<PnmReader>(in);
        case ImageFormat::Bmp: return std::make_unique<BmpReader>(in);
        case ImageFormat::Png: return OpenPng(in);
        default: Fail("not a PNG, PPM, PGM or BMP file");
    }
}

std::unique_ptr<ImageWriter> OpenImageWriter(OutputFile& out, ImageFormat format, const std::string& pnmKind,
                                             int width, int height, PixelFormat pixels, const Metadata& metadata) {
    switch (format) {
        case ImageFormat::Pnm: {
            const bool gray = pnmKind == "P5" || (pnmKind.empty() && pixels == PixelFormat::Gray8);
            return std::make_unique<PnmWriter>(out, gray, width, pixels, height);
        }
        case ImageFormat::Bmp: return std::make_unique<BmpWriter>(out, width, height, pixels);
        case ImageFormat::Png:
#ifdef VEXJPEG_HAVE_PNG
            return std::make_unique<PngWriter>(out, width, height, pixels, metadata);
#else
            (void)metadata;
            Fail("this vexjpeg was built without PNG support; use PPM, PGM or BMP");
#endif
        default: Fail("unknown image file format");
    }
}

Image ReadImage(const std::vector<uint8_t>& bytes, ImageFormat format) {
    InputFile in(bytes);
    std::unique_ptr<ImageReader> reader = OpenImageReader(in, format);
    CheckWholeSize(uint64_t(reader->width), uint64_t(reader->height));
    Image image;
    image.width = reader->width;
    image.height = reader->height;
    image.format = reader->format;
    image.pixels.resize(size_t(image.width) * size_t(image.height) * size_t(q32vex::bytes_per_pixel(image.format)));
    for (int y = 0; y < image.height; ++y) reader->ReadRow(image.row(y));
    return image;
}

void RowToBgr24(const uint8_t* s, PixelFormat format, int width, uint8_t* d) {
    if (format == PixelFormat::Four8) Fail("a four-component image has no colour conversion");
    for (int i = 0; i < width; ++i, d += 3) {
        switch (format) {
            case PixelFormat::Bgr24: std::memcpy(d, s + 3 * i, 3); break;
            case PixelFormat::Gray8: d[0] = d[1] = d[2] = s[i]; break;
            case PixelFormat::Bgrx32: std::memcpy(d, s + 4 * i, 3); break;
            default: {  // Bgr555
                const uint32_t w = Le16(s + 2 * i);
                d[0] = Expand5(w & 31);
                d[1] = Expand5((w >> 5) & 31);
                d[2] = Expand5((w >> 10) & 31);
            }
        }
    }
}

void RowToGray8(const uint8_t* s, PixelFormat format, int width, uint8_t* d) {
    if (format == PixelFormat::Gray8) {
        std::memcpy(d, s, size_t(width));
        return;
    }
    uint8_t bgr[3];
    const int bpp = q32vex::bytes_per_pixel(format);
    for (int i = 0; i < width; ++i) {
        RowToBgr24(s + i * bpp, format, 1, bgr);
        // ITU-R BT.601 luma, rounded.
        d[i] = uint8_t((bgr[2] * 299u + bgr[1] * 587u + bgr[0] * 114u + 500u) / 1000u);
    }
}

Image ToBgr24(const Image& image) {
    if (image.format == PixelFormat::Bgr24) return image;
    Image out;
    out.width = image.width;
    out.height = image.height;
    out.format = PixelFormat::Bgr24;
    out.pixels.resize(size_t(image.width) * size_t(image.height) * 3);
    for (int y = 0; y < image.height; ++y) RowToBgr24(image.row(y), image.format, image.width, out.row(y));
    return out;
}

double ImagePsnr(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height)
        Fail("the images differ in size: " + std::to_string(a.width) + " x " + std::to_string(a.height) +
             " and " + std::to_string(b.width) + " x " + std::to_string(b.height));
    const bool raw = a.format == PixelFormat::Four8 || b.format == PixelFormat::Four8;
    if (raw && a.format != b.format) Fail("a four-component image compares only with another");
    const bool gray = a.format == PixelFormat::Gray8 && b.format == PixelFormat::Gray8;
    const Image x = raw || gray ? a : ToBgr24(a);
    const Image y = raw || gray ? b : ToBgr24(b);
    double sum = 0;
    for (size_t i = 0; i < x.pixels.size(); ++i) {
        const double d = double(x.pixels[i]) - double(y.pixels[i]);
        sum += d * d;
    }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    const double mse = sum / double(x.pixels.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace vexjpeg
