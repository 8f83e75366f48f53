// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the codec's table slots.
#pragma once
#include "common/engine_params.h"
#include "common/status.h"
#include "common/tables.h"

namespace q32vex {

struct InputBuffer;

// What the decoders need of the frame beyond the record: the component
// identifiers that scans name, the quantisation table each component uses,
// what the components are (from the identifiers and the JFIF and Adobe
// segments), the Huffman tables with ids 2 and 3 (extended sequential frames
// have four of each class; the slots hold two), and, for a sequential frame
// the streaming engine cannot take, the first scan header, which the read
// has already passed. Filled by the read that takes one.
struct JpegFrame {
    bool progressive;  // the frame header was SOF2
    // A sequential frame decoded into the coefficient store: its first scan
    // leaves components out (several scans), names a Huffman table above 1,
    // or the frame header left the height to a DNL segment (height 0).
    bool stored;
    uint16_t componentCount;
    uint8_t componentId[4];
    uint8_t quantSelector[4];
    uint8_t huffDc[2][kDcSpecBytes];  // Huffman tables 2 and 3, as in the slots
    uint8_t huffAc[2][kAcSpecBytes];
    uint8_t firstScanLength;          // body bytes of the first scan header, when stored
    uint8_t firstScan[12];
    bool jfif;                // a JFIF APP0 segment came before the scan
    bool adobe;               // an Adobe APP14 segment came before the scan
    uint8_t adobeTransform;   // its transform byte: 0 none, 1 YCbCr, 2 YCCK
    FrameColour colour;       // set when the read succeeds
};

// The frames a read accepts beyond the baseline ones.
struct JpegFrameKinds {
    bool progressive;  // SOF2, 8-bit, Huffman coding
    // SOF1 at 8 bits, several scans per frame, Huffman table ids 2 and 3, a
    // height given by DNL, fill bytes and junk between segments.
    bool extended;
};

// Reads from the input's current position; the tables go into `slots`, to
// which the record's table pointers already point.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params);
// The same read, describing the frame in *frame, and also accepting the
// frames `kinds` names. For a progressive frame the read stops at the first
// SOS marker, before its length field, and leaves the scans to the
// progressive decoder; for a stored sequential frame it stops behind the
// first scan header, which *frame keeps.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params, JpegFrame* frame,
                                     JpegFrameKinds kinds);

}  // namespace q32vex
