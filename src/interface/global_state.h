// The library's single global state: one record, static and zero at load,
// split into the parts each stage owns. Only one sequence is open at a time,
// so the parts of both directions can live side by side.
#pragma once
#include <cstdint>

#include "band/band_geometry.h"
#include "container/tiff_writer.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"
#include "encode/color_convert.h"
#include "decode/color_output.h"
#include "encode/derived_tables.h"
#include "encode/engine_params.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"
#include "interface/format.h"
#include "interface/tables.h"

namespace q32vex {

enum SequenceState : uint16_t { kIdle = 0, kCompressing = 1, kDecompressing = 2 };

struct SequencePart {
    uint16_t sequenceState;
    AppVexParams params;  // the global copy of the host's record
    uint16_t mcuWidth;
    uint16_t mcuHeight;
    uint16_t bitsPerPixel;
    uint16_t supportValue;
    uint16_t maxWidth;
    EngineParams engineParams;  // filled by the opens, copied by the engines
};

struct TableSlots {
    uint8_t q[4][kQuantTableBytes];
    uint8_t dc[2][kDcSpecBytes];
    uint8_t ac[2][kAcSpecBytes];
};

struct TileArrays {
    uint32_t* byteCounts;
    uint32_t* offsets;
    uint32_t* byteCountsCursor;
    uint32_t* offsetsCursor;
    uint16_t count;  // entries allocated in each array
};

struct LibraryState {
    SequencePart seq;
    FormatInfo format;
    BandGeometry band;
    TableSlots slots;
    TileArrays tiles;
    StreamBuffer out;
    InputBuffer in;
    TableCache cache[3];
    EngineState engine;
    McuConverter converter;
    McuOutputRoutine outputRoutine;
    BitWriter bitWriter;
    BitReader bitReader;
    TiffWriterState tiffWriter;
};

extern LibraryState g;

// Byte helpers shared by every part.
void CopyWords(void* destination, const void* source, uint32_t n);
[[nodiscard]] Status CompareBytes(const void* a, const void* b, uint32_t n);
void FreeTileArrays();
[[nodiscard]] Status AllocTileArrays(uint16_t count);
// Clears everything one sequence builds for itself, so that an open starts
// from the state of a freshly loaded library whatever the host did before.
void ClearSequenceState();

}  // namespace q32vex
