// Bare entropy-coded data decoded with fuzzed geometry, sampling, restart
// interval, tiles and quantisation and Huffman tables.
#include "fuzz_entry.h"
#include "raw_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunRawEntropy(data, size));
    return 0;
}
