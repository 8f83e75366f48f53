// Entry glue shared by the fuzz targets: a driver returns a description of
// the first broken promise it saw, and a fuzz run stops on it.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vexfuzz {

inline void Report(const std::string& finding) {
    if (finding.empty()) return;
    std::fprintf(stderr, "q32vex fuzz finding: %s\n", finding.c_str());
    std::abort();
}

}  // namespace vexfuzz
