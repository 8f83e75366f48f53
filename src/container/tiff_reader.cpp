// Reads the TIFF-JPEG layout this library writes: the fixed header, one
// directory checked entry by entry against the writer's template, then the
// out-of-line values, visited in ascending file order so the input mostly
// moves forward.
#include "container/tiff_reader.h"

#include "common/bytes.h"
#include "common/record_enums.h"
#include "common/tables.h"
#include "common/tile_arrays.h"
#include "decode/input_reader.h"

namespace q32vex {
namespace {

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

struct TemplateEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;  // for open entries: 0 until the file or SamplesPerPixel binds it
    bool open;
};

// The writer's 20 entries in their order, then the end mark.
constexpr int kTemplateEntries = 20;
constexpr TemplateEntry kTemplate[kTemplateEntries + 1] = {
    {kTagNewSubfileType, kTypeLong, 1, false},    {kTagImageWidth, kTypeLong, 1, false},
    {kTagImageLength, kTypeLong, 1, false},       {kTagBitsPerSample, kTypeShort, 0, true},
    {kTagCompression, kTypeLong, 1, false},       {kTagPhotometric, kTypeShort, 1, false},
    {kTagSamplesPerPixel, kTypeShort, 1, false},  {kTagXResolution, kTypeRational, 1, false},
    {kTagYResolution, kTypeRational, 1, false},   {kTagPlanarConfig, kTypeShort, 1, false},
    {kTagResolutionUnit, kTypeShort, 1, false},   {kTagTileWidth, kTypeShort, 1, false},
    {kTagTileLength, kTypeShort, 1, false},       {kTagTileOffsets, kTypeLong, 0, true},
    {kTagTileByteCounts, kTypeLong, 0, true},     {kTagJpegProc, kTypeShort, 1, false},
    {kTagJpegRestart, kTypeShort, 1, false},      {kTagJpegQTables, kTypeLong, 0, true},
    {kTagJpegDcTables, kTypeLong, 0, true},       {kTagJpegAcTables, kTypeLong, 0, true},
    {kTagEndMark, 0, 0, false},
};
constexpr int kBitsPerSampleEntry = 3;
constexpr int kTileOffsetsEntry = 13;
constexpr int kTileByteCountsEntry = 14;
constexpr int kQTablesEntry = 17;
constexpr int kDcTablesEntry = 18;
constexpr int kAcTablesEntry = 19;
static_assert(kTemplate[kBitsPerSampleEntry].tag == kTagBitsPerSample, "template order");
static_assert(kTemplate[kTileOffsetsEntry].tag == kTagTileOffsets, "template order");
static_assert(kTemplate[kTileByteCountsEntry].tag == kTagTileByteCounts, "template order");
static_assert(kTemplate[kQTablesEntry].tag == kTagJpegQTables, "template order");
static_assert(kTemplate[kDcTablesEntry].tag == kTagJpegDcTables, "template order");
static_assert(kTemplate[kAcTablesEntry].tag == kTagJpegAcTables, "template order");
static_assert(kTemplate[kTemplateEntries].tag == kTagEndMark, "template ends with the end mark");

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

// The records one sort works on, with their size and comparison.
struct SortState {
    size_t recordSize;
    CompareFn compare;
    uint8_t* base;
};

uint16_t Little16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Little32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Copies n bytes from `position` (-1: the current position). The input
// reader positions itself: a short step forward reads on and skips, anything
// else asks the host for that position.
Status CopyAt(InputBuffer& in, int32_t position, void* destination, uint16_t n) {
    uint16_t count = n;
    int16_t mode = kInputCopy;
    return ReadInput(in, destination, position, &count, &mode);
}

Status Defer(ReaderState& reader, uint32_t offset, uint16_t kind, uint16_t index) {
    if (reader.deferredUsed >= kDeferredCapacity || offset > kMaxOffset) return VEX_ERR_CONTAINER;
    reader.deferredEntries[reader.deferredUsed++] = DeferredEntry{offset, kind, index};
    return 0;
}

int CompareOffsets(const void* a, const void* b) {
    const auto* x = static_cast<const DeferredEntry*>(a);
    const auto* y = static_cast<const DeferredEntry*>(b);
    return int(int32_t(x->offset - y->offset));
}

// Binds an open count; a count already bound must agree.
Status BindCount(ReaderState& reader, int entry, uint32_t count) {
    if (reader.bound[entry]) return reader.counts[entry] == count ? 0 : VEX_ERR_CONTAINER;
    reader.counts[entry] = count;
    reader.bound[entry] = true;
    return 0;
}

Status TemplateEntryValue(ReaderState& reader, AppVexParams* params, uint16_t tag, uint32_t value) {
    const uint16_t shortValue = uint16_t(value);
    switch (tag) {
        case kTagNewSubfileType:
            return value == 0 ? 0 : VEX_ERR_CONTAINER;
        case kTagImageWidth:
            params->width = shortValue;
            return 0;
        case kTagImageLength:
            params->height = shortValue;
            return 0;
        case kTagBitsPerSample:
        case kTagXResolution:
        case kTagYResolution:
        case kTagTileOffsets:
        case kTagTileByteCounts:
        case kTagJpegQTables:
        case kTagJpegDcTables:
        case kTagJpegAcTables:
            return Defer(reader, value, tag, 0);
        case kTagCompression:
            return value == 6 ? 0 : VEX_ERR_CONTAINER;
        case kTagPhotometric: {
            // Photometric interpretation -> colour space; palette, mask and
            // anything past YCbCr have no colour space here.
            static constexpr int16_t kColorSpaceOf[7] = {1, 1, 2, -1, -1, 3, 0};
            if (shortValue > 6 || kColorSpaceOf[shortValue] < 0) return VEX_ERR_CONTAINER;
            params->colorSpace = kColorSpaceOf[shortValue];
            return 0;
        }
        case kTagSamplesPerPixel: {
            // SamplesPerPixel -> pixel model; 2 names none.
            static constexpr int16_t kModelOf[5] = {-1, RecordValue(PixelModel::kGrey), -1,
                                                    RecordValue(PixelModel::kColour),
                                                    RecordValue(PixelModel::kFourChannel)};
            if (shortValue > 4 || kModelOf[shortValue] < 0) return VEX_ERR_CONTAINER;
            params->pixelModel = kModelOf[shortValue];
            reader.components = shortValue;
            // BitsPerSample came first with its own count, which must agree.
            Q_TRY(BindCount(reader, kBitsPerSampleEntry, shortValue));
            Q_TRY(BindCount(reader, kQTablesEntry, shortValue));
            Q_TRY(BindCount(reader, kDcTablesEntry, shortValue));
            return BindCount(reader, kAcTablesEntry, shortValue);
        }
        case kTagPlanarConfig:
            return shortValue == 1 ? 0 : VEX_ERR_CONTAINER;
        case kTagResolutionUnit: {
            // ResolutionUnit 1..3 are the JFIF units 0..2. This library writes
            // 0 for a units value of 3, so 0 reads back as 3; anything above 3
            // names no unit.
            static constexpr uint16_t kUnitsOf[4] = {3, 0, 1, 2};
            if (shortValue > 3) return VEX_ERR_CONTAINER;
            params->densityUnits = kUnitsOf[shortValue];
            return 0;
        }
        case kTagTileWidth:
            params->tileWidth = shortValue;
            return 0;
        case kTagTileLength:
            // Several tile columns need tile rows of whole 8-row MCU rows. The
            // check looks at the tile height the file declares, not at the
            // value the host left in the record.
            if (params->tileWidth < params->width && shortValue < params->height &&
                shortValue % 8 != 0) {
                return VEX_ERR_CONTAINER;
            }
            params->tileHeight = shortValue;
            return 0;
        case kTagJpegProc:
            return shortValue == 0 ? 0 : VEX_ERR_CONTAINER;
        case kTagJpegRestart:
            params->restartInterval = shortValue;
            return 0;
        default:
            return VEX_ERR_CONTAINER;
    }
}

Status OtherEntry(ReaderState& reader, AppVexParams* params, uint16_t tag, uint16_t type, uint32_t count,
                  const uint8_t* value) {
    switch (tag) {
        case kTagYCbCrPositioning:
            if (type != kTypeShort || count != 1 || Little16(value) != 2) return VEX_ERR_CONTAINER;
            return 0;
        case kTagYCbCrSubSampling: {
            if (type != kTypeShort || count != 2) return VEX_ERR_CONTAINER;
            const uint16_t h = Little16(value);
            const uint16_t v = Little16(value + 2);
            const auto valid = [](uint16_t f) { return f == 1 || f == 2 || f == 4; };
            if (!valid(h) || !valid(v)) return VEX_ERR_CONTAINER;
            params->sampling.h[0] = h;
            params->sampling.h[1] = 1;
            params->sampling.h[2] = 1;
            params->sampling.v[0] = v;
            params->sampling.v[1] = 1;
            params->sampling.v[2] = 1;
            return 0;
        }
        case kTagReferenceBlackWhite:
            if (type != kTypeLong || count != 6) return VEX_ERR_CONTAINER;
            return Defer(reader, Little32(value), tag, 0);
        case kTagYCbCrCoefficients:
            return VEX_ERR_CONTAINER;
        default:
            return 0;  // tags the layout does not use are skipped
    }
}

Status ReadDirectory(ReaderState& reader, AppVexParams* params) {
    uint8_t header[10];
    Q_TRY(CopyAt(reader.in, -1, header, 10));
    static constexpr uint8_t kHeader[8] = {0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08};
    for (int i = 0; i < 8; ++i) {
        if (header[i] != kHeader[i]) return VEX_ERR_CONTAINER;
    }
    const uint16_t entries = Little16(header + 8);
    if (entries < kTemplateEntries) return VEX_ERR_CONTAINER;
    int cursor = 0;
    for (uint16_t e = 0; e < entries; ++e) {
        uint8_t entry[12];
        Q_TRY(CopyAt(reader.in, -1, entry, 12));
        const uint16_t tag = Little16(entry);
        const uint16_t type = Little16(entry + 2);
        const uint32_t count = Little32(entry + 4);
        const uint32_t value = Little32(entry + 8);
        if (cursor == kTemplateEntries || tag != kTemplate[cursor].tag) {
            Q_TRY(OtherEntry(reader, params, tag, type, count, entry + 8));
            continue;
        }
        if (type != kTemplate[cursor].type) return VEX_ERR_CONTAINER;
        if (kTemplate[cursor].open) {
            Q_TRY(BindCount(reader, cursor, count));
            // One count serves both tile arrays: they are read side by side.
            if (cursor == kTileOffsetsEntry) Q_TRY(BindCount(reader, kTileByteCountsEntry, count));
        } else if (count != kTemplate[cursor].count) {
            return VEX_ERR_CONTAINER;
        }
        Q_TRY(TemplateEntryValue(reader, params, tag, value));
        ++cursor;
    }
    return cursor == kTemplateEntries ? 0 : VEX_ERR_CONTAINER;
}

// The decoder walks tiles by the geometry of width, height and tile size, and
// reads one array entry per tile: the arrays must hold exactly that many.
Status CheckTileCount(const AppVexParams* params, uint32_t count) {
    if (params->tileWidth == 0 || params->tileHeight == 0) return VEX_ERR_CONTAINER;
    const uint32_t across = (uint32_t(params->width) + params->tileWidth - 1) / params->tileWidth;
    const uint32_t down = (uint32_t(params->height) + params->tileHeight - 1) / params->tileHeight;
    if (count == 0 || count > 0xFFFF || count != across * down) return VEX_ERR_CONTAINER;
    return 0;
}

// Reads `count` little-endian 32-bit values at `offset` into `array`.
Status ReadLongArray(InputBuffer& in, uint32_t offset, uint32_t* array, uint32_t count) {
    // Whole chunks of values, each within one read request.
    constexpr uint32_t kChunkValues = 8192;
    int32_t position = int32_t(offset);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = count - done < kChunkValues ? count - done : kChunkValues;
        auto* bytes = reinterpret_cast<uint8_t*>(array + done);
        Q_TRY(CopyAt(in, position, bytes, uint16_t(n * 4)));
        for (uint32_t i = 0; i < n; ++i) array[done + i] = Little32(bytes + 4 * i);
        done += n;
        position = -1;
    }
    return 0;
}

uint8_t* HuffmanDestination(ReaderState& reader, uint16_t kind, uint16_t component) {
    if (kind == kKindDc) return component < 2 ? reader.slots.dc[component] : reader.scratchDc[component - 2];
    return component < 2 ? reader.slots.ac[component] : reader.scratchAc[component - 2];
}

Status VisitEntry(ReaderState& reader, AppVexParams* params, int index) {
    const DeferredEntry entry = reader.deferredEntries[index];
    const int32_t at = int32_t(entry.offset);
    uint8_t* values = reader.values;
    switch (entry.kind) {
        case kTagBitsPerSample:
            Q_TRY(CopyAt(reader.in, at, values, uint16_t(reader.components * 2)));
            for (uint16_t c = 0; c < reader.components; ++c) {
                params->pixelFormat.bits[c] = Little16(values + 2 * c);
            }
            return 0;
        case kTagXResolution:
        case kTagYResolution: {
            Q_TRY(CopyAt(reader.in, at, values, 8));
            const uint32_t numerator = Little32(values);
            const uint32_t denominator = Little32(values + 4);
            if (denominator == 0) return VEX_ERR_CONTAINER;
            const uint16_t density = uint16_t(numerator / denominator);
            if (entry.kind == kTagXResolution) {
                params->xDensity = density;
            } else {
                params->yDensity = density;
            }
            return 0;
        }
        case kTagTileOffsets:
        case kTagTileByteCounts: {
            const bool offsets = entry.kind == kTagTileOffsets;
            uint32_t* array = offsets ? reader.tiles.offsets : reader.tiles.byteCounts;
            Q_TRY(ReadLongArray(reader.in, entry.offset, array, reader.tiles.count));
            if (offsets) {
                for (uint16_t t = 0; t < reader.tiles.count; ++t) {
                    if (array[t] > kMaxOffset) return VEX_ERR_CONTAINER;
                }
            }
            return 0;
        }
        case kTagJpegQTables:
        case kTagJpegDcTables:
        case kTagJpegAcTables: {
            const uint16_t kind = entry.kind == kTagJpegQTables   ? kKindQuant
                                  : entry.kind == kTagJpegDcTables ? kKindDc
                                                                   : kKindAc;
            Q_TRY(CopyAt(reader.in, at, values, uint16_t(reader.components * 4)));
            for (uint16_t c = 0; c < reader.components; ++c) {
                Q_TRY(Defer(reader, Little32(values + 4 * c), kind, c));
            }
            // Only the records still to come are re-sorted: a table stored before
            // its offset array is then still read, with a seek back.
            const int next = index + 1;
            SortEntries(reader.deferredEntries + next, size_t(reader.deferredUsed - next),
                        sizeof(DeferredEntry), CompareOffsets);
            return 0;
        }
        case kKindQuant:
            return CopyAt(reader.in, at, reader.slots.q[entry.index], kQuantTableBytes);
        case kKindDc:
        case kKindAc: {
            uint8_t* destination = HuffmanDestination(reader, entry.kind, entry.index);
            Q_TRY(CopyAt(reader.in, at, destination, 16));
            uint16_t symbols = 0;
            for (int i = 0; i < 16; ++i) symbols = uint16_t(symbols + destination[i]);
            // A slot holds at most 64 DC or 162 AC symbols.
            const uint16_t capacity = uint16_t((entry.kind == kKindDc ? kDcSpecBytes : kAcSpecBytes) - 16);
            if (symbols > capacity) return VEX_ERR_CONTAINER;
            return CopyAt(reader.in, -1, destination + 16, symbols);
        }
        case kTagReferenceBlackWhite: {
            Q_TRY(CopyAt(reader.in, at, values, 24));
            static constexpr uint32_t kExpected[6] = {0, 255, 128, 255, 128, 255};
            for (int i = 0; i < 6; ++i) {
                if (Little32(values + 4 * i) != kExpected[i]) return VEX_ERR_CONTAINER;
            }
            return 0;
        }
        default:
            return VEX_ERR_CONTAINER;
    }
}

// Components 2 and 3 have no slots of their own: their Huffman tables must
// equal one of the two slot tables, or take slot 1 when components 0 and 1
// share slot 0.
Status ShareTables(ReaderState& reader, AppVexParams* params, int16_t kind) {
    const bool dc = kind == kDcTable;
    uint8_t* slots[2] = {dc ? reader.slots.dc[0] : reader.slots.ac[0], dc ? reader.slots.dc[1] : reader.slots.ac[1]};
    uint8_t* scratch[2] = {dc ? reader.scratchDc[0] : reader.scratchAc[0],
                           dc ? reader.scratchDc[1] : reader.scratchAc[1]};
    const uint8_t* tables[4] = {slots[0], slots[1], scratch[0], scratch[1]};
    uint16_t number[4] = {0, 0, 0, 0};
    uint16_t distinct = reader.components;
    Q_TRY(NumberTables(&distinct, kind, tables, number));
    if (distinct > 2) return VEX_ERR_CONTAINER;
    if (number[1] == 0) {
        for (uint16_t c = 2; c < reader.components; ++c) {
            if (number[c] != c) continue;
            uint16_t size = 0;
            Q_TRY(GetTableSize(kind, tables[c], &size));
            CopyWords(slots[1], tables[c], size);
            tables[c] = slots[1];
            break;
        }
    }
    for (uint16_t c = 1; c < reader.components; ++c) {
        if (number[c] != c) tables[c] = tables[number[c]];
    }
    // The record is packed: its pointers are written one by one.
    for (uint16_t c = 0; c < reader.components; ++c) {
        if (dc) {
            params->dcTables[c] = tables[c];
        } else {
            params->acTables[c] = tables[c];
        }
    }
    return 0;
}

Status ReadTiff(ReaderState& reader, AppVexParams* params) {
    Q_TRY(ReadDirectory(reader, params));
    const uint32_t tileCount = reader.counts[kTileOffsetsEntry];
    Q_TRY(CheckTileCount(params, tileCount));

    SortEntries(reader.deferredEntries, reader.deferredUsed, sizeof(DeferredEntry), CompareOffsets);

    // Arrays of an earlier header read are replaced, not leaked.
    FreeTileArrays(reader.tiles);
    Q_TRY(AllocTileArrays(reader.tiles, uint16_t(tileCount)));
    params->tileCount = uint16_t(tileCount);
    params->tileByteCounts = reader.tiles.byteCounts;
    params->tileOffsets = reader.tiles.offsets;

    // The list grows while it is walked: table-offset arrays add records.
    for (int i = 0; i < reader.deferredUsed; ++i) Q_TRY(VisitEntry(reader, params, i));

    if (reader.components > 2) {
        Q_TRY(ShareTables(reader, params, kDcTable));
        Q_TRY(ShareTables(reader, params, kAcTable));
    }
    return 0;
}

uint8_t* Record(const SortState& sorting, size_t i) { return sorting.base + i * sorting.recordSize; }
int Compare(const SortState& sorting, size_t i, size_t j) {
    return sorting.compare(Record(sorting, i), Record(sorting, j));
}
void Swap(const SortState& sorting, size_t i, size_t j) {
    if (i == j) return;
    uint8_t* a = Record(sorting, i);
    uint8_t* b = Record(sorting, j);
    for (size_t k = 0; k < sorting.recordSize; ++k) {
        const uint8_t t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

// The sort is not stable, and the reader visits deferred records in the order
// it leaves them: records at equal offsets (components sharing a table, say)
// come out in whatever order this exact sequence of comparisons and swaps
// gives, and that order is the order of the read requests the host sees. The
// algorithm is kept as it is, step for step, for that reason.

// Partitions below this size are left to the insertion sort.
constexpr size_t kSmallPartition = 6;

// Quicksort passes with a median-of-three pivot over [lo, hi]; recursion on
// the smaller side keeps the stack shallow. Every scan is bounded, so even an
// inconsistent comparison stays inside the array.
void Partition(const SortState& sorting, size_t lo, size_t hi) {
    while (hi - lo + 1 >= kSmallPartition) {
        const size_t mid = lo + (hi - lo) / 2;
        if (Compare(sorting, mid, lo) < 0) Swap(sorting, mid, lo);
        if (Compare(sorting, hi, lo) < 0) Swap(sorting, hi, lo);
        if (Compare(sorting, hi, mid) < 0) Swap(sorting, hi, mid);
        const size_t pivot = hi - 1;
        Swap(sorting, mid, pivot);
        size_t i = lo;
        size_t j = pivot;
        for (;;) {
            do ++i; while (i < pivot && Compare(sorting, i, pivot) < 0);
            do --j; while (j > lo && Compare(sorting, j, pivot) > 0);
            if (i >= j) break;
            Swap(sorting, i, j);
        }
        Swap(sorting, i, pivot);
        if (i - lo < hi - i) {
            if (i > lo + 1) Partition(sorting, lo, i - 1);
            lo = i + 1;
        } else {
            if (hi > i + 1) Partition(sorting, i + 1, hi);
            hi = i - 1;
        }
        if (hi < lo) return;
    }
}

}  // namespace

void SortEntries(void* records, size_t count, size_t recordSize, CompareFn compare) {
    if (count < 2) return;
    const SortState sorting = {recordSize, compare, static_cast<uint8_t*>(records)};
    if (count >= 4) Partition(sorting, 0, count - 1);
    // Every partition step keeps the smallest record in its left part, so it
    // ends up among the first kSmallPartition - 1 records: moved to the front
    // it stops the insertion sort's backward scans.
    const size_t head = count < kSmallPartition - 1 ? count : kSmallPartition - 1;
    size_t smallest = 0;
    for (size_t i = 1; i < head; ++i) {
        if (Compare(sorting, i, smallest) < 0) smallest = i;
    }
    Swap(sorting, 0, smallest);
    for (size_t i = 2; i < count; ++i) {
        for (size_t j = i; j > 1 && Compare(sorting, j - 1, j) > 0; --j) Swap(sorting, j - 1, j);
    }
}

Status ReadTiffHeader(InputBuffer& in, TableSlots& slots, TileArrays& tiles, AppVexParams* params) {
    ReaderState reader(in, slots, tiles);
    return ReadTiff(reader, params);
}

}  // namespace q32vex
