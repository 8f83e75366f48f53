// The zigzag order as compile-time tables, for the vector kernels' lane
// permutations (x86 and ARM alike). Internal linkage, so every kernel file
// has its own copy whatever its target flags.
#pragma once
#include <cstdint>

namespace q32vex {
namespace {

// The T.81 zigzag order: zigzag position k holds natural index kZigzagOrder[k].
constexpr uint8_t kZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
static_assert(kZigzagOrder[2] == 8 && kZigzagOrder[63] == 63, "zigzag order");

// Its inverse: natural index n sits at zigzag position kZigzagPosition[n].
constexpr uint8_t kZigzagPosition[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
    3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
    10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
    21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};
constexpr bool ZigzagTablesAgree() {
    for (int k = 0; k < 64; ++k)
        if (kZigzagPosition[kZigzagOrder[k]] != k) return false;
    return true;
}
static_assert(ZigzagTablesAgree(), "the two zigzag tables must be inverse permutations");

}  // namespace
}  // namespace q32vex
