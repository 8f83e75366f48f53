// The input reader as its callers rely on it: chunks handed out in place up to
// the segment limit, the end of a segment signalled exactly once, copies and
// skips positioned by sequential reads or seeks, and hosts that deliver
// nothing or have no callback.
#include <cstring>

#include "decode/input_reader.h"
#include "decode_helpers.h"

namespace {

using namespace vextest;
using namespace vextest::decode;
using q32vex::g;
using q32vex::ReadInput;

class DecodeInput : public LibraryTest {};

int16_t Next(uint8_t** data, uint16_t* count, int16_t* flag) {
    *flag = q32vex::kInputNext;
    return ReadInput(data, -1, count, flag);
}

int16_t CopyAt(int32_t position, uint8_t* destination, uint16_t count) {
    int16_t mode = q32vex::kInputCopy;
    return ReadInput(destination, position, &count, &mode);
}

TEST_F(DecodeInput, SegmentLimitEndsWithAnEmptyFlaggedChunkWithoutAskingTheHost) {
    const std::vector<uint8_t> data = Ramp(70000);
    ResetRecordingSource(data, 65535);
    Source().flagLastChunk = false;
    OpenUntiledInput(RecordingRead);
    g.in.segmentLimit = 1000;

    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    int16_t flag = 0;
    ASSERT_EQ(Next(&chunk, &count, &flag), 0);
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(std::memcmp(chunk, data.data(), 1000), 0);
    ASSERT_EQ(Source().calls.size(), 1u);
    EXPECT_EQ(Source().calls[0].position, -1);
    EXPECT_EQ(Source().calls[0].requested, 65535);  // limit + read-ahead, capped

    ASSERT_EQ(Next(&chunk, &count, &flag), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(Source().calls.size(), 1u) << "the end came from the buffered bytes";
    EXPECT_EQ(q32vex::InputPosition(), 1000u);
}

TEST_F(DecodeInput, HostEndFlagComesWithTheChunkThatHoldsIt) {
    ResetRecordingSource(Ramp(5000), 65535);
    OpenUntiledInput(RecordingRead);
    g.in.segmentLimit = 3000;
    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    int16_t flag = 0;
    ASSERT_EQ(Next(&chunk, &count, &flag), 0);  // 3000 of the 5000 delivered
    ASSERT_EQ(count, 3000);
    // The host flagged the end of its data with this delivery: the flag
    // reaches the caller with the chunk cut from it.
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(g.in.bufferRemaining, 2000);
    EXPECT_EQ(g.in.segmentLimit, 0u);
}

TEST_F(DecodeInput, LimitAndNextModeTakesTheHintAsReadAhead) {
    ResetRecordingSource(Ramp(9000), 65535);
    OpenUntiledInput(RecordingRead);
    g.in.readHint = 4000;
    uint8_t* chunk = nullptr;
    uint16_t count = 1500;
    int16_t flag = q32vex::kInputLimitNext;
    ASSERT_EQ(ReadInput(&chunk, -1, &count, &flag), 0);
    EXPECT_EQ(g.in.readAhead, 4000u);
    EXPECT_EQ(g.in.readHint, 65535u) << "a hint serves one call only";
    ASSERT_EQ(Source().calls.size(), 1u);
    EXPECT_EQ(Source().calls[0].requested, 5500);
    EXPECT_EQ(count, 1500);
    EXPECT_EQ(flag, 0);
}

TEST_F(DecodeInput, HostThatDeliversNothingEndsTheSegment) {
    ResetRecordingSource({}, 65535);
    OpenUntiledInput(RecordingRead);
    uint8_t* chunk = nullptr;
    uint16_t count = 77;
    int16_t flag = 0;
    ASSERT_EQ(Next(&chunk, &count, &flag), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(flag, 1);
}

TEST_F(DecodeInput, HostThatDeliversNothingAndFlagsTheEndIsAnError) {
    ResetRecordingSource({}, 65535);
    Source().flagWhenEmpty = true;
    OpenUntiledInput(RecordingRead);
    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    int16_t flag = 0;
    EXPECT_EQ(Next(&chunk, &count, &flag), VEX_ERR_NO_BUFFER);
}

TEST_F(DecodeInput, ModesOutsideTheTableAreRefused) {
    ResetRecordingSource(Ramp(100), 65535);
    OpenUntiledInput(RecordingRead);
    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    for (int16_t mode : {int16_t(1), int16_t(5), int16_t(-1), int16_t(0x7FFF)}) {
        int16_t flag = mode;
        EXPECT_EQ(ReadInput(&chunk, -1, &count, &flag), VEX_ERR_IO_REQUEST) << mode;
    }
    EXPECT_TRUE(Source().calls.empty());
}

TEST_F(DecodeInput, CopyShortlyPastTheBufferReadsOnAndSkips) {
    const std::vector<uint8_t> data = Ramp(5000);
    ResetRecordingSource(data, 1000);
    OpenUntiledInput(RecordingRead);
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof(out));
    ASSERT_EQ(CopyAt(0, out, 10), 0);  // buffers bytes 0..999
    ASSERT_EQ(CopyAt(1100, out, 16), 0);
    EXPECT_EQ(std::memcmp(out, data.data() + 1100, 16), 0);
    ASSERT_EQ(Source().calls.size(), 2u);
    EXPECT_EQ(Source().calls[1].position, -1) << "a near target is reached by reading on";
    EXPECT_EQ(q32vex::InputPosition(), 1116u);
}

TEST_F(DecodeInput, CopyFarPastTheBufferSeeks) {
    const std::vector<uint8_t> data = Ramp(5000);
    ResetRecordingSource(data, 1000);
    OpenUntiledInput(RecordingRead);
    uint8_t out[16];
    ASSERT_EQ(CopyAt(0, out, 10), 0);
    ASSERT_EQ(CopyAt(1600, out, 16), 0);
    EXPECT_EQ(std::memcmp(out, data.data() + 1600, 16), 0);
    ASSERT_EQ(Source().calls.size(), 2u);
    EXPECT_EQ(Source().calls[1].position, 1600);
    EXPECT_EQ(q32vex::InputPosition(), 1616u);
}

TEST_F(DecodeInput, CopyBackwardsSeeksAndCopyInsideTheBufferAsksNothing) {
    const std::vector<uint8_t> data = Ramp(5000);
    ResetRecordingSource(data, 1000);
    OpenUntiledInput(RecordingRead);
    uint8_t out[32];
    ASSERT_EQ(CopyAt(2000, out, 4), 0);
    ASSERT_EQ(CopyAt(2500, out, 32), 0);
    EXPECT_EQ(Source().calls.size(), 1u);
    EXPECT_EQ(std::memcmp(out, data.data() + 2500, 32), 0);
    ASSERT_EQ(CopyAt(100, out, 32), 0);
    EXPECT_EQ(std::memcmp(out, data.data() + 100, 32), 0);
    ASSERT_EQ(Source().calls.size(), 2u);
    EXPECT_EQ(Source().calls[1].position, 100);
}

TEST_F(DecodeInput, CopyAcrossHostBuffersJoinsThem) {
    const std::vector<uint8_t> data = Ramp(3000);
    for (uint16_t chunk : {1, 3, 511, 513, 65535}) {
        ResetRecordingSource(data, chunk);
        OpenUntiledInput(RecordingRead);
        std::vector<uint8_t> out(2000, 0xAA);
        out.push_back(0x5C);
        ASSERT_EQ(CopyAt(700, out.data(), 2000), 0) << chunk;
        EXPECT_EQ(std::memcmp(out.data(), data.data() + 700, 2000), 0) << chunk;
        EXPECT_EQ(out[2000], 0x5C) << "nothing written past the copy";
        // Continue where the copy stopped.
        uint8_t more[8];
        ASSERT_EQ(CopyAt(-1, more, 8), 0);
        EXPECT_EQ(std::memcmp(more, data.data() + 2700, 8), 0) << chunk;
    }
}

TEST_F(DecodeInput, HintSizesTheFirstRequestOfASeek) {
    ResetRecordingSource(Ramp(50000), 65535);
    OpenUntiledInput(RecordingRead);
    g.in.readHint = 300;
    ASSERT_EQ(CopyAt(20000, nullptr, 0), 0);
    ASSERT_EQ(Source().calls.size(), 1u);
    EXPECT_EQ(Source().calls[0].position, 20000);
    EXPECT_EQ(Source().calls[0].requested, 300);
    EXPECT_EQ(q32vex::InputPosition(), 20000u);
    // The chunk mode reads from the new position.
    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    int16_t flag = 0;
    g.in.segmentLimit = 100;
    ASSERT_EQ(Next(&chunk, &count, &flag), 0);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(chunk[0], Source().data[20000]);
}

TEST_F(DecodeInput, SkipMovesThePositionBothWays) {
    const std::vector<uint8_t> data = Ramp(4000);
    ResetRecordingSource(data, 2000);
    OpenUntiledInput(RecordingRead);
    uint8_t byte = 0;
    ASSERT_EQ(CopyAt(0, &byte, 1), 0);
    int16_t mode = q32vex::kInputSkip;
    ASSERT_EQ(ReadInput(nullptr, 499, nullptr, &mode), 0);
    EXPECT_EQ(mode, q32vex::kInputSkip) << "the caller's word keeps the mode";
    EXPECT_EQ(q32vex::InputPosition(), 500u);
    ASSERT_EQ(CopyAt(-1, &byte, 1), 0);
    EXPECT_EQ(byte, data[500]);
    mode = q32vex::kInputSkip;
    ASSERT_EQ(ReadInput(nullptr, -400, nullptr, &mode), 0);
    ASSERT_EQ(CopyAt(-1, &byte, 1), 0);
    EXPECT_EQ(byte, data[101]);
    EXPECT_EQ(Source().calls.size(), 1u);
    // Past the buffered range by less than 512: one sequential read.
    mode = q32vex::kInputSkip;
    ASSERT_EQ(ReadInput(nullptr, 2000 - 102 + 300, nullptr, &mode), 0);
    ASSERT_EQ(CopyAt(-1, &byte, 1), 0);
    EXPECT_EQ(byte, data[2300]);
    ASSERT_EQ(Source().calls.size(), 2u);
    EXPECT_EQ(Source().calls[1].position, -1);
}

TEST_F(DecodeInput, NearSkipBeyondWhatTheHostHasIsAnError) {
    ResetRecordingSource(Ramp(1100), 1000);
    OpenUntiledInput(RecordingRead);
    uint8_t byte = 0;
    ASSERT_EQ(CopyAt(0, &byte, 1), 0);
    EXPECT_EQ(CopyAt(1300, &byte, 1), VEX_ERR_NO_BUFFER);  // host has 100 bytes, skip needs 300
    ResetRecordingSource(Ramp(1100), 1000);
    OpenUntiledInput(RecordingRead);
    ASSERT_EQ(CopyAt(0, &byte, 1), 0);
    EXPECT_EQ(CopyAt(4000, &byte, 1), VEX_ERR_NO_BUFFER);  // seek past the end
}

TEST_F(DecodeInput, CopyRunningOutOfDataIsAnErrorAndWritesOnlyWhatCame) {
    const std::vector<uint8_t> data = Ramp(50);
    ResetRecordingSource(data, 65535);
    OpenUntiledInput(RecordingRead);
    std::vector<uint8_t> out(100, 0xAA);
    EXPECT_EQ(CopyAt(10, out.data(), 60), VEX_ERR_NO_BUFFER);
    EXPECT_EQ(std::memcmp(out.data(), data.data() + 10, 40), 0);
    EXPECT_EQ(out[40], 0xAA);
}

TEST_F(DecodeInput, MissingCallbackIsRefusedNotCalled) {
    OpenUntiledInput(nullptr);
    uint8_t* chunk = nullptr;
    uint16_t count = 0;
    int16_t flag = 0;
    EXPECT_EQ(Next(&chunk, &count, &flag), VEX_ERR_NO_CALLBACK);
}

}  // namespace
