// tjLoadImage and tjSaveImage: binary PPM/PGM and uncompressed BMP files,
// converted to and from any TurboJPEG pixel format except CMYK.
#include <turbojpeg.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pixels.h"
#include "turbojpeg_internal.h"

namespace {

using q32vex_tj::FailLoad;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// A picture as read: rows of RGB triples or grey bytes, top row first.
struct Picture {
    int width = 0, height = 0;
    bool grey = false;
    std::vector<uint8_t> pixels;
};

int ReadNumber(FILE* f) {
    int c = std::fgetc(f);
    for (;;) {
        if (c == '#') {
            while (c != '\n' && c != EOF) c = std::fgetc(f);
        } else if (std::isspace(c)) {
            c = std::fgetc(f);
        } else {
            break;
        }
    }
    long value = 0;
    if (!std::isdigit(c)) return -1;
    while (std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > 1 << 30) return -1;
        c = std::fgetc(f);
    }
    return int(value);  // the one whitespace byte after the number is consumed
}

bool ReadPnm(FILE* f, bool grey, Picture* out) {
    out->width = ReadNumber(f);
    out->height = ReadNumber(f);
    const int maxval = ReadNumber(f);
    if (out->width <= 0 || out->height <= 0 || maxval != 255) return false;
    out->grey = grey;
    out->pixels.resize(size_t(out->width) * size_t(out->height) * (grey ? 1 : 3));
    return std::fread(out->pixels.data(), 1, out->pixels.size(), f) == out->pixels.size();
}

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Uncompressed BMP of 8 (grey palette), 24 or 32 bits per pixel.
bool ReadBmp(FILE* f, Picture* out) {
    uint8_t header[54];
    if (std::fread(header, 1, sizeof(header), f) != sizeof(header)) return false;
    const uint32_t offset = Le32(header + 10);
    const int32_t width = int32_t(Le32(header + 18));
    const int32_t height = int32_t(Le32(header + 22));
    const uint16_t bits = Le16(header + 28);
    const uint32_t compression = Le32(header + 30);
    if (width <= 0 || height == 0 || height == INT32_MIN || compression != 0) return false;
    if (bits != 8 && bits != 24 && bits != 32) return false;
    const bool topDown = height < 0;
    out->width = width;
    out->height = topDown ? -height : height;
    out->grey = bits == 8;
    const size_t rowBytes = (size_t(width) * bits / 8 + 3) & ~size_t(3);
    if (std::fseek(f, long(offset), SEEK_SET) != 0) return false;
    std::vector<uint8_t> row(rowBytes);
    const size_t outRow = size_t(width) * (out->grey ? 1 : 3);
    out->pixels.resize(outRow * size_t(out->height));
    for (int y = 0; y < out->height; ++y) {
        if (std::fread(row.data(), 1, rowBytes, f) != rowBytes) return false;
        uint8_t* dst = out->pixels.data() + outRow * size_t(topDown ? y : out->height - 1 - y);
        // BMP rows are BGR; the picture keeps RGB.
        if (bits == 8) std::memcpy(dst, row.data(), outRow);
        else q32vex_tj::ConvertRow(bits == 24 ? TJPF_BGR : TJPF_BGRX, TJPF_RGB, row.data(), dst, size_t(width));
    }
    return true;
}

bool EndsWith(const std::string& name, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (name.size() < n) return false;
    std::string tail = name.substr(name.size() - n);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == suffix;
}

}  // namespace

extern "C" {

unsigned char* tjLoadImage(const char* filename, int* width, int align, int* height, int* pixelFormat, int flags) {
    if (filename == nullptr || width == nullptr || height == nullptr || pixelFormat == nullptr || align < 1 ||
        (align & (align - 1)) != 0 || *pixelFormat < TJPF_UNKNOWN || *pixelFormat >= TJ_NUMPF) {
        FailLoad("tjLoadImage", "invalid argument");
        return nullptr;
    }
    if (*pixelFormat == TJPF_CMYK) {
        FailLoad("tjLoadImage", "CMYK images are not supported by q32vex");
        return nullptr;
    }
    File f(std::fopen(filename, "rb"));
    if (!f) {
        FailLoad("tjLoadImage", "cannot open input file");
        return nullptr;
    }
    Picture picture;
    const int first = std::fgetc(f.get());
    const int second = std::fgetc(f.get());
    bool ok = false;
    if (first == 'P' && (second == '5' || second == '6')) {
        ok = ReadPnm(f.get(), second == '5', &picture);
    } else if (first == 'B' && second == 'M') {
        std::rewind(f.get());
        ok = ReadBmp(f.get(), &picture);
    }
    if (!ok) {
        FailLoad("tjLoadImage", "unsupported or damaged file (binary PPM/PGM or uncompressed BMP only)");
        return nullptr;
    }
    int pf = *pixelFormat;
    if (pf == TJPF_UNKNOWN) pf = picture.grey ? TJPF_GRAY : EndsWith(filename, ".bmp") ? TJPF_BGR : TJPF_RGB;
    const size_t pitch = (size_t(picture.width) * size_t(tjPixelSize[pf]) + size_t(align) - 1) & ~size_t(align - 1);
    auto* buffer = static_cast<unsigned char*>(std::malloc(pitch * size_t(picture.height)));
    if (buffer == nullptr) {
        FailLoad("tjLoadImage", "out of memory");
        return nullptr;
    }
    const q32vex_tj::RowConversion conversion = q32vex_tj::MakeConversion(picture.grey ? TJPF_GRAY : TJPF_RGB, pf);
    for (int y = 0; y < picture.height; ++y) {
        const int row = (flags & TJFLAG_BOTTOMUP) != 0 ? picture.height - 1 - y : y;
        unsigned char* dst = buffer + pitch * size_t(row);
        const size_t n = size_t(picture.width);
        q32vex_tj::ConvertRow(conversion, picture.pixels.data() + size_t(conversion.fromBytes) * n * size_t(y), dst, n);
    }
    *width = picture.width;
    *height = picture.height;
    *pixelFormat = pf;
    return buffer;
}

int tjSaveImage(const char* filename, unsigned char* buffer, int width, int pitch, int height, int pixelFormat,
                int flags) {
    if (filename == nullptr || buffer == nullptr || width <= 0 || pitch < 0 || height <= 0 || pixelFormat < 0 ||
        pixelFormat >= TJ_NUMPF)
        return FailLoad("tjSaveImage", "invalid argument");
    if (pixelFormat == TJPF_CMYK) return FailLoad("tjSaveImage", "CMYK images are not supported by q32vex");
    if (pitch == 0) pitch = width * tjPixelSize[pixelFormat];
    const bool bmp = EndsWith(filename, ".bmp");
    const bool grey = pixelFormat == TJPF_GRAY;
    File f(std::fopen(filename, "wb"));
    if (!f) return FailLoad("tjSaveImage", "cannot open output file");
    const size_t n = size_t(width);
    size_t rowBytes = n * (grey ? 1 : 3);
    if (bmp) {
        rowBytes = (rowBytes + 3) & ~size_t(3);
        const uint32_t palette = grey ? 1024 : 0;
        const uint32_t offset = 54 + palette;
        const uint32_t fileSize = offset + uint32_t(rowBytes * size_t(height));
        uint8_t header[54] = {'B', 'M'};
        auto put32 = [&header](int at, uint32_t v) {
            for (int i = 0; i < 4; ++i) header[at + i] = uint8_t(v >> (8 * i));
        };
        put32(2, fileSize);
        put32(10, offset);
        put32(14, 40);
        put32(18, uint32_t(width));
        put32(22, uint32_t(height));
        header[26] = 1;
        header[28] = grey ? 8 : 24;
        put32(34, uint32_t(rowBytes * size_t(height)));
        put32(38, 2835);  // 72 dpi
        put32(42, 2835);
        if (grey) put32(46, 256);
        std::fwrite(header, 1, sizeof(header), f.get());
        for (int i = 0; grey && i < 256; ++i) {
            const uint8_t entry[4] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
            std::fwrite(entry, 1, 4, f.get());
        }
    } else {
        std::fprintf(f.get(), "P%c\n%d %d\n255\n", grey ? '5' : '6', width, height);
    }
    std::vector<uint8_t> row(rowBytes, 0);
    for (int y = 0; y < height; ++y) {
        // BMP files hold the bottom row first.
        const int fileRow = bmp ? height - 1 - y : y;
        const int bufferRow = (flags & TJFLAG_BOTTOMUP) != 0 ? height - 1 - fileRow : fileRow;
        const unsigned char* src = buffer + ptrdiff_t(bufferRow) * pitch;
        if (grey) std::memcpy(row.data(), src, n);
        else q32vex_tj::ConvertRow(pixelFormat, bmp ? TJPF_BGR : TJPF_RGB, src, row.data(), n);
        if (std::fwrite(row.data(), 1, rowBytes, f.get()) != rowBytes)
            return FailLoad("tjSaveImage", "cannot write output file");
    }
    if (std::fflush(f.get()) != 0) return FailLoad("tjSaveImage", "cannot write output file");
    return 0;
}

}  // extern "C"
