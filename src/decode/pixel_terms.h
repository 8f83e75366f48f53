// The per-pixel arithmetic of the output routines: level restore, the
// colour terms of a chroma pair, the channel sums (wrapped or clamped) and
// the packing of blue, green and red into the host's pixel sizes. Shared by
// the fixed routines of the seven samplings and the generic one.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "decode/color_output.h"

namespace q32vex {

// (s >> 8) + 128 modulo 256: the high byte with its top bit flipped. The
// fraction in the low byte is dropped, not rounded.
inline uint8_t Level(int16_t s) {
    return uint8_t((uint16_t(s) >> 8) ^ 0x80);
}

inline uint16_t ChromaIndex(int16_t s) {
    return (uint16_t(s) >> 6) & 0x3FF;
}

// A channel sum of luma (0..32767, seven fraction bits) and a signed term.
// Wrapping: in 16 bits, bit 15 clear is a level, bits 15 and 14 set went below
// zero, bit 15 alone passed 255; exact for channel values -128..383, and the
// values beyond wrap (384 comes out 0, -129 comes out 255). Saturating: the
// sum in full (-28935..61774) clamped to 0..255, exact for every value and
// equal to the wrapping result wherever that one is exact.
template <ColourOutput kColour>
inline uint8_t Channel(uint16_t y, int16_t term) {
    if constexpr (kColour == ColourOutput::kSaturating) {
        const int32_t sum = int32_t(y) + term;
        if (sum < 0) return 0;
        return sum > 32767 ? 255 : uint8_t(sum >> 7);
    } else {
        const uint16_t sum = uint16_t(y + uint16_t(term));
        if ((sum & 0x8000) == 0) return uint8_t(sum >> 7);
        return (sum & 0x4000) ? 0 : 255;
    }
}

// The colour terms that one chroma pair contributes to every pixel it covers.
struct ChromaTerms {
    int16_t blue, green, red;
};

inline ChromaTerms TermsOf(int16_t cb, int16_t cr) {
    const ChromaPair& b = kInvCbTable[ChromaIndex(cb)];
    const ChromaPair& r = kInvCrTable[ChromaIndex(cr)];
    return ChromaTerms{b.first, int16_t(uint16_t(b.second + r.first)), r.second};
}

// Pixel packing by bytes per pixel: 3 and 4 are blue, green, red (a fourth
// byte is left as the destination holds it), 2 is a 5-5-5 word, little-endian.
template <int kBytes, ColourOutput kColour>
inline void PutPixel(uint8_t* p, int16_t luma, const ChromaTerms& t) {
    const uint16_t y = uint16_t(uint16_t(luma) ^ 0x8000) >> 1;
    const uint8_t blue = Channel<kColour>(y, t.blue);
    const uint8_t green = Channel<kColour>(y, t.green);
    const uint8_t red = Channel<kColour>(y, t.red);
    if constexpr (kBytes == 2) {
        const uint16_t word = uint16_t((red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3));
        p[0] = uint8_t(word);
        p[1] = uint8_t(word >> 8);
    } else {
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
}

}  // namespace q32vex
