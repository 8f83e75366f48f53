// Tiled TIFF-JPEG writer: header, one directory, out-of-line values, room for
// the tile arrays, and the trailer that fills that room.
#pragma once
#include <cstdint>

#include "interface/status.h"

namespace q32vex {

struct TiffWriterState {
    uint32_t tileOffsetsPos;     // T
    uint32_t tileByteCountsPos;  // T + 4 x tileCount
};

[[nodiscard]] Status WriteTiffHeader(const AppVexParams* params);
[[nodiscard]] Status WriteTiffTrailer(const AppVexParams* params);

}  // namespace q32vex
