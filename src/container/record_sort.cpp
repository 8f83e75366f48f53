// The record sort: a quicksort with a median-of-three pivot down to small
// partitions, then one insertion sort over the whole array.
//
// The reader visits deferred records in the order this sort leaves them, and
// that order is the order of the read requests the host sees. Records at
// equal offsets (components sharing a table, say) come out in whatever order
// this exact sequence of comparisons and swaps gives: it is not the input
// order, so a stable sort (std::stable_sort included) on the same key would
// change which request comes first. The algorithm is kept as it is, step for
// step, for that reason.
#include "container/record_sort.h"

#include <cstdint>

namespace q32vex {
namespace {

// The records one sort works on, with their size and comparison.
struct SortState {
    size_t recordSize;
    CompareFn compare;
    uint8_t* base;
};

uint8_t* Record(const SortState& sorting, size_t i) { return sorting.base + i * sorting.recordSize; }
int Compare(const SortState& sorting, size_t i, size_t j) {
    return sorting.compare(Record(sorting, i), Record(sorting, j));
}
void Swap(const SortState& sorting, size_t i, size_t j) {
    if (i == j) return;
    uint8_t* a = Record(sorting, i);
    uint8_t* b = Record(sorting, j);
    for (size_t k = 0; k < sorting.recordSize; ++k) {
        const uint8_t t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

// Partitions below this size are left to the insertion sort.
constexpr size_t kSmallPartition = 6;

// Quicksort passes with a median-of-three pivot over [lo, hi]; recursion on
// the smaller side keeps the stack shallow. Every scan is bounded, so even an
// inconsistent comparison stays inside the array.
void Partition(const SortState& sorting, size_t lo, size_t hi) {
    while (hi - lo + 1 >= kSmallPartition) {
        const size_t mid = lo + (hi - lo) / 2;
        if (Compare(sorting, mid, lo) < 0) Swap(sorting, mid, lo);
        if (Compare(sorting, hi, lo) < 0) Swap(sorting, hi, lo);
        if (Compare(sorting, hi, mid) < 0) Swap(sorting, hi, mid);
        const size_t pivot = hi - 1;
        Swap(sorting, mid, pivot);
        size_t i = lo;
        size_t j = pivot;
        for (;;) {
            do ++i; while (i < pivot && Compare(sorting, i, pivot) < 0);
            do --j; while (j > lo && Compare(sorting, j, pivot) > 0);
            if (i >= j) break;
            Swap(sorting, i, j);
        }
        Swap(sorting, i, pivot);
        if (i - lo < hi - i) {
            if (i > lo + 1) Partition(sorting, lo, i - 1);
            lo = i + 1;
        } else {
            if (hi > i + 1) Partition(sorting, i + 1, hi);
            hi = i - 1;
        }
        if (hi < lo) return;
    }
}

}  // namespace

void SortEntries(void* records, size_t count, size_t recordSize, CompareFn compare) {
    if (count < 2) return;
    const SortState sorting = {recordSize, compare, static_cast<uint8_t*>(records)};
    if (count >= 4) Partition(sorting, 0, count - 1);
    // Every partition step keeps the smallest record in its left part, so it
    // ends up among the first kSmallPartition - 1 records: moved to the front
    // it stops the insertion sort's backward scans.
    const size_t head = count < kSmallPartition - 1 ? count : kSmallPartition - 1;
    size_t smallest = 0;
    for (size_t i = 1; i < head; ++i) {
        if (Compare(sorting, i, smallest) < 0) smallest = i;
    }
    Swap(sorting, 0, smallest);
    for (size_t i = 2; i < count; ++i) {
        for (size_t j = i; j > 1 && Compare(sorting, j - 1, j) > 0; --j) Swap(sorting, j - 1, j);
    }
}

}  // namespace q32vex
