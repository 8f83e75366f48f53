// Helpers shared by the decoder tests: an input host that records every
// request, the reader set up for an untiled stream, and the Huffman tables
// both directions need to build an entropy-coded stream and read it back.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/global_state.h"
#include "interface/tables.h"
#include "encode_helpers.h"
#include "test_support.h"

namespace vextest {
namespace decode {

// Input host that serves `data` in chunks of at most `chunk` bytes, from a
// fresh copy per call, and records where and how much it was asked for.
struct RecordingSource {
    std::vector<uint8_t> data;
    uint32_t pos = 0;
    uint16_t chunk = 65535;
    bool flagLastChunk = true;    // set the end flag together with the last bytes
    bool flagWhenEmpty = false;   // set the end flag on a delivery of nothing
    int16_t failStatus = 0;       // returned by call number failAtCall
    int failAtCall = 0;
    std::vector<uint8_t> buffer;
    struct Call {
        int32_t position;
        uint16_t requested;
        uint16_t delivered;
    };
    std::vector<Call> calls;
};

inline RecordingSource& Source() {
    static RecordingSource source;
    return source;
}

inline int16_t VEXAPI RecordingRead(uint8_t** data, int32_t position, uint16_t* count,
                                    int16_t* flag) {
    RecordingSource& s = Source();
    const uint16_t requested = *count;
    if (s.failAtCall != 0 && int(s.calls.size()) + 1 == s.failAtCall) {
        s.calls.push_back({position, requested, 0});
        return s.failStatus;
    }
    if (position != -1) s.pos = uint32_t(position);
    const uint32_t available = s.pos < s.data.size() ? uint32_t(s.data.size() - s.pos) : 0;
    const uint32_t n = std::min<uint32_t>({requested, s.chunk, available});
    s.buffer.assign(s.data.begin() + s.pos, s.data.begin() + s.pos + n);
    s.buffer.reserve(1);
    *data = s.buffer.data();
    *count = uint16_t(n);
    s.pos += n;
    const bool atEnd = s.pos >= s.data.size();
    if ((n > 0 && atEnd && s.flagLastChunk) || (n == 0 && s.flagWhenEmpty)) *flag = 1;
    s.calls.push_back({position, requested, uint16_t(n)});
    return 0;
}

inline void ResetRecordingSource(const std::vector<uint8_t>& data, uint16_t chunk) {
    Source() = RecordingSource();
    Source().data = data;
    Source().chunk = chunk;
}

// The reader as the decompression open leaves it for an untiled stream.
inline void OpenUntiledInput(VexReadCallback callback) {
    q32vex::g.seq.params.readCallback = callback;
    q32vex::ResetInput();
    q32vex::g.in.segmentLimit = q32vex::kUntiledSegmentLimit;
    q32vex::g.in.readAhead = 65535;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(uint8_t(v));
    return out;
}

inline std::vector<uint8_t> Ramp(size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 7 + i / 251);
    return out;
}

// Huffman code tables of the compression direction, built from BITS and
// symbol values by the library's own code builder.
struct EncoderTables {
    q32vex::HuffEncDc dc{};
    q32vex::HuffEncAc ac{};
    EncoderTables(const uint8_t* dcSpec, const uint8_t* acSpec) {
        q32vex::MakeHuffmanCodes(dcSpec, dc.code, dc.length);
        q32vex::MakeHuffmanCodes(acSpec, ac.code, ac.length);
    }
};

// A decoder lookup table owned by the test, released before the fixture
// counts the library's blocks.
struct DecoderTable {
    uint16_t* table = nullptr;
    DecoderTable(const uint8_t* spec, int lookahead) {
        EXPECT_EQ(q32vex::BuildHuffDecTable(spec, lookahead, &table), 0);
    }
    ~DecoderTable() { q32vex::LibFree(table); }
    DecoderTable(const DecoderTable&) = delete;
    DecoderTable& operator=(const DecoderTable&) = delete;
};

// Entropy-coded segments are written with the library's own bit writer.
using enctest::WriteSegment;

}  // namespace decode
}  // namespace vextest
