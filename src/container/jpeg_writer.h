// JFIF header (SOI, APP0, COM, DQT, DRI, APPn, DHT, SOF0, SOS) and trailer.
#pragma once
#include "interface/status.h"

namespace q32vex {

[[nodiscard]] Status WriteJpegHeader(const AppVexParams* params);
[[nodiscard]] Status WriteJpegTrailer();

}  // namespace q32vex
