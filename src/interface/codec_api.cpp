// Codec instances for hosts that hold handles: the sequences of the legacy
// exports, each on an instance of its own, and one-call forms that run a
// whole sequence between memory buffers.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "container/jpeg_writer.h"
#include "encode/stream_writer.h"
#include "interface/codec.h"
#include "interface/compress_sequence.h"
#include "interface/decompress_sequence.h"
#include "q32vex_codec.h"

struct VexCodec {
    q32vex::Codec codec{};
};

namespace {

using q32vex::Status;

// A stream growing in one malloc'd block. The library writes straight into
// the block: each buffer lent is the block from the requested position on,
// at most 65535 bytes (a buffer length is 16 bits).
struct MemorySink {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t size = 0;     // bytes of stream written so far
    size_t lentAt = 0;   // stream position of the buffer lent
    bool fixed = false;  // the caller's block: it does not grow
};

// The whole stream is in memory: each request is answered in place.
struct MemorySource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};

// What the one-call forms hand the library as the instance's functions: the
// memory sink or source, and the host's own APPn and COM functions, which
// keep their context.
struct MemoryHost {
    VexIo host;
    MemorySink sink;
    MemorySource source;
};

constexpr size_t kLendBytes = 65535;

int16_t SinkWrite(void* context, uint8_t** buffer, int32_t position, uint16_t* size) {
    MemorySink& sink = static_cast<MemoryHost*>(context)->sink;
    if (*buffer != nullptr) sink.size = std::max(sink.size, sink.lentAt + *size);
    const size_t next = position == -1 ? sink.lentAt + *size : size_t(uint32_t(position));
    if (sink.fixed) {
        // What is left of the block; none at its end, which fails a write
        // that needs more but not the last hand-over.
        const size_t left = next < sink.capacity ? sink.capacity - next : 0;
        sink.lentAt = next;
        *buffer = left != 0 ? sink.data + next : nullptr;
        *size = uint16_t(std::min(left, kLendBytes));
        return 0;
    }
    if (next + kLendBytes > sink.capacity) {
        const size_t grown = std::max(next + kLendBytes, sink.capacity * 2);
        auto* data = static_cast<uint8_t*>(std::realloc(sink.data, grown));
        if (data == nullptr) return VEX_ERR_NO_MEMORY;
        sink.data = data;
        sink.capacity = grown;
    }
    sink.lentAt = next;
    *buffer = sink.data + next;
    *size = uint16_t(kLendBytes);
    return 0;
}

int16_t SourceRead(void* context, uint8_t** data, int32_t position, uint16_t* count, int16_t* endFlag) {
    MemorySource& source = static_cast<MemoryHost*>(context)->source;
    if (position != -1) source.position = std::min(source.size, size_t(uint32_t(position)));
    const size_t want = *count;
    const size_t n = std::min(want, source.size - source.position);
    // The library only reads its input; the pointer type is the one writers
    // share.
    *data = const_cast<uint8_t*>(source.data) + source.position;
    *count = uint16_t(n);
    source.position += n;
    // A short delivery is the end of the data; an empty one is left for the
    // library to notice.
    if (n > 0 && n < want && endFlag != nullptr) *endFlag = 1;
    return 0;
}

int16_t ForwardAppMarker(void* context, uint8_t marker, uint16_t* size, uint16_t* bufferLength, uint8_t** data) {
    const VexIo& host = static_cast<MemoryHost*>(context)->host;
    return host.appMarker(host.context, marker, size, bufferLength, data);
}

int16_t ForwardAppMarkerRead(void* context, uint8_t marker, uint16_t info, uint16_t count, uint8_t** data) {
    const VexIo& host = static_cast<MemoryHost*>(context)->host;
    return host.appMarkerRead(host.context, marker, info, count, data);
}

// Puts the memory functions in place of the instance's for one call, and
// the instance's back afterwards.
class MemoryIoScope {
public:
    MemoryIoScope(q32vex::Codec& codec, MemoryHost& memory, bool writing)
        : codec_(codec), saved_(codec.hostIo) {
        memory.host = saved_;
        VexIo io{};
        io.context = &memory;
        if (writing) io.write = SinkWrite;
        if (!writing) io.read = SourceRead;
        // Where the instance has no APPn or COM function, the record's
        // callback serves, as in every sequence.
        if (saved_.appMarker != nullptr) io.appMarker = ForwardAppMarker;
        if (saved_.appMarkerRead != nullptr) io.appMarkerRead = ForwardAppMarkerRead;
        codec.hostIo = io;
    }
    ~MemoryIoScope() { codec_.hostIo = saved_; }
    MemoryIoScope(const MemoryIoScope&) = delete;
    MemoryIoScope& operator=(const MemoryIoScope&) = delete;

private:
    q32vex::Codec& codec_;
    VexIo saved_;
};

bool EmptyRect(const BandRect& r) { return r.x0 == 1 && r.x1 == 0; }

// A record that leaves the band size and the band memory at zero lets the
// one-call forms choose: compression reads straight from the caller's image,
// so one band is the whole image; decompression, and compression through a
// conversion, go through a band buffer of their own, so it is kept to a
// budget that still codes at full speed.
constexpr int32_t kBandBufferBudget = 1 << 20;

bool BandsUnset(const AppVexParams& p) { return p.bandWidth == 0 && p.bandHeight == 0 && p.bandMemory == 0; }

uint32_t BytesPerPixel(const q32vex::Codec& codec) { return (uint32_t(codec.seq.bitsPerPixel) + 7) / 8; }

// Row pointers for a band of `rows` rows, or null when out of memory.
uint8_t** AllocRows(uint32_t rows) { return static_cast<uint8_t**>(std::malloc(sizeof(uint8_t*) * rows)); }

Status Abort(q32vex::Codec& codec, Status status) {
    (void)q32vex::AbortSequence(codec);
    return status;
}

Status CompressImage(q32vex::Codec& codec, AppVexParams* params, const uint8_t* pixels, ptrdiff_t stride,
                     const VexPixelConversion* conversion) {
    if (BandsUnset(*params)) {
        if (conversion != nullptr) {
            params->bandMemory = kBandBufferBudget;
        } else {
            params->bandWidth = params->width;
            params->bandHeight = params->height;
        }
    }
    Q_TRY(q32vex::OpenCompression(codec, params));
    const uint32_t bpp = BytesPerPixel(codec);
    const uint32_t hostBpp = conversion != nullptr ? conversion->hostBytesPerPixel : bpp;
    const uint16_t bandWidth = std::min(params->bandWidth, params->width);
    const uint16_t bandHeight = std::min(params->bandHeight, params->height);
    const size_t rowBytes = size_t(bandWidth) * bpp;
    uint8_t** rows = AllocRows(bandHeight);
    uint8_t* converted = conversion != nullptr ? static_cast<uint8_t*>(std::malloc(rowBytes * bandHeight)) : nullptr;
    Status status = rows == nullptr || (conversion != nullptr && converted == nullptr) ? VEX_ERR_NO_MEMORY : 0;
    BandRect band = {0, 0, uint16_t(bandWidth - 1), uint16_t(bandHeight - 1)};
    while (status == 0) {
        // The library asks only for bands inside the image, at most a band's
        // height each.
        for (uint32_t y = band.y0; y <= band.y1; ++y) {
            const uint8_t* row = pixels + ptrdiff_t(y) * stride + ptrdiff_t(band.x0) * hostBpp;
            if (conversion == nullptr) {
                rows[y - band.y0] = const_cast<uint8_t*>(row);
                continue;
            }
            rows[y - band.y0] = converted + (y - band.y0) * rowBytes;
            conversion->convert(conversion->context, row, rows[y - band.y0], uint32_t(band.x1 - band.x0 + 1));
        }
        BandRect next = {1, 0, 0, 0};
        status = q32vex::CompressBand(codec, rows, &next);
        if (status != 0 || EmptyRect(next)) break;
        band = next;
    }
    std::free(rows);
    std::free(converted);
    return status != 0 ? Abort(codec, status) : 0;
}

// Bands that span the window's width come top to bottom, so the library can
// decode straight into the caller's rows, unless they need converting; rows
// past the window's bottom (the last band may be shorter) point at one spare
// row. Other bands, tile by tile, go through a band buffer and are copied or
// converted into place.
Status DecompressImage(q32vex::Codec& codec, AppVexParams* params, uint8_t* pixels, ptrdiff_t stride,
                       const VexPixelConversion* conversion) {
    if (BandsUnset(*params)) params->bandMemory = kBandBufferBudget;
    Q_TRY(q32vex::OpenDecompression(codec, params));
    const uint32_t bpp = BytesPerPixel(codec);
    const uint32_t hostBpp = conversion != nullptr ? conversion->hostBytesPerPixel : bpp;
    const uint32_t width = uint32_t(params->windowRight - params->windowLeft + 1);
    const uint32_t height = uint32_t(params->windowBottom - params->windowTop + 1);
    const uint32_t bandWidth = std::max<uint32_t>(1, std::min<uint32_t>(params->bandWidth, width));
    const uint32_t bandHeight = std::max<uint32_t>(1, std::min<uint32_t>(params->bandHeight, height));
    const bool inPlace = bandWidth == width && conversion == nullptr;
    const size_t rowBytes = size_t(bandWidth) * bpp;
    uint8_t** rows = AllocRows(bandHeight);
    auto* band = static_cast<uint8_t*>(std::malloc(rowBytes * (inPlace ? 1 : bandHeight)));
    Status status = rows == nullptr || band == nullptr ? VEX_ERR_NO_MEMORY : 0;
    uint32_t nextRow = 0;
    while (status == 0) {
        for (uint32_t y = 0; y < bandHeight; ++y) {
            if (!inPlace) rows[y] = band + y * rowBytes;
            else rows[y] = nextRow + y < height ? pixels + ptrdiff_t(nextRow + y) * stride : band;
        }
        BandRect r = {1, 0, 0, 0};
        status = q32vex::DecompressBand(codec, rows, &r);
        if (status != 0 || EmptyRect(r)) break;
        if (inPlace) {
            // Anything else would have put the rows in the wrong place.
            if (r.y0 != nextRow || r.x0 != 0) status = VEX_ERR_BAND;
            nextRow = uint32_t(r.y1) + 1;
            continue;
        }
        const uint32_t columns = uint32_t(r.x1 - r.x0 + 1);
        for (uint32_t y = r.y0; y <= r.y1; ++y) {
            uint8_t* out = pixels + ptrdiff_t(y) * stride + ptrdiff_t(r.x0) * hostBpp;
            if (conversion != nullptr) conversion->convert(conversion->context, rows[y - r.y0], out, columns);
            else std::memcpy(out, rows[y - r.y0], columns * bpp);
        }
    }
    std::free(rows);
    std::free(band);
    return status != 0 ? Abort(codec, status) : 0;
}

// A budget in MiB, 1 to the largest block the allocator can count.
Status SetProgressiveBudget(q32vex::Codec& codec, int mebibytes) {
    if (mebibytes < 1 || uint32_t(mebibytes) > q32vex::kMaxProgressiveBudgetMiB) return VEX_ERR_UNSUPPORTED;
    if (codec.seq.sequenceState != q32vex::kIdle) return VEX_ERR_BUSY;
    codec.options.progressiveBudgetMiB = uint32_t(mebibytes);
    return 0;
}

}  // namespace

VexCodec* q32vex::CreateHelperInstance(const VexCodec* parent) {
    VexCodec* helper = VexCodecCreate();
    if (helper != nullptr) helper->codec.options = parent->codec.options;
    return helper;
}

void q32vex::AddStripReport(VexCodec* into, const VexDecodeReport& s, uint32_t firstMcu) {
    DecodeReport& r = into->codec.report;
    if ((s.damage & VEX_DAMAGE_DATA_ENDED) != 0 && (r.damage & kDamageDataEnded) == 0)
        r.dataEndedAtMcu = firstMcu + s.dataEndedAtMcu;
    if ((s.damage & VEX_DAMAGE_CORRUPT_DATA) != 0 && (r.damage & kDamageCorruptData) == 0)
        r.corruptAtMcu = firstMcu + s.corruptAtMcu;
    // Skipped bytes are counted by the input reader, not the report.
    r.damage |= s.damage & ~uint32_t(VEX_DAMAGE_SKIPPED_BYTES);
    r.restartFaults += s.restartFaults;
    into->codec.in.skippedBytes += s.skippedBytes;
}

extern "C" {

VexCodec* VexCodecCreate(void) { return new (std::nothrow) VexCodec; }

void VexCodecDestroy(VexCodec* codec) {
    if (codec == nullptr) return;
    (void)q32vex::ReleaseCodecMemory(codec->codec);
    delete codec;
}

void VexCodecSetIo(VexCodec* codec, const VexIo* io) { codec->codec.hostIo = io != nullptr ? *io : VexIo{}; }

int16_t VexCodecSetOption(VexCodec* codec, int option, int value) {
    if (option == VEX_OPTION_PROGRESSIVE_BUDGET) return SetProgressiveBudget(codec->codec, value);
    if (value != 0 && value != 1) return VEX_ERR_UNSUPPORTED;
    if (codec->codec.seq.sequenceState != q32vex::kIdle) return VEX_ERR_BUSY;
    switch (option) {
        case VEX_OPTION_SATURATING_COLOUR: codec->codec.options.saturatingColour = value == 1; return 0;
        case VEX_OPTION_PROGRESSIVE: codec->codec.options.progressive = value == 1; return 0;
        case VEX_OPTION_EXTENDED_FRAMES: codec->codec.options.extendedFrames = value == 1; return 0;
        case VEX_OPTION_RAW_COMPONENTS: codec->codec.options.rawComponents = value == 1; return 0;
        default: return VEX_ERR_UNSUPPORTED;
    }
}

uint64_t VexCodecProgressiveBytes(const VexCodec* codec) { return codec->codec.progressive.bytesNeeded; }

static_assert(uint32_t(q32vex::kDamageDataEnded) == uint32_t(VEX_DAMAGE_DATA_ENDED) &&
                  uint32_t(q32vex::kDamageCorruptData) == uint32_t(VEX_DAMAGE_CORRUPT_DATA) &&
                  uint32_t(q32vex::kDamageRestart) == uint32_t(VEX_DAMAGE_RESTART) &&
                  uint32_t(q32vex::kDamageNoEndMarker) == uint32_t(VEX_DAMAGE_NO_END_MARKER),
              "the engine's damage bits are the public ones");

int16_t VexCodecDecodeReport(const VexCodec* codec, VexDecodeReport* report) {
    if (codec == nullptr || report == nullptr) return VEX_ERR_IO_REQUEST;
    const q32vex::Codec& c = codec->codec;
    *report = VexDecodeReport{};
    // The legacy reading reports nothing, whatever the input reader counted.
    if (!c.options.extendedFrames) return 0;
    report->damage = c.report.damage;
    report->dataEndedAtMcu = c.report.dataEndedAtMcu;
    report->corruptAtMcu = c.report.corruptAtMcu;
    report->restartFaults = c.report.restartFaults;
    report->skippedBytes = c.in.skippedBytes;
    if (report->skippedBytes != 0) report->damage |= VEX_DAMAGE_SKIPPED_BYTES;
    return 0;
}
static_assert(int(q32vex::FrameColour::kLegacy) == VEX_FRAME_NONE && int(q32vex::FrameColour::kGrey) == VEX_FRAME_GREY &&
                  int(q32vex::FrameColour::kYCbCr) == VEX_FRAME_YCBCR && int(q32vex::FrameColour::kRgb) == VEX_FRAME_RGB &&
                  int(q32vex::FrameColour::kCmyk) == VEX_FRAME_CMYK && int(q32vex::FrameColour::kYcck) == VEX_FRAME_YCCK,
              "the frame colours are numbered as the header says");

int VexCodecFrameColour(const VexCodec* codec) { return int(codec->codec.frameColour); }

int16_t VexQuerySupport(VexCodec* codec, int32_t direction, const AppVexParams* params) {
    return q32vex::QuerySupport(codec->codec, direction, params);
}

int16_t VexCompressOpen(VexCodec* codec, AppVexParams* params) {
    return q32vex::OpenCompression(codec->codec, params);
}

int16_t VexCompressBand(VexCodec* codec, uint8_t** rows, BandRect* next) {
    return q32vex::CompressBand(codec->codec, rows, next);
}

int16_t VexReadInfo(VexCodec* codec, AppVexParams* params) { return q32vex::ReadStreamInfo(codec->codec, params); }

int16_t VexDecompressOpen(VexCodec* codec, AppVexParams* params) {
    return q32vex::OpenDecompression(codec->codec, params);
}

int16_t VexDecompressBand(VexCodec* codec, uint8_t** rows, BandRect* filled) {
    return q32vex::DecompressBand(codec->codec, rows, filled);
}

int16_t VexAbort(VexCodec* codec) { return q32vex::AbortSequence(codec->codec); }

int16_t VexReleaseMemory(VexCodec* codec) { return q32vex::ReleaseCodecMemory(codec->codec); }

void VexFree(void* block) { std::free(block); }

int16_t VexRawStreamHeader(const AppVexParams* params, uint8_t* out, size_t capacity, size_t* size) {
    *size = 0;
    MemoryHost memory;
    memory.sink.data = out;
    memory.sink.capacity = capacity;
    memory.sink.fixed = true;
    q32vex::HostIo io{};
    io.instance.context = &memory;
    io.instance.write = SinkWrite;
    q32vex::StreamBuffer stream;
    q32vex::OpenStream(stream, io);
    Q_TRY(q32vex::WriteRawStreamHeader(stream, params));
    Q_TRY(q32vex::HandOverLastBytes(stream));
    *size = memory.sink.size;
    return 0;
}

int16_t VexCompressMemory(VexCodec* codec, AppVexParams* params, const uint8_t* pixels, ptrdiff_t stride,
                          uint8_t** out, size_t* outSize) {
    return VexCompressMemoryConverted(codec, params, pixels, stride, nullptr, out, outSize);
}

int16_t VexCompressMemoryConverted(VexCodec* codec, AppVexParams* params, const uint8_t* pixels, ptrdiff_t stride,
                                   const VexPixelConversion* conversion, uint8_t** out, size_t* outSize) {
    *out = nullptr;
    *outSize = 0;
    MemoryHost memory;
    Status status = 0;
    {
        MemoryIoScope scope(codec->codec, memory, true);
        status = CompressImage(codec->codec, params, pixels, stride, conversion);
    }
    if (status != 0) {
        std::free(memory.sink.data);
        return status;
    }
    *out = memory.sink.data;
    *outSize = memory.sink.size;
    return 0;
}

int16_t VexReadInfoMemory(VexCodec* codec, AppVexParams* params, const uint8_t* data, size_t size) {
    MemoryHost memory;
    memory.source = {data, size, 0};
    MemoryIoScope scope(codec->codec, memory, false);
    return q32vex::ReadStreamInfo(codec->codec, params);
}

int16_t VexDecompressMemory(VexCodec* codec, AppVexParams* params, const uint8_t* data, size_t size,
                            uint8_t* pixels, ptrdiff_t stride) {
    return VexDecompressMemoryConverted(codec, params, data, size, pixels, stride, nullptr);
}

int16_t VexDecompressMemoryConverted(VexCodec* codec, AppVexParams* params, const uint8_t* data, size_t size,
                                     uint8_t* pixels, ptrdiff_t stride, const VexPixelConversion* conversion) {
    MemoryHost memory;
    memory.source = {data, size, 0};
    MemoryIoScope scope(codec->codec, memory, false);
    return DecompressImage(codec->codec, params, pixels, stride, conversion);
}

}  // extern "C"
