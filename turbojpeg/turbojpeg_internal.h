// Small pieces the TurboJPEG layer shares between its files.
#pragma once
#include <cstddef>
#include <cstdint>

namespace q32vex_tj {

// What kind of JPEG file this is, when the codec does not read that kind
// ("progressive JPEG (SOF2)"); null for baseline files and non-JPEG bytes.
const char* FrameKind(const uint8_t* data, size_t size);

// The pixel format TurboJPEG 1.0 meant by a pixel size and its TJ_BGR and
// TJ_ALPHAFIRST flags; -1 for a size it did not know.
int LegacyPixelFormat(int pixelSize, int flags);

// Records "call(): message" as the calling thread's last error; returns -1.
int FailLoad(const char* call, const char* message);

}  // namespace q32vex_tj
