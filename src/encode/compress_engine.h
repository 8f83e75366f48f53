// Compression engine setup and the MCU driver: one pass of MCUs from host
// rows through conversion, DCT, quantisation and Huffman coding.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/engine_params.h"
#include "common/format.h"
#include "common/status.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"

namespace q32vex {

// The parts of a codec instance the compression engine works on.
struct EncoderParts {
    EngineState& engine;
    FormatInfo& format;  // written by the setup's format matching
    DerivedTableCache& tables;
    BitWriter& bits;
    StreamBuffer& out;
};

[[nodiscard]] Status SetupCompressionEngine(const EncoderParts& parts, const EngineParams* params);
[[nodiscard]] Status StartSegment(const EncoderParts& parts);
[[nodiscard]] Status EncodeMcuRow(const EncoderParts& parts, uint16_t columns, uint16_t rows,
                                  uint8_t* const* rowPointers);

}  // namespace q32vex
