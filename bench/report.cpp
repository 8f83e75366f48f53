// Report printing: one markdown row per case and band, the scale table, and
// the same figures as JSON for scripts/bench.
#include "report.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "platform/cpu.h"

namespace vexbench {

std::string Fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), format, v);
    return buf;
}

void PrintTable(const Bench& bench) {
    std::printf("\nSIMD level: %s. Peer: libjpeg-turbo %s via TurboJPEG. One thread, median of "
                "interleaved repeats.\n",
                q32vex::SimdLevelName(q32vex::ActiveSimdLevel()), "(system)");
    std::printf("Clock: about %.2f GHz (a chain of dependent additions, one a cycle); cycles per pixel = clock / "
                "(MP/s x 10^6).\n",
                EstimateClockHz() / 1e9);
    std::printf("Quality: peer Q75 = our quality 25, peer Q95 = our quality 5 (same scaled tables).\n");
    std::printf("Encode: peer = its integer DCT, fast = TJFLAG_FASTDCT. Decode (of our stream): peer = "
                "integer IDCT with fancy upsampling, fast = TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE "
                "(replication, like ours).\n");
    std::printf("Memory: lib = this library's allocator peak; RSS = growth of the process's peak "
                "resident size during one run (host buffers preallocated).\n\n");
    std::printf("| image | MP | sampling | Q | dir | band | ours MP/s | peer MP/s | fast MP/s | "
                "ours/peer | ours/fast | lib KiB | ours RSS KiB | peer RSS KiB |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : bench.rows) {
        std::printf("| %s | %.2f | %s | %d | %s | %s | %.1f | %.1f | %.1f | %.2f | %.2f | %lld | %ld | %ld |\n",
                    r.image.c_str(), r.megapixels, r.sampling.c_str(), r.peerQuality, r.direction.c_str(),
                    r.band.c_str(), r.ours, r.peer, r.peerFast, r.ours / r.peer, r.ours / r.peerFast,
                    (long long)(r.oursMemory.libraryPeak / 1024), r.oursMemory.rssGrowthKb,
                    r.peerMemory.rssGrowthKb);
    }
    // Geometric means of the whole-image ratios.
    for (const char* dir : {"encode", "decode", "progressive decode"}) {
        double logPeer = 0, logFast = 0;
        int n = 0;
        for (const Row& r : bench.rows) {
            if (r.direction != dir || r.band != "whole") continue;
            logPeer += std::log(r.ours / r.peer);
            logFast += std::log(r.ours / r.peerFast);
            ++n;
        }
        if (n)
            std::printf("\n%s, whole image, geometric mean over %d cases: ours/peer %.2f, ours/fast %.2f", dir, n,
                        std::exp(logPeer / n), std::exp(logFast / n));
    }
    std::printf("\n");
}

void PrintScale(const Bench& bench) {
    if (bench.scale.empty()) return;
    std::printf("\nScale: generated image streamed through a %d KiB band budget (JFIF, our quality 25); "
                "time counts library calls only.\n\n",
                bench.ScaleBudget() / 1024);
    std::printf("| size | MP | sampling | encode s | encode ms/MP | decode s | decode ms/MP | stream MB | "
                "lib peak KiB | RSS before KiB | RSS peak KiB |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const ScaleResult& r : bench.scale) {
        const double mp = double(r.width) * r.height / 1e6;
        std::printf("| %dx%d | %.0f | %s | %.2f | %.2f | %.2f | %.2f | %.1f | %lld | %ld | %ld |\n", r.width,
                    r.height, mp, r.sampling.c_str(), r.encodeSeconds, 1000 * r.encodeSeconds / mp,
                    r.decodeSeconds, 1000 * r.decodeSeconds / mp, double(r.streamBytes) / 1e6,
                    (long long)(r.libraryPeak / 1024), r.rssBeforeKb, r.rssPeakKb);
    }
}

void WriteJson(const Bench& bench) {
    const Settings& settings = bench.settings;
    const std::vector<Row>& rows = bench.rows;
    const std::vector<ScaleResult>& scale = bench.scale;
    std::string j = "{\n  \"simdLevel\": \"";
    j += q32vex::SimdLevelName(q32vex::ActiveSimdLevel());
    j += "\",\n  \"smoke\": ";
    j += settings.smoke ? "true" : "false";
    j += ",\n  \"note\": \"peer Q75 = our quality 25, peer Q95 = our quality 5; MP/s medians\",\n";
    j += "  \"cases\": [\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        char buf[1024];
        std::snprintf(buf, sizeof(buf),
                      "    {\"image\": \"%s\", \"megapixels\": %.4f, \"sampling\": \"%s\", \"peerQuality\": %d, "
                      "\"ourQuality\": %d, \"direction\": \"%s\", \"band\": \"%s\", \"oursMPs\": %.3f, "
                      "\"peerMPs\": %.3f, \"peerFastMPs\": %.3f, \"ratioPeer\": %.4f, \"ratioPeerFast\": %.4f, "
                      "\"libraryPeakBytes\": %lld, \"oursRssGrowthKiB\": %ld, \"peerRssGrowthKiB\": %ld, "
                      "\"streamBytes\": %u, \"psnr\": %.2f}%s\n",
                      r.image.c_str(), r.megapixels, r.sampling.c_str(), r.peerQuality, r.ourQuality,
                      r.direction.c_str(), r.band.c_str(), r.ours, r.peer, r.peerFast, r.ours / r.peer,
                      r.ours / r.peerFast, (long long)r.oursMemory.libraryPeak, r.oursMemory.rssGrowthKb,
                      r.peerMemory.rssGrowthKb, r.streamBytes, r.psnr, i + 1 < rows.size() ? "," : "");
        j += buf;
    }
    j += "  ],\n  \"scale\": [\n";
    for (size_t i = 0; i < scale.size(); ++i) {
        const ScaleResult& r = scale[i];
        const double mp = double(r.width) * r.height / 1e6;
        char buf[768];
        std::snprintf(buf, sizeof(buf),
                      "    {\"width\": %d, \"height\": %d, \"sampling\": \"%s\", \"budgetBytes\": %d, "
                      "\"encodeSeconds\": %.4f, \"encodeMsPerMP\": %.4f, \"decodeSeconds\": %.4f, "
                      "\"decodeMsPerMP\": %.4f, \"streamBytes\": %llu, \"libraryPeakBytes\": %lld, "
                      "\"rssBeforeKiB\": %ld, \"rssPeakKiB\": %ld}%s\n",
                      r.width, r.height, r.sampling.c_str(), bench.ScaleBudget(), r.encodeSeconds,
                      1000 * r.encodeSeconds / mp, r.decodeSeconds, 1000 * r.decodeSeconds / mp,
                      (unsigned long long)r.streamBytes, (long long)r.libraryPeak, r.rssBeforeKb, r.rssPeakKb,
                      i + 1 < scale.size() ? "," : "");
        j += buf;
    }
    j += "  ]\n}\n";
    const std::string& path = settings.json;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        const std::string dir = path.substr(0, slash);
        if (!dir.empty()) mkdir(dir.c_str(), 0755);
    }
    std::ofstream f(path);
    f << j;
    if (!f) std::fprintf(stderr, "vexbench: cannot write %s\n", path.c_str());
}

}  // namespace vexbench
