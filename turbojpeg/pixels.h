// Row conversions between TurboJPEG pixel formats (every TJPF_* but CMYK):
// the codec's own host formats (BGR triples, BGR with a fourth byte, grey)
// to and from whatever layout the caller holds. Colour to grey is the luma
// of ITU-R BT.601, as JFIF defines Y; grey to colour repeats the value in R,
// G and B; alpha and unused bytes are written as 0xFF.
//
// A conversion is made once per call for its pair of formats and the active
// SIMD level. The scalar form is the reference; the SSSE3 forms
// (pixels_ssse3.cpp) give exactly its bytes.
#pragma once
#include <cstddef>
#include <cstdint>

namespace q32vex_tj {

struct RowConversion;
using RowFunction = void (*)(const uint8_t* from, uint8_t* to, size_t n);
using VectorRowFunction = size_t (*)(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n);

struct RowConversion {
    RowFunction scalar;
    // Converts a leading part of the row and returns how many pixels it did;
    // the scalar form finishes the rest. Null where no vector form serves.
    VectorRowFunction vector;
    int fromBytes;  // bytes per pixel on each side
    int toBytes;
    // Byte shuffles for the vector forms: what each form takes is said
    // beside it in pixels_ssse3.cpp.
    alignas(16) uint8_t masks[4][16];
    alignas(16) uint8_t fill[16];
};

// Formats the conversions know: 0 <= pf < TJ_NUMPF and pf != TJPF_CMYK.
bool ConvertibleFormat(int pf);
// The conversion from format `from` to format `to`, both convertible.
RowConversion MakeConversion(int from, int to);
// Converts `n` pixels.
void ConvertRow(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n);
// ConvertRow for the codec's one-call forms (VexPixelConversion), whose
// context is the RowConversion.
void ConvertPixels(void* context, const uint8_t* from, uint8_t* to, uint32_t n);
// The same through one call, for rows not on a hot path.
void ConvertRow(int fromPf, int toPf, const uint8_t* from, uint8_t* to, size_t n);

// The vector forms, on x86 only.
size_t ShuffleRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n);
size_t LumaRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n);
size_t SpreadGrayRow_ssse3(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n);

}  // namespace q32vex_tj
