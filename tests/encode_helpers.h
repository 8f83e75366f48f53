// Helpers for the compression-engine tests: an in-memory output stream set up
// the way a compression sequence sets it up, a driver that runs the engine
// over a whole image, and a minimal JPEG header around the entropy-coded
// data so that djpeg (through the compression tests' Djpeg) can act as the
// oracle.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "encode/compress_engine.h"
#include "encode/derived_tables.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"
#include "interface/global_state.h"
#include "interface/tables.h"
#include "compress_helpers.h"
#include "test_support.h"

namespace enctest {

// An output stream as a compression open leaves it: no buffer in hand yet,
// the host's sink as writeCallback, stuffing on.
inline void StartMemoryStream(uint16_t bufferSize) {
    vextest::ResetSink(bufferSize);
    q32vex::g.seq.params.writeCallback = vextest::SinkWrite;
    q32vex::g.out = q32vex::StreamBuffer{};
    q32vex::g.bitWriter.stuffingEnabled = 1;
}

// The final hand-over of a sequence: the filled part of the buffer in hand.
inline std::vector<uint8_t> FinishMemoryStream() {
    q32vex::StreamBuffer& out = q32vex::g.out;
    out.bufferSize = uint16_t(out.bufferSize - out.bytesFree);
    EXPECT_EQ(vextest::SinkWrite(&out.hostBuffer, -1, &out.bufferSize, nullptr), 0);
    return vextest::g_sink.stream;
}

// The bytes an entropy-coded segment takes: the bit writer started, `body`
// run (EncodeBlock, WriteRestartMarker, ...), the segment flushed and handed
// over from a host buffer of `bufferSize` bytes.
template <class Body>
std::vector<uint8_t> WriteSegment(uint16_t bufferSize, Body body) {
    StartMemoryStream(bufferSize);
    EXPECT_EQ(q32vex::StartBitWriter(), 0);
    body();
    EXPECT_EQ(q32vex::FlushBitWriter(), 0);
    return FinishMemoryStream();
}

inline std::string BitString(const std::vector<uint8_t>& bytes) {
    std::string s;
    for (uint8_t b : bytes)
        for (int i = 7; i >= 0; --i) s += char('0' + ((b >> i) & 1));
    return s;
}

// The tables of a default set, quantisation scaled to `quality`, zigzag.
struct EngineTables {
    uint8_t quant[4][64] = {};
    const uint8_t* q[4] = {};
    const uint8_t* dc[4] = {};
    const uint8_t* ac[4] = {};
    int components = 0;
};

inline EngineTables DefaultTables(int colorSpace, uint16_t quality) {
    EngineTables t;
    const q32vex::DefaultTableSet& set = q32vex::kDefaultTableSets[colorSpace];
    t.components = set.components;
    for (int c = 0; c < set.components; ++c) {
        q32vex::ScaleQuantTable(set.q[c], quality, t.quant[c]);
        t.q[c] = t.quant[c];
        t.dc[c] = set.dc[c];
        t.ac[c] = set.ac[c];
    }
    return t;
}

struct EngineRun {
    int formatIndex = 1;
    int samplingIndex = 0;
    uint16_t quality = 50;
    uint16_t restartInterval = 0;
    uint16_t outputBuffer = 4096;
};

// Codes `image` as one segment, MCU row by MCU row, each row one pass over
// the full width; returns the entropy-coded bytes.
inline int16_t RunEngine(const vextest::Image& image, const EngineRun& run, const EngineTables& tables,
                         std::vector<uint8_t>* out) {
    using namespace q32vex;
    static PixelFormatDesc format;
    static SamplingDesc sampling;
    int16_t pixelModel = 0, colorSpace = 0;
    format = vextest::FormatDesc(run.formatIndex, &pixelModel);
    sampling = vextest::SamplingOf(run.samplingIndex, &colorSpace);
    const int mcuW = kSamplings[run.samplingIndex].mcuWidth;
    const int mcuH = kSamplings[run.samplingIndex].mcuHeight;
    EngineParams params{};
    params.mcusPerPass = uint16_t((image.width + mcuW - 1) / mcuW);
    params.passesPerTile = uint16_t((image.height + mcuH - 1) / mcuH);
    params.restartInterval = run.restartInterval;
    params.pixelModel = pixelModel;
    params.pixelFormat = &format;
    params.colorSpace = colorSpace;
    params.sampling = &sampling;
    for (int c = 0; c < tables.components; ++c) {
        params.qTables[c] = tables.q[c];
        params.dcTables[c] = tables.dc[c];
        params.acTables[c] = tables.ac[c];
    }
    Status status = SetupCompressionEngine(&params);
    if (status != 0) return status;
    StartMemoryStream(run.outputBuffer);
    status = StartSegment();
    if (status != 0) return status;
    for (int y0 = 0; y0 < image.height; y0 += mcuH) {
        std::vector<uint8_t*> rows;
        for (int y = y0; y < std::min(image.height, y0 + mcuH); ++y)
            rows.push_back(const_cast<uint8_t*>(image.row(y)));
        status = EncodeMcuRow(uint16_t(image.width), uint16_t(rows.size()), rows.data());
        if (status != 0) return status;
    }
    *out = FinishMemoryStream();
    return 0;
}

// A baseline JPEG around entropy-coded data: SOI, DQT, SOF0, DHT, optional
// DRI, SOS, the data, EOI. Equal table pointers share one table id.
inline std::vector<uint8_t> WrapJpeg(int width, int height, int samplingIndex, const EngineTables& t,
                                     uint16_t restartInterval, const std::vector<uint8_t>& data) {
    const SamplingDesc s = vextest::SamplingOf(samplingIndex);
    std::vector<uint8_t> j = {0xFF, 0xD8};
    auto u16 = [&](int v) {
        j.push_back(uint8_t(v >> 8));
        j.push_back(uint8_t(v));
    };
    // Huffman table ids: distinct pointers numbered in component order.
    int dcId[4] = {}, acId[4] = {};
    std::vector<const uint8_t*> distinct[2];
    for (int cls = 0; cls < 2; ++cls) {
        const uint8_t* const* tables = cls == 0 ? t.dc : t.ac;
        int* id = cls == 0 ? dcId : acId;
        for (int c = 0; c < t.components; ++c) {
            auto it = std::find(distinct[cls].begin(), distinct[cls].end(), tables[c]);
            id[c] = int(it - distinct[cls].begin());
            if (it == distinct[cls].end()) distinct[cls].push_back(tables[c]);
        }
    }
    for (int c = 0; c < t.components; ++c) {
        j.insert(j.end(), {0xFF, 0xDB});
        u16(67);
        j.push_back(uint8_t(c));
        j.insert(j.end(), t.q[c], t.q[c] + 64);
    }
    j.insert(j.end(), {0xFF, 0xC0});
    u16(8 + 3 * t.components);
    j.push_back(8);
    u16(height);
    u16(width);
    j.push_back(uint8_t(t.components));
    for (int c = 0; c < t.components; ++c) {
        j.push_back(uint8_t(c + 1));
        j.push_back(uint8_t(s.h[c] << 4 | s.v[c]));
        j.push_back(uint8_t(c));
    }
    for (int cls = 0; cls < 2; ++cls) {
        for (size_t id = 0; id < distinct[cls].size(); ++id) {
            const uint8_t* table = distinct[cls][id];
            int n = 0;
            for (int i = 0; i < 16; ++i) n += table[i];
            j.insert(j.end(), {0xFF, 0xC4});
            u16(3 + 16 + n);
            j.push_back(uint8_t(cls << 4 | id));
            j.insert(j.end(), table, table + 16 + n);
        }
    }
    if (restartInterval != 0) {
        j.insert(j.end(), {0xFF, 0xDD});
        u16(4);
        u16(restartInterval);
    }
    j.insert(j.end(), {0xFF, 0xDA});
    u16(6 + 2 * t.components);
    j.push_back(uint8_t(t.components));
    for (int c = 0; c < t.components; ++c) {
        j.push_back(uint8_t(c + 1));
        j.push_back(uint8_t(dcId[c] << 4 | acId[c]));
    }
    j.insert(j.end(), {0, 63, 0});
    j.insert(j.end(), data.begin(), data.end());
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

}  // namespace enctest
