// Host pixels of one MCU to level-shifted sample blocks (128 x (s - 128)),
// with the YCbCr transform and chroma averaging folded into table lookups.
#pragma once
#include <cstdint>

#include "encode/engine_params.h"

namespace q32vex {

// Per channel (blue, green, red) and value: Y at scale 128, Cb and Cr at
// scale 64, and a zero.
struct ColorContribution {
    int16_t y, cb, cr, zero;
};
extern const ColorContribution kForwardColor[3][256];

void ConvertH2V1(uint8_t* const* rows);
void ConvertH2V2(uint8_t* const* rows);
void ConvertH1V1(uint8_t* const* rows);
void ConvertH4V1(uint8_t* const* rows);
void ConvertGrey(uint8_t* const* rows);
void ConvertCmykH2V2(uint8_t* const* rows);
void ConvertCmyk(uint8_t* const* rows);

// Copies the in-image part of an MCU into edgeRows and repeats the last column
// and row to the MCU's edges; an MCU wholly outside is filled with 128s.
void FillEdgeMcu(uint8_t* const* rows, uint16_t width, uint16_t height);

}  // namespace q32vex
