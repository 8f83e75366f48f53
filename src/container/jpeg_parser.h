// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the codec's table slots.
#pragma once
#include "common/engine_params.h"
#include "common/status.h"

namespace q32vex {

struct InputBuffer;
struct TableSlots;

// What the decoders need of the frame header beyond the record: the
// component identifiers that scans name, the quantisation table each
// component uses, and what the components are (from the identifiers and the
// JFIF and Adobe segments). Filled by the read that takes one.
struct JpegFrame {
    bool progressive;  // the frame header was SOF2
    uint16_t componentCount;
    uint8_t componentId[4];
    uint8_t quantSelector[4];
    bool jfif;                // a JFIF APP0 segment came before the scan
    bool adobe;               // an Adobe APP14 segment came before the scan
    uint8_t adobeTransform;   // its transform byte: 0 none, 1 YCbCr, 2 YCCK
    FrameColour colour;       // set when the read succeeds
};

// Reads from the input's current position; the tables go into `slots`, to
// which the record's table pointers already point.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params);
// The same read, describing the frame in *frame, and also accepting a
// progressive frame (SOF2, 8-bit, Huffman) when `progressive` is set. For a
// progressive frame the read stops at the first SOS marker, before its length
// field, and leaves the scans to the progressive decoder.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params, JpegFrame* frame,
                                     bool progressive);

}  // namespace q32vex
