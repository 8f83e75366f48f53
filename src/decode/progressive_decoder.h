// Progressive JPEG (ITU-T T.81 Annex G: SOF2, 8-bit samples, Huffman coding):
// every scan of the frame decoded into one coefficient store, from which the
// engine then makes MCUs exactly as the sequential decoder makes them from
// its own coefficients.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/status.h"
#include "container/jpeg_parser.h"

namespace q32vex {

struct InputBuffer;
struct TableSlots;

// Largest coefficient store (and stream copy) a progressive decode takes
// unless the host sets another budget: 1 GiB, about a 16000 x 16000 4:2:0
// picture. The host raises or lowers it per instance.
constexpr uint32_t kDefaultProgressiveBudgetMiB = 1024;
// The allocator counts 32-bit sizes; 4095 MiB leaves room for its header.
constexpr uint32_t kMaxProgressiveBudgetMiB = 4095;

// The frame as the coefficient store lays it out, and the store itself: for
// each component, blocksAcross x blocksDown blocks of 64 int16 coefficients
// in natural (row-major) order, covering every MCU of the frame.
struct ProgressiveState {
    uint16_t componentCount;
    uint16_t mcusAcross;
    uint16_t mcusDown;
    uint8_t h[4];
    uint8_t v[4];
    uint32_t blocksAcross[4];
    uint32_t blocksDown[4];
    // The blocks of the component's own picture (T.81 A.1.1), which a scan of
    // that component alone codes; at most blocksAcross x blocksDown.
    uint32_t pictureBlocksAcross[4];
    uint32_t pictureBlocksDown[4];
    uint64_t firstBlock[4];  // the component's first block in the store
    // What the frame needs for its coefficients, in bytes, from the last
    // header read or open that met a progressive frame.
    uint64_t bytesNeeded;
    int16_t* coefficients;  // LibAlloc'd, or null
    uint8_t* stream;        // LibAlloc'd copy of the scans, freed after decoding
    size_t streamSize;      // its bytes
    // Each component's quantisation table (zigzag order) as it stood at the
    // component's first scan.
    uint8_t quant[4][64];
};

// Lays the frame of `params` and `frame` out and fills in bytesNeeded;
// VEX_ERR_SAMPLING for factors outside 1..4.
[[nodiscard]] Status PlanProgressiveFrame(ProgressiveState& state, const JpegFrame& frame,
                                          const AppVexParams& params);

// For a stored sequential frame whose header gives no height: copies the
// rest of the stream (the input stands at the first scan's data) into the
// state, within `budgetBytes`, and returns the height of the DNL segment that
// follows the first scan; VEX_ERR_CONTAINER (and nothing kept) when none does.
// The copy is what DecodeProgressiveScans then decodes. Reading the stream
// first is the one way to learn the height before the bands are laid out;
// it costs no more memory than the decode itself, within the same budget.
[[nodiscard]] Status ReadHeightFromDnl(ProgressiveState& state, InputBuffer& in, uint64_t budgetBytes,
                                       uint16_t* height);

// Reads the rest of the stream (the input stands behind the first SOS
// marker, or at the first scan's data for a stored sequential frame), unless
// ReadHeightFromDnl has, and decodes every scan into the store. Refuses with
// VEX_ERR_IMAGE_SIZE before allocating the store (or reading the stream) when
// store and stream would exceed `budgetBytes`. `slots` and `frame` hold the
// tables the header defined.
[[nodiscard]] Status DecodeProgressiveScans(ProgressiveState& state, const JpegFrame& frame,
                                            const AppVexParams& params, const TableSlots& slots,
                                            InputBuffer& in, uint64_t budgetBytes);

// The blocks of MCU (mcuX, mcuY) in the engine's order: component by
// component, each component's blocks in raster order. Bit b of *dcOnly is set
// where block b has no AC coefficient. MCUs outside the frame come out as
// zero blocks.
void LoadProgressiveMcu(const ProgressiveState& state, uint32_t mcuX, uint32_t mcuY, int16_t (*blocks)[64],
                        uint32_t* dcOnly);

void ReleaseProgressive(ProgressiveState& state);

}  // namespace q32vex
