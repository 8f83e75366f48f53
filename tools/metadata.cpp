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

FourComponents FourComponentsOf(const std::vector<q32vex::Segment>& segments) {
    // Adobe APP14: "Adobe", version (2 bytes), flags (2 + 2), transform.
    for (const q32vex::Segment& s : segments)
        if (s.marker == 0xEE && s.data.size() >= 12 && Starts(s.data, "Adobe", 5))
            return s.data[11] == 2 ? FourComponents::Ycck : FourComponents::Cmyk;
    return FourComponents::Cmyk;
}

namespace {

// The one place where four-component samples become light.
//
// Four-component JPEG files hold CMYK the way Adobe's applications write it:
// inverted, 255 meaning no ink and 0 full ink (libjpeg writes the Adobe
// segment that says so for every CMYK file it makes). djpeg and ImageMagick
// read every four-component file that way, with or without the Adobe
// segment, and so does this tool. (Pillow takes a file without the segment
// as plain ink amounts; files this library writes carry no Adobe segment, so
// hosts that want Pillow's reading store their channels inverted.)
//
// With inverted samples C' = 255 - C and K' = 255 - K, the light a colour
// lets through is C'/255 of what black lets through:
//     red = C' * K' / 255, green = M' * K' / 255, blue = Y' * K' / 255,
// rounded to the nearest level.
inline uint8_t Light(unsigned inverted, unsigned blackInverted) {
    return uint8_t((inverted * blackInverted + 127) / 255);
}

inline uint8_t Clamp(int v) { return uint8_t(std::clamp(v, 0, 255)); }

}  // namespace

void FourRowToBgr24(const uint8_t* in, FourComponents kind, int width, uint8_t* out) {
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned c = in[0], m = in[1], y = in[2];
        if (kind == FourComponents::Ycck) {
            // YCbCr (JFIF's equations, 16-bit fixed point) gives red, green
            // and blue whose complements are the inverted C, M and Y.
            const int luma = in[0], cb = in[1] - 128, cr = in[2] - 128;
            c = 255u - Clamp(luma + ((91881 * cr + 32768) >> 16));
            m = 255u - Clamp(luma + ((-22554 * cb - 46802 * cr + 32768) >> 16));
            y = 255u - Clamp(luma + ((116130 * cb + 32768) >> 16));
        }
        out[0] = Light(y, in[3]);
        out[1] = Light(m, in[3]);
        out[2] = Light(c, in[3]);
    }
}

}  // namespace vexjpeg
