// Reader of the binary PPM (P6) and PGM (P5) files with 8-bit samples that the
// benchmark and the tests take their photographs from; samples stay in file
// order (red, green, blue or grey), each caller lays them out as it needs.
#pragma once
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace vexppm {

struct Pnm {
    int width = 0, height = 0, channels = 0;  // channels 3: RGB; 1: grey
    std::vector<uint8_t> samples;
};

inline bool ReadPnm(const std::string& path, Pnm* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    f >> magic >> w >> h >> maxval;
    f.get();  // the one whitespace byte before the samples
    if ((magic != "P6" && magic != "P5") || maxval != 255 || w <= 0 || h <= 0) return false;
    out->width = w;
    out->height = h;
    out->channels = magic == "P6" ? 3 : 1;
    out->samples.resize(size_t(w) * h * out->channels);
    f.read(reinterpret_cast<char*>(out->samples.data()), std::streamsize(out->samples.size()));
    return bool(f);
}

}  // namespace vexppm
