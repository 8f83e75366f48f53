// MCU output routines: level restore, replication of subsampled chroma,
// YCbCr to blue-green-red, packing into the host's pixel format.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "common/format.h"

namespace q32vex {

struct ChromaPair {
    int16_t first, second;
};
extern const ChromaPair kInvCbTable[1024];  // blue term, green term
extern const ChromaPair kInvCrTable[1024];  // green term, red term

// The output routines of the seven samplings (McuOutputRoutine). The
// three-component ones write 2, 3 or 4 bytes per pixel; the others have one
// pixel size.
void OutputH2V1(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH2V2(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH1V1(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputGrey(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputFourH2V2(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputFour(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH4V1(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);

// The three-component routines with every channel clamped to 0..255 instead
// of wrapped (see ColourOutput).
void OutputH2V1Saturating(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH2V2Saturating(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH1V1Saturating(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);
void OutputH4V1Saturating(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);

// The routines by sampling index, of each colour output; a kernel table
// names one of the two as its scalar routines.
extern const McuOutputRoutine kOutputRoutines[kSamplingCount];
extern const McuOutputRoutine kSaturatingOutputRoutines[kSamplingCount];

}  // namespace q32vex
