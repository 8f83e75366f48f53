// Decompression engine setup and the MCU driver: one pass of MCUs decoded,
// inverse-transformed and written into the host's rows, clipped to a window.
#pragma once
#include <cstdint>

#include "band/band_geometry.h"
#include "encode/engine_params.h"
#include "interface/status.h"

namespace q32vex {

[[nodiscard]] Status SetupDecodeEngine(const EngineParams* params);
[[nodiscard]] Status StartDecodeSegment();
// window: pass-relative inclusive rectangle; rows: one pointer per window row,
// addressing the host's pixel at window column x0.
[[nodiscard]] Status DecodeMcuRow(const Rect16* window, uint8_t* const* rows);

}  // namespace q32vex
