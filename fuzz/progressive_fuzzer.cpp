// Progressive JPEG on a codec instance with VEX_OPTION_PROGRESSIVE; input
// layout and checks in instance_driver.h.
#include "fuzz_entry.h"
#include "instance_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunInstanceDecode(data, size, {VEX_OPTION_PROGRESSIVE}));
    return 0;
}
