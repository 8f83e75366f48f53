// The generic output routine: one MCU row at a time, each component's samples
// replicated to the full MCU width, then one colour conversion per row. Rare
// samplings go through it as they are; RGB-coded and CMYK files, which are
// common, take the same row-at-a-time path with conversions kept simple.
#include "decode/any_sampling_output.h"

#include <algorithm>

#include "decode/pixel_terms.h"

namespace q32vex {

namespace {

constexpr int kMaxBlocksPerMcu = 10;
constexpr int kMaxMcuColumns = 32;

bool InTable(const AppVexParams& params) {
    uint16_t mcuWidth = 0, mcuHeight = 0, support = 0;
    FormatInfo info{};
    return GetMcuDims(params.colorSpace, &params.sampling, &mcuWidth, &mcuHeight) == 0 &&
           MatchFormat(VEX_DIRECTION_DECOMPRESS, params.pixelModel, &params.pixelFormat, params.colorSpace,
                       &params.sampling, &info, &support) == 0 &&
           support != 0;
}

// Which host formats a frame's colours go to. Grey goes to every format but
// four channels; colour to the three-channel ones; CMYK and YCCK to four
// channels (CMYK) or to the three-channel ones as light. A colour frame to
// grey bytes is refused rather than guessed at.
bool Reaches(FrameColour colour, PixelLayout pixels) {
    switch (colour) {
        case FrameColour::kGrey: return pixels != PixelLayout::kFour8;
        case FrameColour::kYCbCr:
        case FrameColour::kRgb: return pixels != PixelLayout::kFour8 && pixels != PixelLayout::kGrey8;
        case FrameColour::kCmyk:
        case FrameColour::kYcck: return pixels != PixelLayout::kGrey8;
        default: return false;
    }
}

PixelLayout LayoutOfFormat(uint16_t formatIndex) {
    static constexpr PixelLayout kLayouts[kPixelFormatCount] = {
        PixelLayout::kBgr555, PixelLayout::kBgr24, PixelLayout::kBgrx32, PixelLayout::kGrey8, PixelLayout::kFour8};
    return kLayouts[formatIndex];
}

}  // namespace

FrameColour PlainColour(int16_t colorSpace) {
    switch (colorSpace) {
        case 0: return FrameColour::kYCbCr;
        case 1: return FrameColour::kGrey;
        case 3: return FrameColour::kCmyk;
        default: return FrameColour::kLegacy;
    }
}

Status PlanFrameLayout(const AppVexParams& params, FrameColour colour, const FrameChoices& choices,
                       FrameLayout* layout, bool* generic) {
    *generic = false;
    uint16_t formatIndex = 0;
    const bool knownFormat = MatchPixelFormat(params.pixelModel, &params.pixelFormat, &formatIndex) == 0;
    // Four channels as coded: a YCCK frame's components are then passed on
    // as a CMYK frame's are.
    if (choices.rawComponents && colour == FrameColour::kYcck && knownFormat &&
        LayoutOfFormat(formatIndex) == PixelLayout::kFour8)
        colour = FrameColour::kCmyk;
    // The fixed routines make YCbCr, grey and the raw channels of CMYK: for
    // such a frame in the table, they are the decoder.
    const bool fixedColour =
        colour == FrameColour::kYCbCr || colour == FrameColour::kGrey || colour == FrameColour::kCmyk;
    if (colour == FrameColour::kLegacy || (fixedColour && InTable(params))) return 0;

    if (params.colorSpace < 0 || params.colorSpace > 3) return VEX_ERR_COLOR_SPACE;
    const int components = kColorSpaceComponents[params.colorSpace];
    FrameLayout plan{};
    plan.colour = colour;
    plan.saturating = choices.saturating;
    plan.componentCount = uint8_t(components);
    plan.hMax = 1;
    plan.vMax = 1;
    int blocks = 0;
    for (int c = 0; c < components; ++c) {
        const uint16_t h = params.sampling.h[c], v = params.sampling.v[c];
        if (h < 1 || h > 4 || v < 1 || v > 4) return VEX_ERR_SAMPLING;
        // A lone component's scan is not interleaved: one block per MCU,
        // whatever factors it declares.
        plan.h[c] = uint8_t(components == 1 ? 1 : h);
        plan.v[c] = uint8_t(components == 1 ? 1 : v);
        plan.hMax = std::max(plan.hMax, plan.h[c]);
        plan.vMax = std::max(plan.vMax, plan.v[c]);
        blocks += plan.h[c] * plan.v[c];
    }
    if (blocks > kMaxBlocksPerMcu) return VEX_ERR_SAMPLING;
    // Replication needs each sample to cover whole pixels: a component whose
    // factors do not divide the largest ones (3 next to 2) would need
    // resampling, which libjpeg refuses as well; so is it refused here.
    for (int c = 0; c < components; ++c) {
        if (plan.hMax % plan.h[c] != 0 || plan.vMax % plan.v[c] != 0) return VEX_ERR_SAMPLING;
    }
    Q_TRY(MatchPixelFormat(params.pixelModel, &params.pixelFormat, &formatIndex));
    plan.pixels = LayoutOfFormat(formatIndex);
    if (!Reaches(colour, plan.pixels)) return VEX_ERR_UNSUPPORTED;
    *layout = plan;
    *generic = true;
    return 0;
}

void FillLayoutFormat(const FrameLayout& layout, FormatInfo* format) {
    static constexpr uint16_t kIndex[] = {3, 0, 1, 2, 4};  // PixelLayout to pixel-format index
    const uint16_t index = kIndex[int(layout.pixels)];
    *format = FormatInfo{};
    format->samplingIndex = kSamplingCount;  // none of the table's
    format->bytesPerPixel = kPixelFormats[index].bytesPerPixel;
    format->componentCount = layout.componentCount;
    format->mcuWidth = uint16_t(8 * layout.hMax);
    format->mcuHeight = uint16_t(8 * layout.vMax);
    format->mcuRowBytes = uint16_t(format->mcuWidth * format->bytesPerPixel);
    for (int c = 0; c < layout.componentCount && c < 4; ++c)
        format->blocksPerComponent[c] = uint16_t(layout.h[c] * layout.v[c]);
}

namespace {

using Block = int16_t[64];
using SampleRows = int16_t[4][kMaxMcuColumns];

inline uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

template <int kBytes>
inline void PutBgr(uint8_t* p, int blue, int green, int red) {
    if constexpr (kBytes == 2) {
        const uint16_t word = uint16_t((red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3));
        p[0] = uint8_t(word);
        p[1] = uint8_t(word >> 8);
    } else {
        p[0] = uint8_t(blue);
        p[1] = uint8_t(green);
        p[2] = uint8_t(red);
    }
}

// YCbCr to red, green and blue as JFIF 1.02 gives them, in 16-bit fixed
// point: the YCCK transform's first step, which is libjpeg's arithmetic so
// that the inks come out as Adobe's applications meant them.
struct Rgb {
    int red, green, blue;
};
inline Rgb JfifRgb(int luma, int cb, int cr) {
    cb -= 128;
    cr -= 128;
    return Rgb{Clamp255(luma + ((91881 * cr + 32768) >> 16)),
               Clamp255(luma + ((-22554 * cb - 46802 * cr + 32768) >> 16)),
               Clamp255(luma + ((116130 * cb + 32768) >> 16))};
}

// Every conversion starts from the level the fixed routines give, (s >> 8) +
// 128, so that the light of a CMYK frame is exactly that of the bytes its
// four-channel output holds.
//
// Four-component files hold CMYK as Adobe's applications write it: inverted,
// 255 meaning no ink. djpeg passes the samples on as they are, and
// ImageMagick reads every four-component file so (with or without the Adobe
// segment); so does this library. The light that passes an ink is its
// inverted value over 255 of what passes the black: red = C' x K' / 255,
// rounded to the nearest level.
inline int Light(int inverted, int blackInverted) { return (inverted * blackInverted + 127) / 255; }

// The four stored (inverted) CMYK samples of a pixel of a YCCK or CMYK frame.
struct Inks {
    int c, m, y, k;
};
inline Inks InksOf(FrameColour colour, int16_t s0, int16_t s1, int16_t s2, int16_t s3) {
    if (colour == FrameColour::kYcck) {
        // YCbCr of the complements of the stored C, M and Y; K as stored.
        const Rgb rgb = JfifRgb(Level(s0), Level(s1), Level(s2));
        return Inks{255 - rgb.red, 255 - rgb.green, 255 - rgb.blue, Level(s3)};
    }
    return Inks{Level(s0), Level(s1), Level(s2), Level(s3)};
}

// Grey frames keep the fixed grey routine's level, so that a lone component
// declaring larger factors decodes exactly as it would with 1 x 1.
void WriteGreyRow(uint8_t* out, const int16_t* s, int width) {
    for (int x = 0; x < width; ++x) out[x] = Level(s[x]);
}

// Two, three or four bytes per pixel: blue, green, red (and a fourth byte
// left as it is), 5-5-5 words, or the four CMYK samples.
template <int kBytes>
void WriteRow(const FrameLayout& layout, uint8_t* out, const SampleRows& s, int width) {
    switch (layout.colour) {
        case FrameColour::kGrey:
            for (int x = 0; x < width; ++x, out += kBytes) {
                const uint8_t level = Level(s[0][x]);
                PutBgr<kBytes>(out, level, level, level);
            }
            break;
        case FrameColour::kYCbCr:
            // The fixed routines' conversion, wrapping or clamping alike.
            for (int x = 0; x < width; ++x, out += kBytes) {
                const ChromaTerms t = TermsOf(s[1][x], s[2][x]);
                if (layout.saturating) {
                    PutPixel<kBytes, ColourOutput::kSaturating>(out, s[0][x], t);
                } else {
                    PutPixel<kBytes, ColourOutput::kWrapping>(out, s[0][x], t);
                }
            }
            break;
        case FrameColour::kRgb:
            for (int x = 0; x < width; ++x, out += kBytes)
                PutBgr<kBytes>(out, Level(s[2][x]), Level(s[1][x]), Level(s[0][x]));
            break;
        case FrameColour::kCmyk:
        case FrameColour::kYcck:
            for (int x = 0; x < width; ++x, out += kBytes) {
                const Inks i = InksOf(layout.colour, s[0][x], s[1][x], s[2][x], s[3][x]);
                if constexpr (kBytes == 4) {
                    if (layout.pixels == PixelLayout::kFour8) {
                        out[0] = uint8_t(i.c);
                        out[1] = uint8_t(i.m);
                        out[2] = uint8_t(i.y);
                        out[3] = uint8_t(i.k);
                        continue;
                    }
                }
                PutBgr<kBytes>(out, Light(i.y, i.k), Light(i.m, i.k), Light(i.c, i.k));
            }
            break;
        default:
            break;
    }
}

}  // namespace

void OutputAnySampling(const FrameLayout& layout, uint8_t* const* rows, const int16_t (*blocks)[64]) {
    const int width = 8 * layout.hMax;
    const int height = 8 * layout.vMax;
    int first[4] = {0, 0, 0, 0};
    for (int c = 1; c < layout.componentCount; ++c) first[c] = first[c - 1] + layout.h[c - 1] * layout.v[c - 1];
    SampleRows samples;
    for (int y = 0; y < height; ++y) {
        for (int c = 0; c < layout.componentCount; ++c) {
            // Each sample covers stepX x stepY pixels.
            const int stepX = layout.hMax / layout.h[c];
            const int sy = y / (layout.vMax / layout.v[c]);
            const Block* row = blocks + first[c] + (sy >> 3) * layout.h[c];
            const int within = (sy & 7) * 8;
            int16_t* out = samples[c];
            for (int sx = 0; sx < 8 * layout.h[c]; ++sx) {
                const int16_t value = row[sx >> 3][within + (sx & 7)];
                for (int k = 0; k < stepX; ++k) *out++ = value;
            }
        }
        switch (layout.pixels) {
            case PixelLayout::kGrey8: WriteGreyRow(rows[y], samples[0], width); break;
            case PixelLayout::kBgr555: WriteRow<2>(layout, rows[y], samples, width); break;
            case PixelLayout::kBgr24: WriteRow<3>(layout, rows[y], samples, width); break;
            case PixelLayout::kBgrx32:
            case PixelLayout::kFour8: WriteRow<4>(layout, rows[y], samples, width); break;
        }
    }
}

}  // namespace q32vex
