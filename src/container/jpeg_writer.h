// JFIF header (SOI, APP0, COM, DQT, DRI, APPn, DHT, SOF0, SOS) and trailer.
#pragma once
#include "common/status.h"

namespace q32vex {

struct StreamBuffer;

[[nodiscard]] Status WriteJpegHeader(StreamBuffer& out, const AppVexParams* params);
[[nodiscard]] Status WriteJpegTrailer(StreamBuffer& out);

}  // namespace q32vex
