// Byte helpers every part uses: the word-wise copy of the parameter record and
// the comparison that table numbering and format matching are built on.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

// Copies n bytes: an odd byte first, then n / 2 16-bit words.
void CopyWords(void* destination, const void* source, uint32_t n);
// 0 when the n bytes are equal (also for n = 0), otherwise VEX_ERR_DIFFERENT.
[[nodiscard]] Status CompareBytes(const void* a, const void* b, uint32_t n);

}  // namespace q32vex
