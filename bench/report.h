// The report: the markdown tables on standard output and the JSON file.
#pragma once
#include <string>

#include "cases.h"

namespace vexbench {

// One number through a printf format.
std::string Fmt(const char* format, double v);

// The cases' table and the geometric means of the whole-image ratios.
void PrintTable(const Bench& bench);
// The scale runs' table; nothing when none ran.
void PrintScale(const Bench& bench);
// Every row and scale run to the settings' JSON path.
void WriteJson(const Bench& bench);

}  // namespace vexbench
