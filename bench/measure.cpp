// Timing and memory figures of the runners. The runners of a case take turns
// rep by rep, so that a slow patch of a shared machine hits them all alike.
#include "measure.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/allocator.h"
#include "q32vex.h"

namespace vexbench {
namespace {

Memory MeasureMemory(const std::function<bool()>& run, bool ours) {
    Memory m;
    if (ours) AppVexDeallocate();  // so that the run builds its tables again
    malloc_trim(0);
    const bool reset = ResetPeakRss();
    const long before = StatusKb("VmRSS:");
    q32vex::ResetPeakBytes();
    const int64_t liveBefore = q32vex::GetAllocatorStats().liveBytes;
    if (!run()) return m;
    if (reset && before >= 0) m.rssGrowthKb = std::max(0L, StatusKb("VmHWM:") - before);
    if (ours) m.libraryPeak = q32vex::GetAllocatorStats().peakBytes - liveBefore;
    return m;
}

}  // namespace

double EstimateClockHz() {
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        constexpr uint64_t kSteps = 200000000;
        uint64_t x = 0;
        const double t0 = Now();
        for (uint64_t i = 0; i < kSteps; ++i) {
            x += 1;
#if defined(__GNUC__)
            asm volatile("" : "+r"(x));  // keeps every addition, one after the other
#endif
        }
        const double seconds = Now() - t0;
        if (x == kSteps && seconds > 0) best = std::max(best, double(kSteps) / seconds);
    }
    return best;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

long StatusKb(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line)) {
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
    }
    return -1;
}

bool ResetPeakRss() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

bool Measure(std::vector<Runner>& runners, const Settings& s) {
    for (Runner& r : runners) {  // warm-up, and the memory figures
        r.memory = MeasureMemory(r.run, r.ours);
        if (r.memory.rssGrowthKb < 0 && !r.run()) {
            std::fprintf(stderr, "vexbench: %s failed\n", r.name.c_str());
            return false;
        }
    }
    int reps = s.reps;
    if (reps == 0) {
        double slowest = 0;
        for (Runner& r : runners) {
            const double t0 = Now();
            if (!r.run()) return false;
            slowest = std::max(slowest, Now() - t0);
        }
        reps = int(std::ceil(s.minTime / std::max(slowest, 1e-6)));
        reps = std::clamp(reps, 5, 41) | 1;
    }
    if (s.smoke) reps = 1;
    for (int rep = 0; rep < reps; ++rep) {
        for (Runner& r : runners) {
            const double t0 = Now();
            if (!r.run()) {
                std::fprintf(stderr, "vexbench: %s failed\n", r.name.c_str());
                return false;
            }
            r.times.push_back(Now() - t0);
        }
    }
    return true;
}

}  // namespace vexbench
