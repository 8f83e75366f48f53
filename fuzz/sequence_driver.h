// Sequence driver: the fuzz input is a small program of export calls in any
// order - opens from records edited from valid ones, band calls, aborts,
// deallocations, table and format questions, the lock - over streams this
// library writes at start-up, optionally damaged, through hosts whose buffer
// sizes and failing calls the program picks. A model of the host's view
// checks every status against the sequence it believes open. Afterwards each
// sequence whose result cannot depend on an earlier one runs again, alone,
// in a freshly deallocated library, and the host must see exactly the same.
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "compress_driver.h"

namespace vexfuzz {

// Program layout. Each step: an op byte (modulo kOpCount), then its values:
//   GetDefaultTables              colour space i8
//   MakeQTable                    quantisation table u8, quality u16
//   GetTableSize                  kind i8, table u8 (of that kind's set)
//   GetMcuDims                    colour space i8, sampling
//   QuerySupport                  direction u8, record
//   CompressInit                  record, sink
//   GetCompInfo, DecompressInit   record, input
//   the others                    nothing
// record:   source u8 (0 the host's record as it stands, else a base record:
//           compression records of the start-up shapes, then their
//           decompression records), edit count u8 (mod 5), edits (kind u8,
//           then its values, see RecordEdit)
// sampling: u8, below 0x80 a table row (with its colour space), else u32 of
//           nibbles h0..h3 v0..v3
// input:    stream u8, damage u8 (bit 0 flips, bit 1 truncation, bits 2-3
//           flip count - 1), flips (position u16, xor u8), truncated length
//           u16, chunk u16 (0: 65535), end style u8, failing read u8 (0: none)
// sink:     buffer size u16 (0: 4096), failing write u8 (0: none)
// An exhausted input ends the program.
enum SequenceOp : uint8_t {
    kOpSetDefaultCompress, kOpSetDefaultDecompress, kOpGetDefaultTables, kOpMakeQTable,
    kOpGetTableSize, kOpGetMcuDims, kOpQuerySupport, kOpCompressInit, kOpCompressBand,
    kOpGetCompInfo, kOpDecompressInit, kOpDecompressBand, kOpAbort, kOpDeallocate,
    kOpEnterLock, kOpLeaveLock, kOpCount
};

enum RecordEdit : uint8_t {
    kEditTiles,       // width u16, height u16
    kEditBand,        // width u16, height u16; the budget becomes 0
    kEditBudget,      // bytes u32; the band size becomes 0 x 0
    kEditWindow,      // left, top, right, bottom u16
    kEditContainer,   // i8
    kEditSampling,    // sampling
    kEditFormat,      // u8: table row; with bit 7 the pixel model is bits 5-6
    kEditQuality,     // u16
    kEditRestart,     // u16
    kEditSize,        // width u16, height u16
    kEditColorSpace,  // i8
    kEditTable,       // u8 kind (mod 3) and component (/ 3 mod 4), u8 choice (0 null)
    kEditCallbacks,   // u8: bit 0 no read, bit 1 no write, bit 2 header segment
                      // source, bit 3 header segment receiver
    kEditCount
};

constexpr int kMaxSequenceSteps = 64;
constexpr int kMaxReplays = 4;
// Compression opens of larger images are cut down by the host first.
constexpr uint32_t kMaxSequencePixels = 1u << 14;

// The streams written at start-up, one per shape, in its container. The bare
// stream uses the default tables at the quality of the others, so a header
// read of stream 0 loads exactly its tables.
struct WorldShape {
    SeedShape shape;
    int16_t container;
};
constexpr WorldShape kWorldShapes[] = {
    {{1, 1, 70, 45, 0, 0xFFFF, 0xFFFF}, VEX_CONTAINER_JFIF},  // 0: 4:2:0 colour
    {{1, 1, 70, 45, 0, 32, 16}, VEX_CONTAINER_TIFF},          // 1: the same in 32 x 16 tiles
    {{3, 3, 21, 13, 1, 0xFFFF, 0xFFFF}, VEX_CONTAINER_JFIF},  // 2: grey with restarts
    {{4, 4, 32, 32, 0, 16, 16}, VEX_CONTAINER_TIFF},          // 3: four channels, tiled
    {{1, 1, 70, 45, 2, 0xFFFF, 0xFFFF}, VEX_CONTAINER_RAW},   // 4: bare data
    {{6, 1, 60, 8, 0, 0xFFFF, 0xFFFF}, VEX_CONTAINER_JFIF},   // 5: 4:1:1
    {{2, 2, 17, 9, 0, 0xFFFF, 0xFFFF}, VEX_CONTAINER_TIFF},   // 6: 4:4:4, 32-bit pixels
    {{5, 4, 9, 9, 3, 0xFFFF, 0xFFFF}, VEX_CONTAINER_JFIF},    // 7: four channels, restarts
};
constexpr int kWorldShapeCount = int(sizeof kWorldShapes / sizeof kWorldShapes[0]);
// Record sources of the program layout.
constexpr uint8_t CompressBase(int shape) { return uint8_t(1 + shape); }
constexpr uint8_t DecompressBase(int shape) { return uint8_t(1 + kWorldShapeCount + shape); }

using Bytes = std::vector<uint8_t>;

struct SequenceWorld {
    std::vector<Bytes> streams;
    std::vector<AppVexParams> bases;  // compression records, then decompression records
    std::vector<Bytes> hostTables;
    std::vector<const uint8_t*> tables[3];  // per kind: default and host tables
    std::string failure;
};

// A Huffman table definition of exactly 16 + sum(bits) bytes.
inline Bytes HuffmanSpec(const uint8_t* bits, const uint8_t* symbols = nullptr) {
    Bytes spec(SpecSize(bits));
    for (size_t i = 0; i < spec.size(); ++i) spec[i] = i < 16 ? bits[i] : symbols ? symbols[i] : uint8_t(i);
    return spec;
}

inline SequenceWorld MakeWorld() {
    SequenceWorld w;
    const uint8_t *const *dq = nullptr, *const *ddc = nullptr, *const *dac = nullptr;
    if (AppVexGetDefaultTables(0, &dq, &ddc, &dac) != 0) {
        w.failure = "default tables unavailable";
        return w;
    }
    // Host tables, each exactly as long as its content: a table, one with a
    // zero entry, Huffman table definitions one symbol too long, and a DC
    // table definition with more codes than lengths allow.
    Bytes q(64), zero(64);
    for (int i = 0; i < 64; ++i) q[size_t(i)] = zero[size_t(i)] = uint8_t(3 + i % 29);
    zero[37] = 0;
    const uint8_t dcLong[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 65};
    const uint8_t acLong[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 163};
    const uint8_t dcOver[16] = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    w.hostTables = {q, zero, HuffmanSpec(ddc[0], ddc[0]), HuffmanSpec(dcLong), HuffmanSpec(dcOver),
                    HuffmanSpec(dac[1], dac[1]), HuffmanSpec(acLong)};
    const auto& h = w.hostTables;
    w.tables[0] = {dq[0], dq[1], h[0].data(), h[1].data()};
    w.tables[1] = {ddc[0], ddc[1], h[2].data(), h[3].data(), h[4].data()};
    w.tables[2] = {dac[0], dac[1], h[5].data(), h[6].data()};

    std::vector<AppVexParams> decode;
    for (const WorldShape& ws : kWorldShapes) {
        AppVexParams c;
        w.streams.push_back(CompressShape(ws.shape, ws.container, 25, &c));
        if (w.streams.back().empty()) w.failure = "a start-up stream failed to compress";
        w.bases.push_back(c);
        // The decompression record is what a header read returns; a bare
        // stream's is that of the same image in a JFIF stream, whose header
        // also points components 2 and 3 at Huffman tables.
        const bool raw = ws.container == VEX_CONTAINER_RAW;
        const Bytes header = raw ? CompressShape(ws.shape, VEX_CONTAINER_JFIF, 25) : w.streams.back();
        AppVexParams d;
        AppVexSetDefaultDecompress(&d);
        d.containerKind = raw ? VEX_CONTAINER_JFIF : ws.container;
        // A TIFF file records sampling for YCbCr only: the host states it.
        d.sampling = c.sampling;
        d.colorSpace = c.colorSpace;
        d.pixelFormat = c.pixelFormat;
        d.pixelModel = c.pixelModel;
        d.readCallback = HostRead;
        StreamHost host;
        host.data = header.data();
        host.size = uint32_t(header.size());
        CurrentStream() = &host;
        if (AppVexGetCompInfo(&d) != 0) w.failure = "a start-up stream's header does not read";
        CurrentStream() = nullptr;
        if (raw) d.containerKind = VEX_CONTAINER_RAW;
        d.bandWidth = d.width;
        d.bandHeight = d.height;
        d.bandMemory = 0;
        d.tileByteCounts = d.tileOffsets = nullptr;
        decode.push_back(d);
        AppVexAbort();
        AppVexDeallocate();
    }
    w.bases.insert(w.bases.end(), decode.begin(), decode.end());
    // The header segment source gives a thumbnail and one APP3 segment.
    MarkerSource& m = CurrentMarkerSource();
    m.marker = 0xE3;
    m.size = 24;
    m.thumbnail = 0x21;
    m.shortfall = 0;
    return w;
}

inline const SequenceWorld& World() {
    static const SequenceWorld world = MakeWorld();
    return world;
}

// FNV-1a over everything a host sees of one sequence, marked after the open,
// each band call and the bytes that crossed the callbacks.
struct TraceHash {
    uint64_t h = 14695981039346656037ull;
    std::vector<uint64_t> marks;
    void Mark() { marks.push_back(h); }
    void Add(const void* data, size_t n) {
        const auto* b = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    }
    void Add16(int v) {
        const uint16_t x = uint16_t(v);
        Add(&x, 2);
    }
    void AddRect(const BandRect& r) { Add(&r, sizeof r); }
    // The tile array addresses differ from run to run; their contents do not.
    void AddRecord(AppVexParams p) {
        p.tileByteCounts = p.tileOffsets = nullptr;
        Add(&p, sizeof p);
    }
};

// What a host chose for one open; enough to run the sequence again.
struct RunConfig {
    bool compress = false;
    AppVexParams record{};  // as passed to the open
    std::shared_ptr<const Bytes> input;
    uint16_t chunk = 65535, bufferSize = 4096;
    EndStyle endStyle = kEndFlagWithLast;
    int failAt = 0;
    bool comparable = false;  // its result cannot depend on earlier sequences
    int bandCalls = 0;
    std::vector<uint64_t> trace;  // the marks of the trace
};

// With VEXFUZZ_TRACE set in the environment, the steps and sequence ends are
// printed, to see what an input does.
inline bool Tracing() {
    static const bool on = std::getenv("VEXFUZZ_TRACE") != nullptr;
    return on;
}

inline bool IsEmptyRect(const BandRect& r) { return r.x0 == 1 && r.x1 == 0; }

// Host rows, each its own exactly sized block, so any access outside the
// band the library named trips the address sanitizer.
struct HostRows {
    std::vector<std::unique_ptr<uint8_t[]>> store;
    std::unique_ptr<uint8_t*[]> rows;
    HostRows(uint32_t count, size_t bytes) : store(count), rows(new uint8_t*[count]) {
        for (uint32_t y = 0; y < count; ++y) {
            store[y].reset(new uint8_t[bytes]);
            rows[y] = store[y].get();
        }
    }
};

// One open and the band calls that follow it, with the host's buffers.
class SequenceRun {
public:
    explicit SequenceRun(const RunConfig& c) : config(c) {
        in.data = c.input ? c.input->data() : nullptr;
        in.size = c.input ? uint32_t(c.input->size()) : 0;
        in.chunk = c.chunk;
        in.endStyle = c.endStyle;
        out.bufferSize = c.bufferSize;
        (c.compress ? out.failAtCall : in.failAtCall) = c.failAt;
    }
    void Attach() {
        CurrentStream() = &in;
        CurrentSink() = &out;
    }

    std::string Open(AppVexParams* host) {
        Attach();
        const AppVexParams before = *host;
        status = config.compress ? AppVexCompressBuffInit(host) : AppVexDecompressBuffInit(host);
        if (!HostFinding().empty()) return HostFinding();
        if (!IsExpectedStatus(status)) return "unknown status from a sequence open";
        AppVexParams expect = before;
        // The compression open writes back the chosen band size only; the
        // decompression open the whole record, on success only.
        if (config.compress) {
            expect.bandWidth = host->bandWidth;
            expect.bandHeight = host->bandHeight;
        }
        if ((config.compress || status != 0) && std::memcmp(&expect, host, sizeof expect) != 0)
            return "an open wrote more of the host record than it may";
        trace.Add16(status);
        trace.AddRecord(*host);
        trace.Mark();
        if (status != 0) return std::string();
        live = true;
        p = *host;
        if (p.bandWidth == 0 || p.bandHeight == 0) return "open chose an empty band";
        bpp = BytesPerPixelOf(p);
        if (config.compress) {
            band = {0, 0, uint16_t(std::min(p.bandWidth, p.width) - 1),
                    uint16_t(std::min(p.bandHeight, p.height) - 1)};
            return std::string();
        }
        if (p.windowLeft >= p.width || p.windowTop >= p.height || p.windowRight >= p.width ||
            p.windowBottom >= p.height)
            return "open wrote back a window outside the image";
        if (bpp < 1 || bpp > 4) return "open accepted a pixel format without whole bytes";
        windowWidth = p.windowLeft > p.windowRight ? 0 : uint32_t(p.windowRight - p.windowLeft + 1);
        windowHeight = p.windowTop > p.windowBottom ? 0 : uint32_t(p.windowBottom - p.windowTop + 1);
        tooLarge = uint64_t(p.width) * p.height > kMaxDecodePixels;
        return std::string();
    }

    // One band call; `called` says whether the host made it (it declines to
    // decode images above the pixel limit).
    std::string Band(bool* called) {
        *called = !(live && tooLarge);
        if (!*called) return std::string();
        Attach();
        ++config.bandCalls;
        rect = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        reachedEnd = false;
        const std::string f = config.compress ? CompressBand() : DecompressBand();
        trace.Mark();
        return f;
    }

    // The host's trace of the whole sequence, with the bytes that crossed its
    // callbacks; the host buffers go with the run.
    RunConfig Finish() {
        if (Tracing())
            std::fprintf(stderr, "sequence end: %d reads, %d writes, %zu bytes written\n", in.calls,
                         out.calls, out.stream.size());
        trace.Add16(in.calls);
        trace.Add16(out.calls);
        trace.Add(out.stream.data(), out.stream.size());
        trace.Mark();
        config.trace = trace.marks;
        return config;
    }

    std::string HostFinding() const { return in.finding.empty() ? out.finding : in.finding; }

    RunConfig config;
    int16_t status = 0;  // of the last call
    BandRect rect{};     // of the last band call
    bool reachedEnd = false;  // the last band ends at the window's bottom-right corner

private:
    std::string CompressBand() {
        const uint32_t w = live ? band.x1 - band.x0 + 1u : 0, h = live ? band.y1 - band.y0 + 1u : 0;
        HostRows rows(h, size_t(w) * bpp);
        // Pixels are a function of their place in the image.
        for (uint32_t y = 0; y < h; ++y)
            for (size_t i = 0; i < size_t(w) * bpp; ++i) {
                const uint32_t x = band.x0 + uint32_t(i / bpp), b = uint32_t(i % bpp), iy = band.y0 + y;
                rows.rows[y][i] = uint8_t(x * 3 + iy * 5 + b * 85 + ((x ^ iy) & 12));
            }
        status = AppVexCompressBuff(rows.rows.get(), &rect);
        if (!HostFinding().empty()) return HostFinding();
        if (!IsExpectedStatus(status)) return "unknown status from AppVexCompressBuff";
        trace.Add16(status);
        trace.AddRect(rect);
        if (status != 0 || IsEmptyRect(rect)) live = false;
        if (!live) return std::string();
        if (rect.x0 > rect.x1 || rect.y0 > rect.y1 || rect.x1 >= p.width || rect.y1 >= p.height)
            return "compression asked for a band outside the image";
        if (rect.x1 - rect.x0 >= p.bandWidth || rect.y1 - rect.y0 >= p.bandHeight)
            return "compression asked for a band larger than the band written back";
        band = rect;
        return std::string();
    }

    std::string DecompressBand() {
        const uint32_t w = live ? std::min<uint32_t>(p.bandWidth, windowWidth) : 0;
        const uint32_t h = live ? std::min<uint32_t>(p.bandHeight, windowHeight) : 0;
        HostRows rows(h, size_t(w) * bpp);
        for (uint32_t y = 0; y < h; ++y) std::memset(rows.rows[y], 0xAA, size_t(w) * bpp);
        status = AppVexDecompressBuff(rows.rows.get(), &rect);
        if (!HostFinding().empty()) return HostFinding();
        if (!IsExpectedStatus(status)) return "unknown status from AppVexDecompressBuff";
        trace.Add16(status);
        trace.AddRect(rect);
        if (status != 0 || IsEmptyRect(rect)) {
            live = false;
            return std::string();
        }
        if (rect.x0 > rect.x1 || rect.y0 > rect.y1) return "band call returned an inverted rectangle";
        if (rect.x1 >= windowWidth || rect.y1 >= windowHeight) return "band rectangle outside the window";
        if (rect.x1 - rect.x0 >= w || rect.y1 - rect.y0 >= h)
            return "band rectangle larger than the band written back";
        for (uint32_t y = 0; y <= uint32_t(rect.y1 - rect.y0); ++y)
            trace.Add(rows.rows[y], size_t(rect.x1 - rect.x0 + 1) * bpp);
        reachedEnd = rect.x1 + 1u == windowWidth && rect.y1 + 1u == windowHeight;
        return std::string();
    }

    StreamHost in;
    SinkHost out;
    TraceHash trace;
    AppVexParams p{};  // the record the open wrote back
    bool live = false;  // opened, and no band call has ended it yet
    bool tooLarge = false;
    int bpp = 1;
    uint32_t windowWidth = 0, windowHeight = 0;
    BandRect band{};  // compression: the band to deliver next
};

class SequenceProgram {
public:
    SequenceProgram(const uint8_t* data, size_t size) : in_(data, size), world_(World()) {
        AppVexSetDefaultCompress(&host_);
    }

    std::string Run() {
        if (!world_.failure.empty()) return world_.failure;
        CurrentMarkerSink().comStatus = 0;
        for (int step = 0; step < kMaxSequenceSteps && in_.RestSize() > 0 && finding_.empty(); ++step)
            Step(step, SequenceOp(in_.U8() % kOpCount));
        for (; lockDepth_ > 0; --lockDepth_) AppVexLeaveCriticalSection();
        EndRun();
        if (finding_.empty()) finding_ = CloseAndCheckLeaks();
        int replays = 0;
        for (const RunConfig& c : finished_) {
            if (!finding_.empty() || replays == kMaxReplays) break;
            if (!c.comparable) continue;
            ++replays;
            finding_ = Replay(c);
        }
        const std::string leak = CloseAndCheckLeaks();
        return finding_.empty() ? leak : finding_;
    }

private:
    enum Open { kNone, kCompressing, kDecompressing };

    void Step(int step, SequenceOp op) {
        status_ = 0;
        rect_ = {0, 0, 0, 0};
        Call(op);
        if (Tracing())
            std::fprintf(stderr, "step %2d op %2d status %4d band %u,%u-%u,%u%s\n", step, int(op), status_,
                         rect_.x0, rect_.y0, rect_.x1, rect_.y1, finding_.empty() ? "" : " FINDING");
    }

    void Call(SequenceOp op) {
        switch (op) {
            case kOpSetDefaultCompress:
            case kOpSetDefaultDecompress: {
                AppVexParams other;
                AppVexSetDefaultCompress(op == kOpSetDefaultCompress ? &host_ : &other);
                AppVexSetDefaultDecompress(op == kOpSetDefaultCompress ? &other : &host_);
                Check(std::memcmp(&host_, &other, sizeof other) == 0, "the two default records differ");
                break;
            }
            case kOpGetDefaultTables: {
                const uint8_t* const* none = nullptr;
                const uint8_t *const *q = none, *const *dc = none, *const *ac = none;
                const int16_t s = AppVexGetDefaultTables(int8_t(in_.U8()), &q, &dc, &ac);
                CheckStatus(s);
                Check(s == 0 ? q && dc && ac : !q && !dc && !ac, "default tables output wrong");
                break;
            }
            case kOpMakeQTable: {
                const uint8_t* source = Table(0, in_.U8());
                const uint16_t quality = in_.U16();
                LentBuffer dest;
                dest.Renew(64, 0xEE);
                const int16_t s = AppVexMakeQTable(source ? source : world_.tables[0][0], quality, dest.bytes);
                CheckStatus(s);
                for (int i = 0; i < 64; ++i)
                    Check(s == 0 ? dest.bytes[i] >= 2 : dest.bytes[i] == 0xEE, "scaled table wrong");
                break;
            }
            case kOpGetTableSize: {
                const int16_t kind = int8_t(in_.U8());
                const uint8_t* table = Table(kind >= 0 && kind < 3 ? kind : 0, in_.U8());
                uint16_t size = 0xEEEE;
                const int16_t s = AppVexGetTableSize(kind, table ? table : world_.tables[0][0], &size);
                CheckStatus(s);
                Check(s == 0 ? size >= 16 && size <= 178 : size == 0xEEEE, "table size wrong");
                break;
            }
            case kOpGetMcuDims: {
                const int16_t colorSpace = int8_t(in_.U8());
                SamplingDesc sampling = ReadSampling(nullptr);
                uint16_t w = 0xEEEE, h = 0xEEEE;
                const int16_t s = AppVexGetMcuDims(colorSpace, &sampling, &w, &h);
                CheckStatus(s);
                Check(s == 0 ? (w == 8 || w == 16 || w == 32) && (h == 8 || h == 16 || h == 32)
                             : w == 0xEEEE && h == 0xEEEE,
                      "MCU size wrong");
                break;
            }
            case kOpQuerySupport: {
                const int32_t direction = in_.U8();
                ReadRecord();
                const AppVexParams before = host_;
                const int16_t s = AppVexQuerySupport(direction, &host_);
                CheckStatus(s);
                Check(std::memcmp(&before, &host_, sizeof before) == 0, "support query wrote the host record");
                Refused(s);
                break;
            }
            case kOpCompressInit: {
                ReadRecord();
                if (uint64_t(host_.width) * host_.height > kMaxSequencePixels) {
                    host_.width = uint16_t(1 + host_.width % 128);
                    host_.height = uint16_t(1 + host_.height % 128);
                }
                RunConfig c;
                c.compress = true;
                c.record = host_;
                c.bufferSize = in_.U16();
                if (c.bufferSize == 0) c.bufferSize = 4096;
                c.failAt = in_.U8();
                c.comparable = true;
                for (int i = 0; i < 4; ++i)
                    c.comparable = c.comparable && KnownTable(0, host_.qTables[i]) &&
                                   KnownTable(1, host_.dcTables[i]) && KnownTable(2, host_.acTables[i]);
                auto run = std::make_unique<SequenceRun>(c);
                Fail(run->Open(&host_));
                status_ = run->status;
                if (Refused(run->status)) {
                    Reattach();
                    break;
                }
                EndRun();
                run_ = std::move(run);
                run_->Attach();
                open_ = run_->status == 0 ? kCompressing : kNone;
                break;
            }
            case kOpGetCompInfo: {
                ReadRecord();
                SequenceRun reader(ReadInput());
                reader.Attach();
                const AppVexParams before = host_;
                const int16_t s = AppVexGetCompInfo(&host_);
                Fail(reader.HostFinding());
                CheckStatus(s);
                Check(s == 0 || std::memcmp(&before, &host_, sizeof before) == 0,
                      "failed header read wrote the host record");
                Refused(s);
                Reattach();
                break;
            }
            case kOpDecompressInit: {
                ReadRecord();
                RunConfig c = ReadInput();
                c.record = host_;
                // A bare stream decodes with whatever tables the last header
                // read left in the library, on purpose; a damaged stream may
                // leave its tables to an earlier one too.
                c.comparable = c.comparable && host_.containerKind != VEX_CONTAINER_RAW;
                EndRun();
                run_ = std::make_unique<SequenceRun>(c);
                Fail(run_->Open(&host_));
                status_ = run_->status;
                open_ = run_->status == 0 ? kDecompressing : kNone;
                mayBeDone_ = false;
                break;
            }
            case kOpCompressBand:
            case kOpDecompressBand:
                BandCall(op == kOpCompressBand);
                break;
            case kOpAbort: {
                const int16_t s = status_ = AppVexAbort();
                Check(s == 0 ? open_ != kNone : s == VEX_ERR_NOT_OPEN && (open_ == kNone || mayBeDone_),
                      "AppVexAbort disagrees with the sequence the host opened");
                EndRun();
                break;
            }
            case kOpDeallocate:
                Check(AppVexDeallocate() == 0, "AppVexDeallocate failed");
                EndRun();
                break;
            case kOpEnterLock:
                AppVexEnterCriticalSection();
                ++lockDepth_;
                break;
            case kOpLeaveLock:
                // Leaving a lock the thread does not hold is a host error.
                if (lockDepth_ > 0) {
                    AppVexLeaveCriticalSection();
                    --lockDepth_;
                }
                break;
            default:
                break;
        }
    }

    void BandCall(bool compress) {
        const bool mine = run_ && run_->config.compress == compress;
        int16_t s = 0;
        BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
        if (mine) {
            bool called = false;
            Fail(run_->Band(&called));
            if (!called) return;
            s = run_->status;
            r = run_->rect;
        } else {
            uint8_t* none[1] = {nullptr};
            s = compress ? AppVexCompressBuff(none, &r) : AppVexDecompressBuff(none, &r);
            CheckStatus(s);
        }
        status_ = s;
        rect_ = r;
        const Open direction = compress ? kCompressing : kDecompressing;
        if (open_ != direction) {
            // Nothing of this direction is open: no rows are touched and the
            // call says so.
            Check(compress ? s == VEX_ERR_NOT_COMPRESSING && r.x0 == 0xEEEE && r.y0 == 0xEEEE &&
                                 r.x1 == 0xEEEE && r.y1 == 0xEEEE
                           : s == 0 && IsEmptyRect(r),
                  "band call on a closed sequence did not report it closed");
            return;
        }
        if (s != 0 || IsEmptyRect(r)) {
            open_ = kNone;
            mayBeDone_ = false;
        } else if (!compress && run_->reachedEnd) {
            // The last visible band: whether the image below the window is
            // still to decode is the library's business.
            mayBeDone_ = true;
        }
    }

    // A status from an open that refuses while a sequence is open: true when
    // it refused. Only the host's own calls tell whether a decompression that
    // delivered its last visible band is still open.
    bool Refused(int16_t s) {
        if (s == VEX_ERR_BUSY) {
            Check(open_ != kNone, "refused as busy with nothing open");
            return true;
        }
        Check(open_ == kNone || mayBeDone_, "ran while a sequence was open");
        open_ = kNone;
        mayBeDone_ = false;
        return false;
    }

    void EndRun() {
        if (run_) finished_.push_back(run_->Finish());
        run_.reset();
        Reattach();
        open_ = kNone;
        mayBeDone_ = false;
    }

    // The callbacks reach the hosts of the run in hand, or none.
    void Reattach() {
        CurrentStream() = nullptr;
        CurrentSink() = nullptr;
        if (run_) run_->Attach();
    }

    // Runs a sequence alone in a freshly deallocated library; its trace.
    static std::vector<uint64_t> RunAlone(const RunConfig& c, std::string* finding) {
        AppVexAbort();
        AppVexDeallocate();
        SequenceRun run(c);
        AppVexParams host = c.record;
        *finding = run.Open(&host);
        for (int i = 0; i < c.bandCalls && finding->empty(); ++i) {
            bool called = false;
            *finding = run.Band(&called);
        }
        const std::vector<uint64_t> trace = run.Finish().trace;
        CurrentStream() = nullptr;
        CurrentSink() = nullptr;
        return trace;
    }

    // Says where the trace first differs and whether the sequence alone is
    // at least the same twice (if not, no history is needed to change it).
    static std::string Replay(const RunConfig& c) {
        std::string f;
        const std::vector<uint64_t> alone = RunAlone(c, &f);
        if (!f.empty() || alone == c.trace) return f;
        size_t at = 0;
        while (at < alone.size() && at < c.trace.size() && alone[at] == c.trace[at]) ++at;
        const std::string where = at == 0                   ? "at the open"
                                  : at <= size_t(c.bandCalls) ? "at band call " + std::to_string(at)
                                                              : "in the bytes through the callbacks";
        const bool steady = RunAlone(c, &f) == alone;
        return std::string(c.compress ? "a compression" : "a decompression") +
               " ran differently after earlier sequences than alone, first " + where +
               (steady ? "" : " (and differently each time alone)");
    }

    // ---- reading the program -------------------------------------------

    void ReadRecord() {
        const uint8_t source = in_.U8();
        if (source != 0) host_ = world_.bases[(source - 1u) % world_.bases.size()];
        const int edits = in_.U8() % 5;
        for (int i = 0; i < edits; ++i) ApplyEdit(RecordEdit(in_.U8() % kEditCount));
    }

    void ApplyEdit(RecordEdit edit) {
        AppVexParams& p = host_;
        switch (edit) {
            case kEditTiles:
                p.tileWidth = in_.U16();
                p.tileHeight = in_.U16();
                break;
            case kEditBand:
                p.bandWidth = in_.U16();
                p.bandHeight = in_.U16();
                p.bandMemory = 0;
                break;
            case kEditBudget:
                p.bandWidth = p.bandHeight = 0;
                p.bandMemory = int32_t(in_.U32());
                break;
            case kEditWindow:
                p.windowLeft = in_.U16();
                p.windowTop = in_.U16();
                p.windowRight = in_.U16();
                p.windowBottom = in_.U16();
                break;
            case kEditContainer: p.containerKind = int8_t(in_.U8()); break;
            case kEditSampling: p.sampling = ReadSampling(&p.colorSpace); break;
            case kEditFormat: {
                const uint8_t sel = in_.U8();
                p.pixelFormat = FormatByIndex(sel % 5, &p.pixelModel);
                if (sel & 0x80) p.pixelModel = int16_t((sel >> 5) & 3);
                break;
            }
            case kEditQuality: p.quality = in_.U16(); break;
            case kEditRestart: p.restartInterval = in_.U16(); break;
            case kEditSize:
                p.width = in_.U16();
                p.height = in_.U16();
                break;
            case kEditColorSpace: p.colorSpace = int8_t(in_.U8()); break;
            case kEditTable: {
                const uint8_t which = in_.U8();
                const int kind = which % 3, component = which / 3 % 4;
                const uint8_t* table = Table(kind, in_.U8());
                (kind == 0 ? p.qTables : kind == 1 ? p.dcTables : p.acTables)[component] = table;
                break;
            }
            case kEditCallbacks: {
                const uint8_t mask = in_.U8();
                p.readCallback = (mask & 1) ? nullptr : HostRead;
                p.writeCallback = (mask & 2) ? nullptr : HostWrite;
                p.appMarkerCallback = (mask & 4) ? HostAppMarker : nullptr;
                p.appMarkerReadCallback = (mask & 8) ? HostAppMarkerRead : nullptr;
                break;
            }
            default:
                break;
        }
    }

    SamplingDesc ReadSampling(int16_t* colorSpace) {
        const uint8_t sel = in_.U8();
        if (sel < 0x80) return SamplingByIndex(sel, colorSpace);
        const uint32_t v = in_.U32();
        SamplingDesc s;
        for (int i = 0; i < 4; ++i) {
            s.h[i] = uint16_t(v >> (4 * i) & 15);
            s.v[i] = uint16_t(v >> (16 + 4 * i) & 15);
        }
        return s;
    }

    // The input of a header read or decompression open, and its host.
    RunConfig ReadInput() {
        RunConfig c;
        const Bytes& stream = world_.streams[in_.U8() % world_.streams.size()];
        auto input = std::make_shared<Bytes>(stream);
        const uint8_t damage = in_.U8();
        if (damage & 1) {
            for (int i = 0; i <= (damage >> 2 & 3); ++i) {
                const uint16_t at = in_.U16();
                const uint8_t flip = in_.U8();
                if (!input->empty()) (*input)[at % input->size()] ^= flip ? flip : 0xFF;
            }
        }
        if (damage & 2) input->resize(std::min<size_t>(input->size(), in_.U16()));
        c.comparable = (damage & 3) == 0;
        c.input = input;
        c.chunk = in_.U16();
        if (c.chunk == 0) c.chunk = 65535;
        c.endStyle = EndStyle(in_.U8() % 3);
        c.failAt = in_.U8();
        return c;
    }

    // A table of the kind's set; choice 0 is null.
    const uint8_t* Table(int kind, uint8_t choice) const {
        const std::vector<const uint8_t*>& set = world_.tables[kind];
        return choice == 0 ? nullptr : set[(choice - 1u) % set.size()];
    }
    bool KnownTable(int kind, const uint8_t* table) const {
        const std::vector<const uint8_t*>& set = world_.tables[kind];
        return table == nullptr || std::find(set.begin(), set.end(), table) != set.end();
    }

    // ---- findings ------------------------------------------------------

    void Fail(const std::string& f) {
        if (finding_.empty() && !f.empty()) finding_ = f;
    }
    void Check(bool ok, const char* what) {
        if (!ok) Fail(what);
    }
    void CheckStatus(int16_t s) {
        status_ = s;
        Check(IsExpectedStatus(s), "unknown status");
    }

    OptionReader in_;
    const SequenceWorld& world_;
    AppVexParams host_;  // the host's record, as the exports wrote it back
    Open open_ = kNone;
    bool mayBeDone_ = false;
    std::unique_ptr<SequenceRun> run_;
    std::vector<RunConfig> finished_;
    int lockDepth_ = 0;
    std::string finding_;
    int16_t status_ = 0;  // of the step's export, for the trace
    BandRect rect_{};
};

inline std::string RunSequenceProgram(const uint8_t* data, size_t size) {
    return SequenceProgram(data, size).Run();
}

// Writes programs in the layout above, for seeds and regression inputs.
struct ProgramWriter {
    Bytes bytes;
    ProgramWriter& U8(unsigned v) {
        bytes.push_back(uint8_t(v));
        return *this;
    }
    ProgramWriter& U16(unsigned v) { return U8(v & 0xFF).U8(v >> 8 & 0xFF); }
    ProgramWriter& Op(SequenceOp op) { return U8(op); }
    // A record from `source` with `edits` edits, which the caller writes next.
    ProgramWriter& Record(uint8_t source, unsigned edits = 0) { return U8(source).U8(edits); }
    ProgramWriter& Edit(RecordEdit edit, unsigned a, unsigned b) { return U8(edit).U16(a).U16(b); }
    ProgramWriter& Input(int stream, unsigned chunk = 0, unsigned failAt = 0) {
        return U8(unsigned(stream)).U8(0).U16(chunk).U8(0).U8(failAt);
    }
    ProgramWriter& Sink(unsigned size = 0, unsigned failAt = 0) { return U16(size).U8(failAt); }
    ProgramWriter& Repeat(SequenceOp op, int n) {
        for (int i = 0; i < n; ++i) Op(op);
        return *this;
    }
};

}  // namespace vexfuzz
