// Damaged streams on instances that read them (VEX_OPTION_EXTENDED_FRAMES):
// the picture as far as the data goes, grey where it is missing, and a
// report of what was wrong, with djpeg as the judge of both. Instances
// without the option keep the legacy reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "q32vex_codec.h"
#include "test_support.h"

namespace {

using namespace vextest;

class DamagedStreams : public LibraryTest {
protected:
    void SetUp() override {
        if (!HaveTool("cjpeg") || !HaveTool("djpeg")) GTEST_SKIP() << "cjpeg and djpeg are the oracle here";
    }
};

constexpr int kMcu = 16;          // cjpeg's default 4:2:0
constexpr int kRowsPerRestart = 2;  // -restart 2: two MCU rows per interval

std::vector<uint8_t> Photo(const std::string& options) { return Cjpeg(options, DataPath("photo1.ppm")); }

// Offsets of the first entropy-coded byte and of each restart marker.
struct Layout {
    size_t data = 0;
    std::vector<size_t> restarts;
};

Layout Find(const std::vector<uint8_t>& jpeg) {
    Layout l;
    for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
        if (jpeg[i] != 0xFF) continue;
        if (l.data == 0 && jpeg[i + 1] == 0xDA) l.data = i + 2 + size_t(jpeg[i + 2] << 8 | jpeg[i + 3]);
        if (l.data != 0 && i >= l.data && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) l.restarts.push_back(i);
    }
    return l;
}

struct Decoded {
    int16_t status = -1;
    VexDecodeReport report{};
    Image image;
};

// The whole picture through the one-call form, RGB or grey, on an instance
// with or without the option.
Decoded Decode(const std::vector<uint8_t>& jpeg, bool extended, bool grey = false) {
    Decoded d;
    VexCodec* codec = VexCodecCreate();
    EXPECT_EQ(VexCodecSetOption(codec, VEX_OPTION_EXTENDED_FRAMES, extended ? 1 : 0), 0);
    AppVexParams p = compress::ReadParams(VEX_CONTAINER_JFIF, grey ? 3 : 1, grey ? 3 : 1);
    d.status = VexReadInfoMemory(codec, &p, jpeg.data(), jpeg.size());
    if (d.status == 0) {
        d.image.width = p.width;
        d.image.height = p.height;
        d.image.bytesPerPixel = grey ? 1 : 3;
        d.image.pixels.assign(size_t(p.width) * p.height * d.image.bytesPerPixel, 0xAA);
        d.status = VexDecompressMemory(codec, &p, jpeg.data(), jpeg.size(), d.image.pixels.data(),
                                       p.width * d.image.bytesPerPixel);
    }
    EXPECT_EQ(VexCodecDecodeReport(codec, &d.report), 0);
    VexCodecDestroy(codec);
    return d;
}

// Rows [top, bottom) of a picture.
Pnm Rows(const Pnm& p, int top, int bottom) {
    bottom = std::min(bottom, p.height);
    return Crop(p, 0, top, p.width, std::max(0, bottom - top));
}

// Our decode of a stream that may be damaged against djpeg's: where djpeg
// warns ("Premature end of JPEG file", "Corrupt JPEG data: ...") and exits
// 2, we decode the whole picture and report damage; where it finds nothing
// wrong, neither do we. The rows outside [lostTop, lostBottom) agree at 40 dB
// or better (no rows are lost when lostTop == lostBottom). *warned tells
// which it was.
Decoded ExpectLikeDjpeg(const std::vector<uint8_t>& jpeg, int lostTop, int lostBottom, const std::string& tag,
                        bool* warned = nullptr) {
    Pnm peer;
    std::string messages;
    const int exit = DjpegWarnings(jpeg, &peer, &messages, "-dct int -nosmooth");
    if (warned != nullptr) *warned = exit == 2;
    if (warned == nullptr) EXPECT_EQ(exit, 2) << tag << ": " << messages;
    if (exit == 2) EXPECT_NE(messages.find("JPEG"), std::string::npos) << tag << ": " << messages;
    Decoded ours = Decode(jpeg, true);
    EXPECT_EQ(ours.status, 0) << tag;
    EXPECT_EQ(ours.report.damage != 0, exit == 2) << tag << ": " << messages;
    if (ours.status != 0 || peer.width != ours.image.width) return ours;
    const Pnm mine = BgrAsPnm(ours.image);
    if (lostTop > 0) EXPECT_GE(Psnr(Rows(mine, 0, lostTop), Rows(peer, 0, lostTop)), 40.0) << tag << ": above";
    if (lostBottom < mine.height)
        EXPECT_GE(Psnr(Rows(mine, lostBottom, mine.height), Rows(peer, lostBottom, mine.height)), 40.0)
            << tag << ": below";
    return ours;
}

TEST_F(DamagedStreams, IntactStreamsReportNothing) {
    for (const std::string options : {"-quality 85", "-quality 85 -restart 2", "-grayscale -restart 1B"}) {
        const std::vector<uint8_t> jpeg = Photo(options);
        ASSERT_FALSE(jpeg.empty());
        const Decoded d = Decode(jpeg, true, options.find("gray") != std::string::npos);
        ASSERT_EQ(d.status, 0) << options;
        EXPECT_EQ(d.report.damage, 0u) << options;
        EXPECT_EQ(d.report.skippedBytes, 0u) << options;
        EXPECT_EQ(d.report.restartFaults, 0u) << options;
    }
}

TEST_F(DamagedStreams, TruncatedStreamsEndInGreyWhereDjpegSaysPrematureEnd) {
    for (const std::string options : {"-quality 85", "-quality 85 -restart 2"}) {
        const std::vector<uint8_t> jpeg = Photo(options);
        const Layout l = Find(jpeg);
        ASSERT_NE(l.data, 0u);
        const int mcusPerRow = (451 + kMcu - 1) / kMcu;
        for (double fraction : {0.05, 0.3, 0.6, 0.9, 0.99}) {
            const size_t cut = l.data + size_t(double(jpeg.size() - l.data) * fraction);
            const std::vector<uint8_t> head(jpeg.begin(), jpeg.begin() + ptrdiff_t(cut));
            const std::string tag = options + " cut at " + std::to_string(cut);
            // Both decoders pad the MCUs past the data's end with grey: the
            // whole picture agrees.
            const Decoded d = ExpectLikeDjpeg(head, 0, 0, tag);
            EXPECT_TRUE(d.report.damage & VEX_DAMAGE_NO_END_MARKER) << tag;
            ASSERT_TRUE(d.report.damage & VEX_DAMAGE_DATA_ENDED) << tag;
            // The MCU named is where the cut is: the part above decoded, the
            // rows below its MCU row flat grey.
            const int row = int(d.report.dataEndedAtMcu) / mcusPerRow;
            EXPECT_GT(d.report.dataEndedAtMcu, 0u) << tag;
            EXPECT_LT(row, 19) << tag;
            const Pnm mine = BgrAsPnm(d.image);
            const Pnm below = Rows(mine, (row + 1) * kMcu, mine.height);
            if (options.find("restart") == std::string::npos && below.height > 0)
                EXPECT_TRUE(std::all_of(below.samples.begin(), below.samples.end(), [](uint8_t v) { return v == 128; }))
                    << tag;
        }
    }
}

TEST_F(DamagedStreams, MissingEndMarkerAloneIsReported) {
    std::vector<uint8_t> jpeg = Photo("-quality 85");
    jpeg.resize(jpeg.size() - 2);
    const Decoded d = ExpectLikeDjpeg(jpeg, 0, 0, "no EOI");
    EXPECT_EQ(d.report.damage, uint32_t(VEX_DAMAGE_NO_END_MARKER));
}

TEST_F(DamagedStreams, RestartMarkersRenumberedOrDroppedResynchroniseAsDjpegDoes) {
    const std::vector<uint8_t> jpeg = Photo("-quality 85 -restart 2");
    const Layout l = Find(jpeg);
    ASSERT_GE(l.restarts.size(), 8u);
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    for (int delta : {1, 2, 3, 6, 7}) {
        Case c{"RST3 renumbered by " + std::to_string(delta), jpeg};
        c.bytes[l.restarts[3] + 1] = uint8_t(0xD0 + (3 + delta) % 8);
        cases.push_back(c);
    }
    for (size_t dropped : {size_t(0), size_t(4), l.restarts.size() - 1}) {
        Case c{"RST" + std::to_string(dropped % 8) + " dropped", jpeg};
        c.bytes.erase(c.bytes.begin() + ptrdiff_t(l.restarts[dropped]), c.bytes.begin() + ptrdiff_t(l.restarts[dropped] + 2));
        cases.push_back(c);
    }
    for (const Case& c : cases) {
        // The same intervals are lost in both decoders, and turn out the
        // same grey: the whole picture agrees.
        const Decoded d = ExpectLikeDjpeg(c.bytes, 0, 0, c.name);
        EXPECT_TRUE(d.report.damage & VEX_DAMAGE_RESTART) << c.name;
        EXPECT_GE(d.report.restartFaults, 1u) << c.name;
        EXPECT_FALSE(d.report.damage & VEX_DAMAGE_NO_END_MARKER) << c.name;
    }
}

TEST_F(DamagedStreams, CorruptEntropyDataSpoilsOnlyItsInterval) {
    const std::vector<uint8_t> jpeg = Photo("-quality 85 -restart 2");
    const Layout l = Find(jpeg);
    ASSERT_GE(l.restarts.size(), 8u);
    int badCodes = 0, warned = 0;
    for (size_t interval : {size_t(1), size_t(4), size_t(7)}) {
        for (uint8_t pattern : {uint8_t(0x5A), uint8_t(0xFE), uint8_t(0x00)}) {
            std::vector<uint8_t> bytes = jpeg;
            // Bytes a third of the way into the interval; none becomes a
            // marker's 0xFF.
            const size_t start = l.restarts[interval - 1] + 2;
            const size_t at = start + (l.restarts[interval] - start) / 3;
            for (size_t i = at; i < at + 24; ++i) {
                if (bytes[i] == 0xFF || bytes[i - 1] == 0xFF) continue;
                bytes[i] = pattern == 0x5A ? uint8_t(bytes[i] ^ pattern) : pattern;
                if (bytes[i] == 0xFF) bytes[i] = 0xFE;
            }
            const std::string tag = "interval " + std::to_string(interval) + " pattern " + std::to_string(pattern);
            const int top = int(interval) * kRowsPerRestart * kMcu;
            bool peerWarned = false;
            const Decoded d = ExpectLikeDjpeg(bytes, top, top + kRowsPerRestart * kMcu, tag, &peerWarned);
            warned += peerWarned;
            if (d.report.damage & VEX_DAMAGE_CORRUPT_DATA) {
                ++badCodes;
                // The first bad code lies inside the damaged interval.
                const uint32_t mcusPerRow = (451 + kMcu - 1) / kMcu;
                EXPECT_GE(d.report.corruptAtMcu, interval * kRowsPerRestart * mcusPerRow) << tag;
                EXPECT_LT(d.report.corruptAtMcu, (interval + 1) * kRowsPerRestart * mcusPerRow) << tag;
            }
            EXPECT_EQ(d.report.restartFaults, 0u) << tag;
        }
    }
    // Most of these spoil their interval (a few decode by chance into codes
    // that end just where the interval does); runs of 0xFE hold codes no
    // table has.
    EXPECT_GE(warned, 6);
    EXPECT_GT(badCodes, 0);
}

// Without the option an instance reads as the legacy exports do: the same
// status and pixels, and nothing to report.
TEST_F(DamagedStreams, InstancesWithoutTheOptionKeepTheLegacyReading) {
    const std::vector<uint8_t> jpeg = Photo("-quality 85 -restart 2");
    const Layout l = Find(jpeg);
    std::vector<std::vector<uint8_t>> damaged;
    damaged.emplace_back(jpeg.begin(), jpeg.begin() + ptrdiff_t((jpeg.size() + l.data) / 2));
    damaged.push_back(jpeg);
    damaged.back()[l.restarts[2] + 1] = 0xD3;  // the next one's number
    damaged.push_back(jpeg);
    damaged.back().erase(damaged.back().begin() + ptrdiff_t(l.restarts[5]),
                         damaged.back().begin() + ptrdiff_t(l.restarts[5] + 2));
    for (size_t i = 0; i < damaged.size(); ++i) {
        const Decoded plain = Decode(damaged[i], false);
        Image legacy;
        const int16_t status =
            DecompressImage(damaged[i], compress::ReadParams(VEX_CONTAINER_JFIF, 1, 1), {}, &legacy);
        EXPECT_EQ(plain.status, status) << i;
        EXPECT_EQ(plain.image.pixels, legacy.pixels) << i;
        EXPECT_EQ(plain.report.damage, 0u) << i;
        // The reading of damaged streams gives other pixels on these.
        EXPECT_NE(Decode(damaged[i], true).image.pixels, legacy.pixels) << i;
    }
}

}  // namespace
