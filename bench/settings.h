// vexbench's command line, parsed in vexbench.cpp.
#pragma once
#include <string>

namespace vexbench {

struct Settings {
    bool smoke = false;
    bool quick = false;
    int reps = 0;          // 0: adaptive
    double minTime = 0.6;  // seconds per runner and case
    std::string json = "out/bench.json";
    bool scale = true;
    bool benchCases = true;
    std::string only;
};

}  // namespace vexbench
