// The derived-table cache. Each kind keeps up to four distinct source tables
// with their compression and decompression forms, so equal tables are derived
// once and survive from one sequence (and direction) to the next. The forms
// themselves come from derived_tables_encode.cpp and derived_tables_decode.cpp.
#include "common/derived_tables.h"

#include <cstring>

#include "common/derived_table_builders.h"
#include "common/huffman_table_checks.h"
#include "common/tables.h"
#include "platform/allocator.h"

namespace q32vex {
namespace {

constexpr uint16_t kSourceSize[3] = {kQuantTableBytes, kDcSpecBytes, kAcSpecBytes};
constexpr int kMaxSlots = 4;

// The derived table of one direction; BuildDerivedTables has checked both
// the kind and the direction.
Status BuildTable(uint16_t direction, int16_t kind, const uint8_t* source, void** out) {
    return direction == kCompress ? BuildEncodeTable(kind, source, out) : BuildDecodeTable(kind, source, out);
}

void FreeSlot(uint8_t* source, void* const derived[2]) {
    LibFree(source);
    LibFree(derived[0]);
    LibFree(derived[1]);
}

}  // namespace

Status BuildDerivedTables(DerivedTableCache& caches, uint16_t direction, int16_t kind,
                          const uint8_t* const tables[4], uint16_t componentCount) {
    if (kind < kQuantTable || kind > kAcTable) return VEX_ERR_TABLE_KIND;
    // The cache has one column per direction; there is nothing to build for
    // any other value.
    if (direction != kCompress && direction != kDecompress) return VEX_ERR_TABLE_KIND;
    TableCache& cache = caches.kinds[kind];
    cache.sourceSize = kSourceSize[kind];
    const int d = direction == kCompress ? 0 : 1;
    const int n = componentCount <= kMaxSlots ? componentCount : kMaxSlots;
    const int cached = cache.slotCount <= kMaxSlots ? cache.slotCount : kMaxSlots;

    // The sequence's tables, then the cached copies: numbering the joint list
    // finds for every new table the first equal one, cached or not.
    const uint8_t* list[2 * kMaxSlots] = {};
    uint16_t number[2 * kMaxSlots] = {};
    for (int i = 0; i < n; ++i) {
        // The opens check the tables of the colour space's components; a
        // sampling with more components than that (bare four-component data
        // described as colour space 0) reaches here with no table for the
        // extra one. Refused with the kind's table code rather than read
        // through a null pointer.
        if (tables[i] == nullptr) return kTableError[kind];
        list[i] = tables[i];
    }
    for (int j = 0; j < cached; ++j) list[n + j] = cache.sourceCopy[j];
    uint16_t count = uint16_t(n + cached);
    Q_TRY(NumberTables(&count, kind, list, number));
    // Every new Huffman table is checked before the cache changes, so that a
    // bad table leaves the cache as it was.
    if (kind != kQuantTable) {
        for (int i = 0; i < n; ++i) {
            if (number[i] == i) Q_TRY(CheckHuffmanSpec(direction, kind, tables[i]));
        }
    }

    uint8_t* oldSource[kMaxSlots] = {};
    void* oldDerived[kMaxSlots][2] = {};
    for (int j = 0; j < cached; ++j) {
        oldSource[j] = cache.sourceCopy[j];
        oldDerived[j][0] = cache.derived[j][0];
        oldDerived[j][1] = cache.derived[j][1];
    }
    std::memset(cache.sourceCopy, 0, sizeof(cache.sourceCopy));
    std::memset(cache.derived, 0, sizeof(cache.derived));
    cache.slotCount = 0;

    // Cached tables that no component of this sequence uses are dropped.
    for (int j = 0; j < cached; ++j) {
        if (number[n + j] >= n) {
            FreeSlot(oldSource[j], oldDerived[j]);
            oldSource[j] = nullptr;
        }
    }

    // On a failure the slots completed so far stay cached; cached slots that
    // a later component would have taken over are released.
    auto releaseUntaken = [&]() {
        for (int j = 0; j < cached; ++j) {
            if (oldSource[j] != nullptr) FreeSlot(oldSource[j], oldDerived[j]);
        }
    };

    uint16_t slotOf[kMaxSlots] = {};
    uint16_t newCount = 0;
    for (int i = 0; i < n; ++i) {
        if (number[i] == i) {
            int taken = -1;
            for (int j = 0; j < cached; ++j) {
                if (oldSource[j] != nullptr && number[n + j] == i) {
                    taken = j;
                    break;
                }
            }
            if (taken >= 0) {
                cache.sourceCopy[newCount] = oldSource[taken];
                cache.derived[newCount][0] = oldDerived[taken][0];
                cache.derived[newCount][1] = oldDerived[taken][1];
                oldSource[taken] = nullptr;
                if (cache.derived[newCount][d] == nullptr) {
                    void* built = nullptr;
                    const Status status =
                        BuildTable(direction, kind, cache.sourceCopy[newCount], &built);
                    if (status != 0) {
                        FreeSlot(cache.sourceCopy[newCount], cache.derived[newCount]);
                        cache.sourceCopy[newCount] = nullptr;
                        cache.derived[newCount][0] = cache.derived[newCount][1] = nullptr;
                        releaseUntaken();
                        return status;
                    }
                    cache.derived[newCount][d] = built;
                }
            } else {
                auto* copy = static_cast<uint8_t*>(LibAlloc(cache.sourceSize));
                if (copy == nullptr) {
                    releaseUntaken();
                    return VEX_ERR_NO_MEMORY;
                }
                // Only the bytes that take part are copied: a host table may
                // be shorter than the slot size.
                uint16_t size = 0;
                Status status = GetTableSize(kind, tables[i], &size);
                if (status == 0) {
                    std::memcpy(copy, tables[i], size);
                    void* built = nullptr;
                    status = BuildTable(direction, kind, copy, &built);
                    cache.derived[newCount][d] = built;
                }
                if (status != 0) {
                    LibFree(copy);
                    releaseUntaken();
                    return status;
                }
                cache.sourceCopy[newCount] = copy;
            }
            slotOf[i] = newCount;
            ++newCount;
            cache.slotCount = newCount;
        }
        cache.componentSlot[i] = slotOf[number[i]];
    }
    cache.slotCount = newCount;
    return 0;
}

void ReleaseDerivedTables(DerivedTableCache& caches) {
    for (TableCache& cache : caches.kinds) {
        const int cached = cache.slotCount <= kMaxSlots ? cache.slotCount : kMaxSlots;
        for (int j = 0; j < cached; ++j) {
            LibFree(cache.sourceCopy[j]);
            LibFree(cache.derived[j][0]);
            LibFree(cache.derived[j][1]);
            cache.sourceCopy[j] = nullptr;
            cache.derived[j][0] = cache.derived[j][1] = nullptr;
        }
        cache.slotCount = 0;
    }
}

namespace {

const void* Derived(const DerivedTableCache& caches, int kind, int component, int d) {
    const TableCache& cache = caches.kinds[kind];
    return cache.derived[cache.componentSlot[component]][d];
}

}  // namespace

const EncQuantTable* EncQuant(const DerivedTableCache& cache, int component) {
    return static_cast<const EncQuantTable*>(Derived(cache, kQuantTable, component, 0));
}
const HuffEncDc* EncDc(const DerivedTableCache& cache, int component) {
    return static_cast<const HuffEncDc*>(Derived(cache, kDcTable, component, 0));
}
const HuffEncAc* EncAc(const DerivedTableCache& cache, int component) {
    return static_cast<const HuffEncAc*>(Derived(cache, kAcTable, component, 0));
}
const DecQuantTable* DecQuant(const DerivedTableCache& cache, int component) {
    return static_cast<const DecQuantTable*>(Derived(cache, kQuantTable, component, 1));
}
const uint16_t* DecDc(const DerivedTableCache& cache, int component) {
    return static_cast<const uint16_t*>(Derived(cache, kDcTable, component, 1));
}
const uint16_t* DecAc(const DerivedTableCache& cache, int component) {
    return static_cast<const uint16_t*>(Derived(cache, kAcTable, component, 1));
}

}  // namespace q32vex
