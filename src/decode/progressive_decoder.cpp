// Progressive JPEG decoding into a coefficient store (ITU-T T.81 G.1.2 and
// G.2), and sequential frames the streaming engine cannot take (several
// scans, Huffman tables 2 and 3, a height given by DNL), whose scans each
// code the whole spectrum of some components. The scans are copied out of the
// host's buffers into one block first, so that everything below works on
// plain memory with every read checked against its end.
//
// Damaged data is treated as the sequential decoder treats it: entropy-coded
// data that ends early, or that holds a code no table has, leaves the rest of
// its scan as the earlier scans made it, and the picture is still made. A
// cut-off progressive file thus still gives the picture its complete scans
// describe, which is what such files are for. Marker segments that make no
// sense (a scan naming an unknown component, a spectral band out of order, a
// second frame, a broken Huffman table) refuse the file with VEX_ERR_CONTAINER,
// as they do in the header.
#include "decode/progressive_decoder.h"

#include <algorithm>

#include <cstring>
#include <new>

#include "common/tables.h"
#include "decode/input_reader.h"
#include "platform/allocator.h"

namespace q32vex {
namespace {

constexpr uint64_t kBlockBytes = 64 * sizeof(int16_t);
constexpr int kTableCount = 4;  // Huffman and quantisation table ids 0..3
constexpr int kFastBits = 9;

// One Huffman table for decoding: codes of up to kFastBits bits straight
// from `fast` ((length << 8) | symbol, 0 for longer or missing codes), the
// others by length through the canonical code ranges.
struct HuffTable {
    bool defined;
    uint16_t symbolCount;
    uint16_t fast[1 << kFastBits];
    int32_t maxCode[17];  // largest code of each length, -1 for none
    int32_t offset[17];   // symbol index of a code of that length: code + offset
    uint8_t symbols[256];
};

// Builds a table from the 16 code counts and the symbols (T.81 C.2);
// false for counts that ask for more codes than a length has.
bool BuildHuffTable(const uint8_t* counts, const uint8_t* symbols, uint16_t symbolCount, HuffTable* t) {
    std::memset(t, 0, sizeof(*t));
    uint32_t code = 0;
    uint16_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        const uint16_t n = counts[length - 1];
        t->offset[length] = int32_t(k) - int32_t(code);
        t->maxCode[length] = -1;
        if (n > 0) {
            if (code + n > (1u << length) || k + n > symbolCount) return false;
            for (uint16_t i = 0; i < n; ++i, ++k, ++code) {
                if (length <= kFastBits) {
                    const uint32_t first = code << (kFastBits - length);
                    for (uint32_t f = 0; f < (1u << (kFastBits - length)); ++f)
                        t->fast[first + f] = uint16_t(length << 8 | symbols[k]);
                }
            }
            t->maxCode[length] = int32_t(code) - 1;
        }
        code <<= 1;
    }
    std::memcpy(t->symbols, symbols, k);
    t->symbolCount = k;
    t->defined = k > 0;
    return true;
}

// The entropy-coded bits of one scan: stuffed 0xFF 0x00 pairs become 0xFF;
// a marker, or the end of the data, turns everything after it into zero bits
// and leaves `pos` on the marker.
struct BitSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint64_t buffer;  // the next bits, from the top
    int count;
    bool stopped;     // a marker or the end of the data was reached
};

// Eight bytes from `p`, the first the most significant.
inline uint64_t BigEndian64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

// Whether any of the eight bytes is 0xFF (a zero byte of the complement).
inline bool HoldsFF(uint64_t v) {
    const uint64_t inverted = ~v;
    return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

void Fill(BitSource& s) {
    // Most of the data holds no 0xFF: then the whole bytes that fit are taken
    // at once, as the loop below would take them one by one.
    if (!s.stopped && s.pos + 8 <= s.size) {
        const uint64_t next = BigEndian64(s.data + s.pos);
        if (!HoldsFF(next)) {
            const int bytes = (64 - s.count) >> 3;
            const uint64_t taken = bytes == 8 ? next : next & ~(~uint64_t(0) >> (8 * bytes));
            s.buffer |= s.count == 0 ? taken : taken >> s.count;
            s.count += 8 * bytes;
            s.pos += size_t(bytes);
            return;
        }
    }
    while (s.count <= 56) {
        uint32_t byte = 0;
        if (!s.stopped) {
            if (s.pos >= s.size) {
                s.stopped = true;
            } else if (s.data[s.pos] != 0xFF) {
                byte = s.data[s.pos++];
            } else if (s.pos + 1 < s.size && s.data[s.pos + 1] == 0x00) {
                byte = 0xFF;
                s.pos += 2;
            } else {
                s.stopped = true;
            }
        }
        s.buffer |= uint64_t(byte) << (56 - s.count);
        s.count += 8;
    }
}

inline uint32_t Bits(BitSource& s, int n) {
    if (n == 0) return 0;
    if (s.count < n) Fill(s);
    const uint32_t value = uint32_t(s.buffer >> (64 - n));
    s.buffer <<= n;
    s.count -= n;
    return value;
}

// The value of an s-bit magnitude field (T.81 F.2.2.1, EXTEND).
inline int32_t Extend(uint32_t bits, int s) {
    return bits < (1u << (s - 1)) ? int32_t(bits) - int32_t((1u << s) - 1) : int32_t(bits);
}

// The next symbol, or -1 for bits that are no code of the table.
inline int Decode(BitSource& s, const HuffTable& t) {
    if (s.count < 16) Fill(s);
    const uint16_t entry = t.fast[s.buffer >> (64 - kFastBits)];
    if (entry != 0) {
        s.buffer <<= entry >> 8;
        s.count -= entry >> 8;
        return entry & 0xFF;
    }
    for (int length = kFastBits + 1; length <= 16; ++length) {
        const int32_t code = int32_t(s.buffer >> (64 - length));
        if (code <= t.maxCode[length]) {
            s.buffer <<= length;
            s.count -= length;
            const int32_t index = code + t.offset[length];
            return index >= 0 && index < t.symbolCount ? t.symbols[index] : -1;
        }
    }
    return -1;
}

// Index of the next marker (0xFF then a code other than 0x00 and 0xFF) at or
// after `pos`, or `size`.
size_t NextMarker(const uint8_t* data, size_t size, size_t pos) {
    for (; pos + 1 < size; ++pos) {
        if (data[pos] == 0xFF && data[pos + 1] != 0x00 && data[pos + 1] != 0xFF) return pos;
    }
    return size;
}

// Where the entropy-coded data that starts at `pos` ends: the next marker
// other than a restart marker, or `size`.
size_t EndOfScanData(const uint8_t* data, size_t size, size_t pos) {
    for (;;) {
        pos = NextMarker(data, size, pos);
        if (pos + 1 >= size || data[pos + 1] < 0xD0 || data[pos + 1] > 0xD7) return pos;
        pos += 2;
    }
}

// At a restart boundary: the padding bits go, and the RSTn marker, if it is
// the next marker, is passed over. Another marker stops the scan's data.
void Restart(BitSource& s) {
    s.buffer = 0;
    s.count = 0;
    const size_t marker = NextMarker(s.data, s.size, s.pos);
    if (marker + 1 < s.size && s.data[marker + 1] >= 0xD0 && s.data[marker + 1] <= 0xD7) {
        s.pos = marker + 2;
        s.stopped = false;
    } else {
        s.pos = marker;
        s.stopped = true;
    }
}

struct ScanComponent {
    int index;  // in the frame
    int dcTable;
    int acTable;
};

// Everything the scans of one frame share.
struct Decoder {
    Decoder(ProgressiveState& store, const uint8_t* bytes, size_t count, uint16_t interval)
        : state(store), data(bytes), size(count), restartInterval(interval) {}

    ProgressiveState& state;
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint16_t restartInterval;
    bool sequential = false;  // every scan codes whole blocks (T.81 F.1.2)
    uint32_t skipped = 0;     // junk bytes between segments
    HuffTable dc[kTableCount] = {};
    HuffTable ac[kTableCount] = {};
    uint8_t quant[kTableCount][64] = {};
    uint8_t quantSelector[4] = {};
    uint8_t componentId[4] = {};
    bool latched[4] = {};
    // The scan being decoded.
    int componentsInScan = 0;
    ScanComponent scan[4] = {};
    int ss = 0, se = 0, ah = 0, al = 0;
    int32_t predictor[4] = {};
    uint32_t endOfBandRun = 0;
};

int16_t* Block(const ProgressiveState& state, int c, uint32_t bx, uint32_t by) {
    return state.coefficients + (state.firstBlock[c] + uint64_t(by) * state.blocksAcross[c] + bx) * 64;
}

// The four kinds of block decoding (T.81 G.1.2.1 and G.1.2.2); false when
// the data holds no valid code, which ends the scan.
bool DcFirst(Decoder& d, BitSource& s, int16_t* block, int sc) {
    const ScanComponent& c = d.scan[sc];
    const int category = Decode(s, d.dc[c.dcTable]);
    if (category < 0 || category > 16) return false;
    const int32_t diff = category == 0 ? 0 : Extend(Bits(s, category), category);
    // Wrapping arithmetic: a damaged stream may add up any differences.
    d.predictor[c.index] = int32_t(uint32_t(d.predictor[c.index]) + uint32_t(diff));
    block[0] = int16_t(uint32_t(d.predictor[c.index]) << d.al);
    return true;
}

bool DcRefine(Decoder& d, BitSource& s, int16_t* block) {
    if (Bits(s, 1) != 0) block[0] = int16_t(block[0] | (1 << d.al));
    return true;
}

// A sequential scan knows no end-of-band runs: every code with a size of 0
// other than sixteen zeros ends the block (T.81 F.2.2.2).
bool AcFirst(Decoder& d, BitSource& s, int16_t* block, int sc, bool bandRuns) {
    if (d.endOfBandRun > 0) {
        --d.endOfBandRun;
        return true;
    }
    const HuffTable& table = d.ac[d.scan[sc].acTable];
    for (int k = d.ss; k <= d.se; ++k) {
        const int rs = Decode(s, table);
        if (rs < 0) return false;
        const int run = rs >> 4, size = rs & 15;
        if (size == 0) {
            if (run == 15) {
                k += 15;  // sixteen zeros
                continue;
            }
            // End of band, for this block and 2^run - 1 + (run bits) more.
            if (bandRuns) d.endOfBandRun = (1u << run) - 1 + Bits(s, run);
            break;
        }
        k += run;
        if (k > d.se) return false;
        const int32_t value = Extend(Bits(s, size), size);
        block[kZigzag[k]] = int16_t(uint32_t(value) << d.al);
    }
    return true;
}

// Refinement of a coefficient that already has a value: one correction bit,
// which moves it away from zero by the bit's weight.
inline void Correct(BitSource& s, int16_t* coefficient, int weight) {
    if (Bits(s, 1) != 0 && (*coefficient & weight) == 0)
        *coefficient = int16_t(*coefficient >= 0 ? *coefficient + weight : *coefficient - weight);
}

bool AcRefine(Decoder& d, BitSource& s, int16_t* block, int sc) {
    const int weight = 1 << d.al;
    int k = d.ss;
    if (d.endOfBandRun == 0) {
        const HuffTable& table = d.ac[d.scan[sc].acTable];
        for (; k <= d.se; ++k) {
            const int rs = Decode(s, table);
            if (rs < 0) return false;
            int run = rs >> 4;
            const int size = rs & 15;
            int16_t value = 0;
            if (size != 0) {
                // A newly significant coefficient is always +-1 at this bit.
                value = int16_t(Bits(s, 1) != 0 ? weight : -weight);
            } else if (run != 15) {
                d.endOfBandRun = (1u << run) + Bits(s, run);
                break;  // the rest of this block is refined below
            }
            // Pass over `run` coefficients that are still zero, refining the
            // non-zero ones met on the way; the new value lands on the next
            // zero one.
            for (; k <= d.se; ++k) {
                int16_t* coefficient = &block[kZigzag[k]];
                if (*coefficient != 0) {
                    Correct(s, coefficient, weight);
                } else {
                    if (run == 0) break;
                    --run;
                }
            }
            if (value != 0 && k <= d.se) block[kZigzag[k]] = value;
        }
    }
    if (d.endOfBandRun > 0) {
        for (; k <= d.se; ++k) {
            int16_t* coefficient = &block[kZigzag[k]];
            if (*coefficient != 0) Correct(s, coefficient, weight);
        }
        --d.endOfBandRun;
    }
    return true;
}

bool DecodeBlock(Decoder& d, BitSource& s, int16_t* block, int sc) {
    // A whole block: its DC difference, then the AC coefficients 1..63
    // (d.ss stays 1 for these scans).
    if (d.sequential) return DcFirst(d, s, block, sc) && AcFirst(d, s, block, sc, false);
    if (d.ss == 0) return d.ah == 0 ? DcFirst(d, s, block, sc) : DcRefine(d, s, block);
    return d.ah == 0 ? AcFirst(d, s, block, sc, true) : AcRefine(d, s, block, sc);
}

// The entropy-coded data of the scan whose header ended at d.pos; afterwards
// d.pos stands on the marker that follows it (or at the end of the data).
void DecodeScanData(Decoder& d) {
    const ProgressiveState& st = d.state;
    BitSource s = {d.data, d.size, d.pos, 0, 0, false};
    const bool interleaved = d.componentsInScan > 1;
    const int single = d.scan[0].index;
    // A scan of one component codes only the blocks inside the component's
    // own picture (T.81 A.2.2), each as an MCU of its own.
    const uint32_t across = interleaved ? st.mcusAcross : st.pictureBlocksAcross[single];
    const uint32_t down = interleaved ? st.mcusDown : st.pictureBlocksDown[single];
    for (int c = 0; c < 4; ++c) d.predictor[c] = 0;
    d.endOfBandRun = 0;
    uint32_t restartsLeft = d.restartInterval;
    for (uint32_t y = 0; y < down; ++y) {
        for (uint32_t x = 0; x < across; ++x) {
            if (d.restartInterval != 0) {
                if (restartsLeft == 0) {
                    Restart(s);
                    for (int c = 0; c < 4; ++c) d.predictor[c] = 0;
                    d.endOfBandRun = 0;
                    restartsLeft = d.restartInterval;
                }
                --restartsLeft;
            }
            bool good = true;
            if (!interleaved && d.endOfBandRun > 1 && d.ss > 0 && d.ah == 0 && !d.sequential) {
                // A first AC scan leaves the blocks of an end-of-band run as
                // they are: pass over as many as the row and the restart
                // interval hold at once.
                uint32_t n = std::min<uint32_t>(d.endOfBandRun, across - x);
                if (d.restartInterval != 0) n = std::min<uint32_t>(n, restartsLeft + 1);
                d.endOfBandRun -= n;
                if (d.restartInterval != 0) restartsLeft -= n - 1;
                x += n - 1;
            } else if (!interleaved) {
                good = DecodeBlock(d, s, Block(st, single, x, y), 0);
            } else {
                for (int sc = 0; sc < d.componentsInScan && good; ++sc) {
                    const int c = d.scan[sc].index;
                    for (uint32_t by = 0; by < st.v[c] && good; ++by) {
                        for (uint32_t bx = 0; bx < st.h[c] && good; ++bx)
                            good = DecodeBlock(d, s, Block(st, c, x * st.h[c] + bx, y * st.v[c] + by), sc);
                    }
                }
            }
            if (!good) {
                // No valid code: the rest of the scan stays as it was.
                y = down;
                break;
            }
        }
    }
    d.pos = EndOfScanData(d.data, d.size, s.pos);
}

uint16_t BigEndian16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// A segment body at d.pos of the length its first two bytes give; false when
// the data ends inside it (the caller then stops, as at the end of the data).
bool SegmentBody(Decoder& d, const uint8_t** body, uint16_t* length) {
    if (d.pos + 2 > d.size) return false;
    const uint16_t total = BigEndian16(d.data + d.pos);
    if (total < 2 || d.pos + total > d.size) return false;
    *body = d.data + d.pos + 2;
    *length = uint16_t(total - 2);
    d.pos += total;
    return true;
}

Status ParseHuffmanSegment(Decoder& d, const uint8_t* p, uint16_t n) {
    while (n > 0) {
        if (n < 17) return VEX_ERR_CONTAINER;
        const int tableClass = p[0] >> 4, id = p[0] & 15;
        if (tableClass > 1 || id >= kTableCount) return VEX_ERR_CONTAINER;
        uint16_t symbols = 0;
        for (int i = 1; i <= 16; ++i) symbols = uint16_t(symbols + p[i]);
        if (symbols > 256 || 17 + symbols > n) return VEX_ERR_CONTAINER;
        HuffTable& t = tableClass == 0 ? d.dc[id] : d.ac[id];
        if (!BuildHuffTable(p + 1, p + 17, symbols, &t)) return VEX_ERR_CONTAINER;
        p += 17 + symbols;
        n = uint16_t(n - 17 - symbols);
    }
    return 0;
}

// 8-bit tables, and 16-bit ones whose entries fit 8 bits (the library's
// dequantisation works on 8-bit entries).
Status ParseQuantSegment(Decoder& d, const uint8_t* p, uint16_t n) {
    while (n > 0) {
        const int precision = p[0] >> 4, id = p[0] & 15;
        const uint16_t bytes = uint16_t(1 + 64 * (precision + 1));
        if (precision > 1 || id >= kTableCount || bytes > n) return VEX_ERR_CONTAINER;
        for (int k = 0; k < 64; ++k) {
            if (precision == 0) {
                d.quant[id][k] = p[1 + k];
            } else {
                if (p[1 + 2 * k] != 0) return VEX_ERR_CONTAINER;
                d.quant[id][k] = p[2 + 2 * k];
            }
        }
        p += bytes;
        n = uint16_t(n - bytes);
    }
    return 0;
}

// A component's quantisation table is the one in force at its first scan.
void LatchQuantTables(Decoder& d) {
    for (int i = 0; i < d.componentsInScan; ++i) {
        const int c = d.scan[i].index;
        if (d.latched[c]) continue;
        std::memcpy(d.state.quant[c], d.quant[d.quantSelector[c]], 64);
        d.latched[c] = true;
    }
}

// A scan header (T.81 B.2.3) with the limits of G.1.1.1.1: a DC scan may
// interleave components, an AC scan has one; successive approximation
// refines one bit at a time.
Status ParseScanHeader(Decoder& d, const uint8_t* p, uint16_t n) {
    const ProgressiveState& st = d.state;
    if (n < 1) return VEX_ERR_CONTAINER;
    const int count = p[0];
    if (count < 1 || count > 4 || n != 4 + 2 * count) return VEX_ERR_CONTAINER;
    bool seen[4] = {};
    for (int i = 0; i < count; ++i) {
        const uint8_t id = p[1 + 2 * i], tables = p[2 + 2 * i];
        int index = -1;
        for (int c = 0; c < st.componentCount; ++c) {
            if (d.componentId[c] == id) index = c;
        }
        if (index < 0 || seen[index]) return VEX_ERR_CONTAINER;
        seen[index] = true;
        if ((tables >> 4) >= kTableCount || (tables & 15) >= kTableCount) return VEX_ERR_CONTAINER;
        d.scan[i] = ScanComponent{index, tables >> 4, tables & 15};
    }
    d.componentsInScan = count;
    const uint8_t* tail = p + 1 + 2 * count;
    d.ss = tail[0];
    d.se = tail[1];
    d.ah = tail[2] >> 4;
    d.al = tail[2] & 15;
    if (d.sequential) {
        // One scan per group of components, each over the whole spectrum at
        // full precision; the AC part of a block then starts at 1.
        if (d.ss != 0 || d.se != 63 || tail[2] != 0) return VEX_ERR_CONTAINER;
        for (int i = 0; i < count; ++i) {
            if (!d.dc[d.scan[i].dcTable].defined) return VEX_ERR_DC_TABLE;
            if (!d.ac[d.scan[i].acTable].defined) return VEX_ERR_AC_TABLE;
        }
        d.ss = 1;
        LatchQuantTables(d);
        return 0;
    }
    if (d.ss == 0 ? d.se != 0 : (d.se < d.ss || d.se > 63 || count != 1)) return VEX_ERR_CONTAINER;
    if (d.ah > 13 || d.al > 13 || (d.ah != 0 && d.al != d.ah - 1)) return VEX_ERR_CONTAINER;
    // The tables the scan decodes with must exist (a DC refinement reads
    // bare bits).
    for (int i = 0; i < count; ++i) {
        if (d.ss == 0 && d.ah == 0 && !d.dc[d.scan[i].dcTable].defined) return VEX_ERR_DC_TABLE;
        if (d.ss != 0 && !d.ac[d.scan[i].acTable].defined) return VEX_ERR_AC_TABLE;
    }
    LatchQuantTables(d);
    return 0;
}

// Passes over bytes from d.pos to the next marker; all but the fill bytes
// right in front of it are junk that belongs to no segment.
void StepToMarker(Decoder& d) {
    const size_t marker = NextMarker(d.data, d.size, d.pos);
    size_t junkEnd = marker;
    while (junkEnd > d.pos && d.data[junkEnd - 1] == 0xFF) --junkEnd;
    d.skipped += uint32_t(junkEnd - d.pos);
    d.pos = marker;
}

// The segments from the first scan to the end of the image. For a
// progressive frame d.pos stands at the first scan header's length field;
// for a stored sequential frame the header reader has read that header,
// which `frame` holds, and d.pos stands at its entropy-coded data.
Status DecodeSegments(Decoder& d, const JpegFrame& frame) {
    uint8_t code = 0xDA;  // the header reader stopped at or behind the first SOS
    bool anyScan = false;
    if (frame.stored) {
        Q_TRY(ParseScanHeader(d, frame.firstScan, frame.firstScanLength));
        anyScan = true;
        DecodeScanData(d);
        code = 0;  // look for the next marker
    }
    for (;;) {
        const uint8_t* body = nullptr;
        uint16_t length = 0;
        if (code == 0xD9) return 0;  // EOI
        const bool standalone = code == 0 || code == 0x01 || (code >= 0xD0 && code <= 0xD7);
        if (!standalone) {
            // Data that ends inside a segment ends the picture there; without
            // one whole scan header there is no picture.
            if (!SegmentBody(d, &body, &length)) return anyScan ? 0 : VEX_ERR_SHORT_READ;
            if (code == 0xDA) {
                Q_TRY(ParseScanHeader(d, body, length));
                anyScan = true;
                DecodeScanData(d);
            } else if (code == 0xC4) {
                Q_TRY(ParseHuffmanSegment(d, body, length));
            } else if (code == 0xDB) {
                Q_TRY(ParseQuantSegment(d, body, length));
            } else if (code == 0xDD) {
                if (length != 2) return VEX_ERR_CONTAINER;
                d.restartInterval = BigEndian16(body);
            } else if (code >= 0xC0 && code <= 0xCF && code != 0xC8 && code != 0xCC) {
                return VEX_ERR_CONTAINER;  // a second frame
            }
            // APPn, COM, DNL and the rest: passed over.
        }
        // Bytes between segments that are no marker are passed over too
        // (after a scan, DecodeScanData has left d.pos on its marker).
        StepToMarker(d);
        if (d.pos + 1 >= d.size) return anyScan ? 0 : VEX_ERR_SHORT_READ;
        code = d.data[d.pos + 1];
        d.pos += 2;
    }
}

// The rest of the stream into one LibAlloc'd block of at most `limit` bytes.
Status CopyRestOfStream(InputBuffer& in, uint64_t limit, uint8_t** out, size_t* size) {
    uint8_t* data = nullptr;
    size_t used = 0, capacity = 0;
    for (;;) {
        uint8_t* chunk = nullptr;
        uint16_t count = 0;
        int16_t flag = kInputNext;
        const Status status = ReadInput(in, &chunk, -1, &count, &flag);
        // Input that ends without a final buffer ends the stream as well.
        if (status == VEX_ERR_NO_BUFFER) break;
        if (status != 0) {
            LibFree(data);
            return status;
        }
        if (count > 0) {
            if (used + count > limit) {
                LibFree(data);
                return VEX_ERR_IMAGE_SIZE;
            }
            if (used + count > capacity) {
                uint64_t grown = capacity < 65536 ? 65536 : uint64_t(capacity) * 2;
                if (grown > limit) grown = limit;
                auto* bigger = static_cast<uint8_t*>(LibAlloc(uint32_t(grown)));
                if (bigger == nullptr) {
                    LibFree(data);
                    return VEX_ERR_NO_MEMORY;
                }
                if (used > 0) std::memcpy(bigger, data, used);
                LibFree(data);
                data = bigger;
                capacity = size_t(grown);
            }
            std::memcpy(data + used, chunk, count);
            used += count;
        }
        if (flag != 0) break;
    }
    *out = data;
    *size = used;
    return 0;
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

}  // namespace

Status PlanProgressiveFrame(ProgressiveState& state, const JpegFrame& frame, const AppVexParams& params) {
    const uint16_t components = frame.componentCount;
    if (components < 1 || components > 4) return VEX_ERR_CONTAINER;
    state.componentCount = components;
    uint32_t hMax = 1, vMax = 1;
    for (int c = 0; c < components; ++c) {
        const uint16_t h = params.sampling.h[c], v = params.sampling.v[c];
        if (h < 1 || h > 4 || v < 1 || v > 4) return VEX_ERR_SAMPLING;
        // A single component is one block per MCU whatever it declares.
        state.h[c] = uint8_t(components == 1 ? 1 : h);
        state.v[c] = uint8_t(components == 1 ? 1 : v);
        if (state.h[c] > hMax) hMax = state.h[c];
        if (state.v[c] > vMax) vMax = state.v[c];
    }
    const uint32_t width = params.width, height = params.height;
    state.mcusAcross = uint16_t(CeilDiv(width, 8 * hMax));
    state.mcusDown = uint16_t(CeilDiv(height, 8 * vMax));
    uint64_t blocks = 0;
    for (int c = 0; c < components; ++c) {
        state.blocksAcross[c] = uint32_t(state.mcusAcross) * state.h[c];
        state.blocksDown[c] = uint32_t(state.mcusDown) * state.v[c];
        const uint32_t componentWidth = CeilDiv(width * state.h[c], hMax);
        const uint32_t componentHeight = CeilDiv(height * state.v[c], vMax);
        state.pictureBlocksAcross[c] = CeilDiv(componentWidth, 8);
        state.pictureBlocksDown[c] = CeilDiv(componentHeight, 8);
        state.firstBlock[c] = blocks;
        blocks += uint64_t(state.blocksAcross[c]) * state.blocksDown[c];
    }
    state.bytesNeeded = blocks * kBlockBytes;
    return 0;
}

Status ReadHeightFromDnl(ProgressiveState& state, InputBuffer& in, uint64_t budgetBytes, uint16_t* height) {
    ReleaseProgressive(state);
    Q_TRY(CopyRestOfStream(in, budgetBytes, &state.stream, &state.streamSize));
    const uint8_t* data = state.stream;
    const size_t size = state.streamSize;
    const size_t marker = EndOfScanData(data, size, 0);
    // The segment must be whole and name a height: a DNL of 0 lines, like
    // none at all, leaves the picture without one.
    if (marker + 6 > size || data[marker + 1] != 0xDC || BigEndian16(data + marker + 2) != 4 ||
        BigEndian16(data + marker + 4) == 0) {
        ReleaseProgressive(state);
        return VEX_ERR_CONTAINER;
    }
    *height = BigEndian16(data + marker + 4);
    return 0;
}

Status DecodeProgressiveScans(ProgressiveState& state, const JpegFrame& frame, const AppVexParams& params,
                              const TableSlots& slots, InputBuffer& in, uint64_t budgetBytes) {
    // The stream may have been read already, to find the height.
    LibFree(state.coefficients);
    state.coefficients = nullptr;
    Status status = PlanProgressiveFrame(state, frame, params);
    // Refused before anything (more) is allocated or read: a header that
    // promises a huge picture costs nothing.
    if (status == 0 && state.bytesNeeded + state.streamSize > budgetBytes) status = VEX_ERR_IMAGE_SIZE;
    if (status == 0 && state.stream == nullptr)
        status = CopyRestOfStream(in, budgetBytes - state.bytesNeeded, &state.stream, &state.streamSize);
    if (status != 0) {
        ReleaseProgressive(state);
        return status;
    }
    state.coefficients = static_cast<int16_t*>(LibAlloc(uint32_t(state.bytesNeeded)));
    if (state.coefficients == nullptr) {
        ReleaseProgressive(state);
        return VEX_ERR_NO_MEMORY;
    }
    // The first scan writes every block: in large pages, that is a few page
    // faults instead of one for every 4 KiB.
    AdviseLargePages(state.coefficients, state.bytesNeeded);

    auto* d = static_cast<Decoder*>(LibAlloc(sizeof(Decoder)));
    if (d == nullptr) {
        ReleaseProgressive(state);
        return VEX_ERR_NO_MEMORY;
    }
    new (d) Decoder(state, state.stream, state.streamSize, uint16_t(params.restartInterval));
    d->sequential = !frame.progressive;
    // The tables the header defined; later segments replace them.
    for (int id = 0; id < kTableCount; ++id) {
        const uint8_t* dc = id < 2 ? slots.dc[id] : frame.huffDc[id - 2];
        const uint8_t* ac = id < 2 ? slots.ac[id] : frame.huffAc[id - 2];
        BuildHuffTable(dc, dc + 16, kDcSpecBytes - 16, &d->dc[id]);
        BuildHuffTable(ac, ac + 16, kAcSpecBytes - 16, &d->ac[id]);
    }
    std::memcpy(d->quant, slots.q, sizeof(d->quant));
    for (int c = 0; c < frame.componentCount; ++c) {
        d->componentId[c] = frame.componentId[c];
        d->quantSelector[c] = frame.quantSelector[c] & 3;
    }
    status = DecodeSegments(*d, frame);
    in.skippedBytes += d->skipped;
    // Components no scan named keep the table their selector names now.
    for (int c = 0; c < frame.componentCount; ++c) {
        if (!d->latched[c]) std::memcpy(state.quant[c], d->quant[d->quantSelector[c]], 64);
    }
    LibFree(d);
    LibFree(state.stream);
    state.stream = nullptr;
    state.streamSize = 0;
    if (status != 0) ReleaseProgressive(state);
    return status;
}

void LoadProgressiveMcu(const ProgressiveState& state, uint32_t mcuX, uint32_t mcuY, int16_t (*blocks)[64],
                        uint32_t* dcOnly) {
    const bool inside = state.coefficients != nullptr && mcuX < state.mcusAcross && mcuY < state.mcusDown;
    uint32_t flat = 0;
    int b = 0;
    for (int c = 0; c < state.componentCount; ++c) {
        for (uint32_t y = 0; y < state.v[c]; ++y) {
            for (uint32_t x = 0; x < state.h[c]; ++x, ++b) {
                if (!inside) {
                    std::memset(blocks[b], 0, kBlockBytes);
                    flat |= 1u << b;
                    continue;
                }
                const int16_t* source = Block(state, c, mcuX * state.h[c] + x, mcuY * state.v[c] + y);
                std::memcpy(blocks[b], source, kBlockBytes);
                int16_t any = 0;
                for (int k = 1; k < 64; ++k) any = int16_t(any | source[k]);
                if (any == 0) flat |= 1u << b;
            }
        }
    }
    *dcOnly = flat;
}

void ReleaseProgressive(ProgressiveState& state) {
    LibFree(state.coefficients);
    LibFree(state.stream);
    state.coefficients = nullptr;
    state.stream = nullptr;
    state.streamSize = 0;
}

}  // namespace q32vex
