// vexbench: megapixels per second of this library and of libjpeg-turbo's
// TurboJPEG API on the same in-memory images, in one process, runs
// interleaved and repeated, the median reported; plus the streaming scale
// test (a generated image up to 30000 x 30000 through a small band budget).
//
//   vexbench [--smoke] [--quick] [--reps N] [--min-time S] [--json FILE]
//            [--no-scale] [--scale-only] [--only TEXT]
//
// Quality: this library's `quality` scales the Annex K tables in fiftieths
// (50 = unscaled); libjpeg's quality Q >= 50 scales them by (200 - 2Q)%. So
// peer Q75 is our 25 and peer Q95 our 5: both sides code the same tables.
//
// Files: cases.cpp (the case table), q32vex_runner.cpp and peer_runner.cpp
// (the two codecs), measure.cpp (timing and memory), report.cpp (tables and
// JSON), bench_image.cpp (the images).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cases.h"
#include "report.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vexbench [--smoke] [--quick] [--reps N] [--min-time S] [--json FILE] [--no-scale]\n"
                 "                [--scale-only] [--only TEXT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vexbench;
    Bench bench;
    Settings& s = bench.settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--smoke") s.smoke = true;
        else if (a == "--quick") s.quick = true;
        else if (a == "--no-scale") s.scale = false;
        else if (a == "--scale-only") s.benchCases = false;
        else if (a == "--reps" && i + 1 < argc) s.reps = std::atoi(argv[++i]);
        else if (a == "--min-time" && i + 1 < argc) s.minTime = std::atof(argv[++i]);
        else if (a == "--json" && i + 1 < argc) s.json = argv[++i];
        else if (a == "--only" && i + 1 < argc) s.only = argv[++i];
        else return Usage();
    }

    const std::string data = std::string(Q32VEX_SOURCE_DIR) + "/tests/data/";
    Photographs photos;
    if (!LoadPnm(data + "photo1.ppm", &photos.photo1) || !LoadPnm(data + "photo2.ppm", &photos.photo2) ||
        !LoadPnm(data + "gray1.pgm", &photos.gray1)) {
        std::fprintf(stderr, "vexbench: cannot read the photographs in %s\n", data.c_str());
        return 1;
    }
    const Image mosaic = Mosaic({&photos.photo1, &photos.photo2}, s.smoke ? 640 : 4096, s.smoke ? 600 : 4096);

    if (s.benchCases) {
        RunCases(bench, photos, mosaic);
        PrintTable(bench);
    }
    if (s.scale) {
        RunScaleCases(bench, mosaic);
        PrintScale(bench);
    }
    WriteJson(bench);
    if (bench.failed) {
        std::fprintf(stderr, "vexbench: some cases failed\n");
        return 1;
    }
    return 0;
}
