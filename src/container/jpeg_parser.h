// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the codec's table slots.
#pragma once
#include "common/status.h"

namespace q32vex {

struct InputBuffer;
struct TableSlots;

// Reads from the input's current position; the tables go into `slots`, to
// which the record's table pointers already point.
[[nodiscard]] Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params);

}  // namespace q32vex
