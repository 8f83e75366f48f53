// The compression sequence on a codec instance: the open and the band calls
// behind AppVexCompressBuffInit and AppVexCompressBuff.
#pragma once
#include "interface/codec.h"

namespace q32vex {

// Validates the host's record, prepares tables, geometry, engine and the
// container header; writes back the chosen band size.
[[nodiscard]] Status OpenCompression(Codec& codec, AppVexParams* host);
// Codes the band in `rows` and names the next one in *next (x0 = 1, x1 = 0
// after the last).
[[nodiscard]] Status CompressBand(Codec& codec, uint8_t** rows, BandRect* next);

}  // namespace q32vex
