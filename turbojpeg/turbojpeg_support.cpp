// Frame kinds and the pixel formats of the TurboJPEG 1.0 calls.
#include <turbojpeg.h>

#include "turbojpeg_internal.h"

namespace q32vex_tj {

const char* FrameKind(const uint8_t* data, size_t size) {
    static const char* const kKinds[16] = {
        nullptr,
        "extended sequential JPEG (SOF1)",
        nullptr,  // progressive: read
        "lossless JPEG (SOF3)",
        nullptr,
        "hierarchical JPEG (SOF5)",
        "hierarchical progressive JPEG (SOF6)",
        "hierarchical lossless JPEG (SOF7)",
        nullptr,
        "arithmetic-coded JPEG (SOF9)",
        "arithmetic-coded progressive JPEG (SOF10)",
        "arithmetic-coded lossless JPEG (SOF11)",
        nullptr,
        "arithmetic-coded hierarchical JPEG (SOF13)",
        "arithmetic-coded hierarchical progressive JPEG (SOF14)",
        "arithmetic-coded hierarchical lossless JPEG (SOF15)",
    };
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return nullptr;
    // Step over the marker segments before the frame header (ITU-T T.81
    // B.1.1.4: fill bytes 0xFF may come before any marker).
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return nullptr;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xC0) return at + 4 < size && data[at + 4] != 8 ? "JPEG of more than 8 bits per sample" : nullptr;
        if (marker > 0xC0 && marker <= 0xCF) {
            const char* kind = kKinds[marker - 0xC0];
            if (kind != nullptr) return kind;
        }
        if (marker == 0xDA || marker == 0xD9) return nullptr;
        at += 2 + size_t(data[at + 2] << 8 | data[at + 3]);
    }
    return nullptr;
}

int LegacyPixelFormat(int pixelSize, int flags) {
    const bool bgr = (flags & TJ_BGR) != 0;
    const bool alphaFirst = (flags & TJ_ALPHAFIRST) != 0;
    switch (pixelSize) {
        case 1: return TJPF_GRAY;
        case 3: return bgr ? TJPF_BGR : TJPF_RGB;
        case 4:
            if (alphaFirst) return bgr ? TJPF_XBGR : TJPF_XRGB;
            return bgr ? TJPF_BGRX : TJPF_RGBX;
        default: return -1;
    }
}

}  // namespace q32vex_tj
