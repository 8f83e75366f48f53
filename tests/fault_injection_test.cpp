// Fault injection: an allocator that fails its Nth allocation, a host whose
// write or read callback fails at its Nth call, and AppVexAbort between any
// two band calls, for every N a full sequence reaches. Each must return the
// right status, leave no block behind, and leave the library producing
// exactly the bytes of a clean run in the next sequence.
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

using compress::Shape;

void ExpectNoLibraryBlocks() {
    EXPECT_EQ(AppVexDeallocate(), 0);
    EXPECT_EQ(q32vex::GetAllocatorStats().liveBlocks, 0);
}

void ExpectCompressionClosed() { EXPECT_EQ(AppVexCompressBuff(nullptr, nullptr), VEX_ERR_NOT_COMPRESSING); }

void ExpectDecompressionClosed() {
    BandRect r = {7, 7, 7, 7};
    EXPECT_EQ(AppVexDecompressBuff(nullptr, &r), 0);
    EXPECT_TRUE(r.x0 == 1 && r.x1 == 0);
}

// Sequences of several band calls (16 rows each), small output buffers and
// input chunks, so that every kind of step is met many times.
class FaultInjection : public LibraryTest, public ::testing::WithParamInterface<Shape> {
protected:
    void SetUp() override {
        shape = GetParam();
        image = MakeTestImage(shape.width, shape.height, BytesPerPixel(shape.formatIndex), 3);
        AppVexDeallocate();
        ASSERT_EQ(Compress(&stream), 0);
        read = compress::ReadParams(shape.container, shape.formatIndex, shape.samplingIndex);
        if (shape.container == VEX_CONTAINER_RAW) {
            // Bare data takes its description from a JFIF header of the same image.
            Bytes jfif;
            ASSERT_EQ(Compress(&jfif, VEX_CONTAINER_JFIF), 0);
            read.containerKind = VEX_CONTAINER_JFIF;
            read.readCallback = SourceRead;
            ResetSource(jfif, 65535);
            ASSERT_EQ(AppVexGetCompInfo(&read), 0);
            read.containerKind = VEX_CONTAINER_RAW;
        }
        ASSERT_EQ(Decompress(&pixels), 0);
        AppVexDeallocate();
    }
    int16_t Compress(Bytes* out, int16_t container = -1, CompressOptions o = CompressOptions()) {
        AppVexParams p = compress::ParamsFor(shape);
        if (container >= 0) p.containerKind = container;
        o.outputBuffer = 61;
        o.bandWidth = uint16_t(shape.width);
        o.bandHeight = 16;
        return CompressImage(p, image, o, out);
    }
    int16_t Decompress(Bytes* out, DecompressOptions o = DecompressOptions()) {
        o.inputChunk = 64;
        o.bandWidth = uint16_t(shape.width);
        o.bandHeight = 16;
        Image decoded;
        const int16_t status = DecompressImage(stream, read, o, &decoded);
        *out = decoded.pixels;
        return status;
    }
    Shape shape;
    Image image;
    AppVexParams read;
    Bytes stream, pixels;
};

TEST_P(FaultInjection, AllocationFailureAtEachPoint) {
    Bytes out;
    int64_t start = q32vex::GetAllocatorStats().totalAllocations;
    ASSERT_EQ(Compress(&out), 0);
    const int64_t compressions = q32vex::GetAllocatorStats().totalAllocations - start;
    ASSERT_GT(compressions, 0);
    for (int64_t n = 1; n <= compressions; ++n) {
        ASSERT_EQ(AppVexDeallocate(), 0);
        q32vex::FailAllocationAfter(n);
        const int16_t status = Compress(&out);
        q32vex::FailAllocationAfter(0);
        EXPECT_EQ(status, VEX_ERR_NO_MEMORY) << "compression allocation " << n << " of " << compressions;
        ExpectCompressionClosed();
        // The next sequence, from the cache state the failure left, is clean.
        ASSERT_EQ(Compress(&out), 0) << "after allocation " << n;
        EXPECT_EQ(out, stream) << "after allocation " << n;
        ExpectNoLibraryBlocks();
    }
    // Decompression from a cold cache, and warm with the compression
    // direction's tables in it.
    for (bool warm : {false, true}) {
        ASSERT_EQ(AppVexDeallocate(), 0);
        if (warm) {
            ASSERT_EQ(Compress(&out), 0);
        }
        start = q32vex::GetAllocatorStats().totalAllocations;
        ASSERT_EQ(Decompress(&out), 0);
        const int64_t count = q32vex::GetAllocatorStats().totalAllocations - start;
        ASSERT_GT(count, 0);
        for (int64_t n = 1; n <= count; ++n) {
            ASSERT_EQ(AppVexDeallocate(), 0);
            if (warm) {
                ASSERT_EQ(Compress(&out), 0);
            }
            q32vex::FailAllocationAfter(n);
            const int16_t status = Decompress(&out);
            q32vex::FailAllocationAfter(0);
            EXPECT_EQ(status, VEX_ERR_NO_MEMORY) << (warm ? "warm" : "cold") << " allocation " << n;
            ExpectDecompressionClosed();
            ASSERT_EQ(Decompress(&out), 0);
            EXPECT_EQ(out, pixels) << (warm ? "warm" : "cold") << " allocation " << n;
            ExpectNoLibraryBlocks();
        }
    }
}

TEST_P(FaultInjection, CallbackFailingAtEachCall) {
    Bytes out;
    ASSERT_EQ(Compress(&out), 0);
    const int writes = g_sink.calls;
    ASSERT_GT(writes, 2);
    for (int n = 1; n <= writes; ++n) {
        CompressOptions o;
        o.failWriteAt = n;
        EXPECT_EQ(Compress(&out, -1, o), kHostStatus) << "write call " << n << " of " << writes;
        ExpectCompressionClosed();
        ASSERT_EQ(Compress(&out), 0);
        EXPECT_EQ(out, stream) << "after write call " << n;
        ExpectNoLibraryBlocks();
    }
    ASSERT_EQ(Decompress(&out), 0);
    const int reads = g_source.calls;
    ASSERT_GE(reads, 2);
    for (int n = 1; n <= reads; ++n) {
        DecompressOptions o;
        o.failReadAt = n;
        EXPECT_EQ(Decompress(&out, o), kHostStatus) << "read call " << n << " of " << reads;
        ExpectDecompressionClosed();
        ASSERT_EQ(Decompress(&out), 0);
        EXPECT_EQ(out, pixels) << "after read call " << n;
        ExpectNoLibraryBlocks();
    }
}

TEST_P(FaultInjection, AbortBetweenAnyTwoBandCalls) {
    Bytes out;
    for (int k = 0; k < (shape.height + 15) / 16; ++k) {
        CompressOptions c;
        c.abortAfterBands = k;
        EXPECT_EQ(Compress(&out, -1, c), 0) << "abort after " << k << " compression bands";
        ExpectCompressionClosed();
        EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
        ASSERT_EQ(Compress(&out), 0);
        EXPECT_EQ(out, stream) << "after abort at compression band " << k;
        DecompressOptions d;
        d.abortAfterBands = k;
        EXPECT_EQ(Decompress(&out, d), 0) << "abort after " << k << " decompression bands";
        ExpectDecompressionClosed();
        EXPECT_EQ(AppVexAbort(), VEX_ERR_NOT_OPEN);
        ASSERT_EQ(Decompress(&out), 0);
        EXPECT_EQ(out, pixels) << "after abort at decompression band " << k;
    }
    ExpectNoLibraryBlocks();
}

INSTANTIATE_TEST_SUITE_P(FaultShapes, FaultInjection,
                         ::testing::Values(Shape{"jfif_420_restart", VEX_CONTAINER_JFIF, 1, 1, 45, 30, 3},
                                           Shape{"jfif_444_555", VEX_CONTAINER_JFIF, 2, 0, 25, 14, 0},
                                           Shape{"jfif_411", VEX_CONTAINER_JFIF, 6, 1, 70, 9, 0},
                                           Shape{"tiff_tiled_422", VEX_CONTAINER_TIFF, 0, 2, 50, 20, 0, 16, 8},
                                           Shape{"tiff_four", VEX_CONTAINER_TIFF, 4, 4, 20, 20, 1},
                                           Shape{"raw_grey", VEX_CONTAINER_RAW, 3, 3, 33, 17, 0}),
                         [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

// Hosts that hand over no usable buffer: an output buffer of no bytes or at
// no address, an input delivery of nothing that also says nothing follows.
bool g_lendNull = false;

int16_t VEXAPI LendsNothing(uint8_t** buffer, int32_t, uint16_t* size, void*) {
    static uint8_t byte;
    *buffer = g_lendNull ? nullptr : &byte;
    *size = g_lendNull ? 100 : 0;
    return 0;
}

int16_t VEXAPI DeliversNothing(uint8_t** data, int32_t, uint16_t* count, int16_t* flag) {
    static uint8_t byte;
    *data = &byte;
    *count = 0;
    *flag = 1;
    return 0;
}

using HostBuffers = LibraryTest;

TEST_F(HostBuffers, NoUsableBufferIsReported) {
    for (bool null : {false, true}) {
        g_lendNull = null;
        AppVexParams p = compress::MakeParams(1, 0, 16, 8);
        p.writeCallback = LendsNothing;
        p.bandWidth = 16;
        p.bandHeight = 8;
        int16_t status = AppVexCompressBuffInit(&p);
        const Image image = MakeTestImage(16, 8, 3, 1);
        std::vector<uint8_t*> rows;
        for (int y = 0; y < 8; ++y) rows.push_back(const_cast<uint8_t*>(image.row(y)));
        BandRect next;
        if (status == 0) status = AppVexCompressBuff(rows.data(), &next);
        EXPECT_EQ(status, VEX_ERR_NO_BUFFER) << (null ? "null buffer" : "empty buffer");
        ExpectCompressionClosed();
    }
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = DeliversNothing;
    EXPECT_EQ(AppVexGetCompInfo(&p), VEX_ERR_NO_BUFFER);
}

}  // namespace
}  // namespace vextest
