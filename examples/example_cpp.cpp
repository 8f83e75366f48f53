// Crop the top-left quarter of a JPEG file and save it again, with q32vex.hpp.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "q32vex.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: example_cpp IN.jpg OUT.jpg\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        const std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), {});
        const q32vex::ImageInfo info = q32vex::read_info(jpeg);
        std::printf("%d x %d, %d components\n", info.width, info.height, info.components);

        q32vex::DecompressOptions crop;
        crop.window = {0, 0, (info.width + 1) / 2, (info.height + 1) / 2};
        const q32vex::Image quarter = q32vex::decompress(jpeg, crop);

        q32vex::CompressOptions options;
        options.quality = 20;  // in fiftieths of the standard tables: finer than 50
        options.with_sampling(quarter.format == q32vex::PixelFormat::Gray8 ? q32vex::Sampling::Gray
                                                                           : q32vex::Sampling::S420);
        const std::vector<uint8_t> out = q32vex::compress(quarter.view(), options);
        std::ofstream(argv[2], std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                                       static_cast<std::streamsize>(out.size()));
        std::printf("wrote %d x %d, %zu bytes\n", quarter.width, quarter.height, out.size());
    } catch (const q32vex::Error& e) {
        std::fprintf(stderr, "example_cpp: %s\n", e.what());  // e.status() holds the code
        return 1;
    }
    return 0;
}
