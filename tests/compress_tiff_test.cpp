// The TIFF-JPEG container: header bytes, directory entries and every
// out-of-line offset, the tile arrays filled in at the end, and tiles whose
// entropy data a real decoder reads once a JPEG header with the directory's
// tables is put in front of it.
#include <map>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using compress::CompressBands;
using compress::Decoded;
using compress::Djpeg;
using compress::Feed;
using compress::MakeParams;

uint16_t U16(const std::vector<uint8_t>& f, size_t at) { return uint16_t(f[at] | f[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 |
           uint32_t(f[at + 3]) << 24;
}

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
};

struct Tiff {
    std::vector<Entry> entries;
    std::map<uint16_t, Entry> byTag;
    std::vector<uint32_t> offsets, counts;
};

bool ParseTiff(const std::vector<uint8_t>& f, Tiff* t) {
    if (f.size() < 10) return false;
    const uint16_t n = U16(f, 8);
    if (f.size() < 10 + 12u * n + 4) return false;
    for (uint16_t i = 0; i < n; ++i) {
        const size_t at = 10 + 12u * i;
        const Entry e = {U16(f, at), U16(f, at + 2), U32(f, at + 4), U32(f, at + 8)};
        t->entries.push_back(e);
        t->byTag[e.tag] = e;
    }
    const Entry& off = t->byTag[0x0144];
    const Entry& cnt = t->byTag[0x0145];
    if (off.value + 4ull * off.count > f.size() || cnt.value + 4ull * cnt.count > f.size())
        return false;
    for (uint32_t i = 0; i < off.count; ++i) t->offsets.push_back(U32(f, off.value + 4 * i));
    for (uint32_t i = 0; i < cnt.count; ++i) t->counts.push_back(U32(f, cnt.value + 4 * i));
    return true;
}

void ExpectEntry(const Tiff& t, size_t index, uint16_t tag, uint16_t type, uint32_t count,
                 uint32_t value) {
    ASSERT_LT(index, t.entries.size());
    const Entry& e = t.entries[index];
    EXPECT_EQ(e.tag, tag) << "entry " << index;
    EXPECT_EQ(e.type, type) << "tag " << tag;
    EXPECT_EQ(e.count, count) << "tag " << tag;
    EXPECT_EQ(e.value, value) << "tag " << tag;
}

// Tiles follow the room for the two arrays back to back, to the end of file.
void ExpectTilesPacked(const Tiff& t, size_t fileSize) {
    const Entry& off = t.byTag.at(0x0144);
    ASSERT_EQ(t.offsets.size(), t.counts.size());
    ASSERT_FALSE(t.offsets.empty());
    EXPECT_EQ(t.byTag.at(0x0145).value, off.value + 4 * off.count);
    EXPECT_EQ(t.offsets[0], off.value + 8 * off.count);
    for (size_t i = 0; i + 1 < t.offsets.size(); ++i) {
        EXPECT_GT(t.counts[i], 0u) << "tile " << i;
        ASSERT_EQ(t.offsets[i + 1], t.offsets[i] + t.counts[i]) << "tile " << i;
    }
    EXPECT_EQ(t.offsets.back() + t.counts.back(), fileSize);
}

class CompressTiff : public LibraryTest {};

TEST_F(CompressTiff, GreyLayoutHasTwentyEntriesAndItsOffsets) {
    AppVexParams p = MakeParams(3, 3, 100, 50);
    p.containerKind = 2;
    p.tileWidth = 32;
    p.tileHeight = 24;
    p.densityUnits = 1;
    p.xDensity = 300;
    p.yDensity = 200;
    p.restartInterval = 9;
    std::vector<uint8_t> f;
    ASSERT_EQ(CompressBands(p, MakeTestImage(100, 50, 1, 3), Feed{}, &f), 0);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 8),
              (std::vector<uint8_t>{0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08}));
    Tiff t;
    ASSERT_TRUE(ParseTiff(f, &t));
    ASSERT_EQ(t.entries.size(), 20u);
    EXPECT_EQ(U32(f, 10 + 20 * 12), 0u);  // no next directory

    // Grey: B 254, X 256, qtable offsets 272, DC offsets 340, AC offsets 372
    // (after 28 bytes of the K.3 table), the arrays at 554 (after K.5).
    const uint32_t tiles = 4 * 3;
    ExpectEntry(t, 0, 0x00FE, 4, 1, 0);
    ExpectEntry(t, 1, 0x0100, 4, 1, 100);
    ExpectEntry(t, 2, 0x0101, 4, 1, 50);
    ExpectEntry(t, 3, 0x0102, 3, 1, 254);
    ExpectEntry(t, 4, 0x0103, 4, 1, 6);
    ExpectEntry(t, 5, 0x0106, 3, 1, 0);
    ExpectEntry(t, 6, 0x0115, 3, 1, 1);
    ExpectEntry(t, 7, 0x011A, 5, 1, 256);
    ExpectEntry(t, 8, 0x011B, 5, 1, 264);
    ExpectEntry(t, 9, 0x011C, 3, 1, 1);
    ExpectEntry(t, 10, 0x0128, 3, 1, 2);
    ExpectEntry(t, 11, 0x0142, 3, 1, 32);
    ExpectEntry(t, 12, 0x0143, 3, 1, 24);
    ExpectEntry(t, 13, 0x0144, 4, tiles, 554);
    ExpectEntry(t, 14, 0x0145, 4, tiles, 554 + 4 * tiles);
    ExpectEntry(t, 15, 0x0200, 3, 1, 0);
    ExpectEntry(t, 16, 0x0203, 3, 1, 9);
    ExpectEntry(t, 17, 0x0207, 4, 1, 272);
    ExpectEntry(t, 18, 0x0208, 4, 1, 340);
    ExpectEntry(t, 19, 0x0209, 4, 1, 372);

    EXPECT_EQ(U16(f, 254), 8);
    EXPECT_EQ(U32(f, 256), 300u);
    EXPECT_EQ(U32(f, 260), 1u);
    EXPECT_EQ(U32(f, 264), 200u);
    EXPECT_EQ(U32(f, 268), 1u);
    EXPECT_EQ(U32(f, 272), 276u);
    EXPECT_EQ(f[276], 8);  // K.1's 16 at quality 25
    EXPECT_EQ(U32(f, 340), 344u);
    EXPECT_EQ(f[344 + 1], 1);  // K.3 BITS: 0, 1, 5, 1, ...
    EXPECT_EQ(f[344 + 2], 5);
    EXPECT_EQ(U32(f, 372), 376u);
    EXPECT_EQ(f[376 + 1], 2);  // K.5 BITS: 0, 2, 1, 3, ...
    EXPECT_EQ(f[376 + 16], 0x01);
    ExpectTilesPacked(t, f.size());
}

TEST_F(CompressTiff, YcbcrLayoutHasTwentyThreeEntriesAndItsOffsets) {
    AppVexParams p = MakeParams(1, 0, 100, 50);
    p.containerKind = 2;
    p.tileWidth = 48;
    p.tileHeight = 16;
    p.xDensity = 72;
    p.yDensity = 96;
    std::vector<uint8_t> f;
    ASSERT_EQ(CompressBands(p, MakeTestImage(100, 50, 3, 4), Feed{}, &f), 0);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 8),
              (std::vector<uint8_t>{0x49, 0x49, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08}));
    Tiff t;
    ASSERT_TRUE(ParseTiff(f, &t));
    ASSERT_EQ(t.entries.size(), 23u);
    EXPECT_EQ(U32(f, 10 + 23 * 12), 0u);

    // B 290, R 296, X 320, qtable offsets 336 (tables at 348, 412, 476),
    // D 540 (tables at 552, 580, 608), A 636 (tables at 648, 826, 1004),
    // T 1182.
    const uint32_t tiles = 3 * 4;
    ExpectEntry(t, 3, 0x0102, 3, 3, 290);
    ExpectEntry(t, 5, 0x0106, 3, 1, 6);
    ExpectEntry(t, 6, 0x0115, 3, 1, 3);
    ExpectEntry(t, 7, 0x011A, 5, 1, 320);
    ExpectEntry(t, 8, 0x011B, 5, 1, 328);
    ExpectEntry(t, 10, 0x0128, 3, 1, 1);
    ExpectEntry(t, 11, 0x0142, 3, 1, 48);
    ExpectEntry(t, 12, 0x0143, 3, 1, 16);
    ExpectEntry(t, 13, 0x0144, 4, tiles, 1182);
    ExpectEntry(t, 14, 0x0145, 4, tiles, 1182 + 4 * tiles);
    ExpectEntry(t, 16, 0x0203, 3, 1, 0);
    ExpectEntry(t, 17, 0x0207, 4, 3, 336);
    ExpectEntry(t, 18, 0x0208, 4, 3, 540);
    ExpectEntry(t, 19, 0x0209, 4, 3, 636);
    ExpectEntry(t, 20, 0x0210, 3, 1, 2);
    ExpectEntry(t, 21, 0x0212, 3, 2, 2 | 1 << 16);
    ExpectEntry(t, 22, 0x0214, 4, 6, 296);

    for (int c = 0; c < 3; ++c) EXPECT_EQ(U16(f, 290 + 2 * c), 8);
    const uint32_t reference[6] = {0, 255, 128, 255, 128, 255};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(U32(f, 296 + 4 * i), reference[i]);
    EXPECT_EQ(U32(f, 320), 72u);
    EXPECT_EQ(U32(f, 324), 1u);
    EXPECT_EQ(U32(f, 328), 96u);
    EXPECT_EQ(U32(f, 332), 1u);
    EXPECT_EQ(U32(f, 336), 348u);
    EXPECT_EQ(U32(f, 340), 412u);
    EXPECT_EQ(U32(f, 344), 476u);
    // Each component has its own copy, even of equal tables.
    EXPECT_EQ(std::vector<uint8_t>(f.begin() + 412, f.begin() + 476),
              std::vector<uint8_t>(f.begin() + 476, f.begin() + 540));
    EXPECT_EQ(f[348], 8);
    EXPECT_EQ(f[412], 8);  // K.2's 17 at quality 25
    EXPECT_EQ(f[413], 9);
    EXPECT_EQ(U32(f, 540), 552u);
    EXPECT_EQ(U32(f, 544), 580u);
    EXPECT_EQ(U32(f, 548), 608u);
    EXPECT_EQ(U32(f, 636), 648u);
    EXPECT_EQ(U32(f, 640), 826u);
    EXPECT_EQ(U32(f, 644), 1004u);
    ExpectTilesPacked(t, f.size());
}

// One untiled image still gets one-entry arrays held by offset.
TEST_F(CompressTiff, SingleTileArraysAreStillOffsets) {
    AppVexParams p = MakeParams(3, 3, 30, 20);
    p.containerKind = 2;
    std::vector<uint8_t> f;
    ASSERT_EQ(CompressBands(p, MakeTestImage(30, 20, 1, 5), Feed{}, &f), 0);
    Tiff t;
    ASSERT_TRUE(ParseTiff(f, &t));
    ExpectEntry(t, 11, 0x0142, 3, 1, 30);
    ExpectEntry(t, 12, 0x0143, 3, 1, 20);
    ExpectEntry(t, 13, 0x0144, 4, 1, 554);
    ExpectEntry(t, 14, 0x0145, 4, 1, 558);
    ExpectTilesPacked(t, f.size());
}

// A JPEG interchange stream around one tile's entropy data, built from the
// directory: distinct tables once each, the tile's size and sampling.
std::vector<uint8_t> JpegAroundTile(const std::vector<uint8_t>& f, const Tiff& t, size_t tile) {
    const uint32_t n = t.byTag.at(0x0115).value & 0xFFFF;
    std::vector<uint8_t> j = {0xFF, 0xD8};
    auto word = [&](uint32_t v) {
        j.push_back(uint8_t(v >> 8));
        j.push_back(uint8_t(v));
    };
    // Distinct tables of a kind, each component's id.
    auto distinct = [&](uint16_t tag, bool huffman, std::vector<std::vector<uint8_t>>* tables,
                        std::vector<uint8_t>* ids) {
        const uint32_t at = t.byTag.at(tag).value;
        for (uint32_t c = 0; c < n; ++c) {
            const uint32_t off = U32(f, at + 4 * c);
            size_t size = 64;
            if (huffman) {
                size = 16;
                for (int i = 0; i < 16; ++i) size += f[off + i];
            }
            std::vector<uint8_t> table(f.begin() + off, f.begin() + off + size);
            size_t id = 0;
            while (id < tables->size() && (*tables)[id] != table) ++id;
            if (id == tables->size()) tables->push_back(table);
            ids->push_back(uint8_t(id));
        }
    };
    std::vector<std::vector<uint8_t>> q, dc, ac;
    std::vector<uint8_t> qId, dcId, acId;
    distinct(0x0207, false, &q, &qId);
    distinct(0x0208, true, &dc, &dcId);
    distinct(0x0209, true, &ac, &acId);
    j.push_back(0xFF);
    j.push_back(0xDB);
    word(2 + 65 * q.size());
    for (size_t i = 0; i < q.size(); ++i) {
        j.push_back(uint8_t(i));
        j.insert(j.end(), q[i].begin(), q[i].end());
    }
    size_t dhtLength = 2;
    for (auto& d : dc) dhtLength += 1 + d.size();
    for (auto& a : ac) dhtLength += 1 + a.size();
    j.push_back(0xFF);
    j.push_back(0xC4);
    word(uint32_t(dhtLength));
    for (size_t i = 0; i < dc.size(); ++i) {
        j.push_back(uint8_t(i));
        j.insert(j.end(), dc[i].begin(), dc[i].end());
    }
    for (size_t i = 0; i < ac.size(); ++i) {
        j.push_back(uint8_t(0x10 | i));
        j.insert(j.end(), ac[i].begin(), ac[i].end());
    }
    if (t.byTag.at(0x0203).value != 0) {
        j.insert(j.end(), {0xFF, 0xDD, 0, 4});
        word(t.byTag.at(0x0203).value & 0xFFFF);
    }
    uint8_t h0 = 1, v0 = 1;
    if (t.byTag.count(0x0212)) {
        h0 = uint8_t(t.byTag.at(0x0212).value);
        v0 = uint8_t(t.byTag.at(0x0212).value >> 16);
    }
    j.insert(j.end(), {0xFF, 0xC0});
    word(8 + 3 * n);
    j.push_back(8);
    word(t.byTag.at(0x0143).value & 0xFFFF);
    word(t.byTag.at(0x0142).value & 0xFFFF);
    j.push_back(uint8_t(n));
    for (uint32_t c = 0; c < n; ++c) {
        j.push_back(uint8_t(c + 1));
        j.push_back(c == 0 ? uint8_t(h0 << 4 | v0) : 0x11);
        j.push_back(qId[c]);
    }
    j.insert(j.end(), {0xFF, 0xDA});
    word(6 + 2 * n);
    j.push_back(uint8_t(n));
    for (uint32_t c = 0; c < n; ++c) {
        j.push_back(uint8_t(c + 1));
        j.push_back(uint8_t(dcId[c] << 4 | acId[c]));
    }
    j.insert(j.end(), {0, 63, 0});
    j.insert(j.end(), f.begin() + t.offsets[tile], f.begin() + t.offsets[tile] + t.counts[tile]);
    j.push_back(0xFF);
    j.push_back(0xD9);
    return j;
}

// Every tile, wrapped in a JPEG header of its own, decodes to its part of the
// photograph; the tiles at the right and bottom edges are partly padding.
void ExpectTilesDecode(int format, int sampling, uint16_t tileWidth, uint16_t tileHeight,
                       uint16_t restart) {
    const int width = 200, height = 130;
    const Image image = compress::PhotoImage(format, width, height);
    ASSERT_EQ(image.width, width);
    AppVexParams p = MakeParams(format, sampling, width, height);
    p.containerKind = 2;
    p.tileWidth = tileWidth;
    p.tileHeight = tileHeight;
    p.restartInterval = restart;
    std::vector<uint8_t> f;
    ASSERT_EQ(CompressBands(p, image, Feed{}, &f), 0);
    Tiff t;
    ASSERT_TRUE(ParseTiff(f, &t));
    ExpectTilesPacked(t, f.size());
    const int across = (width + tileWidth - 1) / tileWidth;
    const int down = (height + tileHeight - 1) / tileHeight;
    ASSERT_EQ(t.offsets.size(), size_t(across * down));
    const compress::Decoded expected = compress::Expected(image, format);
    for (size_t k = 0; k < t.offsets.size(); ++k) {
        SCOPED_TRACE("tile " + std::to_string(k));
        const std::vector<uint8_t> jpeg = JpegAroundTile(f, t, k);
        if (restart != 0) {
            // Markers in every tile start again at D0.
            const std::vector<uint8_t> m =
                compress::ScanMarkers(f, t.offsets[k], t.offsets[k] + t.counts[k]);
            ASSERT_FALSE(m.empty());
            for (size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i], 0xD0 + i % 8);
        }
        Decoded d;
        ASSERT_TRUE(Djpeg(jpeg, &d, "tile" + std::to_string(k)));
        ASSERT_EQ(d.width, tileWidth);
        ASSERT_EQ(d.height, tileHeight);
        // Compare the part of the tile that lies in the image.
        const int x0 = int(k % across) * tileWidth, y0 = int(k / across) * tileHeight;
        const int w = std::min<int>(tileWidth, width - x0), h = std::min<int>(tileHeight, height - y0);
        Decoded part, want;
        part.width = want.width = w;
        part.height = want.height = h;
        part.channels = want.channels = d.channels;
        for (int y = 0; y < h; ++y) {
            const uint8_t* a = d.pixels.data() + size_t(y) * tileWidth * d.channels;
            const uint8_t* b = expected.pixels.data() + (size_t(y0 + y) * width + x0) * d.channels;
            part.pixels.insert(part.pixels.end(), a, a + w * d.channels);
            want.pixels.insert(want.pixels.end(), b, b + w * d.channels);
        }
        EXPECT_GE(compress::PsnrOf(part, want), 30.0);
    }
}

TEST_F(CompressTiff, GreyTilesDecodeWithTheDirectorysTables) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
    ExpectTilesDecode(3, 3, 64, 48, 0);
    ExpectTilesDecode(3, 3, 64, 48, 3);
}

TEST_F(CompressTiff, YcbcrTilesDecodeWithTheDirectorysTables) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
    ExpectTilesDecode(1, 1, 64, 48, 0);  // 4:2:0
    ExpectTilesDecode(1, 0, 48, 32, 2);  // 4:2:2 with restarts
    ExpectTilesDecode(2, 2, 80, 40, 0);  // 4:4:4 from 32-bit pixels
}

// More tiles than one 16-bit byte count of array bytes can carry: the
// trailer still fills both arrays completely, whatever the buffer size.
TEST_F(CompressTiff, LargeTileArraysAreFilledCompletely) {
    const int width = 8 * 2100, height = 64;  // 2100 x 8 = 16800 tiles of 8 x 8
    const Image image = MakeTestImage(width, height, 1, 6);
    AppVexParams p = MakeParams(3, 3, width, height);
    p.containerKind = 2;
    p.tileWidth = 8;
    p.tileHeight = 8;
    std::vector<uint8_t> big, small;
    Feed feed;
    feed.outputBuffer = 65535;
    ASSERT_EQ(CompressBands(p, image, feed, &big), 0);
    Tiff t;
    ASSERT_TRUE(ParseTiff(big, &t));
    ASSERT_EQ(t.offsets.size(), 16800u);
    ExpectTilesPacked(t, big.size());
    feed.outputBuffer = 7;
    feed.bandWidth = 64;
    feed.bandHeight = 8;
    ASSERT_EQ(CompressBands(p, image, feed, &small), 0);
    EXPECT_EQ(small, big);
}

}  // namespace
}  // namespace vextest
