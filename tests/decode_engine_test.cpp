// The decompression engine driven pass by pass as the sequence drives it, on
// bare entropy-coded data written by the library's compressor: a window is
// exactly the crop of the whole decode and writes nothing outside itself,
// padding bytes and cut data behave, and unsupported pairs are refused.
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
