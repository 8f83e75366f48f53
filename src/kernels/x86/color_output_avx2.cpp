// MCU output routines for processors with AVX2; the same pixels as the
// table-driven routines, eight at a time, with either colour output.
#include "kernels/x86/color_output_simd.h"
#include "kernels/x86/x86_kernels.h"

namespace q32vex {

McuOutputRoutine ChooseOutputRoutineAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    return ChooseVectorOutput<ColourOutput::kWrapping>(samplingIndex, bytesPerPixel);
}
McuOutputRoutine ChooseSaturatingOutputRoutineAvx2(uint16_t samplingIndex, uint16_t bytesPerPixel) {
    return ChooseVectorOutput<ColourOutput::kSaturating>(samplingIndex, bytesPerPixel);
}

}  // namespace q32vex
