// Reads the marker segments of a baseline JPEG stream up to SOS into the
// parameter record and the table slots. Fixed-size segments are copied into a
// 32-byte segment buffer; APPn and COM data are handed to the host in place.
#include "container/jpeg_parser.h"

#include "common/bytes.h"
#include "common/record_enums.h"
#include "common/tables.h"
#include "decode/input_reader.h"

namespace q32vex {
namespace {

constexpr uint8_t kSof0 = 0xC0;
constexpr uint8_t kSof1 = 0xC1;
constexpr uint8_t kSof2 = 0xC2;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kDqt = 0xDB;
constexpr uint8_t kDnl = 0xDC;
constexpr uint8_t kDri = 0xDD;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kApp14 = 0xEE;
constexpr uint8_t kApp15 = 0xEF;
constexpr uint8_t kCom = 0xFE;

// Longest segment bodies each handler accepts: a four-component frame header
// with slack, two DC and two AC tables of baseline size, four 8-bit or two
// 16-bit quantisation tables, a scan header of four components.
constexpr uint16_t kMaxSofBody = 20;
constexpr uint16_t kMaxDhtBody = 416;
constexpr uint16_t kMaxDqtBody = 260;
constexpr uint16_t kMaxSosBody = 12;

constexpr uint16_t kDcSymbolCapacity = kDcSpecBytes - 16;  // 64
constexpr uint16_t kAcSymbolCapacity = kAcSpecBytes - 16;  // 162
static_assert(kDcSymbolCapacity == 64 && kAcSymbolCapacity == 162, "Huffman slot sizes");

// The JFIF header: "JFIF\0", version (2), units, densities (2 x 2), thumbnail
// width and height. The full parse wants the header plus at least 3 bytes of
// thumbnail data; the density fields alone need the 14 header bytes.
constexpr uint16_t kJfifHeaderBytes = 14;
constexpr uint16_t kJfifFullParseBytes = 17;

// One header read: where it reads from and stores to, and what it has learnt
// so far. It lives for that one call, so a read never sees selectors or
// counts of an earlier stream.
struct ParserState {
    ParserState(InputBuffer& input, TableSlots& tableSlots) : in(input), slots(tableSlots) {}

    InputBuffer& in;
    TableSlots& slots;
    uint8_t segment[32] = {};  // fixed-size segment bodies
    uint16_t componentCount = 0;
    uint16_t quantSelector[4] = {};
    uint16_t dcSelector[4] = {};
    uint16_t acSelector[4] = {};
    uint16_t tableSegments = 0;
    bool notAfterSoi = false;
    bool jfifSeen = false;
    JpegFrame* frame = nullptr;  // the read's description of the frame
    JpegFrameKinds kinds = {};   // what is read beyond the baseline frames
};

uint16_t BigEndian16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// Copies n bytes from the current input position. The byte reader reports
// input that ends early as "no buffer"; callers that must name a short
// segment pass the code they report for it (0 keeps the reader's code).
Status CopyInput(InputBuffer& in, void* destination, uint16_t n, Status shortStatus = 0) {
    uint16_t count = n;
    int16_t mode = kInputCopy;
    const Status status = ReadInput(in, destination, -1, &count, &mode);
    if (status == VEX_ERR_NO_BUFFER && shortStatus != 0) return shortStatus;
    return status;
}

// The next piece of at most `limit` bytes, in place in the host's buffer.
Status NextPiece(InputBuffer& in, uint16_t limit, uint8_t** piece, uint16_t* count) {
    *count = limit;
    int16_t mode = kInputLimitNext;
    return ReadInput(in, piece, -1, count, &mode);
}

// Steps over n bytes piece by piece, so that a host lending small buffers
// needs no single buffer that reaches past the bytes stepped over.
Status PassOver(InputBuffer& in, uint16_t n) {
    while (n > 0) {
        uint8_t* piece = nullptr;
        uint16_t count = 0;
        Q_TRY(NextPiece(in, n, &piece, &count));
        if (count == 0) return VEX_ERR_SHORT_READ;
        n = uint16_t(n - count);
    }
    return 0;
}

// Every segment handler starts with the 2-byte length; the body length is
// returned. A length field below 2 names no body and is refused.
Status ReadBodyLength(InputBuffer& in, uint16_t* body) {
    uint8_t bytes[2];
    Q_TRY(CopyInput(in, bytes, 2, VEX_ERR_CONTAINER));
    const uint16_t length = BigEndian16(bytes);
    if (length < 2) return VEX_ERR_CONTAINER;
    *body = uint16_t(length - 2);
    return 0;
}

Status ParseFrameHeader(ParserState& parser, AppVexParams* params) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    if (body > kMaxSofBody) return VEX_ERR_CONTAINER;
    Q_TRY(CopyInput(parser.in, parser.segment, body));
    const uint8_t* s = parser.segment;
    if (body < 6 || s[0] != 8) return VEX_ERR_CONTAINER;
    params->height = BigEndian16(s + 1);
    params->width = BigEndian16(s + 3);
    const uint16_t nf = s[5];
    switch (nf) {
        case 1:
            params->colorSpace = 1;
            params->pixelModel = RecordValue(PixelModel::kGrey);
            params->pixelFormat = PixelFormatDesc{{8, 0, 0, 0}, {0, 0, 0, 0}};
            break;
        case 3:
            // Three components: the host chooses its output pixel format.
            params->colorSpace = 0;
            break;
        case 4:
            params->colorSpace = 3;
            params->pixelModel = RecordValue(PixelModel::kFourChannel);
            params->pixelFormat = PixelFormatDesc{{8, 8, 8, 8}, {0, 0, 0, 0}};
            break;
        default:
            return VEX_ERR_CONTAINER;
    }
    // A frame header cut short would leave component bytes of an older segment
    // in the buffer; refuse it instead of reading them.
    if (body < 6 + 3 * nf) return VEX_ERR_CONTAINER;
    parser.componentCount = nf;
    for (uint16_t c = 0; c < 4; ++c) {
        if (c >= nf) {
            params->sampling.h[c] = 0;
            params->sampling.v[c] = 0;
            continue;
        }
        const uint8_t* component = s + 6 + 3 * c;
        params->sampling.h[c] = uint16_t(component[1] >> 4);
        params->sampling.v[c] = uint16_t(component[1] & 15);
        // Only four quantisation slots exist.
        if (component[2] > 3) return VEX_ERR_CONTAINER;
        parser.quantSelector[c] = component[2];
    }
    parser.frame->componentCount = nf;
    for (uint16_t c = 0; c < nf; ++c) {
        parser.frame->componentId[c] = s[6 + 3 * c];
        parser.frame->quantSelector[c] = uint8_t(parser.quantSelector[c]);
    }
    return 0;
}

Status ParseHuffmanTables(ParserState& parser) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    // Extended frames may define four tables of each class in one segment;
    // each is checked against its slot's capacity as it is read.
    const bool extended = parser.kinds.extended;
    if (body > kMaxDhtBody && !extended) return VEX_ERR_CONTAINER;
    const uint16_t lastId = extended ? 3 : 1;
    uint16_t seen = 0;  // bit per class/id pair met in this segment
    int32_t remaining = body;
    while (remaining > 0) {
        // A tail too short for a class byte and the BITS counts holds no table.
        if (remaining < 17) return VEX_ERR_CONTAINER;
        Q_TRY(CopyInput(parser.in, parser.segment, 17));
        const uint8_t classId = parser.segment[0];
        const uint16_t tableClass = classId >> 4;
        const uint16_t id = classId & 15;
        if (tableClass > 1 || id > lastId) return VEX_ERR_CONTAINER;
        const uint16_t bit = uint16_t(1u << (tableClass * 4 + id));
        if (seen & bit) return VEX_ERR_CONTAINER;
        seen |= bit;
        uint16_t symbols = 0;
        for (int i = 1; i <= 16; ++i) symbols = uint16_t(symbols + parser.segment[i]);
        const uint16_t capacity = tableClass == 0 ? kDcSymbolCapacity : kAcSymbolCapacity;
        if (symbols > capacity) return VEX_ERR_CONTAINER;
        if (remaining - 17 - symbols < 0) return VEX_ERR_CONTAINER;
        uint8_t* slot = nullptr;
        if (id < 2) {
            slot = tableClass == 0 ? parser.slots.dc[id] : parser.slots.ac[id];
        } else {
            slot = tableClass == 0 ? parser.frame->huffDc[id - 2] : parser.frame->huffAc[id - 2];
        }
        CopyWords(slot, parser.segment + 1, 16);
        Q_TRY(CopyInput(parser.in, slot + 16, symbols));
        remaining -= 17 + symbols;
    }
    return 0;
}

Status ParseQuantTables(ParserState& parser) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    if (body > kMaxDqtBody) return VEX_ERR_CONTAINER;
    // The entry size follows from the length alone.
    uint16_t tables = 0;
    bool wide = false;
    if (body % 65 == 0) {
        tables = uint16_t(body / 65);
    } else if (body % 129 == 0) {
        tables = uint16_t(body / 129);
        wide = true;
    } else {
        return VEX_ERR_CONTAINER;
    }
    for (uint16_t t = 0; t < tables; ++t) {
        uint8_t precisionId = 0;
        Q_TRY(CopyInput(parser.in, &precisionId, 1));
        const uint16_t id = precisionId & 15;
        if ((precisionId >> 4) > 1 || id > 3) return VEX_ERR_CONTAINER;
        uint8_t* slot = parser.slots.q[id];
        if (!wide) {
            Q_TRY(CopyInput(parser.in, slot, 64));
            continue;
        }
        // 16-bit entries: 16 at a time through the segment buffer, low bytes kept.
        for (uint16_t k = 0; k < 64; k += 16) {
            Q_TRY(CopyInput(parser.in, parser.segment, 32));
            for (uint16_t j = 0; j < 16; ++j) {
                // Extended frames may carry entries above 255, which no
                // 8-bit table holds: refused rather than cut to their low byte.
                if (parser.kinds.extended && parser.segment[2 * j] != 0) return VEX_ERR_CONTAINER;
                slot[k + j] = parser.segment[2 * j + 1];
            }
        }
    }
    return 0;
}

// A scan header the streaming engine cannot decode, on a read that takes
// extended frames: the frame goes to the coefficient store, which reads the
// scan's components and tables from the header kept here. The selectors the
// slots are re-ordered by stay 0; the store decoder keeps its own tables.
bool KeepForStore(ParserState& parser, const AppVexParams* params, uint16_t body) {
    const uint8_t* s = parser.segment;
    const uint16_t ns = s[0];
    bool stored = ns != parser.componentCount || params->height == 0;
    for (uint16_t c = 0; c < ns; ++c) {
        const uint8_t selectors = s[2 + 2 * c];
        if ((selectors >> 4) > 1 || (selectors & 15) > 1) stored = true;
    }
    if (!stored) return false;
    parser.frame->stored = true;
    parser.frame->firstScanLength = uint8_t(body);
    CopyWords(parser.frame->firstScan, s, body);
    return true;
}

Status ParseScanHeader(ParserState& parser, const AppVexParams* params) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    if (body > kMaxSosBody) return VEX_ERR_CONTAINER;
    Q_TRY(CopyInput(parser.in, parser.segment, body, VEX_ERR_SHORT_READ));
    // A scan needs a frame before it: without one there are no components to
    // decode.
    if (body < 1 || parser.componentCount == 0) return VEX_ERR_CONTAINER;
    const uint16_t ns = parser.segment[0];
    if (parser.kinds.extended) {
        // Any subset of the components, with its spectral fields, and
        // selectors of the four tables of each class.
        if (ns < 1 || ns > parser.componentCount || body < 1 + 2 * ns) return VEX_ERR_CONTAINER;
        for (uint16_t c = 0; c < ns; ++c) {
            const uint8_t selectors = parser.segment[2 + 2 * c];
            if ((selectors >> 4) > 3 || (selectors & 15) > 3) return VEX_ERR_CONTAINER;
        }
        if (KeepForStore(parser, params, body)) return 0;
    }
    if (ns != parser.componentCount) return VEX_ERR_CONTAINER;
    if (body < 1 + 2 * ns) return VEX_ERR_CONTAINER;
    for (uint16_t c = 0; c < ns; ++c) {
        const uint8_t selectors = parser.segment[2 + 2 * c];
        // Two slots per Huffman class.
        if ((selectors >> 4) > 1 || (selectors & 15) > 1) return VEX_ERR_CONTAINER;
        parser.dcSelector[c] = uint16_t(selectors >> 4);
        parser.acSelector[c] = uint16_t(selectors & 15);
    }
    return 0;
}

// DRI and DNL carry one 16-bit value; any other length is refused so that
// the body always fits the segment buffer.
Status ParseShortValue(ParserState& parser, uint16_t* value) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    if (body != 2) return VEX_ERR_CONTAINER;
    Q_TRY(CopyInput(parser.in, parser.segment, body, VEX_ERR_SHORT_READ));
    *value = BigEndian16(parser.segment);
    return 0;
}

// The information value of a thumbnail-bearing JFIF segment, whether its
// data reaches the host in one piece or several.
uint16_t ThumbnailInfo(const uint8_t* jfif) { return uint16_t(jfif[12] * 256 + jfif[13]); }

bool StartsWithJfif(const uint8_t* p) {
    return p[0] == 'J' && p[1] == 'F' && p[2] == 'I' && p[3] == 'F' && p[4] == 0;
}

// The Adobe APP14 segment: "Adobe", version, two flag words, transform.
constexpr uint16_t kAdobeBytes = 12;

bool StartsWithAdobe(const uint8_t* p) {
    return p[0] == 'A' && p[1] == 'd' && p[2] == 'o' && p[3] == 'b' && p[4] == 'e';
}

// What the frame's components are, read the way libjpeg reads them: a JFIF
// segment means YCbCr; else an Adobe segment's transform (0 RGB or CMYK, 1
// YCbCr, 2 YCCK); else identifiers 'R', 'G', 'B' mean RGB. Four components
// without an Adobe segment are CMYK.
FrameColour ColourOf(const JpegFrame& f) {
    switch (f.componentCount) {
        case 1: return FrameColour::kGrey;
        case 3:
            if (f.jfif) return FrameColour::kYCbCr;
            if (f.adobe) return f.adobeTransform == 0 ? FrameColour::kRgb : FrameColour::kYCbCr;
            if (f.componentId[0] == 'R' && f.componentId[1] == 'G' && f.componentId[2] == 'B') return FrameColour::kRgb;
            return FrameColour::kYCbCr;
        case 4:
            return f.adobe && f.adobeTransform == 2 ? FrameColour::kYcck : FrameColour::kCmyk;
        default:
            return FrameColour::kLegacy;
    }
}

Status ParseMarkerData(ParserState& parser, AppVexParams* params, uint8_t marker) {
    uint16_t body = 0;
    Q_TRY(ReadBodyLength(parser.in, &body));
    const HostIo& io = parser.in.io;
    uint16_t info = body;
    uint8_t* piece = parser.segment;
    uint16_t count = 0;
    if (body > 0) Q_TRY(NextPiece(parser.in, body, &piece, &count));
    if (body > 0 && count == 0) return VEX_ERR_SHORT_READ;

    // What the components are, as the segments say; read from the first
    // piece, like the JFIF fields below.
    if (marker == kApp0 && count >= kJfifHeaderBytes && StartsWithJfif(piece)) parser.frame->jfif = true;
    if (marker == kApp14 && count >= kAdobeBytes && StartsWithAdobe(piece)) {
        parser.frame->adobe = true;
        parser.frame->adobeTransform = piece[11];
    }

    if (marker == kApp0) {
        // The JFIF fields are read from the first piece only. A host that
        // lends buffers too small to hold the JFIF header keeps its own
        // density fields, and gets the header bytes with the rest of the data.
        if (count >= kJfifHeaderBytes && StartsWithJfif(piece)) {
            params->densityUnits = piece[7];
            params->xDensity = BigEndian16(piece + 8);
            params->yDensity = BigEndian16(piece + 10);
        }
        if (count >= kJfifFullParseBytes && !parser.notAfterSoi && !parser.jfifSeen &&
            StartsWithJfif(piece) && piece[5] != 0) {
            parser.jfifSeen = true;
            // Every minor version is accepted: the fields stand at the same
            // offsets in all of them.
            if (piece[5] != 1) return VEX_ERR_CONTAINER;
            params->densityUnits = piece[7];
            params->xDensity = BigEndian16(piece + 8);
            params->yDensity = BigEndian16(piece + 10);
            info = ThumbnailInfo(piece);
            // The host receives the thumbnail only, not the JFIF header.
            piece += kJfifHeaderBytes;
            count = uint16_t(count - kJfifHeaderBytes);
            body = uint16_t(body - kJfifHeaderBytes);
        }
    }

    if (!HasAppMarkerRead(io)) {
        // Nothing to deliver: step over what is left of the segment.
        if (body > count) Q_TRY(PassOver(parser.in, uint16_t(body - count)));
        return 0;
    }

    const bool comment = marker == kCom;
    uint16_t remaining = body;
    bool severalPieces = false;
    for (;;) {
        uint8_t* data = piece;
        const Status result = HostAppMarkerRead(io, marker, info, count, &data);
        if (comment && result != 0) return result;
        if (remaining <= count) break;
        remaining = uint16_t(remaining - count);
        Q_TRY(NextPiece(parser.in, remaining, &piece, &count));
        if (count == 0) return VEX_ERR_SHORT_READ;
        severalPieces = true;
    }
    if (severalPieces) {
        // A count of 0 tells the host the segment is complete.
        uint8_t* data = piece + count;
        const Status result = HostAppMarkerRead(io, marker, info, 0, &data);
        if (comment && result != 0) return result;
    }
    return 0;
}

// Points each component at the slots its selectors name. The selectors were
// range-checked when read, so only the filled slots are ever taken.
void ReorderTables(const ParserState& parser, AppVexParams* params) {
    const uint8_t* q[4];
    const uint8_t* dc[4];
    const uint8_t* ac[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = params->qTables[i];
        dc[i] = params->dcTables[i];
        ac[i] = params->acTables[i];
    }
    for (uint16_t c = 0; c < parser.componentCount && c < 4; ++c) {
        params->qTables[c] = q[parser.quantSelector[c]];
        params->dcTables[c] = dc[parser.dcSelector[c]];
        params->acTables[c] = ac[parser.acSelector[c]];
    }
}

// Steps from the two bytes in `marker` to the next marker, as ITU-T T.81
// allows (any number of 0xFF fill bytes in front of a marker) and as broken
// writers need (bytes that belong to no segment, 0xFF 0x00 pairs among them,
// counted in skippedBytes).
Status FindMarker(InputBuffer& in, uint8_t* marker) {
    for (;;) {
        if (marker[0] == 0xFF && marker[1] != 0x00 && marker[1] != 0xFF) return 0;
        if (marker[0] == 0xFF && marker[1] == 0x00) {
            in.skippedBytes += 2;
            Q_TRY(CopyInput(in, marker, 2));
            continue;
        }
        // A fill byte, or one byte of junk: step on by one.
        if (marker[0] != 0xFF) ++in.skippedBytes;
        marker[0] = marker[1];
        Q_TRY(CopyInput(in, marker + 1, 1));
    }
}

Status ParseSegments(ParserState& parser, AppVexParams* params, uint8_t* marker, bool* reorder) {
    const bool extended = parser.kinds.extended;
    for (;;) {
        if (extended) Q_TRY(FindMarker(parser.in, marker));
        if (marker[0] != 0xFF) return VEX_ERR_CONTAINER;
        const uint8_t code = marker[1];
        if (code == kEoi) {
            *reorder = false;
            return 0;
        }
        if (code == kSos && parser.kinds.progressive && parser.frame->progressive) {
            // Scans of a progressive frame name components one by one; the
            // progressive decoder reads every scan header itself.
            *reorder = parser.tableSegments >= 2;
            return 0;
        }
        if (code == kSos) {
            Q_TRY(ParseScanHeader(parser, params));
            *reorder = parser.tableSegments >= 2;
            return 0;
        }
        // SOF1 at 8 bits differs from SOF0 only in allowing four Huffman
        // tables of each class.
        if (code == kSof0 || (code == kSof1 && extended) || (code == kSof2 && parser.kinds.progressive)) {
            if (parser.frame != nullptr) parser.frame->progressive = code == kSof2;
            Q_TRY(ParseFrameHeader(parser, params));
        } else if (code == kDht) {
            ++parser.tableSegments;
            Q_TRY(ParseHuffmanTables(parser));
        } else if (code == kDqt) {
            ++parser.tableSegments;
            Q_TRY(ParseQuantTables(parser));
        } else if (code == kDri) {
            uint16_t interval = 0;
            Q_TRY(ParseShortValue(parser, &interval));
            params->restartInterval = interval;
        } else if (code == kDnl) {
            uint16_t lines = 0;
            Q_TRY(ParseShortValue(parser, &lines));
            params->height = lines;
        } else if ((code >= kApp0 && code <= kApp15) || code == kCom) {
            Q_TRY(ParseMarkerData(parser, params, code));
        } else if (code != kSoi) {
            // Other frame types, arithmetic coding, restart markers out of
            // place, fill bytes: nothing this decoder reads.
            return VEX_ERR_CONTAINER;
        }
        Q_TRY(CopyInput(parser.in, marker, 2));
    }
}

}  // namespace

Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params) {
    return ParseJpegHeader(in, slots, params, nullptr, JpegFrameKinds{});
}

Status ParseJpegHeader(InputBuffer& in, TableSlots& slots, AppVexParams* params, JpegFrame* frame,
                       JpegFrameKinds kinds) {
    if (!HasRead(in.io)) return VEX_ERR_NO_CALLBACK;
    ParserState parser(in, slots);
    JpegFrame unused;
    parser.frame = frame != nullptr ? frame : &unused;
    *parser.frame = JpegFrame{};
    // Without the caller's frame description nothing beyond the baseline
    // frames can be kept.
    if (frame != nullptr) parser.kinds = kinds;
    uint8_t marker[2];
    Q_TRY(CopyInput(in, marker, 2));
    if (marker[0] == 0xFF && marker[1] == kSoi) {
        Q_TRY(CopyInput(in, marker, 2));
        if (marker[1] != kApp0) parser.notAfterSoi = true;
    } else if (marker[1] == kCom) {
        // A stream may open with a comment instead of SOI.
        parser.notAfterSoi = true;
    } else {
        return VEX_ERR_CONTAINER;
    }
    bool reorder = true;
    const Status status = ParseSegments(parser, params, marker, &reorder);
    if (status != 0 || reorder) ReorderTables(parser, params);
    parser.frame->colour = ColourOf(*parser.frame);
    return status;
}

}  // namespace q32vex
