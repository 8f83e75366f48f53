// The entropy decoder as a stream reader relies on it: stuffed bytes and
// markers handled wherever host buffers split them, restart points, zero bits
// after the data, corrupt codes that never write outside a block, and blocks
// coded by the library's encoder decoded back exactly at any feeding.
#include <random>

#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"
#include "decode_helpers.h"
#include "encode/huffman_encoder.h"

namespace {

using namespace vextest;
using namespace vextest::decode;
using q32vex::g;

class DecodeEntropy : public LibraryTest {};

void StartSegment() {
    ASSERT_EQ(q32vex::StartEntropyInput(), 0);
    ASSERT_EQ(q32vex::ResyncEntropyInput(), 0);
}

TEST_F(DecodeEntropy, StuffedByteAndFinalMarkerAtEveryBufferSplit) {
    const std::vector<uint8_t> data = Bytes({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD9});
    for (uint16_t chunk = 1; chunk <= data.size(); ++chunk) {
        ResetRecordingSource(data, chunk);
        OpenUntiledInput(RecordingRead);
        StartSegment();
        EXPECT_EQ(g.bitReader.bitBuffer, 0x12FF3400u) << "chunk " << chunk;
        EXPECT_EQ(g.bitReader.markerSeen, 1) << chunk;
        uint16_t code = 0;
        ASSERT_EQ(q32vex::ReadEntropyByte(&code), 0);
        EXPECT_EQ(code, 0xD9) << "the cursor rests on the marker's code byte; chunk " << chunk;
        // Nothing but zeros after the marker, and no further reading.
        const size_t calls = Source().calls.size();
        ASSERT_EQ(q32vex::SkipBits(31), 0);
        EXPECT_EQ(g.bitReader.bitBuffer, 0u);
        EXPECT_EQ(Source().calls.size(), calls);
    }
}

TEST_F(DecodeEntropy, RestartMarkerStartsAFreshWindowBehindIt) {
    const std::vector<uint8_t> data =
        Bytes({0xAB, 0xFF, 0xD0, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0xFF, 0xD9});
    for (uint16_t chunk = 1; chunk <= data.size(); ++chunk) {
        ResetRecordingSource(data, chunk);
        OpenUntiledInput(RecordingRead);
        StartSegment();
        EXPECT_EQ(g.bitReader.bitBuffer, 0xAB000000u) << chunk;
        ASSERT_EQ(q32vex::SkipBits(8), 0);
        uint16_t code = 0;
        ASSERT_EQ(q32vex::ReadEntropyByte(&code), 0);
        EXPECT_EQ(code, 0xD0) << chunk;
        ASSERT_EQ(q32vex::ResyncEntropyInput(), 0);
        EXPECT_EQ(g.bitReader.bitBuffer, 0xCDEF0123u) << chunk;
        ASSERT_EQ(q32vex::SkipBits(12), 0);
        EXPECT_EQ(g.bitReader.bitBuffer, 0xF0123450u) << chunk;
    }
}

TEST_F(DecodeEntropy, MarkersInFrontOfTheDataAreSkipped) {
    // Fill bytes pair up like markers; a stuffed 0xFF right behind them is data.
    const std::vector<uint8_t> data =
        Bytes({0xFF, 0xD3, 0xFF, 0xFF, 0xFF, 0x00, 0x5A, 0x6B, 0x7C, 0xFF, 0xD9});
    for (uint16_t chunk = 1; chunk <= data.size(); ++chunk) {
        ResetRecordingSource(data, chunk);
        OpenUntiledInput(RecordingRead);
        StartSegment();
        EXPECT_EQ(g.bitReader.bitBuffer, 0xFF5A6B7Cu) << chunk;
    }
}

TEST_F(DecodeEntropy, DataEndingWithoutMarkerGivesZerosAndStopsAsking) {
    const std::vector<uint8_t> data = Bytes({0x81, 0x42, 0x99, 0x17, 0x5A});
    ResetRecordingSource(data, 2);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    EXPECT_EQ(g.bitReader.bitBuffer, 0x81429917u);
    ASSERT_EQ(q32vex::SkipBits(16), 0);
    EXPECT_EQ(g.bitReader.bitBuffer, 0x99175A00u);
    ASSERT_EQ(q32vex::SkipBits(20), 0);
    EXPECT_EQ(g.bitReader.bitBuffer, 0xA0000000u);
    ASSERT_EQ(q32vex::SkipBits(31), 0);
    EXPECT_EQ(g.bitReader.bitBuffer, 0u);
    EXPECT_EQ(Source().calls.size(), 3u) << "no request after the flagged last chunk";
}

TEST_F(DecodeEntropy, HostThatGoesQuietEndsTheDataWithoutError) {
    // Host never flags the end: the reader ends the segment on the first
    // empty delivery.
    ResetRecordingSource(Bytes({0x81, 0x42, 0x99, 0x17, 0x5A}), 3);
    Source().flagLastChunk = false;
    OpenUntiledInput(RecordingRead);
    StartSegment();
    ASSERT_EQ(q32vex::SkipBits(32), 0);
    EXPECT_EQ(g.bitReader.bitBuffer, 0x5A000000u);
    ASSERT_EQ(q32vex::SkipBits(8), 0);
    EXPECT_EQ(Source().calls.size(), 3u);
    EXPECT_EQ(Source().calls.back().delivered, 0);
}

TEST_F(DecodeEntropy, StuffedByteAtTheVeryEndOfASegmentIsStillData) {
    // A tile's data can end in a completed 0xFF and its stuffing byte.
    ResetRecordingSource(Bytes({0x81, 0x42, 0xFF, 0x00}), 65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    EXPECT_EQ(g.bitReader.bitBuffer, 0x8142FF00u);
}

TEST_F(DecodeEntropy, ShortFinalChunkAtSegmentStartReadsNothing) {
    // A first segment leaves the reader inside a host buffer...
    ResetRecordingSource(Bytes({0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}),
                         65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    ASSERT_EQ(g.bitReader.bitBuffer, 0xFFFFFFFFu);
    // ...then the next segment is only three bytes: it gives zero bits, and
    // neither its bytes nor the stale buffer are read.
    ResetRecordingSource(Bytes({0x12, 0x34, 0x56}), 65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    EXPECT_EQ(g.bitReader.bitBuffer, 0u);
    ASSERT_EQ(q32vex::SkipBits(16), 0);
    EXPECT_EQ(g.bitReader.bitBuffer, 0u);
    uint16_t code = 0xEEEE;
    ASSERT_EQ(q32vex::ReadEntropyByte(&code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Source().calls.size(), 1u);

    // The same through a segment limit of three bytes.
    ResetRecordingSource(Bytes({0x12, 0x34, 0x56, 0x78, 0x9A}), 65535);
    OpenUntiledInput(RecordingRead);
    g.in.segmentLimit = 3;
    StartSegment();
    EXPECT_EQ(g.bitReader.bitBuffer, 0u);
}

// DC: one code "0" for category 0. AC: "0" for run 15 / size 1, "10" for EOB.
const uint8_t kOneCodeDc[17] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};
const uint8_t kLongRunAc[18] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF1, 0x00};

TEST_F(DecodeEntropy, RunPastTheLastCoefficientEndsTheBlockInsideIt) {
    DecoderTable dc(kOneCodeDc, q32vex::kDcLookahead);
    DecoderTable ac(kLongRunAc, q32vex::kAcLookahead);
    // Block 1: DC "0", then four times run 15 + value 1 ("0" "1"): the fourth
    // lands at 64. Block 2: DC "0", EOB "10". Padding, end of image.
    ResetRecordingSource(Bytes({0x2A, 0xA0, 0xFF, 0xD9}), 65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    int16_t coefs[80];
    std::fill(std::begin(coefs), std::end(coefs), int16_t(0x5A5A));
    int16_t predictor = 0;
    ASSERT_EQ(q32vex::DecodeBlock(coefs, &predictor, dc.table, ac.table), 0);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(coefs[k], (k == 16 || k == 32 || k == 48) ? 1 : 0) << k;
    }
    for (int k = 64; k < 80; ++k) EXPECT_EQ(coefs[k], 0x5A5A) << "written past the block";
    std::fill(std::begin(coefs), std::end(coefs), int16_t(0x5A5A));
    ASSERT_EQ(q32vex::DecodeBlock(coefs, &predictor, dc.table, ac.table), 0);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(coefs[k], 0) << k;
    EXPECT_EQ(coefs[64], 0x5A5A);
}

TEST_F(DecodeEntropy, CodeMissingFromTheTableReadsAsEndOfBlock) {
    // "1" is not a code of either table: DC difference 0, EOB, nothing consumed.
    DecoderTable dc(kOneCodeDc, q32vex::kDcLookahead);
    DecoderTable ac(kLongRunAc, q32vex::kAcLookahead);
    ResetRecordingSource(Bytes({0xF0, 0x12, 0x34, 0x56}), 65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    int16_t coefs[64];
    int16_t predictor = 7;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(q32vex::DecodeBlock(coefs, &predictor, dc.table, ac.table), 0);
        EXPECT_EQ(coefs[0], 7);
        for (int k = 1; k < 64; ++k) EXPECT_EQ(coefs[k], 0);
        EXPECT_EQ(g.bitReader.bitBuffer, 0xF0123456u);
    }
}

TEST_F(DecodeEntropy, HostileDcSymbolUsesItsCategoryBitsOnly) {
    // A DC table whose only symbol is 0xFF: read as category 15.
    const uint8_t dcSpec[17] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
    DecoderTable dc(dcSpec, q32vex::kDcLookahead);
    DecoderTable ac(kLongRunAc, q32vex::kAcLookahead);
    // "0", fifteen bits 100000000000000, then EOB "10".
    ResetRecordingSource(Bytes({0x40, 0x00, 0x80, 0x00, 0xFF, 0xD9}), 65535);
    OpenUntiledInput(RecordingRead);
    StartSegment();
    int16_t coefs[64];
    int16_t predictor = 0;
    ASSERT_EQ(q32vex::DecodeBlock(coefs, &predictor, dc.table, ac.table), 0);
    EXPECT_EQ(predictor, 16384);
    EXPECT_EQ(coefs[0], 16384);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(coefs[k], 0);
}

// Random quantised blocks with what real data has (long zero runs, a last
// coefficient that ends without EOB, extreme magnitudes).
std::vector<std::array<int16_t, 64>> RandomBlocks(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::array<int16_t, 64>> blocks(n);
    for (auto& b : blocks) {
        const int style = int(rng() % 5);
        b[0] = int16_t(int(rng() % 2001) - 1000);
        for (int k = 1; k < 64; ++k) {
            const bool nonZero = style == 0 ? rng() % 2 == 0 : rng() % (k < 10 ? 3 : 12) == 0;
            if (!nonZero || style == 4) {
                b[k] = 0;
                continue;
            }
            const int magnitude =
                rng() % 8 == 0 ? int(rng() % 1023) + 1 : int(rng() % (k < 6 ? 60 : 4)) + 1;
            b[k] = int16_t(rng() % 2 ? magnitude : -magnitude);
        }
        if (style == 3) b[63] = int16_t(rng() % 2 ? 1023 : -1);
        if (style == 2) {
            for (int k = 1; k < 50; ++k) b[k] = 0;
            b[50] = 5;
        }
    }
    return blocks;
}

TEST_F(DecodeEntropy, BlocksCodedByTheEncoderDecodeBackAtAnyFeeding) {
    using namespace q32vex;
    constexpr int kComponents = 3;
    constexpr int kMcus = 60;
    constexpr int kRestart = 7;
    const auto blocks = RandomBlocks(kComponents * kMcus, 12345);
    const EncoderTables lum(kLumDcSpec, kLumAcSpec);
    const EncoderTables chrom(kChromDcSpec, kChromAcSpec);
    auto encoderOf = [&](int c) -> const EncoderTables& { return c == 0 ? lum : chrom; };

    for (uint16_t outBuffer : {uint16_t(1), uint16_t(4096)}) {
        std::vector<uint8_t> stream = WriteSegment(outBuffer, [&] {
            int16_t predictors[kComponents] = {};
            for (int m = 0; m < kMcus; ++m) {
                for (int c = 0; c < kComponents; ++c) {
                    ASSERT_EQ(EncodeBlock(blocks[m * kComponents + c].data(), &predictors[c],
                                          &encoderOf(c).dc, &encoderOf(c).ac),
                              0);
                }
                if ((m + 1) % kRestart == 0) {
                    ASSERT_EQ(WriteRestartMarker(uint8_t(0xD0 + (m / kRestart) % 8)), 0);
                    std::fill(std::begin(predictors), std::end(predictors), int16_t(0));
                }
            }
        });
        stream.push_back(0xFF);
        stream.push_back(0xD9);

        DecoderTable lumDc(kLumDcSpec, kDcLookahead), lumAc(kLumAcSpec, kAcLookahead);
        DecoderTable chromDc(kChromDcSpec, kDcLookahead), chromAc(kChromAcSpec, kAcLookahead);
        for (uint16_t chunk : {1, 3, 511, 65535}) {
            ResetSource(stream, chunk);
            OpenUntiledInput(SourceRead);
            StartSegment();
            int16_t predictors[kComponents] = {};
            int mismatches = 0;
            for (int m = 0; m < kMcus; ++m) {
                for (int c = 0; c < kComponents; ++c) {
                    int16_t coefs[64];
                    ASSERT_EQ(DecodeBlock(coefs, &predictors[c], c == 0 ? lumDc.table : chromDc.table,
                                          c == 0 ? lumAc.table : chromAc.table),
                              0);
                    const auto& expected = blocks[m * kComponents + c];
                    mismatches += !std::equal(expected.begin(), expected.end(), coefs);
                }
                if ((m + 1) % kRestart == 0) {
                    uint16_t code = 0;
                    ASSERT_EQ(ReadEntropyByte(&code), 0);
                    EXPECT_EQ(code, 0xD0 + (m / kRestart) % 8) << "chunk " << chunk;
                    ASSERT_EQ(ResyncEntropyInput(), 0);
                    std::fill(std::begin(predictors), std::end(predictors), int16_t(0));
                }
            }
            EXPECT_EQ(mismatches, 0) << "chunk " << chunk << ", output buffer " << outBuffer;
            EXPECT_EQ(g.bitReader.markerSeen, 1) << "the data ends at the end-of-image marker";
        }
    }
}

TEST_F(DecodeEntropy, RestartAfterTheLastBlockEndsCleanlyAtTheEndOfTheData) {
    // A restart point after the final MCU: the code byte of the last marker is
    // consumed, and the scan for further markers meets the end of the data.
    using namespace q32vex;
    const auto blocks = RandomBlocks(4, 99);
    const EncoderTables lum(kLumDcSpec, kLumAcSpec);
    std::vector<uint8_t> stream = WriteSegment(4096, [&] {
        int16_t predictor = 0;
        for (const auto& b : blocks) ASSERT_EQ(EncodeBlock(b.data(), &predictor, &lum.dc, &lum.ac), 0);
        ASSERT_EQ(WriteRestartMarker(0xD0), 0);
    });
    stream.push_back(0xFF);
    stream.push_back(0xD9);
    DecoderTable dc(kLumDcSpec, kDcLookahead), ac(kLumAcSpec, kAcLookahead);
    for (bool flagLast : {true, false}) {
        for (uint16_t chunk : {1, 2, 3, 65535}) {
            ResetRecordingSource(stream, chunk);
            Source().flagLastChunk = flagLast;
            OpenUntiledInput(RecordingRead);
            StartSegment();
            int16_t predictor = 0;
            for (const auto& b : blocks) {
                int16_t coefs[64];
                ASSERT_EQ(DecodeBlock(coefs, &predictor, dc.table, ac.table), 0);
                EXPECT_TRUE(std::equal(b.begin(), b.end(), coefs));
            }
            uint16_t code = 0;
            ASSERT_EQ(ReadEntropyByte(&code), 0);
            EXPECT_EQ(code, 0xD0);
            ASSERT_EQ(ResyncEntropyInput(), 0) << "chunk " << chunk;
            EXPECT_EQ(g.bitReader.bitBuffer, 0u);
            ASSERT_EQ(ReadEntropyByte(&code), 0);
            ASSERT_EQ(ResyncEntropyInput(), 0);
        }
    }
}

}  // namespace
