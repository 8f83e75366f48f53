// The tile arrays: allocated per sequence, released by the next open or by
// AppVexDeallocate.
#include "common/tile_arrays.h"

#include "platform/allocator.h"

namespace q32vex {

void FreeTileArrays(TileArrays& tiles) {
    LibFree(tiles.byteCounts);
    LibFree(tiles.offsets);
    tiles.byteCounts = nullptr;
    tiles.offsets = nullptr;
    tiles.byteCountsCursor = nullptr;
    tiles.offsetsCursor = nullptr;
    tiles.count = 0;
}

Status AllocTileArrays(TileArrays& tiles, uint16_t count) {
    tiles.byteCounts = static_cast<uint32_t*>(LibAlloc(uint32_t(count) * 4));
    if (tiles.byteCounts == nullptr) return VEX_ERR_NO_MEMORY;
    tiles.offsets = static_cast<uint32_t*>(LibAlloc(uint32_t(count) * 4));
    if (tiles.offsets == nullptr) return VEX_ERR_NO_MEMORY;
    tiles.byteCountsCursor = tiles.byteCounts;
    tiles.offsetsCursor = tiles.offsets;
    tiles.count = count;
    return 0;
}

}  // namespace q32vex
