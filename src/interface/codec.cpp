// The codec instance record: clearing what belongs to one sequence, and the
// small control operations that act on an instance as a whole.
#include "interface/codec.h"

#include "common/bytes.h"

namespace q32vex {

void ClearSequenceState(Codec& codec) {
    // What outlives a sequence, on purpose: the table slots (a bare stream is
    // decoded with the tables the last header read left there), the tile
    // arrays (each open releases or replaces them itself) and the
    // derived-table cache (kept until AppVexDeallocate). Everything else - the
    // record's copy and its derived values, band walk, stream buffers, engine,
    // bit writer and reader - belongs to one sequence only. An aborted
    // sequence, a failed open or an AppVexDeallocate in the middle leaves
    // these half-set; clearing them here keeps that from reaching the next
    // sequence.
    codec.seq = SequencePart{};
    codec.format = FormatInfo{};
    codec.band = BandGeometry{};
    codec.out = StreamBuffer{};
    codec.in = InputBuffer{};
    codec.engine = EngineState{};
    codec.bitWriter = BitWriter{};
    codec.bitReader = BitReader{};
    codec.tiffWriter = TiffWriterState{};
    ReleaseProgressive(codec.progressive);
    codec.progressive = ProgressiveState{};
    codec.report = DecodeReport{};
    codec.frameColour = FrameColour::kLegacy;
    codec.layout = FrameLayout{};
}

Status ChooseSequenceGeometry(SequencePart& seq, BandGeometry* band) {
    AppVexParams& p = seq.params;
    BandConfig config = {p.width,      p.height,        p.tileWidth,   p.tileHeight,
                         p.bandWidth,  p.bandHeight,    p.bandMemory,  seq.mcuWidth,
                         seq.mcuHeight, seq.bitsPerPixel, seq.maxWidth};
    const Status status = ChooseBandGeometry(&config, band);
    // What was settled goes into the copy, also before a failure.
    p.tileWidth = config.tileWidth;
    p.tileHeight = config.tileHeight;
    p.bandWidth = config.bandWidth;
    p.bandHeight = config.bandHeight;
    p.bandMemory = config.bandMemory;
    return status;
}

Status QuerySupport(Codec& codec, int32_t direction, const AppVexParams* params) {
    SequencePart& s = codec.seq;
    if (s.sequenceState != kIdle) return VEX_ERR_BUSY;
    ClearSequenceState(codec);
    FreeTileArrays(codec.tiles);
    // Work on the instance's copy, as a sequence open would; the host's record
    // is only read.
    CopyWords(&s.params, params, sizeof(AppVexParams));
    const AppVexParams& p = s.params;
    Q_TRY(GetMcuDims(p.colorSpace, &p.sampling, &s.mcuWidth, &s.mcuHeight));
    Q_TRY(BitsPerPixel(p.pixelModel, &p.pixelFormat, &s.bitsPerPixel));
    Q_TRY(MatchFormat(uint32_t(direction), p.pixelModel, &p.pixelFormat, p.colorSpace, &p.sampling,
                      &codec.format, &s.supportValue));
    return s.supportValue == 0 ? VEX_ERR_UNSUPPORTED : 0;
}

Status AbortSequence(Codec& codec) {
    if (codec.seq.sequenceState == kIdle) return VEX_ERR_NOT_OPEN;
    // Tile arrays and cached tables stay: the next open or AppVexDeallocate
    // releases them. A progressive frame's store, the size of the picture,
    // goes at once.
    codec.seq.sequenceState = kIdle;
    ReleaseProgressive(codec.progressive);
    return 0;
}

Status ReleaseCodecMemory(Codec& codec) {
    FreeTileArrays(codec.tiles);
    ReleaseDerivedTables(codec.cache);
    ReleaseProgressive(codec.progressive);
    // A sequence left open would go on using the tile arrays and derived tables
    // just released; closing it makes its next band call fail cleanly instead.
    codec.seq.sequenceState = kIdle;
    return 0;
}

}  // namespace q32vex
