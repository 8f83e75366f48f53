// Seed corpora for the fuzz targets, made from this library's own output: JFIF
// and TIFF streams of small images over every supported sampling, with and
// without restarts and tiles, bare entropy data with matching raw options,
// compression option blocks, and a few truncations of each stream. Every seed
// starts with the option block its target reads. Usage: fuzz_make_seeds DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "compress_driver.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using vexfuzz::Put16;

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream f(dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes DecodeOptions(uint8_t format, uint8_t flags, uint16_t a, uint16_t b, uint8_t chunk,
                    uint16_t l, uint16_t t, uint16_t r, uint16_t bottom, int sampling = -1) {
    Bytes o(vexfuzz::kDecodeOptionBytes, 0);
    o[0] = format;
    o[1] = flags;
    Put16(&o, 2, a);
    Put16(&o, 4, b);
    o[6] = chunk;
    o[7] = uint8_t(sampling + 1);
    Put16(&o, 8, l);
    Put16(&o, 10, t);
    Put16(&o, 12, r);
    Put16(&o, 14, bottom);
    return o;
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    const vexfuzz::SeedShape shapes[] = {
        {0, 1, 40, 24, 0, 0xFFFF, 0xFFFF}, {1, 0, 33, 17, 2, 0xFFFF, 0xFFFF},
        {2, 2, 17, 9, 0, 0xFFFF, 0xFFFF},  {3, 3, 21, 13, 1, 0xFFFF, 0xFFFF},
        {4, 4, 32, 32, 0, 16, 16},         {5, 4, 9, 9, 3, 0xFFFF, 0xFFFF},
        {6, 1, 60, 8, 0, 0xFFFF, 0xFFFF},  {0, 1, 48, 24, 0, 16, 8},
        {3, 3, 1, 1, 0, 0xFFFF, 0xFFFF},
    };
    int n = 0;
    for (const vexfuzz::SeedShape& s : shapes) {
        const std::string tag = std::to_string(n++);
        // Compression option blocks, one per container.
        for (int container = 0; container < 3; ++container) {
            Bytes in = vexfuzz::ShapeOptions(s, container, 25);
            in = Join(in, vexfuzz::ShapePixels(64, n));
            Save(root / "compress", "shape" + tag + "_c" + std::to_string(container), in);
        }
        const Bytes jfif = vexfuzz::CompressShape(s, VEX_CONTAINER_JFIF, 25);
        const Bytes tiff = vexfuzz::CompressShape(s, VEX_CONTAINER_TIFF, 25);
        const Bytes raw = vexfuzz::CompressShape(s, VEX_CONTAINER_RAW, 25);
        if (jfif.empty() || tiff.empty() || raw.empty()) {
            std::fprintf(stderr, "seed shape %s failed\n", tag.c_str());
            return 1;
        }
        const Bytes plain = DecodeOptions(uint8_t(s.formatIndex), 0, 0, 0, 0, 0, 0, 0, 0);
        // Band request, window inside MCUs, small chunks, marker callback.
        const Bytes fancy =
            DecodeOptions(uint8_t(s.formatIndex), 0x31, 16, 8, 3, 3, 2, uint16_t(s.width - 2),
                          uint16_t(s.height - 1));
        // A memory budget and a host that signals the end with an empty read.
        const Bytes budget = DecodeOptions(uint8_t(s.formatIndex), 0x06, 3000, 0, 6, 0, 0, 0, 0);
        Save(root / "jfif", "shape" + tag, Join(plain, jfif));
        Save(root / "jfif", "shape" + tag + "_window", Join(fancy, jfif));
        Save(root / "jfif", "shape" + tag + "_budget", Join(budget, jfif));
        // The TIFF host states the sampling it wrote (not in grey files).
        Bytes tiffPlain = plain, tiffFancy = fancy;
        tiffPlain[7] = tiffFancy[7] = uint8_t(s.samplingIndex + 1);
        Save(root / "tiff", "shape" + tag, Join(tiffPlain, tiff));
        Save(root / "tiff", "shape" + tag + "_window", Join(tiffFancy, tiff));
        // Truncations: inside the header, and inside the entropy data.
        for (size_t cut : {size_t(20), jfif.size() / 2, jfif.size() - 3})
            if (cut < jfif.size())
                Save(root / "jfif", "shape" + tag + "_cut" + std::to_string(cut),
                     Join(plain, Bytes(jfif.begin(), jfif.begin() + long(cut))));
        for (size_t cut : {size_t(40), size_t(300), tiff.size() - 5})
            if (cut < tiff.size())
                Save(root / "tiff", "shape" + tag + "_cut" + std::to_string(cut),
                     Join(tiffPlain, Bytes(tiff.begin(), tiff.begin() + long(cut))));
        // Raw entropy data with the geometry that made it (default tables).
        Bytes rawOptions(vexfuzz::kRawOptionBytes, 0);
        rawOptions[0] = uint8_t(s.samplingIndex);
        rawOptions[1] = s.tileWidth != 0xFFFF ? 16 : 0;
        Put16(&rawOptions, 2, uint16_t(s.width));
        Put16(&rawOptions, 4, uint16_t(s.height));
        Put16(&rawOptions, 6, s.restart);
        Put16(&rawOptions, 8, s.tileWidth);
        Put16(&rawOptions, 10, s.tileHeight);
        Save(root / "raw", "shape" + tag, Join(Join(plain, rawOptions), raw));
    }
    std::printf("seeds written to %s\n", root.string().c_str());
    return 0;
}
