// Stepping over a JPEG file's marker segments up to its first scan.
#include "jpeg_frame.h"

namespace vexjpeg {

bool ReadJpegFrame(InputFile& in, JpegFrame* frame) {
    *frame = JpegFrame();
    in.Seek(0);
    uint8_t b[8];
    if (in.Read(b, 2) != 2 || b[0] != 0xFF || b[1] != 0xD8) return false;
    uint64_t pos = 2;
    for (int count = 0; count < 4096; ++count) {
        in.Seek(pos);
        if (in.Read(b, 2) != 2 || b[0] != 0xFF) return frame->sof != 0;
        const uint8_t marker = b[1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9) return frame->sof != 0;
        if (in.Read(b, 2) != 2) return frame->sof != 0;
        const uint32_t length = uint32_t(b[0]) << 8 | b[1];
        if (length < 2) return frame->sof != 0;
        frame->segments.push_back({marker, length});
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && frame->sof == 0 && length >= 8) {
            uint8_t h[6];
            if (in.Read(h, 6) != 6) return false;
            frame->sof = marker;
            frame->precision = h[0];
            frame->height = h[1] << 8 | h[2];
            frame->width = h[3] << 8 | h[4];
            for (int c = 0; c < h[5] && uint32_t(8 + 3 * c + 3) <= length; ++c) {
                uint8_t e[3];
                if (in.Read(e, 3) != 3) break;
                frame->components.push_back({e[0], e[1] >> 4, e[1] & 15, e[2]});
            }
        }
        if (marker == 0xDA) return frame->sof != 0;
        pos += 2 + length;
    }
    return frame->sof != 0;
}

std::string ProcessName(uint8_t sof) {
    static const char* const kNames[16] = {
        "baseline",
        "extended sequential",
        "progressive",
        "lossless",
        "",
        "hierarchical extended sequential",
        "hierarchical progressive",
        "hierarchical lossless",
        "",
        "extended sequential, arithmetic-coded",
        "progressive, arithmetic-coded",
        "lossless, arithmetic-coded",
        "",
        "hierarchical extended sequential, arithmetic-coded",
        "hierarchical progressive, arithmetic-coded",
        "hierarchical lossless, arithmetic-coded",
    };
    return sof >= 0xC0 && sof <= 0xCF ? kNames[sof - 0xC0] : "";
}

std::string UnsupportedProcess(const JpegFrame& frame) {
    if (frame.sof == 0) return "";
    const std::string tag = " (SOF" + std::to_string(frame.sof - 0xC0) + ")";
    if (frame.sof != 0xC0 && frame.sof != 0xC1 && frame.sof != 0xC2)
        return ProcessName(frame.sof) + " JPEG" + tag + ": not supported by this codec";
    if (frame.precision != 8)
        return std::to_string(frame.precision) + "-bit JPEG" + tag + ": not supported by this codec (8-bit samples only)";
    return "";
}

}  // namespace vexjpeg
