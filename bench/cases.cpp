// One case: this library's stream is the reference both decoders read, checked
// against its source and against the peer's decode before anything is timed;
// then encode and decode runners take turns (see measure.h).
#include "cases.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "report.h"

namespace vexbench {
namespace {

void AddRows(Bench& bench, const std::string& imageName, const Image& image, int sampling, int peerQuality,
             int ourQuality, const char* direction, const std::vector<Runner>& r, uint32_t bytes, double psnr) {
    const double mp = image.megapixels();
    for (int band = 0; band < 2; ++band) {
        Row row;
        row.image = imageName;
        row.sampling = SamplingName(sampling);
        row.direction = direction;
        row.band = band == 0 ? "whole" : std::to_string(bench.smallBudget / 1024) + " KiB";
        row.peerQuality = peerQuality;
        row.ourQuality = ourQuality;
        row.megapixels = mp;
        row.ours = mp / Median(r[size_t(band)].times);
        row.peer = mp / Median(r[2].times);
        row.peerFast = mp / Median(r[3].times);
        row.oursMemory = r[size_t(band)].memory;
        row.peerMemory = r[2].memory;
        row.streamBytes = bytes;
        row.psnr = psnr;
        bench.rows.push_back(row);
    }
}

// The peer's two decodes of `stream` into *out: its default (integer IDCT,
// fancy upsampling) and its fast path (fast IDCT, replicated chroma, like
// ours).
void AddPeerDecodeRunners(Peer& peer, const std::vector<uint8_t>& stream, Image* out, std::vector<Runner>* runners) {
    runners->push_back({"peer", [&peer, &stream, out] {
                            return PeerDecode(peer, stream.data(), uint32_t(stream.size()), out, 0);
                        },
                        false});
    runners->push_back({"peer fast", [&peer, &stream, out] {
                            return PeerDecode(peer, stream.data(), uint32_t(stream.size()), out,
                                              TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
                        },
                        false});
}

void RunCase(Bench& bench, const std::string& imageName, const Image& image, int sampling, int peerQuality) {
    const Settings& settings = bench.settings;
    Peer& peer = bench.peer;
    const int ourQuality = peerQuality == 75 ? 25 : peerQuality == 95 ? 5 : (200 - 2 * peerQuality) / 2;
    const std::string label = imageName + " " + SamplingName(sampling) + " Q" + std::to_string(peerQuality);
    if (!settings.only.empty() && label.find(settings.only) == std::string::npos) return;
    const size_t capacity = image.pixels.size() * 2 + 65536 * 4;
    ReserveSink(capacity);
    peer.stream.assign(tjBufSize(image.width, image.height, PeerSubsampling(sampling)), 0);

    // Our stream, decoded by the peer: the reference both decoders read.
    if (OurEncode(image, sampling, ourQuality, Band{}) != 0) return bench.Fail("encode " + label);
    std::vector<uint8_t> stream = SinkStream();
    Image peerView;
    peerView.width = image.width;
    peerView.height = image.height;
    peerView.bpp = image.bpp;
    peerView.pixels.assign(image.pixels.size(), 0);
    if (!PeerDecode(peer, stream.data(), uint32_t(stream.size()), &peerView, 0))
        return bench.Fail("libjpeg-turbo cannot decode our stream for " + label);
    const double psnr = Psnr(image, peerView);
    Image ours = peerView;
    std::vector<uint8_t> bandBuffer;
    if (OurDecode(stream.data(), uint32_t(stream.size()), Band{}, &ours, &bandBuffer) != 0)
        return bench.Fail("decode " + label);
    const double agreement = Psnr(ours, peerView);
    if (psnr < 25 || agreement < 30) {
        return bench.Fail(label + ": PSNR against the source " + Fmt("%.1f", psnr) +
                          " dB, against libjpeg-turbo's decode " + Fmt("%.1f", agreement) + " dB");
    }

    const Band whole{}, small{bench.smallBudget};
    // Encode.
    {
        std::vector<Runner> runners;
        runners.push_back({"ours", [&] { return OurEncode(image, sampling, ourQuality, whole) == 0; }, true});
        runners.push_back({"ours band", [&] { return OurEncode(image, sampling, ourQuality, small) == 0; }, true});
        runners.push_back({"peer", [&] { return PeerEncode(peer, image, sampling, peerQuality, 0); }, false});
        runners.push_back({"peer fast",
                           [&] { return PeerEncode(peer, image, sampling, peerQuality, TJFLAG_FASTDCT); },
                           false});
        if (!Measure(runners, settings)) return bench.Fail("encode timing " + label);
        AddRows(bench, imageName, image, sampling, peerQuality, ourQuality, "encode", runners,
                uint32_t(stream.size()), psnr);
    }
    // Decode of the same stream.
    {
        Image out = peerView;
        std::vector<Runner> runners;
        runners.push_back({"ours",
                           [&] { return OurDecode(stream.data(), uint32_t(stream.size()), whole, &out, &bandBuffer) == 0; },
                           true});
        runners.push_back({"ours band",
                           [&] { return OurDecode(stream.data(), uint32_t(stream.size()), small, &out, &bandBuffer) == 0; },
                           true});
        AddPeerDecodeRunners(peer, stream, &out, &runners);
        if (!Measure(runners, settings)) return bench.Fail("decode timing " + label);
        AddRows(bench, imageName, image, sampling, peerQuality, ourQuality, "decode", runners,
                uint32_t(stream.size()), psnr);
    }
}

// Progressive decoding: the peer's progressive file of the image, decoded
// here (on a codec instance, whole picture) and by the peer.
void RunProgressiveCase(Bench& bench, const std::string& imageName, const Image& image, int sampling,
                        int peerQuality) {
    Peer& peer = bench.peer;
    const std::string label = imageName + " " + SamplingName(sampling) + " Q" + std::to_string(peerQuality) +
                              " progressive";
    if (!bench.settings.only.empty() && label.find(bench.settings.only) == std::string::npos) return;
    peer.stream.assign(tjBufSize(image.width, image.height, PeerSubsampling(sampling)), 0);
    if (!PeerEncode(peer, image, sampling, peerQuality, TJFLAG_PROGRESSIVE))
        return bench.Fail("libjpeg-turbo cannot write a progressive file for " + label);
    const std::vector<uint8_t> stream(peer.stream.begin(), peer.stream.begin() + ptrdiff_t(peer.streamSize));
    Image peerView = image, ours = image;
    if (!PeerDecode(peer, stream.data(), uint32_t(stream.size()), &peerView, 0) ||
        OurInstanceDecode(stream.data(), uint32_t(stream.size()), &ours) != 0)
        return bench.Fail("decode " + label);
    const double agreement = Psnr(ours, peerView);
    if (agreement < 30) return bench.Fail(label + ": " + Fmt("%.1f", agreement) + " dB against libjpeg-turbo");

    Image out = image;
    std::vector<Runner> runners;
    runners.push_back({"ours", [&] { return OurInstanceDecode(stream.data(), uint32_t(stream.size()), &out) == 0; },
                       true});
    AddPeerDecodeRunners(peer, stream, &out, &runners);
    if (!Measure(runners, bench.settings)) return bench.Fail("decode timing " + label);
    Row row;
    row.image = imageName;
    row.sampling = SamplingName(sampling);
    row.direction = "progressive decode";
    row.band = "whole";
    row.peerQuality = peerQuality;
    row.megapixels = image.megapixels();
    row.ours = row.megapixels / Median(runners[0].times);
    row.peer = row.megapixels / Median(runners[1].times);
    row.peerFast = row.megapixels / Median(runners[2].times);
    row.oursMemory = runners[0].memory;
    row.peerMemory = runners[1].memory;
    row.streamBytes = uint32_t(stream.size());
    row.psnr = Psnr(image, ours);
    bench.rows.push_back(row);
}

}  // namespace

void Bench::Fail(const std::string& what) {
    std::fprintf(stderr, "vexbench: FAILED: %s\n", what.c_str());
    failed = true;
}

void RunCases(Bench& bench, const Photographs& photos, const Image& mosaic) {
    const Settings& s = bench.settings;
    struct Source {
        std::string name;
        Image colour, grey;
    };
    std::vector<Source> sources;
    if (s.smoke) {
        sources.push_back({"photo1-crop", Crop(photos.photo1, 61, 45), ToGrey(Crop(photos.photo1, 61, 45))});
    } else {
        if (!s.quick) {
            sources.push_back({"photo1", photos.photo1, ToGrey(photos.photo1)});
            sources.push_back({"photo2", photos.photo2, ToGrey(photos.photo2)});
            sources.push_back({"gray1", Image(), photos.gray1});
        }
        sources.push_back({"mosaic4096", mosaic, ToGrey(mosaic)});
    }
    for (const Source& src : sources) {
        for (int quality : {75, 95}) {
            for (int sampling : {3, 2, 0, 1}) {
                const Image& img = sampling == 3 ? src.grey : src.colour;
                if (img.pixels.empty()) continue;
                RunCase(bench, src.name, img, sampling, quality);
                std::fflush(stdout);
            }
        }
    }
    // Progressive files, of the largest picture.
    const Source& last = sources.back();
    for (int quality : {75, 95}) {
        for (int sampling : {1, 2}) RunProgressiveCase(bench, last.name, last.colour, sampling, quality);
    }
}

void RunScaleCases(Bench& bench, const Image& mosaic) {
    const Settings& s = bench.settings;
    const std::string path = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") +
                             "/vexbench_scale_" + std::to_string(getpid()) + ".jpg";
    const std::vector<std::pair<int, int>> sizes =
        s.smoke ? std::vector<std::pair<int, int>>{{100, 100}, {400, 400}, {1000, 1000}}
                : std::vector<std::pair<int, int>>{{1000, 1000}, {4000, 4000}, {30000, 30000}};
    const Image greyMosaic = ToGrey(mosaic);
    for (int sampling : {3, 1}) {
        for (const auto& size : sizes) {
            ScaleResult result;
            std::string failure;
            if (RunScale(sampling == 3 ? greyMosaic : mosaic, size.first, size.second, sampling,
                         bench.ScaleBudget(), path, &result, &failure)) {
                bench.scale.push_back(result);
            } else {
                if (!failure.empty()) bench.Fail(failure);
                bench.Fail("scale run " + std::to_string(size.first) + "x" + std::to_string(size.second));
            }
        }
    }
}

}  // namespace vexbench
