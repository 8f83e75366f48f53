// The decompression sequence on a codec instance: the header read, the open
// and the band calls behind AppVexGetCompInfo, AppVexDecompressBuffInit and
// AppVexDecompressBuff.
#pragma once
#include "interface/codec.h"

namespace q32vex {

// Reads the header of a JPEG or TIFF stream into the record.
[[nodiscard]] Status ReadStreamInfo(Codec& codec, AppVexParams* params);
// Reads the header again from stream position 0, validates and sets up the
// decoder; writes back the whole record.
[[nodiscard]] Status OpenDecompression(Codec& codec, AppVexParams* params);
// Decodes bands until one holds rows of the window; *filled is that band's
// part of the window (x0 = 1, x1 = 0 when nothing is left).
[[nodiscard]] Status DecompressBand(Codec& codec, uint8_t** rows, BandRect* filled);

}  // namespace q32vex
