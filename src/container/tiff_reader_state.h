// What the TIFF reader's stages share for one header read: the tags and
// types the layout uses, the records of values stored elsewhere in the file,
// and the reader's state. Only the reader's own files include this.
#pragma once
#include <cstdint>

#include "common/status.h"
#include "common/tables.h"
#include "decode/input_reader.h"

namespace q32vex {

struct TableSlots;
struct TileArrays;

namespace tiff {

constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeRational = 5;

constexpr uint16_t kTagNewSubfileType = 0x00FE;
constexpr uint16_t kTagImageWidth = 0x0100;
constexpr uint16_t kTagImageLength = 0x0101;
constexpr uint16_t kTagBitsPerSample = 0x0102;
constexpr uint16_t kTagCompression = 0x0103;
constexpr uint16_t kTagPhotometric = 0x0106;
constexpr uint16_t kTagSamplesPerPixel = 0x0115;
constexpr uint16_t kTagXResolution = 0x011A;
constexpr uint16_t kTagYResolution = 0x011B;
constexpr uint16_t kTagPlanarConfig = 0x011C;
constexpr uint16_t kTagResolutionUnit = 0x0128;
constexpr uint16_t kTagTileWidth = 0x0142;
constexpr uint16_t kTagTileLength = 0x0143;
constexpr uint16_t kTagTileOffsets = 0x0144;
constexpr uint16_t kTagTileByteCounts = 0x0145;
constexpr uint16_t kTagJpegProc = 0x0200;
constexpr uint16_t kTagJpegRestart = 0x0203;
constexpr uint16_t kTagJpegQTables = 0x0207;
constexpr uint16_t kTagJpegDcTables = 0x0208;
constexpr uint16_t kTagJpegAcTables = 0x0209;
constexpr uint16_t kTagYCbCrCoefficients = 0x0211;
constexpr uint16_t kTagYCbCrSubSampling = 0x0212;
constexpr uint16_t kTagYCbCrPositioning = 0x0210;
constexpr uint16_t kTagReferenceBlackWhite = 0x0214;
constexpr uint16_t kTagEndMark = 0xFFFF;

// Kinds of the per-component table records the table-offset arrays produce.
constexpr uint16_t kKindQuant = 100;
constexpr uint16_t kKindDc = 101;
constexpr uint16_t kKindAc = 102;

// The writer's directory has 20 entries before its end mark; the entries
// whose counts the file binds are numbered by their place in it.
constexpr int kTemplateEntries = 20;
constexpr int kBitsPerSampleEntry = 3;
constexpr int kTileOffsetsEntry = 13;
constexpr int kTileByteCountsEntry = 14;
constexpr int kQTablesEntry = 17;
constexpr int kDcTablesEntry = 18;
constexpr int kAcTablesEntry = 19;

// A value stored elsewhere in the file: where, what (a tag, or one of the
// table kinds above), and for tables the component.
struct DeferredEntry {
    uint32_t offset;
    uint16_t kind;
    uint16_t index;
};
static_assert(sizeof(DeferredEntry) == 8, "deferred records are 8 bytes");

constexpr int kDeferredCapacity = 25;
// Positions travel to the byte reader as signed 32-bit values, where -1
// means "here"; offsets beyond that range name no place in a file.
constexpr uint32_t kMaxOffset = 0x7FFFFFFF;

// One header read: where it reads from and stores to, and what it has learnt
// so far. It lives for that one call.
struct ReaderState {
    ReaderState(InputBuffer& input, TableSlots& tableSlots, TileArrays& tileArrays)
        : in(input), slots(tableSlots), tiles(tileArrays) {}

    InputBuffer& in;
    TableSlots& slots;
    TileArrays& tiles;
    uint32_t counts[kTemplateEntries] = {};
    bool bound[kTemplateEntries] = {};
    DeferredEntry deferredEntries[kDeferredCapacity] = {};
    uint16_t deferredUsed = 0;
    uint16_t components = 0;
    uint8_t scratchDc[2][kDcSpecBytes] = {};  // components 2 and 3
    uint8_t scratchAc[2][kAcSpecBytes] = {};
    uint8_t values[32] = {};
};

inline uint16_t Little16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Little32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Copies n bytes from `position` (-1: the current position). The input
// reader positions itself: a short step forward reads on and skips, anything
// else asks the host for that position.
inline Status CopyAt(InputBuffer& in, int32_t position, void* destination, uint16_t n) {
    uint16_t count = n;
    int16_t mode = kInputCopy;
    return ReadInput(in, destination, position, &count, &mode);
}

// Records a value to read later, in file order.
inline Status Defer(ReaderState& reader, uint32_t offset, uint16_t kind, uint16_t index) {
    if (reader.deferredUsed >= kDeferredCapacity || offset > kMaxOffset) return VEX_ERR_CONTAINER;
    reader.deferredEntries[reader.deferredUsed++] = DeferredEntry{offset, kind, index};
    return 0;
}

// The order deferred records are visited in: by offset (see SortEntries for
// records at equal offsets).
inline int CompareOffsets(const void* a, const void* b) {
    const auto* x = static_cast<const DeferredEntry*>(a);
    const auto* y = static_cast<const DeferredEntry*>(b);
    return int(int32_t(x->offset - y->offset));
}

// tiff_directory.cpp: the directory, checked entry by entry against the
// writer's template, its in-line values into *params and the others deferred.
[[nodiscard]] Status ReadDirectory(ReaderState& reader, AppVexParams* params);
// The tile arrays must hold one entry per tile of the declared geometry.
[[nodiscard]] Status CheckTileCount(const AppVexParams* params, uint32_t count);
// tiff_values.cpp: reads the deferred value at `index`; table-offset arrays
// add records for their tables behind it.
[[nodiscard]] Status VisitEntry(ReaderState& reader, AppVexParams* params, int index);
// tiff_table_sharing.cpp: points the record's Huffman tables of `kind` for
// components 2 and 3 at the two slots.
[[nodiscard]] Status ShareTables(ReaderState& reader, AppVexParams* params, int16_t kind);

}  // namespace tiff
}  // namespace q32vex
