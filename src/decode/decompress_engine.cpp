// Decompression engine: setup once per sequence, a segment start per stream or
// tile, then one pass of MCUs per call. Whole MCUs are written straight into the
// host's rows; MCUs the window cuts are built in edgeRows and only the window copied.
#include "decode/decompress_engine.h"

#include <algorithm>
#include <cstring>

#include "common/format.h"
#include "common/tables.h"
#include "decode/any_sampling_output.h"
#include "decode/color_output.h"
#include "decode/huffman_decoder.h"
#include "decode/inverse_dct.h"
#include "decode/progressive_decoder.h"

namespace q32vex {

namespace {

constexpr int kMaxBlocks = 10;

// The inverse transforms of `count` blocks: blocks without AC coefficients
// (bit b of dcOnly) are flat and need no transform; the others go two at a
// time (one vector pass for both where the level has it). Returns the block
// left without a partner, untransformed, or -1.
int TransformMcuPairs(EngineState& e, int16_t (*blocks)[64], const uint8_t* component, int count,
                      uint32_t dcOnly) {
    int pending = -1;
    for (int b = 0; b < count; ++b) {
        if (dcOnly & (1u << b)) {
            InverseDctDcOnly(blocks[b], &e.dequant[component[b]]);
        } else if (pending < 0) {
            pending = b;
        } else {
            e.inverseDctPair(blocks[pending], &e.dequant[component[pending]], blocks[b], &e.dequant[component[b]]);
            pending = -1;
        }
    }
    return pending;
}

// After every MCU, with or without output, so intervals run across passes.
Status CountRestart(EngineState& e, BitReader& bits, InputBuffer& in) {
    if (e.restartCountdown == 0) return 0;
    if (--e.restartCountdown != 0) return 0;
    e.restartCountdown = e.params.restartInterval;
    uint16_t code = 0;  // which RSTn it was does not matter: the data resynchronises
    Q_TRY(ReadEntropyByte(bits, in, &code));
    // At the end of the data the byte reads as 0, which ends the loop.
    while (code == 0xFF && e.fillBeforeRestart) Q_TRY(ReadEntropyByte(bits, in, &code));
    Q_TRY(ResyncEntropyInput(bits, in));
    ResetDcPredictors(e);
    return 0;
}

// The decoder of an MCU after the data of its interval has ended: zero
// coefficients, a flat mid-grey, and the reader left alone.
void ZeroBlocks(int16_t (*blocks)[64], int count, uint32_t* dcOnly) {
    std::memset(blocks, 0, sizeof(int16_t) * 64 * size_t(count));
    *dcOnly = (1u << count) - 1;  // at most ten blocks
}

Status PadMcuBlocks(BitReader&, InputBuffer&, int16_t (*blocks)[64], int count, const uint8_t*, int16_t*,
                    const McuHuffTables*, uint32_t* dcOnly) {
    ZeroBlocks(blocks, count, dcOnly);
    return 0;
}

// Once per MCU on the reader of damaged streams, when the reader says the
// data stopped inside the MCU just decoded: the report notes the first such
// MCU of each kind, an MCU with a code no table holds turns grey like the
// ones after it, and the MCUs up to the next restart marker get zero
// coefficients without looking at the data.
void NoteDamage(EngineState& e, const BitReader& bits, DecodeReport& report, uint32_t mcu, int16_t (*blocks)[64],
                int count, uint32_t* dcOnly) {
    if (e.decodeMcuBlocks == PadMcuBlocks) return;
    if ((bits.damage & kBadCode) != 0) {
        if ((report.damage & kDamageCorruptData) == 0) report.corruptAtMcu = mcu;
        report.damage |= kDamageCorruptData;
        ZeroBlocks(blocks, count, dcOnly);
    } else {
        if ((report.damage & kDamageDataEnded) == 0) report.dataEndedAtMcu = mcu;
        report.damage |= kDamageDataEnded;
    }
    e.decodeMcuBlocks = PadMcuBlocks;
}

// Restart markers on the reader of damaged streams, decided as libjpeg's
// resynchronisation decides: the expected marker, or one too far from it to
// tell, starts the next interval on the data behind it; one of the next two
// is left where it stands, so the interval in between has no data (it was
// lost); one of the two before, or a byte that is no marker, was left over
// from data already decoded, and the search goes on behind it. Any other
// marker, or the end of the data, ends the data of every interval to come.
enum class RestartAction { kTake, kKeep, kSearchOn };

RestartAction DecideRestart(uint8_t code, uint16_t expected) {
    if (code == 0) return RestartAction::kKeep;
    if (code < 0xC0) return RestartAction::kSearchOn;
    if (code < 0xD0 || code > 0xD7) return RestartAction::kKeep;
    const int distance = (code - 0xD0 - expected) & 7;
    if (distance == 1 || distance == 2) return RestartAction::kKeep;
    if (distance == 6 || distance == 7) return RestartAction::kSearchOn;
    return RestartAction::kTake;
}

Status ResyncAtRestart(EngineState& e, BitReader& bits, InputBuffer& in, DecodeReport& report) {
    const uint16_t expected = e.restartNumber;
    e.restartNumber = uint16_t((e.restartNumber + 1) & 7);
    ResetDcPredictors(e);
    bool faulted = false;
    bool fresh = false;
    for (;;) {
        uint8_t code = 0;
        Q_TRY(FindMarker(bits, in, &code, &in.skippedBytes));
        if (code == 0xD0 + expected) {
            Q_TRY(RestartAfterMarker(bits, in));
            fresh = true;
            break;
        }
        if (!faulted) ++report.restartFaults;
        faulted = true;
        report.damage |= kDamageRestart;
        const RestartAction action = DecideRestart(code, expected);
        if (action == RestartAction::kTake) {
            Q_TRY(RestartAfterMarker(bits, in));
            fresh = true;
            break;
        }
        if (action == RestartAction::kKeep) {
            KeepMarker(bits);
            break;
        }
        Q_TRY(StepOverMarker(bits, in));
    }
    // Fresh data decodes again; without it the MCUs stay grey.
    if (fresh) e.decodeMcuBlocks = e.params.kernels->decodeMcuBlocks;
    return 0;
}

// For an MCU the window cuts: rows top..bottom, columns first..last of the MCU
// built in edgeRows go to the host's rows, which start at column `first`.
void CopyWindowFromEdgeRows(const EngineState& e, int bpp, uint8_t* const* rows, const Rect16& mcuWindow) {
    const size_t bytes = size_t(mcuWindow.x1 - mcuWindow.x0 + 1) * bpp;
    for (int r = mcuWindow.y0; r <= mcuWindow.y1; ++r) {
        std::memcpy(rows[r - mcuWindow.y0], e.edgeRows[r] + mcuWindow.x0 * bpp, bytes);
    }
}

}  // namespace

Status SetupDecodeOutput(const DecoderParts& parts, const EngineParams* params) {
    EngineState& e = parts.engine;
    FormatInfo& format = parts.format;
    e.params = *params;
    const KernelTable& kernels = *params->kernels;
    if (params->layout != nullptr) {
        // A frame beyond the sampling table: the generic routine makes its
        // pixels, from the layout the open planned.
        e.layout = *params->layout;
        e.params.layout = &e.layout;
        FillLayoutFormat(e.layout, &format);
        e.outputRoutine = nullptr;
    } else {
        e.layout = FrameLayout{};
        uint16_t support = 0;
        Q_TRY(MatchFormat(kDecompress, e.params.pixelModel, e.params.pixelFormat, e.params.colorSpace,
                          e.params.sampling, &format, &support));
        if (support == 0) return VEX_ERR_UNSUPPORTED;
        // Kernels for this processor, each giving exactly its scalar twin's results.
        const uint16_t sampling = format.samplingIndex;
        // The format tables know no sampling index beyond kSamplingCount.
        const McuOutputRoutine scalar =
            sampling < kSamplingCount ? kernels.scalarOutputRoutines[sampling] : OutputGrey;
        const McuOutputRoutine vector = kernels.outputRoutine(sampling, format.bytesPerPixel);
        e.outputRoutine = vector != nullptr ? vector : scalar;
    }
    Q_TRY(BuildDerivedTables(parts.tables, kDecompress, kQuantTable, e.params.qTables, format.componentCount));
    e.restartCountdown = e.params.restartInterval;
    e.inverseDct = kernels.inverseDct;
    e.inverseDctPair = kernels.inverseDctPair;
    e.decodeMcuBlocks = kernels.decodeMcuBlocks;
    for (int c = 0; c < format.componentCount && c < 4; ++c) MakeDequantTable(DecQuant(parts.tables, c), &e.dequant[c]);
    // The output routines never write the fourth byte of a 32-bit colour pixel.
    // Cleared once here, it reaches the host as 0 from every MCU that the window
    // cuts, instead of bytes left over from an earlier sequence.
    std::memset(e.edgeRows, 0, sizeof(e.edgeRows));
    for (int r = 0; r < kMaxMcuRows; ++r) e.edgeRowPointers[r] = e.edgeRows[r];
    return 0;
}

Status SetupDecodeEngine(const DecoderParts& parts, const EngineParams* params) {
    Q_TRY(SetupDecodeOutput(parts, params));
    EngineState& e = parts.engine;
    const FormatInfo& format = parts.format;
    Q_TRY(BuildDerivedTables(parts.tables, kDecompress, kDcTable, e.params.dcTables, format.componentCount));
    Q_TRY(BuildDerivedTables(parts.tables, kDecompress, kAcTable, e.params.acTables, format.componentCount));
    for (int c = 0; c < format.componentCount && c < 4; ++c) {
        BuildFastAcTable(DecAc(parts.tables, c), e.fastAc[c]);
        BuildFastDcTable(DecDc(parts.tables, c), e.fastDc[c]);
    }
    return 0;
}

Status StartDecodeSegment(const DecoderParts& parts) {
    EngineState& e = parts.engine;
    Q_TRY(StartEntropyInput(parts.bits, parts.in));
    Q_TRY(ResyncEntropyInput(parts.bits, parts.in));
    ResetDcPredictors(e);
    e.restartCountdown = e.params.restartInterval;
    e.restartNumber = 0;
    e.passesLeft = e.params.passesPerTile;
    e.decodeMcuBlocks = e.params.kernels->decodeMcuBlocks;
    return 0;
}

namespace {

// One pass of MCUs. `produce(m, mcus, visible, component, count, blocks,
// &dcOnly)` puts the coefficients of MCUs m .. m + mcus - 1 into `blocks`,
// one MCU's blocks after the other's, and says which are flat; where they are
// visible they are transformed and the part inside the window goes to the
// host's rows; then `after` runs for each of them.
//
// The MCUs of a group (McusPerGroup) go through as one where all are visible
// and `unbroken(m)` (how many MCUs from m on follow each other with no
// restart marker in between) allows: one call of the block decoder, which
// keeps the bit reader in registers across them, then the transforms in
// pairs (the vector transform does two blocks in about the time of one, and
// grey has one block per MCU and 4:4:4 three), then the output. An error
// returned leaves the MCUs of the call that failed unwritten.
template <typename Produce, typename After, typename Unbroken>
Status WalkMcuRow(const DecoderParts& parts, const Rect16* window, uint8_t* const* rows, Produce produce,
                  After after, Unbroken unbroken) {
    EngineState& e = parts.engine;
    const FormatInfo& f = parts.format;
    const int width = f.mcuWidth;
    const int height = std::min<int>(f.mcuHeight, kMaxMcuRows);
    const int bpp = f.bytesPerPixel;
    const int components = std::min<int>(f.componentCount, 4);

    // The components of one MCU's blocks, repeated for the MCUs behind it in
    // the buffers.
    static_assert(kBufferBlocks >= kMaxBlocks, "the buffers hold the largest MCU");
    uint8_t component[kBufferBlocks];
    int blocks = 0;
    for (int c = 0; c < components; ++c) {
        for (int b = 0; b < f.blocksPerComponent[c] && blocks < kMaxBlocks; ++b) component[blocks++] = uint8_t(c);
    }
    for (int b = blocks; b < kBufferBlocks; ++b) component[b] = component[b - blocks];
    const int group = McusPerGroup(blocks);

    // What stays fixed for the pass, in locals: the calls below could write
    // any memory as far as the compiler knows. Rows below the MCU do not
    // exist; a window reaching there is cut to it.
    const int windowLeft = window->x0;
    const int windowRight = window->x1;
    const int top = window->y0;
    const int bottom = std::min<int>(window->y1, height - 1);
    const int mcusPerPass = e.params.mcusPerPass;
    const McuOutputRoutine routine = e.outputRoutine;
    const FrameLayout* layout = e.outputRoutine == nullptr ? &e.layout : nullptr;
    // The image columns of MCU m that lie inside the window (none where
    // left > right).
    struct Columns {
        int left, right;
    };
    const auto columnsOf = [&](int m) {
        return Columns{std::max<int>(windowLeft, m * width), std::min<int>(windowRight, m * width + width - 1)};
    };
    const auto visible = [&](int m) {
        const Columns c = columnsOf(m);
        return c.left <= c.right && top <= bottom;
    };
    const auto output = [&](int m, int16_t (*mcuBlocks)[64]) {
        const int mcuLeft = m * width;
        const auto [left, right] = columnsOf(m);
        const auto write = [&](uint8_t* const* to) {
            if (layout != nullptr) {
                OutputAnySampling(*layout, to, mcuBlocks);
            } else {
                routine(to, mcuBlocks, bpp);
            }
        };
        uint8_t* local[kMaxMcuRows];
        for (int i = 0; i <= bottom - top; ++i) local[i] = rows[i] + (left - windowLeft) * bpp;
        const int first = left - mcuLeft;
        const int last = right - mcuLeft;
        if (first == 0 && last == width - 1 && top == 0 && bottom == height - 1) {
            write(local);
        } else {
            write(e.edgeRowPointers);
            const Rect16 mcuWindow = {uint16_t(first), uint16_t(top), uint16_t(last), uint16_t(bottom)};
            CopyWindowFromEdgeRows(e, bpp, local, mcuWindow);
        }
    };

    for (int m = 0; m < mcusPerPass;) {
        const bool shown = visible(m);
        int mcus = 1;
        if (shown) {
            const int most = std::min<int>({group, mcusPerPass - m, unbroken(m)});
            while (mcus < most && visible(m + mcus)) ++mcus;
        }
        const int count = mcus * blocks;
        uint32_t dcOnly = 0;
        Q_TRY(produce(m, mcus, shown, component, count, e.blockBuffers, &dcOnly));
        if (shown) {
            const int single = TransformMcuPairs(e, e.blockBuffers, component, count, dcOnly);
            if (single >= 0) e.inverseDct(e.blockBuffers[single], &e.dequant[component[single]]);
            for (int i = 0; i < mcus; ++i) output(m + i, e.blockBuffers + i * blocks);
        }
        for (int i = 0; i < mcus; ++i) Q_TRY(after(m++));
    }
    --e.passesLeft;
    return 0;
}

}  // namespace

Status DecodeMcuRow(const DecoderParts& parts, const Rect16* window, uint8_t* const* rows) {
    EngineState& e = parts.engine;
    BitReader& bits = parts.bits;
    InputBuffer& in = parts.in;
    McuHuffTables tables[4];
    for (int c = 0; c < std::min<int>(parts.format.componentCount, 4); ++c)
        tables[c] = McuHuffTables{DecDc(parts.tables, c), DecAc(parts.tables, c), e.fastAc[c], e.fastDc[c]};
    if (parts.report == nullptr) {
        return WalkMcuRow(
            parts, window, rows,
            [&](int, int, bool, const uint8_t* component, int count, int16_t (*blocks)[64], uint32_t* dcOnly) {
                return e.decodeMcuBlocks(bits, in, blocks, count, component, e.dcPredictor, tables, dcOnly);
            },
            [&](int) { return CountRestart(e, bits, in); },
            // A restart marker comes behind the MCU that brings the countdown to zero.
            [&](int) { return e.restartCountdown == 0 ? int(e.params.mcusPerPass) : int(e.restartCountdown); });
    }
    // The reader of damaged streams: one look at the reader's damage word
    // per MCU; everything else happens where the data stops and at restart
    // markers.
    DecodeReport& report = *parts.report;
    const uint32_t first = e.mcusDecoded;
    const int lastMcu = e.params.mcusPerPass - 1;
    Q_TRY(WalkMcuRow(
        parts, window, rows,
        [&](int m, int, bool, const uint8_t* component, int count, int16_t (*blocks)[64],
            uint32_t* dcOnly) -> Status {
            Q_TRY(e.decodeMcuBlocks(bits, in, blocks, count, component, e.dcPredictor, tables, dcOnly));
            if (__builtin_expect(bits.damage != 0, 0))
                NoteDamage(e, bits, report, first + uint32_t(m), blocks, count, dcOnly);
            return 0;
        },
        [&](int m) -> Status {
            if (e.restartCountdown == 0 || --e.restartCountdown != 0) return 0;
            e.restartCountdown = e.params.restartInterval;
            // Behind the segment's last MCU comes the end of the image (or
            // the next tile), not a restart marker.
            if (e.passesLeft == 1 && m == lastMcu) return 0;
            return ResyncAtRestart(e, bits, in, report);
        },
        // One MCU at a time, so that damage is reported at the MCU it was met in.
        [](int) { return 1; }));
    e.mcusDecoded += e.params.mcusPerPass;
    return 0;
}

Status CheckImageEnd(const DecoderParts& parts) {
    if (parts.report == nullptr) return 0;
    BitReader& bits = parts.bits;
    DecodeReport& report = *parts.report;
    for (;;) {
        uint8_t code = 0;
        Q_TRY(FindMarker(bits, parts.in, &code, &parts.in.skippedBytes));
        if (code == 0) {
            report.damage |= kDamageNoEndMarker;
            return 0;
        }
        // A restart marker behind the last interval is harmless; any marker
        // but the end of image is left to whoever reads on.
        if (code < 0xD0 || code > 0xD7) return 0;
        Q_TRY(StepOverMarker(bits, parts.in));
    }
}

Status OutputStoredMcuRow(const DecoderParts& parts, const ProgressiveState& store, uint32_t mcuX, uint32_t mcuY,
                          const Rect16* window, uint8_t* const* rows) {
    return WalkMcuRow(
        parts, window, rows,
        [&](int m, int mcus, bool visible, const uint8_t*, int count, int16_t (*blocks)[64],
            uint32_t* dcOnly) -> Status {
            if (!visible) return 0;
            const int perMcu = count / mcus;
            for (int i = 0; i < mcus; ++i) {
                uint32_t flat = 0;
                LoadProgressiveMcu(store, mcuX + uint32_t(m + i), mcuY, blocks + i * perMcu, &flat);
                *dcOnly |= flat << (i * perMcu);
            }
            return 0;
        },
        [](int) -> Status { return 0; }, [&](int) { return int(parts.engine.params.mcusPerPass); });
}

}  // namespace q32vex
