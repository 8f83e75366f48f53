// Byte helpers every part uses.
#include "common/bytes.h"

#include <cstring>

namespace q32vex {

void CopyWords(void* destination, const void* source, uint32_t n) {
    auto* d = static_cast<uint8_t*>(destination);
    const auto* s = static_cast<const uint8_t*>(source);
    if (n & 1) {
        *d++ = *s++;
    }
    // The rest moves as 16-bit words; memcpy keeps it alignment-safe.
    std::memcpy(d, s, n & ~1u);
}

Status CompareBytes(const void* a, const void* b, uint32_t n) {
    if (n == 0) return 0;
    return std::memcmp(a, b, n) == 0 ? 0 : VEX_ERR_DIFFERENT;
}

}  // namespace q32vex
