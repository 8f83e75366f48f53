// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the library's table slots.
#pragma once
#include "interface/status.h"

namespace q32vex {

[[nodiscard]] Status ParseJpegHeader(AppVexParams* params);

}  // namespace q32vex
