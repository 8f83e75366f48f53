// A hostile-input host for the fuzz targets and the regression tests: options
// read from the front of the input, in-memory callbacks that lend freshly
// allocated, exactly sized buffers (so stale or overlong accesses trip the
// address sanitizer), and the checks every target applies after a sequence.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/allocator.h"
#include "q32vex.h"

namespace vexfuzz {

// Option bytes come first; an exhausted input reads as zeros, so every
// prefix of a seed is still a valid input.
struct OptionReader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    OptionReader(const uint8_t* d, size_t n) : data(d), size(n) {}
    uint8_t U8() { return pos < size ? data[pos++] : 0; }
    uint16_t U16() {
        const uint16_t lo = U8();
        return uint16_t(lo | (U8() << 8));
    }
    uint32_t U32() {
        const uint32_t lo = U16();
        return lo | (uint32_t(U16()) << 16);
    }
    // Consumes exactly n bytes (zeros past the end) and returns them.
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out(n, 0);
        for (size_t i = 0; i < n; ++i) out[i] = U8();
        return out;
    }
    const uint8_t* Rest() const { return data + (pos < size ? pos : size); }
    size_t RestSize() const { return pos < size ? size - pos : 0; }
};

// Fixed option block sizes, so seed files can be made by prefixing a stream.
constexpr size_t kDecodeOptionBytes = 16;

// Largest decoded window and compressed image the targets work on, so that a
// header claiming a huge image cannot turn one input into minutes of work.
constexpr uint32_t kMaxDecodePixels = 1u << 16;
constexpr uint32_t kMaxCompressPixels = 1u << 16;
constexpr uint32_t kMaxOutputBytes = 16u << 20;

// Status the host callbacks return when they give up on purpose; anything the
// library returns must be 0, one of its codes, or one of these.
constexpr int16_t kHostStop = 4242;
constexpr int16_t kHostFail = 77;

inline bool IsLibraryStatus(int16_t s) {
    switch (s) {
        case VEX_OK: case VEX_ERR_IO_REQUEST: case VEX_ERR_UNSUPPORTED: case VEX_ERR_NOT_OPEN:
        case VEX_ERR_WINDOW: case VEX_ERR_AC_COUNT: case VEX_ERR_DC_COUNT:
        case VEX_ERR_NO_CALLBACK: case VEX_ERR_SHORT_READ: case VEX_ERR_AC_TABLE:
        case VEX_ERR_DC_TABLE: case VEX_ERR_Q_TABLE: case VEX_ERR_SAMPLING: case VEX_ERR_BAND:
        case VEX_ERR_TILE: case VEX_ERR_IMAGE_SIZE: case VEX_ERR_CONTAINER:
        case VEX_ERR_PIXEL_FORMAT: case VEX_ERR_PIXEL_MODEL: case VEX_ERR_COLOR_SPACE:
        case VEX_ERR_QUALITY: case VEX_ERR_NO_BUFFER: case VEX_ERR_TABLE_KIND:
        case VEX_ERR_NO_MEMORY: case VEX_ERR_BUSY: case VEX_ERR_NOT_COMPRESSING:
            return true;
        default:
            return false;
    }
}

inline bool IsExpectedStatus(int16_t s) {
    return IsLibraryStatus(s) || s == kHostStop || s == kHostFail;
}

// A buffer lent to the library: allocated exactly `size` bytes (a zero-size
// allocation still has a unique address the sanitizer guards).
struct LentBuffer {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    void Renew(size_t n, uint8_t fill) {
        delete[] bytes;
        bytes = new uint8_t[n];
        size = n;
        if (n) std::memset(bytes, fill, n);
    }
    void Release() {
        delete[] bytes;
        bytes = nullptr;
        size = 0;
    }
    ~LentBuffer() { delete[] bytes; }
};

// ---- input side --------------------------------------------------------

// How the host says that the stream has ended. Setting the end flag on a
// read that delivers no bytes is a host error the library reports (-393), so
// the third style is a misbehaving host.
enum EndStyle : uint8_t {
    kEndFlagWithLast = 0,  // sets the end flag together with the last bytes
    kEndEmptyNoFlag = 1,   // returns 0 bytes at the end and never sets the flag
    kEndEmptyWithFlag = 2, // returns 0 bytes and sets the flag, but only then
};

struct StreamHost {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t pos = 0;
    uint16_t chunk = 65535;
    EndStyle endStyle = kEndFlagWithLast;
    int calls = 0;
    int failAtCall = 0;  // 1-based; 0 never
    LentBuffer lent;
    std::string finding;  // first protocol violation seen
};

inline StreamHost*& CurrentStream() {
    static StreamHost* host = nullptr;
    return host;
}

inline int16_t VEXAPI HostRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag) {
    StreamHost& h = *CurrentStream();
    ++h.calls;
    if (h.failAtCall != 0 && h.calls == h.failAtCall) return kHostFail;
    if (h.calls > 2000000) return kHostStop;  // a reader that never stops asking
    if (data == nullptr || count == nullptr || flag == nullptr) {
        if (h.finding.empty()) h.finding = "read callback given a null argument";
        return kHostStop;
    }
    if (position != -1) h.pos = position < 0 ? h.size : uint32_t(position);
    const uint32_t available = h.pos < h.size ? h.size - h.pos : 0;
    uint32_t n = *count;
    if (n > h.chunk) n = h.chunk;
    if (n > available) n = available;
    h.lent.Renew(n, 0);
    if (n) std::memcpy(h.lent.bytes, h.data + h.pos, n);
    h.pos += n;
    *data = h.lent.bytes;
    *count = uint16_t(n);
    if (h.pos >= h.size) {
        if (h.endStyle == kEndFlagWithLast && n != 0) *flag = 1;
        if (h.endStyle == kEndEmptyWithFlag && n == 0) *flag = 1;
    }
    return 0;
}

struct MarkerSink {
    uint64_t sum = 0;
    int16_t comStatus = 0;  // returned for COM segments
};
inline MarkerSink& CurrentMarkerSink() {
    static MarkerSink sink;
    return sink;
}

// Reads every byte handed over, so a piece pointing outside the input shows.
inline int16_t VEXAPI HostAppMarkerRead(uint8_t marker, uint16_t info, uint16_t count,
                                        uint8_t** data) {
    MarkerSink& s = CurrentMarkerSink();
    s.sum += info;
    if (count != 0) {
        if (data == nullptr || *data == nullptr) return kHostStop;
        for (uint16_t i = 0; i < count; ++i) s.sum += (*data)[i];
    }
    return marker == 0xFE ? s.comStatus : 0;
}

// ---- output side -------------------------------------------------------

struct SinkHost {
    std::vector<uint8_t> stream;
    LentBuffer lent;
    uint32_t lentPos = 0;
    bool haveLent = false;
    uint16_t bufferSize = 4096;
    uint8_t fill = 0xAA;
    int calls = 0;
    int failAtCall = 0;
    std::string finding;
};

inline SinkHost*& CurrentSink() {
    static SinkHost* sink = nullptr;
    return sink;
}

inline int16_t VEXAPI HostWrite(uint8_t** buffer, int32_t position, uint16_t* size,
                                void* reserved) {
    SinkHost& s = *CurrentSink();
    ++s.calls;
    if (s.failAtCall != 0 && s.calls == s.failAtCall) return kHostFail;
    if (buffer == nullptr || size == nullptr) {
        if (s.finding.empty()) s.finding = "write callback given a null argument";
        return kHostStop;
    }
    if (reserved != nullptr && s.finding.empty()) s.finding = "write callback reserved word not 0";
    if (*size != 0) {
        if (!s.haveLent || *size > s.lent.size) {
            if (s.finding.empty()) s.finding = "write callback handed more bytes than lent";
            return kHostStop;
        }
        const uint64_t end = uint64_t(s.lentPos) + *size;
        if (end > kMaxOutputBytes) return kHostStop;
        if (s.stream.size() < end) s.stream.resize(size_t(end), s.fill);  // gaps show too
        std::memcpy(s.stream.data() + s.lentPos, s.lent.bytes, *size);
    }
    const uint64_t next = position == -1 ? uint64_t(s.lentPos) + *size : uint64_t(uint32_t(position));
    if (position < -1 || next > kMaxOutputBytes) return kHostStop;
    s.lentPos = uint32_t(next);
    s.lent.Renew(s.bufferSize, s.fill);
    s.haveLent = true;
    *buffer = s.bufferSize ? s.lent.bytes : nullptr;
    *size = s.bufferSize;
    return 0;
}

// ---- common checks -----------------------------------------------------

// Closes whatever is open, releases the library's memory and reports a leak.
inline std::string CloseAndCheckLeaks() {
    AppVexAbort();
    if (AppVexDeallocate() != 0) return "AppVexDeallocate failed";
    const q32vex::AllocatorStats stats = q32vex::GetAllocatorStats();
    if (stats.liveBlocks != 0 || stats.liveBytes != 0) return "library blocks leaked";
    return std::string();
}

// Bytes a pixel takes in the host's rows: all four channels of the
// descriptor, which for every layout the library accepts is its table row's
// size. Counting only the model's channels would be short by a byte for
// four-channel pixels under the colour model (24 bits counted, 4 bytes moved).
inline int BytesPerPixelOf(const AppVexParams& p) {
    int bits = 0;
    for (int c = 0; c < 4; ++c) bits += p.pixelFormat.bits[c] + p.pixelFormat.pad[c];
    return bits / 8;
}

// The library's five host pixel layouts, by index, with their pixel model.
inline PixelFormatDesc FormatByIndex(int index, int16_t* model) {
    static const PixelFormatDesc kDescs[5] = {
        {{5, 5, 5, 0}, {0, 0, 1, 0}}, {{8, 8, 8, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 0}, {0, 0, 8, 0}},
        {{8, 0, 0, 0}, {0, 0, 0, 0}}, {{8, 8, 8, 8}, {0, 0, 0, 0}},
    };
    static const int16_t kModels[5] = {0, 0, 0, 1, 2};
    index = ((index % 5) + 5) % 5;
    if (model) *model = kModels[index];
    return kDescs[index];
}

inline SamplingDesc SamplingByIndex(int index, int16_t* colorSpace) {
    static const SamplingDesc kSamplings[7] = {
        {{2, 1, 1, 0}, {1, 1, 1, 0}}, {{2, 1, 1, 0}, {2, 1, 1, 0}}, {{1, 1, 1, 0}, {1, 1, 1, 0}},
        {{1, 0, 0, 0}, {1, 0, 0, 0}}, {{2, 1, 1, 2}, {2, 1, 1, 2}}, {{1, 1, 1, 1}, {1, 1, 1, 1}},
        {{4, 1, 1, 0}, {1, 1, 1, 0}},
    };
    static const int16_t kSpaces[7] = {0, 0, 0, 1, 3, 3, 0};
    index = ((index % 7) + 7) % 7;
    if (colorSpace) *colorSpace = kSpaces[index];
    return kSamplings[index];
}

// A format index the support matrix pairs with a sampling index.
inline int SupportedFormatFor(int samplingIndex, int choice) {
    switch (samplingIndex) {
        case 3: return 3;
        case 4: case 5: return 4;
        case 6: return 1;
        default: return choice % 3;
    }
}

}  // namespace vexfuzz
