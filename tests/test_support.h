// Shared test harness: in-memory hosts for the library's callbacks, a
// fixture that proves nothing leaks, and whole-image compress/decompress
// helpers driven band by band exactly as a host would.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/allocator.h"
#include "q32vex.h"

namespace vextest {

// Output host: buffers of a fixed size, bytes placed at the stream position
// each buffer was handed out for (so patches at earlier positions land).
struct MemorySink {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> buffer;
    uint32_t bufferPos = 0;  // stream position of the buffer handed out
    uint16_t bufferSize = 4096;
    int calls = 0;
    int failAtCall = 0;      // 1-based call number that returns failStatus
    int16_t failStatus = -1;
};
extern MemorySink g_sink;
void ResetSink(uint16_t bufferSize);
int16_t VEXAPI SinkWrite(uint8_t** buffer, int32_t position, uint16_t* size, void* reserved);

// Input host: serves `data` in chunks of at most `chunk` bytes.
struct MemorySource {
    std::vector<uint8_t> data;
    uint32_t pos = 0;
    uint16_t chunk = 65535;
    std::vector<uint8_t> buffer;  // copy handed to the library
    int calls = 0;
    int failAtCall = 0;
    int16_t failStatus = -1;
};
extern MemorySource g_source;
void ResetSource(const std::vector<uint8_t>& data, uint16_t chunk);
int16_t VEXAPI SourceRead(uint8_t** data, int32_t position, uint16_t* count, int16_t* flag);

// Fixture: closes any sequence, releases the library's memory and checks
// that no block is left.
class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override;
};

// A packed host image: rows of width * bytesPerPixel bytes.
struct Image {
    int width = 0, height = 0, bytesPerPixel = 0;
    std::vector<uint8_t> pixels;
    uint8_t* row(int y) { return pixels.data() + size_t(y) * width * bytesPerPixel; }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * width * bytesPerPixel; }
};

// Pixel format descriptors of the library's five formats, by index.
PixelFormatDesc FormatDesc(int index, int16_t* pixelModel = nullptr);
int BytesPerPixel(int formatIndex);
// Sampling descriptor by index 0..6, and the colour space it belongs to.
SamplingDesc SamplingOf(int index, int16_t* colorSpace = nullptr);

// Deterministic synthetic content: smooth gradients plus noise.
Image MakeTestImage(int width, int height, int bytesPerPixel, uint32_t seed);
// Reads a binary PPM (P6) or PGM (P5); BGR order for 3-byte output.
bool LoadPnm(const std::string& path, Image* out, int bytesPerPixel);
std::string DataPath(const std::string& name);

struct CompressOptions {
    uint16_t outputBuffer = 4096;
    uint16_t bandWidth = 0, bandHeight = 0;  // 0,0 with bandMemory 0: whole image
    int32_t bandMemory = 0;
};
// Fills `params` from `base` (width/height/format/sampling set by caller),
// runs a whole compression and returns the status; the stream in *out.
int16_t CompressImage(AppVexParams params, const Image& image, const CompressOptions& opt,
                      std::vector<uint8_t>* out);

struct DecompressOptions {
    uint16_t inputChunk = 65535;
    uint16_t bandWidth = 0, bandHeight = 0;
    int32_t bandMemory = 0;
};
// Reads the header, decodes the window set in `params` (or the whole image)
// into *out with `bytesPerPixel` bytes per pixel.
int16_t DecompressImage(const std::vector<uint8_t>& stream, AppVexParams params,
                        const DecompressOptions& opt, Image* out);

// Peak signal-to-noise ratio over all bytes of two equal-size buffers.
double Psnr(const uint8_t* a, const uint8_t* b, size_t n);

// Runs a command; returns its exit status.
int Run(const std::string& command);
bool HaveTool(const std::string& name);
std::string TempPath(const std::string& name);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes);

}  // namespace vextest
