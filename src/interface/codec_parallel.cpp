// One picture on several cores. A JFIF stream with restart markers falls
// into intervals that start byte-aligned with fresh DC predictors, so strips
// of the picture made of whole intervals can be coded on instances of their
// own and their bytes joined, and the intervals of a stream can be decoded
// apart. Strips hold a multiple of eight intervals, so that the restart
// markers inside each strip carry the numbers they have in the whole stream.
// The bytes and pixels are exactly those of one thread.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>
#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "interface/codec.h"
#include "common/format.h"
#include "common/record_enums.h"
#include "q32vex_codec.h"

namespace {

using q32vex::Status;
using q32vex::ContainerKind;
using q32vex::RecordValue;

struct Strip {
    uint32_t firstRow = 0;
    uint32_t rows = 0;
    const uint8_t* data = nullptr;  // decoding: the strip's entropy-coded bytes
    size_t size = 0;
    uint8_t* out = nullptr;  // encoding: what the strip's instance wrote
    size_t outSize = 0;
    Status status = 0;
    bool damaged = false;  // decoding: the strip's instance reported damage
};

// Rows of the picture per unit of strips: the fewest whole MCU rows that hold
// a multiple of eight restart intervals. 0 when strips cannot be cut.
uint32_t RowsPerUnit(const AppVexParams& p, uint16_t* mcuHeight) {
    uint16_t mcuWidth = 0;
    if (p.restartInterval == 0 || q32vex::GetMcuDims(p.colorSpace, &p.sampling, &mcuWidth, mcuHeight) != 0) return 0;
    const uint64_t mcusPerRow = (uint64_t(p.width) + mcuWidth - 1) / mcuWidth;
    const uint64_t interval8 = uint64_t(p.restartInterval) * 8;
    uint64_t a = mcusPerRow, b = interval8;
    while (b != 0) {
        const uint64_t t = a % b;
        a = b;
        b = t;
    }
    const uint64_t mcuRows = interval8 / a;  // lcm(mcusPerRow, interval8) / mcusPerRow
    return mcuRows * *mcuHeight > 0xFFFF ? 0 : uint32_t(mcuRows * *mcuHeight);
}

// Cuts `height` rows into at most `threads` strips of whole units; fewer than
// two strips means one thread does it all.
std::vector<Strip> CutStrips(uint32_t height, uint32_t rowsPerUnit, int threads) {
    std::vector<Strip> strips;
    if (rowsPerUnit == 0 || threads < 2) return strips;
    const uint32_t units = (height + rowsPerUnit - 1) / rowsPerUnit;
    const uint32_t count = std::min<uint32_t>(uint32_t(threads), units);
    if (count < 2) return strips;
    uint32_t row = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t unitsHere = units / count + (i < units % count ? 1 : 0);
        Strip s;
        s.firstRow = row;
        s.rows = std::min(height - row, unitsHere * rowsPerUnit);
        row += s.rows;
        strips.push_back(s);
    }
    return strips;
}

template <typename Work>
void RunAll(std::vector<Strip>& strips, Work work) {
#if defined(_WIN32)
    for (Strip& s : strips) work(s);
#else
    std::vector<std::thread> pool;
    for (size_t i = 1; i < strips.size(); ++i) pool.emplace_back([&work, &strips, i] { work(strips[i]); });
    work(strips[0]);
    for (std::thread& t : pool) t.join();
#endif
}

uint16_t BigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// The offset of the first byte after the marker segment that starts at
// `at`, or 0 when the bytes end first.
size_t SegmentEnd(const uint8_t* data, size_t size, size_t at) {
    if (at + 4 > size) return 0;
    const size_t end = at + 2 + BigEndian16(data + at + 2);
    return end <= size ? end : 0;
}

// The offset of the first segment with this marker before the scan (SOS
// itself included), stepping over fill bytes; 0 when there is none.
size_t FindSegment(const uint8_t* data, size_t size, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        if (data[at + 1] == 0xFF) {
            ++at;
            continue;
        }
        if (data[at + 1] == marker) return at;
        if (data[at + 1] == 0xDA) return 0;
        at = SegmentEnd(data, size, at);
        if (at == 0) return 0;
    }
    return 0;
}

// The SOF0 segment's offset, or 0.
size_t FrameHeader(const uint8_t* data, size_t size) { return FindSegment(data, size, 0xC0); }

// The offset of the entropy-coded data of a JFIF stream's first scan, or 0
// when there is none or it leaves components of the frame to later scans:
// such a stream is no run of restart intervals to cut.
size_t ScanData(const uint8_t* data, size_t size) {
    const size_t sos = FindSegment(data, size, 0xDA);
    const size_t frame = FindSegment(data, size, 0xC0);
    if (sos == 0 || frame == 0 || sos + 4 >= size || frame + 9 >= size) return 0;
    if (data[sos + 4] != data[frame + 9]) return 0;
    return SegmentEnd(data, size, sos);
}

// Splits the entropy-coded data into the strips' pieces: strip k starts right
// after the restart marker that ends the last interval of strip k - 1. False
// when the markers are not where the strips need them.
bool FindStripData(const uint8_t* data, size_t size, size_t scan, uint32_t mcuHeight, uint32_t restartInterval,
                   uint32_t mcusPerRow, std::vector<Strip>& strips) {
    size_t at = scan;
    uint64_t markers = 0;  // restart markers passed so far
    strips[0].data = data + scan;
    for (size_t k = 1; k < strips.size(); ++k) {
        const uint64_t mcuRows = strips[k].firstRow / mcuHeight;
        const uint64_t intervals = mcuRows * mcusPerRow / restartInterval;
        while (markers < intervals) {
            if (at + 1 >= size) return false;
            if (data[at] == 0xFF && data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7) {
                ++markers;
                at += 2;
            } else if (data[at] == 0xFF && data[at + 1] != 0x00 && data[at + 1] != 0xFF) {
                return false;  // another marker inside the scan
            } else {
                ++at;
            }
        }
        strips[k - 1].size = size_t(data + at - strips[k - 1].data);
        strips[k].data = data + at;
    }
    strips.back().size = size_t(data + size - strips.back().data);
    return true;
}


// Strip k's stream of its own, malloc'd: the header, with the strip's height
// in its frame header, the strip's intervals, EOI. Null when out of memory.
uint8_t* StripStream(const uint8_t* data, size_t scan, size_t frame, const Strip& s) {
    const size_t length = scan + s.size + 2;
    auto* stream = static_cast<uint8_t*>(std::malloc(length));
    if (stream == nullptr) return nullptr;
    std::memcpy(stream, data, scan);
    std::memcpy(stream + scan, s.data, s.size);
    stream[length - 2] = 0xFF;
    stream[length - 1] = 0xD9;
    stream[frame + 5] = uint8_t(s.rows >> 8);
    stream[frame + 6] = uint8_t(s.rows);
    return stream;
}

// Strips for the streaming forms: whole units, so that the picture need
// never be held, each at most kStripPixelBytes of pixels (or one unit) and
// small enough that every thread gets several (which evens out their work).
// A strip's pixels are copied in or out while the next strip is coded, and
// that copy stays in the core's cache at this size: at 1 MiB, two threads
// took 40% more CPU time than one and were no faster; at 256 KiB they are
// 1.3 to 1.4 times faster.
constexpr uint64_t kStripPixelBytes = 256 << 10;

std::vector<Strip> CutStreamingStrips(uint32_t height, uint32_t rowsPerUnit, uint64_t rowBytes, int threads) {
    std::vector<Strip> strips;
    if (rowsPerUnit == 0 || rowBytes == 0) return strips;
    const uint64_t unitBytes = uint64_t(rowsPerUnit) * rowBytes;
    const uint64_t target = std::min<uint64_t>(kStripPixelBytes, height * rowBytes / (4 * uint64_t(std::max(threads, 1))));
    const uint64_t units = std::max<uint64_t>(1, target / unitBytes);
    const uint32_t rowsPerStrip = uint32_t(std::min<uint64_t>(units, 0xFFFF / rowsPerUnit) * rowsPerUnit);
    for (uint32_t row = 0; row < height; row += rowsPerStrip) {
        Strip s;
        s.firstRow = row;
        s.rows = std::min(height - row, rowsPerStrip);
        strips.push_back(s);
    }
    return strips;
}

// Hands out strips in order to the workers of a streaming form, and lets
// each one touch the host's input, then its output, only in its strip's
// turn, so the host sees strips strictly in order while the coding of one
// strip overlaps the host's work on another. The first failure stops all.
class StripTurns {
public:
    explicit StripTurns(size_t count) : count_(count) {}
    // The next strip to work on, or false when none is left or one failed.
    bool Take(size_t* strip) {
        *strip = next_.fetch_add(1);
        return *strip < count_ && failed_.load() == 0;
    }
#if defined(_WIN32)
    // One worker: every turn is its own.
    bool WaitInput(size_t) { return failed_.load() == 0; }
    void PassInput() {}
    bool WaitOutput(size_t) { return failed_.load() == 0; }
    void PassOutput() {}
    void Fail(Status status) {
        Status none = 0;
        failed_.compare_exchange_strong(none, status);
    }
#else
    bool WaitInput(size_t k) { return Wait(input_, k); }
    void PassInput() { Pass(input_); }
    bool WaitOutput(size_t k) { return Wait(output_, k); }
    void PassOutput() { Pass(output_); }
    void Fail(Status status) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Status none = 0;
            failed_.compare_exchange_strong(none, status);
        }
        changed_.notify_all();
    }
#endif
    Status status() const { return failed_.load(); }

private:
#if !defined(_WIN32)
    bool Wait(size_t& turn, size_t k) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return turn == k || failed_.load() != 0; });
        return failed_.load() == 0;
    }
    void Pass(size_t& turn) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++turn;
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t input_ = 0;
    size_t output_ = 0;
#endif
    const size_t count_;
    std::atomic<size_t> next_{0};
    std::atomic<Status> failed_{0};
};

// Runs `work(worker)` on `threads` workers (the caller's thread is worker
// 0); on Windows the caller's thread does it all.
template <typename Work>
void RunWorkers(int threads, Work work) {
#if defined(_WIN32)
    (void)threads;
    work(0);
#else
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i) pool.emplace_back([&work, i] { work(i); });
    work(0);
    for (std::thread& t : pool) t.join();
#endif
}

// An instance per worker, and the caller's for strip 0, whose header carries
// the segments the caller's host functions write or read.
class WorkerInstances {
public:
    WorkerInstances(VexCodec* codec, int workers) : codec_(codec), helpers_(size_t(workers), nullptr) {
        for (VexCodec*& h : helpers_) h = q32vex::CreateHelperInstance(codec);
    }
    ~WorkerInstances() {
        for (VexCodec* h : helpers_) VexCodecDestroy(h);
    }
    bool ok() const { return std::find(helpers_.begin(), helpers_.end(), nullptr) == helpers_.end(); }
    VexCodec* For(int worker, size_t strip) const { return strip == 0 ? codec_ : helpers_[size_t(worker)]; }

private:
    VexCodec* codec_;
    std::vector<VexCodec*> helpers_;
};

// Bytes per pixel of the record's pixel format, or 0 when it names none.
uint32_t PixelBytes(const AppVexParams& p) {
    uint16_t bits = 0;
    return q32vex::BitsPerPixel(p.pixelModel, &p.pixelFormat, &bits) == 0 ? (uint32_t(bits) + 7) / 8 : 0;
}

// The record for one strip's one-call form: the strip's height, and bands
// the one-call form chooses (a strip is small).
AppVexParams StripParams(const AppVexParams& params, const Strip& s) {
    AppVexParams p = params;
    p.height = uint16_t(s.rows);
    p.tileHeight = std::min(p.tileHeight, p.height);
    p.bandWidth = 0;
    p.bandHeight = 0;
    p.bandMemory = 0;
    return p;
}

int WorkerCount(int threads, size_t strips) { return int(std::max<size_t>(1, std::min<size_t>(size_t(std::max(threads, 1)), strips))); }

// The workers of a streaming form: as many as `threads` allows, each with an
// instance and room for one strip's pixels (rows rowBytes apart, cleared when
// `cleared`), taking strips in turn. work(codec, k, pixels, rows), rows
// pointing at the rows of pixels, codes strip k and says how that went; the
// first failure stops all. The result is the turns' status.
template <typename Work>
Status RunStreamingStrips(VexCodec* codec, int threads, const std::vector<Strip>& strips, size_t rowBytes,
                          bool cleared, StripTurns& turns, Work work) {
    const int workers = WorkerCount(threads, strips.size());
    WorkerInstances codecs(codec, workers);
    if (!codecs.ok()) return VEX_ERR_NO_MEMORY;
    const uint32_t stripRows = strips[0].rows;
    RunWorkers(workers, [&](int worker) {
        auto* pixels =
            static_cast<uint8_t*>(cleared ? std::calloc(rowBytes, stripRows) : std::malloc(rowBytes * stripRows));
        if (pixels == nullptr) turns.Fail(VEX_ERR_NO_MEMORY);
        std::vector<const uint8_t*> rows(stripRows);
        for (uint32_t r = 0; pixels != nullptr && r < stripRows; ++r) rows[r] = pixels + r * rowBytes;
        size_t k = 0;
        while (pixels != nullptr && turns.Take(&k)) {
            const Status status = work(codecs.For(worker, k), k, pixels, rows.data());
            if (status != 0) turns.Fail(status);
        }
        std::free(pixels);
    });
    return turns.status();
}

}  // namespace

extern "C" {

int16_t VexCompressMemoryThreads(VexCodec* codec, AppVexParams* params, const uint8_t* pixels, ptrdiff_t stride,
                                 int threads, uint8_t** out, size_t* outSize) {
    uint16_t mcuHeight = 0;
    const bool untiled = params->tileWidth >= params->width && params->tileHeight >= params->height;
    std::vector<Strip> strips;
    if (ContainerKind(params->containerKind) == ContainerKind::kJfif && untiled)
        strips = CutStrips(params->height, RowsPerUnit(*params, &mcuHeight), threads);
    if (strips.empty()) return VexCompressMemory(codec, params, pixels, stride, out, outSize);

    *out = nullptr;
    *outSize = 0;
    RunAll(strips, [&](Strip& s) {
        AppVexParams p = *params;
        p.height = uint16_t(s.rows);
        p.tileHeight = std::min(p.tileHeight, p.height);
        // The first strip carries the header; the others are bare data.
        if (s.firstRow != 0) p.containerKind = RecordValue(ContainerKind::kRaw);
        VexCodec* own = s.firstRow == 0 ? codec : q32vex::CreateHelperInstance(codec);
        s.status = own == nullptr ? VEX_ERR_NO_MEMORY
                                  : VexCompressMemory(own, &p, pixels + ptrdiff_t(s.firstRow) * stride, stride,
                                                      &s.out, &s.outSize);
        if (own != codec) VexCodecDestroy(own);
    });
    Status status = 0;
    for (const Strip& s : strips) status = status != 0 ? status : s.status;
    // The first strip's stream ends with EOI, which goes after the last
    // strip; its frame header states the whole picture's height.
    const Strip& first = strips[0];
    const size_t frame = status == 0 ? FrameHeader(first.out, first.outSize) : 0;
    if (status == 0 && (frame == 0 || first.outSize < 2)) status = VEX_ERR_IO_REQUEST;
    size_t total = 0;
    for (const Strip& s : strips) total += s.outSize;
    auto* joined = status == 0 ? static_cast<uint8_t*>(std::malloc(total)) : nullptr;
    if (status == 0 && joined == nullptr) status = VEX_ERR_NO_MEMORY;
    if (status == 0) {
        size_t at = 0;
        for (size_t i = 0; i < strips.size(); ++i) {
            const size_t n = i == 0 ? strips[i].outSize - 2 : strips[i].outSize;
            std::memcpy(joined + at, strips[i].out, n);
            at += n;
        }
        joined[at++] = 0xFF;
        joined[at++] = 0xD9;
        joined[frame + 5] = uint8_t(params->height >> 8);
        joined[frame + 6] = uint8_t(params->height);
        *out = joined;
        *outSize = at;
    }
    for (Strip& s : strips) VexFree(s.out);
    return status;
}

int16_t VexDecompressMemoryThreads(VexCodec* codec, AppVexParams* params, const uint8_t* data, size_t size,
                                   uint8_t* pixels, ptrdiff_t stride, int threads) {
    uint16_t mcuHeight = 0, mcuWidth = 0;
    const bool whole = params->windowLeft == 0 && params->windowTop == 0 && params->windowRight >= params->width - 1 &&
                       params->windowBottom >= params->height - 1;
    std::vector<Strip> strips;
    const size_t scan = ScanData(data, size);
    if (ContainerKind(params->containerKind) == ContainerKind::kJfif && whole && scan != 0 &&
        q32vex::GetMcuDims(params->colorSpace, &params->sampling, &mcuWidth, &mcuHeight) == 0)
        strips = CutStrips(params->height, RowsPerUnit(*params, &mcuHeight), threads);
    const uint32_t mcusPerRow = mcuWidth == 0 ? 0 : (uint32_t(params->width) + mcuWidth - 1) / mcuWidth;
    if (strips.empty() ||
        !FindStripData(data, size, scan, mcuHeight, params->restartInterval, mcusPerRow, strips))
        return VexDecompressMemory(codec, params, data, size, pixels, stride);

    const size_t frame = FrameHeader(data, scan);
    if (frame == 0) return VexDecompressMemory(codec, params, data, size, pixels, stride);
    RunAll(strips, [&](Strip& s) {
        uint8_t* stream = StripStream(data, scan, frame, s);
        VexCodec* own = s.firstRow == 0 ? codec : q32vex::CreateHelperInstance(codec);
        if (stream == nullptr || own == nullptr) {
            s.status = VEX_ERR_NO_MEMORY;
        } else {
            AppVexParams p = *params;
            p.height = uint16_t(s.rows);
            s.status = VexDecompressMemory(own, &p, stream, scan + s.size + 2,
                                           pixels + ptrdiff_t(s.firstRow) * stride, stride);
            VexDecodeReport report;
            s.damaged = VexCodecDecodeReport(own, &report) == 0 && report.damage != 0;
        }
        std::free(stream);
        if (own != codec) VexCodecDestroy(own);
    });
    for (const Strip& s : strips)
        if (s.status != 0) return s.status;
    // A damaged stream is read on one thread: where its data stops and its
    // restart markers go wrong, strips cut at the markers decode other
    // pixels, and the report speaks of the whole stream. Strips end with an
    // end of image of their own, so one missing from the stream shows here.
    bool damaged = size < 2 || data[size - 2] != 0xFF || data[size - 1] != 0xD9;
    for (const Strip& s : strips) damaged = damaged || s.damaged;
    if (damaged) return VexDecompressMemory(codec, params, data, size, pixels, stride);
    return 0;
}

int16_t VexCompressStrips(VexCodec* codec, AppVexParams* params, VexRowRequest rows, VexStreamOutput write,
                          void* context, int threads) {
    uint16_t mcuHeight = 0;
    const bool untiled = params->tileWidth >= params->width && params->tileHeight >= params->height;
    const uint32_t bpp = PixelBytes(*params);
    std::vector<Strip> strips;
    if (params->containerKind == VEX_CONTAINER_JFIF && untiled && bpp != 0)
        strips = CutStreamingStrips(params->height, RowsPerUnit(*params, &mcuHeight), uint64_t(params->width) * bpp,
                                    threads);
    if (strips.empty()) return VEX_ERR_UNSUPPORTED;
    const size_t rowBytes = size_t(params->width) * bpp;
    StripTurns turns(strips.size());
    const Status status = RunStreamingStrips(
        codec, threads, strips, rowBytes, false, turns,
        [&](VexCodec* instance, size_t k, uint8_t* pixels, const uint8_t* const*) -> Status {
            const Strip& s = strips[k];
            if (!turns.WaitInput(k)) return 0;  // another strip failed, which stops all
            std::vector<const uint8_t*> hostRows(s.rows);
            Status result = rows(context, s.firstRow, s.rows, hostRows.data());
            for (uint32_t r = 0; result == 0 && r < s.rows; ++r) std::memcpy(pixels + r * rowBytes, hostRows[r], rowBytes);
            turns.PassInput();
            AppVexParams p = StripParams(*params, s);
            // The first strip carries the header; the others are bare data.
            if (k != 0) p.containerKind = VEX_CONTAINER_RAW;
            uint8_t* out = nullptr;
            size_t outSize = 0;
            if (result == 0) result = VexCompressMemory(instance, &p, pixels, ptrdiff_t(rowBytes), &out, &outSize);
            if (result == 0 && k == 0) {
                // Its frame header states the whole picture's height, and its
                // EOI goes after the last strip.
                const size_t frame = FrameHeader(out, outSize);
                if (frame == 0 || outSize < 2) {
                    result = VEX_ERR_IO_REQUEST;
                } else {
                    out[frame + 5] = uint8_t(params->height >> 8);
                    out[frame + 6] = uint8_t(params->height);
                    outSize -= 2;
                }
            }
            if (result == 0 && turns.WaitOutput(k)) {
                result = write(context, out, outSize);
                turns.PassOutput();
            }
            VexFree(out);
            return result;
        });
    if (status != 0) return status;
    const uint8_t eoi[2] = {0xFF, 0xD9};
    return write(context, eoi, sizeof eoi);
}

int16_t VexDecompressStrips(VexCodec* codec, AppVexParams* params, const uint8_t* data, size_t size,
                            VexRowDelivery deliver, void* context, int threads) {
    uint16_t mcuHeight = 0, mcuWidth = 0;
    const bool whole = params->windowLeft == 0 && params->windowTop == 0 && params->windowRight >= params->width - 1 &&
                       params->windowBottom >= params->height - 1;
    const uint32_t bpp = PixelBytes(*params);
    const size_t scan = ScanData(data, size);
    const size_t frame = scan != 0 ? FrameHeader(data, scan) : 0;
    std::vector<Strip> strips;
    if (params->containerKind == VEX_CONTAINER_JFIF && whole && frame != 0 && bpp != 0 &&
        q32vex::GetMcuDims(params->colorSpace, &params->sampling, &mcuWidth, &mcuHeight) == 0)
        strips = CutStreamingStrips(params->height, RowsPerUnit(*params, &mcuHeight), uint64_t(params->width) * bpp,
                                    threads);
    const uint32_t mcusPerRow = mcuWidth == 0 ? 0 : (uint32_t(params->width) + mcuWidth - 1) / mcuWidth;
    if (strips.empty() || !FindStripData(data, size, scan, mcuHeight, params->restartInterval, mcusPerRow, strips))
        return VEX_ERR_UNSUPPORTED;
    // Strips already handed to the host cannot be decoded again on one
    // thread, as the in-memory form does with a damaged stream: a stream
    // whose end or whose markers between strips are not as they should be
    // is left to the band-by-band path, and damage inside a strip is
    // reported as one thread reports it, since each strip resynchronises at
    // its first marker exactly as one thread would.
    if (size < 2 || data[size - 2] != 0xFF || data[size - 1] != 0xD9) return VEX_ERR_UNSUPPORTED;
    for (size_t k = 1; k < strips.size(); ++k)
        if (strips[k].data[-1] != 0xD7) return VEX_ERR_UNSUPPORTED;
    std::vector<VexDecodeReport> reports(strips.size(), VexDecodeReport{});
    const size_t rowBytes = size_t(params->width) * bpp;
    StripTurns turns(strips.size());
    // Cleared, so that padding bytes the decoder leaves reach the host as 0.
    const Status status = RunStreamingStrips(
        codec, threads, strips, rowBytes, true, turns,
        [&](VexCodec* instance, size_t k, uint8_t* pixels, const uint8_t* const* rows) -> Status {
            const Strip& s = strips[k];
            uint8_t* stream = StripStream(data, scan, frame, s);
            AppVexParams p = StripParams(*params, s);
            Status result = stream == nullptr
                                ? VEX_ERR_NO_MEMORY
                                : VexDecompressMemory(instance, &p, stream, scan + s.size + 2, pixels, ptrdiff_t(rowBytes));
            std::free(stream);
            if (result == 0) result = VexCodecDecodeReport(instance, &reports[k]);
            if (result == 0 && turns.WaitOutput(k)) {
                result = deliver(context, s.firstRow, s.rows, rows);
                turns.PassOutput();
            }
            return result;
        });
    if (status != 0) return status;
    // Every strip read the header, and counted the bytes skipped there; one
    // thread counts them once.
    uint32_t headerSkipped = 0;
    for (size_t k = 1; k < strips.size(); ++k) {
        if (reports[k].skippedBytes == 0) continue;
        VexCodec* probe = q32vex::CreateHelperInstance(codec);
        AppVexParams header = *params;
        VexDecodeReport report{};
        if (probe != nullptr && VexReadInfoMemory(probe, &header, data, scan) == 0 &&
            VexCodecDecodeReport(probe, &report) == 0)
            headerSkipped = report.skippedBytes;
        VexCodecDestroy(probe);
        break;
    }
    for (size_t k = 1; k < strips.size(); ++k) {
        reports[k].skippedBytes -= std::min(reports[k].skippedBytes, headerSkipped);
        q32vex::AddStripReport(codec, reports[k], strips[k].firstRow / mcuHeight * mcusPerRow);
    }
    return 0;
}

}  // extern "C"
