// What travels with the pixels between image files and JPEG files: the ICC
// colour profile (JPEG APP2 "ICC_PROFILE" segments, PNG iCCP) and the Exif
// block (JPEG APP1 "Exif", PNG eXIf), and the Adobe APP14 segment that says
// how a four-component file's samples are meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "q32vex.hpp"

namespace vexjpeg {

struct Metadata {
    std::vector<uint8_t> icc;   // the whole profile, as ICC.1 lays it out
    std::vector<uint8_t> exif;  // the Exif block from its TIFF header on ("II*\0" or "MM\0*")
};

// The profile and Exif block carried by a JPEG file's segments. A profile is
// taken only when its chunks agree on their count and each sequence number
// from 1 to the count is present once (ICC.1 Annex B.4); otherwise, and when
// there is none, `icc` stays empty.
Metadata MetadataFromSegments(const std::vector<q32vex::Segment>& segments);

// The APP1 and APP2 segments (data after the length field) that carry
// `metadata` in a JPEG file. The library's header writer takes one segment
// per marker, whose size it counts in 16 bits with the marker and length
// field: a profile must fit one APP2 segment, at most kMaxIccBytes bytes.
std::vector<q32vex::Segment> JpegSegments(const Metadata& metadata);
constexpr size_t kMaxIccBytes = 65535 - 4 - 14;   // one segment less the "ICC_PROFILE\0" n/N header
constexpr size_t kMaxExifBytes = 65535 - 4 - 6;   // one segment less the "Exif\0\0" identifier

// The colour space an ICC profile describes ("RGB ", "GRAY", "CMYK", ...),
// or "" when the bytes are not an ICC profile.
std::string IccColourSpace(const std::vector<uint8_t>& icc);

}  // namespace vexjpeg
