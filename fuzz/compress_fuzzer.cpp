// Compression with fuzzed parameters, tables, header segments, image size and
// output buffer size; whatever the library agrees to write must read back.
#include "compress_driver.h"
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunCompressRoundTrip(data, size));
    return 0;
}
