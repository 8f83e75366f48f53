// A codec instance: everything one compression or decompression sequence
// works on, and what the library keeps between sequences, split into the
// parts each stage owns. Stages take the parts they use; only the sequences
// and the control operations below see the whole record. Only one sequence
// is open on an instance at a time, so the parts of both directions can live
// side by side.
#pragma once
#include <cstdint>

#include "band/band_geometry.h"
#include "container/tiff_writer.h"
#include "decode/decompress_engine.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"
#include "decode/progressive_decoder.h"
#include "common/derived_tables.h"
#include "common/engine_params.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"
#include "common/format.h"
#include "common/tables.h"
#include "common/tile_arrays.h"

namespace q32vex {

enum SequenceState : uint16_t { kIdle = 0, kCompressing = 1, kDecompressing = 2 };

// The modern face's choices, one flag per VEX_OPTION_ value.
struct CodecOptions {
    bool saturatingColour = false;  // VEX_OPTION_SATURATING_COLOUR
    bool progressive = false;       // VEX_OPTION_PROGRESSIVE
    bool extendedFrames = false;    // VEX_OPTION_EXTENDED_FRAMES
    bool rawComponents = false;     // VEX_OPTION_RAW_COMPONENTS
    // VEX_OPTION_PROGRESSIVE_BUDGET: the most a progressive frame may take.
    uint32_t progressiveBudgetMiB = kDefaultProgressiveBudgetMiB;
};

struct SequencePart {
    uint16_t sequenceState;
    AppVexParams params;  // the instance's copy of the host's record
    uint16_t mcuWidth;
    uint16_t mcuHeight;
    uint16_t bitsPerPixel;
    uint16_t supportValue;
    uint16_t maxWidth;
    EngineParams engineParams;  // filled by the opens, copied by the engines
};

// Zero is a freshly loaded library: no sequence open, nothing allocated.
struct Codec {
    SequencePart seq;
    FormatInfo format;
    BandGeometry band;
    TableSlots slots;
    TileArrays tiles;
    StreamBuffer out;
    InputBuffer in;
    DerivedTableCache cache;
    EngineState engine;
    BitWriter bitWriter;
    BitReader bitReader;
    TiffWriterState tiffWriter;
    // The functions of a host that drives this instance through the
    // VexCodec interface; all null for the legacy exports' instance.
    VexIo hostIo;
    // What a host on the VexCodec interface chose beyond the legacy
    // behaviour; all off for the legacy exports' instance, and kept across
    // sequences like the host functions.
    CodecOptions options;
    // The coefficient store of a progressive frame, from the open that
    // decodes its scans to the end of the sequence.
    ProgressiveState progressive;
    // What the last decode met in a damaged stream, on instances that read
    // them (VEX_OPTION_EXTENDED_FRAMES); cleared with the sequence's state.
    DecodeReport report;
    // What the components of the frame last met by a header read or an open
    // are (kLegacy when none was met), and, for a frame the sampling table
    // does not cover, how the open decodes it.
    FrameColour frameColour;
    FrameLayout layout;
};

// Clears everything one sequence builds for itself, so that an open starts
// from the state of a freshly loaded library whatever the host did before.
void ClearSequenceState(Codec& codec);

// Band geometry for the record's copy and the values derived from it (MCU
// size, bits per pixel, maxWidth); the tile and band sizes settled are
// written into the copy, also when a later check fails.
[[nodiscard]] Status ChooseSequenceGeometry(SequencePart& seq, BandGeometry* band);

// The control operations of the exports, on one instance.
// AppVexQuerySupport: the format checks of an open, on the instance's copy.
[[nodiscard]] Status QuerySupport(Codec& codec, int32_t direction, const AppVexParams* params);
// AppVexAbort: closes the open sequence, releasing nothing.
[[nodiscard]] Status AbortSequence(Codec& codec);
// AppVexDeallocate: releases the tile arrays and the derived-table cache.
[[nodiscard]] Status ReleaseCodecMemory(Codec& codec);

}  // namespace q32vex

struct VexCodec;
struct VexDecodeReport;

namespace q32vex {

// A new instance for a share of `parent`'s work (a strip of its picture):
// it has `parent`'s options, so that every strip comes out as the whole
// picture would, and nothing else of it. Null when memory runs out.
VexCodec* CreateHelperInstance(const VexCodec* parent);
// Folds what a strip's instance met into `into`'s decode report, the
// strip's MCUs counted from `firstMcu` of the whole picture, as if `into`
// had decoded the strip itself.
void AddStripReport(VexCodec* into, const VexDecodeReport& strip, uint32_t firstMcu);

}  // namespace q32vex
