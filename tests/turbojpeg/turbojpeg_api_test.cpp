// The TurboJPEG library on q32vex, as a TurboJPEG client sees it. The peer is
// libjpeg-turbo's own libturbojpeg, loaded beside ours with dlopen (its own
// symbols bound first), and djpeg: every stream we write must decode there,
// quality must match the peer's, and the peer's streams must decode here.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// The peer library's entry points.
struct Peer {
    void* library = nullptr;
    decltype(&tjInitCompress) initCompress = nullptr;
    decltype(&tjInitDecompress) initDecompress = nullptr;
    decltype(&tjCompress2) compress = nullptr;
    decltype(&tjDecompressHeader3) header = nullptr;
    decltype(&tjDecompress2) decompress = nullptr;
    decltype(&tjDestroy) destroy = nullptr;
    decltype(&tjFree) free = nullptr;
    decltype(&tjGetErrorCode) errorCode = nullptr;

    Peer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers' runtimes refuse RTLD_DEEPBIND, without which the
        // peer's calls among its own functions could land in ours.
        return;
#endif
        for (const char* path : {"/usr/lib/x86_64-linux-gnu/libturbojpeg.so.0", "/usr/lib/i386-linux-gnu/libturbojpeg.so.0",
                                 "/usr/lib/aarch64-linux-gnu/libturbojpeg.so.0"}) {
            library = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
            if (library != nullptr) break;
        }
        if (library == nullptr) return;
        initCompress = reinterpret_cast<decltype(initCompress)>(dlsym(library, "tjInitCompress"));
        initDecompress = reinterpret_cast<decltype(initDecompress)>(dlsym(library, "tjInitDecompress"));
        compress = reinterpret_cast<decltype(compress)>(dlsym(library, "tjCompress2"));
        header = reinterpret_cast<decltype(header)>(dlsym(library, "tjDecompressHeader3"));
        decompress = reinterpret_cast<decltype(decompress)>(dlsym(library, "tjDecompress2"));
        destroy = reinterpret_cast<decltype(destroy)>(dlsym(library, "tjDestroy"));
        free = reinterpret_cast<decltype(free)>(dlsym(library, "tjFree"));
        errorCode = reinterpret_cast<decltype(errorCode)>(dlsym(library, "tjGetErrorCode"));
    }
    bool ready() const { return decompress != nullptr && compress != nullptr; }
};

Peer& ThePeer() {
    static Peer peer;
    return peer;
}

struct Picture {
    int width = 0, height = 0, pf = TJPF_BGR;
    std::vector<unsigned char> pixels;
    size_t pitch() const { return size_t(width) * size_t(tjPixelSize[pf]); }
};

// The test photograph in pixel format `pf`, read by our tjLoadImage.
Picture Photo(int pf) {
    Picture p;
    p.pf = pf;
    const std::string path = std::string(Q32VEX_SOURCE_DIR) + "/tests/data/photo1.ppm";
    unsigned char* data = tjLoadImage(path.c_str(), &p.width, 1, &p.height, &p.pf, 0);
    EXPECT_NE(data, nullptr) << tjGetErrorStr2(nullptr);
    if (data != nullptr) p.pixels.assign(data, data + p.pitch() * size_t(p.height));
    tjFree(data);
    return p;
}

std::vector<unsigned char> Compress(decltype(&tjCompress2) compress, tjhandle h, const Picture& p, int subsamp,
                                    int quality, int flags = 0) {
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int r = compress(h, p.pixels.data(), p.width, 0, p.height, p.pf, &jpeg, &size, subsamp, quality, flags);
    std::vector<unsigned char> out;
    if (r == 0) out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    return out;
}

std::vector<unsigned char> Ours(const Picture& p, int subsamp, int quality, int flags = 0) {
    tjhandle h = tjInitCompress();
    std::vector<unsigned char> out = Compress(tjCompress2, h, p, subsamp, quality, flags);
    EXPECT_FALSE(out.empty()) << tjGetErrorStr2(h);
    tjDestroy(h);
    return out;
}

// Decodes with our library, or with the peer's accurate transform.
// With `status`, a failure is the caller's to judge; *errorCode then gets
// tjGetErrorCode's answer.
Picture Decode(const std::vector<unsigned char>& jpeg, int pf, bool peer, int* status = nullptr,
               std::string* message = nullptr, int flags = 0, int* errorCode = nullptr) {
    Peer& P = ThePeer();
    tjhandle h = peer ? P.initDecompress() : tjInitDecompress();
    const auto header = peer ? P.header : tjDecompressHeader3;
    const auto decompress = peer ? P.decompress : tjDecompress2;
    int subsamp = 0, colorspace = 0;
    Picture out;
    out.pf = pf;
    int r = header(h, jpeg.data(), jpeg.size(), &out.width, &out.height, &subsamp, &colorspace);
    if (r == 0) {
        out.pixels.assign(out.pitch() * size_t(out.height), 0);
        r = decompress(h, jpeg.data(), jpeg.size(), out.pixels.data(), out.width, 0, out.height, pf,
                       flags | (peer ? TJFLAG_ACCURATEDCT : 0));
    }
    if (status != nullptr) *status = r;
    if (errorCode != nullptr) *errorCode = peer ? P.errorCode(h) : tjGetErrorCode(h);
    if (message != nullptr) *message = peer ? "" : tjGetErrorStr2(h);
    if (status == nullptr) EXPECT_EQ(r, 0) << (peer ? "" : tjGetErrorStr2(h));
    if (peer) P.destroy(h);
    else tjDestroy(h);
    return out;
}

// PSNR over the colour bytes of two pictures of one format (alpha and
// unused bytes left out).
double Psnr(const Picture& a, const Picture& b) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0;
    const int size = tjPixelSize[a.pf];
    const int alpha = a.pf == TJPF_GRAY || a.pf == TJPF_CMYK ? -1 : tjAlphaOffset[a.pf] >= 0 ? tjAlphaOffset[a.pf]
                      : size == 4                                        ? 6 - tjRedOffset[a.pf] - tjGreenOffset[a.pf] - tjBlueOffset[a.pf]
                                                                         : -1;
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (int(i % size_t(size)) == alpha) continue;
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
        ++n;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

std::string TempPath(const std::string& name) {
    return std::string(Q32VEX_BINARY_DIR) + "/turbojpeg_test_" + std::to_string(::getpid()) + "_" + name;
}

// djpeg's decode of a stream, as a PPM/PGM file's pixel bytes (RGB or grey).
bool DjpegDecodes(const std::vector<unsigned char>& jpeg, const std::string& name) {
    const std::string in = TempPath(name + ".jpg"), out = TempPath(name + ".pnm");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    const int rc = std::system(("djpeg -dct int -outfile '" + out + "' '" + in + "' 2>/dev/null").c_str());
    std::ifstream check(out, std::ios::binary | std::ios::ate);
    const bool ok = rc == 0 && check && check.tellg() > 0;
    std::remove(in.c_str());
    std::remove(out.c_str());
    return ok;
}

const int kCompressFormats[] = {TJPF_RGB,  TJPF_BGR,  TJPF_RGBX, TJPF_BGRX, TJPF_XBGR, TJPF_XRGB,
                                TJPF_GRAY, TJPF_RGBA, TJPF_BGRA, TJPF_ABGR, TJPF_ARGB};
const int kSubsamplings[] = {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_GRAY, TJSAMP_411};

// Tests that compare with the peer skip where it cannot be loaded.
#define REQUIRE_PEER()                                                                      \
    do {                                                                                    \
        if (!ThePeer().ready()) GTEST_SKIP() << "libjpeg-turbo's libturbojpeg.so.0 cannot be loaded here"; \
    } while (0)

using TurboJpeg = ::testing::Test;

// A file cjpeg writes with these options from the test photograph.
std::vector<unsigned char> Cjpeg(const std::string& options) {
    const std::string out = TempPath("cjpeg.jpg");
    const std::string command = "cjpeg " + options + " -outfile '" + out + "' '" + std::string(Q32VEX_SOURCE_DIR) +
                                "/tests/data/photo1.ppm' 2>/dev/null";
    std::vector<unsigned char> bytes;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(out, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::remove(out.c_str());
    return bytes;
}

const unsigned char kSof0[] = {0xFF, 0xC0};

// Samplings and colour spaces beyond the legacy reader's: the header says
// what the peer's says, and every pixel format decodes as the peer decodes
// it with replicated chroma (its fast upsampling). CMYK images also go to
// the colour formats, as the light of their inks, which the peer refuses.
TEST_F(TurboJpeg, OtherSamplingsAndColourSpacesDecodeAsThePeerDecodesThem) {
    REQUIRE_PEER();
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
    for (const char* options : {"-sample 1x2", "-sample 1x2,1x2,1x2", "-sample 3x1,1x1,1x1", "-sample 2x2,2x2,1x1",
                                "-sample 2x1,2x1,2x1", "-rgb", "-rgb -sample 2x1", "-grayscale", "-progressive -sample 1x2"})
        files.emplace_back(options, Cjpeg(options));
    // Grey declaring 2 x 2, which means nothing for one component.
    std::vector<unsigned char> grey = Cjpeg("-grayscale");
    const auto sof = std::search(grey.begin(), grey.end(), std::begin(kSof0), std::end(kSof0));
    ASSERT_NE(sof, grey.end());
    sof[11] = 0x22;
    files.emplace_back("grey declaring 2x2", grey);
    const std::string cmyk = TempPath("cmyk.jpg");
    if (std::system(("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + std::string(Q32VEX_SOURCE_DIR) +
                     "/tests/data/photo1.ppm').convert('CMYK').save('" + cmyk + "', quality=90)\" 2>/dev/null")
                        .c_str()) == 0) {
        std::ifstream in(cmyk, std::ios::binary);
        files.emplace_back("Pillow CMYK", std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {}));
        std::remove(cmyk.c_str());
    }
    Peer& P = ThePeer();
    for (const auto& [name, jpeg] : files) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(jpeg.empty());
        int w = 0, h = 0, subsamp = -2, colorspace = -2, pw = 0, ph = 0, psubsamp = -3, pcolorspace = -3;
        tjhandle ours = tjInitDecompress();
        tjhandle peer = P.initDecompress();
        const int r = tjDecompressHeader3(ours, jpeg.data(), jpeg.size(), &w, &h, &subsamp, &colorspace);
        const int pr = P.header(peer, jpeg.data(), jpeg.size(), &pw, &ph, &psubsamp, &pcolorspace);
        EXPECT_EQ(r, pr) << tjGetErrorStr2(ours);
        if (pr == 0) {
            EXPECT_EQ(subsamp, psubsamp);
            EXPECT_EQ(colorspace, pcolorspace);
        } else {
            // A subsampling TurboJPEG has no name for fails the header read
            // (as the peer's does), not the decode.
            std::vector<unsigned char> pixels(451 * 300 * 3);
            EXPECT_EQ(tjDecompress2(ours, jpeg.data(), jpeg.size(), pixels.data(), 451, 0, 300, TJPF_RGB, 0), 0)
                << tjGetErrorStr2(ours);
        }
        tjDestroy(ours);
        P.destroy(peer);
        if (r != 0) continue;
        for (int pf = 0; pf < TJ_NUMPF; ++pf) {
            SCOPED_TRACE(pf);
            int status = 0, peerStatus = 0;
            std::string message;
            const Picture mine = Decode(jpeg, pf, false, &status, &message);
            const Picture theirs = Decode(jpeg, pf, true, &peerStatus, nullptr, TJFLAG_FASTUPSAMPLE);
            const bool four = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
            if (pf == TJPF_CMYK && !four) {
                EXPECT_EQ(status, -1);
                continue;
            }
            EXPECT_EQ(status, 0) << message;
            if (peerStatus == 0) EXPECT_GE(Psnr(mine, theirs), 40.0);
        }
    }
}

// Every pixel format and subsampling both ways: djpeg reads each stream, and
// each decode into every format agrees with the peer's decode of the same
// stream into that format.
TEST_F(TurboJpeg, EveryFormatAndSubsamplingBothWays) {
    REQUIRE_PEER();
    for (int pf : kCompressFormats) {
        const Picture photo = Photo(pf);
        ASSERT_FALSE(photo.pixels.empty());
        for (int subsamp : kSubsamplings) {
            SCOPED_TRACE("format " + std::to_string(pf) + ", subsampling " + std::to_string(subsamp));
            const std::vector<unsigned char> jpeg = Ours(photo, subsamp, 85);
            ASSERT_FALSE(jpeg.empty());
            EXPECT_TRUE(DjpegDecodes(jpeg, "every"));
            for (int out = 0; out < TJ_NUMPF; ++out) {
                int status = 0;
                std::string message;
                const Picture ours = Decode(jpeg, out, false, &status, &message);
                if (out == TJPF_CMYK) {
                    EXPECT_EQ(status, -1);
                    EXPECT_NE(message.find("CMYK"), std::string::npos) << message;
                    continue;
                }
                ASSERT_EQ(status, 0) << message;
                const Picture peer = Decode(jpeg, out, true);
                EXPECT_GE(Psnr(ours, peer), 40.0) << "decoded to format " << out;
            }
            // The stream is faithful to the source.
            const Picture back = Decode(jpeg, pf, false);
            if (subsamp != TJSAMP_GRAY || pf == TJPF_GRAY) EXPECT_GE(Psnr(back, photo), 30.0);
        }
    }
}

// Formats other than the codec's own are converted band by band on the way
// in and out, changing nothing: every colour format compresses to the bytes
// BGR gives, and every format decodes to the BGR decode's channels (grey:
// their rounded BT.601 luma), with 0xFF in a fourth byte.
TEST_F(TurboJpeg, ConvertedFormatsGiveExactlyTheDirectResults) {
    const Picture bgr = Photo(TJPF_BGR);
    for (int subsamp : kSubsamplings) {
        SCOPED_TRACE("subsampling " + std::to_string(subsamp));
        const std::vector<unsigned char> reference = Ours(bgr, subsamp, 85);
        for (int pf : kCompressFormats) {
            if (pf != TJPF_GRAY) EXPECT_EQ(Ours(Photo(pf), subsamp, 85), reference) << "from format " << pf;
        }
        const Picture direct = Decode(reference, TJPF_BGR, false);
        for (int out = 0; out < TJPF_CMYK; ++out) {
            const Picture got = Decode(reference, out, false);
            ASSERT_EQ(got.pixels.size(), direct.pixels.size() / 3 * size_t(tjPixelSize[out]));
            size_t wrong = 0;
            for (size_t i = 0; i < size_t(got.width) * size_t(got.height); ++i) {
                const unsigned char* d = &direct.pixels[3 * i];
                const unsigned char* g = &got.pixels[size_t(tjPixelSize[out]) * i];
                if (out == TJPF_GRAY) {
                    wrong += g[0] != ((19595u * d[2] + 38470u * d[1] + 7471u * d[0] + 32768u) >> 16);
                    continue;
                }
                wrong += g[tjRedOffset[out]] != d[2] || g[tjGreenOffset[out]] != d[1] || g[tjBlueOffset[out]] != d[0];
                if (tjPixelSize[out] == 4) {
                    const int fourth = 6 - tjRedOffset[out] - tjGreenOffset[out] - tjBlueOffset[out];
                    wrong += g[fourth] != 0xFF;
                }
            }
            EXPECT_EQ(wrong, 0u) << "pixels wrong in format " << out;
        }
    }
}

// Quality 50, 75 and 95 reach the peer's PSNR within 0.3 dB, at a size
// within 5% of the peer's. From quality 93 on (96 for chrominance) libjpeg's
// tables hold steps of 1, which this codec raises to 2, so its files are
// smaller there; they may not be larger.
TEST_F(TurboJpeg, QualityAndSizeMatchLibjpegTurbo) {
    REQUIRE_PEER();
    Peer& P = ThePeer();
    tjhandle peer = P.initCompress();
    for (int quality : {50, 75, 95}) {
        for (int subsamp : {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_GRAY}) {
            SCOPED_TRACE("quality " + std::to_string(quality) + ", subsampling " + std::to_string(subsamp));
            const int pf = subsamp == TJSAMP_GRAY ? TJPF_GRAY : TJPF_BGR;
            const Picture photo = Photo(pf);
            const std::vector<unsigned char> ours = Ours(photo, subsamp, quality);
            const std::vector<unsigned char> theirs = Compress(P.compress, peer, photo, subsamp, quality);
            ASSERT_FALSE(theirs.empty());
            const double ratio = double(ours.size()) / double(theirs.size());
            EXPECT_LE(ratio, 1.05) << ours.size() << " bytes against " << theirs.size();
            EXPECT_GE(ratio, quality < 93 ? 0.95 : 0.85) << ours.size() << " bytes against " << theirs.size();
            const double ourPsnr = Psnr(Decode(ours, pf, true), photo);
            const double theirPsnr = Psnr(Decode(theirs, pf, true), photo);
            EXPECT_NEAR(ourPsnr, theirPsnr, 0.3);
            std::printf("quality %d subsampling %d: size %.3f of the peer's, PSNR %.2f dB against %.2f\n", quality,
                        subsamp, ratio, ourPsnr, theirPsnr);
        }
    }
    P.destroy(peer);
}

// The peer's baseline streams decode here as djpeg -dct int decodes them.
TEST_F(TurboJpeg, PeerStreamsDecodeAtFortyDecibels) {
    REQUIRE_PEER();
    Peer& P = ThePeer();
    tjhandle peer = P.initCompress();
    for (int pf : {TJPF_BGR, TJPF_RGBX, TJPF_GRAY}) {
        const Picture photo = Photo(pf);
        for (int subsamp : kSubsamplings) {
            if ((pf == TJPF_GRAY) != (subsamp == TJSAMP_GRAY)) continue;  // the peer's rule
            for (int quality : {30, 90}) {
                const std::vector<unsigned char> jpeg = Compress(P.compress, peer, photo, subsamp, quality);
                ASSERT_FALSE(jpeg.empty());
                EXPECT_GE(Psnr(Decode(jpeg, pf, false), Decode(jpeg, pf, true)), 40.0)
                    << "format " << pf << ", subsampling " << subsamp << ", quality " << quality;
            }
        }
    }
    P.destroy(peer);
}

// Pure colours dotted with white and black (tests/data/saturated.ppm) take
// decoded channels far outside 0..255 once chroma is subsampled; they are
// clamped as the peer clamps them, to within a few levels of its pixels
// (its plain upsampling, which replicates chroma as this codec does).
TEST_F(TurboJpeg, StrongColoursAreClampedAsThePeerClampsThem) {
    REQUIRE_PEER();
    Peer& P = ThePeer();
    Picture picture;
    const std::string path = std::string(Q32VEX_SOURCE_DIR) + "/tests/data/saturated.ppm";
    unsigned char* data = tjLoadImage(path.c_str(), &picture.width, 1, &picture.height, &picture.pf, 0);
    ASSERT_NE(data, nullptr) << tjGetErrorStr2(nullptr);
    picture.pixels.assign(data, data + picture.pitch() * size_t(picture.height));
    tjFree(data);
    tjhandle peer = P.initCompress();
    for (int subsamp : {TJSAMP_420, TJSAMP_422}) {
        const std::vector<unsigned char> jpeg = Compress(P.compress, peer, picture, subsamp, 95);
        ASSERT_FALSE(jpeg.empty());
        const Picture ours = Decode(jpeg, TJPF_RGB, false);
        tjhandle h = P.initDecompress();
        Picture theirs = ours;
        ASSERT_EQ(P.decompress(h, jpeg.data(), jpeg.size(), theirs.pixels.data(), theirs.width, 0, theirs.height,
                               TJPF_RGB, TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE),
                  0);
        P.destroy(h);
        int largest = 0;
        for (size_t i = 0; i < ours.pixels.size(); ++i)
            largest = std::max(largest, std::abs(int(ours.pixels[i]) - int(theirs.pixels[i])));
        EXPECT_LE(largest, 8) << "subsampling " << subsamp;
    }
    P.destroy(peer);
}

// What the codec does not read is named; damaged files fail cleanly or
// decode, and never touch memory outside the caller's buffers (the
// sanitizer builds check that part).
TEST_F(TurboJpeg, RefusalsAndDamagedFilesGiveMinusOneAndAMessage) {
    const Picture photo = Photo(TJPF_BGR);
    const std::vector<unsigned char> arithmetic = Cjpeg("-arithmetic");
    // A chroma component whose samples would cover one and a half pixels
    // (2 x 1 next to 3 x 1), which libjpeg refuses too.
    std::vector<unsigned char> fractional = Cjpeg("-sample 3x1,1x1,1x1");
    ASSERT_FALSE(arithmetic.empty());
    ASSERT_GT(fractional.size(), 200u);
    const auto sof = std::search(fractional.begin(), fractional.end(), std::begin(kSof0), std::end(kSof0));
    ASSERT_NE(sof, fractional.end());
    sof[14] = 0x21;
    int status = 0;
    std::string message;
    Decode(arithmetic, TJPF_BGR, false, &status, &message);
    EXPECT_EQ(status, -1);
    EXPECT_NE(message.find("arithmetic-coded JPEG (SOF9)"), std::string::npos) << message;
    Decode(fractional, TJPF_BGR, false, &status, &message);
    EXPECT_EQ(status, -1);
    EXPECT_FALSE(message.empty());

    tjhandle h = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(h, photo.pixels.data(), photo.width, 0, photo.height, TJPF_BGR, &jpeg, &size, TJSAMP_420, 75,
                          TJFLAG_PROGRESSIVE),
              -1);
    EXPECT_NE(std::string(tjGetErrorStr2(h)).find("progressive"), std::string::npos);
    EXPECT_EQ(tjCompress2(h, photo.pixels.data(), photo.width, 0, photo.height, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 75,
                          0),
              -1);
    EXPECT_EQ(tjCompress2(h, photo.pixels.data(), photo.width, 0, photo.height, TJPF_BGR, &jpeg, &size, TJSAMP_420, 0, 0),
              -1);
    EXPECT_EQ(tjTransform(h, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_NE(std::string(tjGetErrorStr2(h)).find("not supported"), std::string::npos);
    EXPECT_EQ(tjGetErrorCode(h), TJERR_FATAL);
    tjDestroy(h);
    // Without a handle the message is the thread's.
    EXPECT_EQ(tjCompress2(nullptr, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0), -1);
    EXPECT_NE(std::string(tjGetErrorStr2(nullptr)).find("invalid handle"), std::string::npos);
    EXPECT_STREQ(tjGetErrorStr(), tjGetErrorStr2(nullptr));

    const std::vector<unsigned char> good = Ours(photo, TJSAMP_420, 75);
    int failures = 0;
    for (size_t cut = 0; cut < good.size(); cut += good.size() / 61 + 1) {
        std::vector<unsigned char> damaged(good.begin(), good.begin() + ptrdiff_t(cut));
        Decode(damaged, TJPF_RGBA, false, &status, &message);
        if (status != 0) {
            ++failures;
            EXPECT_FALSE(message.empty());
        }
    }
    for (size_t at = 2; at < good.size(); at += 97) {
        std::vector<unsigned char> damaged = good;
        damaged[at] ^= 0x5A;
        Decode(damaged, TJPF_RGB, false, &status, &message);
        failures += status != 0;
    }
    EXPECT_GT(failures, 0);
}

// Progressive files open, as they do with libjpeg-turbo: the pixels are
// those of the baseline file with the same coefficients (jpegtran makes it).
TEST_F(TurboJpeg, ProgressiveFilesDecode) {
    const std::vector<unsigned char> baseline = Ours(Photo(TJPF_BGR), TJSAMP_420, 85);
    const std::string in = TempPath("base.jpg"), out = TempPath("prog.jpg");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(baseline.data()),
                                              std::streamsize(baseline.size()));
    ASSERT_EQ(std::system(("jpegtran -progressive -outfile '" + out + "' '" + in + "'").c_str()), 0);
    std::ifstream file(out, std::ios::binary);
    const std::vector<unsigned char> progressive((std::istreambuf_iterator<char>(file)), {});
    std::remove(in.c_str());
    std::remove(out.c_str());
    int width = 0, height = 0, subsamp = -1, colorspace = -1;
    tjhandle h = tjInitDecompress();
    ASSERT_EQ(tjDecompressHeader3(h, progressive.data(), progressive.size(), &width, &height, &subsamp, &colorspace), 0)
        << tjGetErrorStr2(h);
    EXPECT_EQ(subsamp, TJSAMP_420);
    tjDestroy(h);
    for (int pf : {TJPF_BGR, TJPF_RGBA, TJPF_GRAY}) {
        const Picture fromProgressive = Decode(progressive, pf, false);
        EXPECT_EQ(fromProgressive.pixels, Decode(baseline, pf, false).pixels) << "format " << pf;
    }
}

// Row order, pitch, buffer reuse and NOREALLOC.
TEST_F(TurboJpeg, RowOrderPitchAndBuffers) {
    const Picture photo = Photo(TJPF_RGBX);
    tjhandle h = tjInitCompress();
    // Bottom-up rows with a padded pitch compress to the same stream.
    const size_t pitch = photo.pitch() + 12;
    std::vector<unsigned char> flipped(pitch * size_t(photo.height), 0xEE);
    for (int y = 0; y < photo.height; ++y)
        std::memcpy(flipped.data() + pitch * size_t(photo.height - 1 - y), photo.pixels.data() + photo.pitch() * size_t(y),
                    photo.pitch());
    const unsigned long bound = tjBufSize(photo.width, photo.height, TJSAMP_422);
    unsigned char* fixed = tjAlloc(int(bound));
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(h, flipped.data(), photo.width, int(pitch), photo.height, TJPF_RGBX, &fixed, &size, TJSAMP_422,
                          80, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC),
              0)
        << tjGetErrorStr2(h);
    const std::vector<unsigned char> expect = Ours(photo, TJSAMP_422, 80);
    EXPECT_EQ(std::vector<unsigned char>(fixed, fixed + size), expect);
    // A buffer too small is replaced; one large enough is kept.
    unsigned char* small = tjAlloc(10);
    unsigned long smallSize = 10;
    ASSERT_EQ(tjCompress2(h, photo.pixels.data(), photo.width, 0, photo.height, TJPF_RGBX, &small, &smallSize, TJSAMP_422,
                          80, 0),
              0);
    EXPECT_EQ(std::vector<unsigned char>(small, small + smallSize), expect);
    unsigned char* kept = fixed;
    size = bound;
    ASSERT_EQ(tjCompress2(h, photo.pixels.data(), photo.width, 0, photo.height, TJPF_RGBX, &kept, &size, TJSAMP_422, 80, 0),
              0);
    EXPECT_EQ(kept, fixed);
    tjFree(small);
    tjFree(kept);
    tjDestroy(h);

    // Bottom-up decoding into a padded pitch; alpha formats get opaque alpha.
    tjhandle d = tjInitDecompress();
    std::vector<unsigned char> rows(pitch * size_t(photo.height), 0x11);
    ASSERT_EQ(tjDecompress2(d, expect.data(), expect.size(), rows.data(), photo.width, int(pitch), photo.height, TJPF_BGRA,
                            TJFLAG_BOTTOMUP),
              0);
    const Picture top = Decode(expect, TJPF_BGRA, false);
    for (int y = 0; y < photo.height; ++y) {
        const unsigned char* row = rows.data() + pitch * size_t(photo.height - 1 - y);
        ASSERT_EQ(std::memcmp(row, top.pixels.data() + top.pitch() * size_t(y), top.pitch()), 0) << "row " << y;
        EXPECT_EQ(row[photo.pitch()], 0x11) << "the pitch's padding is left alone";
    }
    for (size_t i = 3; i < top.pixels.size(); i += 4) ASSERT_EQ(top.pixels[i], 0xFF);
    // Only the 1/1 scaling exists.
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(factors[0].num, 1);
    EXPECT_EQ(tjDecompress2(d, expect.data(), expect.size(), rows.data(), photo.width / 2, 0, 0, TJPF_BGR, 0), -1);
    tjDestroy(d);
}

// Handles are independent: threads each with their own give the serial bytes.
TEST_F(TurboJpeg, HandlesRunInParallel) {
    const Picture photo = Photo(TJPF_RGB);
    const std::vector<unsigned char> expect = Ours(photo, TJSAMP_420, 75);
    const Picture expectPixels = Decode(expect, TJPF_RGB, false);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 6; ++i) {
                if (Ours(photo, TJSAMP_420, 75) != expect) ++wrong;
                if (Decode(expect, TJPF_RGB, false).pixels != expectPixels.pixels) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// tjSaveImage and tjLoadImage keep the pixels, in PPM, PGM and BMP, for any
// format and row alignment.
TEST_F(TurboJpeg, ImagesSaveAndLoadBack) {
    for (int pf : {TJPF_RGB, TJPF_BGRX, TJPF_ARGB, TJPF_GRAY}) {
        const Picture photo = Photo(pf);
        for (const char* extension : {".ppm", ".bmp"}) {
            const std::string path = TempPath(std::string("save") + extension);
            ASSERT_EQ(tjSaveImage(path.c_str(), const_cast<unsigned char*>(photo.pixels.data()), photo.width, 0,
                                  photo.height, pf, 0),
                      0)
                << tjGetErrorStr2(nullptr);
            int width = 0, height = 0, format = pf;
            unsigned char* back = tjLoadImage(path.c_str(), &width, 4, &height, &format, TJFLAG_BOTTOMUP);
            ASSERT_NE(back, nullptr) << tjGetErrorStr2(nullptr);
            const size_t pitch = (photo.pitch() + 3) & ~size_t(3);
            Picture loaded;
            loaded.width = width, loaded.height = height, loaded.pf = pf;
            for (int y = 0; y < height; ++y) {
                const unsigned char* row = back + pitch * size_t(height - 1 - y);
                loaded.pixels.insert(loaded.pixels.end(), row, row + photo.pitch());
            }
            tjFree(back);
            std::remove(path.c_str());
            EXPECT_EQ(Psnr(loaded, photo), 99) << extension << ", format " << pf;
        }
    }
    int width = 0, height = 0, pf = TJPF_UNKNOWN;
    EXPECT_EQ(tjLoadImage("/nonexistent.ppm", &width, 1, &height, &pf, 0), nullptr);
    EXPECT_NE(std::string(tjGetErrorStr2(nullptr)).find("tjLoadImage"), std::string::npos);
}

// A damaged stream: the call fails with a warning after writing the
// picture, and its code is the peer's, with and without
// TJFLAG_STOPONWARNING (under which the peer stops at the damage, while the
// whole picture is written here); an intact one succeeds in both.
TEST_F(TurboJpeg, DamagedStreamsWarnAsThePeerDoes) {
    REQUIRE_PEER();
    const std::vector<unsigned char> good = Cjpeg("-restart 2");
    ASSERT_FALSE(good.empty());
    std::vector<unsigned char> renumbered = good;
    for (size_t i = good.size() / 2; i + 1 < good.size(); ++i) {
        if (good[i] == 0xFF && good[i + 1] >= 0xD0 && good[i + 1] <= 0xD7) {
            renumbered[i + 1] = (unsigned char)(0xD0 + (good[i + 1] - 0xD0 + 1) % 8);
            break;
        }
    }
    ASSERT_NE(renumbered, good);
    const std::vector<std::pair<std::string, std::vector<unsigned char>>> cases = {
        {"intact", good},
        {"cut", std::vector<unsigned char>(good.begin(), good.begin() + long(good.size() * 2 / 3))},
        {"no end marker", std::vector<unsigned char>(good.begin(), good.end() - 2)},
        {"restart renumbered", renumbered},
    };
    for (const auto& [name, jpeg] : cases) {
        for (const int flags : {0, TJFLAG_STOPONWARNING}) {
            SCOPED_TRACE(name + (flags != 0 ? " stopping on warnings" : ""));
            int ours = 0, theirs = 0, ourCode = -1, theirCode = -1;
            std::string message;
            const Picture a = Decode(jpeg, TJPF_RGB, false, &ours, &message, flags, &ourCode);
            const Picture b = Decode(jpeg, TJPF_RGB, true, &theirs, nullptr, flags, &theirCode);
            EXPECT_EQ(ours, theirs) << message;
            EXPECT_EQ(ours, name == "intact" ? 0 : -1) << message;
            if (ours != 0) {
                EXPECT_EQ(ourCode, theirCode);
                EXPECT_EQ(ourCode, TJERR_WARNING);
                EXPECT_EQ(message.rfind("tjDecompress2(): ", 0), 0u) << message;
            }
            if (flags == 0) EXPECT_GE(Psnr(a, b), 40.0);
        }
    }
}

}  // namespace
