// Shared test harness: in-memory hosts for the library's callbacks that guard
// every buffer they lend, a fixture that proves nothing leaks, whole-image
// compress/decompress drivers that feed and take bands exactly as a careful
// host does, and the djpeg/cjpeg oracles.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ppm.h"
#include "platform/allocator.h"
#include "platform/cpu.h"
#include "q32vex.h"

namespace vextest {

// The vector SIMD levels this machine can run, lowest first: the x86 levels
// up to the processor's, or NEON on 64-bit ARM; empty where only the scalar
// kernels run. Every test that compares levels takes its list from here.
std::vector<q32vex::SimdLevel> VectorSimdLevels();

// Output host: buffers of `bufferSize` bytes followed by a guard zone that
// must stay untouched; the bytes of each buffer land at the stream position
// it was handed out for (so patches at earlier positions land), and every
// call's position and size is logged.
struct MemorySink {
    struct Call {
        int32_t position;
        uint16_t size;
    };
    std::vector<uint8_t> stream;
    std::vector<uint8_t> buffer;
    uint32_t bufferPos = 0;
    uint16_t bufferSize = 4096;
    int calls = 0;
    int failAtCall = 0;  // 1-based call number that returns failStatus
    int16_t failStatus = -1;
    std::vector<Call> log;
};
extern MemorySink g_sink;
void ResetSink(uint16_t bufferSize);
int16_t VEXAPI SinkWrite(uint8_t** buffer, int32_t position, uint16_t* size, void* reserved);

// Input host: serves `data` in chunks of at most `chunk` bytes, each from a
// fresh copy, flags the end together with the last bytes, and logs the
// position and count of every request.
struct MemorySource {
    std::vector<uint8_t> data;
    uint32_t pos = 0;
    uint16_t chunk = 65535;
    std::vector<uint8_t> buffer;  // copy handed to the library
    std::vector<std::pair<int32_t, uint16_t>> log;
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

// Pixel format descriptors of the library's five formats, by index
// (5-5-5 words, BGR, BGR + pad byte, grey, four channels).
PixelFormatDesc FormatDesc(int index, int16_t* pixelModel = nullptr);
int BytesPerPixel(int formatIndex);
// Sampling descriptor by index 0..6 (4:2:2, 4:2:0, 4:4:4, grey, four
// channels 2x2, four channels 1x1, 4:1:1) and its colour space.
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
    int failWriteAt = 0;                     // write call that fails with kHostStatus
    int abortAfterBands = -1;                // AppVexAbort after this many band calls
    std::vector<BandRect>* bands = nullptr;  // receives the bands asked for
};
// Runs a whole compression of `image` with `params` (size, format, sampling
// set by the caller) and returns the first non-zero status; the stream in
// *out. Each band is copied into a buffer of its own whose rows are followed
// by noise, so reading outside the requested band changes the output; the
// bands must cover the image exactly once.
int16_t CompressImage(AppVexParams params, const Image& image, const CompressOptions& opt, std::vector<uint8_t>* out);

struct DecompressOptions {
    uint16_t inputChunk = 65535;
    uint16_t bandWidth = 0, bandHeight = 0;
    int32_t bandMemory = 0;
    int failReadAt = 0;
    int abortAfterBands = -1;
    std::vector<BandRect>* bands = nullptr;  // receives the reported rectangles
};
// Reads the header (not for bare entropy data, whose description the caller
// sets), then decodes the window set in `params` (or the whole image) into
// *out. Host rows are prefilled with 0xAA and followed by guard bytes and
// guard rows; a byte changed outside the reported rectangle is a failure.
int16_t DecompressImage(const std::vector<uint8_t>& stream, AppVexParams params, const DecompressOptions& opt,
                        Image* out);

// A host's own failure value, for callbacks that fail on purpose.
constexpr int16_t kHostStatus = 1234;

// Peak signal-to-noise ratio over all bytes of two equal-size buffers.
double Psnr(const uint8_t* a, const uint8_t* b, size_t n);

// Decoded pictures as PPM/PGM files hold them: RGB triples or grey bytes.
using Pnm = vexppm::Pnm;
using vexppm::ReadPnm;
bool WritePnm(const std::string& path, const Pnm& image);
Pnm Crop(const Pnm& image, int x, int y, int w, int h);
double Psnr(const Pnm& a, const Pnm& b);  // -1 when the shapes differ
// Our decode of BGR (or grey) pixels in file order, RGB (or grey), as djpeg
// writes it.
Pnm BgrAsPnm(const Image& image);

// The peer codec as oracle: djpeg decodes `jpeg` with `options` (false when
// it fails); cjpeg encodes a file with `options`.
bool Djpeg(const std::vector<uint8_t>& jpeg, Pnm* out, const std::string& options = "");
// djpeg on a stream that may be damaged: its exit status (2 when it warned,
// as for a damaged stream), the picture it wrote and its messages.
int DjpegWarnings(const std::vector<uint8_t>& jpeg, Pnm* out, std::string* messages,
                  const std::string& options = "");
// DjpegWarnings that also takes what djpeg writes for a damaged stream;
// *warned tells whether it warned.
bool DjpegDamaged(const std::vector<uint8_t>& jpeg, Pnm* out, bool* warned, const std::string& options = "");
std::vector<uint8_t> Cjpeg(const std::string& options, const std::string& input);

// Runs a command; returns its exit status.
int Run(const std::string& command);
bool HaveTool(const std::string& name);
std::string TempPath(const std::string& name);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes);
std::vector<uint8_t> FileBytes(const std::string& path);  // empty when unreadable

}  // namespace vextest
