// Codec instances through their C interface: the same sequences as the legacy
// exports, byte for byte; host functions that get their own context; and
// instances that do not see each other's sequences or the legacy one.
#include <cstring>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {
namespace {

const compress::Shape kShapes[] = {
    {"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 61, 35, 2},
    {"jfif_444_32", VEX_CONTAINER_JFIF, 2, 2, 30, 17},
    {"tiff_grey_tiled", VEX_CONTAINER_TIFF, 3, 3, 40, 24, 0, 16, 8},
    {"tiff_four", VEX_CONTAINER_TIFF, 5, 4, 24, 24},
    {"jfif_555_422", VEX_CONTAINER_JFIF, 0, 0, 33, 9},
};

struct Instance {
    VexCodec* codec = VexCodecCreate();
    ~Instance() { VexCodecDestroy(codec); }
};

std::vector<uint8_t> CompressToMemory(VexCodec* codec, AppVexParams p, const Image& image, int16_t* status) {
    uint8_t* out = nullptr;
    size_t size = 0;
    *status = VexCompressMemory(codec, &p, image.pixels.data(), image.width * image.bytesPerPixel, &out, &size);
    std::vector<uint8_t> stream(out, out + size);
    VexFree(out);
    return stream;
}

// Header, then the whole image into a buffer sized from it.
int16_t DecompressFromMemory(VexCodec* codec, const std::vector<uint8_t>& stream, AppVexParams p, Image* out) {
    const int16_t info = VexReadInfoMemory(codec, &p, stream.data(), stream.size());
    if (info != 0) return info;
    out->width = p.width;
    out->height = p.height;
    out->bytesPerPixel = (p.pixelFormat.bits[0] + p.pixelFormat.pad[0] + p.pixelFormat.bits[1] +
                          p.pixelFormat.pad[1] + p.pixelFormat.bits[2] + p.pixelFormat.pad[2] +
                          p.pixelFormat.bits[3] + p.pixelFormat.pad[3] + 7) / 8;
    out->pixels.assign(size_t(out->width) * out->height * out->bytesPerPixel, 0xAA);
    return VexDecompressMemory(codec, &p, stream.data(), stream.size(), out->pixels.data(),
                               out->width * out->bytesPerPixel);
}

// The pixel bytes of an image, without the pad byte of 32-bit pixels, which
// neither decoder promises to write.
std::vector<uint8_t> PixelBytes(const Image& image, int formatIndex) {
    if (formatIndex != 2) return image.pixels;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        if (i % 4 != 3) bytes.push_back(image.pixels[i]);
    return bytes;
}

class CodecInstances : public LibraryTest, public ::testing::WithParamInterface<compress::Shape> {};

TEST_P(CodecInstances, OneCallFormsGiveTheLegacyExportsBytesAndPixels) {
    const compress::Shape& s = GetParam();
    const Image image = MakeTestImage(s.width, s.height, BytesPerPixel(s.formatIndex), 7);
    std::vector<uint8_t> legacy;
    ASSERT_EQ(CompressImage(compress::ParamsFor(s), image, {}, &legacy), 0);
    Image legacyPixels;
    const AppVexParams readParams = compress::ReadParams(s.container, s.formatIndex, s.samplingIndex);
    ASSERT_EQ(DecompressImage(legacy, readParams, {}, &legacyPixels), 0);

    Instance instance;
    ASSERT_NE(instance.codec, nullptr);
    // Twice on one instance: what a sequence leaves behind does not reach
    // the next.
    for (int round = 0; round < 2; ++round) {
        int16_t status = -1;
        const std::vector<uint8_t> stream = CompressToMemory(instance.codec, compress::ParamsFor(s), image, &status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(stream, legacy) << "round " << round;
        Image decoded;
        ASSERT_EQ(DecompressFromMemory(instance.codec, stream, readParams, &decoded), 0);
        EXPECT_EQ(PixelBytes(decoded, s.formatIndex), PixelBytes(legacyPixels, s.formatIndex)) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CodecInstances, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// A host that keeps its state behind the context pointer.
struct ContextHost {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> lent = std::vector<uint8_t>(100);
    size_t position = 0;  // stream position of `lent`
    size_t readPosition = 0;
    std::string commentOut = "made on an instance";
    std::string commentIn;
    int writes = 0, reads = 0;
};

int16_t ContextWrite(void* context, uint8_t** buffer, int32_t position, uint16_t* size) {
    auto& h = *static_cast<ContextHost*>(context);
    ++h.writes;
    if (*buffer != nullptr && *size != 0) {
        if (h.stream.size() < h.position + *size) h.stream.resize(h.position + *size);
        std::memcpy(h.stream.data() + h.position, *buffer, *size);
    }
    h.position = position == -1 ? h.position + *size : size_t(position);
    *buffer = h.lent.data();
    *size = uint16_t(h.lent.size());
    return 0;
}

int16_t ContextRead(void* context, uint8_t** data, int32_t position, uint16_t* count, int16_t*) {
    auto& h = *static_cast<ContextHost*>(context);
    ++h.reads;
    if (position != -1) h.readPosition = size_t(position);
    const size_t n = std::min<size_t>({*count, size_t(37), h.stream.size() - h.readPosition});
    *data = h.stream.data() + h.readPosition;
    *count = uint16_t(n);
    h.readPosition += n;
    return 0;
}

int16_t ContextComment(void* context, uint8_t marker, uint16_t* size, uint16_t* bufferLength, uint8_t** data) {
    auto& h = *static_cast<ContextHost*>(context);
    *size = 0;
    if (marker != 0xFE) return 0;
    *size = uint16_t(h.commentOut.size() + 4);
    *bufferLength = uint16_t(h.commentOut.size());
    *data = reinterpret_cast<uint8_t*>(h.commentOut.data());
    return 0;
}

int16_t ContextCommentRead(void* context, uint8_t marker, uint16_t, uint16_t count, uint8_t** data) {
    auto& h = *static_cast<ContextHost*>(context);
    if (marker == 0xFE && count != 0) h.commentIn.append(reinterpret_cast<const char*>(*data), count);
    return 0;
}

using CodecInstanceIo = LibraryTest;

TEST_F(CodecInstanceIo, HostFunctionsReceiveTheirContextAndServeInsteadOfTheRecords) {
    const compress::Shape& s = kShapes[0];
    const Image image = MakeTestImage(s.width, s.height, 3, 11);
    ContextHost host;
    VexIo io{&host, ContextWrite, ContextRead, ContextComment, ContextCommentRead};
    Instance instance;
    VexCodecSetIo(instance.codec, &io);

    AppVexParams p = compress::ParamsFor(s);
    p.bandWidth = uint16_t(s.width);
    p.bandHeight = 16;
    p.writeCallback = nullptr;  // the instance's function serves
    p.appMarkerCallback = nullptr;
    ASSERT_EQ(VexCompressOpen(instance.codec, &p), 0);
    std::vector<uint8_t*> rows(size_t(p.bandHeight));
    BandRect band = {0, 0, uint16_t(std::min<int>(p.bandWidth, s.width) - 1),
                     uint16_t(std::min<int>(p.bandHeight, s.height) - 1)};
    for (;;) {
        for (int y = band.y0; y <= band.y1; ++y)
            rows[size_t(y - band.y0)] = const_cast<uint8_t*>(image.row(y)) + band.x0 * 3;
        BandRect next = {1, 0, 0, 0};
        ASSERT_EQ(VexCompressBand(instance.codec, rows.data(), &next), 0);
        if (next.x0 == 1 && next.x1 == 0) break;
        band = next;
    }
    EXPECT_GT(host.writes, 3);  // 100-byte buffers
    const std::string text(host.stream.begin(), host.stream.end());
    EXPECT_NE(text.find(host.commentOut), std::string::npos);

    // The same stream decodes through the instance's reader, and its comment
    // reaches the instance's segment function.
    AppVexParams r = compress::ReadParams(s.container, s.formatIndex, s.samplingIndex);
    ASSERT_EQ(VexReadInfo(instance.codec, &r), 0);
    // After the library's own comment segment comes the host's.
    ASSERT_GT(host.commentIn.size(), host.commentOut.size());
    EXPECT_EQ(host.commentIn.substr(host.commentIn.size() - host.commentOut.size()), host.commentOut);
    EXPECT_EQ(r.width, s.width);
    EXPECT_GT(host.reads, 1);

    // Without the instance's functions, the record has none either.
    VexCodecSetIo(instance.codec, nullptr);
    AppVexParams bare = compress::ParamsFor(s);
    bare.writeCallback = nullptr;
    EXPECT_EQ(VexCompressOpen(instance.codec, &bare), VEX_ERR_NO_CALLBACK);
    AppVexParams bareRead = compress::ReadParams(s.container, s.formatIndex, s.samplingIndex);
    bareRead.readCallback = nullptr;
    EXPECT_EQ(VexReadInfo(instance.codec, &bareRead), VEX_ERR_NO_CALLBACK);

    // The stream is the legacy exports' stream with the comment added.
    std::vector<uint8_t> legacy;
    ASSERT_EQ(CompressImage(compress::ParamsFor(s), image, {}, &legacy), 0);
    EXPECT_EQ(host.stream.size(), legacy.size() + 4 + host.commentOut.size());
}

TEST_F(CodecInstanceIo, SequencesOnOtherInstancesAndOnTheExportsDoNotInterfere) {
    const compress::Shape& s = kShapes[2];
    const Image image = MakeTestImage(s.width, s.height, 1, 5);
    std::vector<uint8_t> reference;
    ASSERT_EQ(CompressImage(compress::ParamsFor(s), image, {}, &reference), 0);

    // Instance A opens a compression and stops half-way.
    ContextHost host;
    host.lent.resize(4096);
    VexIo io{&host, ContextWrite, nullptr, nullptr, nullptr};
    Instance a;
    VexCodecSetIo(a.codec, &io);
    AppVexParams p = compress::ParamsFor(s);
    p.bandHeight = 8;
    p.bandWidth = uint16_t(s.width);
    ASSERT_EQ(VexCompressOpen(a.codec, &p), 0);
    BandRect band = {0, 0, uint16_t(s.width - 1), 7};
    std::vector<uint8_t*> rows(8);
    auto feed = [&](BandRect* next) {
        for (int y = band.y0; y <= band.y1; ++y) rows[size_t(y - band.y0)] = const_cast<uint8_t*>(image.row(y));
        *next = {1, 0, 0, 0};
        return VexCompressBand(a.codec, rows.data(), next);
    };
    BandRect next;
    ASSERT_EQ(feed(&next), 0);
    band = next;

    // Meanwhile: the legacy exports, another instance, and an abort and
    // release on that other instance.
    std::vector<uint8_t> legacy;
    ASSERT_EQ(CompressImage(compress::ParamsFor(s), image, {}, &legacy), 0);
    EXPECT_EQ(legacy, reference);
    {
        Instance b;
        int16_t status = -1;
        EXPECT_EQ(CompressToMemory(b.codec, compress::ParamsFor(s), image, &status), reference);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(VexAbort(b.codec), VEX_ERR_NOT_OPEN);
        EXPECT_EQ(VexReleaseMemory(b.codec), 0);
    }
    EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);  // the exports' instance is idle

    // A is still open and finishes with the reference bytes.
    AppVexParams other = compress::ParamsFor(s);
    EXPECT_EQ(VexCompressOpen(a.codec, &other), VEX_ERR_BUSY);
    for (;;) {
        ASSERT_EQ(feed(&next), 0);
        if (next.x0 == 1 && next.x1 == 0) break;
        band = next;
    }
    EXPECT_EQ(host.stream, reference);
}

TEST_F(CodecInstanceIo, DamagedStreamsGiveAStatusAndReleaseEverything) {
    const compress::Shape& s = kShapes[0];
    const Image image = MakeTestImage(s.width, s.height, 3, 3);
    Instance instance;
    int16_t status = -1;
    const std::vector<uint8_t> stream = CompressToMemory(instance.codec, compress::ParamsFor(s), image, &status);
    ASSERT_EQ(status, 0);
    const AppVexParams readParams = compress::ReadParams(s.container, s.formatIndex, s.samplingIndex);
    int failures = 0;
    for (size_t cut = 0; cut < stream.size(); cut += 7) {
        const std::vector<uint8_t> head(stream.begin(), stream.begin() + ptrdiff_t(cut));
        Image decoded;
        const int16_t result = DecompressFromMemory(instance.codec, head, readParams, &decoded);
        failures += result != 0;
        // A failed one-call sequence leaves the instance idle.
        EXPECT_EQ(VexAbort(instance.codec), VEX_ERR_NOT_OPEN) << "cut at " << cut;
    }
    EXPECT_GT(failures, 0);
    Image whole;
    EXPECT_EQ(DecompressFromMemory(instance.codec, stream, readParams, &whole), 0);
}

}  // namespace
}  // namespace vextest

namespace vextest {
namespace {

// The header of bare data: with the data and EOI it is a stream djpeg
// decodes to the JFIF file's pixels, and it is refused room it lacks.
TEST_F(CodecInstanceIo, RawStreamHeaderMakesBareDataAStream) {
    for (const compress::Shape& s : kShapes) {
        if (s.container != VEX_CONTAINER_JFIF) continue;
        const Image image = MakeTestImage(s.width, s.height, BytesPerPixel(s.formatIndex), 21);
        AppVexParams p = compress::ParamsFor(s);
        Instance instance;
        int16_t status = -1;
        const std::vector<uint8_t> jfif = CompressToMemory(instance.codec, p, image, &status);
        ASSERT_EQ(status, 0);
        p.containerKind = VEX_CONTAINER_RAW;
        std::vector<uint8_t> stream(2048);
        size_t size = 0;
        ASSERT_EQ(VexRawStreamHeader(&p, stream.data(), stream.size(), &size), 0) << s.name;
        EXPECT_EQ(VexRawStreamHeader(&p, stream.data(), size - 1, &size), VEX_ERR_NO_BUFFER);
        ASSERT_EQ(VexRawStreamHeader(&p, stream.data(), stream.size(), &size), 0);
        stream.resize(size);
        const std::vector<uint8_t> raw = CompressToMemory(instance.codec, p, image, &status);
        ASSERT_EQ(status, 0);
        stream.insert(stream.end(), raw.begin(), raw.end());
        stream.push_back(0xFF);
        stream.push_back(0xD9);
        Pnm fromRaw, fromJfif;
        ASSERT_TRUE(Djpeg(stream, &fromRaw)) << s.name;
        ASSERT_TRUE(Djpeg(jfif, &fromJfif));
        EXPECT_EQ(fromRaw.samples, fromJfif.samples) << s.name;
    }
    AppVexParams bad = compress::ParamsFor(kShapes[0]);
    bad.quality = 0;
    uint8_t header[2048];
    size_t size = 0;
    EXPECT_EQ(VexRawStreamHeader(&bad, header, sizeof header, &size), VEX_ERR_QUALITY);
}

}  // namespace
}  // namespace vextest
