// Image files of the command-line tool. Every header field is checked
// against the bytes actually present before anything is allocated, with
// sizes computed in 64 bits, so a hostile header cannot ask for more memory
// than the file could fill or overflow a size on a 32-bit host.
#include "image_files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#ifdef VEXJPEG_HAVE_PNG
#include <png.h>
#endif

namespace vexjpeg {

using q32vex::Image;
using q32vex::PixelFormat;

namespace {

// The library codes images of at most 65535 x 65535 pixels; the tool also
// refuses to hold more than 2^28 pixels (about 1 GiB at four bytes each).
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

[[noreturn]] void Fail(const std::string& message) { throw ImageFileError{message}; }

void CheckSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) Fail("the image has no pixels");
    if (width > kMaxSide || height > kMaxSide)
        Fail("the image is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; at most 65535 each way is supported");
    if (width * height > kMaxPixels)
        Fail("the image has " + std::to_string(width * height) + " pixels; at most " +
             std::to_string(kMaxPixels) + " are supported");
}

Image NewImage(int width, int height, PixelFormat format) {
    Image image;
    image.width = width;
    image.height = height;
    image.format = format;
    image.pixels.assign(size_t(width) * size_t(height) * size_t(q32vex::bytes_per_pixel(format)), 0);
    return image;
}

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
void PutLe16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

uint8_t Expand5(uint32_t c) { return uint8_t((c << 3) | (c >> 2)); }
uint8_t Expand6(uint32_t c) { return uint8_t((c << 2) | (c >> 4)); }

// ---- PNM -----------------------------------------------------------------------

class PnmHeader {
public:
    explicit PnmHeader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    // Next decimal field, after whitespace and comments.
    uint64_t Number(const char* what) {
        for (;;) {
            if (pos_ >= bytes_.size()) Fail(std::string("PNM header ends before its ") + what);
            const uint8_t c = bytes_[pos_];
            if (c == '#') {
                while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++pos_;
            } else {
                break;
            }
        }
        if (bytes_[pos_] < '0' || bytes_[pos_] > '9') Fail(std::string("PNM header: bad ") + what);
        uint64_t value = 0;
        while (pos_ < bytes_.size() && bytes_[pos_] >= '0' && bytes_[pos_] <= '9') {
            value = value * 10 + (bytes_[pos_] - '0');
            if (value > 0xFFFFFFFFu) Fail(std::string("PNM header: ") + what + " is too large");
            ++pos_;
        }
        return value;
    }
    // The single whitespace byte that ends the header.
    void EndOfHeader() {
        if (pos_ >= bytes_.size()) Fail("PNM file has no pixel data");
        const uint8_t c = bytes_[pos_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') Fail("PNM header: bad end of header");
        ++pos_;
    }
    size_t pos() const { return pos_; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 2;
};

Image ReadPnm(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        Fail("not a binary PPM (P6) or PGM (P5) file");
    const int channels = bytes[1] == '6' ? 3 : 1;
    PnmHeader header(bytes);
    const uint64_t width = header.Number("width");
    const uint64_t height = header.Number("height");
    const uint64_t maxval = header.Number("maximum value");
    header.EndOfHeader();
    if (maxval == 0 || maxval > 65535) Fail("PNM maximum value must be 1 to 65535");
    CheckSize(width, height);
    const uint64_t sampleBytes = maxval > 255 ? 2 : 1;
    const uint64_t need = width * height * channels * sampleBytes;
    if (need > bytes.size() - header.pos())
        Fail("PNM file is truncated: " + std::to_string(need) + " bytes of pixels expected, " +
             std::to_string(bytes.size() - header.pos()) + " present");
    Image image = NewImage(int(width), int(height), channels == 3 ? PixelFormat::Bgr24 : PixelFormat::Gray8);
    const uint8_t* src = bytes.data() + header.pos();
    const size_t samples = size_t(width) * size_t(height) * channels;
    std::vector<uint8_t> line(samples);
    for (size_t i = 0; i < samples; ++i) {
        uint32_t v = sampleBytes == 2 ? (uint32_t(src[2 * i]) << 8 | src[2 * i + 1]) : src[i];
        if (v > maxval) v = uint32_t(maxval);
        line[i] = maxval == 255 ? uint8_t(v) : uint8_t((v * 255 + maxval / 2) / maxval);
    }
    if (channels == 1) {
        image.pixels = std::move(line);
    } else {
        for (size_t i = 0; i < samples; i += 3) {
            image.pixels[i] = line[i + 2];
            image.pixels[i + 1] = line[i + 1];
            image.pixels[i + 2] = line[i];
        }
    }
    return image;
}

std::vector<uint8_t> WritePnm(const Image& source, const std::string& kind) {
    const bool gray = kind == "P5" || (kind.empty() && source.format == PixelFormat::Gray8);
    if (gray && source.format != PixelFormat::Gray8)
        Fail("PGM holds grey images only; write a colour image as .ppm, .png or .bmp");
    const Image image = gray ? source : ToBgr24(source);
    const std::string header = std::string(gray ? "P5" : "P6") + "\n" + std::to_string(image.width) + " " +
                               std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    if (gray) {
        out.insert(out.end(), image.pixels.begin(), image.pixels.end());
    } else {
        const size_t base = out.size();
        out.resize(base + image.pixels.size());
        for (size_t i = 0; i < image.pixels.size(); i += 3) {
            out[base + i] = image.pixels[i + 2];
            out[base + i + 1] = image.pixels[i + 1];
            out[base + i + 2] = image.pixels[i];
        }
    }
    return out;
}

// ---- BMP -----------------------------------------------------------------------

Image ReadBmp(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 14 + 40 || bytes[0] != 'B' || bytes[1] != 'M') Fail("not a BMP file");
    const uint32_t dataOffset = Le32(&bytes[10]);
    const uint32_t infoSize = Le32(&bytes[14]);
    if (infoSize < 40 || infoSize > bytes.size() - 14) Fail("BMP: unsupported or damaged info header");
    const int32_t rawWidth = int32_t(Le32(&bytes[18]));
    const int32_t rawHeight = int32_t(Le32(&bytes[22]));
    const uint32_t planes = Le16(&bytes[26]);
    const uint32_t bitCount = Le16(&bytes[28]);
    const uint32_t compression = Le32(&bytes[30]);
    const uint32_t colorsUsed = Le32(&bytes[46]);
    if (planes != 1) Fail("BMP: plane count is not 1");
    if (rawWidth <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<int32_t>::min())
        Fail("BMP: bad image size");
    const bool topDown = rawHeight < 0;
    const uint64_t width = uint64_t(rawWidth);
    const uint64_t height = topDown ? uint64_t(-int64_t(rawHeight)) : uint64_t(rawHeight);
    CheckSize(width, height);

    // Channel masks: the defaults of uncompressed BMPs, or the three that
    // follow a 40-byte header (or sit inside a longer one) for BI_BITFIELDS.
    uint32_t masks[3] = {0, 0, 0};
    if (compression == 3) {
        if (14 + 40 + 12 > bytes.size()) Fail("BMP: channel masks missing");
        for (int i = 0; i < 3; ++i) masks[i] = Le32(&bytes[14 + 40 + 4 * i]);
    } else if (compression != 0) {
        Fail("BMP: compressed BMP files (RLE, JPEG, PNG) are not supported");
    }

    PixelFormat format;
    bool is565 = false;
    switch (bitCount) {
        case 8: format = PixelFormat::Bgr24; break;
        case 16:
            format = PixelFormat::Bgr555;
            if (compression == 3) {
                if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) {
                    is565 = true;
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
        default: Fail("BMP: " + std::to_string(bitCount) + " bits per pixel is not supported (8, 16, 24, 32 are)");
    }
    if (bitCount == 8 && compression != 0) Fail("BMP: 8-bit files cannot have channel masks");

    const uint64_t stride = (width * bitCount + 31) / 32 * 4;
    if (dataOffset > bytes.size() || stride * height > bytes.size() - dataOffset)
        Fail("BMP file is truncated: its pixel rows end past the end of the file");

    // Palette of an 8-bit file, straight after the info header.
    std::vector<uint8_t> palette;  // blue, green, red per entry
    bool grayPalette = true;
    if (bitCount == 8) {
        const uint64_t entries = colorsUsed == 0 ? 256 : colorsUsed;
        if (entries > 256) Fail("BMP: palette larger than 256 entries");
        const uint64_t at = 14 + uint64_t(infoSize);
        if (at + entries * 4 > dataOffset) Fail("BMP: palette overlaps the pixel data");
        palette.assign(256 * 3, 0);
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t* e = &bytes[size_t(at + i * 4)];
            palette[i * 3] = e[0];
            palette[i * 3 + 1] = e[1];
            palette[i * 3 + 2] = e[2];
            if (e[0] != i || e[1] != i || e[2] != i) grayPalette = false;
        }
        if (grayPalette) format = PixelFormat::Gray8;
    }

    Image image = NewImage(int(width), int(height), format);
    const int bpp = q32vex::bytes_per_pixel(format);
    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t* src = &bytes[size_t(dataOffset + stride * (topDown ? y : height - 1 - y))];
        uint8_t* dst = image.row(int(y));
        if (bitCount == 8) {
            for (uint64_t x = 0; x < width; ++x) {
                if (grayPalette) {
                    dst[x] = src[x];
                } else {
                    std::memcpy(dst + x * 3, &palette[size_t(src[x]) * 3], 3);
                }
            }
        } else if (is565) {
            for (uint64_t x = 0; x < width; ++x) {
                const uint32_t w = Le16(src + 2 * x);
                dst[x * 3] = Expand5(w & 31);
                dst[x * 3 + 1] = Expand6((w >> 5) & 63);
                dst[x * 3 + 2] = Expand5(w >> 11);
            }
        } else {
            std::memcpy(dst, src, size_t(width) * bpp);
            if (format == PixelFormat::Bgr555)  // the top bit is padding
                for (uint64_t x = 0; x < width; ++x) dst[x * 2 + 1] &= 0x7F;
        }
    }
    return image;
}

std::vector<uint8_t> WriteBmp(const Image& image) {
    if (image.format == PixelFormat::Four8) Fail("BMP cannot hold four-component images; use .png");
    const int bpp = q32vex::bytes_per_pixel(image.format);
    const uint32_t bitCount = uint32_t(bpp * 8);
    const uint32_t stride = (uint32_t(image.width) * bitCount + 31) / 32 * 4;
    const uint32_t paletteBytes = image.format == PixelFormat::Gray8 ? 256 * 4 : 0;
    const uint64_t dataBytes = uint64_t(stride) * uint32_t(image.height);
    if (dataBytes > 0xFFFFFFFFu - 54 - paletteBytes) Fail("image too large for a BMP file");
    std::vector<uint8_t> out;
    out.reserve(size_t(54 + paletteBytes + dataBytes));
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, uint32_t(54 + paletteBytes + dataBytes));
    PutLe32(out, 0);
    PutLe32(out, 54 + paletteBytes);
    PutLe32(out, 40);
    PutLe32(out, uint32_t(image.width));
    PutLe32(out, uint32_t(image.height));  // bottom-up rows
    PutLe16(out, 1);
    PutLe16(out, bitCount);
    PutLe32(out, 0);  // BI_RGB: 16-bit rows are 5-5-5
    PutLe32(out, uint32_t(dataBytes));
    PutLe32(out, 2835);  // 72 dpi
    PutLe32(out, 2835);
    PutLe32(out, paletteBytes ? 256 : 0);
    PutLe32(out, 0);
    for (uint32_t i = 0; i < paletteBytes / 4; ++i) {
        out.push_back(uint8_t(i));
        out.push_back(uint8_t(i));
        out.push_back(uint8_t(i));
        out.push_back(0);
    }
    const size_t rowBytes = size_t(image.width) * bpp;
    for (int y = image.height - 1; y >= 0; --y) {
        const uint8_t* row = image.row(y);
        out.insert(out.end(), row, row + rowBytes);
        out.insert(out.end(), stride - rowBytes, 0);
    }
    return out;
}

// ---- PNG -----------------------------------------------------------------------

#ifdef VEXJPEG_HAVE_PNG
Image ReadPng(const std::vector<uint8_t>& bytes) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()))
        Fail(std::string("PNG: ") + png.message);
    try {
        CheckSize(png.width, png.height);
    } catch (...) {
        png_image_free(&png);
        throw;
    }
    const bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
    png.format = color ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
    Image image = NewImage(int(png.width), int(png.height), color ? PixelFormat::Bgr24 : PixelFormat::Gray8);
    // Transparent pixels are composited onto white, as a viewer shows them.
    png_color background = {255, 255, 255};
    if (!png_image_finish_read(&png, &background, image.pixels.data(), 0, nullptr))
        Fail(std::string("PNG: ") + png.message);
    return image;
}

std::vector<uint8_t> WritePng(const Image& source) {
    Image image;
    png_uint_32 format;
    if (source.format == PixelFormat::Gray8) {
        image = source;
        format = PNG_FORMAT_GRAY;
    } else if (source.format == PixelFormat::Four8) {
        image = source;  // the four components as they are, as R, G, B, A
        format = PNG_FORMAT_RGBA;
    } else {
        image = ToBgr24(source);
        format = PNG_FORMAT_BGR;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = format;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr))
        Fail(std::string("PNG: ") + png.message);
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr))
        Fail(std::string("PNG: ") + png.message);
    out.resize(size);
    return out;
}
#endif

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

Image ReadImage(const std::vector<uint8_t>& bytes, ImageFormat format) {
    switch (format) {
        case ImageFormat::Pnm: return ReadPnm(bytes);
        case ImageFormat::Bmp: return ReadBmp(bytes);
        case ImageFormat::Png:
#ifdef VEXJPEG_HAVE_PNG
            return ReadPng(bytes);
#else
            Fail("this vexjpeg was built without PNG support; use PPM, PGM or BMP");
#endif
        default: Fail("not a PNG, PPM, PGM or BMP file");
    }
}

std::vector<uint8_t> WriteImage(const Image& image, ImageFormat format, const std::string& pnmKind) {
    switch (format) {
        case ImageFormat::Pnm:
            if (image.format == PixelFormat::Four8) Fail("PPM cannot hold four-component images; use .png");
            return WritePnm(image, pnmKind);
        case ImageFormat::Bmp: return WriteBmp(image);
        case ImageFormat::Png:
#ifdef VEXJPEG_HAVE_PNG
            return WritePng(image);
#else
            Fail("this vexjpeg was built without PNG support; use PPM, PGM or BMP");
#endif
        default: Fail("unknown image file format");
    }
}

Image ToBgr24(const Image& image) {
    if (image.format == PixelFormat::Bgr24) return image;
    if (image.format == PixelFormat::Four8) Fail("a four-component image has no colour conversion");
    Image out = NewImage(image.width, image.height, PixelFormat::Bgr24);
    const size_t n = size_t(image.width) * size_t(image.height);
    const uint8_t* s = image.pixels.data();
    uint8_t* d = out.pixels.data();
    for (size_t i = 0; i < n; ++i, d += 3) {
        switch (image.format) {
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
    return out;
}

Image ToGray8(const Image& image) {
    if (image.format == PixelFormat::Gray8) return image;
    const Image bgr = ToBgr24(image);
    Image out = NewImage(image.width, image.height, PixelFormat::Gray8);
    const size_t n = size_t(image.width) * size_t(image.height);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &bgr.pixels[i * 3];
        // ITU-R BT.601 luma, rounded.
        out.pixels[i] = uint8_t((p[2] * 299u + p[1] * 587u + p[0] * 114u + 500u) / 1000u);
    }
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
