// Decoding driver shared by the fuzz targets that read JPEG streams on a
// codec instance with options beyond the legacy behaviour (progressive
// frames, extended sequential frames): header read, then the whole picture
// (or a window of a large one) through the one-call form, twice with
// different prefills of the host's pixels, which must come out equal, with
// equal decode reports (empty without VEX_OPTION_EXTENDED_FRAMES).
// Input: 4 option bytes (pixel format, flags: bit 0 a 64 x 64 window, bit 1
// the target's optional option, window left and top), then the stream. A 4 MiB budget keeps any header
// cheap.
#pragma once
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "fuzz_host.h"
#include "q32vex_codec.h"

namespace vexfuzz {

constexpr int kInstanceBudgetMiB = 4;
constexpr uint32_t kInstanceWindow = 64;

inline std::string DecodeOnInstanceOnce(VexCodec* codec, const uint8_t* stream, size_t n, AppVexParams p,
                                        uint8_t prefill, std::vector<uint8_t>* pixels, int16_t* status) {
    const int bpp = BytesPerPixelOf(p);
    if (bpp < 1 || bpp > 4) return std::string();
    const uint32_t w = p.windowLeft > p.windowRight ? 0 : uint32_t(p.windowRight - p.windowLeft + 1);
    const uint32_t h = p.windowTop > p.windowBottom ? 0 : uint32_t(p.windowBottom - p.windowTop + 1);
    pixels->assign(size_t(std::max<uint32_t>(w, 1)) * std::max<uint32_t>(h, 1) * bpp, prefill);
    *status = VexDecompressMemory(codec, &p, stream, n, pixels->data(), ptrdiff_t(std::max<uint32_t>(w, 1)) * bpp);
    if (!IsLibraryStatus(*status)) return "unknown status from VexDecompressMemory";
    // The pad byte of 32-bit pixels is the host's.
    if (p.pixelModel == 0 && bpp == 4)
        for (size_t i = 3; i < pixels->size(); i += 4) (*pixels)[i] = 0;
    return std::string();
}

// Runs the input on a fresh instance with the VEX_OPTION_ values `options`
// switched on, and `optional` too when flag bit 1 is set; the finding, or
// empty.
inline std::string RunInstanceDecode(const uint8_t* data, size_t size, std::initializer_list<int> options,
                                     int optional = 0) {
    OptionReader in(data, size);
    const uint8_t format = in.U8();
    const uint8_t flags = in.U8();
    const uint8_t left = in.U8(), top = in.U8();
    const uint8_t* stream = in.Rest();
    const size_t n = in.RestSize();

    VexCodec* codec = VexCodecCreate();
    if (codec == nullptr) return std::string();
    std::string finding;
    bool extended = false;
    for (int option : options) {
        if (VexCodecSetOption(codec, option, 1) != 0) finding = "option refused";
        extended = extended || option == VEX_OPTION_EXTENDED_FRAMES;
    }
    if (optional != 0 && (flags & 2) && VexCodecSetOption(codec, optional, 1) != 0) finding = "option refused";
    extended = extended || (optional == VEX_OPTION_EXTENDED_FRAMES && (flags & 2));
    if (VexCodecSetOption(codec, VEX_OPTION_PROGRESSIVE_BUDGET, kInstanceBudgetMiB) != 0) finding = "option refused";
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    p.pixelFormat = FormatByIndex(format, &p.pixelModel);
    const AppVexParams before = p;
    const int16_t info = finding.empty() ? VexReadInfoMemory(codec, &p, stream, n) : 0;
    if (!IsLibraryStatus(info)) finding = "unknown status from VexReadInfoMemory";
    if (finding.empty() && info != 0 && std::memcmp(&before, &p, sizeof p) != 0)
        finding = "failed header read wrote the host record";
    if (finding.empty() && info == 0) {
        // Three components come out in the chosen format, the others in the
        // one the header set.
        if (p.colorSpace == 0 || p.colorSpace == 2) p.pixelFormat = FormatByIndex(format, &p.pixelModel);
        const bool large = uint64_t(p.width) * p.height > kMaxDecodePixels;
        if (large || (flags & 1)) {
            p.windowLeft = left;
            p.windowTop = top;
            p.windowRight = uint16_t(left + kInstanceWindow - 1);
            p.windowBottom = uint16_t(top + kInstanceWindow - 1);
        } else {
            p.windowLeft = p.windowTop = 0;
            p.windowRight = p.windowBottom = 0xFFFF;
        }
        if (p.windowRight >= p.width) p.windowRight = uint16_t(p.width == 0 ? 0 : p.width - 1);
        if (p.windowBottom >= p.height) p.windowBottom = uint16_t(p.height == 0 ? 0 : p.height - 1);
        std::vector<uint8_t> a, b;
        int16_t sa = 0, sb = 0;
        VexDecodeReport ra{}, rb{};
        finding = DecodeOnInstanceOnce(codec, stream, n, p, 0xAA, &a, &sa);
        if (finding.empty() && VexCodecDecodeReport(codec, &ra) != 0) finding = "report refused";
        if (finding.empty()) finding = DecodeOnInstanceOnce(codec, stream, n, p, 0x55, &b, &sb);
        if (finding.empty() && VexCodecDecodeReport(codec, &rb) != 0) finding = "report refused";
        if (finding.empty() && sa != sb) finding = "two identical decodes ended differently";
        if (finding.empty() && sa == 0 && a != b) finding = "decoder left output bytes unwritten";
        if (finding.empty() && std::memcmp(&ra, &rb, sizeof ra) != 0) finding = "two identical decodes reported differently";
        if (finding.empty() && !extended && ra.damage != 0) finding = "damage reported without the option";
        // MCUs are 8 x 8 pixels at the least.
        const uint64_t mostMcus = (uint64_t(p.width) + 7) / 8 * ((uint64_t(p.height) + 7) / 8);
        if (finding.empty() && sa == 0 && (ra.damage & VEX_DAMAGE_DATA_ENDED) && ra.dataEndedAtMcu >= mostMcus)
            finding = "data reported ending past the picture";
        if (finding.empty() && sa == 0 && (ra.damage & VEX_DAMAGE_CORRUPT_DATA) && ra.corruptAtMcu >= mostMcus)
            finding = "corrupt data reported past the picture";
    }
    VexCodecDestroy(codec);
    const std::string leak = CloseAndCheckLeaks();
    return finding.empty() ? leak : finding;
}

}  // namespace vexfuzz
