// TIFF-JPEG decoding: directory, tables and tile arrays from the file, then a
// full decode that seeks from tile to tile, with the host's choices taken from
// the first bytes of the input.
#include "decode_driver.h"
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::OptionReader in(data, size);
    const vexfuzz::DecodeOptions options = vexfuzz::ReadDecodeOptions(in);
    vexfuzz::Report(vexfuzz::DecodeStream(in.Rest(), in.RestSize(), VEX_CONTAINER_TIFF, options));
    return 0;
}
