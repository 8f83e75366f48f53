// Reads the TIFF-JPEG layout this library writes: the fixed header, one
// directory checked entry by entry against the writer's template
// (tiff_directory.cpp), then the out-of-line values, visited in ascending
// file order so the input mostly moves forward (tiff_values.cpp), and last
// the Huffman tables of components 2 and 3 shared out onto the two slots
// (tiff_table_sharing.cpp).
#include "container/tiff_reader.h"

#include "common/tile_arrays.h"
#include "container/record_sort.h"
#include "container/tiff_reader_state.h"

namespace q32vex {
namespace tiff {
namespace {

Status ReadTiff(ReaderState& reader, AppVexParams* params) {
    Q_TRY(ReadDirectory(reader, params));
    const uint32_t tileCount = reader.counts[kTileOffsetsEntry];
    Q_TRY(CheckTileCount(params, tileCount));

    SortEntries(reader.deferredEntries, reader.deferredUsed, sizeof(DeferredEntry), CompareOffsets);

    // Arrays of an earlier header read are replaced, not leaked.
    FreeTileArrays(reader.tiles);
    Q_TRY(AllocTileArrays(reader.tiles, uint16_t(tileCount)));
    params->tileCount = uint16_t(tileCount);
    params->tileByteCounts = reader.tiles.byteCounts;
    params->tileOffsets = reader.tiles.offsets;

    // The list grows while it is walked: table-offset arrays add records.
    for (int i = 0; i < reader.deferredUsed; ++i) Q_TRY(VisitEntry(reader, params, i));

    if (reader.components > 2) {
        Q_TRY(ShareTables(reader, params, kDcTable));
        Q_TRY(ShareTables(reader, params, kAcTable));
    }
    return 0;
}

}  // namespace
}  // namespace tiff

Status ReadTiffHeader(InputBuffer& in, TableSlots& slots, TileArrays& tiles, AppVexParams* params) {
    tiff::ReaderState reader(in, slots, tiles);
    return tiff::ReadTiff(reader, params);
}

}  // namespace q32vex
