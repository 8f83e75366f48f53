// The decompression engine driven pass by pass as the sequence drives it, on
// bare entropy-coded data written by the library's compressor: whole images
// decode close to their source in every supported pair, a window is exactly
// the crop of the whole decode and writes nothing outside itself, restart
// intervals and input feeding change no pixel.
#include <cstring>

#include "decode/decompress_engine.h"
#include "decode/input_reader.h"
#include "decode_helpers.h"

namespace {

using namespace vextest;
using namespace vextest::decode;
using q32vex::g;

class DecodeEngine : public LibraryTest {};

struct Case {
    int format;
    int sampling;
    int width;
    int height;
    uint16_t restartInterval = 0;
};

int McuWidthOf(int sampling) {
    return sampling == 6 ? 32 : (sampling == 0 || sampling == 1 || sampling == 4) ? 16 : 8;
}
int McuHeightOf(int sampling) {
    return (sampling == 1 || sampling == 4) ? 16 : 8;
}

// Every quantiser 4: fine enough for a close decode, coarse enough to code
// real data.
const uint8_t* QuantFour() {
    static uint8_t q[64];
    std::memset(q, 4, sizeof(q));
    return q;
}

std::vector<uint8_t> Compress(const Case& c, const Image& image) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(c.width);
    p.height = uint16_t(c.height);
    p.containerKind = VEX_CONTAINER_RAW;
    p.restartInterval = c.restartInterval;
    p.quality = 50;
    p.pixelFormat = FormatDesc(c.format, &p.pixelModel);
    p.sampling = SamplingOf(c.sampling, &p.colorSpace);
    for (int i = 0; i < 4; ++i) p.qTables[i] = QuantFour();
    std::vector<uint8_t> stream;
    EXPECT_EQ(CompressImage(p, image, CompressOptions(), &stream), 0);
    return stream;
}

// Decoded window with a guard of 0xAA bytes behind every row.
struct Window {
    static constexpr int kGuard = 24;
    int x0, y0, x1, y1, bpp;
    std::vector<uint8_t> bytes;
    int Width() const { return x1 - x0 + 1; }
    int Height() const { return y1 - y0 + 1; }
    size_t Stride() const { return size_t(Width()) * bpp + kGuard; }
    uint8_t* Row(int y) { return bytes.data() + size_t(y) * Stride(); }
    const uint8_t* Pixel(int x, int y) const { return bytes.data() + size_t(y) * Stride() + size_t(x) * bpp; }
    bool GuardsIntact() const {
        for (int y = 0; y < Height(); ++y) {
            const uint8_t* g = bytes.data() + size_t(y) * Stride() + size_t(Width()) * bpp;
            for (int i = 0; i < kGuard; ++i) {
                if (g[i] != 0xAA) return false;
            }
        }
        return true;
    }
};

q32vex::EngineParams DecoderParams(const Case& c, const PixelFormatDesc* format,
                                   const SamplingDesc* sampling, int16_t pixelModel,
                                   int16_t colorSpace) {
    const q32vex::DefaultTableSet& tables = q32vex::kDefaultTableSets[colorSpace];
    q32vex::EngineParams e{};
    e.mcusPerPass = uint16_t((c.width + McuWidthOf(c.sampling) - 1) / McuWidthOf(c.sampling));
    e.passesPerTile = uint16_t((c.height + McuHeightOf(c.sampling) - 1) / McuHeightOf(c.sampling));
    e.restartInterval = c.restartInterval;
    e.pixelModel = pixelModel;
    e.pixelFormat = format;
    e.colorSpace = colorSpace;
    e.sampling = sampling;
    for (int i = 0; i < tables.components; ++i) {
        e.qTables[i] = QuantFour();
        e.dcTables[i] = tables.dc[i];
        e.acTables[i] = tables.ac[i];
    }
    return e;
}

// Decodes the stream pass by pass into the window (image coordinates,
// inclusive), handing the engine the window clipped to each pass as the
// decompression sequence does.
Window Decode(const Case& c, const std::vector<uint8_t>& stream, int x0, int y0, int x1, int y1,
              uint16_t chunk = 65535) {
    int16_t pixelModel = 0, colorSpace = 0;
    const PixelFormatDesc format = FormatDesc(c.format, &pixelModel);
    const SamplingDesc sampling = SamplingOf(c.sampling, &colorSpace);
    const q32vex::EngineParams e = DecoderParams(c, &format, &sampling, pixelModel, colorSpace);
    Window w{x0, y0, x1, y1, BytesPerPixel(c.format), {}};
    w.bytes.assign(w.Stride() * w.Height(), 0xAA);

    EXPECT_EQ(q32vex::SetupDecodeEngine(&e), 0);
    ResetSource(stream, chunk);
    OpenUntiledInput(SourceRead);
    EXPECT_EQ(q32vex::StartDecodeSegment(), 0);
    const int mcuHeight = McuHeightOf(c.sampling);
    for (int pass = 0; pass < e.passesPerTile; ++pass) {
        const int top = pass * mcuHeight, bottom = top + mcuHeight - 1;
        q32vex::Rect16 clip = {1, 0, 0, 0};
        uint8_t* rows[16] = {};
        const int cy0 = std::max(y0, top), cy1 = std::min(y1, bottom);
        if (cy0 <= cy1) {
            clip = {uint16_t(x0), uint16_t(cy0 - top), uint16_t(x1), uint16_t(cy1 - top)};
            for (int y = cy0; y <= cy1; ++y) rows[y - cy0] = w.Row(y - y0);
        }
        const uint16_t passesBefore = g.engine.passesLeft;
        EXPECT_EQ(q32vex::DecodeMcuRow(&clip, rows), 0) << "pass " << pass;
        EXPECT_EQ(g.engine.passesLeft, passesBefore - 1);
    }
    return w;
}

// Channel values of a decoded or source pixel, for comparison by PSNR.
void Channels(const uint8_t* p, int format, std::vector<uint8_t>* out) {
    switch (format) {
        case 0: {
            const int word = p[0] | p[1] << 8;
            out->push_back(uint8_t((word & 31) << 3));
            out->push_back(uint8_t(((word >> 5) & 31) << 3));
            out->push_back(uint8_t(((word >> 10) & 31) << 3));
            break;
        }
        case 1:
        case 2: out->insert(out->end(), p, p + 3); break;
        case 3: out->push_back(p[0]); break;
        default: out->insert(out->end(), p, p + 4); break;
    }
}

// Test content in the pixel format of the case; 5-5-5 words are packed from
// 24-bit content so that each field varies smoothly.
Image SourceImage(const Case& c, uint32_t seed) {
    if (c.format != 0) return MakeTestImage(c.width, c.height, BytesPerPixel(c.format), seed);
    const Image bgr = MakeTestImage(c.width, c.height, 3, seed);
    Image out;
    out.width = c.width;
    out.height = c.height;
    out.bytesPerPixel = 2;
    out.pixels.resize(size_t(c.width) * c.height * 2);
    for (size_t i = 0; i < size_t(c.width) * c.height; ++i) {
        const uint8_t* p = bgr.pixels.data() + 3 * i;
        const int word = (p[0] >> 3) | (p[1] >> 3) << 5 | (p[2] >> 3) << 10;
        out.pixels[2 * i] = uint8_t(word);
        out.pixels[2 * i + 1] = uint8_t(word >> 8);
    }
    return out;
}

const Case kPairs[] = {
    {0, 0, 37, 21}, {0, 1, 37, 21}, {0, 2, 37, 21}, {1, 0, 37, 21}, {1, 1, 37, 21},
    {1, 2, 37, 21}, {1, 6, 70, 21}, {2, 0, 37, 21}, {2, 1, 37, 21}, {2, 2, 37, 21},
    {3, 3, 37, 21}, {4, 4, 37, 21}, {4, 5, 37, 21},
};

TEST_F(DecodeEngine, WholeImageDecodesCloseToItsSourceInEveryPair) {
    for (const Case& c : kPairs) {
        const Image image = SourceImage(c, 7 + c.sampling);
        const std::vector<uint8_t> stream = Compress(c, image);
        ASSERT_FALSE(stream.empty());
        const Window w = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
        std::vector<uint8_t> source, decoded;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                Channels(image.row(y) + x * image.bytesPerPixel, c.format, &source);
                Channels(w.Pixel(x, y), c.format, &decoded);
            }
        }
        // 5-5-5 fields lose three bits on the way out: a level just below a
        // step of 8 reads one step lower, which costs a few dB.
        EXPECT_GT(Psnr(source.data(), decoded.data(), source.size()), c.format == 0 ? 31.0 : 36.0)
            << "format " << c.format << " sampling " << c.sampling;
        EXPECT_TRUE(w.GuardsIntact());
    }
}

// The fourth byte of 32-bit colour pixels is not decoded data (see
// FourthByteOfColourPixels): set `colourBytes` to 3 to leave it out.
void ExpectCropOf(const Window& whole, const Window& part, const char* what, int colourBytes = 0) {
    const int compared = colourBytes != 0 ? colourBytes : part.bpp;
    int wrong = 0;
    for (int y = 0; y < part.Height(); ++y) {
        for (int x = 0; x < part.Width(); ++x) {
            wrong += std::memcmp(part.Pixel(x, y), whole.Pixel(part.x0 + x, part.y0 + y), compared) != 0;
        }
    }
    EXPECT_EQ(wrong, 0) << what << ": window " << part.x0 << "," << part.y0 << " - " << part.x1
                        << "," << part.y1;
    EXPECT_TRUE(part.GuardsIntact()) << what;
}

TEST_F(DecodeEngine, WindowIsTheCropOfTheWholeDecode) {
    const Case cases[] = {
        {1, 0, 20, 8},  // second MCU of each row cut at column 3
        {1, 6, 60, 8},  // second 32-pixel MCU cut at column 27: 84 of 96 bytes per row
        {0, 1, 45, 35},
        {3, 3, 29, 19},
        {4, 4, 35, 33},
        {2, 2, 27, 17},
    };
    for (const Case& c : cases) {
        const Image image = SourceImage(c, 3);
        const std::vector<uint8_t> stream = Compress(c, image);
        const Window whole = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
        const int windows[][4] = {
            {5, 0, c.width - 1, c.height - 1},  // starts inside the first MCU
            {0, 3, c.width - 1, c.height - 2},  // starts and ends inside MCU rows
            {6, 5, 13, 6},                      // inside one MCU or across two
            {c.width - 1, c.height - 1, c.width - 1, c.height - 1},
            {1, 0, c.width - 2, 0},
        };
        for (const auto& r : windows) {
            const Window part = Decode(c, stream, r[0], r[1], r[2], r[3]);
            ExpectCropOf(whole, part, "pair", c.format == 2 ? 3 : 0);
        }
    }
}

TEST_F(DecodeEngine, FourthByteOfColourPixels) {
    // Whole MCUs leave the host's fourth byte alone; MCUs the window cuts come
    // through edgeRows, whose fourth bytes are kept at zero.
    const Case c{2, 2, 20, 8};
    const Image image = MakeTestImage(c.width, c.height, 4, 5);
    const std::vector<uint8_t> stream = Compress(c, image);
    const Window w = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(w.Pixel(x, y)[3], x < 16 ? 0xAA : 0) << x << "," << y;
        }
    }
}

TEST_F(DecodeEngine, EmptyWindowDecodesThePassWithoutWriting) {
    const Case c{1, 0, 48, 16, 2};  // 3 MCUs per pass; restart points run across passes
    const Image image = MakeTestImage(c.width, c.height, 3, 11);
    const std::vector<uint8_t> stream = Compress(c, image);
    const Window whole = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
    // Rows 8..15 only: the first pass gets an empty window.
    const Window lower = Decode(c, stream, 0, 8, c.width - 1, c.height - 1);
    ExpectCropOf(whole, lower, "lower half");
    EXPECT_EQ(g.engine.passesLeft, 0);
}

TEST_F(DecodeEngine, RestartIntervalsChangeNoPixel) {
    // 5 MCUs per pass: an interval of 3 puts restart points after MCUs 3 and 6,
    // the second inside the second pass; intervals of 5 and 1 divide the
    // number of MCUs, so a restart point also follows the last MCU.
    const Case plain{1, 0, 80, 24};
    const Image image = MakeTestImage(plain.width, plain.height, 3, 21);
    const Window reference =
        Decode(plain, Compress(plain, image), 0, 0, plain.width - 1, plain.height - 1);
    for (uint16_t interval : {1, 2, 3, 5, 7, 15}) {
        Case c = plain;
        c.restartInterval = interval;
        const std::vector<uint8_t> stream = Compress(c, image);
        const Window w = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
        ExpectCropOf(reference, w, "restart interval");
        const Window part = Decode(c, stream, 21, 3, 50, 20);
        ExpectCropOf(reference, part, "restart interval, window");
    }
}

TEST_F(DecodeEngine, InputFeedingChangesNoPixel) {
    const Case c{1, 1, 61, 45, 4};
    const Image image = MakeTestImage(c.width, c.height, 3, 31);
    const std::vector<uint8_t> stream = Compress(c, image);
    const Window reference = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
    for (uint16_t chunk : {1, 3, 511, 513}) {
        const Window w = Decode(c, stream, 0, 0, c.width - 1, c.height - 1, chunk);
        ExpectCropOf(reference, w, "feeding");
    }
}

TEST_F(DecodeEngine, TruncatedDataDecodesToTheEndWithoutError) {
    const Case c{3, 3, 64, 32};
    const Image image = MakeTestImage(c.width, c.height, 1, 41);
    std::vector<uint8_t> stream = Compress(c, image);
    const Window whole = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
    stream.resize(stream.size() / 2);
    const Window cut = Decode(c, stream, 0, 0, c.width - 1, c.height - 1);
    EXPECT_EQ(std::memcmp(cut.Pixel(0, 0), whole.Pixel(0, 0), 8), 0)
        << "the data that is there decodes as before";
    EXPECT_TRUE(cut.GuardsIntact());
}

TEST_F(DecodeEngine, UnsupportedPairIsRefusedAtSetup) {
    // 5-5-5 pixels are not offered for 4:1:1 data.
    int16_t pixelModel = 0, colorSpace = 0;
    const PixelFormatDesc format = FormatDesc(0, &pixelModel);
    const SamplingDesc sampling = SamplingOf(6, &colorSpace);
    const Case c{0, 6, 64, 8};
    const q32vex::EngineParams e = DecoderParams(c, &format, &sampling, pixelModel, colorSpace);
    EXPECT_EQ(q32vex::SetupDecodeEngine(&e), VEX_ERR_UNSUPPORTED);
}

}  // namespace
