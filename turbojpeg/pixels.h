// Row conversions between TurboJPEG pixel formats and the codec's own host
// formats (BGR triples, grey bytes, four raw channels).
#pragma once
#include <cstddef>
#include <cstdint>

namespace q32vex_tj {

// `n` pixels of format `pf` to BGR triples; grey pixels are repeated in all
// three channels.
void ToBgr(const uint8_t* src, int pf, uint8_t* bgr, size_t n);
// `n` pixels of format `pf` to grey, as FromBgr makes grey.
void ToGray(const uint8_t* src, int pf, uint8_t* gray, size_t n);
// `n` BGR triples to format `pf`. Grey is the luma of ITU-R BT.601 (as JFIF
// defines Y); alpha and unused bytes become 0xFF.
void FromBgr(const uint8_t* bgr, int pf, uint8_t* dst, size_t n);
// `n` grey bytes to format `pf` (repeated in R, G and B; 0xFF alpha).
void FromGray(const uint8_t* gray, int pf, uint8_t* dst, size_t n);
// Sets the fourth byte of `n` 4-byte pixels to 0xFF.
void SetAlpha(uint8_t* pixels, int offset, size_t n);

}  // namespace q32vex_tj
