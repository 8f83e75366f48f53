// Random sequences of every export: opens from edited records over valid and
// damaged streams, band calls, aborts, deallocations and queries in any order;
// each sequence must behave as it would in a freshly loaded library.
#include "fuzz_entry.h"
#include "sequence_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunSequenceProgram(data, size));
    return 0;
}
