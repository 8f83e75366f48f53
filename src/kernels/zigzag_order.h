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

}  // namespace
}  // namespace q32vex
