// Reads the TIFF-JPEG layout this library writes: header, directory in
// template order, out-of-line values visited in ascending file order.
#pragma once
#include <cstddef>
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

// Sorts `count` records of `recordSize` bytes in place by `compare`. Not
// stable: the order it leaves equal records in decides the order of the
// host's read requests, so it must not change (see tiff_reader.cpp).
using CompareFn = int (*)(const void*, const void*);
void SortEntries(void* records, size_t count, size_t recordSize, CompareFn compare);

}  // namespace q32vex
