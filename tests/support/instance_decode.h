// Whole-picture decodes on codec instances (the modern face) and the helpers
// the suites that check them against the peer codecs share: a JFIF decoding
// record, decoded pixels as PPM samples, jpegtran as a stream rewriter.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {

// An instance with the given VEX_OPTION_ values switched on; optionStatus is
// the first non-zero status of setting them.
struct Instance {
    explicit Instance(std::initializer_list<int> options = {});
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    VexCodec* codec;
    int16_t optionStatus = 0;
};

// A decoding record for JFIF streams; three-component pictures come out in
// `formatIndex` (grey ones as grey bytes, which the header sets).
AppVexParams JfifReadParams(int formatIndex = 1);

// Header, then the whole picture through the one-call form into *out.
int16_t DecodeOnInstance(VexCodec* codec, const std::vector<uint8_t>& stream, AppVexParams p, Image* out);

// The legacy exports (header read and open, 4096-byte input chunks) and a
// plain instance refuse `stream` with VEX_ERR_CONTAINER.
void ExpectLegacyRefusal(const std::vector<uint8_t>& stream);


// PSNR of a decode of `jpeg` against `djpeg -dct int -nosmooth` of it; -1 when
// djpeg fails or the shapes differ.
double PsnrAgainstDjpeg(const Image& decoded, const std::vector<uint8_t>& jpeg);

// jpegtran with `options` on `input`; empty when it fails.
std::vector<uint8_t> Jpegtran(const std::string& options, const std::vector<uint8_t>& input);

// A crop of tests/data/photo1.ppm in a temporary file named after `name`;
// a width of 0 gives the whole photo's own path. Empty when it fails.
std::string PhotoCrop(const std::string& name, int x, int y, int width, int height);

// `text` in a temporary file of that name; its path.
std::string WriteText(const std::string& name, const std::string& text);

}  // namespace vextest
