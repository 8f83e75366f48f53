// q32vex.hpp: a thin header-only C++17 layer over the q32vex C exports.
//
// It drives whole compression and decompression sequences for the caller:
// image views in, byte vectors out (or std::function readers and writers),
// failures as q32vex::Error carrying the library's status code. Every call
// runs on a codec instance of its own, so calls from any number of threads
// run in parallel, without a lock, and never meet the AppVex... exports'
// sequences.
#ifndef Q32VEX_HPP
#define Q32VEX_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "q32vex.h"
#include "q32vex_codec.h"

namespace q32vex {

// ---- status codes ----------------------------------------------------------

// The symbolic name of a status code ("VEX_ERR_CONTAINER"), or "" for a value
// the library does not define (a host callback's own status, for instance).
inline const char* status_name(int status) {
    switch (status) {
        case VEX_OK: return "VEX_OK";
        case VEX_ERR_IO_REQUEST: return "VEX_ERR_IO_REQUEST";
        case VEX_ERR_UNSUPPORTED: return "VEX_ERR_UNSUPPORTED";
        case VEX_ERR_NOT_OPEN: return "VEX_ERR_NOT_OPEN";
        case VEX_ERR_WINDOW: return "VEX_ERR_WINDOW";
        case VEX_ERR_AC_COUNT: return "VEX_ERR_AC_COUNT";
        case VEX_ERR_DC_COUNT: return "VEX_ERR_DC_COUNT";
        case VEX_ERR_NO_CALLBACK: return "VEX_ERR_NO_CALLBACK";
        case VEX_ERR_SHORT_READ: return "VEX_ERR_SHORT_READ";
        case VEX_ERR_AC_TABLE: return "VEX_ERR_AC_TABLE";
        case VEX_ERR_DC_TABLE: return "VEX_ERR_DC_TABLE";
        case VEX_ERR_Q_TABLE: return "VEX_ERR_Q_TABLE";
        case VEX_ERR_SAMPLING: return "VEX_ERR_SAMPLING";
        case VEX_ERR_BAND: return "VEX_ERR_BAND";
        case VEX_ERR_TILE: return "VEX_ERR_TILE";
        case VEX_ERR_IMAGE_SIZE: return "VEX_ERR_IMAGE_SIZE";
        case VEX_ERR_CONTAINER: return "VEX_ERR_CONTAINER";
        case VEX_ERR_PIXEL_FORMAT: return "VEX_ERR_PIXEL_FORMAT";
        case VEX_ERR_PIXEL_MODEL: return "VEX_ERR_PIXEL_MODEL";
        case VEX_ERR_COLOR_SPACE: return "VEX_ERR_COLOR_SPACE";
        case VEX_ERR_QUALITY: return "VEX_ERR_QUALITY";
        case VEX_ERR_NO_BUFFER: return "VEX_ERR_NO_BUFFER";
        case VEX_ERR_DIFFERENT: return "VEX_ERR_DIFFERENT";
        case VEX_ERR_TABLE_KIND: return "VEX_ERR_TABLE_KIND";
        case VEX_ERR_NO_MEMORY: return "VEX_ERR_NO_MEMORY";
        case VEX_ERR_BUSY: return "VEX_ERR_BUSY";
        case VEX_ERR_NOT_COMPRESSING: return "VEX_ERR_NOT_COMPRESSING";
        default: return "";
    }
}

// What a status code means to someone running the codec, in one line.
inline const char* status_message(int status) {
    switch (status) {
        case VEX_OK: return "success";
        case VEX_ERR_IO_REQUEST:
            return "the stream buffer was asked for more bytes than it holds (internal I/O error)";
        case VEX_ERR_UNSUPPORTED:
            return "this pixel format cannot be used with this sampling";
        case VEX_ERR_NOT_OPEN: return "no compression or decompression is in progress";
        case VEX_ERR_WINDOW: return "the decode window starts outside the image";
        case VEX_ERR_AC_COUNT: return "more than two distinct AC Huffman tables";
        case VEX_ERR_DC_COUNT: return "more than two distinct DC Huffman tables";
        case VEX_ERR_NO_CALLBACK: return "no read or write callback was given";
        case VEX_ERR_SHORT_READ: return "the file ends inside a header segment (truncated file)";
        case VEX_ERR_AC_TABLE: return "an AC Huffman table is missing or too long";
        case VEX_ERR_DC_TABLE: return "a DC Huffman table is missing or too long";
        case VEX_ERR_Q_TABLE: return "a quantisation table is missing or holds a zero entry";
        case VEX_ERR_SAMPLING:
            return "the sampling factors are invalid or not supported for this colour space";
        case VEX_ERR_BAND:
            return "the band size or band memory is too small for one row of MCUs";
        case VEX_ERR_TILE:
            return "a tile dimension is zero or not a multiple of the MCU size";
        case VEX_ERR_IMAGE_SIZE: return "the image width or height is zero";
        case VEX_ERR_CONTAINER:
            return "not a stream this library reads (only baseline JFIF and its own tiled TIFF), or "
                   "the file is damaged";
        case VEX_ERR_PIXEL_FORMAT: return "the pixel format is not one the library knows";
        case VEX_ERR_PIXEL_MODEL: return "the pixel model is not colour, grey or four-channel";
        case VEX_ERR_COLOR_SPACE: return "the colour space is not supported";
        case VEX_ERR_QUALITY: return "quality must be between 1 and 255";
        case VEX_ERR_NO_BUFFER:
            return "the input ended too early or a callback returned no buffer (truncated file?)";
        case VEX_ERR_DIFFERENT: return "two tables differ";
        case VEX_ERR_TABLE_KIND: return "unknown table kind";
        case VEX_ERR_NO_MEMORY: return "out of memory";
        case VEX_ERR_BUSY: return "another compression or decompression is in progress";
        case VEX_ERR_NOT_COMPRESSING: return "no compression is in progress";
        default: return "status returned by a host callback";
    }
}

// A failure of the library (status() is its negative code) or of the caller's
// own reader or writer (status() is the value the wrapper passed through).
class Error : public std::runtime_error {
public:
    explicit Error(int status)
        : std::runtime_error(describe(status)), status_(static_cast<int16_t>(status)) {}
    Error(int status, const std::string& what)
        : std::runtime_error(what), status_(static_cast<int16_t>(status)) {}
    int16_t status() const noexcept { return status_; }

    static std::string describe(int status) {
        const char* name = status_name(status);
        std::string text = *name ? std::string(name) : std::string("status");
        text += " (" + std::to_string(status) + "): ";
        text += status_message(status);
        return text;
    }

private:
    int16_t status_;
};

// ---- pixel layouts -----------------------------------------------------------

// The library's five host pixel formats. Colour pixels are stored blue first,
// as in a Windows DIB.
enum class PixelFormat {
    Bgr555 = 0,  // 16-bit word: blue bits 0-4, green 5-9, red 10-14
    Bgr24 = 1,   // blue, green, red
    Bgrx32 = 2,  // blue, green, red, one unused byte
    Gray8 = 3,   // one grey byte
    Four8 = 4,   // four 8-bit components, coded as they are (CMYK and the like)
};

inline int bytes_per_pixel(PixelFormat format) {
    static const int kBytes[5] = {2, 3, 4, 1, 4};
    return kBytes[static_cast<int>(format)];
}

// Sampling layouts; the names give the chroma subsampling of colour images.
enum class Sampling {
    S422 = 0,     // Y 2x1, Cb 1x1, Cr 1x1 (the library's default)
    S420 = 1,     // Y 2x2
    S444 = 2,     // no subsampling
    Gray = 3,     // one component
    Four420 = 4,  // four components, 2x2 1x1 1x1 2x2
    Four444 = 5,  // four components, no subsampling
    S411 = 6,     // Y 4x1
};

enum class Container : int16_t { Raw = VEX_CONTAINER_RAW, Jfif = VEX_CONTAINER_JFIF, Tiff = VEX_CONTAINER_TIFF };

namespace detail {

inline PixelFormatDesc format_desc(PixelFormat format, int16_t* model) {
    static const PixelFormatDesc kDescs[5] = {
        {{5, 5, 5, 0}, {0, 0, 1, 0}}, {{8, 8, 8, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 0}, {0, 0, 8, 0}},
        {{8, 0, 0, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 8}, {0, 0, 0, 0}},
    };
    static const int16_t kModels[5] = {0, 0, 0, 1, 2};
    *model = kModels[static_cast<int>(format)];
    return kDescs[static_cast<int>(format)];
}

inline SamplingDesc sampling_desc(Sampling sampling, int16_t* colorSpace) {
    static const SamplingDesc kSamplings[7] = {
        {{2, 1, 1, 0}, {1, 1, 1, 0}}, {{2, 1, 1, 0}, {2, 1, 1, 0}}, {{1, 1, 1, 0}, {1, 1, 1, 0}},
        {{1, 0, 0, 0}, {1, 0, 0, 0}}, {{2, 1, 1, 2}, {2, 1, 1, 2}}, {{1, 1, 1, 1}, {1, 1, 1, 1}},
        {{4, 1, 1, 0}, {1, 1, 1, 0}},
    };
    static const int16_t kSpaces[7] = {0, 0, 0, 1, 3, 3, 0};
    *colorSpace = kSpaces[static_cast<int>(sampling)];
    return kSamplings[static_cast<int>(sampling)];
}

inline int components_of(int16_t colorSpace) { return colorSpace == 1 ? 1 : colorSpace == 3 ? 4 : 3; }

}  // namespace detail

// ---- images ------------------------------------------------------------------

// Pixels the caller owns: `height` rows of `width` pixels, `stride` bytes apart.
struct ImageView {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    PixelFormat format = PixelFormat::Bgr24;

    const uint8_t* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
};

// Pixels the wrapper owns: rows packed without gaps.
struct Image {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Bgr24;
    std::vector<uint8_t> pixels;
    // After a decode: what was wrong with a damaged stream, which was read
    // as far as it goes (damage_warnings); empty for an intact one.
    std::vector<std::string> warnings;

    std::ptrdiff_t stride() const { return static_cast<std::ptrdiff_t>(width) * bytes_per_pixel(format); }
    uint8_t* row(int y) { return pixels.data() + static_cast<std::ptrdiff_t>(y) * stride(); }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<std::ptrdiff_t>(y) * stride(); }
    ImageView view() const { return ImageView{pixels.data(), width, height, stride(), format}; }
};

// ---- streams -----------------------------------------------------------------

// Receives `size` finished bytes that belong at stream offset `position`.
// Offsets grow in order, except that a TIFF file's tile tables are written
// back into room reserved near its start, so a TIFF sink must be seekable.
using Writer = std::function<void(uint64_t position, const uint8_t* data, size_t size)>;
// Copies up to `capacity` bytes from stream offset `position` into `buffer`
// and returns how many; fewer than asked only at the end of the data.
using Reader = std::function<size_t(uint64_t position, uint8_t* buffer, size_t capacity)>;
// Called after every band with the pixels done so far and the total.
using Progress = std::function<void(uint64_t done, uint64_t total)>;
// Gives the compressor rows y0..y1 (inclusive) of the image for the band of
// columns x0..x1: pointers to the rows' first pixels (column 0), valid until
// the next call. The bands cover every pixel exactly once, so a row is no
// longer needed once bands have covered all its columns; with tiles, bands
// may go back up to the top of a row of tiles.
using RowSource = std::function<void(int x0, int x1, int y0, int y1, const uint8_t** rows)>;
// Called by a streaming decompression once the window's size and the
// pixel format of its rows are known, before the first band.
using ImageStart = std::function<void(int width, int height, PixelFormat format)>;
// Receives one decoded band: `rows` rows of `columns` pixels whose first
// pixel is at (x, y) of the window. The bands cover the window exactly once;
// with tiles, they may go back up to the top of a row of tiles.
using BandSink = std::function<void(int x, int y, int columns, int rows, const uint8_t* const* data)>;

// ---- codec instances -----------------------------------------------------------

// Owns one codec instance, with progressive and extended frames on. Each compress or
// decompress call below makes its own; a caller may hold one to reuse
// across calls on one thread.
class Instance {
public:
    Instance() : codec_(VexCodecCreate()) {
        if (!codec_) throw Error(VEX_ERR_NO_MEMORY);
        // Progressive files and other samplings decode here, as modern hosts expect.
        VexCodecSetOption(codec_, VEX_OPTION_PROGRESSIVE, 1);
        VexCodecSetOption(codec_, VEX_OPTION_EXTENDED_FRAMES, 1);
    }
    ~Instance() { VexCodecDestroy(codec_); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    VexCodec* get() const noexcept { return codec_; }

private:
    VexCodec* codec_;
};

// ---- options -----------------------------------------------------------------

// An APPn or COM segment met in a JPEG header.
struct Segment {
    uint8_t marker = 0;  // 0xE0..0xEF or 0xFE
    uint16_t info = 0;   // the segment length the parser reports (or JFIF thumbnail size)
    std::vector<uint8_t> data;
};

struct CompressOptions {
    // Quantisation scale in fiftieths: 50 uses the standard tables as they are,
    // smaller values are finer (25, the default, halves every step).
    int quality = 25;
    // Defaults by pixel format: Gray for Gray8, Four444 for Four8, else S422.
    bool has_sampling = false;
    Sampling sampling = Sampling::S422;
    Container container = Container::Jfif;
    int restart_interval = 0;  // MCUs between restart markers, 0 for none
    int tile_width = 0;        // 0: one tile across (TIFF tiles otherwise)
    int tile_height = 0;
    int band_rows = 0;         // rows handed over per band; 0 with band_memory 0: one band
    int32_t band_memory = 0;   // or a byte budget for one band
    std::string comment;       // extra COM segment (JFIF only)
    // Extra APP1..APP15 and COM segments for a JFIF file, at most one per
    // marker (a later one replaces an earlier), data up to 65531 bytes each;
    // a COM segment here replaces `comment`.
    std::vector<Segment> segments;
    uint16_t density_units = 0, x_density = 0, y_density = 0;
    // Host quantisation tables per component (64 entries, natural order),
    // scaled by `quality`; null takes the standard table.
    const uint8_t* quant_tables[4] = {nullptr, nullptr, nullptr, nullptr};
    // Quality 1..100 on libjpeg's (cjpeg's) scale, higher is better; 0 keeps
    // `quality`. The standard tables are scaled as libjpeg scales them and
    // used at the library's quality 50, so they are cjpeg's tables, except
    // that the library raises entries of 1 to 2 (cjpeg's tables hold 1s from
    // quality 93 on for luminance and 96 on for chrominance; at 100 every
    // entry is 1 there and 2 here).
    int jpeg_quality = 0;
    Progress progress;
    // Threads for one picture: a JFIF file with a restart interval is coded
    // in strips of whole intervals, on this many threads, with exactly the
    // bytes of one thread (0: one per core). The streaming form asks its row
    // source for strip after strip, in order; other files are coded on one
    // thread.
    int threads = 1;

    CompressOptions& with_sampling(Sampling s) {
        has_sampling = true;
        sampling = s;
        return *this;
    }
};

struct Window {
    int x = 0, y = 0, width = 0, height = 0;  // width 0: the whole image
};

struct DecompressOptions {
    PixelFormat format = PixelFormat::Bgr24;  // for three-component images only
    Window window;
    int band_rows = 0;
    int32_t band_memory = 0;
    // Raw entropy-coded data carries no header: give the header that
    // describes it (raw_stream_header), and the container is taken as Raw.
    std::vector<uint8_t> raw_header;
    // A four-component TIFF file does not record its layout: Four444 (1 x 1)
    // unless the image was written Four420.
    Sampling four_sampling = Sampling::Four444;
    Progress progress;
    // Threads for one picture, as CompressOptions::threads: a JFIF file with
    // restart markers, decoded whole, is decoded in strips with exactly the
    // pixels of one thread. The streaming form reads a stream of up to 64 MiB
    // whole first and hands the strips to its sink in order; a larger one is
    // decoded band by band on one thread.
    int threads = 1;
    // The stream's size in bytes when the caller knows it (0: unknown). The
    // streaming form then reads a stream it decodes on several threads into
    // one buffer of that size, instead of one that grows.
    uint64_t size_hint = 0;
    // Colour channels clamped to 0..255, as libjpeg gives them. Off, colours
    // far outside the YCbCr gamut wrap around exactly as the AppVex...
    // exports give them: a saturated red next to white may come out black.
    bool saturating_colour = false;
    // A four-component image (CMYK or YCCK) decodes to `format` as the light
    // its inks let through, as ImageMagick shows it. Off, to Four8: CMYK,
    // stored inverted as Adobe's applications write it (a YCCK image is
    // converted to it).
    bool four_to_rgb = false;
    // Four8 holds the components as they are coded: a YCCK image's Y, Cb,
    // Cr and K instead of CMYK.
    bool raw_channels = false;
};

// A Huffman table definition: 16 code counts, then the symbols.
struct HuffmanTable {
    std::vector<uint8_t> bits;
    std::vector<uint8_t> values;
    bool operator==(const HuffmanTable& o) const { return bits == o.bits && values == o.values; }
};

struct ImageInfo {
    Container container = Container::Jfif;
    int width = 0, height = 0;
    int components = 0;
    int color_space = 0;
    int h[4] = {0, 0, 0, 0}, v[4] = {0, 0, 0, 0};
    int restart_interval = 0;
    int density_units = 0, x_density = 0, y_density = 0;
    // Distinct tables, and which one each component uses.
    std::vector<std::vector<uint8_t>> quant_tables;  // 64 entries each, zigzag order
    std::vector<HuffmanTable> dc_tables, ac_tables;
    int quant_index[4] = {0, 0, 0, 0}, dc_index[4] = {0, 0, 0, 0}, ac_index[4] = {0, 0, 0, 0};
    // TIFF only.
    int tile_width = 0, tile_height = 0;
    std::vector<uint32_t> tile_offsets, tile_byte_counts;
    std::vector<Segment> segments;
};

// ---- the host callbacks --------------------------------------------------------

namespace detail {

// The library's callbacks carry no user pointer, so the state of the one
// sequence in flight lives here; the library lock guards it.
struct Host {
    Writer writer;
    Reader reader;
    std::vector<uint8_t> out;     // buffer lent to the library for output
    uint64_t outPosition = 0;     // stream position of that buffer
    std::vector<uint8_t> in;      // buffer handed to the library for input
    uint64_t inPosition = 0;      // next stream position to deliver
    std::vector<Segment>* segments = nullptr;
    bool segmentOpen = false;     // the last segment expects more pieces
    bool awaitClose = false;      // a count-0 call closes a segment given in pieces
    int pieces = 0;
    const std::string* comment = nullptr;
    const std::vector<Segment>* headerSegments = nullptr;  // extra segments to write
    std::exception_ptr failure;   // what the caller's function threw
};

// Status handed back to the library when the caller's reader or writer threw;
// the library passes it back unchanged and the wrapper rethrows the original.
constexpr int16_t kCallbackFailed = 1;

inline int16_t write_trampoline(void* context, uint8_t** buffer, int32_t position, uint16_t* size) {
    Host& h = *static_cast<Host*>(context);
    try {
        if (*size != 0 && h.writer) h.writer(h.outPosition, h.out.data(), *size);
        h.outPosition = position == -1 ? h.outPosition + *size : static_cast<uint32_t>(position);
        if (h.out.empty()) h.out.resize(32768);
        *buffer = h.out.data();
        *size = static_cast<uint16_t>(h.out.size());
        return 0;
    } catch (...) {
        h.failure = std::current_exception();
        return kCallbackFailed;
    }
}

inline int16_t read_trampoline(void* context, uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    Host& h = *static_cast<Host*>(context);
    try {
        if (position != -1) h.inPosition = static_cast<uint32_t>(position);
        const size_t want = *count;
        if (h.in.size() < want || h.in.empty()) h.in.resize(std::max<size_t>(want, 1));
        const size_t n = std::min(h.reader(h.inPosition, h.in.data(), want), want);
        h.inPosition += n;
        *data = h.in.data();
        *count = static_cast<uint16_t>(n);
        // A short delivery is the end of the data; an empty one is left for
        // the library to notice, so a stream cut at a buffer edge still ends.
        if (n > 0 && n < want && flag) *flag = 1;
        return 0;
    } catch (...) {
        h.failure = std::current_exception();
        return kCallbackFailed;
    }
}

inline int16_t marker_read_trampoline(void* context, uint8_t marker, uint16_t info, uint16_t count,
                                      uint8_t** data) {
    Host& h = *static_cast<Host*>(context);
    try {
        if (!h.segments) return 0;
        std::vector<Segment>& list = *h.segments;
        // A segment longer than what the input buffer holds arrives in
        // pieces, followed by one call with count 0; a segment that fits
        // arrives in one call.
        if (h.awaitClose && count == 0 && !list.empty() && list.back().marker == marker) {
            h.awaitClose = false;
            return 0;
        }
        h.awaitClose = false;
        if (h.segmentOpen && !list.empty() && list.back().marker == marker) {
            ++h.pieces;
        } else {
            Segment s;
            s.marker = marker;
            s.info = info;
            list.push_back(std::move(s));
            h.pieces = 1;
        }
        Segment& s = list.back();
        if (count != 0 && data && *data) s.data.insert(s.data.end(), *data, *data + count);
        h.segmentOpen = s.data.size() < s.info && count != 0;
        if (!h.segmentOpen) h.awaitClose = h.pieces > 1;
        return 0;
    } catch (...) {
        h.failure = std::current_exception();
        return kCallbackFailed;
    }
}

inline int16_t marker_write_trampoline(void* context, uint8_t marker, uint16_t* size, uint16_t* bufferLength,
                                       uint8_t** data) {
    Host& h = *static_cast<Host*>(context);
    *size = 0;
    const uint8_t* bytes = nullptr;
    size_t n = 0;
    if (marker == 0xFE && h.comment && !h.comment->empty()) {
        bytes = reinterpret_cast<const uint8_t*>(h.comment->data());
        n = h.comment->size();
    }
    if (h.headerSegments && marker != 0xE0) {
        for (const Segment& s : *h.headerSegments) {
            if (s.marker != marker) continue;
            bytes = s.data.data();
            n = s.data.size();
        }
    }
    if (!bytes) return 0;
    // The size of a segment handed over is its whole length, marker included.
    n = std::min<size_t>(n, 65535 - 4);
    *size = static_cast<uint16_t>(n + 4);
    *bufferLength = static_cast<uint16_t>(n);
    *data = const_cast<uint8_t*>(bytes);
    return 0;
}

// Points the instance's host functions at `host`: its writer (and its
// comment, when `segments` is set) for a compression, its reader (and its
// segment list) for a decompression.
inline void attach(const Instance& instance, Host& host, bool writing, bool segments) {
    VexIo io{};
    io.context = &host;
    if (writing) {
        io.write = write_trampoline;
        if (segments) io.appMarker = marker_write_trampoline;
    } else {
        io.read = read_trampoline;
        if (segments) io.appMarkerRead = marker_read_trampoline;
    }
    VexCodecSetIo(instance.get(), &io);
}

// Turns a status into an exception, preferring what the caller's own
// function threw.
inline void check(int16_t status, Host& host) {
    if (status == 0) return;
    if (host.failure) std::rethrow_exception(host.failure);
    throw Error(status);
}

inline void set_bands(AppVexParams& p, int band_rows, int32_t band_memory) {
    if (band_memory > 0) {
        p.bandWidth = 0;
        p.bandHeight = 0;
        p.bandMemory = band_memory;
    } else {
        p.bandWidth = p.width;
        p.bandHeight = band_rows > 0 ? static_cast<uint16_t>(std::min<int>(band_rows, 65535)) : p.height;
        p.bandMemory = 0;
    }
}

inline bool empty_rect(const BandRect& r) { return r.x0 > r.x1 || r.y0 > r.y1; }

// The standard tables of a colour space scaled the way libjpeg scales them
// for its quality 1..100 (percentages of the table, rounded, kept to
// 1..255), in natural order, one per component.
struct ScaledTables {
    uint8_t table[4][64];
    const uint8_t* pointer[4] = {nullptr, nullptr, nullptr, nullptr};
};
inline void libjpeg_tables(int quality, int16_t colorSpace, ScaledTables* out) {
    const uint8_t* const* q = nullptr;
    const uint8_t* const* dc = nullptr;
    const uint8_t* const* ac = nullptr;
    if (AppVexGetDefaultTables(colorSpace, &q, &dc, &ac) != 0) return;
    quality = std::clamp(quality, 1, 100);
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int c = 0; c < 4 && q[c]; ++c) {
        for (int k = 0; k < 64; ++k)
            out->table[c][k] = static_cast<uint8_t>(std::clamp<long>((q[c][k] * scale + 50) / 100, 1, 255));
        out->pointer[c] = out->table[c];
    }
}

inline Container sniff(const uint8_t* head, size_t n) {
    if (n >= 2 && head[0] == 0xFF && head[1] == 0xD8) return Container::Jfif;
    if (n >= 2 && head[0] == 0xFF && head[1] == 0xFE) return Container::Jfif;
    if (n >= 4 && head[0] == 'I' && head[1] == 'I') return Container::Tiff;
    return Container::Raw;
}

inline Reader memory_reader(const uint8_t* data, size_t size) {
    return [data, size](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
        if (position >= size) return 0;
        const size_t n = std::min<size_t>(capacity, static_cast<size_t>(size - position));
        std::memcpy(buffer, data + position, n);
        return n;
    };
}

inline Writer vector_writer(std::vector<uint8_t>* out) {
    return [out](uint64_t position, const uint8_t* data, size_t size) {
        if (out->size() < position + size) out->resize(static_cast<size_t>(position + size));
        std::memcpy(out->data() + position, data, size);
    };
}

// Fills `params` (defaults set, readCallback installed) from the stream's
// header. For a raw stream the header comes from its separate description.
inline int16_t read_header(VexCodec* codec, AppVexParams& p, Host& host, const Reader& reader, Container container,
                           const std::vector<uint8_t>* rawHeader, Sampling fourSampling = Sampling::Four444) {
    if (container == Container::Raw) {
        if (!rawHeader || rawHeader->empty())
            throw Error(VEX_ERR_CONTAINER, "raw entropy-coded data needs the header that describes it");
        host.reader = memory_reader(rawHeader->data(), rawHeader->size());
        host.inPosition = 0;
        p.containerKind = VEX_CONTAINER_JFIF;
        const int16_t status = VexReadInfo(codec, &p);
        // The library's table slots now hold the raw stream's tables; the
        // record keeps pointing at them and the stream itself has no header.
        p.containerKind = VEX_CONTAINER_RAW;
        host.reader = reader;
        host.inPosition = 0;
        return status;
    }
    host.reader = reader;
    host.inPosition = 0;
    p.containerKind = static_cast<int16_t>(container);
    const int16_t status = VexReadInfo(codec, &p);
    // A TIFF directory records the subsampling of YCbCr images only: the
    // host states it for the others, and the library reads the header again
    // with it. One component has nothing to subsample; four components
    // are 1 x 1 unless the caller says otherwise.
    if (status == 0 && container == Container::Tiff && p.colorSpace != 0) {
        int16_t colorSpace = 0;
        p.sampling = sampling_desc(p.colorSpace == 1 ? Sampling::Gray : fourSampling, &colorSpace);
    }
    return status;
}

inline int table_size(int kind, const uint8_t* table) {
    uint16_t size = 0;
    if (!table || AppVexGetTableSize(static_cast<int16_t>(kind), table, &size) != 0) return -1;
    return size;
}

inline void fill_info(const AppVexParams& p, Container container, ImageInfo* info) {
    info->container = container;
    info->width = p.width;
    info->height = p.height;
    info->color_space = p.colorSpace;
    info->components = components_of(p.colorSpace);
    info->restart_interval = p.restartInterval;
    info->density_units = p.densityUnits;
    info->x_density = p.xDensity;
    info->y_density = p.yDensity;
    // Tables are told apart by content: the same table may sit in two slots.
    for (int c = 0; c < info->components && c < 4; ++c) {
        info->h[c] = p.sampling.h[c];
        info->v[c] = p.sampling.v[c];
        if (p.qTables[c]) {
            std::vector<uint8_t> q(p.qTables[c], p.qTables[c] + 64);
            const auto it = std::find(info->quant_tables.begin(), info->quant_tables.end(), q);
            info->quant_index[c] = static_cast<int>(it - info->quant_tables.begin());
            if (it == info->quant_tables.end()) info->quant_tables.push_back(std::move(q));
        }
        // Read through the record itself: its pointers are not aligned on
        // 64-bit targets, so no plain pointer may be formed to them.
        const uint8_t* huff[2] = {p.dcTables[c], p.acTables[c]};
        std::vector<HuffmanTable>* tables[2] = {&info->dc_tables, &info->ac_tables};
        int* index[2] = {info->dc_index, info->ac_index};
        for (int k = 0; k < 2; ++k) {
            const uint8_t* t = huff[k];
            const int size = table_size(k + 1, t);
            if (size < 16) continue;
            HuffmanTable table{std::vector<uint8_t>(t, t + 16), std::vector<uint8_t>(t + 16, t + size)};
            const auto it = std::find(tables[k]->begin(), tables[k]->end(), table);
            index[k][c] = static_cast<int>(it - tables[k]->begin());
            if (it == tables[k]->end()) tables[k]->push_back(std::move(table));
        }
    }
    if (container == Container::Tiff) {
        info->tile_width = p.tileWidth;
        info->tile_height = p.tileHeight;
        if (p.tileOffsets && p.tileByteCounts) {
            info->tile_offsets.assign(p.tileOffsets, p.tileOffsets + p.tileCount);
            info->tile_byte_counts.assign(p.tileByteCounts, p.tileByteCounts + p.tileCount);
        }
    }
}

}  // namespace detail

// ---- compression ---------------------------------------------------------------

// Compresses `image`, handing the output to `writer` as it is produced.
namespace detail {

// The compression record for `options`; libjpeg-scaled tables go into
// `scaled`, which must outlive the sequence.
inline AppVexParams compress_params(int width, int height, PixelFormat format, const CompressOptions& options,
                                    ScaledTables* scaled) {
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        throw Error(VEX_ERR_IMAGE_SIZE, "image size must be 1 to 65535 pixels each way");
    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = static_cast<uint16_t>(width);
    p.height = static_cast<uint16_t>(height);
    int16_t model = 0, colorSpace = 0;
    p.pixelFormat = format_desc(format, &model);
    p.pixelModel = model;
    Sampling sampling = options.sampling;
    if (!options.has_sampling)
        sampling = format == PixelFormat::Gray8   ? Sampling::Gray
                   : format == PixelFormat::Four8 ? Sampling::Four444
                                                  : Sampling::S422;
    p.sampling = sampling_desc(sampling, &colorSpace);
    p.colorSpace = colorSpace;
    p.quality = static_cast<uint16_t>(std::clamp(options.quality, 0, 65535));
    if (options.jpeg_quality > 0) {
        libjpeg_tables(options.jpeg_quality, colorSpace, scaled);
        p.quality = 50;
    }
    p.containerKind = static_cast<int16_t>(options.container);
    p.restartInterval = static_cast<uint16_t>(std::clamp(options.restart_interval, 0, 65535));
    if (options.tile_width > 0) p.tileWidth = static_cast<uint16_t>(std::min(options.tile_width, 65535));
    if (options.tile_height > 0) p.tileHeight = static_cast<uint16_t>(std::min(options.tile_height, 65535));
    p.densityUnits = options.density_units;
    p.xDensity = options.x_density;
    p.yDensity = options.y_density;
    for (int c = 0; c < 4; ++c) {
        if (options.quant_tables[c]) p.qTables[c] = options.quant_tables[c];
        if (scaled->pointer[c]) p.qTables[c] = scaled->pointer[c];
    }
    set_bands(p, options.band_rows, options.band_memory);
    return p;
}

inline int thread_count(int threads) {
    if (threads > 0) return threads;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// The instance's APPn and COM functions, for the comment and segments.
inline void attach_segments(const Instance& instance, Host& host, const CompressOptions& options) {
    host.comment = &options.comment;
    host.headerSegments = &options.segments;
    attach(instance, host, true,
           (!options.comment.empty() || !options.segments.empty()) && options.container == Container::Jfif);
}

// The caller's functions behind the streaming strip forms, which call them
// from worker threads, one at a time for rows and one at a time for bytes
// (the two may overlap): what they throw is kept per kind and rethrown by
// the caller's thread.
struct StripHost {
    const RowSource* source = nullptr;
    const Writer* writer = nullptr;
    const BandSink* sink = nullptr;
    const Progress* progress = nullptr;
    std::function<void()> start;  // before the first strip is delivered
    int width = 0;
    uint64_t total = 0;
    uint64_t position = 0;  // stream bytes written so far
    std::exception_ptr rowsFailure, outputFailure;

    void report(uint32_t firstRow, uint32_t count) {
        if (progress && *progress) (*progress)(std::min<uint64_t>(total, uint64_t(firstRow + count) * width), total);
    }
    static int16_t rows(void* context, uint32_t firstRow, uint32_t count, const uint8_t** out) {
        StripHost& h = *static_cast<StripHost*>(context);
        try {
            (*h.source)(0, h.width - 1, static_cast<int>(firstRow), static_cast<int>(firstRow + count - 1), out);
            h.report(firstRow, count);
            return 0;
        } catch (...) {
            h.rowsFailure = std::current_exception();
            return kCallbackFailed;
        }
    }
    static int16_t write(void* context, const uint8_t* data, size_t size) {
        StripHost& h = *static_cast<StripHost*>(context);
        try {
            (*h.writer)(h.position, data, size);
            h.position += size;
            return 0;
        } catch (...) {
            h.outputFailure = std::current_exception();
            return kCallbackFailed;
        }
    }
    static int16_t deliver(void* context, uint32_t firstRow, uint32_t count, const uint8_t* const* data) {
        StripHost& h = *static_cast<StripHost*>(context);
        try {
            if (h.start) {
                h.start();
                h.start = nullptr;
            }
            (*h.sink)(0, static_cast<int>(firstRow), h.width, static_cast<int>(count), data);
            h.report(firstRow, count);
            return 0;
        } catch (...) {
            h.outputFailure = std::current_exception();
            return kCallbackFailed;
        }
    }
    void check(int16_t status, Host& host) const {
        if (status == 0) return;
        if (rowsFailure) std::rethrow_exception(rowsFailure);
        if (outputFailure) std::rethrow_exception(outputFailure);
        detail::check(status, host);
    }
};

// Reads the stream from its start into *bytes, at most `limit` bytes; true
// when that was all of it. Read straight into the vector, which starts at
// the size hinted (when there is one) and grows geometrically: fresh memory
// costs a page fault for every page it covers, so a 3 MB stream read into
// a vector grown from nothing touches more than twice its size.
inline bool read_up_to(const Reader& reader, uint64_t limit, std::vector<uint8_t>* bytes, uint64_t hint = 0) {
    size_t filled = 0;
    bytes->resize(static_cast<size_t>(std::min(std::max<uint64_t>(hint + 1, uint64_t(1) << 16), limit + 1)));
    for (;;) {
        if (filled == bytes->size()) {
            if (filled > limit) return false;
            bytes->resize(static_cast<size_t>(std::min<uint64_t>(uint64_t(filled) * 2, limit + 1)));
        }
        const size_t n = reader(filled, bytes->data() + filled, bytes->size() - filled);
        if (n == 0) {
            bytes->resize(filled);
            return true;
        }
        filled += n;
    }
}

// Compressed input up to this size is read whole so that several threads
// can decode its strips; a larger stream is decoded band by band on one.
constexpr uint64_t kThreadedInputLimit = uint64_t(64) << 20;

}  // namespace detail

inline void compress(int width, int height, PixelFormat format, const CompressOptions& options,
                     const RowSource& source, const Writer& writer) {
    detail::ScaledTables scaled;
    AppVexParams p = detail::compress_params(width, height, format, options, &scaled);

    detail::Host host;
    host.writer = writer;
    Instance instance;
    detail::attach_segments(instance, host, options);
    // With a restart interval, strips of whole intervals on several threads.
    if (options.threads != 1 && p.restartInterval != 0) {
        detail::StripHost strips;
        strips.source = &source;
        strips.writer = &writer;
        strips.progress = &options.progress;
        strips.width = width;
        strips.total = static_cast<uint64_t>(width) * height;
        const int16_t status = VexCompressStrips(instance.get(), &p, detail::StripHost::rows,
                                                 detail::StripHost::write, &strips,
                                                 detail::thread_count(options.threads));
        if (status != VEX_ERR_UNSUPPORTED) return strips.check(status, host);
    }
    detail::check(VexCompressOpen(instance.get(), &p), host);

    const int bpp = bytes_per_pixel(format);
    const uint64_t total = static_cast<uint64_t>(width) * height;
    BandRect band = {0, 0, static_cast<uint16_t>(std::min<int>(p.bandWidth, width) - 1),
                     static_cast<uint16_t>(std::min<int>(p.bandHeight, height) - 1)};
    std::vector<const uint8_t*> full;
    std::vector<uint8_t*> rows;
    uint64_t done = 0;
    for (;;) {
        if (detail::empty_rect(band) || band.x1 >= width || band.y1 >= height)
            throw Error(VEX_ERR_BAND, "the library asked for a band outside the image");
        full.assign(static_cast<size_t>(band.y1 - band.y0 + 1), nullptr);
        source(band.x0, band.x1, band.y0, band.y1, full.data());
        rows.clear();
        for (const uint8_t* row : full)
            rows.push_back(const_cast<uint8_t*>(row) + static_cast<std::ptrdiff_t>(band.x0) * bpp);
        BandRect next = {1, 0, 0, 0};
        detail::check(VexCompressBand(instance.get(), rows.data(), &next), host);
        done += static_cast<uint64_t>(band.x1 - band.x0 + 1) * (band.y1 - band.y0 + 1);
        if (options.progress) options.progress(std::min(done, total), total);
        if (next.x0 == 1 && next.x1 == 0) break;
        band = next;
    }
}

inline void compress(const ImageView& image, const CompressOptions& options, const Writer& writer) {
    if (!image.data) throw Error(VEX_ERR_IMAGE_SIZE, "image size must be 1 to 65535 pixels each way");
    compress(image.width, image.height, image.format, options,
             [&image](int, int, int y0, int y1, const uint8_t** rows) {
                 for (int y = y0; y <= y1; ++y) rows[y - y0] = image.row(y);
             },
             writer);
}

inline std::vector<uint8_t> compress(const ImageView& image, const CompressOptions& options = {}) {
    std::vector<uint8_t> out;
    if (options.threads == 1 || options.progress || !image.data) {
        compress(image, options, detail::vector_writer(&out));
        return out;
    }
    detail::ScaledTables scaled;
    AppVexParams p = detail::compress_params(image.width, image.height, image.format, options, &scaled);
    detail::Host host;
    Instance instance;
    detail::attach_segments(instance, host, options);
    uint8_t* bytes = nullptr;
    size_t size = 0;
    const int16_t status = VexCompressMemoryThreads(instance.get(), &p, image.data, image.stride,
                                                    detail::thread_count(options.threads), &bytes, &size);
    if (status == 0) out.assign(bytes, bytes + size);
    VexFree(bytes);
    detail::check(status, host);
    return out;
}

// The JPEG header (SOI up to and including SOS, no EOI) that describes raw
// entropy-coded data compressed with `options` from an image of this size
// and pixel format. Header followed by the raw data and the two bytes FF D9
// is a complete baseline JPEG stream; DecompressOptions::raw_header takes it.
inline std::vector<uint8_t> raw_stream_header(int width, int height, PixelFormat format,
                                              const CompressOptions& options) {
    detail::ScaledTables scaled;
    const AppVexParams p = detail::compress_params(width, height, format, options, &scaled);
    std::vector<uint8_t> header(2048);
    size_t size = 0;
    const int16_t status = VexRawStreamHeader(&p, header.data(), header.size(), &size);
    if (status != 0) throw Error(status);
    header.resize(size);
    return header;
}

// ---- decompression -------------------------------------------------------------

namespace detail {

// Sets the instance's options for decoding as `options` ask.
inline void set_decode_options(const Instance& instance, const DecompressOptions& options) {
    int16_t status =
        VexCodecSetOption(instance.get(), VEX_OPTION_SATURATING_COLOUR, options.saturating_colour ? 1 : 0);
    if (status == 0) status = VexCodecSetOption(instance.get(), VEX_OPTION_RAW_COMPONENTS, options.raw_channels ? 1 : 0);
    if (status != 0) throw Error(status);
}

// The pixel format a stream with this header decodes to.
inline PixelFormat decoded_format(const AppVexParams& p, const DecompressOptions& options) {
    const int components = components_of(p.colorSpace);
    const bool colour = components == 3 || (components == 4 && options.four_to_rgb);
    if (colour && (options.format == PixelFormat::Gray8 || options.format == PixelFormat::Four8))
        throw Error(VEX_ERR_UNSUPPORTED, "a colour image decodes to Bgr555, Bgr24 or Bgrx32 only");
    return colour ? options.format : components == 1 ? PixelFormat::Gray8 : PixelFormat::Four8;
}

}  // namespace detail

// One line per kind of damage the last decode on `codec` met, most telling
// first; empty for an intact stream (and always for instances without
// VEX_OPTION_EXTENDED_FRAMES, which do not read damaged streams).
inline std::vector<std::string> damage_warnings(const VexCodec* codec) {
    VexDecodeReport r{};
    std::vector<std::string> lines;
    if (VexCodecDecodeReport(codec, &r) != 0 || r.damage == 0) return lines;
    if (r.damage & VEX_DAMAGE_NO_END_MARKER)
        lines.push_back("the stream is truncated: its image data ends without the end-of-image marker");
    if (r.damage & VEX_DAMAGE_DATA_ENDED)
        lines.push_back("the image data ran out in MCU " + std::to_string(r.dataEndedAtMcu) +
                        "; the MCUs after it are grey");
    if (r.damage & VEX_DAMAGE_CORRUPT_DATA)
        lines.push_back("corrupt image data (a code no Huffman table holds) in MCU " + std::to_string(r.corruptAtMcu) +
                        "; the rest of its restart interval is grey");
    if (r.damage & VEX_DAMAGE_RESTART)
        lines.push_back(std::to_string(r.restartFaults) + " restart marker(s) missing or out of order");
    if (r.damage & VEX_DAMAGE_SKIPPED_BYTES)
        lines.push_back(std::to_string(r.skippedBytes) + " byte(s) that belong to no segment skipped");
    return lines;
}

// Reads the description of a compressed stream without decoding it.
inline ImageInfo read_info(const Reader& reader, Container container,
                           const std::vector<uint8_t>* rawHeader = nullptr) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    detail::Host host;
    ImageInfo info;
    host.segments = &info.segments;
    Instance instance;
    detail::attach(instance, host, false, true);
    const int16_t status = detail::read_header(instance.get(), p, host, reader, container, rawHeader);
    if (status != 0) {
        if (host.failure) std::rethrow_exception(host.failure);
        throw Error(status);
    }
    detail::fill_info(p, container, &info);
    return info;
}

inline ImageInfo read_info(const std::vector<uint8_t>& bytes) {
    return read_info(detail::memory_reader(bytes.data(), bytes.size()),
                     detail::sniff(bytes.data(), bytes.size()));
}

namespace detail {

// The streaming decoder behind both public forms; `held` is the whole stream
// when the caller has it in memory (then `reader` reads the same bytes).
inline std::vector<std::string> decompress_stream(const Reader& reader, const uint8_t* held, size_t heldSize,
                                                  Container container, const DecompressOptions& options,
                                                  const ImageStart& start, const BandSink& sink, ImageInfo* infoOut) {
    if (!options.raw_header.empty()) container = Container::Raw;
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    detail::Host host;
    Instance instance;
    detail::set_decode_options(instance, options);
    detail::attach(instance, host, false, false);
    detail::check(detail::read_header(instance.get(), p, host, reader, container, &options.raw_header,
                                      options.four_sampling),
                  host);
    if (infoOut) detail::fill_info(p, container, infoOut);

    PixelFormat format = detail::decoded_format(p, options);
    // The TIFF header states 8 bits per channel and the library takes that
    // into the pixel format when it reads the header again, so a TIFF file
    // cannot be decoded to 5-5-5 words directly: decode 24-bit and pack here,
    // exactly as the library packs (the top five bits of each channel).
    const bool pack555 = container == Container::Tiff && format == PixelFormat::Bgr555;
    const PixelFormat decoded = pack555 ? PixelFormat::Bgr24 : format;
    int16_t model = 0;
    p.pixelFormat = detail::format_desc(decoded, &model);
    p.pixelModel = model;
    if (options.window.width > 0 && options.window.height > 0) {
        const Window& w = options.window;
        p.windowLeft = static_cast<uint16_t>(std::clamp<long long>(w.x, 0, 65535));
        p.windowTop = static_cast<uint16_t>(std::clamp<long long>(w.y, 0, 65535));
        p.windowRight = static_cast<uint16_t>(std::clamp<long long>(0LL + w.x + w.width - 1, 0, 65535));
        p.windowBottom = static_cast<uint16_t>(std::clamp<long long>(0LL + w.y + w.height - 1, 0, 65535));
    }
    const bool whole = p.windowLeft == 0 && p.windowTop == 0 && p.windowRight >= p.width - 1 &&
                       p.windowBottom >= p.height - 1;
    if (options.threads != 1 && container == Container::Jfif && !pack555 && whole && p.restartInterval != 0) {
        // Strips of whole restart intervals on several threads, from the
        // stream held in memory or read whole when it is not too large.
        // Either way the bytes read so far serve the band-by-band path.
        std::vector<uint8_t> bytes;
        const bool all = held != nullptr || detail::read_up_to(reader, detail::kThreadedInputLimit, &bytes, options.size_hint);
        if (held == nullptr) {
            held = bytes.data();
            heldSize = bytes.size();
        }
        const Reader rest = [held, heldSize, &reader](uint64_t position, uint8_t* buffer, size_t capacity) -> size_t {
            if (position >= heldSize) return reader(position, buffer, capacity);
            const size_t n = std::min<size_t>(capacity, heldSize - static_cast<size_t>(position));
            std::memcpy(buffer, held + position, n);
            return n;
        };
        if (all) {
            detail::StripHost strips;
            strips.sink = &sink;
            strips.progress = &options.progress;
            strips.width = p.width;
            strips.total = static_cast<uint64_t>(p.width) * p.height;
            strips.start = [&] { start(p.width, p.height, format); };
            const int16_t status = VexDecompressStrips(instance.get(), &p, held, heldSize,
                                                       detail::StripHost::deliver, &strips,
                                                       detail::thread_count(options.threads));
            if (status != VEX_ERR_UNSUPPORTED) {
                strips.check(status, host);
                return damage_warnings(instance.get());
            }
        }
        DecompressOptions one = options;
        one.threads = 1;
        return decompress_stream(rest, nullptr, 0, container, one, start, sink, nullptr);
    }
    detail::set_bands(p, options.band_rows, options.band_memory);
    // The open reads the header again from the first byte.
    host.inPosition = 0;
    detail::check(VexDecompressOpen(instance.get(), &p), host);

    const int bpp = bytes_per_pixel(decoded);
    const int width = p.windowRight - p.windowLeft + 1;
    const int height = p.windowBottom - p.windowTop + 1;
    start(width, height, format);
    // The library fills rows of the band it reports; they are handed on as
    // they are (or packed to 5-5-5 words first).
    const int bandW = std::max<int>(1, std::min<int>(p.bandWidth, width));
    const int bandH = std::max<int>(1, std::min<int>(p.bandHeight, height));
    std::vector<uint8_t> scratch(static_cast<size_t>(bandW) * bandH * bpp);
    std::vector<uint8_t*> rows(static_cast<size_t>(bandH));
    for (int y = 0; y < bandH; ++y) rows[y] = scratch.data() + static_cast<size_t>(y) * bandW * bpp;
    std::vector<uint8_t> packed(pack555 ? static_cast<size_t>(bandW) * bandH * 2 : 0);
    std::vector<const uint8_t*> packedRows(pack555 ? static_cast<size_t>(bandH) : 0);
    const uint64_t total = static_cast<uint64_t>(width) * height;
    uint64_t done = 0;
    for (;;) {
        BandRect r = {1, 0, 0, 0};
        detail::check(VexDecompressBand(instance.get(), rows.data(), &r), host);
        if (detail::empty_rect(r)) break;
        if (r.x1 >= width || r.y1 >= height || r.x1 - r.x0 + 1 > bandW || r.y1 - r.y0 + 1 > bandH)
            throw Error(VEX_ERR_BAND, "the library reported a band outside the window");
        const int columns = r.x1 - r.x0 + 1, count = r.y1 - r.y0 + 1;
        if (pack555) {
            for (int y = 0; y < count; ++y) {
                uint8_t* out = packed.data() + static_cast<size_t>(y) * bandW * 2;
                for (int x = 0; x < columns; ++x) {
                    const uint8_t* bgr = rows[y] + x * 3;
                    const unsigned word =
                        unsigned(bgr[2] >> 3) << 10 | unsigned(bgr[1] >> 3) << 5 | unsigned(bgr[0] >> 3);
                    out[x * 2] = static_cast<uint8_t>(word);
                    out[x * 2 + 1] = static_cast<uint8_t>(word >> 8);
                }
                packedRows[y] = out;
            }
            sink(r.x0, r.y0, columns, count, packedRows.data());
        } else {
            sink(r.x0, r.y0, columns, count, rows.data());
        }
        done += static_cast<uint64_t>(columns) * count;
        if (options.progress) options.progress(std::min(done, total), total);
    }
    return damage_warnings(instance.get());
}

}  // namespace detail

// Decodes a stream read through `reader` (whose container is given, or Raw
// when options.raw_header is set) into an image of the window. A damaged
// stream is read as far as it goes, the missing parts grey; what was wrong
// comes back as damage_warnings lines (none for an intact stream).
inline std::vector<std::string> decompress(const Reader& reader, Container container, const DecompressOptions& options,
                                           const ImageStart& start, const BandSink& sink,
                                           ImageInfo* infoOut = nullptr) {
    return detail::decompress_stream(reader, nullptr, 0, container, options, start, sink, infoOut);
}

// The same for a stream held in memory, which stays put until this returns:
// decoded on several threads, it is cut where it lies instead of copied.
inline std::vector<std::string> decompress(const uint8_t* data, size_t size, Container container,
                                           const DecompressOptions& options, const ImageStart& start,
                                           const BandSink& sink, ImageInfo* infoOut = nullptr) {
    return detail::decompress_stream(detail::memory_reader(data, size), data, size, container, options, start, sink,
                                     infoOut);
}

inline Image decompress(const Reader& reader, Container container, const DecompressOptions& options,
                        ImageInfo* infoOut = nullptr) {
    Image image;
    std::vector<std::string> warnings = decompress(
        reader, container, options,
        [&image](int width, int height, PixelFormat format) {
            image.width = width;
            image.height = height;
            image.format = format;
            image.pixels.assign(static_cast<size_t>(width) * height * bytes_per_pixel(format), 0);
        },
        [&image](int x, int y, int columns, int rows, const uint8_t* const* data) {
            const int bpp = bytes_per_pixel(image.format);
            for (int r = 0; r < rows; ++r)
                std::memcpy(image.row(y + r) + static_cast<std::ptrdiff_t>(x) * bpp, data[r],
                            static_cast<size_t>(columns) * bpp);
        },
        infoOut);
    image.warnings = std::move(warnings);
    return image;
}

inline Image decompress(const std::vector<uint8_t>& bytes, const DecompressOptions& options = {}) {
    const Container container = detail::sniff(bytes.data(), bytes.size());
    const bool whole = options.window.width <= 0 || options.window.height <= 0;
    if (options.threads == 1 || options.progress || container != Container::Jfif || !options.raw_header.empty() ||
        !whole)
        return decompress(detail::memory_reader(bytes.data(), bytes.size()), container, options);
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    detail::Host host;
    Instance instance;
    detail::set_decode_options(instance, options);
    detail::check(VexReadInfoMemory(instance.get(), &p, bytes.data(), bytes.size()), host);
    Image image;
    image.width = p.width;
    image.height = p.height;
    image.format = detail::decoded_format(p, options);
    int16_t model = 0;
    p.pixelFormat = detail::format_desc(image.format, &model);
    p.pixelModel = model;
    detail::set_bands(p, options.band_rows, options.band_memory);
    image.pixels.assign(static_cast<size_t>(image.stride()) * static_cast<size_t>(image.height), 0);
    detail::check(VexDecompressMemoryThreads(instance.get(), &p, bytes.data(), bytes.size(), image.pixels.data(),
                                             image.stride(), detail::thread_count(options.threads)),
                  host);
    image.warnings = damage_warnings(instance.get());
    return image;
}

}  // namespace q32vex

#endif  // Q32VEX_HPP
