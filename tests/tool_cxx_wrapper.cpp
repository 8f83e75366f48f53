// The header-only C++ layer (q32vex.hpp): whole sequences from image views
// and byte vectors or std::function streams, exceptions with the status
// code, and calls that run in parallel on instances of their own.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <iterator>
#include <set>
#include <stdexcept>
#include <thread>

#include "q32vex.hpp"
#include "tool_support.h"

namespace vextest {
namespace {

using q32vex::PixelFormat;
using q32vex::Sampling;

class CxxWrapperTest : public LibraryTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadPnm(DataPath("photo1.ppm"), &photo_, 3));
        ASSERT_TRUE(LoadPnm(DataPath("photo2.ppm"), &photo2_, 3));
    }
    static q32vex::ImageView View(const Image& img, PixelFormat format = PixelFormat::Bgr24) {
        return q32vex::ImageView{img.pixels.data(), img.width, img.height,
                                 std::ptrdiff_t(img.width) * img.bytesPerPixel, format};
    }
    Image photo_, photo2_;
};

TEST_F(CxxWrapperTest, StreamingFormsGiveTheSameBytesAndPixels) {
    for (q32vex::Container container : {q32vex::Container::Jfif, q32vex::Container::Tiff}) {
        q32vex::CompressOptions options;
        options.container = container;
        if (container == q32vex::Container::Tiff) options.tile_width = 64, options.tile_height = 48;
        options.band_rows = 24;
        options.quality = 4;  // a stream larger than one output buffer
        const std::vector<uint8_t> whole = q32vex::compress(View(photo_), options);
        // A writer that sees pieces at stream positions, as a file would.
        std::vector<uint8_t> streamed;
        int pieces = 0;
        q32vex::compress(View(photo_), options, [&](uint64_t position, const uint8_t* data, size_t size) {
            if (streamed.size() < position + size) streamed.resize(position + size);
            std::memcpy(streamed.data() + position, data, size);
            ++pieces;
        });
        EXPECT_EQ(streamed, whole);
        EXPECT_GT(pieces, 1);
        // A reader that serves from the bytes.
        const q32vex::Image fromReader = q32vex::decompress(
            [&](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
                if (position >= whole.size()) return 0;
                const size_t n = std::min<size_t>(capacity, whole.size() - position);
                std::memcpy(buffer, whole.data() + position, n);
                return n;
            },
            container, q32vex::DecompressOptions{});
        EXPECT_EQ(fromReader.pixels, q32vex::decompress(whole).pixels);
    }
}

TEST_F(CxxWrapperTest, FailuresBecomeExceptionsAndLeaveTheLibraryIdle) {
    try {
        q32vex::decompress(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC2, 0, 4, 1, 2, 3, 4});
        ADD_FAILURE() << "no exception";
    } catch (const q32vex::Error& e) {
        EXPECT_EQ(e.status(), VEX_ERR_CONTAINER);
        EXPECT_NE(std::string(e.what()).find("VEX_ERR_CONTAINER (-385)"), std::string::npos) << e.what();
    }
    q32vex::CompressOptions options;
    options.quality = 0;
    try {
        q32vex::compress(View(photo_), options);
        ADD_FAILURE() << "no exception";
    } catch (const q32vex::Error& e) {
        EXPECT_EQ(e.status(), VEX_ERR_QUALITY);
    }
    // The caller's own exceptions pass through and close the sequence.
    options.quality = 4;  // the second buffer is handed over mid-image
    options.band_rows = 8;
    int calls = 0;
    EXPECT_THROW(q32vex::compress(View(photo_), options,
                                  [&](uint64_t, const uint8_t*, size_t) {
                                      if (++calls == 2) throw std::runtime_error("disk full");
                                  }),
                 std::runtime_error);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
    options.progress = [](uint64_t done, uint64_t total) {
        if (done * 2 > total) throw std::logic_error("stop");
    };
    EXPECT_THROW(q32vex::compress(View(photo_), options), std::logic_error);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
    const std::vector<uint8_t> jpeg = q32vex::compress(View(photo_));
    EXPECT_THROW(q32vex::decompress(
                     [&](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
                         if (position > 1000) throw std::out_of_range("reader gave up");
                         const size_t n = std::min<size_t>({capacity, size_t(jpeg.size() - position), 600});
                         std::memcpy(buffer, jpeg.data() + position, n);
                         return n;
                     },
                     q32vex::Container::Jfif, q32vex::DecompressOptions{}),
                 std::out_of_range);
    q32vex::DecompressOptions d;
    d.band_rows = 16;
    d.progress = [](uint64_t, uint64_t) { throw std::runtime_error("cancelled"); };
    EXPECT_THROW(q32vex::decompress(jpeg, d), std::runtime_error);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
    EXPECT_EQ(q32vex::decompress(jpeg).width, 451) << "ready for the next caller";
    // Every status code has its own name and meaning.
    const int codes[] = {VEX_ERR_IO_REQUEST,   VEX_ERR_UNSUPPORTED,    VEX_ERR_NOT_OPEN,    VEX_ERR_WINDOW,
                         VEX_ERR_AC_COUNT,     VEX_ERR_DC_COUNT,       VEX_ERR_NO_CALLBACK, VEX_ERR_SHORT_READ,
                         VEX_ERR_AC_TABLE,     VEX_ERR_DC_TABLE,       VEX_ERR_Q_TABLE,     VEX_ERR_SAMPLING,
                         VEX_ERR_BAND,         VEX_ERR_TILE,           VEX_ERR_IMAGE_SIZE,  VEX_ERR_CONTAINER,
                         VEX_ERR_PIXEL_FORMAT, VEX_ERR_PIXEL_MODEL,    VEX_ERR_COLOR_SPACE, VEX_ERR_QUALITY,
                         VEX_ERR_NO_BUFFER,    VEX_ERR_DIFFERENT,      VEX_ERR_TABLE_KIND,  VEX_ERR_NO_MEMORY,
                         VEX_ERR_BUSY,         VEX_ERR_NOT_COMPRESSING};
    std::set<std::string> names, messages;
    for (int code : codes) {
        const std::string name = q32vex::status_name(code), message = q32vex::status_message(code);
        EXPECT_EQ(name.rfind("VEX_ERR_", 0), 0u) << code;
        EXPECT_NE(message, q32vex::status_message(12345)) << code;
        names.insert(name);
        messages.insert(message);
        EXPECT_EQ(std::string(q32vex::Error(code).what()), name + " (" + std::to_string(code) + "): " + message);
    }
    EXPECT_EQ(names.size(), std::size(codes));
    EXPECT_EQ(messages.size(), std::size(codes));
    EXPECT_EQ(std::string(q32vex::status_name(7)), "");
}

TEST_F(CxxWrapperTest, ConcurrentCallsGiveTheSerialResults) {
    q32vex::CompressOptions a, b;
    a.band_rows = 8;
    b.band_rows = 16;
    b.container = q32vex::Container::Tiff;
    b.tile_width = b.tile_height = 64;
    const std::vector<uint8_t> expectA = q32vex::compress(View(photo_), a),
                               expectB = q32vex::compress(View(photo2_), b);
    const std::vector<uint8_t> pixelsB = q32vex::decompress(expectB).pixels;
    std::atomic<int> wrong{0};
    std::thread t1([&] {
        for (int i = 0; i < 12; ++i) wrong += q32vex::compress(View(photo_), a) != expectA;
    });
    for (int i = 0; i < 12; ++i)
        wrong += q32vex::compress(View(photo2_), b) != expectB || q32vex::decompress(expectB).pixels != pixelsB;
    t1.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(CxxWrapperTest, CallsTakeNoLibraryLockAndLeaveTheExportsAlone) {
    const std::vector<uint8_t> expect = q32vex::compress(View(photo_));
    // Another thread holds the lock the legacy exports offer and has a
    // sequence open on them; wrapper calls still run to the end.
    std::atomic<bool> ready{false}, holding{false}, release{false};
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    std::thread holder([&] {
        AppVexEnterCriticalSection();
        p.width = p.height = 16;
        p.bandWidth = p.bandHeight = 16;
        p.pixelFormat = FormatDesc(1, &p.pixelModel);
        p.sampling = SamplingOf(0, &p.colorSpace);
        p.writeCallback = SinkWrite;
        ResetSink(4096);
        holding = AppVexCompressBuffInit(&p) == 0;
        ready = true;
        while (!release) std::this_thread::yield();
        AppVexLeaveCriticalSection();
    });
    while (!ready) std::this_thread::yield();
    auto call = std::async(std::launch::async, [&] { return q32vex::compress(View(photo_)); });
    const bool finished = call.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    release = true;
    holder.join();
    EXPECT_TRUE(holding.load());
    EXPECT_TRUE(finished) << "the wrapper waited for the library lock";
    EXPECT_EQ(call.get(), expect);
    // The exports' sequence is still open, untouched by the wrapper's.
    EXPECT_EQ(AppVexAbort(), 0);
}

TEST_F(CxxWrapperTest, ThreadsForOnePictureKeepTheBytesAndPixels) {
    q32vex::CompressOptions options;
    options.with_sampling(Sampling::S420);
    options.jpeg_quality = 80;
    options.comment = "strips";
    for (int restart : {0, 1, 29}) {
        options.restart_interval = restart;
        options.threads = 1;
        const std::vector<uint8_t> single = q32vex::compress(View(photo_), options);
        q32vex::DecompressOptions d;
        const q32vex::Image pixels = q32vex::decompress(single, d);
        for (int threads : {0, 2, 5}) {
            options.threads = threads;
            EXPECT_EQ(q32vex::compress(View(photo_), options), single) << restart << ", " << threads << " threads";
            d.threads = threads;
            EXPECT_EQ(q32vex::decompress(single, d).pixels, pixels.pixels) << restart << ", " << threads;
        }
        EXPECT_EQ(q32vex::read_info(single).segments.back().data.size(), options.comment.size());
    }
}

// The streaming forms take the same threads in strips, seeing rows and
// bytes in order; what the caller's functions throw on a worker thread comes
// back to the caller as it was thrown.
TEST_F(CxxWrapperTest, StreamingStripsOnThreadsKeepOrderAndExceptions) {
    q32vex::CompressOptions options;
    options.with_sampling(Sampling::S422);
    options.restart_interval = 3;
    options.threads = 1;
    const std::vector<uint8_t> single = q32vex::compress(View(photo_), options);
    const q32vex::Image pixels = q32vex::decompress(single);
    const q32vex::Reader reader = q32vex::detail::memory_reader(single.data(), single.size());
    for (int threads : {2, 3}) {
        options.threads = threads;
        std::vector<uint8_t> streamed;
        uint64_t expected = 0;
        bool inOrder = true;
        q32vex::compress(View(photo_), options, [&](uint64_t position, const uint8_t* data, size_t size) {
            inOrder = inOrder && position == expected;
            expected = position + size;
            streamed.insert(streamed.end(), data, data + size);
        });
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(streamed, single) << threads << " threads";

        // From a reader (its size hinted right, too small and not at all)
        // and from memory, where the strips are cut in place.
        q32vex::DecompressOptions d;
        d.threads = threads;
        for (int form = 0; form < 4; ++form) {
            q32vex::Image image;
            int nextRow = 0;
            const q32vex::ImageStart start = [&](int width, int height, PixelFormat format) {
                image.width = width;
                image.height = height;
                image.pixels.assign(size_t(width) * height * q32vex::bytes_per_pixel(format), 0);
            };
            const q32vex::BandSink sink = [&](int x, int y, int columns, int rows, const uint8_t* const* data) {
                inOrder = inOrder && x == 0 && y == nextRow && columns == image.width;
                nextRow = y + rows;
                for (int r = 0; r < rows; ++r) std::memcpy(image.row(y + r), data[r], size_t(columns) * 3);
            };
            d.size_hint = form == 1 ? single.size() : form == 2 ? 100 : 0;
            if (form == 3) {
                q32vex::decompress(single.data(), single.size(), q32vex::Container::Jfif, d, start, sink);
            } else {
                q32vex::decompress(reader, q32vex::Container::Jfif, d, start, sink);
            }
            EXPECT_TRUE(inOrder) << "form " << form;
            EXPECT_EQ(nextRow, pixels.height) << "form " << form;
            EXPECT_EQ(image.pixels, pixels.pixels) << threads << " threads, form " << form;
        }

        const q32vex::RowSource failing = [&](int, int, int y0, int y1, const uint8_t** rows) {
            if (y0 > 100) throw std::runtime_error("source gave up");
            for (int y = y0; y <= y1; ++y) rows[y - y0] = photo_.pixels.data() + size_t(y) * photo_.width * 3;
        };
        EXPECT_THROW(q32vex::compress(photo_.width, photo_.height, PixelFormat::Bgr24, options, failing,
                                      [](uint64_t, const uint8_t*, size_t) {}),
                     std::runtime_error);
        EXPECT_THROW(q32vex::decompress(
                         reader, q32vex::Container::Jfif, d, [](int, int, PixelFormat) {},
                         [](int, int y, int, int, const uint8_t* const*) {
                             if (y > 100) throw std::logic_error("sink gave up");
                         }),
                     std::logic_error);
    }
}

}  // namespace
}  // namespace vextest
