// Colour converters for processors with SSE2; the same blocks as the
// table-driven converters, eight pixels at a time.
#include "kernels/x86/color_convert_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

McuConverter ChooseConverterSse2(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    return ChooseVectorConverter(samplingIndex, bytesPerPixel);
}

}  // namespace q32vex
