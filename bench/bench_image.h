// The benchmark's images: the bundled photographs, the grey and cropped forms
// of them, the large mosaic built from them, and the PSNR that checks every
// decode of a case against its source.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexbench {

struct Image {
    int width = 0, height = 0, bpp = 0;  // bpp 3: blue, green, red; 1: grey
    std::vector<uint8_t> pixels;
    uint8_t* row(int y) { return pixels.data() + size_t(y) * width * bpp; }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * width * bpp; }
    double megapixels() const { return double(width) * height / 1e6; }
};

bool LoadPnm(const std::string& path, Image* out);
Image ToGrey(const Image& colour);
Image Crop(const Image& src, int width, int height);
// A large photograph-like image: the photographs tiled, alternating, mirrored
// on every other tile so that no seam is a straight copy.
Image Mosaic(const std::vector<const Image*>& tiles, int width, int height);
double Psnr(const Image& a, const Image& b);
// Fills row y of the generated image, columns x0 .. x0 + n - 1: the mosaic
// repeated in both directions.
void GeneratedRow(const Image& source, int y, int x0, int n, uint8_t* out);

}  // namespace vexbench
