// Compression engine setup and the MCU driver. Converter and tables are fixed
// once per sequence; a pass then runs MCU by MCU on the engine's block buffers
// (convert, transform, quantise, code, restart markers) and allocates nothing.
#include "encode/compress_engine.h"

#include <algorithm>

#include "common/derived_tables.h"
#include "common/tables.h"
#include "encode/color_convert.h"
#include "encode/forward_dct.h"
#include "encode/huffman_encoder.h"

namespace q32vex {
namespace {

// Converter by sampling index. Index 3 is grey; index 6 (4:1:1) has its own
// 32 x 8 converter.
constexpr McuConverter kConverters[kSamplingCount] = {
    ConvertH2V1, ConvertH2V2, ConvertH1V1, ConvertGrey, ConvertCmykH2V2, ConvertCmyk, ConvertH4V1,
};

constexpr int kMaxRowPointers = 32;

}  // namespace

void ResetDcPredictors(EngineState& engine) {
    for (int16_t& predictor : engine.dcPredictor) predictor = 0;
}

Status SetupCompressionEngine(const EncoderParts& parts, const EngineParams* params) {
    EngineState& engine = parts.engine;
    FormatInfo& format = parts.format;
    engine.params = *params;
    for (int r = 0; r < 16; ++r) engine.edgeRowPointers[r] = engine.edgeRows[r];

    uint16_t support = 0;
    Q_TRY(MatchFormat(kCompress, params->pixelModel, params->pixelFormat, params->colorSpace,
                      params->sampling, &format, &support));
    if (support == 0) return VEX_ERR_UNSUPPORTED;

    const uint8_t* const* sources[3] = {engine.params.qTables, engine.params.dcTables, engine.params.acTables};
    for (int16_t kind = kQuantTable; kind <= kAcTable; ++kind) {
        Q_TRY(BuildDerivedTables(parts.tables, kCompress, kind, sources[kind], format.componentCount));
    }

    engine.restartNumber = 0;
    engine.restartCountdown = engine.params.restartInterval;
    parts.bits.stuffingEnabled = 1;
    const uint16_t sampling = format.samplingIndex < kSamplingCount ? format.samplingIndex : 3;
    const KernelTable& kernels = *params->kernels;
    const McuConverter vector = kernels.converter(sampling, format.bytesPerPixel);
    engine.converter = vector != nullptr ? vector : kConverters[sampling];
    engine.forwardDct = kernels.forwardDct;
    engine.forwardDctPair = kernels.forwardDctPair;
    engine.encodeMcuBlocks = kernels.encodeMcuBlocks;
    for (int c = 0; c < format.componentCount && c < 4; ++c) {
        PackHuffmanTables(EncDc(parts.tables, c), EncAc(parts.tables, c), &engine.huffPacked[c]);
    }
    return 0;
}

Status StartSegment(const EncoderParts& parts) {
    EngineState& engine = parts.engine;
    Q_TRY(StartBitWriter(parts.bits, parts.out));
    ResetDcPredictors(engine);
    engine.restartCountdown = engine.params.restartInterval;
    engine.restartNumber = 0;
    engine.passesLeft = engine.params.passesPerTile;
    return 0;
}

Status EncodeMcuRow(const EncoderParts& parts, uint16_t columns, uint16_t rows, uint8_t* const* rowPointers) {
    EngineState& engine = parts.engine;
    const FormatInfo& format = parts.format;
    BitWriter& bits = parts.bits;
    StreamBuffer& out = parts.out;
    // What stays fixed for the pass, in locals: the calls below could write
    // any memory as far as the compiler knows.
    const uint16_t mcuWidth = format.mcuWidth;
    const uint16_t mcuHeight = format.mcuHeight;
    const uint16_t mcuRowBytes = format.mcuRowBytes;
    const int bytesPerPixel = format.bytesPerPixel;
    const uint16_t mcusPerPass = engine.params.mcusPerPass;
    const McuConverter convert = engine.converter;
    int16_t(*const blockBuffers)[64] = engine.blockBuffers;
    if (rows > mcuHeight) rows = mcuHeight;

    // A local copy, advanced MCU by MCU; the host's array is not touched.
    uint8_t* row[kMaxRowPointers];
    for (int r = 0; r < rows; ++r) row[r] = rowPointers[r];

    // Per block in the block buffers: its component and quantisation table,
    // fixed for the pass (the Huffman tables were packed per component at
    // setup).
    const EncQuantTable* quant[kBufferBlocks];
    uint8_t component[kBufferBlocks];
    int blocks = 0;
    for (int c = 0; c < format.componentCount && c < 4; ++c) {
        for (int i = 0; i < format.blocksPerComponent[c] && blocks < kBufferBlocks; ++i, ++blocks) {
            quant[blocks] = EncQuant(parts.tables, c);
            component[blocks] = uint8_t(c);
        }
    }

    // The next MCU of the pass into `into`, the samples outside the image
    // filled in.
    auto convertNext = [&](int16_t(*into)[64]) {
        const uint16_t width = columns < mcuWidth ? columns : mcuWidth;
        if (width == mcuWidth && rows == mcuHeight) {
            convert(row, into, bytesPerPixel);
        } else {
            FillEdgeMcu(format, row, width, rows, engine.edgeRows);
            convert(engine.edgeRowPointers, into, bytesPerPixel);
        }
        if (columns > mcuWidth) {
            columns = uint16_t(columns - mcuWidth);
            for (int r = 0; r < rows; ++r) row[r] += mcuRowBytes;
        } else {
            // The rest of the pass lies outside the image: uniform 128s.
            columns = 0;
        }
    };
    // `count` MCUs from `from` on, with a restart marker behind each one that
    // ends an interval: the MCUs between markers in one call of the block
    // coder, which keeps the bit writer in registers across them.
    auto codeMcus = [&](const int16_t(*from)[64], int count) -> Status {
        while (count > 0) {
            const int run = engine.restartCountdown != 0 && engine.restartCountdown < count
                                ? int(engine.restartCountdown)
                                : count;
            Q_TRY(engine.encodeMcuBlocks(bits, out, from, run * blocks, component, engine.dcPredictor,
                                         engine.huffPacked));
            from += run * blocks;
            count -= run;
            if (engine.restartCountdown == 0) continue;
            engine.restartCountdown = uint16_t(engine.restartCountdown - run);
            if (engine.restartCountdown != 0) continue;
            engine.restartCountdown = engine.params.restartInterval;
            Q_TRY(WriteRestartMarker(bits, out, uint8_t(0xD0 + engine.restartNumber)));
            engine.restartNumber = uint16_t((engine.restartNumber + 1) & 7);
            ResetDcPredictors(engine);
        }
        return 0;
    };

    // A group of MCUs at a time (McusPerGroup): their blocks are transformed
    // two at a time (one vector pass for both where the level has it), so no
    // block of grey or 4:4:4 is transformed alone, and coded in as few calls
    // as the restart markers allow.
    const int group = McusPerGroup(blocks);
    for (int b = blocks; b < group * blocks; ++b) {
        quant[b] = quant[b - blocks];
        component[b] = component[b - blocks];
    }
    uint16_t mcu = 0;
    while (mcu < mcusPerPass) {
        const int count = std::min<int>(group, mcusPerPass - mcu);
        for (int i = 0; i < count; ++i) convertNext(blockBuffers + i * blocks);
        int b = 0;
        for (; b + 1 < count * blocks; b += 2) {
            engine.forwardDctPair(blockBuffers[b], quant[b], blockBuffers[b + 1], quant[b + 1]);
        }
        if (b < count * blocks) engine.forwardDct(blockBuffers[b], quant[b]);
        Q_TRY(codeMcus(blockBuffers, count));
        mcu = uint16_t(mcu + count);
    }

    if (--engine.passesLeft == 0) return FlushBitWriter(bits, out);
    return 0;
}

}  // namespace q32vex
