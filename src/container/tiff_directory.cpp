// The TIFF reader's directory stage: one directory, checked entry by entry
// against the writer's template; values that fit in an entry go into the
// record, the others are deferred to be read in file order.
#include "common/record_enums.h"
#include "container/tiff_reader_state.h"

namespace q32vex {
namespace tiff {
namespace {

struct TemplateEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;  // for open entries: 0 until the file or SamplesPerPixel binds it
    bool open;
};

// The writer's 20 entries in their order, then the end mark.
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
static_assert(kTemplate[kBitsPerSampleEntry].tag == kTagBitsPerSample, "template order");
static_assert(kTemplate[kTileOffsetsEntry].tag == kTagTileOffsets, "template order");
static_assert(kTemplate[kTileByteCountsEntry].tag == kTagTileByteCounts, "template order");
static_assert(kTemplate[kQTablesEntry].tag == kTagJpegQTables, "template order");
static_assert(kTemplate[kDcTablesEntry].tag == kTagJpegDcTables, "template order");
static_assert(kTemplate[kAcTablesEntry].tag == kTagJpegAcTables, "template order");
static_assert(kTemplate[kTemplateEntries].tag == kTagEndMark, "template ends with the end mark");

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

}  // namespace

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

}  // namespace tiff
}  // namespace q32vex
