// The decompression sequence: header read, open, and band-by-band decoding
// clipped to the host's window. Bands that miss the window are decoded and
// dropped inside one call, so the host only ever sees rows it asked for.
#include "interface/decompress_sequence.h"

#include "band/band_geometry.h"
#include "container/jpeg_parser.h"
#include "container/tiff_reader.h"
#include "decode/any_sampling_output.h"
#include "decode/decompress_engine.h"
#include "decode/input_reader.h"
#include "decode/progressive_decoder.h"
#include "common/bytes.h"
#include "common/format.h"
#include "common/tables.h"
#include "kernels/kernels.h"

namespace q32vex {
namespace {

constexpr uint32_t kUntiledReadAhead = 65535;
constexpr uint32_t kLargestRequest = 65535;

// Header readers store what they read into the library's slots; the third
// and fourth Huffman entries keep the host's pointers.
void PointTablesAtSlots(const TableSlots& slots, AppVexParams* params) {
    for (int i = 0; i < 4; ++i) params->qTables[i] = slots.q[i];
    for (int i = 0; i < 2; ++i) {
        params->dcTables[i] = slots.dc[i];
        params->acTables[i] = slots.ac[i];
    }
}

// Frames beyond the legacy reader are for instances with the option; a lone
// component's factors mean nothing there (its scan is not interleaved, one
// block per MCU), so the record reports them as 1 x 1 and the frame decodes
// as the grey frame it is. Factors outside 1..4 stay, to be refused.
void DescribeExtendedFrame(const Codec& c, AppVexParams* params) {
    if (!c.options.extendedFrames || params->containerKind != VEX_CONTAINER_JFIF || params->colorSpace != 1) return;
    const uint16_t h = params->sampling.h[0], v = params->sampling.v[0];
    if (h < 1 || h > 4 || v < 1 || v > 4) return;
    params->sampling.h[0] = 1;
    params->sampling.v[0] = 1;
}

// The frame the header reader met; progressive ones only for instances
// that read them (the legacy behaviour refuses them in the reader).
Status ReadHeader(Codec& c, AppVexParams* params, bool rawAllowed, JpegFrame* frame) {
    switch (params->containerKind) {
        case VEX_CONTAINER_RAW:
            // The host's record describes the data.
            frame->colour = PlainColour(params->colorSpace);
            return rawAllowed ? 0 : VEX_ERR_CONTAINER;
        case VEX_CONTAINER_JFIF: {
            Q_TRY(ParseJpegHeader(c.in, c.slots, params, frame,
                                  JpegFrameKinds{c.options.progressive, c.options.extendedFrames}));
            c.frameColour = frame->colour;
            DescribeExtendedFrame(c, params);
            return 0;
        }
        case VEX_CONTAINER_TIFF:
            Q_TRY(ReadTiffHeader(c.in, c.slots, c.tiles, params));
            frame->colour = PlainColour(params->colorSpace);
            c.frameColour = frame->colour;
            return 0;
        default:
            return VEX_ERR_CONTAINER;
    }
}

bool TilesPresent(const TileArrays& tiles) { return tiles.byteCounts != nullptr && tiles.offsets != nullptr; }

// Instances that read beyond the legacy library read damaged streams as far
// as they go and say so in their report; the legacy behaviour has none.
DecoderParts Decoder(Codec& c) {
    return DecoderParts{c.engine, c.format, c.cache, c.bitReader, c.in, c.options.extendedFrames ? &c.report : nullptr};
}

// Moves the input to the start of the tile under the cursors; the input
// reader reads on for a short step forward and asks the host for the
// position otherwise.
//
// The request that reaches the tile is sized here, in one place: it asks for
// the bytes stepped over on the way, the tile's own bytes and those of the
// tiles stored right after it. Sized from the following tiles alone, as the
// read-ahead counts them, it would ask for nothing whenever no tile follows
// contiguously, and a host that delivers exactly what it is asked for would
// hand over nothing and fail the read; without the step, it would fail
// whenever the step is longer than the tile.
Status SeekToTile(Codec& c) {
    InputBuffer& in = c.in;
    // A position the host's signed argument cannot name (-1 would mean "go
    // on from here") is no tile of this file.
    const uint32_t offset = *c.tiles.offsetsCursor;
    if (offset > uint32_t(INT32_MAX)) return VEX_ERR_CONTAINER;
    const uint64_t wanted = uint64_t(StepBeforeTarget(in, offset)) + *c.tiles.byteCountsCursor + in.readAhead;
    in.readHint = wanted == 0 ? kLargestRequest : uint32_t(wanted < kLargestRequest ? wanted : kLargestRequest);
    uint16_t none = 0;
    int16_t mode = kInputCopy;
    return ReadInput(in, nullptr, int32_t(offset), &none, &mode);
}

// Makes the tile under the cursors the current segment and moves the cursors
// past it.
void EnterTile(Codec& c) {
    c.in.segmentLimit = *c.tiles.byteCountsCursor;
    ++c.tiles.byteCountsCursor;
    ++c.tiles.offsetsCursor;
    --c.band.tilesLeft;
}

// The first segment the open sets up: the first tile, or the whole stream.
Status PrepareSegments(Codec& c) {
    AppVexParams& p = c.seq.params;
    if (!TilesPresent(c.tiles)) {
        c.in.segmentLimit = kUntiledSegmentLimit;
        c.in.readAhead = kUntiledReadAhead;
        return 0;
    }
    // The tile count was checked against this geometry by the TIFF reader;
    // the arrays are never walked past their end.
    const uint32_t across = p.tileWidth == 0 ? 0 : (uint32_t(p.width) + p.tileWidth - 1) / p.tileWidth;
    const uint32_t down = p.tileHeight == 0 ? 0 : (uint32_t(p.height) + p.tileHeight - 1) / p.tileHeight;
    const uint32_t tiles = across * down;
    if (tiles == 0 || tiles > c.tiles.count) return VEX_ERR_CONTAINER;
    c.band.tilesLeft = uint16_t(tiles);
    c.in.readAhead = TileRunBytes(c.tiles, c.band.tilesLeft);
    // The header reader leaves the input where its last value ended, which in
    // this library's layout is the first tile; a file laid out otherwise gets
    // a seek.
    if (InputPosition(c.in) != *c.tiles.offsetsCursor) Q_TRY(SeekToTile(c));
    EnterTile(c);
    return 0;
}

// Checks the tables the header gave each component and points equal tables
// at one slot, for the sequence and for the engine alike.
Status NumberComponentTables(SequencePart& s, uint16_t components) {
    AppVexParams& p = s.params;
    EngineParams& e = s.engineParams;
    // Working copies: the record is packed, its pointers are read and written
    // one by one.
    const uint8_t* q[4];
    const uint8_t* dc[4];
    const uint8_t* ac[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = p.qTables[i];
        dc[i] = p.dcTables[i];
        ac[i] = p.acTables[i];
    }
    for (uint16_t i = 0; i < components; ++i) {
        if (q[i] == nullptr) return VEX_ERR_Q_TABLE;
        if (dc[i] == nullptr) return VEX_ERR_DC_TABLE;
        if (ac[i] == nullptr) return VEX_ERR_AC_TABLE;
    }
    uint16_t number[4] = {0, 0, 0, 0};

    uint16_t distinct = components;
    Q_TRY(NumberTables(&distinct, kQuantTable, q, number));
    for (uint16_t i = 0; i < components; ++i) p.qTables[i] = e.qTables[i] = q[number[i]];

    distinct = components;
    Q_TRY(NumberTables(&distinct, kDcTable, dc, number));
    if (distinct > 2) return VEX_ERR_DC_COUNT;
    for (uint16_t i = 0; i < components; ++i) p.dcTables[i] = e.dcTables[i] = dc[number[i]];

    distinct = components;
    Q_TRY(NumberTables(&distinct, kAcTable, ac, number));
    if (distinct > 2) return VEX_ERR_AC_COUNT;
    for (uint16_t i = 0; i < components; ++i) p.acTables[i] = e.acTables[i] = ac[number[i]];

    for (uint16_t i = components; i < 4; ++i) {
        e.qTables[i] = nullptr;
        e.dcTables[i] = nullptr;
        e.acTables[i] = nullptr;
    }
    return 0;
}

uint64_t ProgressiveBudgetBytes(const CodecOptions& options) {
    return uint64_t(options.progressiveBudgetMiB) << 20;
}

// A frame whose header leaves its height to a DNL segment: the stream is read
// up to it now, before the bands are laid out, and kept for the decode.
Status ReadDnlHeight(Codec& c, AppVexParams* p) {
    uint16_t height = 0;
    Q_TRY(ReadHeightFromDnl(c.progressive, c.in, ProgressiveBudgetBytes(c.options), &height));
    p->height = height;
    return 0;
}

// A progressive frame, or a sequential one the streaming engine cannot take:
// every scan into the coefficient store, and the part of the engine that
// makes pixels from it. Each component's blocks must be the ones the output
// routine of the matched sampling takes.
Status OpenStoredFrame(Codec& c, const JpegFrame& frame) {
    SequencePart& s = c.seq;
    AppVexParams& p = s.params;
    EngineParams& e = s.engineParams;
    ProgressiveState& store = c.progressive;
    Q_TRY(DecodeProgressiveScans(store, frame, p, c.slots, c.in, ProgressiveBudgetBytes(c.options)));
    const uint16_t components = kColorSpaceComponents[p.colorSpace];
    if (components != store.componentCount) return VEX_ERR_SAMPLING;
    for (uint16_t i = 0; i < 4; ++i) {
        e.qTables[i] = i < components ? store.quant[i] : nullptr;
        e.dcTables[i] = nullptr;
        e.acTables[i] = nullptr;
    }
    Q_TRY(SetupDecodeOutput(Decoder(c), &e));
    for (uint16_t i = 0; i < components; ++i) {
        if (c.format.blocksPerComponent[i] != store.h[i] * store.v[i]) return VEX_ERR_SAMPLING;
    }
    return 0;
}

Status OpenSequence(Codec& c, AppVexParams* host) {
    SequencePart& s = c.seq;
    AppVexParams& p = s.params;
    CopyWords(&p, host, sizeof(AppVexParams));
    PointTablesAtSlots(c.slots, &p);
    const HostIo io = BindHostIo(c.hostIo, p);
    if (!HasRead(io)) return VEX_ERR_NO_CALLBACK;
    ResetInput(c.in, io);
    JpegFrame frame = {};
    // The header sets grey or four-channel pixels for one or four
    // components; where those frames also go to other formats, the host's
    // choice stands.
    const int16_t hostModel = p.pixelModel;
    const PixelFormatDesc hostFormat = p.pixelFormat;
    Q_TRY(ReadHeader(c, &p, true, &frame));
    if (c.options.extendedFrames) {
        p.pixelModel = hostModel;
        p.pixelFormat = hostFormat;
    }
    Q_TRY(PrepareSegments(c));
    if (frame.stored && p.height == 0) Q_TRY(ReadDnlHeight(c, &p));

    // Frames beyond the sampling table and the colour transforms, on
    // instances that read them; the rest, and every frame on other
    // instances, go the legacy way with its refusals.
    bool generic = false;
    if (c.options.extendedFrames)
        Q_TRY(PlanFrameLayout(p, frame.colour, FrameChoices{c.options.saturatingColour, c.options.rawComponents},
                              &c.layout, &generic));
    if (generic) {
        FillLayoutFormat(c.layout, &c.format);
        s.mcuWidth = c.format.mcuWidth;
        s.mcuHeight = c.format.mcuHeight;
        Q_TRY(BitsPerPixel(p.pixelModel, &p.pixelFormat, &s.bitsPerPixel));
        s.supportValue = kMaxPassMcus;
    } else {
        Q_TRY(GetMcuDims(p.colorSpace, &p.sampling, &s.mcuWidth, &s.mcuHeight));
        Q_TRY(BitsPerPixel(p.pixelModel, &p.pixelFormat, &s.bitsPerPixel));
        Q_TRY(MatchFormat(VEX_DIRECTION_DECOMPRESS, p.pixelModel, &p.pixelFormat, p.colorSpace,
                          &p.sampling, &c.format, &s.supportValue));
        if (s.supportValue == 0) return VEX_ERR_UNSUPPORTED;
    }
    s.maxWidth = uint16_t(s.supportValue * s.mcuWidth);
    Q_TRY(ChooseSequenceGeometry(s, &c.band));

    const BandGeometry& b = c.band;
    EngineParams& e = s.engineParams;
    e.mcusPerPass = uint16_t(b.passWidth / s.mcuWidth);
    e.passesPerTile = uint16_t((b.paddedTileWidth / b.passWidth) * (b.paddedTileHeight / s.mcuHeight));
    e.restartInterval = p.restartInterval;
    e.pixelModel = p.pixelModel;
    e.pixelFormat = &p.pixelFormat;
    e.colorSpace = p.colorSpace;
    e.sampling = &p.sampling;
    // The legacy exports' instance never sets the option, so its colours wrap.
    e.kernels = &KernelsFor(ActiveSimdLevel(), c.options.saturatingColour ? ColourOutput::kSaturating
                                                                          : ColourOutput::kWrapping);
    e.layout = generic ? &c.layout : nullptr;
    if (frame.progressive || frame.stored) {
        Q_TRY(OpenStoredFrame(c, frame));
    } else {
        Q_TRY(NumberComponentTables(s, kColorSpaceComponents[p.colorSpace]));
        c.bitReader.stopAtBadCode = c.options.extendedFrames ? 1 : 0;
        c.engine.fillBeforeRestart = c.options.extendedFrames;
        Q_TRY(SetupDecodeEngine(Decoder(c), &e));
        Q_TRY(StartDecodeSegment(Decoder(c)));
    }

    if (p.windowLeft >= p.width || p.windowTop >= p.height) return VEX_ERR_WINDOW;
    if (p.windowRight >= p.width) p.windowRight = uint16_t(p.width - 1);
    if (p.windowBottom >= p.height) p.windowBottom = uint16_t(p.height - 1);
    CopyWords(host, &p, sizeof(AppVexParams));
    s.sequenceState = kDecompressing;
    return 0;
}

Rect16 Intersect(const Rect16& a, const Rect16& b) {
    return Rect16{a.x0 > b.x0 ? a.x0 : b.x0, a.y0 > b.y0 ? a.y0 : b.y0, a.x1 < b.x1 ? a.x1 : b.x1,
                  a.y1 < b.y1 ? a.y1 : b.y1};
}

bool IsEmpty(const Rect16& r) { return r.x0 > r.x1 || r.y0 > r.y1; }

void ReportEmpty(BandRect* filled) {
    filled->x0 = 1;
    filled->x1 = 0;
}

// The visible part of the current band in window coordinates.
void ReportVisible(const AppVexParams& p, const Rect16& visible, BandRect* filled) {
    filled->x0 = uint16_t(visible.x0 - p.windowLeft);
    filled->y0 = uint16_t(visible.y0 - p.windowTop);
    filled->x1 = uint16_t(visible.x1 - p.windowLeft);
    filled->y1 = uint16_t(visible.y1 - p.windowTop);
}

// Decodes every pass of the current unit, writing the part inside the window
// through the host's rows of the visible band part.
Status DecodeUnit(Codec& c, uint8_t** rows, const Rect16& visible, bool hasVisible) {
    const AppVexParams& p = c.seq.params;
    BandGeometry& b = c.band;
    const DecoderParts decoder = Decoder(c);
    const Rect16 window = {p.windowLeft, p.windowTop, p.windowRight, p.windowBottom};
    const Rect16 unit = b.unitRect;
    for (uint32_t x = unit.x0; x <= unit.x1; x += b.passWidth) {
        const Rect16 pass = {uint16_t(x), unit.y0, uint16_t(x + b.passWidth - 1), unit.y1};
        Rect16 clip = Intersect(pass, window);
        // The host's rows cover the visible band part only; nothing outside it
        // is ever handed to the engine.
        if (hasVisible) clip = Intersect(clip, visible);
        if (!hasVisible || IsEmpty(clip)) {
            const Rect16 none = {1, 0, 0, 0};
            if (c.progressive.coefficients != nullptr) continue;  // nothing to read
            Q_TRY(DecodeMcuRow(decoder, &none, b.rowPointers));
            continue;
        }
        // Counted in bitsPerPixel like the compressor's pass steps: for
        // four-channel pixels under the colour model 3 bytes per pixel, while
        // the engine writes 4, which stays inside rows of 4-byte pixels.
        const uint32_t columnBytes = uint32_t(clip.x0 - visible.x0) * c.seq.bitsPerPixel / 8;
        const uint16_t first = uint16_t(clip.y0 - visible.y0);
        for (uint16_t r = 0; r <= clip.y1 - clip.y0; ++r) {
            b.rowPointers[r] = rows[first + r] + columnBytes;
        }
        const Rect16 relative = {uint16_t(clip.x0 - pass.x0), uint16_t(clip.y0 - pass.y0),
                                 uint16_t(clip.x1 - pass.x0), uint16_t(clip.y1 - pass.y0)};
        if (c.progressive.coefficients != nullptr) {
            // The frame's coefficients are all decoded: the pass is made from
            // the store, MCU column and row from its place in the image.
            Q_TRY(OutputStoredMcuRow(decoder, c.progressive, x / c.format.mcuWidth, unit.y0 / c.format.mcuHeight,
                                     &relative, b.rowPointers));
            continue;
        }
        Q_TRY(DecodeMcuRow(decoder, &relative, b.rowPointers));
    }
    return 0;
}

// A new tile starts: follow it in the stream, or seek to it when it is not
// stored right after the previous one.
Status StartNextTile(Codec& c) {
    InputBuffer& in = c.in;
    // A tile walk over a stream without tile arrays, or past their end.
    if (!TilesPresent(c.tiles) || c.band.tilesLeft == 0) return VEX_ERR_CONTAINER;
    if (in.readAhead == 0) {
        in.readAhead = TileRunBytes(c.tiles, c.band.tilesLeft);
        Q_TRY(SeekToTile(c));
    } else {
        const uint32_t bytes = *c.tiles.byteCountsCursor;
        in.readAhead = in.readAhead > bytes ? in.readAhead - bytes : 0;
        // Stored right behind the previous tile; a seek is needed only when the
        // previous tile's data was not read to its end.
        if (InputPosition(in) != *c.tiles.offsetsCursor) Q_TRY(SeekToTile(c));
    }
    EnterTile(c);
    return StartDecodeSegment(Decoder(c));
}

Status DecodeBands(Codec& c, uint8_t** rows, BandRect* filled) {
    const AppVexParams& p = c.seq.params;
    BandGeometry& b = c.band;
    const Rect16 window = {p.windowLeft, p.windowTop, p.windowRight, p.windowBottom};
    for (;;) {
        Rect16 visible = Intersect(b.bandRect, window);
        const bool hasVisible = !IsEmpty(visible);
        if (hasVisible) {
            // The host holds at most bandWidth x bandHeight pixels.
            if (visible.x1 - visible.x0 >= p.bandWidth) visible.x1 = uint16_t(visible.x0 + p.bandWidth - 1);
            if (visible.y1 - visible.y0 >= p.bandHeight) visible.y1 = uint16_t(visible.y0 + p.bandHeight - 1);
        }
        filled->x0 = visible.x0;
        filled->y0 = visible.y0;
        filled->x1 = visible.x1;
        filled->y1 = visible.y1;
        for (;;) {
            Q_TRY(DecodeUnit(c, rows, visible, hasVisible));
            const int next = AdvanceUnit(b);
            if (next == kImageDone) {
                // A JFIF stream ends with its end of image; a TIFF tile's
                // data ends where its byte count says.
                if (c.progressive.coefficients == nullptr && p.containerKind == VEX_CONTAINER_JFIF)
                    Q_TRY(CheckImageEnd(Decoder(c)));
                c.seq.sequenceState = kIdle;
                ReleaseProgressive(c.progressive);
                if (hasVisible) {
                    ReportVisible(p, visible, filled);
                } else {
                    ReportEmpty(filled);
                }
                return 0;
            }
            if (next == kNewTile) Q_TRY(StartNextTile(c));
            const Rect16& u = b.unitRect;
            const Rect16& band = b.bandRect;
            if (u.x0 < band.x0 || u.y0 < band.y0 || u.x1 > band.x1 || u.y1 > band.y1) break;
        }
        AdvanceBand(b);
        if (hasVisible) {
            ReportVisible(p, visible, filled);
            return 0;
        }
    }
}

}  // namespace

Status ReadStreamInfo(Codec& c, AppVexParams* params) {
    SequencePart& s = c.seq;
    if (s.sequenceState != kIdle) return VEX_ERR_BUSY;
    ClearSequenceState(c);
    const HostIo io = BindHostIo(c.hostIo, *params);
    if (!HasRead(io)) return VEX_ERR_NO_CALLBACK;
    ResetInput(c.in, io);
    CopyWords(&s.params, params, sizeof(AppVexParams));
    PointTablesAtSlots(c.slots, &s.params);
    JpegFrame frame = {};
    Status status = ReadHeader(c, &s.params, false, &frame);
    if (status == 0 && frame.stored && s.params.height == 0) {
        // The height is worth the read: a host lays its picture out by it.
        c.in.segmentLimit = kUntiledSegmentLimit;
        c.in.readAhead = kUntiledReadAhead;
        status = ReadDnlHeight(c, &s.params);
        ReleaseProgressive(c.progressive);
    }
    // What a stored frame would need is known from its header alone.
    if (status == 0 && (frame.progressive || frame.stored))
        status = PlanProgressiveFrame(c.progressive, frame, s.params);
    if (status == 0) CopyWords(params, &s.params, sizeof(AppVexParams));
    return status;
}

Status OpenDecompression(Codec& c, AppVexParams* params) {
    // The tile arrays of any earlier sequence go, so that sequence is closed
    // too: nothing may act on them afterwards.
    ClearSequenceState(c);
    FreeTileArrays(c.tiles);
    const Status status = OpenSequence(c, params);
    if (status != 0) ReleaseProgressive(c.progressive);
    return status;
}

Status DecompressBand(Codec& c, uint8_t** rows, BandRect* filled) {
    if (c.seq.sequenceState != kDecompressing) {
        ReportEmpty(filled);
        return 0;
    }
    const Status status = DecodeBands(c, rows, filled);
    if (status != 0) {
        c.seq.sequenceState = kIdle;
        ReleaseProgressive(c.progressive);
    }
    return status;
}

}  // namespace q32vex
