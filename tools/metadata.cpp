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

// ---- compression with segments ---------------------------------------------------

namespace {

// The library's callbacks carry no user pointer: the segments of the one
// compression in flight are reached through this.
struct SegmentSource {
    const std::vector<q32vex::Segment>* segments = nullptr;
    const std::string* comment = nullptr;
};
SegmentSource* g_source = nullptr;

// Asked once for every marker from APP0 to APP15 and then COM. The size
// handed back counts the whole segment, marker and length field included;
// 0 writes nothing (for APP0: the plain JFIF segment, no thumbnail).
int16_t VEXAPI GiveSegment(uint8_t marker, uint16_t* size, uint16_t* bufferLength, uint8_t** data) {
    *size = 0;
    *bufferLength = 0;
    if (g_source == nullptr || marker == 0xE0) return 0;
    const uint8_t* bytes = nullptr;
    size_t n = 0;
    if (marker == 0xFE && g_source->comment && !g_source->comment->empty()) {
        bytes = reinterpret_cast<const uint8_t*>(g_source->comment->data());
        n = g_source->comment->size();
    }
    for (const q32vex::Segment& s : *g_source->segments) {
        if (s.marker == marker) {
            bytes = s.data.data();
            n = s.data.size();
        }
    }
    if (bytes == nullptr || n > 65535 - 4) return 0;
    *size = uint16_t(n + 4);
    *bufferLength = uint16_t(n);
    *data = const_cast<uint8_t*>(bytes);
    return 0;
}

}  // namespace

void CompressWithSegments(int width, int height, q32vex::PixelFormat format, const q32vex::CompressOptions& options,
                          const q32vex::RowSource& source, const q32vex::Writer& writer,
                          const std::vector<q32vex::Segment>& segments) {
    if (segments.empty() || options.container != q32vex::Container::Jfif)
        return q32vex::compress(width, height, format, options, source, writer);
    namespace detail = q32vex::detail;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        throw q32vex::Error(VEX_ERR_IMAGE_SIZE, "image size must be 1 to 65535 pixels each way");

    // The record as q32vex::compress fills it for a JFIF file.
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(width);
    p.height = uint16_t(height);
    int16_t model = 0, colorSpace = 0;
    p.pixelFormat = detail::format_desc(format, &model);
    p.pixelModel = model;
    const q32vex::Sampling sampling = options.has_sampling                      ? options.sampling
                                      : format == q32vex::PixelFormat::Gray8   ? q32vex::Sampling::Gray
                                      : format == q32vex::PixelFormat::Four8   ? q32vex::Sampling::Four444
                                                                               : q32vex::Sampling::S422;
    p.sampling = detail::sampling_desc(sampling, &colorSpace);
    p.colorSpace = colorSpace;
    p.quality = uint16_t(std::clamp(options.quality, 0, 65535));
    detail::ScaledTables scaled;
    if (options.jpeg_quality > 0) {
        detail::libjpeg_tables(options.jpeg_quality, colorSpace, &scaled);
        p.quality = 50;
    }
    p.containerKind = VEX_CONTAINER_JFIF;
    p.restartInterval = uint16_t(std::clamp(options.restart_interval, 0, 65535));
    p.densityUnits = options.density_units;
    p.xDensity = options.x_density;
    p.yDensity = options.y_density;
    for (int c = 0; c < 4; ++c) {
        if (options.quant_tables[c]) p.qTables[c] = options.quant_tables[c];
        if (scaled.pointer[c]) p.qTables[c] = scaled.pointer[c];
    }
    detail::set_bands(p, options.band_rows, options.band_memory);

    detail::Host host;
    host.writer = writer;
    p.writeCallback = detail::write_trampoline;
    SegmentSource segmentSource{&segments, &options.comment};
    p.appMarkerCallback = GiveSegment;

    q32vex::SequenceLock lock;
    detail::HostScope scope(&host);
    g_source = &segmentSource;
    struct Clear {
        ~Clear() { g_source = nullptr; }
    } clear;
    detail::OpenSequence sequence;
    detail::check(AppVexCompressBuffInit(&p), host);
    sequence.opened();

    // Bands as the library asks for them, from the first one the open chose.
    const int bpp = q32vex::bytes_per_pixel(format);
    const uint64_t total = uint64_t(width) * uint64_t(height);
    BandRect band = {0, 0, uint16_t(std::min<int>(p.bandWidth, width) - 1),
                     uint16_t(std::min<int>(p.bandHeight, height) - 1)};
    std::vector<const uint8_t*> full;
    std::vector<uint8_t*> rows;
    uint64_t done = 0;
    while (!detail::empty_rect(band)) {
        if (band.x1 >= width || band.y1 >= height)
            throw q32vex::Error(VEX_ERR_BAND, "the library asked for a band outside the image");
        full.assign(size_t(band.y1 - band.y0 + 1), nullptr);
        source(band.x0, band.x1, band.y0, band.y1, full.data());
        rows.clear();
        for (const uint8_t* row : full) rows.push_back(const_cast<uint8_t*>(row) + std::ptrdiff_t(band.x0) * bpp);
        BandRect next = {1, 0, 0, 0};
        detail::check(AppVexCompressBuff(rows.data(), &next), host);
        done += uint64_t(band.x1 - band.x0 + 1) * uint64_t(band.y1 - band.y0 + 1);
        if (options.progress) options.progress(std::min(done, total), total);
        band = next;
    }
    sequence.finished();
}

}  // namespace vexjpeg
