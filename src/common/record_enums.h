// Names for the coded values of the host record's fields. The numbers are the
// record's own and never change; the library names them, hosts keep the
// constants of q32vex.h.
#pragma once
#include <cstdint>

#include "q32vex.h"

namespace q32vex {

// `pixelModel`: the host's pixel layout, with 3, 1 and 4 channels.
enum class PixelModel : int16_t { kColour = 0, kGrey = 1, kFourChannel = 2 };
constexpr int kPixelModelCount = 3;
constexpr bool IsPixelModel(int16_t value) { return value >= 0 && value < kPixelModelCount; }

// `containerKind`: what surrounds the entropy-coded data.
enum class ContainerKind : int16_t {
    kRaw = VEX_CONTAINER_RAW,    // the data alone, no header or trailer
    kJfif = VEX_CONTAINER_JFIF,  // a JPEG interchange stream with a JFIF header
    kTiff = VEX_CONTAINER_TIFF,  // a tiled TIFF file whose tiles hold the data
};

// The record's value of a named one.
constexpr int16_t RecordValue(PixelModel model) { return static_cast<int16_t>(model); }
constexpr int16_t RecordValue(ContainerKind kind) { return static_cast<int16_t>(kind); }

}  // namespace q32vex
