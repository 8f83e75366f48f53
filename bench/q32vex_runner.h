// This library's side of the benchmark: in-memory encode and decode through
// the AppVex exports, the whole image as one band or bands sized from a
// budget, and the streaming scale run through a file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bench_image.h"
#include "q32vex.h"

namespace vexbench {

// A case's sampling: 0 4:2:2, 1 4:2:0, 2 4:4:4, 3 grey.
const char* SamplingName(int sampling);

struct Band {
    int bandMemory = 0;  // 0: the whole image as one band
};

// Makes the in-memory sink `capacity` bytes; every encode writes into it.
void ReserveSink(size_t capacity);
// The bytes of the last encode.
std::vector<uint8_t> SinkStream();

// Compresses `image` into the sink; returns the library's status.
int16_t OurEncode(const Image& image, int sampling, int quality, const Band& band);
// Decompresses `stream` into *out (blue-green-red or grey); `bandBuffer` is
// the host's band storage for budgeted runs.
int16_t OurDecode(const uint8_t* stream, uint32_t size, const Band& band, Image* out,
                  std::vector<uint8_t>* bandBuffer);

// Decompresses `stream`, progressive JPEG included, on a codec instance with
// the options beyond the legacy reader on, into *out (as OurDecode).
int16_t OurInstanceDecode(const uint8_t* stream, uint32_t size, Image* out);

struct ScaleResult {
    int width, height;
    std::string sampling;
    double encodeSeconds = 0, decodeSeconds = 0;
    uint64_t streamBytes = 0;
    int64_t libraryPeak = 0;
    long rssBeforeKb = 0, rssPeakKb = 0;
};

// Streams a width x height image generated from `source` through a `budget`
// band budget into the file at `path` and back; time counts library calls
// only. On a decode that delivers the wrong pixel count, *failure says so.
bool RunScale(const Image& source, int width, int height, int sampling, int budget, const std::string& path,
              ScaleResult* result, std::string* failure);

}  // namespace vexbench
