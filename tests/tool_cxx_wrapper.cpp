// The header-only C++ layer (q32vex.hpp): whole sequences from image views
// and byte vectors or std::function streams, exceptions with the status
// code, and the library lock held so that threads never interleave.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <set>
#include <stdexcept>
#include <thread>

#include "q32vex.hpp"
#include "tool_support.h"

namespace {

using q32vex::PixelFormat;
using q32vex::Sampling;

class CxxWrapperTest : public tooltest::ScratchTest {
protected:
    void SetUp() override {
        tooltest::ScratchTest::SetUp();
        ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath("photo1.ppm"), &photo_, 3));
        ASSERT_TRUE(vextest::LoadPnm(vextest::DataPath("photo2.ppm"), &photo2_, 3));
    }
    static q32vex::ImageView View(const vextest::Image& img, PixelFormat format = PixelFormat::Bgr24) {
        return q32vex::ImageView{img.pixels.data(), img.width, img.height,
                                 std::ptrdiff_t(img.width) * img.bytesPerPixel, format};
    }
    // An image in file (RGB) order, for comparing with djpeg.
    static tooltest::Pnm AsRgb(const q32vex::Image& img) {
        tooltest::Pnm p;
        p.width = img.width;
        p.height = img.height;
        p.channels = img.format == PixelFormat::Gray8 ? 1 : 3;
        const int bpp = q32vex::bytes_per_pixel(img.format);
        for (size_t i = 0; i < size_t(img.width) * img.height; ++i) {
            const uint8_t* s = img.pixels.data() + i * bpp;
            if (p.channels == 1) {
                p.samples.push_back(s[0]);
            } else {
                p.samples.push_back(s[2]);
                p.samples.push_back(s[1]);
                p.samples.push_back(s[0]);
            }
        }
        return p;
    }
    tooltest::Pnm Djpeg(const std::vector<uint8_t>& jpeg) {
        const std::string in = Path("in.jpg"), out = Path("out.pnm");
        EXPECT_TRUE(vextest::WriteFile(in, jpeg));
        EXPECT_EQ(vextest::Run("djpeg -nosmooth -dct int -outfile " + tooltest::Q(out) + " " + tooltest::Q(in)), 0);
        tooltest::Pnm p;
        EXPECT_TRUE(tooltest::ReadPnm(out, &p));
        return p;
    }
    vextest::Image photo_, photo2_;
};

TEST_F(CxxWrapperTest, CompressedVectorDecodesWithDjpeg) {
    if (!vextest::HaveTool("djpeg")) GTEST_SKIP() << "djpeg missing";
    q32vex::CompressOptions options;
    options.with_sampling(Sampling::S420);
    options.restart_interval = 7;
    const std::vector<uint8_t> jpeg = q32vex::compress(View(photo_), options);
    tooltest::Pnm source;
    ASSERT_TRUE(tooltest::ReadPnm(vextest::DataPath("photo1.ppm"), &source));
    EXPECT_GT(tooltest::PnmPsnr(Djpeg(jpeg), source), 30.0);
}

TEST_F(CxxWrapperTest, DecompressMatchesDjpeg) {
    if (!vextest::HaveTool("cjpeg") || !vextest::HaveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg missing";
    for (const char* flags : {"", "-grayscale", "-sample 1x1 -restart 2"}) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(vextest::Run(std::string("cjpeg ") + flags + " -outfile " + tooltest::Q(Path("c.jpg")) + " " +
                               tooltest::Q(vextest::DataPath("photo2.ppm"))),
                  0);
        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(vextest::ReadFile(Path("c.jpg"), &jpeg));
        const q32vex::Image image = q32vex::decompress(jpeg);
        EXPECT_EQ(image.format, std::string(flags) == "-grayscale" ? PixelFormat::Gray8 : PixelFormat::Bgr24);
        EXPECT_GE(tooltest::PnmPsnr(AsRgb(image), Djpeg(jpeg)), 40.0);
    }
}

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
        // A reader that serves from the bytes and counts its calls.
        int reads = 0;
        const q32vex::Image fromReader = q32vex::decompress(
            [&](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
                ++reads;
                if (position >= whole.size()) return 0;
                const size_t n = std::min<size_t>(capacity, whole.size() - position);
                std::memcpy(buffer, whole.data() + position, n);
                return n;
            },
            container, q32vex::DecompressOptions{});
        EXPECT_GT(reads, 0);
        EXPECT_EQ(fromReader.pixels, q32vex::decompress(whole).pixels);
    }
}

TEST_F(CxxWrapperTest, PixelFormatsCarryTheSameColours) {
    for (q32vex::Container container : {q32vex::Container::Jfif, q32vex::Container::Tiff}) {
        SCOPED_TRACE(int(container));
        q32vex::CompressOptions c;
        c.container = container;
        const std::vector<uint8_t> jpeg = q32vex::compress(View(photo2_), c);
        q32vex::DecompressOptions options;
        const q32vex::Image bgr = q32vex::decompress(jpeg, options);
        options.format = PixelFormat::Bgrx32;
        const q32vex::Image bgrx = q32vex::decompress(jpeg, options);
        options.format = PixelFormat::Bgr555;
        const q32vex::Image words = q32vex::decompress(jpeg, options);
        ASSERT_EQ(bgrx.pixels.size(), bgr.pixels.size() / 3 * 4);
        ASSERT_EQ(words.pixels.size(), bgr.pixels.size() / 3 * 2);
        int bad = 0;
        for (size_t i = 0; i < bgr.pixels.size() / 3; ++i) {
            const uint8_t* p = &bgr.pixels[i * 3];
            if (std::memcmp(p, &bgrx.pixels[i * 4], 3) != 0) ++bad;
            const unsigned w = words.pixels[i * 2] | words.pixels[i * 2 + 1] << 8;
            if (w != (unsigned(p[2] >> 3) << 10 | unsigned(p[1] >> 3) << 5 | unsigned(p[0] >> 3))) ++bad;
        }
        EXPECT_EQ(bad, 0);
        // Compressing from the 32-bit and 16-bit layouts reads them correctly.
        const std::vector<uint8_t> again = q32vex::compress(bgrx.view());
        EXPECT_GE(vextest::Psnr(q32vex::decompress(again).pixels.data(), bgr.pixels.data(), bgr.pixels.size()), 38.0);
        const std::vector<uint8_t> from555 = q32vex::compress(words.view());
        EXPECT_GE(vextest::Psnr(q32vex::decompress(from555).pixels.data(), bgr.pixels.data(), bgr.pixels.size()), 30.0);
    }
}

TEST_F(CxxWrapperTest, FourComponentImagesRoundTrip) {
    const vextest::Image four = vextest::MakeTestImage(100, 70, 4, 5);
    for (Sampling s : {Sampling::Four444, Sampling::Four420}) {
        q32vex::CompressOptions options;
        options.with_sampling(s);
        options.quality = 10;
        const std::vector<uint8_t> jpeg = q32vex::compress(View(four, PixelFormat::Four8), options);
        const q32vex::ImageInfo info = q32vex::read_info(jpeg);
        EXPECT_EQ(info.components, 4);
        const q32vex::Image back = q32vex::decompress(jpeg);
        EXPECT_EQ(back.format, PixelFormat::Four8);
        ASSERT_EQ(back.pixels.size(), four.pixels.size());
        EXPECT_GT(vextest::Psnr(back.pixels.data(), four.pixels.data(), four.pixels.size()), 30.0);
    }
}

TEST_F(CxxWrapperTest, RawStreamsDecodeWithTheirHeader) {
    q32vex::CompressOptions options;
    options.with_sampling(Sampling::S420);
    options.restart_interval = 3;
    options.quality = 30;
    options.container = q32vex::Container::Raw;
    const std::vector<uint8_t> raw = q32vex::compress(View(photo_), options);
    EXPECT_THROW(q32vex::decompress(raw), q32vex::Error);  // nothing says what it is
    q32vex::DecompressOptions d;
    d.raw_header = q32vex::raw_stream_header(photo_.width, photo_.height, PixelFormat::Bgr24, options);
    const q32vex::Image fromRaw = q32vex::decompress(raw, d);

    options.container = q32vex::Container::Jfif;
    const std::vector<uint8_t> jfif = q32vex::compress(View(photo_), options);
    EXPECT_EQ(fromRaw.pixels, q32vex::decompress(jfif).pixels);
    // Header + data + EOI is a complete stream.
    std::vector<uint8_t> joined = d.raw_header;
    joined.insert(joined.end(), raw.begin(), raw.end());
    joined.push_back(0xFF);
    joined.push_back(0xD9);
    EXPECT_EQ(q32vex::decompress(joined).pixels, fromRaw.pixels);
}

TEST_F(CxxWrapperTest, InfoListsTablesAndSegments) {
    q32vex::CompressOptions options;
    options.comment = "wrapper comment";
    options.quality = 50;
    const q32vex::ImageInfo info = q32vex::read_info(q32vex::compress(View(photo_), options));
    EXPECT_EQ(info.width, 451);
    EXPECT_EQ(info.height, 300);
    EXPECT_EQ(info.components, 3);
    EXPECT_EQ(info.h[0], 2);
    EXPECT_EQ(info.v[0], 1);
    ASSERT_EQ(info.quant_tables.size(), 2u);
    EXPECT_EQ(info.quant_tables[0][0], 16);  // Table K.1 unscaled, zigzag order
    EXPECT_EQ(info.quant_tables[0][1], 11);
    EXPECT_EQ(info.quant_tables[0][2], 12);
    EXPECT_EQ(info.quant_index[2], info.quant_index[1]);
    EXPECT_EQ(info.dc_tables.size(), 2u);
    EXPECT_EQ(info.ac_tables.size(), 2u);
    bool sawComment = false;
    for (const q32vex::Segment& s : info.segments)
        if (s.marker == 0xFE && std::string(s.data.begin(), s.data.end()) == "wrapper comment") sawComment = true;
    EXPECT_TRUE(sawComment);
}

TEST_F(CxxWrapperTest, FailuresThrowWithTheStatusCode) {
    const std::vector<uint8_t> garbage = {0xFF, 0xD8, 0xFF, 0xC2, 0, 4, 1, 2, 3, 4};
    try {
        q32vex::decompress(garbage);
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
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
}

TEST_F(CxxWrapperTest, CallerExceptionsPassThroughAndLeaveTheLibraryIdle) {
    q32vex::CompressOptions options;
    options.band_rows = 8;
    options.quality = 4;  // the second buffer is handed over mid-image
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
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN) << "the sequence was closed";

    const std::vector<uint8_t> jpeg = q32vex::compress(View(photo_));
    EXPECT_THROW(q32vex::decompress(
                     [&](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
                         if (position > 1000) throw std::out_of_range("reader gave up");
                         const size_t n = std::min<size_t>(capacity, jpeg.size() - position);
                         std::memcpy(buffer, jpeg.data() + position, n);
                         return std::min<size_t>(n, 600);
                     },
                     q32vex::Container::Jfif, q32vex::DecompressOptions{}),
                 std::out_of_range);
    q32vex::DecompressOptions d;
    d.band_rows = 16;
    d.progress = [](uint64_t, uint64_t) { throw std::runtime_error("cancelled"); };
    EXPECT_THROW(q32vex::decompress(jpeg, d), std::runtime_error);
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
    // The library is ready for the next caller.
    EXPECT_EQ(q32vex::decompress(jpeg).width, 451);
}

TEST_F(CxxWrapperTest, ConcurrentThreadsNeverInterleaveSequences) {
    q32vex::CompressOptions a;
    a.band_rows = 8;
    q32vex::CompressOptions b;
    b.band_rows = 16;
    b.with_sampling(Sampling::S444);
    b.container = q32vex::Container::Tiff;
    b.tile_width = 64, b.tile_height = 64;
    const std::vector<uint8_t> expectA = q32vex::compress(View(photo_), a);
    const std::vector<uint8_t> expectB = q32vex::compress(View(photo2_), b);
    q32vex::DecompressOptions d;
    d.band_rows = 8;
    const std::vector<uint8_t> pixelsB = q32vex::decompress(expectB, d).pixels;
    std::atomic<int> wrong{0}, failed{0};
    auto worker = [&](bool first) {
        for (int i = 0; i < 12; ++i) {
            try {
                if (first) {
                    if (q32vex::compress(View(photo_), a) != expectA) ++wrong;
                } else {
                    if (q32vex::compress(View(photo2_), b) != expectB) ++wrong;
                    if (q32vex::decompress(expectB, d).pixels != pixelsB) ++wrong;
                }
            } catch (const std::exception&) {
                ++failed;
            }
        }
    };
    std::thread t1(worker, true), t2(worker, false);
    t1.join();
    t2.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(failed.load(), 0);
}

TEST_F(CxxWrapperTest, EveryStatusCodeHasANameAndAMeaning) {
    const int codes[] = {VEX_ERR_IO_REQUEST,   VEX_ERR_UNSUPPORTED,    VEX_ERR_NOT_OPEN,    VEX_ERR_WINDOW,
                         VEX_ERR_AC_COUNT,     VEX_ERR_DC_COUNT,       VEX_ERR_NO_CALLBACK, VEX_ERR_SHORT_READ,
                         VEX_ERR_AC_TABLE,     VEX_ERR_DC_TABLE,       VEX_ERR_Q_TABLE,     VEX_ERR_SAMPLING,
                         VEX_ERR_BAND,         VEX_ERR_TILE,           VEX_ERR_IMAGE_SIZE,  VEX_ERR_CONTAINER,
                         VEX_ERR_PIXEL_FORMAT, VEX_ERR_PIXEL_MODEL,    VEX_ERR_COLOR_SPACE, VEX_ERR_QUALITY,
                         VEX_ERR_NO_BUFFER,    VEX_ERR_DIFFERENT,      VEX_ERR_TABLE_KIND,  VEX_ERR_NO_MEMORY,
                         VEX_ERR_BUSY,         VEX_ERR_NOT_COMPRESSING};
    std::set<std::string> names, messages;
    const std::string fallback = q32vex::status_message(12345);
    for (int code : codes) {
        const std::string name = q32vex::status_name(code);
        const std::string message = q32vex::status_message(code);
        EXPECT_EQ(name.rfind("VEX_ERR_", 0), 0u) << code;
        EXPECT_NE(message, fallback) << code;
        names.insert(name);
        messages.insert(message);
        const std::string what = q32vex::Error(code).what();
        EXPECT_EQ(what, name + " (" + std::to_string(code) + "): " + message);
    }
    EXPECT_EQ(names.size(), std::size(codes));
    EXPECT_EQ(messages.size(), std::size(codes));
    EXPECT_EQ(std::string(q32vex::status_name(7)), "");
}

}  // namespace
