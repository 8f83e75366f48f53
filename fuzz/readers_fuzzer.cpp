// The command-line tool's image readers (PNG, PPM/PGM, BMP) on hostile files:
// absurd sizes, short data, broken headers. The first input byte picks the
// reader (or sniffing), the rest is the file. A reader must refuse with its
// error or return exactly width x height pixels, every byte of them defined.
#include <cstdint>
#include <vector>

#include "fuzz_entry.h"
#include "image_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::vector<uint8_t> file(data + 1, data + size);
    vexjpeg::ImageFormat format = vexjpeg::ImageFormat::Unknown;
    switch (data[0] % 4) {
        case 0: format = vexjpeg::SniffImage(file); break;
        case 1: format = vexjpeg::ImageFormat::Png; break;
        case 2: format = vexjpeg::ImageFormat::Pnm; break;
        default: format = vexjpeg::ImageFormat::Bmp; break;
    }
    if (format == vexjpeg::ImageFormat::Png && !vexjpeg::HavePng()) return 0;
    try {
        const q32vex::Image image = vexjpeg::ReadImage(file, format);
        if (image.width <= 0 || image.height <= 0)
            vexfuzz::Report("reader returned an empty image");
        const size_t expected =
            size_t(image.width) * size_t(image.height) * size_t(q32vex::bytes_per_pixel(image.format));
        if (image.pixels.size() != expected) vexfuzz::Report("reader returned a wrong pixel count");
        // Reading every byte lets memory checkers see undefined pixels.
        volatile uint32_t sum = 0;
        for (uint8_t v : image.pixels) sum = sum + v;
        (void)sum;
    } catch (const vexjpeg::ImageFileError&) {
    }
    return 0;
}
