// The compression sequence: the open validates the record and prepares tables,
// geometry, engine and container header; each band call codes the units of one
// band (and the padding-only units after it) and names the next band.
#include "interface/compress_sequence.h"

#include "band/band_geometry.h"
#include "container/jpeg_writer.h"
#include "container/tiff_writer.h"
#include "encode/compress_engine.h"
#include "encode/stream_writer.h"
#include "common/bytes.h"
#include "common/format.h"
#include "common/record_enums.h"
#include "common/tables.h"
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
uint32_t PassRowBytes(const Codec& c) { return uint32_t(c.band.passWidth / 8) * c.seq.bitsPerPixel; }

EncoderParts Encoder(Codec& c) { return EncoderParts{c.engine, c.format, c.cache, c.bitWriter, c.out}; }

// Quantisation tables: scale each distinct host table once into the next
// free slot (zigzag order) and point every component at its slot.
Status PrepareQuantTables(Codec& c, uint16_t n) {
    AppVexParams& p = c.seq.params;
    EngineParams& e = c.seq.engineParams;
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
            ScaleQuantTable(tables[i], p.quality, c.slots.q[nextSlot]);
            slotOf[i] = nextSlot++;
        }
        const uint8_t* slot = c.slots.q[slotOf[number[i]]];
        p.qTables[i] = slot;
        e.qTables[i] = slot;
    }
    return 0;
}

// Huffman table definitions stay the host's (or the defaults); equal ones are
// merged onto the first component that holds them.
Status PrepareHuffmanTables(Codec& c, uint16_t n, int16_t kind, Status tooMany) {
    AppVexParams& p = c.seq.params;
    EngineParams& e = c.seq.engineParams;
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

}  // namespace

Status OpenCompression(Codec& c, AppVexParams* host) {
    SequencePart& s = c.seq;
    AppVexParams& p = s.params;
    EngineParams& e = s.engineParams;

    if (s.sequenceState != kIdle) return VEX_ERR_BUSY;
    ClearSequenceState(c);
    FreeTileArrays(c.tiles);
    CopyWords(&p, host, sizeof(AppVexParams));
    const HostIo io = BindHostIo(c.hostIo, p);
    if (!HasWrite(io)) return VEX_ERR_NO_CALLBACK;

    Q_TRY(GetMcuDims(p.colorSpace, &p.sampling, &s.mcuWidth, &s.mcuHeight));
    Q_TRY(BitsPerPixel(p.pixelModel, &p.pixelFormat, &s.bitsPerPixel));
    Q_TRY(MatchFormat(kCompress, p.pixelModel, &p.pixelFormat, p.colorSpace, &p.sampling, &c.format,
                      &s.supportValue));
    if (s.supportValue == 0) return VEX_ERR_UNSUPPORTED;
    s.maxWidth = uint16_t(s.supportValue * s.mcuWidth);

    Q_TRY(ChooseSequenceGeometry(s, &c.band));
    BandGeometry& b = c.band;
    b.unitRealColumns = Min16(p.width, b.unitWidth);
    b.unitRealRows = Min16(p.height, s.mcuHeight);
    b.bandRealWidth = Min16(p.width, b.bandSpanWidth);
    b.bandRealHeight = Min16(p.height, b.bandSpanHeight);

    // The engine counts the passes of a tile in 16 bits; a band so narrow
    // against so large a tile that one tile takes more passes than that
    // would end the tile's segment in the wrong place, so it is refused.
    if (b.passWidth == 0) return VEX_ERR_BAND;
    const uint32_t passesPerTile = uint32_t(b.paddedTileWidth / b.passWidth) *
                                   uint32_t(b.paddedTileHeight / s.mcuHeight);
    if (passesPerTile > 0xFFFF) return VEX_ERR_BAND;
    e = EngineParams{};
    e.mcusPerPass = uint16_t(b.passWidth / s.mcuWidth);
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
    Q_TRY(PrepareQuantTables(c, n));
    Q_TRY(PrepareHuffmanTables(c, n, kDcTable, VEX_ERR_DC_COUNT));
    Q_TRY(PrepareHuffmanTables(c, n, kAcTable, VEX_ERR_AC_COUNT));
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

    Q_TRY(SetupCompressionEngine(Encoder(c), &e));

    OpenStream(c.out, io);

    // The walk visits every tile of the padded image; the tile arrays and the
    // record's tileCount are 16 bits wide, so an image with more tiles than
    // that cannot be recorded and is refused rather than overrun the arrays.
    const uint32_t tilesAcross = (uint32_t(p.width) + p.tileWidth - 1) / p.tileWidth;
    const uint32_t tilesDown = (uint32_t(p.height) + p.tileHeight - 1) / p.tileHeight;
    if (tilesAcross * tilesDown > 0xFFFF) return VEX_ERR_TILE;
    p.tileCount = uint16_t(tilesAcross * tilesDown);
    Q_TRY(AllocTileArrays(c.tiles, p.tileCount));
    p.tileByteCounts = c.tiles.byteCounts;
    p.tileOffsets = c.tiles.offsets;

    switch (ContainerKind(p.containerKind)) {
        case ContainerKind::kRaw: break;
        case ContainerKind::kJfif: Q_TRY(WriteJpegHeader(c.out, &p)); break;
        case ContainerKind::kTiff: Q_TRY(WriteTiffHeader(c.out, &p, &c.tiffWriter)); break;
        default: return VEX_ERR_CONTAINER;
    }

    Q_TRY(StartSegment(Encoder(c)));
    // The first tile's bytes start here; the header is not part of them.
    c.out.segmentBytes = 0;
    if (c.tiles.offsetsCursor != nullptr) *c.tiles.offsetsCursor++ = StreamPosition(c.out);

    s.sequenceState = kCompressing;
    return 0;
}

namespace {

// Records the tile just finished and the start of the next one; the cursors
// never move past the arrays' ends.
void RecordTileEnd(Codec& c, bool nextTileStarts) {
    TileArrays& t = c.tiles;
    uint32_t* const offsetsEnd = t.offsets + t.count;
    uint32_t* const countsEnd = t.byteCounts + t.count;
    if (nextTileStarts && t.offsetsCursor != nullptr && t.offsetsCursor < offsetsEnd)
        *t.offsetsCursor++ = StreamPosition(c.out);
    if (t.byteCounts != nullptr && t.byteCountsCursor != nullptr && t.byteCountsCursor < countsEnd)
        *t.byteCountsCursor++ = c.out.segmentBytes;
}

// Trailer and the hand-over of the last bytes; the sequence is closed already.
Status FinishSequence(Codec& c, BandRect* next) {
    AppVexParams& p = c.seq.params;
    StreamBuffer& out = c.out;
    RecordTileEnd(c, false);
    const ContainerKind container = ContainerKind(p.containerKind);
    if (container == ContainerKind::kJfif) Q_TRY(WriteJpegTrailer(out));
    if (container == ContainerKind::kTiff) Q_TRY(WriteTiffTrailer(out, &p, c.tiffWriter));
    Q_TRY(HandOverLastBytes(out));
    next->x0 = 1;
    next->x1 = 0;
    return 0;
}

// Codes the current unit pass by pass from the row pointers in hand.
Status CodeUnit(Codec& c) {
    BandGeometry& b = c.band;
    const EncoderParts encoder = Encoder(c);
    const uint32_t rowStep = PassRowBytes(c);
    const uint32_t passes = uint32_t(b.unitRect.x1 - b.unitRect.x0 + 1) / b.passWidth;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        Q_TRY(EncodeMcuRow(encoder, Min16(b.unitRealColumns, b.passWidth), b.unitRealRows, b.rowPointers));
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
void TakeUnitRows(Codec& c, uint8_t** rows) {
    BandGeometry& b = c.band;
    const uint32_t firstRow = uint32_t(b.unitRect.y0 - b.bandRect.y0);
    const uint32_t offset =
        uint32_t(b.unitRect.x0 - b.bandRect.x0) / b.passWidth * PassRowBytes(c);
    for (uint16_t r = 0; r < b.unitRealRows; ++r) b.rowPointers[r] = rows[firstRow + r] + offset;
}

bool UnitInsideBand(const BandGeometry& b) {
    const Rect16& u = b.unitRect;
    const Rect16& band = b.bandRect;
    return u.x0 >= band.x0 && u.y0 >= band.y0 && u.x1 <= band.x1 && u.y1 <= band.y1;
}

}  // namespace

Status CompressBand(Codec& c, uint8_t** rows, BandRect* next) {
    SequencePart& s = c.seq;
    if (s.sequenceState != kCompressing) return VEX_ERR_NOT_COMPRESSING;
    const AppVexParams& p = s.params;
    BandGeometry& b = c.band;

    bool takeRows = true;
    for (;;) {
        if (takeRows) TakeUnitRows(c, rows);
        Status status = CodeUnit(c);
        if (status != 0) {
            s.sequenceState = kIdle;
            return status;
        }

        const int advance = AdvanceUnit(b);
        if (advance == kImageDone) {
            s.sequenceState = kIdle;
            return FinishSequence(c, next);
        }
        if (advance == kNewTile) {
            RecordTileEnd(c, true);
            c.out.segmentBytes = 0;
            status = StartSegment(Encoder(c));
            if (status != 0) {
                s.sequenceState = kIdle;
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
        if (UnitInsideBand(b)) {
            takeRows = true;
            continue;
        }

        AdvanceBand(b);
        b.bandRealWidth = RealSpan(b.bandRect.x0, b.bandRect.x1, p.width);
        b.bandRealHeight = RealSpan(b.bandRect.y0, b.bandRect.y1, p.height);
        next->x0 = b.bandRect.x0;
        next->y0 = b.bandRect.y0;
        next->x1 = uint16_t(b.bandRect.x0 + b.bandRealWidth - 1);
        next->y1 = uint16_t(b.bandRect.y0 + b.bandRealHeight - 1);
        return 0;
    }
}

}  // namespace q32vex
