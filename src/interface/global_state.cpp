// The global state record and the byte helpers every part uses.
#include "interface/global_state.h"

#include <cstring>

#include "platform/allocator.h"

namespace q32vex {

LibraryState g;

void CopyWords(void* destination, const void* source, uint32_t n) {
    auto* d = static_cast<uint8_t*>(destination);
    const auto* s = static_cast<const uint8_t*>(source);
    if (n & 1) {
        *d++ = *s++;
    }
    // The rest moves as 16-bit words; memcpy keeps it alignment-safe.
    std::memcpy(d, s, n & ~1u);
}

Status CompareBytes(const void* a, const void* b, uint32_t n) {
    if (n == 0) return 0;
    return std::memcmp(a, b, n) == 0 ? 0 : VEX_ERR_DIFFERENT;
}

void FreeTileArrays() {
    LibFree(g.tiles.byteCounts);
    LibFree(g.tiles.offsets);
    g.tiles.byteCounts = nullptr;
    g.tiles.offsets = nullptr;
    g.tiles.byteCountsCursor = nullptr;
    g.tiles.offsetsCursor = nullptr;
    g.tiles.count = 0;
}

Status AllocTileArrays(uint16_t count) {
    g.tiles.byteCounts = static_cast<uint32_t*>(LibAlloc(uint32_t(count) * 4));
    if (g.tiles.byteCounts == nullptr) return VEX_ERR_NO_MEMORY;
    g.tiles.offsets = static_cast<uint32_t*>(LibAlloc(uint32_t(count) * 4));
    if (g.tiles.offsets == nullptr) return VEX_ERR_NO_MEMORY;
    g.tiles.byteCountsCursor = g.tiles.byteCounts;
    g.tiles.offsetsCursor = g.tiles.offsets;
    g.tiles.count = count;
    return 0;
}

void ClearSequenceState() {
    // What outlives a sequence, on purpose: the table slots (a bare stream is
    // decoded with the tables the last header read left there), the tile
    // arrays (each open releases or replaces them itself) and the
    // derived-table cache (kept until AppVexDeallocate). Everything else - the
    // global copy and its derived values, band walk, stream buffers, engine,
    // bit writer and reader - belongs to one sequence only. An aborted
    // sequence, a failed open or an AppVexDeallocate in the middle leaves
    // these half-set; clearing them here keeps that from reaching the next
    // sequence.
    g.seq = SequencePart{};
    g.format = FormatInfo{};
    g.band = BandGeometry{};
    g.out = StreamBuffer{};
    g.in = InputBuffer{};
    g.engine = EngineState{};
    g.converter = McuConverter{};
    g.outputRoutine = McuOutputRoutine{};
    g.bitWriter = BitWriter{};
    g.bitReader = BitReader{};
    g.tiffWriter = TiffWriterState{};
}

}  // namespace q32vex
