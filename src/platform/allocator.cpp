// Counting, zero-filling allocator. Every block carries a small header with
// its size so that the live byte count stays exact when blocks are freed.
#include "platform/allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace q32vex {
namespace {

struct alignas(16) BlockHeader {
    uint64_t size;
    uint64_t magic;
};
constexpr uint64_t kMagic = 0x51333256455821ull;

std::atomic<int64_t> liveBlocks{0};
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};
std::atomic<int64_t> totalAllocations{0};
std::atomic<int64_t> failCountdown{0};

}  // namespace

void* LibAlloc(uint32_t n) {
    ++totalAllocations;
    if (failCountdown.load() > 0 && --failCountdown == 0) return nullptr;
    const uint64_t size = uint64_t(n) + 4;
    void* raw = std::calloc(1, sizeof(BlockHeader) + size);
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    header->size = size;
    header->magic = kMagic;
    ++liveBlocks;
    const int64_t now = liveBytes += int64_t(size);
    int64_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return header + 1;
}

void LibFree(void* block) {
    if (block == nullptr) return;
    auto* header = static_cast<BlockHeader*>(block) - 1;
    if (header->magic != kMagic) std::abort();  // not ours, or freed twice
    header->magic = 0;
    --liveBlocks;
    liveBytes -= int64_t(header->size);
    std::free(header);
}

void AdviseLargePages(void* block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (begin + bytes) & ~(kLargePage - 1);
    // Only advice: where the system has no large pages to give, nothing
    // changes.
    if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

AllocatorStats GetAllocatorStats() {
    return {liveBlocks.load(), liveBytes.load(), totalAllocations.load(), peakBytes.load()};
}

void FailAllocationAfter(int64_t n) { failCountdown = n; }

void ResetPeakBytes() { peakBytes = liveBytes.load(); }

}  // namespace q32vex
