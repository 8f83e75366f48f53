// libturbojpeg.so.0 on q32vex: the TurboJPEG 2.1 interface over codec
// instances. A handle is an instance, so handles are independent and may be
// used on different threads at once. What the codec does not do (progressive
// output, YUV planes, lossless transforms, scaled decoding) is refused with a
// message instead of being approximated.
#include <turbojpeg.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pixels.h"
#include "q32vex.hpp"
#include "q32vex_codec.h"
#include "turbojpeg_internal.h"

namespace q32vex_tj {
namespace {

constexpr size_t kMessageBytes = 200;
thread_local char lastError[kMessageBytes] = "No error";

struct Handle {
    VexCodec* codec = nullptr;
    bool compresses = false;
    bool decompresses = false;
    int errorCode = TJERR_FATAL;
    char error[kMessageBytes] = "No error";
};

Handle* HandleOf(tjhandle handle) { return static_cast<Handle*>(handle); }

// Keeps the message in the handle (if any) and for the calling thread, as
// tjGetErrorStr2 and tjGetErrorStr read them.
__attribute__((format(printf, 2, 3))) int Fail(Handle* h, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(lastError, sizeof(lastError), format, args);
    va_end(args);
    if (h != nullptr) {
        std::memcpy(h->error, lastError, sizeof(h->error));
        h->errorCode = TJERR_FATAL;
    }
    return -1;
}

// A damaged stream decoded as far as it goes: the picture is written and the
// call still fails, with a warning, as libjpeg-turbo 2.1 does. Its handles
// report TJERR_WARNING also under TJFLAG_STOPONWARNING (where it stops at
// the damage); the whole picture is written here either way.
int Warn(Handle* h, const char* call, const std::string& warning) {
    Fail(h, "%s(): %s", call, warning.c_str());
    h->errorCode = TJERR_WARNING;
    return -1;
}

int FailStatus(Handle* h, const char* call, int status) {
    return Fail(h, "%s(): %s", call, q32vex::Error::describe(status).c_str());
}

int Unsupported(tjhandle handle, const char* call) {
    return Fail(HandleOf(handle), "%s(): not supported by q32vex", call);
}

tjhandle NewHandle(bool compresses, bool decompresses) {
    auto* h = new (std::nothrow) Handle;
    if (h == nullptr) {
        Fail(nullptr, "tjInit(): out of memory");
        return nullptr;
    }
    h->codec = VexCodecCreate();
    if (h->codec == nullptr) {
        delete h;
        Fail(nullptr, "tjInit(): out of memory");
        return nullptr;
    }
    // libjpeg-turbo clamps every colour channel to 0..255; so do the handles
    // here, instead of the legacy wrap-around of colours beyond the gamut.
    VexCodecSetOption(h->codec, VEX_OPTION_SATURATING_COLOUR, 1);
    h->compresses = compresses;
    h->decompresses = decompresses;
    // TurboJPEG hosts expect progressive files and other samplings to open.
    VexCodecSetOption(h->codec, VEX_OPTION_PROGRESSIVE, 1);
    VexCodecSetOption(h->codec, VEX_OPTION_EXTENDED_FRAMES, 1);
    return h;
}

// ---- sampling and formats ---------------------------------------------------

bool SamplingFor(int subsamp, q32vex::Sampling* out) {
    switch (subsamp) {
        case TJSAMP_444: *out = q32vex::Sampling::S444; return true;
        case TJSAMP_422: *out = q32vex::Sampling::S422; return true;
        case TJSAMP_420: *out = q32vex::Sampling::S420; return true;
        case TJSAMP_GRAY: *out = q32vex::Sampling::Gray; return true;
        case TJSAMP_411: *out = q32vex::Sampling::S411; return true;
        default: return false;  // 4:4:0 and unknown values
    }
}

// The TurboJPEG subsampling of a header the codec has read, or -1: how
// many luma samples each chroma sample covers across and down, the same for
// every chroma component. The fourth component of a four-component image
// (K) counts when it is not at full size.
int SubsampOf(const AppVexParams& p) {
    const SamplingDesc& s = p.sampling;
    if (p.colorSpace == 1) return TJSAMP_GRAY;
    const int components = p.colorSpace == 3 ? 4 : 3;
    int across = 0, down = 0;
    for (int k = 1; k < components; ++k) {
        if (k == 3 && s.h[3] == s.h[0] && s.v[3] == s.v[0]) continue;
        if (s.h[k] == 0 || s.v[k] == 0 || s.h[0] % s.h[k] != 0 || s.v[0] % s.v[k] != 0) return -1;
        const int h = s.h[0] / s.h[k], v = s.v[0] / s.v[k];
        if (across != 0 && (h != across || v != down)) return -1;
        across = h;
        down = v;
    }
    if (across == 1 && down == 1) return TJSAMP_444;
    if (across == 2 && down == 1) return TJSAMP_422;
    if (across == 2 && down == 2) return TJSAMP_420;
    if (across == 1 && down == 2) return TJSAMP_440;
    if (across == 4 && down == 1) return TJSAMP_411;
    return -1;
}

// The TurboJPEG colour space of the frame the codec last read.
int ColorspaceOf(VexCodec* codec) {
    switch (VexCodecFrameColour(codec)) {
        case VEX_FRAME_GREY: return TJCS_GRAY;
        case VEX_FRAME_RGB: return TJCS_RGB;
        case VEX_FRAME_CMYK: return TJCS_CMYK;
        case VEX_FRAME_YCCK: return TJCS_YCCK;
        default: return TJCS_YCbCr;
    }
}

int ComponentsOf(const AppVexParams& p) { return p.colorSpace == 1 ? 1 : p.colorSpace == 3 ? 4 : 3; }

void SetFormat(AppVexParams* p, q32vex::PixelFormat format) {
    p->pixelFormat = q32vex::detail::format_desc(format, &p->pixelModel);
}

// ---- output buffer ----------------------------------------------------------

// Hands a finished stream to the caller as TurboJPEG promises: into the
// caller's buffer when it is large enough (or must be, with NOREALLOC),
// otherwise in a buffer of ours that replaces it.
int Deliver(Handle* h, uint8_t* stream, size_t size, unsigned char** jpegBuf, unsigned long* jpegSize,
            int flags) {
    const bool fits = *jpegBuf != nullptr && size <= *jpegSize;
    if ((flags & TJFLAG_NOREALLOC) != 0 || fits) {
        if (!fits && (flags & TJFLAG_NOREALLOC) != 0 && *jpegBuf == nullptr) {
            std::free(stream);
            return Fail(h, "tjCompress2(): no output buffer, and TJFLAG_NOREALLOC is set");
        }
        // With NOREALLOC the buffer holds tjBufSize() bytes, which bounds the
        // codec's output; *jpegSize need not say so.
        std::memcpy(*jpegBuf, stream, size);
        std::free(stream);
    } else {
        tjFree(*jpegBuf);
        *jpegBuf = stream;
    }
    *jpegSize = static_cast<unsigned long>(size);
    return 0;
}

// ---- compression ------------------------------------------------------------

int Compress(Handle* h, const unsigned char* src, int width, int pitch, int height, int pf,
             unsigned char** jpegBuf, unsigned long* jpegSize, int subsamp, int quality, int flags) {
    if (h == nullptr) return Fail(nullptr, "tjCompress2(): invalid handle");
    if (!h->compresses) return Fail(h, "tjCompress2(): instance has not been initialized for compression");
    if (src == nullptr || width <= 0 || pitch < 0 || height <= 0 || pf < 0 || pf >= TJ_NUMPF ||
        jpegBuf == nullptr || jpegSize == nullptr || subsamp < 0 || subsamp >= TJ_NUMSAMP || quality < 1 ||
        quality > 100)
        return Fail(h, "tjCompress2(): invalid argument");
    if (width > 65535 || height > 65535) return Fail(h, "tjCompress2(): q32vex codes images up to 65535 pixels each way");
    if (pf == TJPF_CMYK) return Fail(h, "tjCompress2(): CMYK compression is not supported by q32vex");
    if ((flags & TJFLAG_PROGRESSIVE) != 0) return Fail(h, "tjCompress2(): progressive JPEG is not supported by q32vex");
    q32vex::Sampling sampling;
    if (!SamplingFor(subsamp, &sampling)) return Fail(h, "tjCompress2(): 4:4:0 subsampling is not supported by q32vex");
    if (pitch == 0) pitch = width * tjPixelSize[pf];

    AppVexParams p;
    AppVexSetDefaultCompress(&p);
    p.width = uint16_t(width);
    p.height = uint16_t(height);
    p.sampling = q32vex::detail::sampling_desc(sampling, &p.colorSpace);
    const bool grey = subsamp == TJSAMP_GRAY;
    // The codec reads BGR, BGR with a fourth byte, and grey directly; other
    // layouts are converted first.
    q32vex::PixelFormat format = grey ? q32vex::PixelFormat::Gray8 : q32vex::PixelFormat::Bgr24;
    bool direct = (grey && pf == TJPF_GRAY) || (!grey && pf == TJPF_BGR);
    if (!grey && (pf == TJPF_BGRX || pf == TJPF_BGRA)) {
        format = q32vex::PixelFormat::Bgrx32;
        direct = true;
    }
    SetFormat(&p, format);
    // Not every sampling takes both colour layouts; the other one is
    // reached by converting.
    if (!grey && VexQuerySupport(h->codec, VEX_DIRECTION_COMPRESS, &p) == VEX_ERR_UNSUPPORTED) {
        format = format == q32vex::PixelFormat::Bgr24 ? q32vex::PixelFormat::Bgrx32 : q32vex::PixelFormat::Bgr24;
        direct = false;
        SetFormat(&p, format);
    }
    q32vex::detail::ScaledTables tables;
    q32vex::detail::libjpeg_tables(quality, p.colorSpace, &tables);
    for (int c = 0; c < 4; ++c) p.qTables[c] = tables.pointer[c];
    p.quality = 50;

    const unsigned char* first = src;
    ptrdiff_t stride = pitch;
    if ((flags & TJFLAG_BOTTOMUP) != 0) {
        first = src + ptrdiff_t(height - 1) * pitch;
        stride = -stride;
    }
    uint8_t* stream = nullptr;
    size_t size = 0;
    int16_t status = 0;
    if (direct) {
        status = VexCompressMemory(h->codec, &p, first, stride, &stream, &size);
    } else {
        // Converted band by band, while each band is in cache.
        const int codecPf = grey ? TJPF_GRAY : format == q32vex::PixelFormat::Bgr24 ? TJPF_BGR : TJPF_BGRX;
        RowConversion conversion = MakeConversion(pf, codecPf);
        const VexPixelConversion host = {ConvertPixels, &conversion, uint32_t(tjPixelSize[pf])};
        status = VexCompressMemoryConverted(h->codec, &p, first, stride, &host, &stream, &size);
    }
    if (status != 0) return FailStatus(h, "tjCompress2", status);
    return Deliver(h, stream, size, jpegBuf, jpegSize, flags);
}

// ---- decompression ----------------------------------------------------------

int ReadHeader(Handle* h, const char* call, const unsigned char* jpegBuf, unsigned long jpegSize, AppVexParams* p) {
    if (h == nullptr) return Fail(nullptr, "%s(): invalid handle", call);
    if (!h->decompresses) return Fail(h, "%s(): instance has not been initialized for decompression", call);
    if (jpegBuf == nullptr || jpegSize == 0) return Fail(h, "%s(): invalid argument", call);
    AppVexSetDefaultDecompress(p);
    p->containerKind = VEX_CONTAINER_JFIF;
    const int16_t status = VexReadInfoMemory(h->codec, p, jpegBuf, jpegSize);
    if (status == 0) return 0;
    // Name what the file is when the codec cannot read its kind.
    const char* kind = FrameKind(jpegBuf, jpegSize);
    if (kind != nullptr) return Fail(h, "%s(): %s is not supported by q32vex", call, kind);
    return FailStatus(h, call, status);
}

int Decompress(Handle* h, const unsigned char* jpegBuf, unsigned long jpegSize, unsigned char* dst, int width,
               int pitch, int height, int pf, int flags) {
    AppVexParams p;
    if (ReadHeader(h, "tjDecompress2", jpegBuf, jpegSize, &p) != 0) return -1;
    if (dst == nullptr || width < 0 || pitch < 0 || height < 0 || pf < 0 || pf >= TJ_NUMPF)
        return Fail(h, "tjDecompress2(): invalid argument");
    // Only the scaling factor 1/1 exists here.
    if ((width != 0 && width < p.width) || (height != 0 && height < p.height))
        return Fail(h, "tjDecompress2(): could not scale down to desired image dimensions");
    width = p.width;
    height = p.height;
    if (pitch == 0) pitch = width * tjPixelSize[pf];
    const int components = ComponentsOf(p);
    if (pf == TJPF_CMYK && components != 4)
        return Fail(h, "tjDecompress2(): q32vex cannot decompress a grey or colour image to CMYK");

    // The codec writes grey, CMYK (inverted, as libjpeg gives it), or BGR in
    // 3 or 4 bytes (not every sampling in both; a CMYK image as the light of
    // its inks); other layouts are converted from those.
    const bool colour = components == 3 || (components == 4 && pf != TJPF_CMYK);
    int decodedPf = components == 1 ? TJPF_GRAY : colour ? TJPF_BGR : TJPF_CMYK;
    if (colour) {
        const bool fourBytes = pf == TJPF_BGRX || pf == TJPF_BGRA;
        decodedPf = fourBytes ? TJPF_BGRX : TJPF_BGR;
        SetFormat(&p, fourBytes ? q32vex::PixelFormat::Bgrx32 : q32vex::PixelFormat::Bgr24);
        if (VexQuerySupport(h->codec, VEX_DIRECTION_DECOMPRESS, &p) == VEX_ERR_UNSUPPORTED)
            decodedPf = fourBytes ? TJPF_BGR : TJPF_BGRX;
    }
    SetFormat(&p, decodedPf == TJPF_GRAY   ? q32vex::PixelFormat::Gray8
                  : decodedPf == TJPF_CMYK ? q32vex::PixelFormat::Four8
                  : decodedPf == TJPF_BGRX ? q32vex::PixelFormat::Bgrx32
                                           : q32vex::PixelFormat::Bgr24);
    // Pixels with a fourth byte are converted too, which sets it.
    const bool direct = pf == decodedPf && (tjPixelSize[pf] != 4 || pf == TJPF_CMYK);

    unsigned char* first = dst;
    ptrdiff_t stride = pitch;
    if ((flags & TJFLAG_BOTTOMUP) != 0) {
        first = dst + ptrdiff_t(height - 1) * pitch;
        stride = -stride;
    }
    int16_t status = 0;
    if (direct) {
        status = VexDecompressMemory(h->codec, &p, jpegBuf, jpegSize, first, stride);
    } else {
        RowConversion conversion = MakeConversion(decodedPf, pf);
        const VexPixelConversion host = {ConvertPixels, &conversion, uint32_t(tjPixelSize[pf])};
        status = VexDecompressMemoryConverted(h->codec, &p, jpegBuf, jpegSize, first, stride, &host);
    }
    if (status != 0) return FailStatus(h, "tjDecompress2", status);
    const std::vector<std::string> warnings = q32vex::damage_warnings(h->codec);
    if (!warnings.empty()) return Warn(h, "tjDecompress2", warnings.front());
    return 0;
}

}  // namespace

int FailLoad(const char* call, const char* message) { return Fail(nullptr, "%s(): %s", call, message); }

}  // namespace q32vex_tj

using namespace q32vex_tj;

extern "C" {

tjhandle tjInitCompress(void) { return NewHandle(true, false); }
tjhandle tjInitDecompress(void) { return NewHandle(false, true); }
tjhandle tjInitTransform(void) { return NewHandle(true, true); }

int tjDestroy(tjhandle handle) {
    Handle* h = HandleOf(handle);
    if (h == nullptr) return Fail(nullptr, "tjDestroy(): invalid handle");
    VexCodecDestroy(h->codec);
    delete h;
    return 0;
}

unsigned char* tjAlloc(int bytes) { return static_cast<unsigned char*>(std::malloc(size_t(std::max(bytes, 0)))); }
void tjFree(unsigned char* buffer) { std::free(buffer); }

unsigned long tjBufSize(int width, int height, int jpegSubsamp) {
    if (width < 1 || height < 1 || jpegSubsamp < 0 || jpegSubsamp >= TJ_NUMSAMP) {
        Fail(nullptr, "tjBufSize(): invalid argument");
        return static_cast<unsigned long>(-1);
    }
    // The worst case of a block is about twice its pixels' bytes, for each
    // component; the header, tables and comment fit in the last 2 KiB.
    const unsigned long mcuw = static_cast<unsigned long>(tjMCUWidth[jpegSubsamp]);
    const unsigned long mcuh = static_cast<unsigned long>(tjMCUHeight[jpegSubsamp]);
    const unsigned long chroma = jpegSubsamp == TJSAMP_GRAY ? 0 : 4 * 64 / (mcuw * mcuh);
    const unsigned long paddedWidth = (static_cast<unsigned long>(width) + mcuw - 1) / mcuw * mcuw;
    const unsigned long paddedHeight = (static_cast<unsigned long>(height) + mcuh - 1) / mcuh * mcuh;
    return paddedWidth * paddedHeight * (2 + chroma) + 2048;
}

unsigned long TJBUFSIZE(int width, int height) {
    if (width < 1 || height < 1) {
        Fail(nullptr, "TJBUFSIZE(): invalid argument");
        return static_cast<unsigned long>(-1);
    }
    const unsigned long w = (static_cast<unsigned long>(width) + 15) / 16 * 16;
    const unsigned long ht = (static_cast<unsigned long>(height) + 15) / 16 * 16;
    return w * ht * 6 + 2048;
}

tjscalingfactor* tjGetScalingFactors(int* numScalingFactors) {
    static tjscalingfactor kOne[1] = {{1, 1}};
    if (numScalingFactors == nullptr) {
        Fail(nullptr, "tjGetScalingFactors(): invalid argument");
        return nullptr;
    }
    *numScalingFactors = 1;
    return kOne;
}

int tjCompress2(tjhandle handle, const unsigned char* srcBuf, int width, int pitch, int height, int pixelFormat,
                unsigned char** jpegBuf, unsigned long* jpegSize, int jpegSubsamp, int jpegQual, int flags) {
    return Compress(HandleOf(handle), srcBuf, width, pitch, height, pixelFormat, jpegBuf, jpegSize, jpegSubsamp,
                    jpegQual, flags);
}

// TurboJPEG 1.0 described pixels by size and flags, and wrote into a buffer
// the caller sized with TJBUFSIZE().
int tjCompress(tjhandle handle, unsigned char* srcBuf, int width, int pitch, int height, int pixelSize,
               unsigned char* dstBuf, unsigned long* compressedSize, int jpegSubsamp, int jpegQual, int flags) {
    const int pf = LegacyPixelFormat(pixelSize, flags);
    if (pf < 0) return Fail(HandleOf(handle), "tjCompress(): invalid argument");
    return Compress(HandleOf(handle), srcBuf, width, pitch, height, pf, &dstBuf, compressedSize, jpegSubsamp,
                    jpegQual, flags | TJFLAG_NOREALLOC);
}

int tjDecompressHeader3(tjhandle handle, const unsigned char* jpegBuf, unsigned long jpegSize, int* width,
                        int* height, int* jpegSubsamp, int* jpegColorspace) {
    Handle* h = HandleOf(handle);
    if (width == nullptr || height == nullptr || jpegSubsamp == nullptr || jpegColorspace == nullptr)
        return Fail(h, "tjDecompressHeader3(): invalid argument");
    AppVexParams p;
    if (ReadHeader(h, "tjDecompressHeader3", jpegBuf, jpegSize, &p) != 0) return -1;
    *width = p.width;
    *height = p.height;
    *jpegSubsamp = SubsampOf(p);
    *jpegColorspace = ColorspaceOf(h->codec);
    if (*jpegSubsamp < 0) return Fail(h, "tjDecompressHeader3(): could not determine subsampling type for JPEG image");
    return 0;
}

int tjDecompressHeader2(tjhandle handle, unsigned char* jpegBuf, unsigned long jpegSize, int* width, int* height,
                        int* jpegSubsamp) {
    int colorspace = 0;
    return tjDecompressHeader3(handle, jpegBuf, jpegSize, width, height, jpegSubsamp, &colorspace);
}

int tjDecompressHeader(tjhandle handle, unsigned char* jpegBuf, unsigned long jpegSize, int* width, int* height) {
    int subsamp = 0, colorspace = 0;
    return tjDecompressHeader3(handle, jpegBuf, jpegSize, width, height, &subsamp, &colorspace);
}

int tjDecompress2(tjhandle handle, const unsigned char* jpegBuf, unsigned long jpegSize, unsigned char* dstBuf,
                  int width, int pitch, int height, int pixelFormat, int flags) {
    return Decompress(HandleOf(handle), jpegBuf, jpegSize, dstBuf, width, pitch, height, pixelFormat, flags);
}

int tjDecompress(tjhandle handle, unsigned char* jpegBuf, unsigned long jpegSize, unsigned char* dstBuf, int width,
                 int pitch, int height, int pixelSize, int flags) {
    const int pf = LegacyPixelFormat(pixelSize, flags);
    if (pf < 0) return Fail(HandleOf(handle), "tjDecompress(): invalid argument");
    return Decompress(HandleOf(handle), jpegBuf, jpegSize, dstBuf, width, pitch, height, pf, flags);
}

char* tjGetErrorStr2(tjhandle handle) {
    Handle* h = HandleOf(handle);
    return h != nullptr ? h->error : lastError;
}

char* tjGetErrorStr(void) { return lastError; }

int tjGetErrorCode(tjhandle handle) {
    Handle* h = HandleOf(handle);
    return h != nullptr ? h->errorCode : TJERR_FATAL;
}

// ---- what q32vex does not do -------------------------------------------------

unsigned long TJBUFSIZEYUV(int, int, int) {
    Unsupported(nullptr, "TJBUFSIZEYUV");
    return static_cast<unsigned long>(-1);
}
unsigned long tjBufSizeYUV(int, int, int) {
    Unsupported(nullptr, "tjBufSizeYUV");
    return static_cast<unsigned long>(-1);
}
unsigned long tjBufSizeYUV2(int, int, int, int) {
    Unsupported(nullptr, "tjBufSizeYUV2");
    return static_cast<unsigned long>(-1);
}
unsigned long tjPlaneSizeYUV(int, int, int, int, int) {
    Unsupported(nullptr, "tjPlaneSizeYUV");
    return static_cast<unsigned long>(-1);
}
int tjPlaneWidth(int, int, int) { return Unsupported(nullptr, "tjPlaneWidth"); }
int tjPlaneHeight(int, int, int) { return Unsupported(nullptr, "tjPlaneHeight"); }
int tjCompressFromYUV(tjhandle h, const unsigned char*, int, int, int, int, unsigned char**, unsigned long*, int,
                      int) {
    return Unsupported(h, "tjCompressFromYUV");
}
int tjCompressFromYUVPlanes(tjhandle h, const unsigned char**, int, const int*, int, int, unsigned char**,
                            unsigned long*, int, int) {
    return Unsupported(h, "tjCompressFromYUVPlanes");
}
int tjEncodeYUV(tjhandle h, unsigned char*, int, int, int, int, unsigned char*, int, int) {
    return Unsupported(h, "tjEncodeYUV");
}
int tjEncodeYUV2(tjhandle h, unsigned char*, int, int, int, int, unsigned char*, int, int) {
    return Unsupported(h, "tjEncodeYUV2");
}
int tjEncodeYUV3(tjhandle h, const unsigned char*, int, int, int, int, unsigned char*, int, int, int) {
    return Unsupported(h, "tjEncodeYUV3");
}
int tjEncodeYUVPlanes(tjhandle h, const unsigned char*, int, int, int, int, unsigned char**, int*, int, int) {
    return Unsupported(h, "tjEncodeYUVPlanes");
}
int tjDecompressToYUV(tjhandle h, unsigned char*, unsigned long, unsigned char*, int) {
    return Unsupported(h, "tjDecompressToYUV");
}
int tjDecompressToYUV2(tjhandle h, const unsigned char*, unsigned long, unsigned char*, int, int, int, int) {
    return Unsupported(h, "tjDecompressToYUV2");
}
int tjDecompressToYUVPlanes(tjhandle h, const unsigned char*, unsigned long, unsigned char**, int, int*, int, int) {
    return Unsupported(h, "tjDecompressToYUVPlanes");
}
int tjDecodeYUV(tjhandle h, const unsigned char*, int, int, unsigned char*, int, int, int, int, int) {
    return Unsupported(h, "tjDecodeYUV");
}
int tjDecodeYUVPlanes(tjhandle h, const unsigned char**, const int*, int, unsigned char*, int, int, int, int, int) {
    return Unsupported(h, "tjDecodeYUVPlanes");
}
int tjTransform(tjhandle h, const unsigned char*, unsigned long, int, unsigned char**, unsigned long*, tjtransform*,
                int) {
    return Unsupported(h, "tjTransform");
}

}  // extern "C"
