// Reads the TIFF-JPEG layout this library writes: header, directory in
// template order, out-of-line values visited in ascending file order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "interface/status.h"

namespace q32vex {

[[nodiscard]] Status ReadTiffHeader(AppVexParams* params);

// Sorts `count` records of `recordSize` bytes in place by `compare`. Not
// stable: the order it leaves equal records in decides the order of the
// host's read requests, so it must not change (see tiff_reader.cpp).
using CompareFn = int (*)(const void*, const void*);
void SortEntries(void* records, size_t count, size_t recordSize, CompareFn compare);

}  // namespace q32vex
