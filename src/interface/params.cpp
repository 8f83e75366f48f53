// The default parameter record. It is a constant so that both of its export
// names hand out exactly the same bytes.
#include "common/bytes.h"
#include "common/record_enums.h"

namespace q32vex {
namespace {

constexpr AppVexParams MakeDefaultParams() {
    AppVexParams p{};
    // "Not below the image size" means one tile across and down.
    p.tileWidth = 0xFFFF;
    p.tileHeight = 0xFFFF;
    p.containerKind = RecordValue(ContainerKind::kJfif);
    p.colorSpace = 0;
    p.sampling = SamplingDesc{{2, 1, 1, 0}, {1, 1, 1, 0}};   // 4:2:2 YCbCr
    p.pixelModel = RecordValue(PixelModel::kColour);
    p.pixelFormat = PixelFormatDesc{{8, 8, 8, 0}, {0, 0, 0, 0}};  // 24-bit colour
    p.quality = 25;  // half the Annex K steps
    // The decode window is clamped to the image, so the widest value means all of it.
    p.windowRight = 0xFFFF;
    p.windowBottom = 0xFFFF;
    return p;
}

constexpr AppVexParams kDefaultParams = MakeDefaultParams();

void SetDefaults(AppVexParams* params) {
    if (params == nullptr) return;
    CopyWords(params, &kDefaultParams, sizeof(AppVexParams));
}

}  // namespace
}  // namespace q32vex

extern "C" {

VEXEXPORT void VEXAPI AppVexSetDefaultCompress(AppVexParams* params) {
    q32vex::SetDefaults(params);
}

// The Windows DLL exports the entry above under this second name as well (the
// module definition file says so); this symbol serves every other build,
// among them programs that link the library statically on Windows.
VEXEXPORT void VEXAPI AppVexSetDefaultDecompress(AppVexParams* params) {
    q32vex::SetDefaults(params);
}

}  // extern "C"
