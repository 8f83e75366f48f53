// Pixel-format and sampling tables, the support matrix, and the matching that
// turns a host's descriptors into table indices and per-sequence constants.
#pragma once
#include <cstdint>

#include "common/record_enums.h"
#include "common/status.h"

namespace q32vex {

struct PixelFormatEntry {
    PixelFormatDesc desc;
    uint16_t channels;
    uint16_t bytesPerPixel;
};

struct SamplingEntry {
    SamplingDesc desc;
    uint16_t components;
    uint16_t mcuWidth;
    uint16_t mcuHeight;
};

// Per-sequence format constants: MatchFormat's result.
struct FormatInfo {
    uint16_t samplingIndex;
    uint16_t bytesPerPixel;
    uint16_t componentCount;
    uint16_t mcuWidth;
    uint16_t mcuHeight;
    uint16_t mcuRowBytes;
    uint16_t blocksPerComponent[4];
};

constexpr int kPixelFormatCount = 5;
constexpr int kSamplingCount = 7;
constexpr uint16_t kMaxPassMcus = 2047;

extern const PixelFormatEntry kPixelFormats[kPixelFormatCount];
extern const SamplingEntry kSamplings[kSamplingCount];
extern const uint16_t kSupportMatrix[kPixelFormatCount][kSamplingCount];
// Channels per pixel model, indexed by its record value.
extern const uint16_t kModelChannels[kPixelModelCount];
// Compressed components per colour space 0..3.
extern const uint16_t kColorSpaceComponents[4];

[[nodiscard]] Status BitsPerPixel(int16_t pixelModel, const PixelFormatDesc* format,
                                  uint16_t* bits);
// The row of the pixel-format table that `format` is under `pixelModel`.
[[nodiscard]] Status MatchPixelFormat(int16_t pixelModel, const PixelFormatDesc* format, uint16_t* index);
// Finds the table rows of the two descriptors and fills *info from them,
// with the support value (maximum MCUs per pass, 0 where the pair is not
// supported) in *support. On a failure *info may be partly written.
[[nodiscard]] Status MatchFormat(uint32_t direction, int16_t pixelModel,
                                 const PixelFormatDesc* format, int16_t colorSpace,
                                 const SamplingDesc* sampling, FormatInfo* info, uint16_t* support);
// AppVexGetMcuDims without the export wrapper.
[[nodiscard]] Status GetMcuDims(int16_t colorSpace, const SamplingDesc* sampling,
                                uint16_t* mcuWidth, uint16_t* mcuHeight);

}  // namespace q32vex
