// Sequential frames beyond the legacy reader on a codec instance with
// VEX_OPTION_EXTENDED_FRAMES: several scans per frame, SOF1 with four tables
// of each class, DNL, fill and junk bytes; flag bit 1 adds
// VEX_OPTION_PROGRESSIVE. Input layout and checks in instance_driver.h.
#include "fuzz_entry.h"
#include "instance_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(vexfuzz::RunInstanceDecode(data, size, {VEX_OPTION_EXTENDED_FRAMES}, VEX_OPTION_PROGRESSIVE));
    return 0;
}
