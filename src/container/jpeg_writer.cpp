// JFIF marker prefix (SOI, APP0, COM, DQT, DRI, APPn, DHT, SOF0, SOS) and the
// EOI trailer. Each segment is assembled in a small local record and appended
// through the stream writer, so no byte here touches the host buffer directly.
#include "container/jpeg_writer.h"

#include <cstring>

#include "common/tables.h"
#include "encode/stream_writer.h"

namespace q32vex {
namespace {

constexpr uint8_t kMarkerSoi = 0xD8;
constexpr uint8_t kMarkerEoi = 0xD9;
constexpr uint8_t kMarkerApp0 = 0xE0;
constexpr uint8_t kMarkerApp1 = 0xE1;
constexpr uint8_t kMarkerApp15 = 0xEF;
constexpr uint8_t kMarkerCom = 0xFE;
constexpr uint8_t kMarkerDqt = 0xDB;
constexpr uint8_t kMarkerDri = 0xDD;
constexpr uint8_t kMarkerDht = 0xC4;
constexpr uint8_t kMarkerSof0 = 0xC0;
constexpr uint8_t kMarkerSos = 0xDA;

// The maker comment, written with its terminating zero byte.
constexpr char kMakerComment[] = "Brindle Rasters Inc.";
constexpr uint16_t kMakerCommentBytes = sizeof(kMakerComment);
static_assert(kMakerCommentBytes == 21, "20 characters and the zero byte");

constexpr uint16_t kJfifBodyBytes = 14;
constexpr uint16_t kHuffBitsBytes = 16;

// The most bytes one assembled piece needs: a DQT table entry (65), an SOF0
// or SOS body for four components, a DHT table header (17).
constexpr uint32_t kScratchBytes = 100;

// Per-header writer state: the component count and the table id that each
// component's selector takes, per table kind.
struct HeaderPlan {
    uint16_t components;
    uint8_t qSelector[4];
    uint8_t dcSelector[4];
    uint8_t acSelector[4];
};

// A segment body grows in this record before it is appended.
struct Scratch {
    uint8_t bytes[kScratchBytes];
    uint32_t used;

    void Byte(uint32_t v) { bytes[used++] = uint8_t(v); }
    void Word(uint32_t v) {  // big-endian, as every JPEG field
        Byte(v >> 8);
        Byte(v);
    }
    void Bytes(const uint8_t* p, uint32_t n) {
        std::memcpy(bytes + used, p, n);
        used += n;
    }
};

Status Flush(StreamBuffer& out, Scratch* s) {
    const Status status = s->used == 0 ? Status(0) : WriteBytes(out, s->bytes, s->used);
    s->used = 0;
    return status;
}

// A bare marker (SOI, EOI).
Status WriteMarker(StreamBuffer& out, uint8_t marker) {
    const uint8_t bytes[2] = {0xFF, marker};
    return WriteBytes(out, bytes, 2);
}

// A marker and the length field of its segment, which counts itself.
Status WriteSegmentStart(StreamBuffer& out, uint8_t marker, uint32_t length) {
    Scratch s{};
    s.Byte(0xFF);
    s.Byte(marker);
    s.Word(length);
    return Flush(out, &s);
}

uint16_t ComponentsOf(int16_t colorSpace) {
    switch (colorSpace) {
        case 0: return 3;
        case 1: return 1;
        case 3: return 4;
        default: return 0;
    }
}

// Sum of the 16 code-length counts of a Huffman table definition.
uint32_t SymbolCount(const uint8_t* spec) {
    uint32_t sum = 0;
    for (int i = 0; i < kHuffBitsBytes; ++i) sum += spec[i];
    return sum;
}

// The one rule for segments that the host's appMarkerCallback supplies:
// `segmentBytes` counts the whole segment, marker included. A segment too
// short for its marker and length field (the callback said 1 to 3 bytes), one
// too long for a 16-bit length field, data beyond the buffer length the host
// stated, or data without a buffer would all leave a stream whose lengths lie
// about its bytes. The header stops with VEX_ERR_CONTAINER instead, before any
// byte of that segment is written.
Status CheckHostSegment(uint32_t segmentBytes, uint32_t dataBytes, uint16_t bufferLength,
                        const uint8_t* data) {
    if (segmentBytes < 4 || segmentBytes - 2 > 0xFFFF) return VEX_ERR_CONTAINER;
    if (dataBytes == 0) return 0;
    if (dataBytes > bufferLength || data == nullptr) return VEX_ERR_CONTAINER;
    return 0;
}

Status WriteJfifBody(StreamBuffer& out, const AppVexParams* p, uint8_t thumbWidth, uint8_t thumbHeight) {
    Scratch s{};
    s.Bytes(reinterpret_cast<const uint8_t*>("JFIF"), 5);  // with its zero byte
    s.Byte(1);  // version 1.00
    s.Byte(0);
    s.Byte(p->densityUnits & 0xFF);
    s.Word(p->xDensity);
    s.Word(p->yDensity);
    s.Byte(thumbWidth);
    s.Byte(thumbHeight);
    return Flush(out, &s);
}

// One APPn or COM segment. APP0 is always written (the JFIF identifier); the
// others only when the host supplies them.
Status WriteAppSegment(StreamBuffer& out, const AppVexParams* p, uint8_t marker) {
    if (marker == kMarkerApp0 && !HasAppMarker(out.io)) {
        Q_TRY(WriteSegmentStart(out, marker, 2 + kJfifBodyBytes));
        return WriteJfifBody(out, p, 0, 0);
    }
    uint16_t size = 0;
    uint16_t bufferLength = 0;
    uint8_t* data = nullptr;
    Q_TRY(HostAppMarker(out.io, marker, &size, &bufferLength, &data));

    if (marker == kMarkerApp0) {
        // The size word carries the thumbnail's width (high byte) and height
        // (low byte); the thumbnail follows the JFIF body as RGB triples.
        const uint8_t thumbWidth = uint8_t(size >> 8);
        const uint8_t thumbHeight = uint8_t(size);
        const uint32_t thumbBytes = 3u * thumbWidth * thumbHeight;
        const uint32_t length = 2u + kJfifBodyBytes + thumbBytes;
        Q_TRY(CheckHostSegment(2 + length, thumbBytes, bufferLength, data));
        Q_TRY(WriteSegmentStart(out, marker, length));
        Q_TRY(WriteJfifBody(out, p, thumbWidth, thumbHeight));
        return thumbBytes == 0 ? Status(0) : WriteBytes(out, data, thumbBytes);
    }

    // Other markers: the size counts the whole segment, marker included.
    if (size == 0) return 0;
    const uint32_t dataBytes = size >= 4 ? uint32_t(size) - 4 : 0;
    Q_TRY(CheckHostSegment(size, dataBytes, bufferLength, data));
    Q_TRY(WriteSegmentStart(out, marker, uint32_t(size) - 2));
    return dataBytes == 0 ? Status(0) : WriteBytes(out, data, dataBytes);
}

// Gives the distinct tables of one kind the ids 0, 1, ... in ascending order
// of the first component that holds them; *distinct receives their count and
// first[id] the component slot whose table carries that id.
Status AssignIds(int16_t kind, const uint8_t* const tables[4], uint16_t components,
                 uint8_t selector[4], uint16_t* distinct, uint16_t first[4]) {
    uint16_t count = components;
    uint16_t number[4] = {0, 0, 0, 0};
    Q_TRY(NumberTables(&count, kind, tables, number));
    uint8_t idOfSlot[4] = {0, 0, 0, 0};
    uint16_t next = 0;
    for (uint16_t i = 0; i < components; ++i) {
        if (number[i] == i) {
            idOfSlot[i] = uint8_t(next);
            first[next] = i;
            ++next;
        }
    }
    for (uint16_t i = 0; i < components; ++i) selector[i] = idOfSlot[number[i]];
    *distinct = next;
    return 0;
}

Status WriteQuantTables(StreamBuffer& out, const AppVexParams* p, HeaderPlan* plan) {
    const uint8_t* tables[4];
    for (int i = 0; i < 4; ++i) tables[i] = p->qTables[i];
    uint16_t distinct = 0;
    uint16_t first[4] = {0, 0, 0, 0};
    Q_TRY(AssignIds(kQuantTable, tables, plan->components, plan->qSelector, &distinct, first));
    Q_TRY(WriteSegmentStart(out, kMarkerDqt, 2u + 65u * distinct));
    for (uint16_t id = 0; id < distinct; ++id) {
        Scratch s{};
        s.Byte(id);  // precision 0 (8-bit entries) in the high nibble
        s.Bytes(tables[first[id]], kQuantTableBytes);
        Q_TRY(Flush(out, &s));
    }
    return 0;
}

Status WriteHuffmanTables(StreamBuffer& out, const AppVexParams* p, HeaderPlan* plan) {
    const uint8_t* dc[4];
    const uint8_t* ac[4];
    for (int i = 0; i < 4; ++i) {
        dc[i] = p->dcTables[i];
        ac[i] = p->acTables[i];
    }
    uint16_t dcCount = 0, acCount = 0;
    uint16_t dcFirst[4] = {0, 0, 0, 0}, acFirst[4] = {0, 0, 0, 0};
    Q_TRY(AssignIds(kDcTable, dc, plan->components, plan->dcSelector, &dcCount, dcFirst));
    Q_TRY(AssignIds(kAcTable, ac, plan->components, plan->acSelector, &acCount, acFirst));
    // Baseline decoders hold two tables of each class.
    if (acCount > 2) return VEX_ERR_AC_TABLE;
    if (dcCount > 2) return VEX_ERR_DC_TABLE;

    uint32_t length = 2u + 17u * (dcCount + acCount);
    for (uint16_t id = 0; id < dcCount; ++id) length += SymbolCount(dc[dcFirst[id]]);
    for (uint16_t id = 0; id < acCount; ++id) length += SymbolCount(ac[acFirst[id]]);
    Q_TRY(WriteSegmentStart(out, kMarkerDht, length));

    for (int tableClass = 0; tableClass < 2; ++tableClass) {
        const uint8_t* const* specs = tableClass == 0 ? dc : ac;
        const uint16_t* first = tableClass == 0 ? dcFirst : acFirst;
        const uint16_t count = tableClass == 0 ? dcCount : acCount;
        for (uint16_t id = 0; id < count; ++id) {
            const uint8_t* spec = specs[first[id]];
            Scratch s{};
            s.Byte(uint32_t(tableClass) << 4 | id);
            s.Bytes(spec, kHuffBitsBytes);
            Q_TRY(Flush(out, &s));
            Q_TRY(WriteBytes(out, spec + kHuffBitsBytes, SymbolCount(spec)));
        }
    }
    return 0;
}

Status WriteFrameHeader(StreamBuffer& out, const AppVexParams* p, const HeaderPlan& plan) {
    Scratch s{};
    s.Byte(0xFF);
    s.Byte(kMarkerSof0);
    s.Word(8u + 3u * plan.components);
    s.Byte(8);  // sample precision
    s.Word(p->height);
    s.Word(p->width);
    s.Byte(plan.components);
    for (uint16_t i = 0; i < plan.components; ++i) {
        s.Byte(i + 1u);
        s.Byte((p->sampling.h[i] & 0x0F) << 4 | (p->sampling.v[i] & 0x0F));
        s.Byte(plan.qSelector[i]);
    }
    return Flush(out, &s);
}

Status WriteScanHeader(StreamBuffer& out, const HeaderPlan& plan) {
    Scratch s{};
    s.Byte(0xFF);
    s.Byte(kMarkerSos);
    s.Word(6u + 2u * plan.components);
    s.Byte(plan.components);
    for (uint16_t i = 0; i < plan.components; ++i) {
        s.Byte(i + 1u);
        s.Byte(uint32_t(plan.dcSelector[i]) << 4 | plan.acSelector[i]);
    }
    s.Byte(0);   // Ss
    s.Byte(63);  // Se
    s.Byte(0);   // Ah, Al
    return Flush(out, &s);
}

}  // namespace

Status WriteJpegHeader(StreamBuffer& out, const AppVexParams* params) {
    HeaderPlan plan{};
    plan.components = ComponentsOf(params->colorSpace);
    if (plan.components == 0) return VEX_ERR_COLOR_SPACE;

    Q_TRY(WriteMarker(out, kMarkerSoi));
    Q_TRY(WriteAppSegment(out, params, kMarkerApp0));

    Q_TRY(WriteSegmentStart(out, kMarkerCom, 2 + kMakerCommentBytes));
    Q_TRY(WriteBytes(out, reinterpret_cast<const uint8_t*>(kMakerComment), kMakerCommentBytes));

    Q_TRY(WriteQuantTables(out, params, &plan));

    if (params->restartInterval != 0) {
        Q_TRY(WriteSegmentStart(out, kMarkerDri, 4));
        const uint8_t interval[2] = {uint8_t(params->restartInterval >> 8),
                                     uint8_t(params->restartInterval)};
        Q_TRY(WriteBytes(out, interval, 2));
    }

    if (HasAppMarker(out.io)) {
        for (uint32_t marker = kMarkerApp1; marker <= kMarkerApp15; ++marker)
            Q_TRY(WriteAppSegment(out, params, uint8_t(marker)));
        Q_TRY(WriteAppSegment(out, params, kMarkerCom));
    }

    Q_TRY(WriteHuffmanTables(out, params, &plan));
    Q_TRY(WriteFrameHeader(out, params, plan));
    return WriteScanHeader(out, plan);
}

Status WriteJpegTrailer(StreamBuffer& out) { return WriteMarker(out, kMarkerEoi); }

// The header of bare entropy-coded data, which the data itself does not
// carry. Its layout suits a reader that takes the tables of such data from
// fixed places: quantisation table i serves component i, and Huffman tables
// 0 and 1 serve components 0 and 1, components 2 and 3 naming whichever of
// those holds their table. The quantisation tables are scaled as the
// compression open scales them.
Status WriteRawStreamHeader(StreamBuffer& out, const AppVexParams* params) {
    HeaderPlan plan{};
    plan.components = ComponentsOf(params->colorSpace);
    if (plan.components == 0) return VEX_ERR_COLOR_SPACE;
    if (params->quality == 0 || params->quality > 255) return VEX_ERR_QUALITY;
    const DefaultTableSet& defaults = kDefaultTableSets[params->colorSpace];
    const uint16_t n = plan.components;
    const uint8_t* dc[4];
    const uint8_t* ac[4];
    for (uint16_t c = 0; c < n; ++c) {
        dc[c] = params->dcTables[c] != nullptr ? params->dcTables[c] : defaults.dc[c];
        ac[c] = params->acTables[c] != nullptr ? params->acTables[c] : defaults.ac[c];
        plan.qSelector[c] = uint8_t(c);
    }

    Q_TRY(WriteMarker(out, kMarkerSoi));
    Q_TRY(WriteSegmentStart(out, kMarkerDqt, 2u + 65u * n));
    for (uint16_t c = 0; c < n; ++c) {
        const uint8_t* source = params->qTables[c] != nullptr ? params->qTables[c] : defaults.q[c];
        uint16_t size = 0;
        Q_TRY(GetTableSize(kQuantTable, source, &size));
        Scratch s{};
        s.Byte(c);
        ScaleQuantTable(source, params->quality, s.bytes + s.used);
        s.used += kQuantTableBytes;
        Q_TRY(Flush(out, &s));
    }

    // Huffman slots: one per component for the first two, then a match.
    const uint16_t slots = n < 2 ? n : 2;
    const uint8_t* const* kinds[2] = {dc, ac};
    uint8_t* selectors[2] = {plan.dcSelector, plan.acSelector};
    uint32_t length = 2;
    for (int k = 0; k < 2; ++k) {
        const int16_t kind = k == 0 ? kDcTable : kAcTable;
        for (uint16_t c = 0; c < n; ++c) {
            uint16_t size = 0;
            if (GetTableSize(kind, kinds[k][c], &size) != 0) return k == 0 ? VEX_ERR_DC_TABLE : VEX_ERR_AC_TABLE;
            if (c < slots) {
                selectors[k][c] = uint8_t(c);
                length += 1u + size;
                continue;
            }
            selectors[k][c] = 0xFF;
            for (uint16_t slot = 0; slot < slots; ++slot) {
                uint16_t slotSize = 0;
                Q_TRY(GetTableSize(kind, kinds[k][slot], &slotSize));
                if (slotSize == size && std::memcmp(kinds[k][slot], kinds[k][c], size) == 0)
                    selectors[k][c] = uint8_t(slot);
            }
            if (selectors[k][c] == 0xFF) return k == 0 ? VEX_ERR_DC_COUNT : VEX_ERR_AC_COUNT;
        }
    }
    Q_TRY(WriteSegmentStart(out, kMarkerDht, length));
    for (int k = 0; k < 2; ++k) {
        for (uint16_t slot = 0; slot < slots; ++slot) {
            const uint8_t* spec = kinds[k][slot];
            Scratch s{};
            s.Byte(uint32_t(k) << 4 | slot);
            Q_TRY(Flush(out, &s));
            Q_TRY(WriteBytes(out, spec, kHuffBitsBytes + SymbolCount(spec)));
        }
    }

    if (params->restartInterval != 0) {
        Q_TRY(WriteSegmentStart(out, kMarkerDri, 4));
        const uint8_t interval[2] = {uint8_t(params->restartInterval >> 8), uint8_t(params->restartInterval)};
        Q_TRY(WriteBytes(out, interval, 2));
    }
    Q_TRY(WriteFrameHeader(out, params, plan));
    return WriteScanHeader(out, plan);
}

}  // namespace q32vex
