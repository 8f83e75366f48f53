// The byte writer over the host's buffers: appends and reservations land at
// the right stream positions whatever the buffer size, patches at earlier
// positions reach the host, and misuse and host failures are reported.
#include <cstring>
#include <numeric>
#include <vector>

#include "encode_helpers.h"

namespace {

using namespace q32vex;
using namespace enctest;
using vextest::LibraryTest;

class StreamWriter : public LibraryTest {};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}

TEST_F(StreamWriter, AppendsAreIndependentOfTheBufferSize) {
    const std::vector<uint8_t> data = Pattern(10000, 3);
    for (uint16_t size : {1, 7, 4096, 65535}) {
        StartMemoryStream(size);
        // Uneven pieces, some larger than the buffer.
        size_t at = 0;
        for (uint32_t piece = 1; at < data.size(); piece = piece * 3 % 1001 + 1) {
            const uint32_t n = uint32_t(std::min<size_t>(piece, data.size() - at));
            ASSERT_EQ(WriteBytes(data.data() + at, n), 0);
            at += n;
        }
        EXPECT_EQ(StreamPosition(), 10000u);
        EXPECT_EQ(g.out.segmentBytes, 0u) << "plain writes are not segment bytes";
        EXPECT_EQ(FinishMemoryStream(), data) << "buffer " << size;
    }
}

TEST_F(StreamWriter, WritesLongerThanOneCallAreSplit) {
    const std::vector<uint8_t> data = Pattern(70000, 9);
    StartMemoryStream(65535);
    ASSERT_EQ(WriteBytes(data.data(), uint32_t(data.size())), 0);
    EXPECT_EQ(StreamPosition(), 70000u);
    EXPECT_EQ(FinishMemoryStream(), data);
}

TEST_F(StreamWriter, ReservationsCommitWhatWasWritten) {
    for (int16_t mode : {kStreamReserve, kStreamFinish, kStreamReserveAlt}) {
        StartMemoryStream(8);
        uint8_t* at = nullptr;
        uint16_t count = 0;
        ASSERT_EQ(WriteStream(&at, -1, &count, mode), 0);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(count, 8);
        std::memcpy(at, "abcde", 5);
        count = 5;
        ASSERT_EQ(WriteStream(&at, -1, &count, mode), 0);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(g.out.segmentBytes, 5u);
        std::memcpy(at, "fgh", 3);
        count = 3;
        ASSERT_EQ(WriteStream(&at, -1, &count, mode), 0);  // full: the next buffer comes
        EXPECT_EQ(count, 8);
        at[0] = 'i';
        count = 9;
        EXPECT_EQ(WriteStream(&at, -1, &count, mode), VEX_ERR_IO_REQUEST) << "more than is free";
        count = 1;
        ASSERT_EQ(WriteStream(&at, -1, &count, mode), 0);
        EXPECT_EQ(g.out.segmentBytes, 9u);
        EXPECT_EQ(StreamPosition(), 9u);
        const std::vector<uint8_t> out = FinishMemoryStream();
        EXPECT_EQ(std::string(out.begin(), out.end()), "abcdefghi");
    }
}

TEST_F(StreamWriter, UnknownModesAreRefused) {
    StartMemoryStream(8);
    uint8_t* at = nullptr;
    uint16_t count = 0;
    EXPECT_EQ(WriteStream(&at, 0, &count, kStreamSkip), VEX_ERR_IO_REQUEST);
    EXPECT_EQ(WriteStream(&at, -1, &count, 5), VEX_ERR_IO_REQUEST);
    EXPECT_EQ(WriteStream(&at, -1, &count, -1), VEX_ERR_IO_REQUEST);
    EXPECT_EQ(vextest::g_sink.calls, 0);
}

// A write that fills the buffer exactly keeps it until more bytes come; the
// next write first hands the full buffer over.
TEST_F(StreamWriter, ExactlyFullBufferIsHandedOverByTheNextWrite) {
    StartMemoryStream(8);
    const std::vector<uint8_t> data = Pattern(9, 1);
    ASSERT_EQ(WriteBytes(data.data(), 8), 0);
    EXPECT_EQ(g.out.bytesFree, 0);
    EXPECT_EQ(vextest::g_sink.calls, 1);
    EXPECT_TRUE(vextest::g_sink.stream.empty());
    ASSERT_EQ(WriteBytes(data.data() + 8, 1), 0);
    EXPECT_EQ(vextest::g_sink.stream.size(), 8u);
    EXPECT_EQ(FinishMemoryStream(), data);
}

// Patches go to earlier positions after everything else, in the buffer in
// hand or in one the host placed at that position. A patch into an earlier
// buffer ends the stream there, so later patches follow on from it (as two
// arrays written one after the other do).
TEST_F(StreamWriter, PatchesReachEarlierPositions) {
    for (uint16_t size : {1, 7, 4096}) {
        StartMemoryStream(size);
        std::vector<uint8_t> data = Pattern(30, 5);
        ASSERT_EQ(WriteBytes(data.data(), 30), 0);
        const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        auto patchAt = [&](int32_t position, uint16_t n) {
            uint16_t count = n;
            ASSERT_EQ(WriteStream(const_cast<uint8_t*>(patch), position, &count, kStreamWrite), 0);
            std::memcpy(data.data() + position, patch, n);
        };
        patchAt(26, 2);
        patchAt(3, 4);
        patchAt(7, 2);
        EXPECT_EQ(FinishMemoryStream(), data) << "buffer " << size;
    }
}

TEST_F(StreamWriter, WritesBeyondTheEndAreRefused) {
    StartMemoryStream(64);
    const std::vector<uint8_t> data = Pattern(10, 0);
    ASSERT_EQ(WriteBytes(data.data(), 10), 0);
    uint16_t n = 2;
    EXPECT_EQ(WriteStream(const_cast<uint8_t*>(data.data()), 11, &n, kStreamWrite), VEX_ERR_IO_REQUEST);
    EXPECT_EQ(WriteStream(const_cast<uint8_t*>(data.data()), -2, &n, kStreamWrite), VEX_ERR_IO_REQUEST);
    EXPECT_EQ(StreamPosition(), 10u);
    EXPECT_EQ(FinishMemoryStream(), data);
}

int16_t VEXAPI NullBufferSink(uint8_t** buffer, int32_t, uint16_t* size, void*) {
    *buffer = nullptr;
    *size = 100;
    return 0;
}

TEST_F(StreamWriter, HostFailuresAreReported) {
    const std::vector<uint8_t> data = Pattern(50, 4);
    StartMemoryStream(16);
    vextest::g_sink.failAtCall = 3;
    vextest::g_sink.failStatus = -12345;
    EXPECT_EQ(WriteBytes(data.data(), 50), -12345);

    StartMemoryStream(16);
    g.seq.params.writeCallback = NullBufferSink;
    EXPECT_EQ(WriteBytes(data.data(), 1), VEX_ERR_NO_BUFFER);
    uint8_t* at = nullptr;
    uint16_t count = 0;
    EXPECT_EQ(WriteStream(&at, -1, &count, kStreamReserve), VEX_ERR_NO_BUFFER);
}

}  // namespace
