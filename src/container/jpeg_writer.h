// JFIF header (SOI, APP0, COM, DQT, DRI, APPn, DHT, SOF0, SOS) and trailer.
#pragma once
#include "common/status.h"

namespace q32vex {

struct StreamBuffer;

[[nodiscard]] Status WriteJpegHeader(StreamBuffer& out, const AppVexParams* params);
[[nodiscard]] Status WriteJpegTrailer(StreamBuffer& out);
// SOI to SOS for bare entropy-coded data compressed with `params`.
[[nodiscard]] Status WriteRawStreamHeader(StreamBuffer& out, const AppVexParams* params);

}  // namespace q32vex
