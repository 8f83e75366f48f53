// The record both sequence opens hand to the engine setups, and the engine
// storage the two directions share (one sequence is open at a time).
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "common/status.h"
#include "q32vex.h"

namespace q32vex {

struct KernelTable;

// What a decoded frame's components are, once decoded: the colour transform
// the frame header and its APP segments name. kLegacy marks a frame that the
// fixed output routines of its sampling index serve.
enum class FrameColour : uint8_t { kLegacy, kGrey, kYCbCr, kRgb, kCmyk, kYcck };

// The host pixel layouts a frame of any sampling is written in.
enum class PixelLayout : uint8_t { kGrey8, kBgr555, kBgr24, kBgrx32, kFour8 };

// A frame outside the fixed sampling table, or with a colour transform the
// fixed routines do not make: each component's blocks per MCU (a lone
// component always 1 x 1), the largest factors, which are the MCU size in
// blocks, and what its pixels become.
struct FrameLayout {
    FrameColour colour;
    PixelLayout pixels;
    bool saturating;  // channels clamped (ColourOutput::kSaturating) or wrapped
    uint8_t componentCount;
    uint8_t h[4];
    uint8_t v[4];
    uint8_t hMax;
    uint8_t vMax;
};

struct EngineParams {
    uint16_t mcusPerPass;
    uint16_t passesPerTile;
    uint16_t restartInterval;
    int16_t pixelModel;
    const PixelFormatDesc* pixelFormat;
    int16_t colorSpace;
    const SamplingDesc* sampling;
    const uint8_t* qTables[4];
    const uint8_t* dcTables[4];
    const uint8_t* acTables[4];
    const KernelTable* kernels;  // chosen by the open for this processor
    // Decoding only: null for the frames the sampling table covers; else the
    // frame the generic output routine makes pixels of.
    const FrameLayout* layout;
};

constexpr int kEdgeRowBytes = 128;  // one MCU row: up to 32 pixels x 4 bytes
constexpr int kMaxMcuRows = 32;     // an MCU is at most 4 blocks high

// Bits the one-step AC table looks at: a code and its magnitude bits that
// fit decode in one lookup.
constexpr int kFastAcBits = 10;
constexpr int kFastAcEntries = 1 << kFastAcBits;
// The one-step DC table looks at as many bits as the DC lookup's first level.
constexpr int kFastDcBits = 11;
constexpr int kFastDcEntries = 1 << kFastDcBits;

// A component's dequantisation as the inverse DCT kernels take it, in natural
// order: the Q15 multiplier and 2^shift as a 16-bit factor (the shift is a
// multiplication by it, with the same 16-bit wrap-around).
struct alignas(16) DequantTable {
    int16_t multiplier[64];
    int16_t scale[64];
};

// A component's Huffman codes for the block coder: (code << 5) | length per
// DC category and per AC symbol, packed once per sequence.
struct HuffPacked {
    uint32_t dc[16];
    uint32_t ac[256];
};

// A component's tables for the MCU decoder: the two-level Huffman tables and
// the one-step tables BuildFastAcTable and BuildFastDcTable make from them.
struct McuHuffTables {
    const uint16_t* dc;
    const uint16_t* ac;
    const int32_t* fastAc;
    const int32_t* fastDc;
};

struct BitWriter;
struct StreamBuffer;
struct BitReader;
struct InputBuffer;

// The entropy coders of a whole MCU, as the engines call them: block b of
// blocks belongs to component[b] (see EncodeMcuBlocks and DecodeMcuBlocks).
// The encoder writes through the bit writer into the stream writer's buffers,
// the decoder reads through the bit reader from the input reader's.
using McuEncoderFn = Status (*)(BitWriter& bits, StreamBuffer& out, const int16_t (*blocks)[64], int count,
                                const uint8_t* component, int16_t* predictors, const HuffPacked* tables);
using McuDecoderFn = Status (*)(BitReader& bits, InputBuffer& in, int16_t (*blocks)[64], int count,
                                const uint8_t* component, int16_t* predictors, const McuHuffTables* tables,
                                uint32_t* dcOnly);

// A colour converter of one MCU: the host's rows of pixels of bytesPerPixel
// bytes to sample blocks. An output routine: sample blocks to the host's rows.
using McuConverter = void (*)(uint8_t* const* rows, int16_t (*blocks)[64], int bytesPerPixel);
using McuOutputRoutine = void (*)(uint8_t* const* rows, const int16_t (*blocks)[64], int bytesPerPixel);

// What the colour output does with a channel outside 0..255, which strong
// colours next to bright or dark ones reach: kWrapping is the legacy
// library's 16-bit arithmetic, exact for channel values -128..383 and wrapped
// beyond (a saturated red next to white can come out black), kept byte for
// byte by the legacy exports; kSaturating clamps every channel, for hosts
// that opt in on their instance.
enum class ColourOutput : uint8_t { kWrapping, kSaturating };

// The kernels of one instruction set (kernels/kernels.h has the tables and
// the lookup by level), each with its scalar twin's signature and exactly
// its results. The opens hand one table to the engines, which copy its
// pointers at setup, so no per-block code ever looks at the level. Each
// level has a table per ColourOutput, which differ in the output routines
// only.
struct KernelTable {
    const char* name;
    void (*forwardDct)(int16_t* block, const EncQuantTable* table);
    void (*forwardDctPair)(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);
    // Natural-order coefficients with the component's DequantTable.
    void (*inverseDct)(int16_t* block, const DequantTable* table);
    void (*inverseDctPair)(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
    McuEncoderFn encodeMcuBlocks;
    McuDecoderFn decodeMcuBlocks;
    // The vector routine of a sampling index and pixel size, or null where
    // the engine's scalar one is to be used.
    McuConverter (*converter)(uint16_t samplingIndex, uint16_t bytesPerPixel);
    McuOutputRoutine (*outputRoutine)(uint16_t samplingIndex, uint16_t bytesPerPixel);
    // The engine's scalar output routines by sampling index (kSamplingCount
    // of them), of the table's colour output.
    const McuOutputRoutine* scalarOutputRoutines;
};

// Coefficient blocks in the engines' buffers: as many as the largest MCU has.
constexpr int kBufferBlocks = 10;

// MCUs the engines take at a time, a group: as many as the block buffers hold,
// in an even number of blocks so that the transform takes them two at a time
// (ten of grey, two of 4:4:4 or 4:2:2, else one).
constexpr int McusPerGroup(int blocksPerMcu) {
    const int fit = (kBufferBlocks / blocksPerMcu) & (blocksPerMcu % 2 == 1 ? ~1 : ~0);
    return fit > 1 ? fit : 1;
}
static_assert(McusPerGroup(1) == 10 && McusPerGroup(3) == 2 && McusPerGroup(4) == 2 && McusPerGroup(6) == 1 &&
                  McusPerGroup(10) == 1,
              "groups of grey, 4:4:4, 4:2:2, 4:2:0 and the largest MCU");

struct alignas(32) EngineState {
    int16_t blockBuffers[kBufferBlocks][64];
    uint8_t edgeRows[kMaxMcuRows][kEdgeRowBytes];
    uint8_t* edgeRowPointers[kMaxMcuRows];
    EngineParams params;
    int16_t dcPredictor[4];
    uint16_t restartCountdown;
    uint16_t restartNumber;
    // Passes left in the segment: the encoder's pass that ends a tile
    // flushes it; the reader of damaged streams processes no restart after
    // the segment's last MCU.
    uint16_t passesLeft;
    uint32_t mcusDecoded;  // decoding: MCUs of the passes before, in decoding order
    // 0xFF fill bytes may stand in front of a restart marker's code (ITU-T
    // T.81 B.1.1.2) and are stepped over; off, as in the legacy decoder, the
    // first of them is taken for the code. Set by the decompression open.
    bool fillBeforeRestart;
    // The engines' per-block kernels, chosen at their setup; the inverse DCT
    // takes natural-order coefficients and the component's DequantTable.
    void (*inverseDct)(int16_t* block, const DequantTable* table);
    void (*forwardDct)(int16_t* block, const EncQuantTable* table);
    void (*inverseDctPair)(int16_t* a, const DequantTable* ta, int16_t* b, const DequantTable* tb);
    void (*forwardDctPair)(int16_t* a, const EncQuantTable* ta, int16_t* b, const EncQuantTable* tb);
    McuEncoderFn encodeMcuBlocks;
    McuDecoderFn decodeMcuBlocks;
    McuConverter converter;          // of the sampling, chosen at encoder setup
    McuOutputRoutine outputRoutine;  // of the sampling, chosen at decoder setup
    FrameLayout layout;              // colour kLegacy: outputRoutine serves
    DequantTable dequant[4];  // per component, built at decoder setup
    int32_t fastAc[4][kFastAcEntries];  // per component, built at decoder setup
    int32_t fastDc[4][kFastDcEntries];  // likewise
    HuffPacked huffPacked[4];           // per component, built at encoder setup
};

void ResetDcPredictors(EngineState& engine);

}  // namespace q32vex
