// Image files of the command-line tool: PNG (when built with libpng), binary
// PPM/PGM and BMP, read into and written from the library's own pixel
// formats, so that a BMP's pixels reach the codec exactly as they are stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Decodes a whole image file held in memory. PNG and 8-bit paletted BMP
// become Bgr24 or Gray8; PPM Bgr24; PGM Gray8; BMP 16, 24 and 32-bit become
// Bgr555 (or Bgr24 for 5-6-5), Bgr24 and Bgrx32. Throws ImageFileError.
q32vex::Image ReadImage(const std::vector<uint8_t>& bytes, ImageFormat format);

// Encodes an image into file bytes. For PNM output `pnmKind` is "P5" (PGM),
// "P6" (PPM) or "" (PGM for grey images, PPM otherwise).
std::vector<uint8_t> WriteImage(const q32vex::Image& image, ImageFormat format, const std::string& pnmKind);

// Pixel conversions between the library's formats.
q32vex::Image ToBgr24(const q32vex::Image& image);
q32vex::Image ToGray8(const q32vex::Image& image);

// Peak signal-to-noise ratio of two images of equal size, over grey samples
// when both are grey and over red, green and blue otherwise; +inf if equal.
double ImagePsnr(const q32vex::Image& a, const q32vex::Image& b);

}  // namespace vexjpeg
