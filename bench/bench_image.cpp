// The benchmark's images, made once before any case runs.
#include "bench_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "ppm.h"

namespace vexbench {

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

void GeneratedRow(const Image& source, int y, int x0, int n, uint8_t* out) {
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

}  // namespace vexbench
