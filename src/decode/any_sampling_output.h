// Frames beyond the fixed sampling table: any factors from 1 to 4 with at
// most ten blocks per MCU, and the colour transforms other than YCbCr (RGB
// coded as it is, CMYK, YCCK). One generic output routine makes their pixels
// from the MCU's blocks in engine order; the frames the table covers keep
// their fixed routines.
#pragma once
#include <cstdint>

#include "common/engine_params.h"
#include "common/format.h"
#include "common/status.h"

namespace q32vex {

// What the components of a frame without the JFIF reader's description are
// (a TIFF file's, bare entropy-coded data): grey, YCbCr or CMYK by their
// count, as the fixed routines take them.
FrameColour PlainColour(int16_t colorSpace);

// What the host chose for such frames.
struct FrameChoices {
    bool saturating;     // channels clamped, not wrapped
    bool rawComponents;  // four-channel output holds YCCK as coded, not as CMYK
};

// Decides how the frame of `params` (factors and component count as its
// header gave them, the host's pixel format) with the colour transform
// `colour` is decoded. *generic is false when the fixed routine of a sampling
// index makes exactly these pixels (the frame then goes the legacy way, which
// also gives its refusals); otherwise *layout describes the frame for
// OutputAnySampling. VEX_ERR_SAMPLING for factors outside 1..4, more than ten
// blocks per MCU, or factors that do not divide the largest ones;
// VEX_ERR_UNSUPPORTED for a pixel format the frame's colours do not go to.
[[nodiscard]] Status PlanFrameLayout(const AppVexParams& params, FrameColour colour, const FrameChoices& choices,
                                     FrameLayout* layout, bool* generic);

// The per-sequence format constants of a planned frame.
void FillLayoutFormat(const FrameLayout& layout, FormatInfo* format);

// One MCU: the blocks of each component in turn, each component's in raster
// order, to 8 x hMax by 8 x vMax pixels of the layout's pixel format in
// `rows`. Samples of smaller components are replicated over the pixels they
// cover.
void OutputAnySampling(const FrameLayout& layout, uint8_t* const* rows, const int16_t (*blocks)[64]);

}  // namespace q32vex
