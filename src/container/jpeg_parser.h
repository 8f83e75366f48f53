// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the codec's table slots.
#pragma once
#include "common/status.h"

namespace q32vex {

struct InputBuffer;
struct TableSlots;

// What a progressive decoder needs of the frame header beyond the record:
// the component identifiers that scans name and the quantisation table each
// component uses. Filled only by a read that accepts progressive frames.
struct JpegFrame {
    bool progressive;  // the frame header was SOF2
    uint16_t componentCount;
    uint8_t componentId[4];
    uint8_t quantSelector[4];
};

// Reads from the input's current position; the tables go into `slots`, to
// which the record's table pointers already point.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params);
// The same read, also accepting a progressive frame (SOF2, 8-bit, Huffman)
// when `frame` is not null. For a progressive frame the read stops at the
// first SOS marker, before its length field, and leaves the scans to the
// progressive decoder; *frame describes the frame either way.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params, JpegFrame* frame);

}  // namespace q32vex
