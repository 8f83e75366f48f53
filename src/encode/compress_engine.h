// Compression engine setup and the MCU driver: one pass of MCUs from host
// rows through conversion, DCT, quantisation and Huffman coding.
#pragma once
#include <cstdint>

#include "encode/engine_params.h"
#include "interface/status.h"

namespace q32vex {

[[nodiscard]] Status SetupCompressionEngine(const EngineParams* params);
[[nodiscard]] Status StartSegment();
[[nodiscard]] Status EncodeMcuRow(uint16_t columns, uint16_t rows, uint8_t* const* rowPointers);

}  // namespace q32vex
