// One picture on several cores. A JFIF stream with restart markers falls
// into intervals that start byte-aligned with fresh DC predictors, so strips
// of the picture made of whole intervals can be coded on instances of their
// own and their bytes joined, and the intervals of a stream can be decoded
// apart. Strips hold a multiple of eight intervals, so that the restart
// markers inside each strip carry the numbers they have in the whole stream.
// The bytes and pixels are exactly those of one thread.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#if !defined(_WIN32)
#include <thread>
#endif

#include "interface/codec.h"
#include "common/format.h"
#include "q32vex_codec.h"

namespace {

using q32vex::Status;

struct Strip {
    uint32_t firstRow = 0;
    uint32_t rows = 0;
    const uint8_t* data = nullptr;  // decoding: the strip's entropy-coded bytes
    size_t size = 0;
    uint8_t* out = nullptr;  // encoding: what the strip's instance wrote
    size_t outSize = 0;
    Status status = 0;
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

}  // namespace

extern "C" {

int16_t VexCompressMemoryThreads(VexCodec* codec, AppVexParams* params, const uint8_t* pixels, ptrdiff_t stride,
                                 int threads, uint8_t** out, size_t* outSize) {
    uint16_t mcuHeight = 0;
    const bool untiled = params->tileWidth >= params->width && params->tileHeight >= params->height;
    std::vector<Strip> strips;
    if (params->containerKind == VEX_CONTAINER_JFIF && untiled)
        strips = CutStrips(params->height, RowsPerUnit(*params, &mcuHeight), threads);
    if (strips.empty()) return VexCompressMemory(codec, params, pixels, stride, out, outSize);

    *out = nullptr;
    *outSize = 0;
    RunAll(strips, [&](Strip& s) {
        AppVexParams p = *params;
        p.height = uint16_t(s.rows);
        p.tileHeight = std::min(p.tileHeight, p.height);
        // The first strip carries the header; the others are bare data.
        if (s.firstRow != 0) p.containerKind = VEX_CONTAINER_RAW;
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
    if (params->containerKind == VEX_CONTAINER_JFIF && whole && scan != 0 &&
        q32vex::GetMcuDims(params->colorSpace, &params->sampling, &mcuWidth, &mcuHeight) == 0)
        strips = CutStrips(params->height, RowsPerUnit(*params, &mcuHeight), threads);
    const uint32_t mcusPerRow = mcuWidth == 0 ? 0 : (uint32_t(params->width) + mcuWidth - 1) / mcuWidth;
    if (strips.empty() ||
        !FindStripData(data, size, scan, mcuHeight, params->restartInterval, mcusPerRow, strips))
        return VexDecompressMemory(codec, params, data, size, pixels, stride);

    const size_t frame = FrameHeader(data, scan);
    if (frame == 0) return VexDecompressMemory(codec, params, data, size, pixels, stride);
    RunAll(strips, [&](Strip& s) {
        // Each strip becomes a stream of its own: the header, with the
        // strip's height in its frame header, the strip's intervals, EOI.
        const size_t length = scan + s.size + 2;
        auto* stream = static_cast<uint8_t*>(std::malloc(length));
        VexCodec* own = s.firstRow == 0 ? codec : q32vex::CreateHelperInstance(codec);
        if (stream == nullptr || own == nullptr) {
            s.status = VEX_ERR_NO_MEMORY;
        } else {
            std::memcpy(stream, data, scan);
            std::memcpy(stream + scan, s.data, s.size);
            stream[length - 2] = 0xFF;
            stream[length - 1] = 0xD9;
            stream[frame + 5] = uint8_t(s.rows >> 8);
            stream[frame + 6] = uint8_t(s.rows);
            AppVexParams p = *params;
            p.height = uint16_t(s.rows);
            s.status = VexDecompressMemory(own, &p, stream, length, pixels + ptrdiff_t(s.firstRow) * stride, stride);
        }
        std::free(stream);
        if (own != codec) VexCodecDestroy(own);
    });
    for (const Strip& s : strips)
        if (s.status != 0) return s.status;
    return 0;
}

}  // extern "C"
