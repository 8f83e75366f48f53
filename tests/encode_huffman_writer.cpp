// Huffman coding and the bit writer: the exact bits of known blocks with the
// Annex K tables, 0xFF stuffing, restart markers and padding, output that
// does not depend on the host's buffer size, host errors passed up, and a
// djpeg decode of blocks coded here.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/forward_dct.h"
#include "encode_helpers.h"

namespace {

using namespace q32vex;
using namespace enctest;
using vextest::LibraryTest;

class BitWriter : public LibraryTest {};
class BlockEncoder : public LibraryTest {};

std::vector<uint8_t> Unstuff(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == 0xFF) {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == 0x00) << "unstuffed 0xFF at " << i;
            ++i;
        }
    }
    return out;
}

void UseAnnexKLuminance() {
    g.format.componentCount = 1;
    g.engine.params.dcTables[0] = kLumDcSpec;
    g.engine.params.acTables[0] = kLumAcSpec;
    ASSERT_EQ(BuildDerivedTables(kCompress, kDcTable), 0);
    ASSERT_EQ(BuildDerivedTables(kCompress, kAcTable), 0);
}

// The coded bits of one block (stuffing removed), with the padding zeros.
std::string BlockBits(const std::vector<int16_t>& block, int16_t predictor) {
    const std::vector<uint8_t> bytes = WriteSegment(4096, [&] {
        EXPECT_EQ(EncodeBlock(block.data(), &predictor, EncDc(0), EncAc(0)), 0);
    });
    return BitString(Unstuff(bytes));
}

void ExpectBits(const std::string& got, const std::string& expected) {
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    EXPECT_EQ(got.size(), (expected.size() + 7) / 8 * 8) << "no more bytes than the bits need";
    EXPECT_EQ(got.substr(expected.size()), std::string(got.size() - expected.size(), '0'))
        << "padding of the last byte is 0";
}

// ---- bit writer ---------------------------------------------------------------

TEST_F(BitWriter, CompletedFfBytesAreStuffed) {
    EXPECT_EQ(WriteSegment(4096, [] { EXPECT_EQ(PutBits(0xFF, 8), 0); }), (std::vector<uint8_t>{0xFF, 0x00}));
    EXPECT_EQ(WriteSegment(4096, [] {
                  EXPECT_EQ(PutBits(0xF, 4), 0);
                  EXPECT_EQ(PutBits(0xFFF, 12), 0);
                  EXPECT_EQ(PutBits(0x1, 1), 0);
              }),
              (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x00, 0x80}));
}

TEST_F(BitWriter, LastByteIsPaddedWithZeros) {
    EXPECT_EQ(WriteSegment(4096, [] { EXPECT_EQ(PutBits(0b101, 3), 0); }), (std::vector<uint8_t>{0xA0}));
    EXPECT_EQ(WriteSegment(4096, [] { EXPECT_EQ(PutBits(0xAB, 8), 0); }), (std::vector<uint8_t>{0xAB}));
    EXPECT_TRUE(WriteSegment(4096, [] { EXPECT_EQ(PutBits(0x3, 0), 0); }).empty());
}

TEST_F(BitWriter, RestartMarkersPadWithOnesAndAreNotStuffed) {
    EXPECT_EQ(WriteSegment(4096, [] {
                  EXPECT_EQ(PutBits(0b101, 3), 0);
                  EXPECT_EQ(WriteRestartMarker(0xD3), 0);
              }),
              (std::vector<uint8_t>{0xBF, 0xFF, 0xD3}));
    // A pad that completes 0xFF is stuffed before the marker.
    EXPECT_EQ(WriteSegment(4096, [] {
                  EXPECT_EQ(PutBits(0b111, 3), 0);
                  EXPECT_EQ(WriteRestartMarker(0xD0), 0);
              }),
              (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0xD0}));
    // On a byte boundary nothing is padded, and stuffing resumes after.
    EXPECT_EQ(WriteSegment(4096, [] {
                  EXPECT_EQ(PutBits(0x12, 8), 0);
                  EXPECT_EQ(WriteRestartMarker(0xD7), 0);
                  EXPECT_EQ(PutBits(0xFF, 8), 0);
              }),
              (std::vector<uint8_t>{0x12, 0xFF, 0xD7, 0xFF, 0x00}));
}

// Random codes of 0..16 bits with many 1s: the stream is the same for any
// buffer size, and a 1-byte buffer hands over every byte on its own.
TEST_F(BitWriter, OutputDoesNotDependOnTheHostBufferSize) {
    auto body = [] {
        std::mt19937 rng(5);
        for (int i = 0; i < 3000; ++i) {
            const int n = int(rng() % 17);
            const uint32_t value = (rng() % 4 == 0) ? 0xFFFF : rng();
            ASSERT_EQ(PutBits(value, n), 0);
            if (i % 500 == 499) ASSERT_EQ(WriteRestartMarker(uint8_t(0xD0 + (i / 500) % 8)), 0);
        }
    };
    const std::vector<uint8_t> reference = WriteSegment(65535, body);
    ASSERT_GT(reference.size(), 2000u);
    for (uint16_t size : {1, 2, 3, 7, 64, 4096}) {
        EXPECT_EQ(WriteSegment(size, body), reference) << "buffer " << size;
        if (size == 1) EXPECT_EQ(size_t(vextest::g_sink.calls), reference.size() + 2);
    }
}

int16_t VEXAPI EmptyBufferSink(uint8_t** buffer, int32_t, uint16_t* size, void*) {
    static uint8_t byte;
    *buffer = &byte;
    *size = 0;
    return 0;
}

TEST_F(BitWriter, HostErrorsComeBackUnchanged) {
    UseAnnexKLuminance();
    StartMemoryStream(1);
    ASSERT_EQ(StartBitWriter(), 0);
    vextest::g_sink.failAtCall = 4;
    vextest::g_sink.failStatus = 1234;
    std::vector<int16_t> block(64, 0);
    block[0] = 500;
    block[5] = -77;
    int16_t predictor = 0;
    EXPECT_EQ(EncodeBlock(block.data(), &predictor, EncDc(0), EncAc(0)), 1234);

    StartMemoryStream(16);
    g.seq.params.writeCallback = EmptyBufferSink;
    EXPECT_EQ(StartBitWriter(), VEX_ERR_NO_BUFFER);
}

// ---- block encoder ---------------------------------------------------------------

TEST_F(BlockEncoder, DcDifferences) {
    UseAnnexKLuminance();
    std::vector<int16_t> block(64, 0);
    ExpectBits(BlockBits(block, 0), "00" "1010");
    block[0] = 4;
    ExpectBits(BlockBits(block, 5), "010" "0" "1010");  // -1
    block[0] = 3;
    ExpectBits(BlockBits(block, 0), "011" "11" "1010");  // +3
    block[0] = -1000;
    ExpectBits(BlockBits(block, 1000), "111111110" "00000101111" "1010");  // -2000: category 11
    int16_t predictor = 7;
    block[0] = 42;
    WriteSegment(4096, [&] { EXPECT_EQ(EncodeBlock(block.data(), &predictor, EncDc(0), EncAc(0)), 0); });
    EXPECT_EQ(predictor, 42);
}

TEST_F(BlockEncoder, AcRunsSizesAndEndOfBlock) {
    UseAnnexKLuminance();
    std::vector<int16_t> block(64, 0);
    block[1] = -3;  // run 0 size 2: 01, bits 00
    block[3] = 1;   // run 1 size 1: 1100, bit 1
    block[4] = 1023;  // run 0 size 10: 1111111110000011, bits 1111111111
    ExpectBits(BlockBits(block, 0), "00" "01" "00" "1100" "1" "1111111110000011" "1111111111" "1010");
}

TEST_F(BlockEncoder, LongRunBeforeTheLastCoefficient) {
    UseAnnexKLuminance();
    std::vector<int16_t> block(64, 0);
    block[63] = 1;  // 62 zeros: three ZRLs, then run 14 size 1, and no EOB
    ExpectBits(BlockBits(block, 0),
               "00" "11111111001" "11111111001" "11111111001" "1111111111101011" "1");
    block[63] = 0;
    block[20] = -1;  // 19 zeros: ZRL, run 3 size 1, then EOB for the trailing zeros
    ExpectBits(BlockBits(block, 0), "00" "11111111001" "111010" "0" "1010");
}

// Blocks coded here decode with djpeg into the pixels they came from.
TEST_F(BlockEncoder, DjpegDecodesCodedBlocks) {
    if (!vextest::HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    UseAnnexKLuminance();
    std::vector<uint8_t> quant(64);
    for (int k = 0; k < 64; ++k) quant[k] = kLumQuant[kZigzag[k]];
    g.engine.params.qTables[0] = quant.data();
    ASSERT_EQ(BuildDerivedTables(kCompress, kQuantTable), 0);
    const int blocksAcross = 6, blocksDown = 3;
    vextest::Image image;
    image.width = 8 * blocksAcross;
    image.height = 8 * blocksDown;
    image.bytesPerPixel = 1;
    image.pixels.resize(size_t(image.width) * image.height);
    std::mt19937 rng(11);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = uint8_t(128 + 100 * std::sin(i * 0.05) + int(rng() % 9) - 4);
    int16_t predictor = 0;
    const std::vector<uint8_t> data = WriteSegment(97, [&] {
        for (int by = 0; by < blocksDown; ++by)
            for (int bx = 0; bx < blocksAcross; ++bx) {
                int16_t block[64];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        block[8 * y + x] = int16_t((image.row(8 * by + y)[8 * bx + x] - 128) * 128);
                ForwardDctQuantize(block, EncQuant(0));
                ASSERT_EQ(EncodeBlock(block, &predictor, EncDc(0), EncAc(0)), 0);
            }
    });
    EngineTables tables;
    tables.components = 1;
    tables.q[0] = quant.data();
    tables.dc[0] = kLumDcSpec;
    tables.ac[0] = kLumAcSpec;
    vextest::compress::Decoded decoded;
    ASSERT_TRUE(vextest::compress::Djpeg(WrapJpeg(image.width, image.height, 3, tables, 0, data), &decoded,
                                         "blocks"));
    ASSERT_EQ(decoded.pixels.size(), image.pixels.size());
    EXPECT_GT(vextest::Psnr(decoded.pixels.data(), image.pixels.data(), image.pixels.size()), 30.0);
}

}  // namespace
