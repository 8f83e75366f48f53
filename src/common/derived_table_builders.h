// The builders behind the derived-table cache, one file per direction
// (derived_tables_encode.cpp, derived_tables_decode.cpp), and the arithmetic
// both quantisation derivations share.
#pragma once
#include <cstdint>

#include "common/status.h"
#include "common/tables.h"

namespace q32vex {

// Builds the compression form of a table of `kind` (TableKind) from its
// source copy into a new allocation at *out.
[[nodiscard]] Status BuildEncodeTable(int16_t kind, const uint8_t* source, void** out);
// The same for the decompression form.
[[nodiscard]] Status BuildDecodeTable(int16_t kind, const uint8_t* source, void** out);

// Rounds a double to double precision through memory. The 32-bit x87 build
// keeps intermediates in 80-bit registers; storing each step makes the
// multipliers identical on every target.
inline double Rounded(double x) {
    volatile double stored = x;
    return stored;
}

// 2^e for small signed e, exactly.
inline double PowerOfTwo(int e) {
    double p = 1.0;
    for (; e > 0; --e) p *= 2.0;
    for (; e < 0; ++e) p *= 0.5;
    return p;
}

// A quantisation table from zigzag to natural order.
inline void Natural(const uint8_t* zigzagSource, uint8_t* natural) {
    for (int k = 0; k < 64; ++k) natural[kZigzag[k]] = zigzagSource[k];
}

}  // namespace q32vex
