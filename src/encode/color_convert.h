// Host pixels of one MCU to level-shifted sample blocks (128 x (s - 128)),
// with the YCbCr transform and chroma averaging folded into table lookups.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "common/format.h"

namespace q32vex {

// Per channel (blue, green, red) and value: Y at scale 128, Cb and Cr at
// scale 64, and a zero.
struct ColorContribution {
    int16_t y, cb, cr, zero;
};
extern const ColorContribution kForwardColor[3][256];

// The converters of the seven samplings (McuConverter). The three-component
// ones take 2, 3 or 4 bytes per pixel; the others have one pixel size.
void ConvertH2V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertH2V2(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertH1V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertH4V1(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertGrey(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertCmykH2V2(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
void ConvertCmyk(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);

// Copies the in-image part (width x height pixels) of an MCU of `format` into
// `edge` and repeats the last column and row to the MCU's edges; an MCU
// wholly outside is filled with 128s.
void FillEdgeMcu(const FormatInfo& format, uint8_t* const* rows, uint16_t width, uint16_t height,
                 uint8_t (*edge)[kEdgeRowBytes]);

}  // namespace q32vex
