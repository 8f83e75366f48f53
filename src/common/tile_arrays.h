// The two library-owned tile arrays the parameter record points into: each
// tile's compressed byte count and stream position, with a cursor each.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

struct TileArrays {
    uint32_t* byteCounts;
    uint32_t* offsets;
    uint32_t* byteCountsCursor;
    uint32_t* offsetsCursor;
    uint16_t count;  // entries allocated in each array
};

// Releases both arrays (each only if present) and clears the cursors.
void FreeTileArrays(TileArrays& tiles);
// Allocates both arrays, byte counts first; when the second allocation fails
// the first stays, for the next FreeTileArrays to release.
[[nodiscard]] Status AllocTileArrays(TileArrays& tiles, uint16_t count);

}  // namespace q32vex
