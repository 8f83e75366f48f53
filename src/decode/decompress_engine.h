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

// What a reader of damaged streams met, for the host to read after the
// decode. MCUs count in decoding order from 0.
struct DecodeReport {
    uint32_t damage;          // kDamage... bits
    uint32_t dataEndedAtMcu;  // kDamageDataEnded: the first MCU decoded past the data's end
    uint32_t corruptAtMcu;    // kDamageCorruptData: the first MCU with a code no table holds
    uint32_t restartFaults;   // restart points whose marker was missing or out of order
};

enum DecodeDamage : uint32_t {
    kDamageDataEnded = 1,
    kDamageCorruptData = 2,
    kDamageRestart = 4,
    kDamageNoEndMarker = 8,
};

// The parts of a codec instance the decompression engine works on. Without
// a report the engine reads as the legacy library does: whatever the data,
// it decodes bits, and zero bits once the data has stopped. With one it
// reads damaged streams as far as they go: MCUs past the data's end, or
// past a code no table holds, get zero coefficients (a flat grey), restart
// markers out of order resynchronise, and the report tells what happened.
struct DecoderParts {
    EngineState& engine;
    FormatInfo& format;  // written by the setup's format matching
    DerivedTableCache& tables;
    BitReader& bits;
    InputBuffer& in;
    DecodeReport* report;
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
// With a report, after the segment's last MCU: looks for the end of image
// behind the data, stepping over a restart marker and counting bytes that
// stand in front of it.
[[nodiscard]] Status CheckImageEnd(const DecoderParts& parts);
// DecodeMcuRow for a pass whose coefficients are in a progressive frame's
// store: MCUs mcuX.. of MCU row mcuY.
[[nodiscard]] Status OutputStoredMcuRow(const DecoderParts& parts, const ProgressiveState& store, uint32_t mcuX,
                                        uint32_t mcuY, const Rect16* window, uint8_t* const* rows);

}  // namespace q32vex
