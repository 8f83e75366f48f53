#include "metadata.h"

#include <algorithm>
#include <cstring>

namespace vexjpeg {

namespace {

const char kIccId[] = "ICC_PROFILE";  // with its zero byte: 12 bytes
const char kExifId[] = "Exif\0";      // with the zero byte: "Exif\0\0", 6 bytes
constexpr size_t kIccHeader = 14;     // identifier, sequence number, count
constexpr size_t kExifHeader = 6;

bool Starts(const std::vector<uint8_t>& data, const char* id, size_t n) {
    return data.size() >= n && std::memcmp(data.data(), id, n) == 0;
}

}  // namespace

Metadata MetadataFromSegments(const std::vector<q32vex::Segment>& segments) {
    Metadata m;
    std::vector<const q32vex::Segment*> chunks;
    int count = 0;
    bool consistent = true;
    for (const q32vex::Segment& s : segments) {
        if (s.marker == 0xE1 && m.exif.empty() && Starts(s.data, kExifId, kExifHeader))
            m.exif.assign(s.data.begin() + kExifHeader, s.data.end());
        if (s.marker != 0xE2 || !Starts(s.data, kIccId, 12) || s.data.size() < kIccHeader) continue;
        const int sequence = s.data[12], total = s.data[13];
        if (count == 0) count = total;
        if (total != count || sequence < 1 || sequence > total) consistent = false;
        chunks.push_back(&s);
    }
    if (!consistent || chunks.size() != size_t(count)) return m;
    // The chunks in sequence order; a number missing or given twice leaves
    // the profile out rather than guessing at it.
    std::vector<const q32vex::Segment*> ordered(size_t(count), nullptr);
    for (const q32vex::Segment* s : chunks) {
        const q32vex::Segment*& slot = ordered[size_t(s->data[12] - 1)];
        if (slot != nullptr) return m;
        slot = s;
    }
    for (const q32vex::Segment* s : ordered) m.icc.insert(m.icc.end(), s->data.begin() + kIccHeader, s->data.end());
    return m;
}

std::vector<q32vex::Segment> JpegSegments(const Metadata& metadata) {
    std::vector<q32vex::Segment> out;
    if (!metadata.exif.empty()) {
        q32vex::Segment s;
        s.marker = 0xE1;
        s.data.assign(kExifId, kExifId + kExifHeader);
        s.data.insert(s.data.end(), metadata.exif.begin(), metadata.exif.end());
        out.push_back(std::move(s));
    }
    if (!metadata.icc.empty()) {
        q32vex::Segment s;
        s.marker = 0xE2;
        s.data.assign(kIccId, kIccId + 12);
        s.data.push_back(1);  // chunk 1 of 1
        s.data.push_back(1);
        s.data.insert(s.data.end(), metadata.icc.begin(), metadata.icc.end());
        out.push_back(std::move(s));
    }
    return out;
}

std::string IccColourSpace(const std::vector<uint8_t>& icc) {
    // ICC.1 header: the profile's size at 0, its data colour space at 16 and
    // the signature "acsp" at 36.
    if (icc.size() < 128 || std::memcmp(&icc[36], "acsp", 4) != 0) return "";
    return std::string(icc.begin() + 16, icc.begin() + 20);
}

}  // namespace vexjpeg
