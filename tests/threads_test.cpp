// Hosts on several threads: the library has one global state, so each thread
// holds the library-wide lock from a sequence's open to its last band. Every
// stream and every decoded image must then equal a single-threaded run. The
// same test runs under ThreadSanitizer in the thread-sanitizer build.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using vextest::Image;
using vextest::LibraryTest;

struct Job {
    int16_t container;
    int samplingIndex;
    int formatIndex;
    int width, height;
    uint16_t restart;
    uint16_t tileWidth, tileHeight;
    uint16_t bandHeight;  // 0: whole image
};

const Job kJobs[] = {
    {VEX_CONTAINER_JFIF, 1, 1, 61, 35, 0, 0xFFFF, 0xFFFF, 16},
    {VEX_CONTAINER_TIFF, 3, 3, 40, 24, 2, 16, 8, 0},
    {VEX_CONTAINER_JFIF, 2, 2, 30, 17, 1, 0xFFFF, 0xFFFF, 8},
    {VEX_CONTAINER_TIFF, 5, 4, 24, 24, 0, 0xFFFF, 0xFFFF, 0},
};
constexpr int kJobCount = int(sizeof(kJobs) / sizeof(kJobs[0]));

AppVexParams JobParams(const Job& j) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(j.width);
    p.height = uint16_t(j.height);
    p.containerKind = j.container;
    p.sampling = vextest::SamplingOf(j.samplingIndex, &p.colorSpace);
    p.pixelFormat = vextest::FormatDesc(j.formatIndex, &p.pixelModel);
    p.restartInterval = j.restart;
    p.tileWidth = j.tileWidth;
    p.tileHeight = j.tileHeight;
    return p;
}

struct Result {
    int16_t compressStatus = -1;
    int16_t decompressStatus = -1;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> pixels;
};

// One whole compression and one whole decompression, each under the lock.
Result RunJob(const Job& j, const Image& image) {
    Result r;
    vextest::CompressOptions co;
    co.outputBuffer = 97;
    if (j.bandHeight != 0) {
        co.bandWidth = uint16_t(j.width);
        co.bandHeight = j.bandHeight;
    }
    AppVexEnterCriticalSection();
    r.compressStatus = vextest::CompressImage(JobParams(j), image, co, &r.stream);
    AppVexLeaveCriticalSection();
    AppVexParams d;
    AppVexSetDefaultDecompress(&d);
    d.containerKind = j.container;
    d.pixelFormat = vextest::FormatDesc(j.formatIndex, &d.pixelModel);
    d.sampling = vextest::SamplingOf(j.samplingIndex);  // grey and four-channel TIFFs omit it
    vextest::DecompressOptions dopt;
    dopt.inputChunk = 211;
    Image decoded;
    AppVexEnterCriticalSection();
    r.decompressStatus = vextest::DecompressImage(r.stream, d, dopt, &decoded);
    AppVexLeaveCriticalSection();
    r.pixels = decoded.pixels;
    return r;
}

using Threads = LibraryTest;

TEST_F(Threads, SequencesUnderTheLockMatchASingleThreadedRun) {
    std::vector<Image> images;
    std::vector<Result> reference;
    for (int i = 0; i < kJobCount; ++i) {
        const Job& j = kJobs[i];
        images.push_back(vextest::MakeTestImage(j.width, j.height, vextest::BytesPerPixel(j.formatIndex),
                                                uint32_t(i + 1)));
        reference.push_back(RunJob(j, images.back()));
        ASSERT_EQ(reference.back().compressStatus, 0) << "job " << i;
        ASSERT_EQ(reference.back().decompressStatus, 0) << "job " << i;
        ASSERT_FALSE(reference.back().pixels.empty());
    }
    constexpr int kThreads = 4;
    constexpr int kRounds = 6;
    std::atomic<int> mismatches{0};
    std::atomic<int> failures{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const int i = (t + round) % kJobCount;
                const Result r = RunJob(kJobs[i], images[size_t(i)]);
                if (r.compressStatus != 0 || r.decompressStatus != 0) ++failures;
                if (r.stream != reference[size_t(i)].stream || r.pixels != reference[size_t(i)].pixels)
                    ++mismatches;
                ++done;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(done.load(), kThreads * kRounds);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(Threads, LockIsRecursiveAndReleasedForOtherThreads) {
    AppVexEnterCriticalSection();
    AppVexEnterCriticalSection();
    // Inside the nested hold this thread can run a whole sequence.
    const Job& j = kJobs[2];
    const Image image = vextest::MakeTestImage(j.width, j.height, vextest::BytesPerPixel(j.formatIndex), 9);
    std::vector<uint8_t> stream;
    EXPECT_EQ(vextest::CompressImage(JobParams(j), image, vextest::CompressOptions(), &stream), 0);
    AppVexLeaveCriticalSection();
    AppVexLeaveCriticalSection();
    // Fully released: another thread can take the lock and open a sequence.
    int16_t status = -1;
    std::vector<uint8_t> other;
    std::thread th([&] {
        AppVexEnterCriticalSection();
        status = vextest::CompressImage(JobParams(j), image, vextest::CompressOptions(), &other);
        AppVexLeaveCriticalSection();
    });
    th.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(other, stream);
}

}  // namespace
