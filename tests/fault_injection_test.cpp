// Fault injection: a host whose read or write callback fails at its Nth call,
// an allocator that fails its Nth allocation, and AppVexAbort between any two
// band calls, for every N a full sequence reaches. Each must return the right
// status, leave no block behind, and leave the library producing exactly the
// bytes of a clean run in the next sequence.
#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using vextest::Image;
using vextest::LibraryTest;
using Bytes = std::vector<uint8_t>;

constexpr int16_t kHostStatus = 1234;  // a host's own failure value

struct Shape {
    const char* name;
    int16_t container;
    int samplingIndex;
    int formatIndex;
    int width, height;
    uint16_t restart;
    uint16_t tileWidth, tileHeight;
};

const Shape kShapes[] = {
    {"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 45, 30, 3, 0xFFFF, 0xFFFF},
    {"jfif_444_555", VEX_CONTAINER_JFIF, 2, 0, 25, 14, 0, 0xFFFF, 0xFFFF},
    {"jfif_411", VEX_CONTAINER_JFIF, 6, 1, 70, 9, 0, 0xFFFF, 0xFFFF},
    {"tiff_tiled_422", VEX_CONTAINER_TIFF, 0, 2, 50, 20, 0, 16, 8},
    {"tiff_four", VEX_CONTAINER_TIFF, 4, 4, 20, 20, 1, 0xFFFF, 0xFFFF},
    // A bare stream takes component i's tables from slot i, which a JFIF
    // header of the same image fills for one component.
    {"raw_grey", VEX_CONTAINER_RAW, 3, 3, 33, 17, 0, 0xFFFF, 0xFFFF},
};

void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

AppVexParams CompressParams(const Shape& s) {
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(s.width);
    p.height = uint16_t(s.height);
    p.containerKind = s.container;
    p.sampling = vextest::SamplingOf(s.samplingIndex, &p.colorSpace);
    p.pixelFormat = vextest::FormatDesc(s.formatIndex, &p.pixelModel);
    p.restartInterval = s.restart;
    p.tileWidth = s.tileWidth;
    p.tileHeight = s.tileHeight;
    return p;
}

Image ShapeImage(const Shape& s) {
    return vextest::MakeTestImage(s.width, s.height, vextest::BytesPerPixel(s.formatIndex), 3);
}

// ---- host with counted callbacks -------------------------------------------

struct CountingHost {
    Bytes input;
    uint32_t inPos = 0;
    uint16_t chunk = 64;
    Bytes lent;
    Bytes output;
    Bytes outBuffer;
    uint32_t outPos = 0;
    uint16_t outSize = 61;
    int readCalls = 0, writeCalls = 0;
    int failReadAt = 0, failWriteAt = 0;
};
CountingHost host;

int16_t VEXAPI CountingRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    if (++host.readCalls == host.failReadAt) return kHostStatus;
    if (position != -1) host.inPos = uint32_t(position);
    const uint32_t available = host.inPos < host.input.size() ? uint32_t(host.input.size() - host.inPos) : 0;
    const uint32_t n = std::min<uint32_t>({*count, host.chunk, available});
    host.lent.assign(host.input.begin() + host.inPos, host.input.begin() + host.inPos + n);
    host.lent.reserve(1);
    *data = host.lent.data();
    *count = uint16_t(n);
    host.inPos += n;
    if (host.inPos >= host.input.size()) *flag = 1;
    return 0;
}

int16_t VEXAPI CountingWrite(uint8_t** buffer, int32_t position, uint16_t* size, void*) {
    if (++host.writeCalls == host.failWriteAt) return kHostStatus;
    if (*size != 0) {
        if (host.output.size() < host.outPos + *size) host.output.resize(host.outPos + *size);
        std::copy(host.outBuffer.begin(), host.outBuffer.begin() + *size, host.output.begin() + host.outPos);
    }
    host.outPos = position == -1 ? host.outPos + *size : uint32_t(position);
    host.outBuffer.assign(host.outSize, 0xAA);
    *buffer = host.outBuffer.data();
    *size = host.outSize;
    return 0;
}

// Full compression through the counting host; band of 16 rows so that the
// sequence has several band calls. `abortAfter` >= 0 aborts after that many.
int16_t Compress(const Shape& s, const Image& image, Bytes* out, int abortAfter = -1) {
    host.output.clear();
    host.outBuffer.clear();
    host.outPos = 0;
    AppVexParams p = CompressParams(s);
    p.writeCallback = CountingWrite;
    p.bandWidth = p.width;
    p.bandHeight = 16;
    int16_t status = AppVexCompressBuffInit(&p);
    if (status != 0) return status;
    BandRect band = {0, 0, uint16_t(p.bandWidth - 1), uint16_t(p.bandHeight - 1)};
    band.x1 = uint16_t(std::min<int>(band.x1, s.width - 1));
    band.y1 = uint16_t(std::min<int>(band.y1, s.height - 1));
    for (int call = 0;; ++call) {
        if (call == abortAfter) return AppVexAbort();
        std::vector<uint8_t*> rows;
        for (int y = band.y0; y <= band.y1; ++y)
            rows.push_back(const_cast<uint8_t*>(image.row(y)) + size_t(band.x0) * image.bytesPerPixel);
        BandRect next = {0, 0, 0, 0};
        status = AppVexCompressBuff(rows.data(), &next);
        if (status != 0) return status;
        if (next.x0 == 1 && next.x1 == 0) break;
        band = next;
        if (call > 10000) return -1;
    }
    *out = host.output;
    return 0;
}

// Full decompression (header read, open, bands of 16 rows) through the
// counting host. For a bare stream the tables come from `tableStream`.
int16_t Decompress(const Bytes& stream, const Shape& shape, const Bytes& tableStream, Bytes* out,
                   int abortAfter = -1) {
    const int16_t container = shape.container;
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    // A grey or four-channel TIFF does not record its sampling; the host knows it.
    p.sampling = vextest::SamplingOf(shape.samplingIndex);
    p.readCallback = CountingRead;
    host.input = container == VEX_CONTAINER_RAW ? tableStream : stream;
    host.inPos = 0;
    p.containerKind = container == VEX_CONTAINER_RAW ? VEX_CONTAINER_JFIF : container;
    int16_t status = AppVexGetCompInfo(&p);
    if (status != 0) return status;
    host.input = stream;
    host.inPos = 0;
    p.containerKind = container;
    p.bandWidth = p.width;
    p.bandHeight = 16;
    p.bandMemory = 0;
    status = AppVexDecompressBuffInit(&p);
    if (status != 0) return status;
    const int channels = p.pixelModel == 1 ? 1 : p.pixelModel == 2 ? 4 : 3;
    int bits = 0;
    for (int c = 0; c < channels; ++c) bits += p.pixelFormat.bits[c] + p.pixelFormat.pad[c];
    const int bytesPerPixel = bits / 8;
    Bytes image(size_t(p.width) * p.height * bytesPerPixel, 0);
    Bytes band(size_t(p.bandWidth) * p.bandHeight * bytesPerPixel);
    std::vector<uint8_t*> rows(p.bandHeight);
    for (int y = 0; y < p.bandHeight; ++y) rows[size_t(y)] = band.data() + size_t(y) * p.bandWidth * bytesPerPixel;
    for (int call = 0;; ++call) {
        if (call == abortAfter) return AppVexAbort();
        BandRect r = {0, 0, 0, 0};
        status = AppVexDecompressBuff(rows.data(), &r);
        if (status != 0) return status;
        if (r.x0 == 1 && r.x1 == 0) break;
        for (int y = r.y0; y <= r.y1; ++y)
            std::copy(rows[size_t(y - r.y0)], rows[size_t(y - r.y0)] + (r.x1 - r.x0 + 1) * bytesPerPixel,
                      image.begin() + (size_t(y) * p.width + r.x0) * bytesPerPixel);
        if (call > 10000) return -1;
    }
    *out = image;
    return 0;
}

void ExpectNoLibraryBlocks() {
    EXPECT_EQ(AppVexDeallocate(), 0);
    EXPECT_EQ(q32vex::GetAllocatorStats().liveBlocks, 0);
}

class FaultInjection : public LibraryTest, public ::testing::WithParamInterface<Shape> {
protected:
    void SetUp() override {
        host = CountingHost();
        shape = GetParam();
        image = ShapeImage(shape);
        AppVexDeallocate();
        ASSERT_EQ(Compress(shape, image, &stream), 0);
        // The tables of a bare stream come from a JFIF stream of the same image.
        if (shape.container == VEX_CONTAINER_RAW) {
            Shape jfif = shape;
            jfif.container = VEX_CONTAINER_JFIF;
            ASSERT_EQ(Compress(jfif, image, &tableStream), 0);
        }
        ASSERT_EQ(Decompress(stream, shape, tableStream, &pixels), 0);
        AppVexDeallocate();
    }
    Shape shape;
    Image image;
    Bytes stream, tableStream, pixels;
};

TEST_P(FaultInjection, AllocationFailureAtEachPointOfACompression) {
    const int64_t start = q32vex::GetAllocatorStats().totalAllocations;
    Bytes out;
    ASSERT_EQ(Compress(shape, image, &out), 0);
    const int64_t count = q32vex::GetAllocatorStats().totalAllocations - start;
    ASSERT_GT(count, 0);
    RecordProperty("allocations", int(count));
    for (int64_t n = 1; n <= count; ++n) {
        ASSERT_EQ(AppVexDeallocate(), 0);
        q32vex::FailAllocationAfter(n);
        Bytes failed;
        const int16_t status = Compress(shape, image, &failed);
        q32vex::FailAllocationAfter(0);
        EXPECT_EQ(status, VEX_ERR_NO_MEMORY) << "allocation " << n << " of " << count;
        EXPECT_EQ(AppVexCompressBuff(nullptr, nullptr), VEX_ERR_NOT_COMPRESSING);
        // The next sequence, from the cache state the failure left, is clean.
        Bytes again;
        ASSERT_EQ(Compress(shape, image, &again), 0) << "after allocation " << n;
        EXPECT_EQ(again, stream) << "after allocation " << n;
        ExpectNoLibraryBlocks();
    }
}

TEST_P(FaultInjection, AllocationFailureAtEachPointOfADecompression) {
    // Cold cache, and warm with the compression direction's tables in it.
    for (bool warm : {false, true}) {
        ASSERT_EQ(AppVexDeallocate(), 0);
        Bytes scratch;
        if (warm) {
            ASSERT_EQ(Compress(shape, image, &scratch), 0);
        }
        const int64_t start = q32vex::GetAllocatorStats().totalAllocations;
        ASSERT_EQ(Decompress(stream, shape, tableStream, &scratch), 0);
        const int64_t count = q32vex::GetAllocatorStats().totalAllocations - start;
        ASSERT_GT(count, 0);
        RecordProperty(warm ? "allocationsWarm" : "allocationsCold", int(count));
        for (int64_t n = 1; n <= count; ++n) {
            ASSERT_EQ(AppVexDeallocate(), 0);
            if (warm) {
                ASSERT_EQ(Compress(shape, image, &scratch), 0);
            }
            q32vex::FailAllocationAfter(n);
            Bytes failed;
            const int16_t status = Decompress(stream, shape, tableStream, &failed);
            q32vex::FailAllocationAfter(0);
            EXPECT_EQ(status, VEX_ERR_NO_MEMORY) << (warm ? "warm" : "cold") << " allocation " << n;
            BandRect r = {7, 7, 7, 7};
            EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
            EXPECT_TRUE(r.x0 == 1 && r.x1 == 0);
            Bytes again;
            ASSERT_EQ(Decompress(stream, shape, tableStream, &again), 0);
            EXPECT_EQ(again, pixels) << (warm ? "warm" : "cold") << " allocation " << n;
            ExpectNoLibraryBlocks();
        }
    }
}

TEST_P(FaultInjection, WriteCallbackFailingAtEachCall) {
    host.writeCalls = 0;
    Bytes out;
    ASSERT_EQ(Compress(shape, image, &out), 0);
    const int calls = host.writeCalls;
    ASSERT_GT(calls, 2);
    RecordProperty("writeCalls", calls);
    for (int n = 1; n <= calls; ++n) {
        host.writeCalls = 0;
        host.failWriteAt = n;
        Bytes failed;
        EXPECT_EQ(Compress(shape, image, &failed), kHostStatus) << "write call " << n << " of " << calls;
        host.failWriteAt = 0;
        EXPECT_EQ(AppVexCompressBuff(nullptr, nullptr), VEX_ERR_NOT_COMPRESSING);
        Bytes again;
        ASSERT_EQ(Compress(shape, image, &again), 0);
        EXPECT_EQ(again, stream) << "after write call " << n;
        ExpectNoLibraryBlocks();
    }
}

TEST_P(FaultInjection, ReadCallbackFailingAtEachCall) {
    host.readCalls = 0;
    Bytes out;
    ASSERT_EQ(Decompress(stream, shape, tableStream, &out), 0);
    const int calls = host.readCalls;
    ASSERT_GT(calls, 2);
    RecordProperty("readCalls", calls);
    for (int n = 1; n <= calls; ++n) {
        host.readCalls = 0;
        host.failReadAt = n;
        Bytes failed;
        EXPECT_EQ(Decompress(stream, shape, tableStream, &failed), kHostStatus)
            << "read call " << n << " of " << calls;
        host.failReadAt = 0;
        BandRect r = {7, 7, 7, 7};
        EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
        EXPECT_TRUE(r.x0 == 1 && r.x1 == 0);
        Bytes again;
        ASSERT_EQ(Decompress(stream, shape, tableStream, &again), 0);
        EXPECT_EQ(again, pixels) << "after read call " << n;
        ExpectNoLibraryBlocks();
    }
}

TEST_P(FaultInjection, AbortBetweenAnyTwoBandCalls) {
    const int bands = (shape.height + 15) / 16;
    for (int k = 0; k < bands; ++k) {
        Bytes unused;
        EXPECT_EQ(Compress(shape, image, &unused, k), 0) << "abort after " << k << " compression bands";
        EXPECT_EQ(AppVexCompressBuff(nullptr, nullptr), VEX_ERR_NOT_COMPRESSING);
        EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
        Bytes again;
        ASSERT_EQ(Compress(shape, image, &again), 0);
        EXPECT_EQ(again, stream) << "after abort at compression band " << k;
    }
    const int decodeBands = (shape.height + 15) / 16;
    for (int k = 0; k < decodeBands; ++k) {
        Bytes unused;
        EXPECT_EQ(Decompress(stream, shape, tableStream, &unused, k), 0)
            << "abort after " << k << " decompression bands";
        BandRect r = {7, 7, 7, 7};
        EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
        EXPECT_TRUE(r.x0 == 1 && r.x1 == 0);
        EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
        Bytes again;
        ASSERT_EQ(Decompress(stream, shape, tableStream, &again), 0);
        EXPECT_EQ(again, pixels) << "after abort at decompression band " << k;
    }
    ExpectNoLibraryBlocks();
}

INSTANTIATE_TEST_SUITE_P(FaultShapes, FaultInjection, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

}  // namespace
