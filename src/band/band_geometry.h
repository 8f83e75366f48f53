// Band, tile and pass geometry, and the walk of units (one MCU row of one
// tile, or a piece of it) and bands over the padded image.
#pragma once
#include <cstdint>

#include "interface/status.h"

namespace q32vex {

struct Rect16 {
    uint16_t x0, y0, x1, y1;
};

struct BandGeometry {
    uint16_t paddedTileWidth;
    uint16_t paddedTileHeight;
    uint16_t paddedImageWidth;
    uint16_t paddedImageHeight;
    int16_t bandMode;
    uint16_t passWidth;
    uint16_t passRowBytes;
    uint16_t unitWidth;
    uint16_t bandSpanWidth;
    uint16_t bandSpanHeight;
    Rect16 unitRect;
    Rect16 bandRect;
    // Compression only.
    uint16_t unitRealColumns;
    uint16_t unitRealRows;
    uint16_t bandRealWidth;
    uint16_t bandRealHeight;
    // Decompression of tiled input.
    uint16_t tilesLeft;
    uint8_t* rowPointers[32];
};

enum AdvanceResult : int { kSameTile = 0, kNewTile = 1, kImageDone = 2 };

// Reads the global copy, mcuWidth/mcuHeight, bitsPerPixel and maxWidth;
// rewrites the tile and band fields of the global copy.
[[nodiscard]] Status ChooseBandGeometry();
int AdvanceUnit();
void AdvanceBand();
// Sum of byte counts of the tiles stored back to back after the current one;
// written to the input reader's readAhead.
void MergeTileRun();  // counts from the current tile, band.tilesLeft tiles

}  // namespace q32vex
