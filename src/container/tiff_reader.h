// Reads the TIFF-JPEG layout this library writes: header, directory in
// template order, out-of-line values visited in ascending file order.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

struct InputBuffer;
struct TableSlots;
struct TileArrays;

// Reads from the input's current position; the first two components' tables
// go into `slots`, to which the record's table pointers already point, and
// the tile arrays are replaced by ones of the file's tile count.
[[nodiscard]] Status ReadTiffHeader(InputBuffer& in, TableSlots& slots, TileArrays& tiles, AppVexParams* params);

}  // namespace q32vex
