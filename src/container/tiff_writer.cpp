// Tiled TIFF-JPEG container: header, one directory, the out-of-line values in
// ascending file order, and room for the tile arrays, which the trailer fills
// in place once every tile's position and length are known.
#include "container/tiff_writer.h"

#include "common/format.h"
#include "common/record_enums.h"
#include "common/tables.h"
#include "encode/stream_writer.h"

namespace q32vex {
namespace {

enum TiffType : uint16_t { kShort = 3, kLong = 4, kRational = 5 };

constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kEntryBytes = 12;
constexpr uint16_t kPlainEntries = 20;
constexpr uint16_t kYcbcrEntries = 23;

// Header, entry count, the entries and the zero next-directory offset.
constexpr uint32_t DataStart(uint16_t entries) { return kHeaderBytes + 2 + entries * kEntryBytes + 4; }
static_assert(DataStart(kPlainEntries) == 254, "first out-of-line value, 20 entries");
static_assert(DataStart(kYcbcrEntries) == 290, "first out-of-line value, 23 entries");

// "II", then 42 and the directory offset 8 with their bytes high first: the
// fixed signature that readers of this library's files check.
constexpr uint8_t kSignature[kHeaderBytes] = {0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08};

// Photometric interpretation per colour space 0..3.
constexpr uint16_t kPhotometric[4] = {6, 0, 2, 5};
// TIFF resolution unit per JFIF density unit 0..3.
constexpr uint16_t kResolutionUnit[4] = {1, 2, 3, 0};
constexpr uint32_t kReferenceBlackWhite[6] = {0, 255, 128, 255, 128, 255};

constexpr uint16_t kHuffBitsBytes = 16;

uint32_t SpecBytes(const uint8_t* spec) {
    uint32_t sum = kHuffBitsBytes;
    for (int i = 0; i < kHuffBitsBytes; ++i) sum += spec[i];
    return sum;
}

// Little-endian bytes collected in a small record and appended in one go.
struct Chunk {
    uint8_t bytes[64];
    uint32_t used;

    void Short(uint32_t v) {
        bytes[used++] = uint8_t(v);
        bytes[used++] = uint8_t(v >> 8);
    }
    void Long(uint32_t v) {
        Short(v & 0xFFFF);
        Short(v >> 16);
    }
    Status Flush(StreamBuffer& out) {
        const Status status = WriteBytes(out, bytes, used);
        used = 0;
        return status;
    }
};

Status WriteEntry(StreamBuffer& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Chunk c{};
    c.Short(tag);
    c.Short(type);
    c.Long(count);
    c.Long(value);
    return c.Flush(out);
}

// A SHORT value sits in the first two bytes of the entry's value field.
Status WriteShortEntry(StreamBuffer& out, uint16_t tag, uint32_t count, uint16_t value) {
    return WriteEntry(out, tag, kShort, count, value);
}

// Offsets of a run of tables stored back to back right after the offsets.
Status WriteTableOffsets(StreamBuffer& out, const uint8_t* const tables[4], uint16_t n, uint32_t at, bool huffman) {
    Chunk c{};
    uint32_t next = at + 4u * n;
    for (uint16_t i = 0; i < n; ++i) {
        c.Long(next);
        next += huffman ? SpecBytes(tables[i]) : kQuantTableBytes;
    }
    return c.Flush(out);
}

Status WriteTables(StreamBuffer& out, const uint8_t* const tables[4], uint16_t n, bool huffman) {
    for (uint16_t i = 0; i < n; ++i)
        Q_TRY(WriteBytes(out, tables[i], huffman ? SpecBytes(tables[i]) : kQuantTableBytes));
    return 0;
}

// Writes `count` entries of `array` as little-endian LONGs, the first at
// stream position `position` (-1: the current one).
Status WriteLongArray(StreamBuffer& out, const uint32_t* array, uint32_t count, int32_t position) {
    uint8_t chunk[1024];
    uint32_t done = 0;
    while (done < count) {
        uint32_t n = 0;
        for (; n < sizeof(chunk) && done < count; n += 4, ++done) {
            const uint32_t v = array != nullptr ? array[done] : 0;
            chunk[n] = uint8_t(v);
            chunk[n + 1] = uint8_t(v >> 8);
            chunk[n + 2] = uint8_t(v >> 16);
            chunk[n + 3] = uint8_t(v >> 24);
        }
        uint16_t bytes = uint16_t(n);
        Q_TRY(WriteStream(out, chunk, position, &bytes, kStreamWrite));
        position = -1;  // the rest follows on
    }
    return 0;
}

}  // namespace

Status WriteTiffHeader(StreamBuffer& out, const AppVexParams* p, TiffWriterState* state) {
    // The file describes host channels (SamplesPerPixel from the pixel model)
    // and compressed components with one count, so the two must agree: a grey
    // image given as three-channel pixels has one component's tables only.
    // Density units beyond the four TIFF resolution units have no mapping.
    if (!IsPixelModel(p->pixelModel) || p->colorSpace < 0 || p->colorSpace > 3)
        return VEX_ERR_CONTAINER;
    const uint16_t n = kModelChannels[p->pixelModel];
    if (n != kColorSpaceComponents[p->colorSpace]) return VEX_ERR_CONTAINER;
    if (p->densityUnits > 3) return VEX_ERR_CONTAINER;
    const bool ycbcr = p->colorSpace == 0;  // then n is 3

    const uint8_t* q[4];
    const uint8_t* dc[4];
    const uint8_t* ac[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = p->qTables[i];
        dc[i] = p->dcTables[i];
        ac[i] = p->acTables[i];
    }
    uint32_t dcBytes = 0, acBytes = 0;
    for (uint16_t i = 0; i < n; ++i) {
        dcBytes += SpecBytes(dc[i]);
        acBytes += SpecBytes(ac[i]);
    }

    const uint16_t entries = ycbcr ? kYcbcrEntries : kPlainEntries;
    const uint32_t bitsAt = DataStart(entries);                     // B
    const uint32_t referenceAt = bitsAt + 2u * n;                   // R, YCbCr only
    const uint32_t resolutionAt = ycbcr ? referenceAt + 8u * n : bitsAt + 2u * n;  // X
    const uint32_t qOffsetsAt = resolutionAt + 16;
    const uint32_t dcOffsetsAt = qOffsetsAt + 68u * n;              // D
    const uint32_t acOffsetsAt = dcOffsetsAt + 4u * n + dcBytes;    // A
    const uint32_t tileOffsetsAt = acOffsetsAt + 4u * n + acBytes;  // T
    const uint32_t tileCount = p->tileCount;
    state->tileOffsetsPos = tileOffsetsAt;
    state->tileByteCountsPos = tileOffsetsAt + 4u * tileCount;

    Q_TRY(WriteBytes(out, kSignature, kHeaderBytes));
    {
        Chunk c{};
        c.Short(entries);
        Q_TRY(c.Flush(out));
    }
    Q_TRY(WriteEntry(out, 0x00FE, kLong, 1, 0));  // NewSubfileType
    Q_TRY(WriteEntry(out, 0x0100, kLong, 1, p->width));
    Q_TRY(WriteEntry(out, 0x0101, kLong, 1, p->height));
    Q_TRY(WriteEntry(out, 0x0102, kShort, n, bitsAt));  // BitsPerSample
    Q_TRY(WriteEntry(out, 0x0103, kLong, 1, 6));       // Compression: JPEG
    Q_TRY(WriteShortEntry(out, 0x0106, 1, kPhotometric[p->colorSpace]));
    Q_TRY(WriteShortEntry(out, 0x0115, 1, n));  // SamplesPerPixel
    Q_TRY(WriteEntry(out, 0x011A, kRational, 1, resolutionAt));
    Q_TRY(WriteEntry(out, 0x011B, kRational, 1, resolutionAt + 8));
    Q_TRY(WriteShortEntry(out, 0x011C, 1, 1));  // PlanarConfiguration: chunky
    Q_TRY(WriteShortEntry(out, 0x0128, 1, kResolutionUnit[p->densityUnits]));
    Q_TRY(WriteShortEntry(out, 0x0142, 1, p->tileWidth));
    Q_TRY(WriteShortEntry(out, 0x0143, 1, p->tileHeight));
    Q_TRY(WriteEntry(out, 0x0144, kLong, tileCount, state->tileOffsetsPos));
    Q_TRY(WriteEntry(out, 0x0145, kLong, tileCount, state->tileByteCountsPos));
    Q_TRY(WriteShortEntry(out, 0x0200, 1, 0));  // JPEGProc
    Q_TRY(WriteShortEntry(out, 0x0203, 1, p->restartInterval));
    Q_TRY(WriteEntry(out, 0x0207, kLong, n, qOffsetsAt));
    Q_TRY(WriteEntry(out, 0x0208, kLong, n, dcOffsetsAt));
    Q_TRY(WriteEntry(out, 0x0209, kLong, n, acOffsetsAt));
    if (ycbcr) {
        Q_TRY(WriteShortEntry(out, 0x0210, 1, 2));
        // YCbCrSubSampling: two SHORTs filling the value field.
        Q_TRY(WriteEntry(out, 0x0212, kShort, 2,
                         uint32_t(p->sampling.h[0]) | uint32_t(p->sampling.v[0]) << 16));
        Q_TRY(WriteEntry(out, 0x0214, kLong, 6, referenceAt));  // ReferenceBlackWhite
    }
    {
        Chunk c{};
        c.Long(0);  // no further directory
        for (uint16_t i = 0; i < n; ++i) c.Short(p->pixelFormat.bits[i]);
        if (ycbcr)
            for (uint32_t v : kReferenceBlackWhite) c.Long(v);
        c.Long(p->xDensity);
        c.Long(1);
        c.Long(p->yDensity);
        c.Long(1);
        Q_TRY(c.Flush(out));
    }
    Q_TRY(WriteTableOffsets(out, q, n, qOffsetsAt, false));
    Q_TRY(WriteTables(out, q, n, false));
    Q_TRY(WriteTableOffsets(out, dc, n, dcOffsetsAt, true));
    Q_TRY(WriteTables(out, dc, n, true));
    Q_TRY(WriteTableOffsets(out, ac, n, acOffsetsAt, true));
    Q_TRY(WriteTables(out, ac, n, true));

    // Room for both tile arrays, filled for now from the offsets array as it
    // stands; the trailer overwrites it.
    Q_TRY(WriteLongArray(out, p->tileOffsets, tileCount, -1));
    return WriteLongArray(out, p->tileOffsets, tileCount, -1);
}

Status WriteTiffTrailer(StreamBuffer& out, const AppVexParams* p, const TiffWriterState& state) {
    Q_TRY(WriteLongArray(out, p->tileOffsets, p->tileCount, int32_t(state.tileOffsetsPos)));
    return WriteLongArray(out, p->tileByteCounts, p->tileCount, int32_t(state.tileByteCountsPos));
}

}  // namespace q32vex
