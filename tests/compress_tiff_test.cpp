// The TIFF-JPEG container: header bytes, directory entries and every
// out-of-line offset, the tile arrays filled in at the end, and tiles whose
// entropy data djpeg reads once a JPEG header with the directory's tables is
// put in front of it.
#include <map>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::Le16;
using compress::Le32;
using compress::MakeParams;

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
    bool operator==(const Entry& o) const {
        return tag == o.tag && type == o.type && count == o.count && value == o.value;
    }
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{tag 0x" << std::hex << e.tag << std::dec << ", type " << e.type << ", count " << e.count
              << ", value " << e.value << "}";
}

struct Tiff {
    Bytes f;
    std::vector<Entry> entries;
    std::map<uint16_t, Entry> byTag;
    std::vector<uint32_t> offsets, counts;
};

// Writes `p` as TIFF and reads its directory and tile arrays back.
Tiff Write(AppVexParams p, const Image& image, CompressOptions o = CompressOptions()) {
    Tiff t;
    p.containerKind = VEX_CONTAINER_TIFF;
    EXPECT_EQ(CompressImage(p, image, o, &t.f), 0);
    const Bytes& f = t.f;
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 8), Bytes({0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08}));
    for (uint16_t i = 0; i < Le16(f, 8); ++i) {
        const size_t at = 10 + 12u * i;
        t.entries.push_back({Le16(f, at), Le16(f, at + 2), Le32(f, at + 4), Le32(f, at + 8)});
        t.byTag[t.entries.back().tag] = t.entries.back();
    }
    EXPECT_EQ(Le32(f, 10 + 12 * t.entries.size()), 0u) << "no next directory";
    const Entry off = t.byTag[0x0144], cnt = t.byTag[0x0145];
    EXPECT_EQ(off.count, cnt.count);
    for (uint32_t i = 0; i < off.count; ++i) {
        t.offsets.push_back(Le32(f, off.value + 4 * i));
        t.counts.push_back(Le32(f, cnt.value + 4 * i));
    }
    // The arrays back to back, then the tiles back to back to the end.
    EXPECT_EQ(cnt.value, off.value + 4 * off.count);
    uint32_t next = off.value + 8 * off.count;
    for (size_t i = 0; i < t.offsets.size(); ++i) {
        EXPECT_GT(t.counts[i], 0u) << "tile " << i;
        EXPECT_EQ(t.offsets[i], next) << "tile " << i;
        next = t.offsets[i] + t.counts[i];
    }
    EXPECT_EQ(next, f.size());
    return t;
}

class CompressTiff : public LibraryTest {};

TEST_F(CompressTiff, GreyLayoutHasTwentyEntriesAndItsOffsets) {
    AppVexParams p = MakeParams(3, 3, 100, 50);
    p.tileWidth = 32;
    p.tileHeight = 24;
    p.densityUnits = 1;
    p.xDensity = 300;
    p.yDensity = 200;
    p.restartInterval = 9;
    const Tiff t = Write(p, MakeTestImage(100, 50, 1, 3));
    // B 254, X 256, qtable offsets 272, DC offsets 340, AC offsets 372
    // (after the 28 bytes of the DC table), the arrays at 554.
    const std::vector<Entry> expected = {
        {0x00FE, 4, 1, 0}, {0x0100, 4, 1, 100}, {0x0101, 4, 1, 50},  {0x0102, 3, 1, 254},  {0x0103, 4, 1, 6},
        {0x0106, 3, 1, 0}, {0x0115, 3, 1, 1},   {0x011A, 5, 1, 256}, {0x011B, 5, 1, 264},  {0x011C, 3, 1, 1},
        {0x0128, 3, 1, 2}, {0x0142, 3, 1, 32},  {0x0143, 3, 1, 24},  {0x0144, 4, 12, 554}, {0x0145, 4, 12, 602},
        {0x0200, 3, 1, 0}, {0x0203, 3, 1, 9},   {0x0207, 4, 1, 272}, {0x0208, 4, 1, 340},  {0x0209, 4, 1, 372},
    };
    EXPECT_EQ(t.entries, expected);
    const Bytes& f = t.f;
    EXPECT_EQ(Le16(f, 254), 8);
    EXPECT_EQ(std::vector<uint32_t>({Le32(f, 256), Le32(f, 260), Le32(f, 264), Le32(f, 268)}),
              std::vector<uint32_t>({300, 1, 200, 1}));
    EXPECT_EQ(Le32(f, 272), 276u);
    EXPECT_EQ(f[276], 8);  // the luminance table's 16 at quality 25
    EXPECT_EQ(Le32(f, 340), 344u);
    EXPECT_EQ(Bytes(f.begin() + 344, f.begin() + 347), Bytes({0, 1, 5}));  // DC BITS: 0, 1, 5, 1, ...
    EXPECT_EQ(Le32(f, 372), 376u);
    EXPECT_EQ(Bytes(f.begin() + 376, f.begin() + 379), Bytes({0, 2, 1}));  // AC BITS: 0, 2, 1, 3, ...
}

TEST_F(CompressTiff, YcbcrLayoutHasTwentyThreeEntriesAndItsOffsets) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.tileWidth = 48;
    p.tileHeight = 16;
    p.xDensity = 72;
    p.yDensity = 96;
    const Tiff t = Write(p, MakeTestImage(100, 50, 3, 4));
    ASSERT_EQ(t.entries.size(), 23u);
    // B 290, R 296, X 320, qtable offsets 336 (tables at 348, 412, 476),
    // D 540 (tables at 552, 580, 608), A 636 (tables at 648, 826, 1004),
    // tile arrays at 1182.
    for (const Entry& e : std::vector<Entry>{{0x0102, 3, 3, 290},
                                             {0x0106, 3, 1, 6},
                                             {0x0115, 3, 1, 3},
                                             {0x011A, 5, 1, 320},
                                             {0x0128, 3, 1, 1},
                                             {0x0142, 3, 1, 48},
                                             {0x0143, 3, 1, 16},
                                             {0x0144, 4, 12, 1182},
                                             {0x0203, 3, 1, 0},
                                             {0x0207, 4, 3, 336},
                                             {0x0208, 4, 3, 540},
                                             {0x0209, 4, 3, 636},
                                             {0x0210, 3, 1, 2},
                                             {0x0212, 3, 2, 2 | 1 << 16},
                                             {0x0214, 4, 6, 296}})
        EXPECT_EQ(t.byTag.at(e.tag), e);
    const Bytes& f = t.f;
    std::vector<uint32_t> words;
    for (size_t at : {296, 300, 304, 308, 312, 316, 320, 328, 336, 340, 344, 540, 544, 548, 636, 640, 644})
        words.push_back(Le32(f, at));
    EXPECT_EQ(words, std::vector<uint32_t>(
                         {0, 255, 128, 255, 128, 255, 72, 96, 348, 412, 476, 552, 580, 608, 648, 826, 1004}));
    // Each component has its own copy, even of equal tables.
    EXPECT_EQ(Bytes(f.begin() + 412, f.begin() + 476), Bytes(f.begin() + 476, f.begin() + 540));
    EXPECT_EQ(Bytes({f[348], f[412], f[413]}), Bytes({8, 8, 9}));  // 16, 17, 18 at quality 25

    // One untiled image still gets one-entry arrays held by offset.
    const Tiff one = Write(MakeParams(3, 3, 30, 20), MakeTestImage(30, 20, 1, 5));
    EXPECT_EQ(one.byTag.at(0x0142).value, 30u);
    EXPECT_EQ(one.byTag.at(0x0144), (Entry{0x0144, 4, 1, 554}));
}

// A JPEG interchange stream around one tile's entropy data, built from the
// directory: distinct tables once each, the tile's size and sampling.
Bytes JpegAroundTile(const Tiff& t, size_t tile) {
    const Bytes& f = t.f;
    const uint32_t n = t.byTag.at(0x0115).value & 0xFFFF;
    Bytes j = {0xFF, 0xD8};
    auto word = [&](size_t v) { j.insert(j.end(), {uint8_t(v >> 8), uint8_t(v)}); };
    Bytes ids[3];
    Bytes dqt, dht;
    const uint16_t tags[3] = {0x0207, 0x0208, 0x0209};
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<Bytes> distinct;
        for (uint32_t c = 0; c < n; ++c) {
            const uint32_t off = Le32(f, t.byTag.at(tags[kind]).value + 4 * c);
            size_t size = 64;
            if (kind > 0) {
                size = 16;
                for (int i = 0; i < 16; ++i) size += f[off + i];
            }
            const Bytes table(f.begin() + off, f.begin() + off + size);
            size_t id = std::find(distinct.begin(), distinct.end(), table) - distinct.begin();
            if (id == distinct.size()) {
                distinct.push_back(table);
                Bytes& segment = kind == 0 ? dqt : dht;
                segment.push_back(uint8_t((kind == 2 ? 0x10 : 0) | id));
                segment.insert(segment.end(), table.begin(), table.end());
            }
            ids[kind].push_back(uint8_t(id));
        }
    }
    j.insert(j.end(), {0xFF, 0xDB});
    word(2 + dqt.size());
    j.insert(j.end(), dqt.begin(), dqt.end());
    j.insert(j.end(), {0xFF, 0xC4});
    word(2 + dht.size());
    j.insert(j.end(), dht.begin(), dht.end());
    if (t.byTag.at(0x0203).value != 0) {
        j.insert(j.end(), {0xFF, 0xDD, 0, 4});
        word(t.byTag.at(0x0203).value & 0xFFFF);
    }
    const uint32_t sub = t.byTag.count(0x0212) ? t.byTag.at(0x0212).value : 0x10001;
    j.insert(j.end(), {0xFF, 0xC0});
    word(8 + 3 * n);
    j.push_back(8);
    word(t.byTag.at(0x0143).value & 0xFFFF);
    word(t.byTag.at(0x0142).value & 0xFFFF);
    j.push_back(uint8_t(n));
    for (uint32_t c = 0; c < n; ++c)
        j.insert(j.end(), {uint8_t(c + 1), uint8_t(c == 0 ? (sub & 15) << 4 | (sub >> 16 & 15) : 0x11), ids[0][c]});
    j.insert(j.end(), {0xFF, 0xDA});
    word(6 + 2 * n);
    j.push_back(uint8_t(n));
    for (uint32_t c = 0; c < n; ++c) j.insert(j.end(), {uint8_t(c + 1), uint8_t(ids[1][c] << 4 | ids[2][c])});
    j.insert(j.end(), {0, 63, 0});
    j.insert(j.end(), f.begin() + t.offsets[tile], f.begin() + t.offsets[tile] + t.counts[tile]);
    j.insert(j.end(), {0xFF, 0xD9});
    return j;
}

TEST_F(CompressTiff, EveryTileDecodesWithTheDirectorysTables) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
    struct Case {
        int format, sampling;
        uint16_t tileWidth, tileHeight, restart;
    };
    const int width = 200, height = 130;
    for (const Case& c : {Case{3, 3, 64, 48, 0}, Case{3, 3, 64, 48, 3}, Case{1, 1, 64, 48, 0}, Case{1, 0, 48, 32, 2},
                          Case{2, 2, 80, 40, 0}}) {
        const Image image = compress::PhotoImage(c.format, width, height);
        AppVexParams p = MakeParams(c.format, c.sampling, width, height);
        p.tileWidth = c.tileWidth;
        p.tileHeight = c.tileHeight;
        p.restartInterval = c.restart;
        const Tiff t = Write(p, image);
        const int across = (width + c.tileWidth - 1) / c.tileWidth;
        ASSERT_EQ(t.offsets.size(), size_t(across * ((height + c.tileHeight - 1) / c.tileHeight)));
        const Pnm expected = compress::Expected(image, c.format);
        for (size_t k = 0; k < t.offsets.size(); ++k) {
            const std::string tag = "format " + std::to_string(c.format) + " tile " + std::to_string(k);
            if (c.restart != 0) {  // markers in every tile start again at D0
                const Bytes m = compress::ScanMarkers(t.f, t.offsets[k], t.offsets[k] + t.counts[k]);
                ASSERT_FALSE(m.empty());
                for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i], 0xD0 + i % 8) << tag;
            }
            Pnm d;
            ASSERT_TRUE(Djpeg(JpegAroundTile(t, k), &d)) << tag;
            ASSERT_EQ(d.width, c.tileWidth);
            ASSERT_EQ(d.height, c.tileHeight);
            // Compare the part of the tile that lies in the image (the rest is padding).
            const int x0 = int(k % across) * c.tileWidth, y0 = int(k / across) * c.tileHeight;
            EXPECT_GE(Psnr(Crop(d, 0, 0, width - x0, height - y0), Crop(expected, x0, y0, c.tileWidth, c.tileHeight)),
                      30.0)
                << tag;
        }
    }
}

// More tiles than one 16-bit byte count of array bytes can carry: the
// trailer still fills both arrays completely, whatever the buffer size.
TEST_F(CompressTiff, LargeTileArraysAreFilledCompletely) {
    const int width = 8 * 2100, height = 64;  // 2100 x 8 = 16800 tiles of 8 x 8
    const Image image = MakeTestImage(width, height, 1, 6);
    AppVexParams p = MakeParams(3, 3, width, height);
    p.tileWidth = 8;
    p.tileHeight = 8;
    CompressOptions o;
    o.outputBuffer = 65535;
    const Tiff big = Write(p, image, o);
    EXPECT_EQ(big.offsets.size(), 16800u);
    o.outputBuffer = 7;
    o.bandWidth = 64;
    o.bandHeight = 8;
    EXPECT_EQ(Write(p, image, o).f, big.f);
}

}  // namespace
}  // namespace vextest
