// MCU output routines: level restore, replication of subsampled chroma,
// YCbCr to blue-green-red, packing into the host's pixel format.
#pragma once
#include <cstdint>

#include "encode/engine_params.h"

namespace q32vex {

struct ChromaPair {
    int16_t first, second;
};
extern const ChromaPair kInvCbTable[1024];  // blue term, green term
extern const ChromaPair kInvCrTable[1024];  // green term, red term

void OutputH2V1(uint8_t* const* rows);
void OutputH2V2(uint8_t* const* rows);
void OutputH1V1(uint8_t* const* rows);
void OutputGrey(uint8_t* const* rows);
void OutputFourH2V2(uint8_t* const* rows);
void OutputFour(uint8_t* const* rows);
void OutputH4V1(uint8_t* const* rows);

}  // namespace q32vex
