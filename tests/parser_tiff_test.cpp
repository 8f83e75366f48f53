// Reading a TIFF-JPEG header: files this library writes come back with their
// description, tile arrays and tables; directories that bend the layout are
// skipped over or refused; tables shared by components 2 and 3 land in the
// two Huffman slots; tiles stored out of order or away from the directory
// still decode to the same pixels.
#include <algorithm>
#include <random>
#include <cstring>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "container/tiff_reader.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::MakeParams;

// The record is packed: its pointer fields are read by value before a check
// compares them.
template <class T>
T Ptr(T value) {
    return value;
}

uint16_t Get16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
void Put16(Bytes* b, size_t at, uint16_t v) {
    (*b)[at] = uint8_t(v);
    (*b)[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Byte position of the directory entry with `tag` (0 when absent).
size_t EntryAt(const Bytes& t, uint16_t tag) {
    const uint16_t n = Get16(t, 8);
    for (size_t i = 0; i < n; ++i) {
        if (Get16(t, 10 + 12 * i) == tag) return 10 + 12 * i;
    }
    return 0;
}

bool HoldsOffset(uint16_t tag) {
    switch (tag) {
        case 0x0102: case 0x011A: case 0x011B: case 0x0144: case 0x0145:
        case 0x0207: case 0x0208: case 0x0209: case 0x0214:
            return true;
        default:
            return false;
    }
}

// Inserts a 12-byte entry before directory entry `index` and moves every
// offset in the file (entry values, table offset arrays, tile offsets) along.
Bytes InsertEntry(const Bytes& t, size_t index, uint16_t tag, uint16_t type, uint32_t count,
                  uint32_t value) {
    const uint16_t n = Get16(t, 8);
    Bytes out(t.begin(), t.begin() + 10 + long(12 * index));
    Put16(&out, 8, uint16_t(n + 1));
    Bytes entry(12);
    Put16(&entry, 0, tag);
    Put16(&entry, 2, type);
    Put32(&entry, 4, count);
    Put32(&entry, 8, value);
    out.insert(out.end(), entry.begin(), entry.end());
    out.insert(out.end(), t.begin() + 10 + long(12 * index), t.end());
    for (size_t i = 0; i <= n; ++i) {
        const size_t at = 10 + 12 * i;
        const uint16_t entryTag = Get16(out, at);
        if (i == index || !HoldsOffset(entryTag)) continue;
        const uint32_t offset = Get32(out, at + 8) + 12;
        Put32(&out, at + 8, offset);
        if (entryTag == 0x0207 || entryTag == 0x0208 || entryTag == 0x0209 || entryTag == 0x0144) {
            for (uint32_t k = 0; k < Get32(out, at + 4); ++k) {
                Put32(&out, offset + 4 * k, Get32(out, offset + 4 * k) + 12);
            }
        }
    }
    return out;
}

class ParserTiff : public LibraryTest {
protected:
    Bytes Write(AppVexParams p, const Image& image) {
        p.containerKind = VEX_CONTAINER_TIFF;
        Bytes tiff;
        EXPECT_EQ(CompressImage(p, image, CompressOptions(), &tiff), 0);
        return tiff;
    }
    int16_t Info(const Bytes& tiff, AppVexParams* p) {
        p->containerKind = VEX_CONTAINER_TIFF;
        p->readCallback = SourceRead;
        ResetSource(tiff, 65535);
        return AppVexGetCompInfo(p);
    }
    static AppVexParams Defaults() {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        return p;
    }
    // Decodes with a host that names the sampling and format the file leaves
    // open (a TIFF directory records the subsampling of YCbCr images only).
    int16_t Decode(const Bytes& tiff, int format, int sampling, Image* out,
                   DecompressOptions opt = DecompressOptions()) {
        AppVexParams p = Defaults();
        p.containerKind = VEX_CONTAINER_TIFF;
        p.pixelFormat = FormatDesc(format, &p.pixelModel);
        p.sampling = SamplingOf(sampling, &p.colorSpace);
        return DecompressImage(tiff, p, opt, out);
    }
};

TEST_F(ParserTiff, FileReadsBackWhatWasWritten) {
    AppVexParams w = MakeParams(1, 0, 70, 45);
    w.tileWidth = 32;
    w.tileHeight = 16;
    w.restartInterval = 3;
    w.densityUnits = 2;
    w.xDensity = 118;
    w.yDensity = 59;
    w.quality = 40;
    const Bytes tiff = Write(w, MakeTestImage(70, 45, 3, 5));
    ASSERT_FALSE(tiff.empty());

    AppVexParams p = Defaults();
    p.sampling = SamplingDesc{{1, 1, 1, 0}, {1, 1, 1, 0}};  // the file's subsampling wins
    ASSERT_EQ(Info(tiff, &p), 0);
    EXPECT_EQ(p.width, 70);
    EXPECT_EQ(p.height, 45);
    EXPECT_EQ(p.tileWidth, 32);
    EXPECT_EQ(p.tileHeight, 16);
    EXPECT_EQ(p.restartInterval, 3);
    EXPECT_EQ(p.densityUnits, 2);
    EXPECT_EQ(p.xDensity, 118);
    EXPECT_EQ(p.yDensity, 59);
    EXPECT_EQ(p.colorSpace, 0);
    EXPECT_EQ(p.pixelModel, 0);
    const SamplingDesc s422 = {{2, 1, 1, 0}, {1, 1, 1, 0}};
    EXPECT_EQ(std::memcmp(&p.sampling, &s422, sizeof s422), 0);
    // 3 x 3 tiles; the arrays are those of the file.
    ASSERT_EQ(p.tileCount, 9);
    ASSERT_NE(Ptr(p.tileOffsets), nullptr);
    const size_t arrays = Get32(tiff, EntryAt(tiff, 0x0144) + 8);
    uint32_t expectedOffset = uint32_t(arrays + 8 * 9);
    for (int t = 0; t < 9; ++t) {
        EXPECT_EQ(p.tileOffsets[t], Get32(tiff, arrays + 4 * size_t(t))) << t;
        EXPECT_EQ(p.tileOffsets[t], expectedOffset) << t;  // stored back to back
        expectedOffset += p.tileByteCounts[t];
    }
    EXPECT_EQ(expectedOffset, tiff.size());
    // Tables: the quality-scaled ones the writer stored, in zigzag order.
    const uint8_t* const* q = nullptr;
    const uint8_t* const* dc = nullptr;
    const uint8_t* const* ac = nullptr;
    ASSERT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    uint8_t lum[64], chrom[64];
    ASSERT_EQ(AppVexMakeQTable(q[0], 40, lum), 0);
    ASSERT_EQ(AppVexMakeQTable(q[1], 40, chrom), 0);
    EXPECT_EQ(std::memcmp(p.qTables[0], lum, 64), 0);
    EXPECT_EQ(std::memcmp(p.qTables[1], chrom, 64), 0);
    EXPECT_EQ(std::memcmp(p.qTables[2], chrom, 64), 0);
    uint16_t size = 0;
    ASSERT_EQ(AppVexGetTableSize(VEX_TABLE_AC, ac[1], &size), 0);
    EXPECT_EQ(std::memcmp(p.acTables[2], ac[1], size), 0);
    ASSERT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dc[0], &size), 0);
    EXPECT_EQ(std::memcmp(p.dcTables[0], dc[0], size), 0);
}

TEST_F(ParserTiff, FilesOfDifferentShapesReadOneAfterAnother) {
    AppVexParams a = MakeParams(1, 2, 50, 30);
    a.tileWidth = 16;
    a.tileHeight = 16;
    const Bytes many = Write(a, MakeTestImage(50, 30, 3, 1));
    const Bytes grey = Write(MakeParams(3, 3, 20, 9), MakeTestImage(20, 9, 1, 2));
    AppVexParams p = Defaults();
    ASSERT_EQ(Info(many, &p), 0);
    EXPECT_EQ(p.tileCount, 8);
    p = Defaults();
    ASSERT_EQ(Info(grey, &p), 0);
    EXPECT_EQ(p.tileCount, 1);
    EXPECT_EQ(p.pixelModel, 1);
    EXPECT_EQ(p.colorSpace, 1);
    EXPECT_EQ(p.pixelFormat.bits[0], 8);
    p = Defaults();
    ASSERT_EQ(Info(many, &p), 0);
    EXPECT_EQ(p.tileCount, 8);
    EXPECT_EQ(p.tileOffsets[7] + p.tileByteCounts[7], many.size());
}

TEST_F(ParserTiff, FourComponentTablesShareTheTwoSlots) {
    AppVexParams w = MakeParams(4, 5, 24, 16);
    const uint8_t* const* q = nullptr;
    const uint8_t* const* dc = nullptr;
    const uint8_t* const* ac = nullptr;
    ASSERT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    // DC tables A, A, B, B; AC tables B, A, A, B.
    const uint8_t* dcTables[4] = {dc[0], dc[0], dc[1], dc[1]};
    const uint8_t* acTables[4] = {ac[1], ac[0], ac[0], ac[1]};
    for (int i = 0; i < 4; ++i) {
        w.dcTables[i] = dcTables[i];
        w.acTables[i] = acTables[i];
    }
    const Image image = MakeTestImage(24, 16, 4, 3);
    const Bytes tiff = Write(w, image);
    AppVexParams p = Defaults();
    ASSERT_EQ(Info(tiff, &p), 0);
    EXPECT_EQ(p.colorSpace, 3);
    EXPECT_EQ(p.pixelModel, 2);
    EXPECT_EQ(Ptr(p.dcTables[0]), Ptr(p.dcTables[1]));
    EXPECT_EQ(Ptr(p.dcTables[2]), Ptr(p.dcTables[3]));
    EXPECT_NE(Ptr(p.dcTables[0]), Ptr(p.dcTables[2]));
    uint16_t size = 0;
    ASSERT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dc[1], &size), 0);
    EXPECT_EQ(std::memcmp(p.dcTables[2], dc[1], size), 0);
    ASSERT_EQ(AppVexGetTableSize(VEX_TABLE_DC, dc[0], &size), 0);
    EXPECT_EQ(std::memcmp(p.dcTables[0], dc[0], size), 0);
    EXPECT_EQ(Ptr(p.acTables[1]), Ptr(p.acTables[2]));
    EXPECT_EQ(Ptr(p.acTables[0]), Ptr(p.acTables[3]));
    EXPECT_NE(Ptr(p.acTables[0]), Ptr(p.acTables[1]));

    // And the image decodes as the JFIF stream of the same host data does.
    Image fromTiff, fromJpeg;
    ASSERT_EQ(Decode(tiff, 4, 5, &fromTiff), 0);
    Bytes jpeg;
    w.containerKind = VEX_CONTAINER_JFIF;
    ASSERT_EQ(CompressImage(w, image, CompressOptions(), &jpeg), 0);
    AppVexParams d = Defaults();
    ASSERT_EQ(DecompressImage(jpeg, d, DecompressOptions(), &fromJpeg), 0);
    EXPECT_EQ(fromTiff.pixels, fromJpeg.pixels);
}

TEST_F(ParserTiff, UnknownTagsAreSkippedAndForbiddenOnesRefused) {
    const Image image = MakeTestImage(40, 24, 3, 9);
    AppVexParams w = MakeParams(1, 1, 40, 24);
    w.tileWidth = 16;
    w.tileHeight = 16;
    const Bytes tiff = Write(w, image);
    Image reference;
    ASSERT_EQ(Decode(tiff, 1, 1, &reference), 0);

    // Software (0x0131) between ImageLength and BitsPerSample, 0x0213 at the end.
    Bytes extra = InsertEntry(tiff, 3, 0x0131, 2, 4, 0x00414141);
    extra = InsertEntry(extra, Get16(extra, 8), 0x0213, 3, 1, 1);
    Image decoded;
    ASSERT_EQ(Decode(extra, 1, 1, &decoded), 0);
    EXPECT_EQ(decoded.pixels, reference.pixels);

    AppVexParams p = Defaults();
    EXPECT_EQ(Info(InsertEntry(tiff, 20, 0x0211, 5, 3, 0), &p), VEX_ERR_CONTAINER);
    // A template entry out of its place.
    Bytes swapped = tiff;
    std::swap_ranges(swapped.begin() + 10 + 12, swapped.begin() + 10 + 24, swapped.begin() + 10 + 24);
    EXPECT_EQ(Info(swapped, &p), VEX_ERR_CONTAINER);
    // Fewer than 20 entries.
    Bytes few = tiff;
    Put16(&few, 8, 19);
    EXPECT_EQ(Info(few, &p), VEX_ERR_CONTAINER);
}

TEST_F(ParserTiff, ValuesOutsideTheMappingsAreRefused) {
    AppVexParams w = MakeParams(1, 0, 40, 24);
    w.tileWidth = 16;
    w.tileHeight = 16;
    const Bytes tiff = Write(w, MakeTestImage(40, 24, 3, 4));
    AppVexParams p = Defaults();
    ASSERT_EQ(Info(tiff, &p), 0);

    struct Case {
        const char* name;
        uint16_t tag;
        size_t field;  // byte within the entry
        uint32_t value;
        bool wide;
    };
    const Case cases[] = {
        {"photometric 3", 0x0106, 8, 3, false},  {"photometric 4", 0x0106, 8, 4, false},
        {"photometric 7", 0x0106, 8, 7, false},  {"samples 2", 0x0115, 8, 2, false},
        {"samples 0", 0x0115, 8, 0, false},      {"samples 5", 0x0115, 8, 5, false},
        {"resolution unit 4", 0x0128, 8, 4, false}, {"resolution unit 9", 0x0128, 8, 9, false},
        {"compression 7", 0x0103, 8, 7, true},   {"planar 2", 0x011C, 8, 2, false},
        {"subfile 1", 0x00FE, 8, 1, true},       {"jpeg proc 1", 0x0200, 8, 1, false},
        {"width type short", 0x0100, 2, 3, false}, {"width count 2", 0x0100, 4, 2, true},
        {"tile offsets count 5", 0x0144, 4, 5, true}, {"tile counts count 5", 0x0145, 4, 5, true},
        {"q tables count 2", 0x0207, 4, 2, true},  {"bits count 1", 0x0102, 4, 1, true},
        {"subsampling 3", 0x0212, 8, 3, false},  {"positioning 1", 0x0210, 8, 1, false},
        {"tile length 12", 0x0143, 8, 12, false}, {"tile width 0", 0x0142, 8, 0, false},
    };
    for (const Case& c : cases) {
        Bytes bad = tiff;
        const size_t at = EntryAt(bad, c.tag);
        ASSERT_NE(at, 0u) << c.name;
        if (c.wide) {
            Put32(&bad, at + c.field, c.value);
        } else {
            Put16(&bad, at + c.field, uint16_t(c.value));
        }
        p = Defaults();
        const AppVexParams before = [&] {
            AppVexParams b = p;
            b.containerKind = VEX_CONTAINER_TIFF;
            b.readCallback = SourceRead;
            return b;
        }();
        EXPECT_EQ(Info(bad, &p), VEX_ERR_CONTAINER) << c.name;
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << c.name << ": record written";
    }

    // Out-of-line values: a zero resolution denominator, a changed
    // ReferenceBlackWhite, a table with more symbols than a slot holds.
    Bytes zero = tiff;
    Put32(&zero, Get32(tiff, EntryAt(tiff, 0x011B) + 8) + 4, 0);
    EXPECT_EQ(Info(zero, &p), VEX_ERR_CONTAINER);
    Bytes black = tiff;
    Put32(&black, Get32(tiff, EntryAt(tiff, 0x0214) + 8) + 8, 250);
    EXPECT_EQ(Info(black, &p), VEX_ERR_CONTAINER);
    Bytes big = tiff;
    const uint32_t dcOffsets = Get32(tiff, EntryAt(tiff, 0x0208) + 8);
    big[Get32(tiff, dcOffsets) + 15] = 60;  // BITS now add up to 72
    EXPECT_EQ(Info(big, &p), VEX_ERR_CONTAINER);
}

TEST_F(ParserTiff, TileCountMustMatchTheGeometry) {
    AppVexParams w = MakeParams(1, 2, 40, 24);
    w.tileWidth = 16;
    w.tileHeight = 16;
    const Bytes tiff = Write(w, MakeTestImage(40, 24, 3, 4));  // 3 x 2 tiles
    AppVexParams p = Defaults();
    for (uint16_t tileWidth : {uint16_t(24), uint16_t(8), uint16_t(40)}) {
        Bytes bad = tiff;
        Put16(&bad, EntryAt(bad, 0x0142) + 8, tileWidth);
        EXPECT_EQ(Info(bad, &p), VEX_ERR_CONTAINER) << tileWidth;
    }
    Bytes height = tiff;
    Put32(&height, EntryAt(height, 0x0101) + 8, 40);
    EXPECT_EQ(Info(height, &p), VEX_ERR_CONTAINER);
}

// Moves the tile data of `tiff` into the order `order` (a permutation of tile
// indices), after `gap` filler bytes, and points the offsets at the new places.
Bytes Rearranged(const Bytes& tiff, const std::vector<int>& order, size_t gap) {
    const size_t arrays = Get32(tiff, EntryAt(tiff, 0x0144) + 8);
    const uint32_t count = Get32(tiff, EntryAt(tiff, 0x0144) + 4);
    const size_t dataStart = arrays + 8 * count;
    Bytes out(tiff.begin(), tiff.begin() + long(dataStart));
    out.insert(out.end(), gap, 0xFF);
    for (int t : order) {
        const uint32_t offset = Get32(tiff, arrays + 4 * size_t(t));
        const uint32_t bytes = Get32(tiff, arrays + 4 * count + 4 * size_t(t));
        Put32(&out, arrays + 4 * size_t(t), uint32_t(out.size()));
        out.insert(out.end(), tiff.begin() + offset, tiff.begin() + offset + bytes);
        out.insert(out.end(), 3, 0x00);  // tiles no longer back to back
    }
    return out;
}

TEST_F(ParserTiff, TilesStoredElsewhereDecodeTheSame) {
    const Image image = MakeTestImage(70, 40, 3, 12);
    AppVexParams w = MakeParams(1, 0, 70, 40);
    w.tileWidth = 32;
    w.tileHeight = 16;
    w.restartInterval = 2;
    const Bytes tiff = Write(w, image);
    Image reference;
    ASSERT_EQ(Decode(tiff, 1, 0, &reference), 0);
    const std::vector<int> reversed = {8, 7, 6, 5, 4, 3, 2, 1, 0};
    const std::vector<int> inOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t gap : {size_t(0), size_t(100), size_t(70000)}) {
        for (const auto* order : {&reversed, &inOrder}) {
            for (uint16_t chunk : {uint16_t(65535), uint16_t(513), uint16_t(3)}) {
                Image decoded;
                DecompressOptions opt;
                opt.inputChunk = chunk;
                ASSERT_EQ(Decode(Rearranged(tiff, *order, gap), 1, 0, &decoded, opt), 0)
                    << "gap " << gap << " chunk " << chunk << (order == &reversed ? " reversed" : "");
                EXPECT_EQ(decoded.pixels, reference.pixels)
                    << "gap " << gap << " chunk " << chunk << (order == &reversed ? " reversed" : "");
            }
        }
    }
}

// Out-of-line values are visited in the order the hybrid sort gives them:
// ascending offsets for arrays of every length, duplicates included.
struct Record {
    uint32_t offset;
    uint16_t kind;
    uint16_t index;
};

int ByOffset(const void* a, const void* b) {
    return int(int32_t(static_cast<const Record*>(a)->offset - static_cast<const Record*>(b)->offset));
}

class ParserTiffSort : public LibraryTest {};

TEST_F(ParserTiffSort, RecordsOfAnyCountComeOutInAscendingOffsets) {
    std::mt19937 rng(3);
    for (size_t count = 0; count < 80; ++count) {
        for (int round = 0; round < 20; ++round) {
            std::vector<Record> records(count);
            for (size_t i = 0; i < count; ++i) {
                // Few distinct values in some rounds, to exercise equal keys.
                const uint32_t range = round % 3 == 0 ? 4 : 100000;
                records[i] = {uint32_t(rng() % range), uint16_t(i), uint16_t(round)};
            }
            if (round == 1) std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
            if (round == 2) std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.offset > b.offset; });
            std::vector<uint32_t> expected;
            for (const Record& r : records) expected.push_back(r.offset);
            std::sort(expected.begin(), expected.end());
            std::vector<uint16_t> kinds;
            for (const Record& r : records) kinds.push_back(r.kind);
            q32vex::SortEntries(records.data(), count, sizeof(Record), ByOffset);
            for (size_t i = 0; i < count; ++i) ASSERT_EQ(records[i].offset, expected[i]) << count;
            // A permutation: every record is still there once.
            std::vector<uint16_t> after;
            for (const Record& r : records) after.push_back(r.kind);
            std::sort(kinds.begin(), kinds.end());
            std::sort(after.begin(), after.end());
            ASSERT_EQ(after, kinds);
        }
    }
}

}  // namespace
}  // namespace vextest
