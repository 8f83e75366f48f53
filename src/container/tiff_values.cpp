// The TIFF reader's value stage: each deferred value read where the file
// stores it, in the order the sorted records give.
#include "common/tile_arrays.h"
#include "container/record_sort.h"
#include "container/tiff_reader_state.h"

namespace q32vex {
namespace tiff {
namespace {

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

}  // namespace

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

}  // namespace tiff
}  // namespace q32vex
