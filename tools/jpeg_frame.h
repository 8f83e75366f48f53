// The frame header of any JPEG file, found by stepping over its marker
// segments: which coding process it uses (T.81 SOF0..SOF15), its precision,
// size and components, and the segments met before the first scan. The tool
// names what the codec does not decode, and describes such files, with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

namespace vexjpeg {

struct JpegFrame {
    uint8_t sof = 0;  // 0xC0..0xCF, 0 when no frame header came before the first scan
    int precision = 0, width = 0, height = 0;
    struct Component {
        int id, h, v, table;
    };
    std::vector<Component> components;
    std::vector<std::pair<uint8_t, uint32_t>> segments;  // marker and length, in order
};

// Reads the header of a JPEG file from its start (the input must seek).
// False when the bytes are not a marker stream.
bool ReadJpegFrame(InputFile& in, JpegFrame* frame);

// "baseline", "extended sequential", "progressive", "lossless", and their
// arithmetic-coded and hierarchical forms.
std::string ProcessName(uint8_t sof);

// Empty when the codec decodes this frame; else what to
// tell the user, such as "lossless JPEG (SOF3): not supported by this codec".
// Baseline and progressive files at 8 bits are decoded.
std::string UnsupportedProcess(const JpegFrame& frame);

}  // namespace vexjpeg
