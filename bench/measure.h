// Measurement: wall-clock medians of interleaved repeats, and the memory one
// run takes (the process's peak resident growth and this library's allocator
// peak).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "settings.h"

namespace vexbench {

double Now();
// The processor's clock in Hz, estimated from a chain of dependent additions
// (one a cycle), for figures in cycles.
double EstimateClockHz();
double Median(std::vector<double> v);
// A "Vm...:" field of /proc/self/status in KiB, -1 when absent.
long StatusKb(const char* field);
// Resets the process's peak resident size to the current one (Linux 4.0+).
bool ResetPeakRss();

struct Memory {
    long rssGrowthKb = -1;  // peak resident size during one run minus before it
    int64_t libraryPeak = -1;  // this library's allocator peak during the run
};

struct Runner {
    Runner(std::string n, std::function<bool()> f, bool o) : name(std::move(n)), run(std::move(f)), ours(o) {}
    std::string name;
    std::function<bool()> run;
    bool ours;
    std::vector<double> times;
    Memory memory;
};

// Interleaves the runners rep by rep; every failure is fatal to the case.
bool Measure(std::vector<Runner>& runners, const Settings& s);

}  // namespace vexbench
