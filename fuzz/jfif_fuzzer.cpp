// JFIF decoding: header read, open and a full band-by-band decode, with the
// pixel format, band request or budget, decode window, input chunk size and
// end-of-data style taken from the first bytes of the input.
#include "decode_driver.h"
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::OptionReader in(data, size);
    const vexfuzz::DecodeOptions options = vexfuzz::ReadDecodeOptions(in);
    vexfuzz::Report(vexfuzz::DecodeStream(in.Rest(), in.RestSize(), VEX_CONTAINER_JFIF, options));
    return 0;
}
