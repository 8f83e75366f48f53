// Band, tile and pass geometry, and the walk of units (one MCU row of one
// tile, or a piece of it) and bands over the padded image.
#pragma once
#include <cstdint>

#include "common/status.h"

namespace q32vex {

struct Rect16 {
    uint16_t x0, y0, x1, y1;
};

// What band geometry is chosen from: the image size and the tile and band
// requests of the host's record, and the format's MCU size, bits per pixel
// and widest pass (maxWidth).
struct BandConfig {
    uint16_t width;
    uint16_t height;
    uint16_t tileWidth;
    uint16_t tileHeight;
    uint16_t bandWidth;
    uint16_t bandHeight;
    int32_t bandMemory;
    uint16_t mcuWidth;
    uint16_t mcuHeight;
    uint16_t bitsPerPixel;
    uint16_t maxWidth;
};

// How a band lies against tiles.
enum class BandMode : int16_t {
    kPieceOfRow = 0,  // one MCU row high, narrower than a tile: a piece of one unit
    kTileWide = 1,    // one tile wide, whole MCU rows, lower than a tile
    kTileRow = 2,     // one tile row high, whole tiles, narrower than the image
    kFullWidth = 3,   // the full width, whole tile rows or the whole image
};

struct BandGeometry {
    // The image, its MCU height and the band size chosen for it: what the
    // walk goes by besides the sizes below.
    uint16_t width;
    uint16_t height;
    uint16_t mcuHeight;
    uint16_t bandWidth;
    uint16_t bandHeight;
    uint16_t paddedTileWidth;
    uint16_t paddedTileHeight;
    uint16_t paddedImageWidth;
    uint16_t paddedImageHeight;
    BandMode bandMode;
    uint16_t passWidth;
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

struct TileArrays;

// The geometry of *config: tile, band and pass sizes and the first unit and
// band. The tile and band fields of *config are rewritten as each size is
// settled, so after a failure they hold what was settled before it; on a
// failure *geometry may be partly written.
[[nodiscard]] Status ChooseBandGeometry(BandConfig* config, BandGeometry* geometry);
// Moves unitRect to the next unit of the walk.
int AdvanceUnit(BandGeometry& geometry);
// Moves bandRect to the band that holds the current unit.
void AdvanceBand(BandGeometry& geometry);
// Sum of the byte counts of the tiles stored back to back after the one under
// the cursors, looking at no more than `tilesLeft` tiles from it: the input
// reader's read-ahead.
uint32_t TileRunBytes(const TileArrays& tiles, uint16_t tilesLeft);

}  // namespace q32vex
