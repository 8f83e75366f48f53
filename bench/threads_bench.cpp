// vexbench-threads: throughput of independent codec instances on 1..N
// threads, each thread compressing and decompressing its own copy of one
// picture through the one-call forms, against libjpeg-turbo's TurboJPEG
// handles doing the same on as many threads, in the same run; then one
// picture of twice the size coded on 1..N threads at once, against the
// peer's one thread.
//   vexbench-threads [--threads N] [--seconds S] [--size PIXELS] [--smoke]
// Prints one markdown row per thread count, and the scaling over one thread.
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ppm.h"
#include "q32vex.hpp"
#include "q32vex_codec.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;
};

// The bundled photographs tiled to size x size, BGR.
Picture Tiled(int size) {
    vexppm::Pnm photo;
    const std::string path = std::string(Q32VEX_SOURCE_DIR) + "/tests/data/photo1.ppm";
    Picture p;
    if (!vexppm::ReadPnm(path, &photo) || photo.channels != 3) return p;
    p.width = p.height = size;
    p.bgr.resize(size_t(size) * size_t(size) * 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint8_t* s = photo.samples.data() + (size_t(y % photo.height) * photo.width + size_t(x % photo.width)) * 3;
            uint8_t* d = p.bgr.data() + (size_t(y) * size_t(size) + size_t(x)) * 3;
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    return p;
}

using Clock = std::chrono::steady_clock;

// Runs `work` on `threads` threads for about `seconds`; megapixels per second
// over all threads (each call codes the picture once).
template <typename Work>
double Throughput(int threads, double seconds, double megapixels, Work work) {
    std::atomic<bool> stop{false};
    std::atomic<long> done{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> pool;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            auto state = work.Make();
            while (!stop.load(std::memory_order_relaxed)) {
                if (!work.Run(state)) failed = true;
                ++done;
            }
            work.Release(state);
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread& t : pool) t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed) return -1;
    return double(done.load()) * megapixels / elapsed;
}

AppVexParams CompressRecord(const Picture& picture, q32vex::detail::ScaledTables* tables) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(picture.width);
    p.height = uint16_t(picture.height);
    p.pixelFormat = q32vex::detail::format_desc(q32vex::PixelFormat::Bgr24, &p.pixelModel);
    p.sampling = q32vex::detail::sampling_desc(q32vex::Sampling::S420, &p.colorSpace);
    q32vex::detail::libjpeg_tables(75, p.colorSpace, tables);
    for (int c = 0; c < 4; ++c) p.qTables[c] = tables->pointer[c];
    p.quality = 50;
    return p;
}

// Compress then decompress on a codec instance of the thread's own.
struct Ours {
    const Picture* picture;
    struct State {
        VexCodec* codec;
        std::vector<uint8_t> pixels;
    };
    State Make() const { return {VexCodecCreate(), std::vector<uint8_t>(picture->bgr.size())}; }
    void Release(State& s) const { VexCodecDestroy(s.codec); }
    bool Run(State& s) const {
        q32vex::detail::ScaledTables tables;
        AppVexParams p = CompressRecord(*picture, &tables);
        uint8_t* jpeg = nullptr;
        size_t size = 0;
        if (VexCompressMemory(s.codec, &p, picture->bgr.data(), picture->width * 3, &jpeg, &size) != 0) return false;
        AppVexParams d;
        AppVexSetDefaultDecompress(&d);
        d.containerKind = VEX_CONTAINER_JFIF;
        bool ok = VexReadInfoMemory(s.codec, &d, jpeg, size) == 0;
        d.pixelFormat = q32vex::detail::format_desc(q32vex::PixelFormat::Bgr24, &d.pixelModel);
        ok = ok && VexDecompressMemory(s.codec, &d, jpeg, size, s.pixels.data(), picture->width * 3) == 0;
        VexFree(jpeg);
        return ok;
    }
};

struct Peer {
    const Picture* picture;
    struct State {
        tjhandle compress, decompress;
        std::vector<uint8_t> pixels;
    };
    State Make() const { return {tjInitCompress(), tjInitDecompress(), std::vector<uint8_t>(picture->bgr.size())}; }
    void Release(State& s) const {
        tjDestroy(s.compress);
        tjDestroy(s.decompress);
    }
    bool Run(State& s) const {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        if (tjCompress2(s.compress, picture->bgr.data(), picture->width, 0, picture->height, TJPF_BGR, &jpeg, &size,
                        TJSAMP_420, 75, 0) != 0)
            return false;
        const bool ok = tjDecompress2(s.decompress, jpeg, size, s.pixels.data(), picture->width, 0, picture->height,
                                      TJPF_BGR, 0) == 0;
        tjFree(jpeg);
        return ok;
    }
};

// Runs `work` repeatedly for about `seconds`; megapixels per second.
template <typename Work>
double Repeated(double seconds, double megapixels, Work work) {
    long done = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        if (!work()) return -1;
        ++done;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return double(done) * megapixels / elapsed;
}

// One picture (4:2:0, libjpeg quality 75, a restart marker every MCU row)
// compressed and decompressed on 1..maxThreads threads in memory, with the
// bytes and pixels of every thread count checked against one thread's.
bool OnePicture(const Picture& picture, int maxThreads, double seconds) {
    const double megapixels = double(picture.width) * picture.height / 1e6;
    std::printf("\nOne %d x %d picture on several threads (4:2:0, libjpeg quality 75, a restart interval of one\n"
                "MCU row), in memory; the peer is TurboJPEG on one thread, which is all it has.\n\n",
                picture.width, picture.height);
    std::printf("| threads | compress MP/s | scaling | ours/peer | decompress MP/s | scaling | ours/peer |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    VexCodec* codec = VexCodecCreate();
    tjhandle tjc = tjInitCompress(), tjd = tjInitDecompress();
    std::vector<uint8_t> pixels(picture.bgr.size()), single, singlePixels;
    unsigned char* peerJpeg = nullptr;
    unsigned long peerSize = 0;
    const double peerCompress = Repeated(seconds, megapixels, [&] {
        tjFree(peerJpeg);
        peerJpeg = nullptr;
        return tjCompress2(tjc, picture.bgr.data(), picture.width, 0, picture.height, TJPF_BGR, &peerJpeg, &peerSize,
                           TJSAMP_420, 75, 0) == 0;
    });
    const double peerDecompress = Repeated(seconds, megapixels, [&] {
        return tjDecompress2(tjd, peerJpeg, peerSize, pixels.data(), picture.width, 0, picture.height, TJPF_BGR, 0) ==
               0;
    });
    tjFree(peerJpeg);
    tjDestroy(tjc);
    tjDestroy(tjd);
    bool ok = peerCompress > 0 && peerDecompress > 0;
    double compress1 = 0, decompress1 = 0;
    for (int threads = 1; ok && threads <= maxThreads; ++threads) {
        std::vector<uint8_t> stream;
        const double compress = Repeated(seconds, megapixels, [&] {
            q32vex::detail::ScaledTables tables;
            AppVexParams p = CompressRecord(picture, &tables);
            p.restartInterval = uint16_t((picture.width + 15) / 16);
            uint8_t* jpeg = nullptr;
            size_t size = 0;
            if (VexCompressMemoryThreads(codec, &p, picture.bgr.data(), picture.width * 3, threads, &jpeg, &size) != 0)
                return false;
            stream.assign(jpeg, jpeg + size);
            VexFree(jpeg);
            return true;
        });
        const double decompress = Repeated(seconds, megapixels, [&] {
            AppVexParams d;
            AppVexSetDefaultDecompress(&d);
            d.containerKind = VEX_CONTAINER_JFIF;
            if (VexReadInfoMemory(codec, &d, stream.data(), stream.size()) != 0) return false;
            d.pixelFormat = q32vex::detail::format_desc(q32vex::PixelFormat::Bgr24, &d.pixelModel);
            return VexDecompressMemoryThreads(codec, &d, stream.data(), stream.size(), pixels.data(), picture.width * 3,
                                              threads) == 0;
        });
        if (threads == 1) {
            single = stream;
            singlePixels = pixels;
            compress1 = compress;
            decompress1 = decompress;
        }
        ok = compress > 0 && decompress > 0 && stream == single && pixels == singlePixels;
        if (ok)
            std::printf("| %d | %.1f | %.2fx | %.2f | %.1f | %.2fx | %.2f |\n", threads, compress, compress / compress1,
                        compress / peerCompress, decompress, decompress / decompress1, decompress / peerDecompress);
    }
    VexCodecDestroy(codec);
    if (!ok) std::fprintf(stderr, "vexbench-threads: one picture on several threads failed or differed\n");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int maxThreads = std::max(2u, std::thread::hardware_concurrency());
    double seconds = 3;
    int size = 2048;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc) maxThreads = std::atoi(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--size" && i + 1 < argc) size = std::atoi(argv[++i]);
        else if (a == "--smoke") seconds = 0.05, size = 256, maxThreads = 2;
        else {
            std::fprintf(stderr, "usage: vexbench-threads [--threads N] [--seconds S] [--size PIXELS] [--smoke]\n");
            return 2;
        }
    }
    const Picture picture = Tiled(size);
    if (picture.bgr.empty()) {
        std::fprintf(stderr, "vexbench-threads: cannot read the test photograph\n");
        return 1;
    }
    const double megapixels = double(size) * size / 1e6;
    std::printf("Independent instances, each thread compressing (4:2:0, libjpeg quality 75) and decompressing a\n"
                "%d x %d picture; megapixels per second counted once per round trip, all threads together.\n\n",
                size, size);
    std::printf("| threads | ours MP/s | ours scaling | peer MP/s | peer scaling | ours/peer |\n");
    std::printf("|---|---|---|---|---|---|\n");
    double ours1 = 0, peer1 = 0;
    for (int threads = 1; threads <= maxThreads; ++threads) {
        // Interleaved, so both see the same machine.
        const double ours = Throughput(threads, seconds, megapixels, Ours{&picture});
        const double peer = Throughput(threads, seconds, megapixels, Peer{&picture});
        if (ours < 0 || peer < 0) {
            std::fprintf(stderr, "vexbench-threads: a round trip failed\n");
            return 1;
        }
        if (threads == 1) ours1 = ours, peer1 = peer;
        std::printf("| %d | %.1f | %.2fx | %.1f | %.2fx | %.2f |\n", threads, ours, ours / ours1, peer, peer / peer1,
                    ours / peer);
    }
    return OnePicture(Tiled(2 * size), maxThreads, seconds) ? 0 : 1;
}
