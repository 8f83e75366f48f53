// Whole-picture decodes on codec instances and their shared helpers.
#include "instance_decode.h"

#include <cstdio>

namespace vextest {

Instance::Instance(std::initializer_list<int> options) : codec(VexCodecCreate()) {
    for (int option : options) {
        if (codec == nullptr || optionStatus != 0) break;
        optionStatus = VexCodecSetOption(codec, option, 1);
    }
}

Instance::~Instance() { VexCodecDestroy(codec); }

AppVexParams JfifReadParams(int formatIndex) {
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.containerKind = VEX_CONTAINER_JFIF;
    p.pixelFormat = FormatDesc(formatIndex, &p.pixelModel);
    return p;
}

namespace {

int BytesPerPixelOf(const AppVexParams& p) {
    int bits = 0;
    for (int i = 0; i < 4; ++i) bits += p.pixelFormat.bits[i] + p.pixelFormat.pad[i];
    return (bits + 7) / 8;
}

}  // namespace

int16_t DecodeOnInstance(VexCodec* codec, const std::vector<uint8_t>& stream, AppVexParams p, Image* out) {
    if (codec == nullptr) return -1;
    const int16_t info = VexReadInfoMemory(codec, &p, stream.data(), stream.size());
    if (info != 0) return info;
    out->width = p.width;
    out->height = p.height;
    out->bytesPerPixel = BytesPerPixelOf(p);
    out->pixels.assign(size_t(out->width) * out->height * out->bytesPerPixel, 0xAA);
    return VexDecompressMemory(codec, &p, stream.data(), stream.size(), out->pixels.data(),
                               out->width * out->bytesPerPixel);
}

void ExpectLegacyRefusal(const std::vector<uint8_t>& stream) {
    AppVexParams legacy = JfifReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(stream, 4096);
    EXPECT_EQ(AppVexGetCompInfo(&legacy), VEX_ERR_CONTAINER);
    legacy = JfifReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(stream, 4096);
    EXPECT_EQ(AppVexDecompressBuffInit(&legacy), VEX_ERR_CONTAINER);
    Instance plain;
    Image out;
    EXPECT_EQ(DecodeOnInstance(plain.codec, stream, JfifReadParams(), &out), VEX_ERR_CONTAINER);
}

double PsnrAgainstDjpeg(const Image& decoded, const std::vector<uint8_t>& jpeg) {
    Pnm reference;
    if (!Djpeg(jpeg, &reference, "-dct int -nosmooth")) return -1;
    return Psnr(BgrAsPnm(decoded), reference);
}

std::vector<uint8_t> Jpegtran(const std::string& options, const std::vector<uint8_t>& input) {
    static int counter = 0;
    const std::string base = TempPath("jpegtran" + std::to_string(++counter));
    std::vector<uint8_t> bytes;
    if (!WriteFile(base + ".in.jpg", input) ||
        Run("jpegtran " + options + " -outfile " + base + ".out.jpg " + base + ".in.jpg") != 0 ||
        !ReadFile(base + ".out.jpg", &bytes))
        bytes.clear();
    std::remove((base + ".in.jpg").c_str());
    std::remove((base + ".out.jpg").c_str());
    return bytes;
}

std::string PhotoCrop(const std::string& name, int x, int y, int width, int height) {
    const std::string source = DataPath("photo1.ppm");
    if (width == 0) return source;
    Pnm full;
    if (!ReadPnm(source, &full)) return std::string();
    const std::string path = TempPath(name + ".ppm");
    if (!WritePnm(path, Crop(full, x, y, width, height))) return std::string();
    return path;
}

std::string WriteText(const std::string& name, const std::string& text) {
    const std::string path = TempPath(name);
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    return path;
}

}  // namespace vextest
