// The cases: which images, samplings and qualities run, each encoded and
// decoded by both codecs (whole image and a small band budget), and the
// streaming scale sizes; the rows they leave for the report.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bench_image.h"
#include "measure.h"
#include "peer_runner.h"
#include "q32vex_runner.h"
#include "settings.h"

namespace vexbench {

struct Row {
    std::string image, sampling, direction, band;
    int peerQuality = 0, ourQuality = 0;
    double megapixels = 0;
    double ours = 0, peer = 0, peerFast = 0;  // MP/s
    Memory oursMemory, peerMemory;
    uint32_t streamBytes = 0;
    double psnr = 0;
};

// The photographs bundled in tests/data.
struct Photographs {
    Image photo1, photo2, gray1;
};

struct Bench {
    Settings settings;
    Peer peer;
    std::vector<Row> rows;
    std::vector<ScaleResult> scale;
    bool failed = false;
    int smallBudget = 64 * 1024;

    void Fail(const std::string& what);
    int ScaleBudget() const { return settings.smoke ? 64 * 1024 : 1024 * 1024; }
};

// Every image, quality and sampling of the settings, in table order.
void RunCases(Bench& bench, const Photographs& photos, const Image& mosaic);
// The scale sizes of the settings, grey then 4:2:0.
void RunScaleCases(Bench& bench, const Image& mosaic);

}  // namespace vexbench
