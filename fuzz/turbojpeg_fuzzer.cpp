// The TurboJPEG layer. The first byte picks the path:
//  - even: the rest is a JPEG stream, read with tjDecompressHeader3 and
//    decoded with tjDecompress2 into a pixel format, pitch padding and row
//    order taken from the next bytes;
//  - odd: the rest describes an image (size, pixel format, subsampling,
//    quality, flags) followed by its pixels, which tjCompress2 compresses;
//    the stream must then decode to an image of the same size.
// Every call must either succeed or return -1 with a message, and touch no
// byte outside the buffers it is given (the sanitizers watch for that).
#include <turbojpeg.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_entry.h"
#include "fuzz_host.h"

namespace {

constexpr size_t kMaxPixels = 1 << 20;

std::string CheckFailure(int status, tjhandle h, const char* call) {
    if (status == 0) return "";
    if (status != -1) return std::string(call) + " returned neither 0 nor -1";
    if (std::strlen(tjGetErrorStr2(h)) == 0) return std::string(call) + " failed without a message";
    return "";
}

// Decodes with guard bytes around the caller's buffer; a byte changed there
// is a finding.
std::string Decode(const uint8_t* jpeg, size_t size, int pf, int pad, int flags, int* width = nullptr,
                   int* height = nullptr) {
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, subsamp = 0, colorspace = 0;
    int status = tjDecompressHeader3(h, jpeg, size, &w, &ht, &subsamp, &colorspace);
    std::string finding = CheckFailure(status, h, "tjDecompressHeader3");
    if (status == 0 && size_t(w) * size_t(ht) <= kMaxPixels) {
        const size_t pitch = size_t(w) * size_t(tjPixelSize[pf]) + size_t(pad);
        constexpr size_t kGuard = 64;
        std::vector<uint8_t> buffer(pitch * size_t(ht) + 2 * kGuard, 0xA5);
        status = tjDecompress2(h, jpeg, size, buffer.data() + kGuard, w, int(pitch), ht, pf, flags);
        finding = CheckFailure(status, h, "tjDecompress2");
        for (size_t i = 0; i < kGuard && finding.empty(); ++i) {
            if (buffer[i] != 0xA5 || buffer[buffer.size() - 1 - i] != 0xA5)
                finding = "tjDecompress2 wrote outside the caller's buffer";
        }
        if (width != nullptr) *width = status == 0 ? w : -1;
        if (height != nullptr) *height = status == 0 ? ht : -1;
    }
    tjDestroy(h);
    return finding;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::OptionReader in(data, size);
    const uint8_t mode = in.U8();
    if ((mode & 1) == 0) {
        const int pf = in.U8() % TJ_NUMPF;
        const int pad = in.U8() % 8;
        const int flags = (in.U8() & 1) != 0 ? TJFLAG_BOTTOMUP : 0;
        vexfuzz::Report(Decode(in.Rest(), in.RestSize(), pf, pad, flags));
        return 0;
    }
    const int width = 1 + in.U8() % 64;
    const int height = 1 + in.U8() % 64;
    const int pf = in.U8() % TJ_NUMPF;
    const int subsamp = in.U8() % TJ_NUMSAMP;
    const int quality = in.U8() % 102;  // 0 and 101 are refused
    const uint8_t bits = in.U8();
    const int flags = ((bits & 1) != 0 ? TJFLAG_BOTTOMUP : 0) | ((bits & 2) != 0 ? TJFLAG_NOREALLOC : 0);
    const int pad = (bits >> 2) % 8;
    const size_t pitch = size_t(width) * size_t(tjPixelSize[pf]) + size_t(pad);
    const std::vector<uint8_t> pixels = in.Bytes(pitch * size_t(height));

    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if ((flags & TJFLAG_NOREALLOC) != 0) {
        jpegSize = tjBufSize(width, height, subsamp);
        jpeg = tjAlloc(int(jpegSize));
    }
    const int status = tjCompress2(h, pixels.data(), width, int(pitch), height, pf, &jpeg, &jpegSize, subsamp,
                                   quality, flags);
    std::string finding = CheckFailure(status, h, "tjCompress2");
    const bool shouldWork = quality >= 1 && quality <= 100 && pf != TJPF_CMYK && subsamp != TJSAMP_440;
    if (finding.empty() && shouldWork && status != 0) finding = std::string("tjCompress2 refused: ") + tjGetErrorStr2(h);
    if (finding.empty() && status == 0) {
        // What was written decodes, to an image of the size compressed.
        int w = 0, ht = 0;
        finding = Decode(jpeg, jpegSize, TJPF_RGB, 0, 0, &w, &ht);
        if (finding.empty() && (w != width || ht != height)) finding = "the stream does not decode to its image";
    }
    tjFree(jpeg);
    tjDestroy(h);
    vexfuzz::Report(finding);
    return 0;
}
