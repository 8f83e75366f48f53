// Image files of the command-line tool: PNG (when built with libpng), binary
// PPM/PGM and BMP, read and written row by row in the library's own pixel
// formats, so that a BMP's pixels reach the codec exactly as they are stored
// and no image is ever held whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "metadata.h"
#include "q32vex.hpp"

namespace vexjpeg {

enum class ImageFormat { Unknown, Png, Pnm, Bmp };

// What went wrong with an image file; the text names the problem.
struct ImageFileError {
    std::string message;
};

bool HavePng();

// Names: "png", "ppm", "pgm", "pnm", "bmp".
ImageFormat FormatFromName(const std::string& name);
// By file extension (.png, .ppm, .pgm, .pnm, .bmp).
ImageFormat FormatFromExtension(const std::string& path);
// By the first bytes of a file.
ImageFormat SniffImage(const std::vector<uint8_t>& bytes);

// Reads an image file top to bottom, one row at a time. PNG and 8-bit
// paletted BMP give Bgr24 or Gray8; PPM Bgr24; PGM Gray8; BMP 16, 24 and
// 32-bit give Bgr555 (Bgr24 for 5-6-5), Bgr24 and Bgrx32. Bottom-up BMP rows
// are reached by seeking (a pipe is first copied to a temporary file). PNG
// files that are interlaced, transparent or 16 bits deep are decoded whole
// when opened. A PNG file's ICC profile (iCCP) and Exif block (eXIf, when it
// comes before the pixel data) are read when opening, into `metadata`.
// Throws ImageFileError.
class ImageReader {
public:
    virtual ~ImageReader() = default;
    int width = 0, height = 0;
    q32vex::PixelFormat format = q32vex::PixelFormat::Bgr24;
    Metadata metadata;
    // The next row, `width` pixels in `format`.
    virtual void ReadRow(uint8_t* row) = 0;
};
std::unique_ptr<ImageReader> OpenImageReader(InputFile& in, ImageFormat format);

// Writes an image file top to bottom, one row at a time, from rows in the
// pixel format given when opening. For PNM output `pnmKind` is "P5" (PGM),
// "P6" (PPM) or "" (PGM for grey images, PPM otherwise). BMP rows are placed
// bottom-up where the output seeks and top-down (a negative height) where it
// does not. A PNG file gets `metadata` as iCCP and eXIf chunks (a profile
// libpng finds unfit for the image is left out); the other formats have no
// place for it.
class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    virtual void WriteRow(const uint8_t* row) = 0;
    virtual void Finish() {}
};
std::unique_ptr<ImageWriter> OpenImageWriter(OutputFile& out, ImageFormat format, const std::string& pnmKind,
                                             int width, int height, q32vex::PixelFormat pixels,
                                             const Metadata& metadata = Metadata());

// A whole image file held in memory, through the row reader.
q32vex::Image ReadImage(const std::vector<uint8_t>& bytes, ImageFormat format);

// Pixel conversions between the library's formats, for one row of `width`
// pixels.
void RowToBgr24(const uint8_t* in, q32vex::PixelFormat format, int width, uint8_t* out);
void RowToGray8(const uint8_t* in, q32vex::PixelFormat format, int width, uint8_t* out);
q32vex::Image ToBgr24(const q32vex::Image& image);

// Peak signal-to-noise ratio of two images of equal size, over grey samples
// when both are grey and over red, green and blue otherwise; +inf if equal.
double ImagePsnr(const q32vex::Image& a, const q32vex::Image& b);

}  // namespace vexjpeg
