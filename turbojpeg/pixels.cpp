// Pixel conversions of the TurboJPEG layer: the scalar reference for every
// pair of formats, one table of them, and the choice of a vector form.
#include "pixels.h"

#include <turbojpeg.h>

#include <array>
#include <cstring>
#include <utility>

#include "platform/cpu.h"

namespace q32vex_tj {
namespace {

// Where R, G, B and the fourth byte (-1: none) stand in a pixel of `size`
// bytes; grey keeps its one value at 0.
struct Layout {
    int r, g, b, a, size;
};

constexpr int kFormats = TJPF_CMYK;  // every format before CMYK
static_assert(TJPF_CMYK == TJ_NUMPF - 1, "CMYK is the last format");

constexpr Layout kLayouts[kFormats] = {
    {0, 1, 2, -1, 3},  // TJPF_RGB
    {2, 1, 0, -1, 3},  // TJPF_BGR
    {0, 1, 2, 3, 4},   // TJPF_RGBX
    {2, 1, 0, 3, 4},   // TJPF_BGRX
    {3, 2, 1, 0, 4},   // TJPF_XBGR
    {1, 2, 3, 0, 4},   // TJPF_XRGB
    {0, 0, 0, -1, 1},  // TJPF_GRAY
    {0, 1, 2, 3, 4},   // TJPF_RGBA
    {2, 1, 0, 3, 4},   // TJPF_BGRA
    {3, 2, 1, 0, 4},   // TJPF_ABGR
    {1, 2, 3, 0, 4},   // TJPF_ARGB
};

// Y = 0.299 R + 0.587 G + 0.114 B in 16-bit fixed point, rounded.
inline uint8_t Luma(unsigned r, unsigned g, unsigned b) {
    return uint8_t((19595u * r + 38470u * g + 7471u * b + 32768u) >> 16);
}

// The offsets are constants of each instance, so the compiler keeps them in
// registers and turns the plain byte moves into vector code where it can.
template <int From, int To>
void ConvertFixed(const uint8_t* src, uint8_t* dst, size_t n) {
    constexpr Layout f = kLayouts[From];
    constexpr Layout t = kLayouts[To];
    for (size_t i = 0; i < n; ++i, src += f.size, dst += t.size) {
        if constexpr (To == TJPF_GRAY) {
            dst[0] = From == TJPF_GRAY ? src[0] : Luma(src[f.r], src[f.g], src[f.b]);
        } else {
            const uint8_t r = src[f.r], g = src[f.g], b = src[f.b];
            dst[t.r] = r;
            dst[t.g] = g;
            dst[t.b] = b;
            if constexpr (t.a >= 0) dst[t.a] = 0xFF;
        }
    }
}

template <int From, size_t... To>
constexpr std::array<RowFunction, kFormats> RowOf(std::index_sequence<To...>) {
    return {&ConvertFixed<From, int(To)>...};
}

template <size_t... From>
constexpr std::array<std::array<RowFunction, kFormats>, kFormats> TableOf(std::index_sequence<From...>) {
    return {RowOf<int(From)>(std::make_index_sequence<kFormats>())...};
}

constexpr auto kScalar = TableOf(std::make_index_sequence<kFormats>());

constexpr uint8_t kZero = 0x80;  // a shuffle index that yields 0

// Colour to colour, four pixels a step: byte j of the output takes input
// byte masks[0][j]; the fourth byte comes from `fill`.
void PlanShuffle(const Layout& f, const Layout& t, RowConversion* c) {
    for (int j = 0; j < 16; ++j) {
        const int p = j / t.size, channel = j % t.size;
        uint8_t index = kZero;
        if (p < 4 && channel == t.r) index = uint8_t(p * f.size + f.r);
        if (p < 4 && channel == t.g) index = uint8_t(p * f.size + f.g);
        if (p < 4 && channel == t.b) index = uint8_t(p * f.size + f.b);
        c->masks[0][j] = index;
        c->fill[j] = p < 4 && channel == t.a ? 0xFF : 0;
    }
}

// Colour to grey, four pixels a step, as 32-bit lanes: masks[0] makes the
// words (R, G), masks[1] the words (B, 0) to which `fill` adds 0x4000 (the
// rounding, through a factor 2), masks[2] the lanes G.
void PlanLuma(const Layout& f, RowConversion* c) {
    std::memset(c->masks, kZero, sizeof(c->masks));
    std::memset(c->fill, 0, sizeof(c->fill));
    for (int p = 0; p < 4; ++p) {
        c->masks[0][4 * p] = uint8_t(p * f.size + f.r);
        c->masks[0][4 * p + 2] = uint8_t(p * f.size + f.g);
        c->masks[1][4 * p] = uint8_t(p * f.size + f.b);
        c->masks[2][4 * p] = uint8_t(p * f.size + f.g);
        c->fill[4 * p + 3] = 0x40;
    }
}

// Grey to colour, sixteen pixels a step: masks[k] spreads grey bytes 4k to
// 4k + 3 over four output pixels; the fourth byte comes from `fill`.
void PlanSpread(const Layout& t, RowConversion* c) {
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 16; ++j) {
            const int p = j / t.size, channel = j % t.size;
            const bool colour = p < 4 && (channel == t.r || channel == t.g || channel == t.b);
            c->masks[k][j] = colour ? uint8_t(4 * k + p) : kZero;
            c->fill[j] = p < 4 && channel == t.a ? 0xFF : 0;
        }
    }
}

bool VectorFormsRunHere() {
#if defined(__x86_64__) || defined(__i386__)
    const q32vex::SimdLevel level = q32vex::ActiveSimdLevel();
    return level >= q32vex::kSimdSsse3 && level != q32vex::kSimdNeon;
#else
    return false;
#endif
}

}  // namespace

bool ConvertibleFormat(int pf) { return pf >= 0 && pf < kFormats; }

RowConversion MakeConversion(int from, int to) {
    RowConversion c = {};
    const Layout& f = kLayouts[from];
    const Layout& t = kLayouts[to];
    c.scalar = kScalar[size_t(from)][size_t(to)];
    c.fromBytes = f.size;
    c.toBytes = t.size;
    // The same layout needs work only where the fourth byte is to be set.
    if (!VectorFormsRunHere() || (from == to && t.a < 0)) return c;
#if defined(__x86_64__) || defined(__i386__)
    if (from == TJPF_GRAY && to != TJPF_GRAY) {
        PlanSpread(t, &c);
        c.vector = SpreadGrayRow_ssse3;
    } else if (to == TJPF_GRAY && from != TJPF_GRAY) {
        PlanLuma(f, &c);
        c.vector = LumaRow_ssse3;
    } else if (from != TJPF_GRAY) {
        PlanShuffle(f, t, &c);
        c.vector = ShuffleRow_ssse3;
    }
#endif
    return c;
}

void ConvertRow(const RowConversion& c, const uint8_t* from, uint8_t* to, size_t n) {
    const size_t done = c.vector != nullptr ? c.vector(c, from, to, n) : 0;
    c.scalar(from + done * size_t(c.fromBytes), to + done * size_t(c.toBytes), n - done);
}

void ConvertPixels(void* context, const uint8_t* from, uint8_t* to, uint32_t n) {
    ConvertRow(*static_cast<const RowConversion*>(context), from, to, n);
}

void ConvertRow(int fromPf, int toPf, const uint8_t* from, uint8_t* to, size_t n) {
    ConvertRow(MakeConversion(fromPf, toPf), from, to, n);
}

}  // namespace q32vex_tj
