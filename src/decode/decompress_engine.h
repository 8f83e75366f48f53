// Decompression engine setup and the MCU driver: one pass of MCUs decoded,
// inverse-transformed and written into the host's rows, clipped to a window.
#pragma once
#include <cstdint>

#include "band/band_geometry.h"
#include "common/derived_tables.h"
#include "common/engine_params.h"
#include "common/format.h"
#include "common/status.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"

namespace q32vex {

// The parts of a codec instance the decompression engine works on.
struct DecoderParts {
    EngineState& engine;
    FormatInfo& format;  // written by the setup's format matching
    DerivedTableCache& tables;
    BitReader& bits;
    InputBuffer& in;
};

struct ProgressiveState;

[[nodiscard]] Status SetupDecodeEngine(const DecoderParts& parts, const EngineParams* params);
// The part of the setup that makes pixels from coefficients (format, dequantisation,
// inverse DCT and output routine), for coefficients decoded elsewhere.
[[nodiscard]] Status SetupDecodeOutput(const DecoderParts& parts, const EngineParams* params);
[[nodiscard]] Status StartDecodeSegment(const DecoderParts& parts);
// window: pass-relative inclusive rectangle; rows: one pointer per window row,
// addressing the host's pixel at window column x0.
[[nodiscard]] Status DecodeMcuRow(const DecoderParts& parts, const Rect16* window, uint8_t* const* rows);
// DecodeMcuRow for a pass whose coefficients are in a progressive frame's
// store: MCUs mcuX.. of MCU row mcuY.
[[nodiscard]] Status OutputStoredMcuRow(const DecoderParts& parts, const ProgressiveState& store, uint32_t mcuX,
                                        uint32_t mcuY, const Rect16* window, uint8_t* const* rows);

}  // namespace q32vex
