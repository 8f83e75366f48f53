// Progressive JPEG on a codec instance with VEX_OPTION_PROGRESSIVE: header
// read, then the whole picture (or a window of a large one) through the
// one-call form, twice with different prefills of the host's pixels, which
// must come out equal. Input: 4 option bytes (pixel format, flags, window
// left and top), then the stream. A 4 MiB budget keeps any header cheap.
// Flag bit 1 turns on VEX_OPTION_EXTENDED_FRAMES, which reads damaged
// sequential streams as far as they go: both decodes must then give the
// same report, naming MCUs inside the picture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_entry.h"
#include "fuzz_host.h"
#include "q32vex_codec.h"

namespace {

constexpr int kBudgetMiB = 4;
constexpr uint32_t kLargeWindow = 64;

std::string DecodeOnce(VexCodec* codec, const uint8_t* stream, size_t n, AppVexParams p, uint8_t prefill,
                       std::vector<uint8_t>* pixels, int16_t* status) {
    const int bpp = vexfuzz::BytesPerPixelOf(p);
    if (bpp < 1 || bpp > 4) return std::string();
    const uint32_t w = p.windowLeft > p.windowRight ? 0 : uint32_t(p.windowRight - p.windowLeft + 1);
    const uint32_t h = p.windowTop > p.windowBottom ? 0 : uint32_t(p.windowBottom - p.windowTop + 1);
    pixels->assign(size_t(std::max<uint32_t>(w, 1)) * std::max<uint32_t>(h, 1) * bpp, prefill);
    *status = VexDecompressMemory(codec, &p, stream, n, pixels->data(), ptrdiff_t(std::max<uint32_t>(w, 1)) * bpp);
    if (!vexfuzz::IsLibraryStatus(*status)) return "unknown status from VexDecompressMemory";
    // The pad byte of 32-bit pixels is the host's.
    if (p.pixelModel == 0 && bpp == 4)
        for (size_t i = 3; i < pixels->size(); i += 4) (*pixels)[i] = 0;
    return std::string();
}

std::string Run(const uint8_t* data, size_t size) {
    vexfuzz::OptionReader in(data, size);
    const uint8_t format = in.U8();
    const uint8_t flags = in.U8();
    const uint8_t left = in.U8(), top = in.U8();
    const uint8_t* stream = in.Rest();
    const size_t n = in.RestSize();

    VexCodec* codec = VexCodecCreate();
    if (codec == nullptr) return std::string();
    std::string finding;
    const bool extended = (flags & 2) != 0;
    if (VexCodecSetOption(codec, VEX_OPTION_PROGRESSIVE, 1) != 0 ||
        VexCodecSetOption(codec, VEX_OPTION_PROGRESSIVE_BUDGET, kBudgetMiB) != 0 ||
        VexCodecSetOption(codec, VEX_OPTION_EXTENDED_FRAMES, extended ? 1 : 0) != 0)
        finding = "option refused";
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    p.pixelFormat = vexfuzz::FormatByIndex(format, &p.pixelModel);
    const AppVexParams before = p;
    const int16_t info = finding.empty() ? VexReadInfoMemory(codec, &p, stream, n) : 0;
    if (!vexfuzz::IsLibraryStatus(info)) finding = "unknown status from VexReadInfoMemory";
    if (finding.empty() && info != 0 && std::memcmp(&before, &p, sizeof p) != 0)
        finding = "failed header read wrote the host record";
    if (finding.empty() && info == 0) {
        // Three components come out in the chosen format, the others in the
        // one the header set.
        if (p.colorSpace == 0 || p.colorSpace == 2) p.pixelFormat = vexfuzz::FormatByIndex(format, &p.pixelModel);
        const bool large = uint64_t(p.width) * p.height > vexfuzz::kMaxDecodePixels;
        if (large || (flags & 1)) {
            p.windowLeft = left;
            p.windowTop = top;
            p.windowRight = uint16_t(left + kLargeWindow - 1);
            p.windowBottom = uint16_t(top + kLargeWindow - 1);
        } else {
            p.windowLeft = p.windowTop = 0;
            p.windowRight = p.windowBottom = 0xFFFF;
        }
        if (p.windowRight >= p.width) p.windowRight = uint16_t(p.width == 0 ? 0 : p.width - 1);
        if (p.windowBottom >= p.height) p.windowBottom = uint16_t(p.height == 0 ? 0 : p.height - 1);
        std::vector<uint8_t> a, b;
        int16_t sa = 0, sb = 0;
        VexDecodeReport ra{}, rb{};
        finding = DecodeOnce(codec, stream, n, p, 0xAA, &a, &sa);
        if (finding.empty() && VexCodecDecodeReport(codec, &ra) != 0) finding = "report refused";
        if (finding.empty()) finding = DecodeOnce(codec, stream, n, p, 0x55, &b, &sb);
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
    const std::string leak = vexfuzz::CloseAndCheckLeaks();
    return finding.empty() ? leak : finding;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexfuzz::Report(Run(data, size));
    return 0;
}
