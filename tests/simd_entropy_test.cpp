// The word-at-a-time Huffman coder writes exactly what the byte-at-a-time
// writer it replaced would: the same bytes, stuffing and restart markers, in
// the same host buffers, handed over in the same callbacks. The reference
// here is that byte-wise writer, written out from its rules (bits ORed into
// the next output byte, a completed 0xFF followed by 0x00, the window renewed
// when its last byte is written).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "common/derived_tables.h"
#include "common/tables.h"
#include "encode/huffman_encoder.h"
#include "kernels/kernels.h"
#include "reference_kernels.h"
#include "test_support.h"

namespace {

using namespace q32vex;
using vextest::EncodeBlock;

// Bits in, bytes out, with a host that takes `bufferSize` bytes per call.
struct ReferenceWriter {
    uint16_t bufferSize;
    std::vector<uint8_t> out;
    std::vector<uint16_t> handOvers;  // sizes handed over, in order
    uint8_t byte = 0;
    int freeBits = 8;
    size_t windowFill = 0;  // bytes written into the current host buffer
    bool stuffing = true;

    void Complete() {
        out.push_back(byte);
        const bool stuff = stuffing && byte == 0xFF;
        NextByte();
        if (stuff) {
            out.push_back(0);
            NextByte();
        }
        byte = 0;
        freeBits = 8;
    }
    void NextByte() {
        if (++windowFill == bufferSize) {
            handOvers.push_back(bufferSize);
            windowFill = 0;
        }
    }
    void Put(uint32_t value, int n) {
        while (n > 0) {
            value &= n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1;
            if (freeBits > n) {
                freeBits -= n;
                byte = uint8_t(byte | (value << freeBits));
                return;
            }
            n -= freeBits;
            byte = uint8_t(byte | (value >> n));
            Complete();
        }
    }
    void Restart(uint8_t code) {
        if (freeBits < 8) Put(0xFF, freeBits);
        stuffing = false;
        Put(0xFF, 8);
        Put(code, 8);
        stuffing = true;
    }
    void Flush() {
        if (freeBits != 8) {
            out.push_back(byte);
            ++windowFill;
        }
    }

    // EncodeBlock's rules: DC difference, then runs and sizes of the AC
    // coefficients in zigzag order, ZRL for runs over 15, EOB unless the last
    // coefficient is not zero.
    void Block(const int16_t* block, int16_t* predictor, const HuffEncDc* dc, const HuffEncAc* ac) {
        const int16_t diff = int16_t(block[0] - *predictor);
        *predictor = block[0];
        int category = 0;
        for (int a = diff < 0 ? -diff : diff; a != 0; a >>= 1) ++category;
        if (category > 12) category = 12;
        Put(dc->code[category], dc->length[category]);
        if (category != 0) Put(uint32_t(diff < 0 ? diff - 1 : diff), category);
        int run = 0;
        for (int k = 1; k < 64; ++k) {
            const int v = block[k];
            if (v == 0) {
                ++run;
                continue;
            }
            while (run > 15) {
                Put(ac->code[0xF0], ac->length[0xF0]);
                run -= 16;
            }
            int size = 0;
            for (int a = v < 0 ? -v : v; a != 0; a >>= 1) ++size;
            if (size > 10) size = 10;
            Put(ac->code[run * 16 + size], ac->length[run * 16 + size]);
            Put(uint32_t(v < 0 ? v - 1 : v), size);
            run = 0;
        }
        if (block[63] == 0) Put(ac->code[0], ac->length[0]);
    }
};

class SimdEntropy : public vextest::LibraryTest {};

// Blocks like real quantised data (many zeros, small values, some runs over
// 15) and extreme ones (every coefficient large), coded with restart markers
// between them into host buffers of several sizes.
// A derived-table cache of the test's own, released before the fixture
// counts the library's blocks.
struct OwnTables {
    DerivedTableCache cache{};
    ~OwnTables() { ReleaseDerivedTables(cache); }
};

TEST_F(SimdEntropy, WordWriterMatchesTheByteWriter) {
    OwnTables tables;
    const uint8_t* dcSpecs[4] = {kLumDcSpec, nullptr, nullptr, nullptr};
    const uint8_t* acSpecs[4] = {kLumAcSpec, nullptr, nullptr, nullptr};
    ASSERT_EQ(BuildDerivedTables(tables.cache, kCompress, kDcTable, dcSpecs, 1), 0);
    ASSERT_EQ(BuildDerivedTables(tables.cache, kCompress, kAcTable, acSpecs, 1), 0);
    const HuffEncDc* dc = EncDc(tables.cache, 0);
    const HuffEncAc* ac = EncAc(tables.cache, 0);
    std::mt19937 rng(41);
    for (uint16_t bufferSize : {uint16_t(1), uint16_t(2), uint16_t(3), uint16_t(5), uint16_t(64), uint16_t(4096)}) {
        std::vector<std::vector<int16_t>> blocks(400, std::vector<int16_t>(64, 0));
        for (size_t n = 0; n < blocks.size(); ++n) {
            std::vector<int16_t>& b = blocks[n];
            b[0] = int16_t(int(rng() % 4001) - 2000);
            const int kind = int(n % 5);
            if (kind == 0) {
                for (int k = 1; k < 64; ++k) b[k] = int16_t(int(rng() % 2047) - 1023);
            } else if (kind == 1) {
                b[63] = int16_t(rng() % 2 ? 1 : -1);  // runs of 62 zeros: three ZRLs
            } else if (kind == 2) {
                for (int k = 1; k < 64; ++k) b[k] = (rng() & 1) ? int16_t(rng()) : int16_t(0);  // sizes capped at 10
            } else {
                for (int i = 0; i < 6; ++i) b[1 + rng() % 63] = int16_t(int(rng() % 61) - 30);
            }
        }
        ReferenceWriter reference{bufferSize};
        int16_t refPredictor = 0;
        for (size_t n = 0; n < blocks.size(); ++n) {
            reference.Block(blocks[n].data(), &refPredictor, dc, ac);
            if (n % 7 == 6) reference.Restart(uint8_t(0xD0 + (n / 7) % 8));
        }
        reference.Flush();

        // The library, through an in-memory host: block by block with the
        // definition tables, and a restart interval at a time through every
        // build of the MCU coder this processor can run.
        HuffPacked packed;
        PackHuffmanTables(dc, ac, &packed);
        std::vector<std::pair<const char*, McuEncoderFn>> coders = {{"EncodeBlock", nullptr},
                                                                    {"baseline", EncodeMcuBlocks}};
        for (SimdLevel level : vextest::VectorSimdLevels()) {
            const KernelTable& kernels = KernelsFor(level);
            if (kernels.encodeMcuBlocks != EncodeMcuBlocks) coders.push_back({kernels.name, kernels.encodeMcuBlocks});
        }
        for (const auto& [name, coder] : coders) {
            vextest::ResetSink(bufferSize);
            StreamBuffer out{};
            HostIo io{};
            io.write = vextest::SinkWrite;
            OpenStream(out, io);
            BitWriter bits{};
            bits.stuffingEnabled = 1;
            ASSERT_EQ(StartBitWriter(bits, out), 0);
            int16_t predictors[4] = {0, 0, 0, 0};
            const uint8_t component[7] = {0, 0, 0, 0, 0, 0, 0};
            for (size_t n = 0; n < blocks.size(); n += 7) {
                const size_t count = std::min<size_t>(7, blocks.size() - n);
                if (coder == nullptr) {
                    for (size_t i = n; i < n + count; ++i) {
                        ASSERT_EQ(EncodeBlock(bits, out, blocks[i].data(), &predictors[0], dc, ac), 0);
                    }
                } else {
                    int16_t mcu[7][64];
                    for (size_t i = 0; i < count; ++i) std::memcpy(mcu[i], blocks[n + i].data(), sizeof(mcu[i]));
                    ASSERT_EQ(coder(bits, out, mcu, int(count), component, predictors, &packed), 0);
                }
                if (count == 7) ASSERT_EQ(WriteRestartMarker(bits, out, uint8_t(0xD0 + (n / 7) % 8)), 0);
            }
            // Every full buffer has been handed over by the time the last block
            // returned, as the byte writer would have done.
            ASSERT_EQ(vextest::g_sink.calls, 1 + int(reference.handOvers.size())) << name << ", buffer " << bufferSize;
            ASSERT_EQ(FlushBitWriter(bits, out), 0);
            ASSERT_EQ(HandOverLastBytes(out), 0);
            EXPECT_EQ(vextest::g_sink.stream, reference.out) << name << ", buffer " << bufferSize;
        }
    }
}

}  // namespace
