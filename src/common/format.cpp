// Format questions: the fixed pixel-format and sampling tables, the support
// matrix, and the matching that turns a host's two descriptors into table
// indices and the per-sequence constants every later stage reads.
#include "common/format.h"

#include "common/bytes.h"

namespace q32vex {

constexpr PixelFormatEntry kPixelFormats[kPixelFormatCount] = {
    {{{5, 5, 5, 0}, {0, 0, 1, 0}}, 3, 2},  // 15-bit colour in a 16-bit word
    {{{8, 8, 8, 0}, {0, 0, 0, 0}}, 3, 3},  // 24-bit colour
    {{{8, 8, 8, 0}, {0, 0, 8, 0}}, 3, 4},  // 24-bit colour padded to 32 bits
    {{{8, 0, 0, 0}, {0, 0, 0, 0}}, 1, 1},  // 8-bit grey
    {{{8, 8, 8, 8}, {0, 0, 0, 0}}, 4, 4},  // four 8-bit channels
};

constexpr SamplingEntry kSamplings[kSamplingCount] = {
    {{{2, 1, 1, 0}, {1, 1, 1, 0}}, 3, 16, 8},   // 4:2:2
    {{{2, 1, 1, 0}, {2, 1, 1, 0}}, 3, 16, 16},  // 4:2:0
    {{{1, 1, 1, 0}, {1, 1, 1, 0}}, 3, 8, 8},    // 4:4:4
    {{{1, 0, 0, 0}, {1, 0, 0, 0}}, 1, 8, 8},    // grey
    {{{2, 1, 1, 2}, {2, 1, 1, 2}}, 4, 16, 16},  // four components, outer two full size
    {{{1, 1, 1, 1}, {1, 1, 1, 1}}, 4, 8, 8},    // four components, no subsampling
    {{{4, 1, 1, 0}, {1, 1, 1, 0}}, 3, 32, 8},   // 4:1:1
};

// Rows: pixel-format index; columns: sampling index.
constexpr uint16_t kSupportMatrix[kPixelFormatCount][kSamplingCount] = {
    {1, 1, 1, 0, 0, 0, 0},
    {1, 1, 1, 0, 0, 0, 1},
    {1, 1, 1, 0, 0, 0, 0},
    {0, 0, 0, 1, 0, 0, 0},
    {0, 0, 0, 0, 1, 1, 0},
};

constexpr uint16_t kModelChannels[kPixelModelCount] = {3, 1, 4};
constexpr uint16_t kColorSpaceComponents[4] = {3, 1, 3, 4};

static_assert(sizeof(PixelFormatEntry) == 20 && sizeof(SamplingEntry) == 22,
              "table rows are packed u16 records");
static_assert(kSamplings[6].mcuWidth == 32 && kSamplings[1].mcuHeight == 16,
              "MCU size is 8 times the largest factor");
// The widest pass in pixels, 2047 MCUs of 32 columns, must still fit 16 bits.
static_assert(uint32_t(kMaxPassMcus) * 32 <= 0xFFFF, "maxWidth fits 16 bits");

namespace {

bool ValidFactor(uint16_t f) { return f == 1 || f == 2 || f == 4; }

}  // namespace

Status GetMcuDims(int16_t colorSpace, const SamplingDesc* sampling, uint16_t* mcuWidth,
                  uint16_t* mcuHeight) {
    if (colorSpace < 0 || colorSpace > 3) return VEX_ERR_COLOR_SPACE;
    const int components = kColorSpaceComponents[colorSpace];
    unsigned hMax = 0, vMax = 0, productMax = 0, blocks = 0;
    for (int c = 0; c < components; ++c) {
        const uint16_t h = sampling->h[c];
        const uint16_t v = sampling->v[c];
        if (!ValidFactor(h) || !ValidFactor(v)) return VEX_ERR_SAMPLING;
        if (h > hMax) hMax = h;
        if (v > vMax) vMax = v;
        if (unsigned(h) * v > productMax) productMax = unsigned(h) * v;
        blocks += unsigned(h) * v;
    }
    // One component must carry both largest factors, or the MCU would not be a
    // whole number of that component's blocks; ten blocks is the MCU buffer.
    if (hMax * vMax != productMax || blocks > 10) return VEX_ERR_SAMPLING;
    *mcuWidth = uint16_t(8 * hMax);
    *mcuHeight = uint16_t(8 * vMax);
    return 0;
}

Status BitsPerPixel(int16_t pixelModel, const PixelFormatDesc* format, uint16_t* bits) {
    if (!IsPixelModel(pixelModel)) return VEX_ERR_PIXEL_MODEL;
    uint16_t sum = 0;
    for (int c = 0; c < kModelChannels[pixelModel]; ++c) {
        sum = uint16_t(sum + format->bits[c] + format->pad[c]);
    }
    *bits = sum;
    return sum == 0 ? VEX_ERR_PIXEL_FORMAT : 0;
}

Status MatchPixelFormat(int16_t pixelModel, const PixelFormatDesc* format, uint16_t* index) {
    int formatIndex = -1;
    switch (PixelModel(pixelModel)) {
        case PixelModel::kColour:
            // Grey and four-channel pixels are also accepted under the colour
            // model; the first equal row wins.
            for (int i = 0; i < kPixelFormatCount && formatIndex < 0; ++i) {
                if (CompareBytes(format, &kPixelFormats[i].desc, sizeof(PixelFormatDesc)) == 0) {
                    formatIndex = i;
                }
            }
            break;
        case PixelModel::kGrey:
        case PixelModel::kFourChannel: {
            const int only = PixelModel(pixelModel) == PixelModel::kGrey ? 3 : 4;
            if (CompareBytes(format, &kPixelFormats[only].desc, sizeof(PixelFormatDesc)) == 0) {
                formatIndex = only;
            }
            break;
        }
        default:
            return VEX_ERR_PIXEL_MODEL;
    }
    if (formatIndex < 0) return VEX_ERR_PIXEL_FORMAT;
    *index = uint16_t(formatIndex);
    return 0;
}

Status MatchFormat(uint32_t /*direction*/, int16_t pixelModel, const PixelFormatDesc* format,
                   int16_t colorSpace, const SamplingDesc* sampling, FormatInfo* info, uint16_t* support) {
    uint16_t formatIndex = 0;
    Q_TRY(MatchPixelFormat(pixelModel, format, &formatIndex));

    int samplingIndex = -1;
    switch (colorSpace) {
        case 0:
        case 3:
            for (int i = 0; i < kSamplingCount && samplingIndex < 0; ++i) {
                if (CompareBytes(sampling, &kSamplings[i].desc, sizeof(SamplingDesc)) == 0) {
                    samplingIndex = i;
                }
            }
            break;
        case 1:
            if (CompareBytes(sampling, &kSamplings[3].desc, sizeof(SamplingDesc)) == 0) {
                samplingIndex = 3;
            }
            break;
        default:
            // Colour space 2 has default tables but no converter in either direction.
            return VEX_ERR_COLOR_SPACE;
    }
    if (samplingIndex < 0) return VEX_ERR_SAMPLING;

    const PixelFormatEntry& pf = kPixelFormats[formatIndex];
    const SamplingEntry& se = kSamplings[samplingIndex];
    info->samplingIndex = uint16_t(samplingIndex);
    info->bytesPerPixel = pf.bytesPerPixel;
    info->componentCount = se.components;
    info->mcuWidth = se.mcuWidth;
    info->mcuHeight = se.mcuHeight;
    info->mcuRowBytes = uint16_t(se.mcuWidth * pf.bytesPerPixel);
    for (int c = 0; c < se.components; ++c) {
        info->blocksPerComponent[c] = uint16_t(se.desc.h[c] * se.desc.v[c]);
    }
    *support = uint16_t(kSupportMatrix[formatIndex][samplingIndex] * kMaxPassMcus);
    return 0;
}

}  // namespace q32vex

extern "C" {

VEXEXPORT int16_t VEXAPI AppVexGetMcuDims(int16_t colorSpace, const SamplingDesc* sampling,
                                          uint16_t* mcuWidth, uint16_t* mcuHeight) {
    return q32vex::GetMcuDims(colorSpace, sampling, mcuWidth, mcuHeight);
}

}  // extern "C"
