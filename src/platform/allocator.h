// Zero-filling allocator behind LibAlloc/LibFree. It counts live blocks and
// bytes so that tests can prove a sequence leaks nothing, and can be told to
// fail a chosen allocation so that tests can exercise every out-of-memory path.
#pragma once
#include <cstddef>
#include <cstdint>

namespace q32vex {

// n + 4 bytes, zero-filled, or null.
void* LibAlloc(uint32_t n);
void LibFree(void* block);

// Asks the system to back the part of a LibAlloc'd block that spans whole
// large pages with large pages (Linux transparent huge pages; nothing
// elsewhere). A block of many megabytes that is written once all over, such
// as a coefficient store, then takes hundreds of times fewer page faults.
void AdviseLargePages(void* block, size_t bytes);

struct AllocatorStats {
    int64_t liveBlocks;
    int64_t liveBytes;
    int64_t totalAllocations;  // successful and failed, since load
    int64_t peakBytes;
};

// Test and diagnostics hooks; not part of the public interface.
AllocatorStats GetAllocatorStats();
// Make the allocation with this 1-based number (counted from this call) fail;
// 0 disables the fault.
void FailAllocationAfter(int64_t n);
void ResetPeakBytes();

}  // namespace q32vex
