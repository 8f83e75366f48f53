// Hosts on several threads. The legacy exports share one codec instance, so
// each thread holds the library-wide lock from a sequence's open to its last
// band; hosts with instances of their own take no lock at all. Every stream
// and every decoded image must equal a single-threaded run. The same tests
// run under ThreadSanitizer in the thread-sanitizer build.
#include <atomic>
#include <thread>
#include <vector>

#include "compress_helpers.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {
namespace {

struct Job {
    compress::Shape shape;
    uint16_t bandHeight;  // 0: whole image
};

const Job kJobs[] = {
    {{"jfif_420", VEX_CONTAINER_JFIF, 1, 1, 61, 35}, 16},
    {{"tiff_grey", VEX_CONTAINER_TIFF, 3, 3, 40, 24, 2, 16, 8}, 0},
    {{"jfif_444_32", VEX_CONTAINER_JFIF, 2, 2, 30, 17, 1}, 8},
    {{"tiff_four", VEX_CONTAINER_TIFF, 5, 4, 24, 24}, 0},
};

struct Result {
    int16_t compressStatus = -1, decompressStatus = -1;
    std::vector<uint8_t> stream, pixels;
    bool operator==(const Result& o) const {
        return compressStatus == o.compressStatus && decompressStatus == o.decompressStatus && stream == o.stream &&
               pixels == o.pixels;
    }
};

// One whole compression and one whole decompression, each under the lock.
Result RunJob(const Job& j, const Image& image) {
    Result r;
    CompressOptions co;
    co.outputBuffer = 97;
    if (j.bandHeight != 0) co.bandWidth = uint16_t(j.shape.width), co.bandHeight = j.bandHeight;
    const AppVexParams p = compress::ParamsFor(j.shape);
    AppVexEnterCriticalSection();
    r.compressStatus = CompressImage(p, image, co, &r.stream);
    AppVexLeaveCriticalSection();
    DecompressOptions dopt;
    dopt.inputChunk = 211;
    Image decoded;
    AppVexEnterCriticalSection();
    r.decompressStatus = DecompressImage(
        r.stream, compress::ReadParams(j.shape.container, j.shape.formatIndex, j.shape.samplingIndex), dopt, &decoded);
    AppVexLeaveCriticalSection();
    r.pixels = decoded.pixels;
    return r;
}

// The same job on an instance of the thread's own, through the one-call
// forms, with no lock.
Result RunJobOnInstance(VexCodec* codec, const Job& j, const Image& image) {
    Result r;
    AppVexParams p = compress::ParamsFor(j.shape);
    if (j.bandHeight != 0) p.bandWidth = uint16_t(j.shape.width), p.bandHeight = j.bandHeight;
    uint8_t* out = nullptr;
    size_t size = 0;
    r.compressStatus = VexCompressMemory(codec, &p, image.pixels.data(), image.width * image.bytesPerPixel, &out, &size);
    r.stream.assign(out, out + size);
    VexFree(out);
    AppVexParams d = compress::ReadParams(j.shape.container, j.shape.formatIndex, j.shape.samplingIndex);
    r.decompressStatus = VexReadInfoMemory(codec, &d, r.stream.data(), r.stream.size());
    if (r.decompressStatus != 0) return r;
    r.pixels.assign(image.pixels.size(), 0);
    r.decompressStatus = VexDecompressMemory(codec, &d, r.stream.data(), r.stream.size(), r.pixels.data(),
                                             image.width * image.bytesPerPixel);
    return r;
}

using Threads = LibraryTest;

TEST_F(Threads, InstancesRunInParallelWithoutALock) {
    std::vector<Image> images;
    std::vector<Result> reference;
    VexCodec* serial = VexCodecCreate();
    for (const Job& j : kJobs) {
        images.push_back(MakeTestImage(j.shape.width, j.shape.height, BytesPerPixel(j.shape.formatIndex),
                                       uint32_t(images.size() + 1)));
        reference.push_back(RunJobOnInstance(serial, j, images.back()));
        ASSERT_EQ(reference.back().compressStatus, 0);
        ASSERT_EQ(reference.back().decompressStatus, 0);
        // The instance's stream is the legacy exports' stream.
        EXPECT_EQ(reference.back().stream, RunJob(j, images.back()).stream);
    }
    VexCodecDestroy(serial);
    constexpr int kThreads = 4, kRounds = 8;
    std::atomic<int> mismatches{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            VexCodec* codec = VexCodecCreate();
            for (int round = 0; round < kRounds; ++round) {
                const size_t i = size_t(t + round) % reference.size();
                const Result r = RunJobOnInstance(codec, kJobs[i], images[i]);
                // The pad bytes of 32-bit pixels are not compared: only the
                // stream and the statuses, and pixels of the other formats.
                const bool same = r.compressStatus == reference[i].compressStatus &&
                                  r.decompressStatus == reference[i].decompressStatus &&
                                  r.stream == reference[i].stream &&
                                  (kJobs[i].shape.formatIndex == 2 || r.pixels == reference[i].pixels);
                if (!same) ++mismatches;
                ++done;
            }
            VexCodecDestroy(codec);
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(done.load(), kThreads * kRounds);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(Threads, SequencesUnderTheLockMatchASingleThreadedRun) {
    std::vector<Image> images;
    std::vector<Result> reference;
    for (const Job& j : kJobs) {
        images.push_back(MakeTestImage(j.shape.width, j.shape.height, BytesPerPixel(j.shape.formatIndex),
                                       uint32_t(images.size() + 1)));
        reference.push_back(RunJob(j, images.back()));
        ASSERT_EQ(reference.back().compressStatus, 0);
        ASSERT_EQ(reference.back().decompressStatus, 0);
        ASSERT_FALSE(reference.back().pixels.empty());
    }
    constexpr int kThreads = 4, kRounds = 6;
    std::atomic<int> mismatches{0}, done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const size_t i = size_t(t + round) % reference.size();
                if (!(RunJob(kJobs[i], images[i]) == reference[i])) ++mismatches;
                ++done;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(done.load(), kThreads * kRounds);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(Threads, LockIsRecursiveAndReleasedForOtherThreads) {
    const Job& j = kJobs[2];
    const Image image = MakeTestImage(j.shape.width, j.shape.height, BytesPerPixel(j.shape.formatIndex), 9);
    AppVexEnterCriticalSection();
    AppVexEnterCriticalSection();
    // Inside the nested hold this thread can run whole sequences.
    const Result inside = RunJob(j, image);
    AppVexLeaveCriticalSection();
    AppVexLeaveCriticalSection();
    EXPECT_EQ(inside.compressStatus, 0);
    // Fully released: another thread can take the lock and run them too.
    Result other;
    std::thread th([&] { other = RunJob(j, image); });
    th.join();
    EXPECT_TRUE(other == inside);
}

}  // namespace
}  // namespace vextest
