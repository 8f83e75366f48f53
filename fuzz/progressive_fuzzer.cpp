// Progressive JPEG on a codec instance with VEX_OPTION_PROGRESSIVE; flag bit
// 1 adds VEX_OPTION_EXTENDED_FRAMES, which reads damaged sequential streams
// as far as they go. Input layout and checks in instance_driver.h.
#include "fuzz_entry.h"
#include "instance_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunInstanceDecode(data, size, {VEX_OPTION_PROGRESSIVE}, VEX_OPTION_EXTENDED_FRAMES));
    return 0;
}
