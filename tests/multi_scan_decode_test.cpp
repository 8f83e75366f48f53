// Sequential frames beyond the legacy reader on instances with
// VEX_OPTION_EXTENDED_FRAMES: several scans per frame (cjpeg and jpegtran
// scripts, with and without restart intervals), SOF1 with four Huffman tables
// of each class, a height given by DNL, fill bytes and junk between
// segments. A file that codes the same coefficients as a single-scan one must
// give its pixels byte for byte; cjpeg's files agree with djpeg. The legacy
// exports and instances without the option refuse them as before.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "container/jpeg_parser.h"
#include "decode/input_reader.h"
#include "decode/progressive_decoder.h"
#include "instance_decode.h"
#include "platform/allocator.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

int16_t DecodeExtended(const Bytes& stream, Image* out, int formatIndex = 1) {
    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    if (instance.optionStatus != 0) return -1;
    return DecodeOnInstance(instance.codec, stream, JfifReadParams(formatIndex), out);
}

// The single-scan file's pixels through today's streaming path.
int16_t DecodePlain(const Bytes& stream, Image* out, int formatIndex = 1) {
    Instance plain;
    return DecodeOnInstance(plain.codec, stream, JfifReadParams(formatIndex), out);
}

// Offsets of every FF `code` pair outside entropy-coded data that
// stuffs its 0xFF bytes (markers only: cjpeg's files put no 0xFF in
// segment bodies that these searches look for).
std::vector<size_t> MarkersOf(const Bytes& jpeg, uint8_t code) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code) at.push_back(i);
    return at;
}

size_t FirstMarker(const Bytes& jpeg, uint8_t code) {
    const std::vector<size_t> at = MarkersOf(jpeg, code);
    return at.empty() ? 0 : at[0];
}

size_t FrameHeader(const Bytes& jpeg) {
    const size_t sof0 = FirstMarker(jpeg, 0xC0);
    return sof0 != 0 ? sof0 : FirstMarker(jpeg, 0xC1);
}

size_t SegmentEnd(const Bytes& jpeg, size_t marker) { return marker + 2 + (jpeg[marker + 2] << 8 | jpeg[marker + 3]); }

// Where the entropy-coded data behind the scan header at `sos` ends: the
// next marker other than a restart marker.
size_t ScanDataEnd(const Bytes& jpeg, size_t sos) {
    for (size_t i = SegmentEnd(jpeg, sos); i + 1 < jpeg.size(); ++i) {
        const uint8_t next = jpeg[i + 1];
        if (jpeg[i] == 0xFF && next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) return i;
    }
    return jpeg.size();
}

Bytes Insert(Bytes jpeg, size_t at, const Bytes& bytes) {
    jpeg.insert(jpeg.begin() + long(at), bytes.begin(), bytes.end());
    return jpeg;
}

void SetHeight(Bytes& jpeg, uint16_t height) {
    const size_t sof = FrameHeader(jpeg);
    jpeg[sof + 5] = uint8_t(height >> 8);
    jpeg[sof + 6] = uint8_t(height);
}

// The frame header says 0 lines; a DNL segment with `lines` follows the
// first scan.
Bytes WithDnl(Bytes jpeg, uint16_t lines) {
    const size_t end = ScanDataEnd(jpeg, FirstMarker(jpeg, 0xDA));
    SetHeight(jpeg, 0);
    return Insert(jpeg, end, {0xFF, 0xDC, 0x00, 0x04, uint8_t(lines >> 8), uint8_t(lines)});
}

// 0xFF fill bytes in front of every restart marker of the entropy-coded data.
Bytes WithFillBeforeRestarts(const Bytes& jpeg, int fill) {
    const size_t sos = FirstMarker(jpeg, 0xDA);
    Bytes out(jpeg.begin(), jpeg.begin() + long(SegmentEnd(jpeg, sos)));
    for (size_t i = out.size(); i < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && i + 1 < jpeg.size() && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7)
            out.insert(out.end(), size_t(fill), uint8_t(0xFF));
        out.push_back(jpeg[i]);
    }
    return out;
}

bool HasSeveralScans(const Bytes& jpeg) { return MarkersOf(jpeg, 0xDA).size() > 1; }

struct Picture {
    const char* name;
    int x, y, width, height;  // the crop of photo1 (width 0: the whole of it)
};

const Picture kPictures[] = {
    {"photo", 0, 0, 0, 0}, {"crop_33x17", 101, 57, 33, 17}, {"crop_130x66", 250, 180, 130, 66}};

std::string PicturePath(const Picture& picture) {
    return PhotoCrop(std::string("scans_") + picture.name, picture.x, picture.y, picture.width, picture.height);
}

const char* const kSamplings[] = {"-sample 2x2", "-sample 2x1", "-sample 1x1", "-sample 4x1"};
// Full-spectrum scan scripts: one component per scan, chroma interleaved,
// luma and one chroma component interleaved, and an order other than the
// frame's.
const char* const kScripts[] = {"0;1;2;", "0;1 2;", "0 1;2;", "2;0;1;"};
const char* const kRestarts[] = {"", "-restart 1", "-restart 3B"};

std::string ScriptFile(const char* script) {
    std::string name = "scans_";
    for (const char* p = script; *p != 0; ++p) name += std::isdigit(uint8_t(*p)) ? *p : '_';
    return WriteText(name + ".txt", script);
}

class MultiScanExactness : public LibraryTest {};

// cjpeg codes the same coefficients whether its scan script splits the
// components or not, so the stored frame must give exactly the pixels the
// streaming engine gives for the single-scan file.
TEST_F(MultiScanExactness, CjpegScriptsGiveTheSingleScanPixelsByteForByte) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    int compared = 0;
    for (const Picture& picture : kPictures) {
        const std::string input = PicturePath(picture);
        ASSERT_FALSE(input.empty());
        for (const char* sampling : kSamplings) {
            for (const char* restart : kRestarts) {
                const std::string options = std::string(sampling) + " " + restart;
                const Bytes single = Cjpeg(options, input);
                Image expected;
                ASSERT_EQ(DecodePlain(single, &expected), 0) << picture.name << " " << options;
                for (const char* script : kScripts) {
                    SCOPED_TRACE(std::string(picture.name) + " " + options + " " + script);
                    const Bytes multi = Cjpeg(options + " -scans " + ScriptFile(script), input);
                    ASSERT_TRUE(HasSeveralScans(multi));
                    ASSERT_NE(FirstMarker(multi, 0xC0), 0u);
                    Image decoded;
                    ASSERT_EQ(DecodeExtended(multi, &decoded), 0);
                    // Same size (the pixel vectors would differ otherwise) and pixels.
                    EXPECT_TRUE(decoded.pixels == expected.pixels);
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 3 * 4 * 3 * 4);
}

// jpegtran moves a baseline file's coefficients into the scans of a script
// without touching them; a restart interval of its own makes the intervals
// of the scans differ from the original's.
TEST_F(MultiScanExactness, JpegtranScriptsKeepTheCoefficients) {
    if (!HaveTool("cjpeg") || !HaveTool("jpegtran")) GTEST_SKIP() << "cjpeg/jpegtran not installed";
    int compared = 0;
    for (const char* sampling : kSamplings) {
        const Bytes single = Cjpeg(std::string(sampling) + " -restart 2", PicturePath(kPictures[2]));
        Image expected;
        ASSERT_EQ(DecodePlain(single, &expected), 0);
        for (const char* script : kScripts) {
            for (const char* restart : {"", "-restart 1", "-restart 5B"}) {
                SCOPED_TRACE(std::string(sampling) + " " + script + " " + restart);
                const Bytes multi = Jpegtran(std::string("-scans ") + ScriptFile(script) + " " + restart, single);
                ASSERT_TRUE(HasSeveralScans(multi));
                Image decoded;
                ASSERT_EQ(DecodeExtended(multi, &decoded), 0);
                EXPECT_TRUE(decoded.pixels == expected.pixels);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 4 * 4 * 3);
}

// Every pixel format's output routine, fed from the store, and the
// restart interval changed between scans by a DRI segment of its own.
TEST_F(MultiScanExactness, PixelFormatsAndARestartIntervalPerScan) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::string input = PicturePath(kPictures[0]);
    const Bytes single = Cjpeg("-sample 2x2", input);
    Bytes multi = Cjpeg("-sample 2x2 -scans " + ScriptFile("0;1 2;"), input);
    ASSERT_TRUE(HasSeveralScans(multi));
    for (int format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        Image expected, decoded;
        ASSERT_EQ(DecodePlain(single, &expected, format), 0);
        ASSERT_EQ(DecodeExtended(multi, &decoded, format), 0);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
    }
    // The luma scan with an interval of 7 MCUs, the chroma scan with none:
    // made from two files that differ only in the interval.
    const Bytes withRestarts = Cjpeg("-sample 2x2 -restart 7B -scans " + ScriptFile("0;1 2;"), input);
    const std::vector<size_t> scans = MarkersOf(withRestarts, 0xDA);
    const std::vector<size_t> plainScans = MarkersOf(multi, 0xDA);
    ASSERT_EQ(scans.size(), 2u);
    ASSERT_EQ(plainScans.size(), 2u);
    Bytes mixed(withRestarts.begin(), withRestarts.begin() + long(scans[1]));
    const Bytes noInterval = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x00};
    mixed.insert(mixed.end(), noInterval.begin(), noInterval.end());
    mixed.insert(mixed.end(), multi.begin() + long(plainScans[1]), multi.end());
    Image expected, decoded;
    ASSERT_EQ(DecodePlain(single, &expected), 0);
    ASSERT_EQ(DecodeExtended(mixed, &decoded), 0);
    EXPECT_TRUE(decoded.pixels == expected.pixels);
    // The interval the luma scan needs, dropped, breaks the picture: the
    // interval is read per scan.
    Bytes wrong = mixed;
    const size_t dri = FirstMarker(wrong, 0xDD);
    ASSERT_NE(dri, 0u);
    wrong[dri + 5] = 0;
    ASSERT_EQ(DecodeExtended(wrong, &decoded), 0);
    EXPECT_FALSE(decoded.pixels == expected.pixels);
}

class MultiScanOracle : public LibraryTest {};

TEST_F(MultiScanOracle, CjpegFilesAgreeWithDjpeg) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    double worst = 1000;
    for (const Picture& picture : kPictures) {
        for (const char* sampling : kSamplings) {
            for (const char* script : {"0;1;2;", "0 1;2;"}) {
                const std::string options =
                    std::string(sampling) + " -quality 90 -restart 2 -scans " + ScriptFile(script);
                SCOPED_TRACE(std::string(picture.name) + " " + options);
                const Bytes jpeg = Cjpeg(options, PicturePath(picture));
                ASSERT_TRUE(HasSeveralScans(jpeg));
                Image decoded;
                ASSERT_EQ(DecodeExtended(jpeg, &decoded), 0);
                worst = std::min(worst, PsnrAgainstDjpeg(decoded, jpeg));
                ASSERT_GE(worst, 40.0);
            }
        }
    }
    std::printf("lowest PSNR against djpeg: %.2f dB\n", worst);
}

// SOF1 frames: a single scan on tables 0 and 1 streams as SOF0 does; chroma
// moved to Huffman tables 3 (which only SOF1 may have) goes to the store.
// Both give the original's pixels; djpeg reads the edited file the same way.
TEST_F(MultiScanOracle, ExtendedSequentialWithFourTablesOfEachClass) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    const std::string input = PicturePath(kPictures[2]);
    for (const char* script : {"", "0;1 2;"}) {
        SCOPED_TRACE(script);
        const std::string options = std::string("-sample 2x1 -optimize") +
                                    (*script != 0 ? std::string(" -scans ") + ScriptFile(script) : std::string());
        const Bytes original = Cjpeg(options, input);
        Image expected;
        ASSERT_EQ(DecodeExtended(original, &expected), 0);
        Bytes sof1 = original;
        sof1[FrameHeader(sof1) + 1] = 0xC1;
        Image decoded;
        ASSERT_EQ(DecodeExtended(sof1, &decoded), 0);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
        ExpectLegacyRefusal(sof1);
        // Every DHT class/id byte 0x01 or 0x11 becomes 0x03 or 0x13, every
        // scan selector 0x11 becomes 0x33.
        for (size_t dht : MarkersOf(sof1, 0xC4)) {
            size_t at = dht + 4;
            while (at < SegmentEnd(sof1, dht)) {
                int symbols = 0;
                for (int i = 1; i <= 16; ++i) symbols += sof1[at + i];
                if ((sof1[at] & 15) == 1) sof1[at] = uint8_t(sof1[at] + 2);
                at += 17 + size_t(symbols);
            }
        }
        for (size_t sos : MarkersOf(sof1, 0xDA)) {
            for (int c = 0; c < sof1[sos + 4]; ++c)
                if (sof1[sos + 6 + 2 * c] == 0x11) sof1[sos + 6 + 2 * c] = 0x33;
        }
        ASSERT_EQ(DecodeExtended(sof1, &decoded), 0);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
        EXPECT_GE(PsnrAgainstDjpeg(decoded, sof1), 40.0);
        ExpectLegacyRefusal(sof1);
    }
    // Quantisation entries above 255 (16-bit tables) are no 8-bit table: refused
    // rather than cut to their low bytes.
    const Bytes coarse = Cjpeg("-quality 2", input);
    ASSERT_NE(FirstMarker(coarse, 0xC1), 0u);
    Image decoded;
    EXPECT_EQ(DecodeExtended(coarse, &decoded), VEX_ERR_CONTAINER);
}

class DnlHeight : public LibraryTest {};

// A frame header of 0 lines and the height in a DNL segment after the first
// scan: the header read reports the height, the decode gives the original's
// pixels, with one scan (streamed before, now stored) or several.
TEST_F(DnlHeight, HeightComesFromTheDnlSegment) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const std::string input = PicturePath(kPictures[2]);
    for (const std::string& options :
         {std::string("-sample 2x2"), std::string("-grayscale -restart 1"), std::string("-sample 1x1 -restart 2"),
          "-sample 2x2 -scans " + ScriptFile("0;1 2;"), "-sample 2x1 -restart 1 -scans " + ScriptFile("0;1;2;")}) {
        SCOPED_TRACE(options);
        const Bytes original = Cjpeg(options, input);
        Image expected;
        ASSERT_EQ(DecodeExtended(original, &expected), 0);
        const Bytes dnl = WithDnl(original, 66);
        Instance instance({VEX_OPTION_EXTENDED_FRAMES});
        AppVexParams p = JfifReadParams();
        ASSERT_EQ(VexReadInfoMemory(instance.codec, &p, dnl.data(), dnl.size()), 0);
        EXPECT_EQ(p.height, 66);
        EXPECT_EQ(p.width, 130);
        Image decoded;
        ASSERT_EQ(DecodeOnInstance(instance.codec, dnl, JfifReadParams(), &decoded), 0);
        EXPECT_EQ(decoded.height, 66);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
        // Through the host's read callback in small pieces.
        AppVexParams q = JfifReadParams();
        q.readCallback = SourceRead;
        ResetSource(dnl, 500);
        ASSERT_EQ(VexReadInfo(instance.codec, &q), 0);
        EXPECT_EQ(q.height, 66);
    }
}

TEST_F(DnlHeight, WithoutAUsableDnlSegmentTheFrameIsRefused) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const Bytes original = Cjpeg("-sample 2x2", PicturePath(kPictures[2]));
    Bytes noDnl = original;
    SetHeight(noDnl, 0);
    Image out;
    EXPECT_EQ(DecodeExtended(noDnl, &out), VEX_ERR_CONTAINER);
    EXPECT_EQ(DecodeExtended(WithDnl(original, 0), &out), VEX_ERR_CONTAINER);
    Bytes cut = WithDnl(original, 66);
    cut.resize(cut.size() - 3);  // into the DNL segment
    EXPECT_EQ(DecodeExtended(cut, &out), VEX_ERR_CONTAINER);
    // Without the option nothing changes: the header reads as 0 lines, and
    // the open refuses as it did.
    const Bytes dnl = WithDnl(original, 66);
    Instance plain;
    AppVexParams p = JfifReadParams();
    EXPECT_EQ(VexReadInfoMemory(plain.codec, &p, dnl.data(), dnl.size()), 0);
    EXPECT_EQ(p.height, 0);
    const int16_t plainOpen = DecodeOnInstance(plain.codec, dnl, JfifReadParams(), &out);
    EXPECT_NE(plainOpen, 0);
    AppVexParams legacy = JfifReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(dnl, 4096);
    EXPECT_EQ(AppVexGetCompInfo(&legacy), 0);
    EXPECT_EQ(legacy.height, 0);
    legacy = JfifReadParams();
    legacy.readCallback = SourceRead;
    ResetSource(dnl, 4096);
    EXPECT_EQ(AppVexDecompressBuffInit(&legacy), plainOpen);
}

class FillAndJunk : public LibraryTest {};

// Fill bytes before markers of the header, between scans and before the end
// marker, and junk between header segments and between scans: the extended
// read steps over them; the legacy reader refuses the header's.
TEST_F(FillAndJunk, SkippedAsDjpegSkipsThem) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg/djpeg not installed";
    const std::string input = PicturePath(kPictures[2]);
    const Bytes single = Cjpeg("-sample 2x2 -restart 1", input);
    const Bytes multi = Cjpeg("-sample 2x2 -restart 1 -scans " + ScriptFile("0;1 2;"), input);
    Image expected;
    ASSERT_EQ(DecodePlain(single, &expected), 0);
    const Bytes fill = {0xFF, 0xFF, 0xFF};
    const Bytes junk = {0x00, 0x12, 0xFF, 0x00, 0x34};
    struct Case {
        const char* name;
        Bytes stream;
        bool headerEdited;
    };
    const std::vector<Case> cases = {
        {"fill before DQT", Insert(single, FirstMarker(single, 0xDB), fill), true},
        {"fill before SOS", Insert(single, FirstMarker(single, 0xDA), fill), true},
        {"fill before EOI", Insert(single, single.size() - 2, fill), false},
        {"fill before restart markers", WithFillBeforeRestarts(single, 1), false},
        {"fills before restart markers", WithFillBeforeRestarts(single, 3), false},
        {"fill before restart markers of several scans", WithFillBeforeRestarts(multi, 2), false},
        {"junk before SOF", Insert(single, FirstMarker(single, 0xC0), junk), true},
        {"junk and fill before DHT", Insert(Insert(single, FirstMarker(single, 0xC4), fill), FirstMarker(single, 0xC4), junk), true},
        {"fill between scans", Insert(multi, MarkersOf(multi, 0xDA)[1], fill), false},
        {"junk between scans", Insert(multi, MarkersOf(multi, 0xDA)[1], junk), false},
        {"junk in both", Insert(Insert(multi, MarkersOf(multi, 0xDA)[1], junk), FirstMarker(multi, 0xDB), junk), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image decoded;
        ASSERT_EQ(DecodeExtended(c.stream, &decoded), 0);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
        // djpeg warns about junk (extraneous bytes), not about fill bytes.
        Pnm reference;
        bool warned = false;
        ASSERT_TRUE(DjpegDamaged(c.stream, &reference, &warned, "-dct int -nosmooth"));
        EXPECT_EQ(warned, std::string(c.name).find("junk") != std::string::npos);
        EXPECT_GE(Psnr(BgrAsPnm(decoded), reference), 40.0);
        if (c.headerEdited) ExpectLegacyRefusal(c.stream);
    }
}

// The reader's count of skipped bytes: junk only, fill bytes not, in the
// header and between the scans the store decoder reads.
TEST_F(FillAndJunk, SkippedBytesCountTheJunk) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const Bytes multi = Cjpeg("-sample 2x2 -scans " + ScriptFile("0;1 2;"), PicturePath(kPictures[1]));
    const Bytes headerJunk = {0x00, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF};  // 5 junk, 2 fill
    const Bytes scanJunk = {0x56, 0x78, 0x9A, 0xFF, 0xFF, 0xFF};          // 3 junk, 3 fill
    const Bytes edited =
        Insert(Insert(multi, MarkersOf(multi, 0xDA)[1], scanJunk), FirstMarker(multi, 0xC4), headerJunk);
    ResetSource(edited, 700);
    q32vex::InputBuffer in{};
    q32vex::HostIo io{};
    io.read = SourceRead;
    q32vex::ResetInput(in, io);
    q32vex::TableSlots slots{};
    AppVexParams p = JfifReadParams();
    for (int i = 0; i < 4; ++i) p.qTables[i] = slots.q[i];
    for (int i = 0; i < 2; ++i) {
        p.dcTables[i] = slots.dc[i];
        p.acTables[i] = slots.ac[i];
    }
    q32vex::JpegFrame frame{};
    ASSERT_EQ(q32vex::ParseJpegHeader(in, slots, &p, &frame, q32vex::JpegFrameKinds{false, true}), 0);
    EXPECT_TRUE(frame.stored);
    EXPECT_EQ(in.skippedBytes, 5u);
    in.segmentLimit = q32vex::kUntiledSegmentLimit;
    in.readAhead = 65535;
    q32vex::ProgressiveState store{};
    ASSERT_EQ(q32vex::DecodeProgressiveScans(store, frame, p, slots, in, uint64_t(1) << 24), 0);
    EXPECT_EQ(in.skippedBytes, 8u);
    q32vex::ReleaseProgressive(store);
    // A fresh read starts from 0.
    q32vex::ResetInput(in, io);
    EXPECT_EQ(in.skippedBytes, 0u);
}

class MultiScanRefusal : public LibraryTest {};

// The legacy exports, a plain instance and one with the progressive option
// alone refuse several scans at the first scan header, as before.
TEST_F(MultiScanRefusal, LegacyExportsAndInstancesWithoutTheOption) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    const Bytes multi = Cjpeg("-sample 2x2 -scans " + ScriptFile("0;1;2;"), PicturePath(kPictures[2]));
    ExpectLegacyRefusal(multi);
    Image out;
    Instance progressive({VEX_OPTION_PROGRESSIVE});
    EXPECT_EQ(DecodeOnInstance(progressive.codec, multi, JfifReadParams(), &out), VEX_ERR_CONTAINER);
    Instance toggled({VEX_OPTION_EXTENDED_FRAMES});
    ASSERT_EQ(VexCodecSetOption(toggled.codec, VEX_OPTION_EXTENDED_FRAMES, 0), 0);
    EXPECT_EQ(DecodeOnInstance(toggled.codec, multi, JfifReadParams(), &out), VEX_ERR_CONTAINER);
}

// The store's budget holds for stored sequential frames as for progressive
// ones: refused before the store is allocated.
TEST_F(MultiScanRefusal, BudgetRefusesBeforeAllocating) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    Bytes multi = Cjpeg("-sample 1x1 -scans " + ScriptFile("0;1;2;"), PicturePath(kPictures[0]));
    SetHeight(multi, 600);  // 57 x 75 MCUs of three blocks: 1.6 MB
    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 1), 0);
    AppVexParams p = JfifReadParams();
    ASSERT_EQ(VexReadInfoMemory(instance.codec, &p, multi.data(), multi.size()), 0);
    EXPECT_EQ(VexCodecProgressiveBytes(instance.codec), uint64_t(57) * 75 * 3 * 128);
    q32vex::ResetPeakBytes();
    const int64_t before = q32vex::GetAllocatorStats().peakBytes;
    Image out;
    EXPECT_EQ(DecodeOnInstance(instance.codec, multi, JfifReadParams(), &out), VEX_ERR_IMAGE_SIZE);
    EXPECT_LT(q32vex::GetAllocatorStats().peakBytes - before, 256 * 1024);
    ASSERT_EQ(VexCodecSetOption(instance.codec, VEX_OPTION_PROGRESSIVE_BUDGET, 2), 0);
    EXPECT_EQ(DecodeOnInstance(instance.codec, multi, JfifReadParams(), &out), 0);
}

// Several threads: a stored frame is no run of restart intervals of one
// scan and decodes as on one thread.
TEST_F(MultiScanRefusal, ThreadsDecodeAStoredFrameWhole) {
    if (!HaveTool("cjpeg")) GTEST_SKIP() << "cjpeg not installed";
    // The first scan interleaves two components, so its restart intervals
    // are whole MCU rows of the frame, as a cut into strips needs.
    const Bytes multi = Cjpeg("-sample 2x2 -restart 1 -scans " + ScriptFile("0 1;2;"), PicturePath(kPictures[0]));
    Image whole;
    ASSERT_EQ(DecodeExtended(multi, &whole), 0);
    Instance instance({VEX_OPTION_EXTENDED_FRAMES});
    AppVexParams p = JfifReadParams();
    ASSERT_EQ(VexReadInfoMemory(instance.codec, &p, multi.data(), multi.size()), 0);
    std::vector<uint8_t> pixels(whole.pixels.size(), 0);
    ASSERT_EQ(VexDecompressMemoryThreads(instance.codec, &p, multi.data(), multi.size(), pixels.data(),
                                         ptrdiff_t(whole.width) * 3, 4),
              0);
    EXPECT_TRUE(pixels == whole.pixels);
}

}  // namespace
}  // namespace vextest
