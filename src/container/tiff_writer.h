// Tiled TIFF-JPEG writer: header, one directory, out-of-line values, room for
// the tile arrays, and the trailer that fills that room.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

struct TiffWriterState {
    uint32_t tileOffsetsPos;     // T
    uint32_t tileByteCountsPos;  // T + 4 x tileCount
};

struct StreamBuffer;

// Writes the header and leaves in *state where the tile arrays' room lies.
[[nodiscard]] Status WriteTiffHeader(StreamBuffer& out, const AppVexParams* params, TiffWriterState* state);
// Fills that room with the record's tile arrays.
[[nodiscard]] Status WriteTiffTrailer(StreamBuffer& out, const AppVexParams* params, const TiffWriterState& state);

}  // namespace q32vex
