// The in-place sort of fixed-size records the TIFF reader orders its deferred
// values with.
#pragma once
#include <cstddef>

namespace q32vex {

// Sorts `count` records of `recordSize` bytes in place by `compare`. Not
// stable: the order it leaves equal records in decides the order of the
// host's read requests, so it must not change (see record_sort.cpp).
using CompareFn = int (*)(const void*, const void*);
void SortEntries(void* records, size_t count, size_t recordSize, CompareFn compare);

}  // namespace q32vex
