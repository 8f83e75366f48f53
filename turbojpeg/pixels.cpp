// Pixel conversions of the TurboJPEG layer. Each loop has its channel
// offsets fixed per format (the switch picks an instance), so the compiler
// keeps them in registers and vectorises the plain byte moves.
#include "pixels.h"

#include <turbojpeg.h>

namespace q32vex_tj {
namespace {

// Y = 0.299 R + 0.587 G + 0.114 B in 16-bit fixed point, rounded.
inline uint8_t Luma(unsigned r, unsigned g, unsigned b) {
    return uint8_t((19595u * r + 38470u * g + 7471u * b + 32768u) >> 16);
}

template <int R, int G, int B, int Size>
void ToGrayFixed(const uint8_t* src, uint8_t* gray, size_t n) {
    for (size_t i = 0; i < n; ++i, src += Size) gray[i] = Luma(src[R], src[G], src[B]);
}

template <int R, int G, int B, int Size>
void ToBgrFixed(const uint8_t* src, uint8_t* bgr, size_t n) {
    for (size_t i = 0; i < n; ++i, src += Size, bgr += 3) {
        bgr[0] = src[B];
        bgr[1] = src[G];
        bgr[2] = src[R];
    }
}

// A = -1: no alpha or unused byte.
template <int R, int G, int B, int A, int Size>
void FromBgrFixed(const uint8_t* bgr, uint8_t* dst, size_t n) {
    for (size_t i = 0; i < n; ++i, dst += Size, bgr += 3) {
        dst[R] = bgr[2];
        dst[G] = bgr[1];
        dst[B] = bgr[0];
        if (A >= 0) dst[A] = 0xFF;
    }
}

template <int R, int G, int B, int A, int Size>
void FromGrayFixed(const uint8_t* gray, uint8_t* dst, size_t n) {
    for (size_t i = 0; i < n; ++i, dst += Size) {
        dst[R] = dst[G] = dst[B] = gray[i];
        if (A >= 0) dst[A] = 0xFF;
    }
}

// The same table of offsets for every direction: R, G, B, the fourth byte,
// pixel size.
#define Q32VEX_TJ_FORMATS(X)       \
    X(TJPF_RGB, 0, 1, 2, -1, 3)    \
    X(TJPF_BGR, 2, 1, 0, -1, 3)    \
    X(TJPF_RGBX, 0, 1, 2, 3, 4)    \
    X(TJPF_BGRX, 2, 1, 0, 3, 4)    \
    X(TJPF_XBGR, 3, 2, 1, 0, 4)    \
    X(TJPF_XRGB, 1, 2, 3, 0, 4)    \
    X(TJPF_RGBA, 0, 1, 2, 3, 4)    \
    X(TJPF_BGRA, 2, 1, 0, 3, 4)    \
    X(TJPF_ABGR, 3, 2, 1, 0, 4)    \
    X(TJPF_ARGB, 1, 2, 3, 0, 4)

}  // namespace

void ToBgr(const uint8_t* src, int pf, uint8_t* bgr, size_t n) {
    switch (pf) {
#define X(pf, r, g, b, a, size) \
    case pf: return ToBgrFixed<r, g, b, size>(src, bgr, n);
        Q32VEX_TJ_FORMATS(X)
#undef X
        case TJPF_GRAY:
            for (size_t i = 0; i < n; ++i, bgr += 3) bgr[0] = bgr[1] = bgr[2] = src[i];
            return;
        default: return;
    }
}

void FromBgr(const uint8_t* bgr, int pf, uint8_t* dst, size_t n) {
    switch (pf) {
#define X(pf, r, g, b, a, size) \
    case pf: return FromBgrFixed<r, g, b, a, size>(bgr, dst, n);
        Q32VEX_TJ_FORMATS(X)
#undef X
        case TJPF_GRAY: return ToGrayFixed<2, 1, 0, 3>(bgr, dst, n);
        default: return;
    }
}

void ToGray(const uint8_t* src, int pf, uint8_t* gray, size_t n) {
    switch (pf) {
#define X(pf, r, g, b, a, size) \
    case pf: return ToGrayFixed<r, g, b, size>(src, gray, n);
        Q32VEX_TJ_FORMATS(X)
#undef X
        case TJPF_GRAY:
            for (size_t i = 0; i < n; ++i) gray[i] = src[i];
            return;
        default: return;
    }
}

void FromGray(const uint8_t* gray, int pf, uint8_t* dst, size_t n) {
    switch (pf) {
#define X(pf, r, g, b, a, size) \
    case pf: return FromGrayFixed<r, g, b, a, size>(gray, dst, n);
        Q32VEX_TJ_FORMATS(X)
#undef X
        default: return;
    }
}

void SetAlpha(uint8_t* pixels, int offset, size_t n) {
    for (size_t i = 0; i < n; ++i) pixels[4 * i + size_t(offset)] = 0xFF;
}

}  // namespace q32vex_tj
