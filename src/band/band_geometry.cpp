// Band geometry: how big a host band is, how bands lie against tiles, how wide
// one engine pass is, and the walk of units and bands over the padded image.
// Sizes are 16-bit, but every product is formed in 64 bits so that a budget
// against a 65535 x 65535 image neither wraps nor divides by zero.
#include "band/band_geometry.h"

#include <cstdint>

#include "common/tile_arrays.h"

namespace q32vex {
namespace {

constexpr uint32_t kMaxBandRowBytes = 65536;

uint32_t RoundUp(uint32_t value, uint32_t step) { return (value + step - 1) / step * step; }

// Bytes of a host row of `pixels` pixels.
int64_t RowBytes(const BandConfig& p, uint32_t pixels) {
    return (int64_t(pixels) * p.bitsPerPixel + 7) / 8;
}

// The band size from a memory budget. Comparisons are signed, so a negative
// budget is simply too small.
Status BandFromBudget(BandConfig& p, BandGeometry& b, uint16_t minBandWidth, uint16_t minBandHeight) {
    const int64_t budget = p.bandMemory;
    const uint16_t mcuW = p.mcuWidth;
    const uint16_t mcuH = p.mcuHeight;
    if (budget == 0) return VEX_ERR_BAND;

    const int64_t tileRowBytes = RowBytes(p, p.tileWidth);
    const int64_t tileBytes = tileRowBytes * p.tileHeight;
    if (budget < tileBytes) {
        if (budget < RowBytes(p, minBandWidth) * minBandHeight) return VEX_ERR_BAND;
        if (budget < minBandHeight * tileRowBytes) {
            // Not even one MCU row of a tile: a piece of an MCU row.
            b.bandMode = BandMode::kPieceOfRow;
            p.bandHeight = minBandHeight;
            p.bandWidth = uint16_t(budget / (RowBytes(p, mcuW) * minBandHeight) * mcuW);
        } else {
            b.bandMode = BandMode::kTileWide;
            p.bandWidth = p.tileWidth;
            p.bandHeight = uint16_t(budget / (tileRowBytes * mcuH) * mcuH);
        }
        return 0;
    }
    const int64_t imageRowBytes = RowBytes(p, p.width);
    if (budget >= imageRowBytes * p.height) {
        b.bandMode = BandMode::kFullWidth;
        p.bandWidth = p.width;
        p.bandHeight = p.height;
    } else if (budget >= imageRowBytes * p.tileHeight) {
        b.bandMode = BandMode::kFullWidth;
        p.bandWidth = p.width;
        p.bandHeight = uint16_t(budget / (imageRowBytes * p.tileHeight) * p.tileHeight);
    } else {
        b.bandMode = BandMode::kTileRow;
        p.bandHeight = p.tileHeight;
        p.bandWidth = uint16_t(budget / tileBytes * p.tileWidth);
    }
    return 0;
}

// The band size the host asked for, snapped to the mode it falls in.
void BandFromRequest(BandConfig& p, BandGeometry& b, uint16_t minBandHeight) {
    const uint16_t mcuW = p.mcuWidth;
    const uint16_t mcuH = p.mcuHeight;
    p.bandMemory = 0;
    if (p.bandWidth < p.tileWidth) {
        b.bandMode = BandMode::kPieceOfRow;
        p.bandHeight = minBandHeight;
        p.bandWidth = uint16_t(p.bandWidth - p.bandWidth % mcuW);
    } else if (p.bandHeight < p.tileHeight) {
        b.bandMode = BandMode::kTileWide;
        p.bandWidth = p.tileWidth;
        p.bandHeight = uint16_t(p.bandHeight - p.bandHeight % mcuH);
    } else if (p.bandWidth < p.width) {
        b.bandMode = BandMode::kTileRow;
        p.bandHeight = p.tileHeight;
        p.bandWidth = uint16_t(p.bandWidth - p.bandWidth % p.tileWidth);
    } else {
        b.bandMode = BandMode::kFullWidth;
        p.bandWidth = p.width;
        if (p.bandHeight < p.height) {
            p.bandHeight = uint16_t(p.bandHeight - p.bandHeight % p.tileHeight);
        } else {
            p.bandHeight = p.height;
        }
    }
}

// A band narrower than a tile, chosen from a budget: pick the pass width d
// (MCUs, a divisor of the tile's MCU count) and narrow the band to a multiple
// of it, minimising passes per tile MCU row times the square of bands per
// tile row. The cost is 64-bit: a one-MCU band over a very wide tile exceeds
// 32 bits.
void NarrowBandPassWidth(BandConfig& p, BandGeometry& b) {
    const uint16_t mcuW = p.mcuWidth;
    const uint32_t maxWidth = p.maxWidth;
    const uint32_t nT = b.paddedTileWidth / mcuW;
    const uint32_t nB = p.bandWidth / mcuW;
    uint64_t best = UINT64_MAX;
    uint32_t bestBandMcus = nB;
    uint32_t bestPassMcus = 1;
    for (uint32_t i = 1; i * i <= nT; ++i) {
        if (nT % i != 0) continue;
        const uint32_t candidates[2] = {nT / i, i};
        for (uint32_t d : candidates) {
            if (uint64_t(d) * mcuW > maxWidth || d > nB) continue;
            const uint32_t m = nB - nB % d;
            const uint64_t c = (nT + m - 1) / m;
            const uint64_t cost = uint64_t(nT / d) * c * c;
            if (cost < best) {
                best = cost;
                bestPassMcus = d;
                bestBandMcus = m;
            }
        }
    }
    b.passWidth = uint16_t(bestPassMcus * mcuW);
    p.bandWidth = uint16_t(bestBandMcus * mcuW);
}

// Every other case: the largest divisor of the unit's MCU count that also
// divides the tile's and fits maxWidth, found from the small divisors upward.
void DivisorPassWidth(const BandConfig& p, BandGeometry& b) {
    const uint16_t mcuW = p.mcuWidth;
    const uint32_t maxWidth = p.maxWidth;
    const uint32_t n = (b.bandMode == BandMode::kPieceOfRow ? p.bandWidth : b.paddedTileWidth) / mcuW;
    const uint32_t nT = b.paddedTileWidth / mcuW;
    const uint32_t maxMcus = maxWidth / mcuW;
    uint32_t passMcus = 1;
    for (uint32_t i = 1; i <= maxMcus; ++i) {
        if (n % i == 0) {
            const uint32_t q = n / i;
            if (nT % q == 0 && q <= maxMcus) {
                passMcus = q;
                break;
            }
            if (nT % i == 0) passMcus = i;
        }
        if ((i + 1) * (i + 1) > n) break;
    }
    b.passWidth = uint16_t(passMcus * mcuW);
}

}  // namespace

Status ChooseBandGeometry(BandConfig* config, BandGeometry* geometry) {
    BandConfig& p = *config;
    BandGeometry& b = *geometry;
    const uint16_t mcuW = p.mcuWidth;
    const uint16_t mcuH = p.mcuHeight;
    if (p.width == 0 || p.height == 0) return VEX_ERR_IMAGE_SIZE;
    // The opens derive these before calling; without them no band can be sized.
    if (mcuW == 0 || mcuH == 0 || p.bitsPerPixel == 0 || p.maxWidth < mcuW) {
        return VEX_ERR_BAND;
    }

    uint32_t paddedTileWidth, paddedTileHeight;
    if (p.tileWidth < p.width) {
        if (p.tileWidth == 0 || p.tileWidth % mcuW != 0) return VEX_ERR_TILE;
        paddedTileWidth = p.tileWidth;
    } else {
        p.tileWidth = p.width;
        paddedTileWidth = RoundUp(p.width, mcuW);
    }
    if (p.tileHeight < p.height) {
        if (p.tileHeight == 0 || p.tileHeight % mcuH != 0) return VEX_ERR_TILE;
        paddedTileHeight = p.tileHeight;
    } else {
        p.tileHeight = p.height;
        paddedTileHeight = RoundUp(p.height, mcuH);
    }
    // Rectangles are 16-bit and inclusive: the padded image must end at 65535
    // at the latest, which rules out only images within an MCU or a tile of
    // the 16-bit limit.
    const uint32_t paddedImageWidth = RoundUp(p.width, paddedTileWidth);
    const uint32_t paddedImageHeight = RoundUp(p.height, paddedTileHeight);
    if (paddedImageWidth > 0xFFFF || paddedImageHeight > 0xFFFF) return VEX_ERR_IMAGE_SIZE;
    b.paddedTileWidth = uint16_t(paddedTileWidth);
    b.paddedTileHeight = uint16_t(paddedTileHeight);

    const uint16_t minBandWidth = p.width < mcuW ? p.width : mcuW;
    const uint16_t minBandHeight = p.height < mcuH ? p.height : mcuH;

    if (p.bandWidth != 0 && p.bandHeight != 0) {
        if (p.bandWidth < minBandWidth || p.bandHeight < minBandHeight) return VEX_ERR_BAND;
        BandFromRequest(p, b, minBandHeight);
    } else {
        Q_TRY(BandFromBudget(p, b, minBandWidth, minBandHeight));
    }
    // A band row must fit the 64 KiB a host row pointer is promised to cover.
    // Trade the width for a budget of as many such rows and choose again; each
    // round gives fewer rows, so this ends.
    while (RowBytes(p, p.bandWidth) > kMaxBandRowBytes) {
        const int64_t budget = int64_t(p.bandHeight) * kMaxBandRowBytes;
        p.bandMemory = budget > INT32_MAX ? INT32_MAX : int32_t(budget);
        p.bandWidth = 0;
        p.bandHeight = 0;
        Q_TRY(BandFromBudget(p, b, minBandWidth, minBandHeight));
    }

    if (b.bandMode == BandMode::kPieceOfRow && p.bandMemory != 0) {
        NarrowBandPassWidth(p, b);
    } else {
        DivisorPassWidth(p, b);
    }

    b.paddedImageWidth = uint16_t(paddedImageWidth);
    b.paddedImageHeight = uint16_t(paddedImageHeight);
    switch (b.bandMode) {
        case BandMode::kPieceOfRow:
            b.unitWidth = p.bandWidth;
            b.bandSpanWidth = p.bandWidth;
            b.bandSpanHeight = mcuH;
            break;
        case BandMode::kTileWide:
            b.unitWidth = b.paddedTileWidth;
            b.bandSpanWidth = b.paddedTileWidth;
            b.bandSpanHeight = p.bandHeight;
            break;
        case BandMode::kTileRow:
            b.unitWidth = b.paddedTileWidth;
            b.bandSpanWidth = p.bandWidth;
            b.bandSpanHeight = b.paddedTileHeight;
            break;
        default:  // BandMode::kFullWidth
            b.unitWidth = b.paddedTileWidth;
            b.bandSpanWidth = b.paddedImageWidth;
            b.bandSpanHeight = p.bandHeight == p.height ? b.paddedImageHeight : p.bandHeight;
            break;
    }
    b.unitRect = Rect16{0, 0, uint16_t(b.unitWidth - 1), uint16_t(mcuH - 1)};
    b.bandRect = Rect16{0, 0, uint16_t(b.bandSpanWidth - 1), uint16_t(b.bandSpanHeight - 1)};
    b.width = p.width;
    b.height = p.height;
    b.mcuHeight = mcuH;
    b.bandWidth = p.bandWidth;
    b.bandHeight = p.bandHeight;
    return 0;
}

int AdvanceUnit(BandGeometry& b) {
    Rect16& u = b.unitRect;
    const uint32_t tileW = b.paddedTileWidth;
    const uint32_t tileH = b.paddedTileHeight;
    const uint32_t unitW = b.unitWidth;
    const uint32_t mcuH = b.mcuHeight;
    const uint32_t x0 = u.x0, y0 = u.y0, x1 = u.x1, y1 = u.y1;

    if ((x1 + 1) % tileW != 0) {
        // Next piece of the same MCU row of the tile; the last one is narrower.
        const uint32_t r = x1 % tileW;
        u.x0 = uint16_t(x1 + 1);
        u.x1 = uint16_t(r + unitW < tileW ? x1 + unitW : x1 + tileW % unitW);
        return kSameTile;
    }
    if ((y1 + 1) % tileH != 0) {
        // Next MCU row of the same tile, from the tile's left edge.
        const uint32_t left = x0 - x0 % tileW;
        u.x0 = uint16_t(left);
        u.x1 = uint16_t(left + unitW - 1);
        u.y0 = uint16_t(y1 + 1);
        u.y1 = uint16_t(y1 + mcuH);
        return kSameTile;
    }
    if (x1 + 1 < b.width) {
        // The tile to the right, from its top.
        const uint32_t top = y0 - y0 % tileH;
        u.x0 = uint16_t(x1 + 1);
        u.x1 = uint16_t(x1 + unitW);
        u.y0 = uint16_t(top);
        u.y1 = uint16_t(top + mcuH - 1);
        return kNewTile;
    }
    if (y1 + 1 < b.height) {
        // The first tile of the next tile row.
        u.x0 = 0;
        u.x1 = uint16_t(unitW - 1);
        u.y0 = uint16_t(y1 + 1);
        u.y1 = uint16_t(y1 + mcuH);
        return kNewTile;
    }
    return kImageDone;
}

void AdvanceBand(BandGeometry& b) {
    const Rect16& u = b.unitRect;
    Rect16& r = b.bandRect;
    const uint32_t x0 = u.x0, y0 = u.y0;
    r.x0 = u.x0;
    r.y0 = u.y0;
    switch (b.bandMode) {
        case BandMode::kPieceOfRow:
            r.x1 = u.x1;
            r.y1 = u.y1;
            break;
        case BandMode::kTileWide: {
            // Stops at the tile's bottom edge.
            const uint32_t into = y0 % b.paddedTileHeight;
            r.x1 = u.x1;
            r.y1 = uint16_t(b.bandHeight + into <= b.paddedTileHeight
                                ? y0 + b.bandHeight - 1
                                : y0 + b.paddedTileHeight - into - 1);
            break;
        }
        case BandMode::kTileRow:
            r.x1 = uint16_t(x0 + b.bandWidth <= b.width ? x0 + b.bandWidth - 1
                                                         : b.paddedImageWidth - 1u);
            r.y1 = uint16_t(y0 + b.paddedTileHeight - 1);
            break;
        default:  // BandMode::kFullWidth
            r.x1 = uint16_t(b.paddedImageWidth - 1u);
            r.y1 = uint16_t(b.bandSpanHeight + y0 <= b.height ? y0 + b.bandSpanHeight - 1
                                                               : b.paddedImageHeight - 1u);
            break;
    }
}

uint32_t TileRunBytes(const TileArrays& t, uint16_t tilesLeft) {
    uint64_t sum = 0;
    if (t.byteCounts != nullptr && t.offsets != nullptr && t.byteCountsCursor != nullptr) {
        const uint32_t current = uint32_t(t.byteCountsCursor - t.byteCounts);
        // Tiles that exist from the current one on: those not yet started, and
        // never past the end of the arrays.
        uint32_t available = tilesLeft;
        if (current >= t.count) {
            available = 0;
        } else if (available > t.count - current) {
            available = t.count - current;
        }
        for (uint32_t looked = 1; looked < available; ++looked) {
            const uint32_t prev = current + looked - 1;
            const uint32_t next = prev + 1;
            // Compared in 64 bits so that a wrapped offset never fakes adjacency.
            if (uint64_t(t.offsets[prev]) + t.byteCounts[prev] != t.offsets[next]) break;
            sum += t.byteCounts[next];
        }
    }
    return sum > UINT32_MAX ? UINT32_MAX : uint32_t(sum);
}

}  // namespace q32vex
