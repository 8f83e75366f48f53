// The compression sequence: the open validates the record and prepares tables,
// geometry, engine and container header; each band call codes the units of one
// band (and the padding-only units after it) and names the next band.
#include "band/band_geometry.h"
#include "container/jpeg_writer.h"
#include "container/tiff_writer.h"
#include "encode/compress_engine.h"
#include "encode/stream_writer.h"
#include "interface/format.h"
#include "interface/global_state.h"
#include "interface/tables.h"
#include "kernels/kernels.h"

namespace q32vex {
namespace {

uint16_t Min16(uint32_t a, uint32_t b) { return uint16_t(a < b ? a : b); }

// Columns (or rows) of [first, last] that lie inside an extent of `size`.
uint16_t RealSpan(uint16_t first, uint16_t last, uint16_t size) {
    if (first >= size) return 0;
    return last < size ? uint16_t(last - first + 1) : uint16_t(size - first);
}

// Bytes of one host row of a pass; kept in 32 bits here because a pass as
// wide as a 16384-pixel tile of 32-bit pixels fills 65536 bytes. The count
// comes from bitsPerPixel, the channels of the pixel model, also where the
// engine takes more bytes per pixel: four-channel pixels under the colour
// model count 24 bits, so each pass starts 3 bytes per pixel on from the one
// before while it reads 4-byte pixels, which keeps it inside rows of 4-byte
// pixels.
uint32_t PassRowBytes() { return uint32_t(g.band.passWidth / 8) * g.seq.bitsPerPixel; }

// Quantisation tables: scale each distinct host table once into the next
// free slot (zigzag order) and point every component at its slot.
Status PrepareQuantTables(uint16_t n) {
    AppVexParams& p = g.seq.params;
    EngineParams& e = g.seq.engineParams;
    const uint8_t* tables[4];
    for (int i = 0; i < 4; ++i) tables[i] = p.qTables[i];
    uint16_t count = n;
    uint16_t number[4] = {0, 0, 0, 0};
    Q_TRY(NumberTables(&count, kQuantTable, tables, number));
    uint16_t slotOf[4] = {0, 0, 0, 0};
    uint16_t nextSlot = 0;
    for (uint16_t i = 0; i < n; ++i) {
        if (number[i] == i) {
            if (p.quality == 0 || p.quality > 255) return VEX_ERR_QUALITY;
            ScaleQuantTable(tables[i], p.quality, g.slots.q[nextSlot]);
            slotOf[i] = nextSlot++;
        }
        const uint8_t* slot = g.slots.q[slotOf[number[i]]];
        p.qTables[i] = slot;
        e.qTables[i] = slot;
    }
    return 0;
}

// Huffman specifications stay the host's (or the defaults); equal ones are
// merged onto the first component that holds them.
Status PrepareHuffmanTables(uint16_t n, int16_t kind, Status tooMany) {
    AppVexParams& p = g.seq.params;
    EngineParams& e = g.seq.engineParams;
    const uint8_t* tables[4];
    for (int i = 0; i < 4; ++i) tables[i] = kind == kDcTable ? p.dcTables[i] : p.acTables[i];
    uint16_t count = n;
    uint16_t number[4] = {0, 0, 0, 0};
    Q_TRY(NumberTables(&count, kind, tables, number));
    if (count > 2) return tooMany;
    for (uint16_t i = 0; i < n; ++i) {
        const uint8_t* table = tables[number[i]];
        if (kind == kDcTable) {
            p.dcTables[i] = table;
            e.dcTables[i] = table;
        } else {
            p.acTables[i] = table;
            e.acTables[i] = table;
        }
    }
    return 0;
}

Status OpenSequence(AppVexParams* host) {
    AppVexParams& p = g.seq.params;
    EngineParams& e = g.seq.engineParams;

    if (g.seq.sequenceState != kIdle) return VEX_ERR_BUSY;
    ClearSequenceState();
    FreeTileArrays();
    CopyWords(&p, host, sizeof(AppVexParams));
    if (p.writeCallback == nullptr) return VEX_ERR_NO_CALLBACK;

    Q_TRY(GetMcuDims(p.colorSpace, &p.sampling, &g.seq.mcuWidth, &g.seq.mcuHeight));
    Q_TRY(BitsPerPixel(p.pixelModel, &p.pixelFormat, &g.seq.bitsPerPixel));
    Q_TRY(MatchFormat(kCompress, p.pixelModel, &p.pixelFormat, p.colorSpace, &p.sampling,
                      &g.seq.supportValue));
    if (g.seq.supportValue == 0) return VEX_ERR_UNSUPPORTED;
    g.seq.maxWidth = uint16_t(g.seq.supportValue * g.seq.mcuWidth);

    Q_TRY(ChooseBandGeometry());
    BandGeometry& b = g.band;
    b.unitRealColumns = Min16(p.width, b.unitWidth);
    b.unitRealRows = Min16(p.height, g.seq.mcuHeight);
    b.bandRealWidth = Min16(p.width, b.bandSpanWidth);
    b.bandRealHeight = Min16(p.height, b.bandSpanHeight);
    b.passRowBytes = uint16_t(PassRowBytes());

    // The engine counts the passes of a tile in 16 bits; a band so narrow
    // against so large a tile that one tile takes more passes than that
    // would end the tile's segment in the wrong place, so it is refused.
    if (b.passWidth == 0) return VEX_ERR_BAND;
    const uint32_t passesPerTile = uint32_t(b.paddedTileWidth / b.passWidth) *
                                   uint32_t(b.paddedTileHeight / g.seq.mcuHeight);
    if (passesPerTile > 0xFFFF) return VEX_ERR_BAND;
    e = EngineParams{};
    e.mcusPerPass = uint16_t(b.passWidth / g.seq.mcuWidth);
    e.passesPerTile = uint16_t(passesPerTile);
    e.restartInterval = p.restartInterval;
    e.pixelModel = p.pixelModel;
    e.pixelFormat = &p.pixelFormat;
    e.colorSpace = p.colorSpace;
    e.sampling = &p.sampling;
    e.kernels = &KernelsFor(ActiveSimdLevel());

    const DefaultTableSet& defaults = kDefaultTableSets[p.colorSpace];
    const uint16_t n = defaults.components;
    for (uint16_t i = 0; i < n; ++i) {
        if (p.qTables[i] == nullptr) p.qTables[i] = defaults.q[i];
        if (p.dcTables[i] == nullptr) p.dcTables[i] = defaults.dc[i];
        if (p.acTables[i] == nullptr) p.acTables[i] = defaults.ac[i];
    }
    Q_TRY(PrepareQuantTables(n));
    Q_TRY(PrepareHuffmanTables(n, kDcTable, VEX_ERR_DC_COUNT));
    Q_TRY(PrepareHuffmanTables(n, kAcTable, VEX_ERR_AC_COUNT));
    for (uint16_t i = n; i < 4; ++i) {
        p.sampling.h[i] = 0;
        p.sampling.v[i] = 0;
        p.pixelFormat.bits[i] = 0;
        p.pixelFormat.pad[i] = 0;
        p.qTables[i] = nullptr;
        p.dcTables[i] = nullptr;
        p.acTables[i] = nullptr;
        e.qTables[i] = nullptr;
        e.dcTables[i] = nullptr;
        e.acTables[i] = nullptr;
    }

    host->bandWidth = p.bandWidth;
    host->bandHeight = p.bandHeight;

    Q_TRY(SetupCompressionEngine(&e));

    g.out.hostBuffer = nullptr;
    g.out.writePos = nullptr;
    g.out.bufferBase = 0;
    g.out.bufferSize = 0;
    g.out.bytesFree = 0;

    // The walk visits every tile of the padded image; the tile arrays and the
    // record's tileCount are 16 bits wide, so an image with more tiles than
    // that cannot be recorded and is refused rather than overrun the arrays.
    const uint32_t tilesAcross = (uint32_t(p.width) + p.tileWidth - 1) / p.tileWidth;
    const uint32_t tilesDown = (uint32_t(p.height) + p.tileHeight - 1) / p.tileHeight;
    if (tilesAcross * tilesDown > 0xFFFF) return VEX_ERR_TILE;
    p.tileCount = uint16_t(tilesAcross * tilesDown);
    Q_TRY(AllocTileArrays(p.tileCount));
    p.tileByteCounts = g.tiles.byteCounts;
    p.tileOffsets = g.tiles.offsets;

    switch (p.containerKind) {
        case VEX_CONTAINER_RAW: break;
        case VEX_CONTAINER_JFIF: Q_TRY(WriteJpegHeader(&p)); break;
        case VEX_CONTAINER_TIFF: Q_TRY(WriteTiffHeader(&p)); break;
        default: return VEX_ERR_CONTAINER;
    }

    Q_TRY(StartSegment());
    // The first tile's bytes start here; the header is not part of them.
    g.out.segmentBytes = 0;
    if (g.tiles.offsetsCursor != nullptr) *g.tiles.offsetsCursor++ = StreamPosition();

    g.seq.sequenceState = kCompressing;
    return 0;
}

// Records the tile just finished and the start of the next one; the cursors
// never move past the arrays' ends.
void RecordTileEnd(bool nextTileStarts) {
    uint32_t* const offsetsEnd = g.tiles.offsets + g.tiles.count;
    uint32_t* const countsEnd = g.tiles.byteCounts + g.tiles.count;
    if (nextTileStarts && g.tiles.offsetsCursor != nullptr && g.tiles.offsetsCursor < offsetsEnd)
        *g.tiles.offsetsCursor++ = StreamPosition();
    if (g.tiles.byteCounts != nullptr && g.tiles.byteCountsCursor != nullptr &&
        g.tiles.byteCountsCursor < countsEnd)
        *g.tiles.byteCountsCursor++ = g.out.segmentBytes;
}

// Trailer and the hand-over of the last bytes; the sequence is closed already.
Status FinishSequence(BandRect* next) {
    AppVexParams& p = g.seq.params;
    RecordTileEnd(false);
    if (p.containerKind == VEX_CONTAINER_JFIF) Q_TRY(WriteJpegTrailer());
    if (p.containerKind == VEX_CONTAINER_TIFF) Q_TRY(WriteTiffTrailer(&p));
    g.out.bufferSize = uint16_t(g.out.bufferSize - g.out.bytesFree);
    Q_TRY(p.writeCallback(&g.out.hostBuffer, -1, &g.out.bufferSize, nullptr));
    next->x0 = 1;
    next->x1 = 0;
    return 0;
}

// Codes the current unit pass by pass from the row pointers in hand.
Status CodeUnit() {
    BandGeometry& b = g.band;
    const uint32_t rowStep = PassRowBytes();
    const uint32_t passes = uint32_t(b.unitRect.x1 - b.unitRect.x0 + 1) / b.passWidth;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        Q_TRY(EncodeMcuRow(Min16(b.unitRealColumns, b.passWidth), b.unitRealRows, b.rowPointers));
        if (b.unitRealColumns > b.passWidth) {
            b.unitRealColumns = uint16_t(b.unitRealColumns - b.passWidth);
            for (uint16_t r = 0; r < b.unitRealRows; ++r) b.rowPointers[r] += rowStep;
        } else {
            b.unitRealColumns = 0;
        }
    }
    return 0;
}

// Takes the current unit's rows from the host's band.
void TakeUnitRows(uint8_t** rows) {
    BandGeometry& b = g.band;
    const uint32_t firstRow = uint32_t(b.unitRect.y0 - b.bandRect.y0);
    const uint32_t offset =
        uint32_t(b.unitRect.x0 - b.bandRect.x0) / b.passWidth * PassRowBytes();
    for (uint16_t r = 0; r < b.unitRealRows; ++r) b.rowPointers[r] = rows[firstRow + r] + offset;
}

bool UnitInsideBand() {
    const Rect16& u = g.band.unitRect;
    const Rect16& band = g.band.bandRect;
    return u.x0 >= band.x0 && u.y0 >= band.y0 && u.x1 <= band.x1 && u.y1 <= band.y1;
}

Status CompressBand(uint8_t** rows, BandRect* next) {
    if (g.seq.sequenceState != kCompressing) return VEX_ERR_NOT_COMPRESSING;
    const AppVexParams& p = g.seq.params;
    BandGeometry& b = g.band;

    bool takeRows = true;
    for (;;) {
        if (takeRows) TakeUnitRows(rows);
        Status status = CodeUnit();
        if (status != 0) {
            g.seq.sequenceState = kIdle;
            return status;
        }

        const int advance = AdvanceUnit();
        if (advance == kImageDone) {
            g.seq.sequenceState = kIdle;
            return FinishSequence(next);
        }
        if (advance == kNewTile) {
            RecordTileEnd(true);
            g.out.segmentBytes = 0;
            status = StartSegment();
            if (status != 0) {
                g.seq.sequenceState = kIdle;
                return status;
            }
        }

        b.unitRealColumns = RealSpan(b.unitRect.x0, b.unitRect.x1, p.width);
        b.unitRealRows = RealSpan(b.unitRect.y0, b.unitRect.y1, p.height);
        if (b.unitRealColumns == 0 || b.unitRealRows == 0) {
            // Wholly in the padding: coded from edge fill, no host row read.
            takeRows = false;
            continue;
        }
        if (UnitInsideBand()) {
            takeRows = true;
            continue;
        }

        AdvanceBand();
        b.bandRealWidth = RealSpan(b.bandRect.x0, b.bandRect.x1, p.width);
        b.bandRealHeight = RealSpan(b.bandRect.y0, b.bandRect.y1, p.height);
        next->x0 = b.bandRect.x0;
        next->y0 = b.bandRect.y0;
        next->x1 = uint16_t(b.bandRect.x0 + b.bandRealWidth - 1);
        next->y1 = uint16_t(b.bandRect.y0 + b.bandRealHeight - 1);
        return 0;
    }
}

}  // namespace
}  // namespace q32vex

extern "C" {

VEXEXPORT int16_t VEXAPI AppVexCompressBuffInit(AppVexParams* params) {
    return q32vex::OpenSequence(params);
}

VEXEXPORT int16_t VEXAPI AppVexCompressBuff(uint8_t** rows, BandRect* next) {
    return q32vex::CompressBand(rows, next);
}

}  // extern "C"
