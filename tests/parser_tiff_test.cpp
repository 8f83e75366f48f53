// Reading a TIFF-JPEG header: files this library writes come back with their
// description, tile arrays and tables; directories that bend the layout are
// skipped over or refused; tables shared by components 2 and 3 land in the
// two Huffman slots; tiles stored out of order or away from the directory
// still decode to the same pixels.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "container/record_sort.h"
#include "container/tiff_reader_state.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;
using compress::Le16;
using compress::Le32;
using compress::MakeParams;
using compress::PutLe16;
using compress::PutLe32;
using compress::TiffEntry;

// The record is packed: its pointer fields are read by value before a check
// compares them.
template <class T>
T Ptr(T value) {
    return value;
}

// Inserts a 12-byte entry before directory entry `index` and moves every
// offset in the file (entry values, table offset arrays, tile offsets) along.
Bytes InsertEntry(const Bytes& t, size_t index, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    const uint16_t n = Le16(t, 8);
    Bytes out(t.begin(), t.begin() + 10 + long(12 * index));
    PutLe16(&out, 8, uint16_t(n + 1));
    out.resize(out.size() + 12);
    PutLe16(&out, out.size() - 12, tag);
    PutLe16(&out, out.size() - 10, type);
    PutLe32(&out, out.size() - 8, count);
    PutLe32(&out, out.size() - 4, value);
    out.insert(out.end(), t.begin() + 10 + long(12 * index), t.end());
    for (size_t i = 0; i <= n; ++i) {
        const size_t at = 10 + 12 * i;
        const uint16_t entryTag = Le16(out, at);
        static const uint16_t kOffsetTags[] = {0x0102, 0x011A, 0x011B, 0x0144, 0x0145, 0x0207, 0x0208, 0x0209, 0x0214};
        if (i == index || std::find(std::begin(kOffsetTags), std::end(kOffsetTags), entryTag) == std::end(kOffsetTags))
            continue;
        const uint32_t offset = Le32(out, at + 8) + 12;
        PutLe32(&out, at + 8, offset);
        if (entryTag == 0x0207 || entryTag == 0x0208 || entryTag == 0x0209 || entryTag == 0x0144) {
            for (uint32_t k = 0; k < Le32(out, at + 4); ++k)
                PutLe32(&out, offset + 4 * k, Le32(out, offset + 4 * k) + 12);
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
    static AppVexParams Defaults() {
        AppVexParams p;
        AppVexSetDefaultDecompress(&p);
        return p;
    }
    int16_t Info(const Bytes& tiff, AppVexParams* p) {
        p->containerKind = VEX_CONTAINER_TIFF;
        p->readCallback = SourceRead;
        ResetSource(tiff, 65535);
        return AppVexGetCompInfo(p);
    }
    // Decodes with a host that names the sampling and format the file leaves
    // open (a TIFF directory records the subsampling of YCbCr images only).
    int16_t Decode(const Bytes& tiff, int format, int sampling, Image* out, uint16_t chunk = 65535) {
        DecompressOptions opt;
        opt.inputChunk = chunk;
        return DecompressImage(tiff, compress::ReadParams(VEX_CONTAINER_TIFF, format, sampling), opt, out);
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
    AppVexParams p = Defaults();
    p.sampling = SamplingOf(2);  // the file's subsampling wins
    ASSERT_EQ(Info(tiff, &p), 0);
    EXPECT_EQ(std::vector<int>({p.width, p.height, p.tileWidth, p.tileHeight, p.restartInterval, p.densityUnits,
                                p.xDensity, p.yDensity, p.colorSpace, p.pixelModel}),
              std::vector<int>({70, 45, 32, 16, 3, 2, 118, 59, 0, 0}));
    const SamplingDesc s422 = SamplingOf(0);
    EXPECT_EQ(std::memcmp(&p.sampling, &s422, sizeof s422), 0);
    // 3 x 3 tiles; the arrays are those of the file.
    ASSERT_EQ(p.tileCount, 9);
    ASSERT_NE(Ptr(p.tileOffsets), nullptr);
    const size_t arrays = Le32(tiff, TiffEntry(tiff, 0x0144) + 8);
    for (int t = 0; t < 9; ++t) {
        EXPECT_EQ(p.tileOffsets[t], Le32(tiff, arrays + 4 * size_t(t))) << t;
        EXPECT_EQ(p.tileByteCounts[t], Le32(tiff, arrays + 36 + 4 * size_t(t))) << t;
    }
    // Another shape read after it, then the first again.
    const Bytes grey = Write(MakeParams(3, 3, 20, 9), MakeTestImage(20, 9, 1, 2));
    p = Defaults();
    ASSERT_EQ(Info(grey, &p), 0);
    EXPECT_EQ(std::vector<int>({p.tileCount, p.pixelModel, p.colorSpace, p.pixelFormat.bits[0]}),
              std::vector<int>({1, 1, 1, 8}));
    p = Defaults();
    ASSERT_EQ(Info(tiff, &p), 0);
    EXPECT_EQ(p.tileCount, 9);
    EXPECT_EQ(p.tileOffsets[8] + p.tileByteCounts[8], tiff.size());
}

// Four components on two DC and two AC tables, in both orders: the reader
// puts them in the two slots of each kind and the image decodes as the JFIF
// stream of the same host data does.
TEST_F(ParserTiff, FourComponentTablesShareTheTwoSlots) {
    AppVexParams w = MakeParams(4, 5, 24, 16);
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    ASSERT_EQ(AppVexGetDefaultTables(0, &q, &dc, &ac), 0);
    const uint8_t* dcTables[4] = {dc[0], dc[0], dc[1], dc[1]};
    const uint8_t* acTables[4] = {ac[1], ac[0], ac[0], ac[1]};
    for (int i = 0; i < 4; ++i) w.dcTables[i] = dcTables[i], w.acTables[i] = acTables[i];
    const Image image = MakeTestImage(24, 16, 4, 3);
    const Bytes tiff = Write(w, image);
    AppVexParams p = Defaults();
    ASSERT_EQ(Info(tiff, &p), 0);
    EXPECT_EQ(std::vector<int>({p.colorSpace, p.pixelModel}), std::vector<int>({3, 2}));
    EXPECT_EQ(
        std::vector<const uint8_t*>({Ptr(p.dcTables[1]), Ptr(p.dcTables[3]), Ptr(p.acTables[2]), Ptr(p.acTables[3])}),
        std::vector<const uint8_t*>({Ptr(p.dcTables[0]), Ptr(p.dcTables[2]), Ptr(p.acTables[1]), Ptr(p.acTables[0])}));
    Image fromTiff, fromJpeg;
    ASSERT_EQ(Decode(tiff, 4, 5, &fromTiff), 0);
    Bytes jpeg;
    ASSERT_EQ(CompressImage(w, image, CompressOptions(), &jpeg), 0);
    ASSERT_EQ(DecompressImage(jpeg, Defaults(), DecompressOptions(), &fromJpeg), 0);
    EXPECT_EQ(fromTiff.pixels, fromJpeg.pixels);
}

TEST_F(ParserTiff, DirectoriesThatBendTheLayoutAreSkippedOrRefused) {
    AppVexParams w = MakeParams(1, 1, 40, 24);
    w.tileWidth = 16;
    w.tileHeight = 16;
    const Bytes tiff = Write(w, MakeTestImage(40, 24, 3, 9));  // 3 x 2 tiles
    Image reference, decoded;
    ASSERT_EQ(Decode(tiff, 1, 1, &reference), 0);
    // Software (0x0131) between ImageLength and BitsPerSample, 0x0213 at the end.
    Bytes extra = InsertEntry(tiff, 3, 0x0131, 2, 4, 0x00414141);
    extra = InsertEntry(extra, Le16(extra, 8), 0x0213, 3, 1, 1);
    ASSERT_EQ(Decode(extra, 1, 1, &decoded), 0);
    EXPECT_EQ(decoded.pixels, reference.pixels);

    std::vector<std::pair<std::string, Bytes>> bad;
    bad.push_back({"forbidden tag 0x0211", InsertEntry(tiff, 20, 0x0211, 5, 3, 0)});
    Bytes swapped = tiff;  // a template entry out of its place
    std::swap_ranges(swapped.begin() + 22, swapped.begin() + 34, swapped.begin() + 34);
    bad.push_back({"entries out of order", swapped});
    bad.push_back({"19 entries", tiff});
    PutLe16(&bad.back().second, 8, 19);
    struct Field {
        const char* name;
        uint16_t tag;
        size_t field;  // byte within the entry
        uint32_t value;
        bool wide;
    };
    const Field fields[] = {
        {"photometric 3", 0x0106, 8, 3, false},
        {"samples 2", 0x0115, 8, 2, false},
        {"resolution unit 4", 0x0128, 8, 4, false},
        {"compression 7", 0x0103, 8, 7, true},
        {"planar 2", 0x011C, 8, 2, false},
        {"subfile 1", 0x00FE, 8, 1, true},
        {"jpeg proc 1", 0x0200, 8, 1, false},
        {"width type short", 0x0100, 2, 3, false},
        {"width count 2", 0x0100, 4, 2, true},
        {"tile offsets count 5", 0x0144, 4, 5, true},
        {"q tables count 2", 0x0207, 4, 2, true},
        {"bits count 1", 0x0102, 4, 1, true},
        {"subsampling 3", 0x0212, 8, 3, false},
        {"positioning 1", 0x0210, 8, 1, false},
        {"tile length 12", 0x0143, 8, 12, false},
        {"tile width 0", 0x0142, 8, 0, false},
        // The tile count no longer matches the geometry.
        {"tile width 24", 0x0142, 8, 24, false},
        {"image length 40", 0x0101, 8, 40, true},
    };
    for (const Field& f : fields) {
        Bytes b = tiff;
        const size_t at = TiffEntry(b, f.tag);
        ASSERT_NE(at, 0u) << f.name;
        if (f.wide) {
            PutLe32(&b, at + f.field, f.value);
        } else {
            PutLe16(&b, at + f.field, uint16_t(f.value));
        }
        bad.push_back({f.name, b});
    }
    // Out-of-line values: a zero resolution denominator, a changed
    // ReferenceBlackWhite, a table with more symbols than a slot holds.
    bad.push_back({"zero denominator", tiff});
    PutLe32(&bad.back().second, Le32(tiff, TiffEntry(tiff, 0x011B) + 8) + 4, 0);
    bad.push_back({"reference black 250", tiff});
    PutLe32(&bad.back().second, Le32(tiff, TiffEntry(tiff, 0x0214) + 8) + 8, 250);
    bad.push_back({"72 DC symbols", tiff});
    bad.back().second[Le32(tiff, Le32(tiff, TiffEntry(tiff, 0x0208) + 8)) + 15] = 60;
    for (const auto& [name, file] : bad) {
        AppVexParams p = Defaults();
        p.containerKind = VEX_CONTAINER_TIFF;
        p.readCallback = SourceRead;
        const AppVexParams before = p;
        EXPECT_EQ(Info(file, &p), VEX_ERR_CONTAINER) << name;
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << name << ": record written";
    }
}

// Moves the tile data into the order `order` (a permutation of tile indices)
// after `gap` filler bytes, three bytes apart, and points the offsets there.
Bytes Rearranged(const Bytes& tiff, const std::vector<int>& order, size_t gap) {
    const size_t arrays = Le32(tiff, TiffEntry(tiff, 0x0144) + 8);
    const uint32_t count = Le32(tiff, TiffEntry(tiff, 0x0144) + 4);
    Bytes out(tiff.begin(), tiff.begin() + long(arrays + 8 * count));
    out.insert(out.end(), gap, 0xFF);
    for (int t : order) {
        const uint32_t offset = Le32(tiff, arrays + 4 * size_t(t));
        const uint32_t bytes = Le32(tiff, arrays + 4 * count + 4 * size_t(t));
        PutLe32(&out, arrays + 4 * size_t(t), uint32_t(out.size()));
        out.insert(out.end(), tiff.begin() + offset, tiff.begin() + offset + bytes);
        out.insert(out.end(), 3, 0x00);
    }
    return out;
}

TEST_F(ParserTiff, TilesStoredElsewhereDecodeTheSame) {
    AppVexParams w = MakeParams(1, 0, 136, 40);
    w.tileWidth = 16;
    w.tileHeight = 8;  // 9 x 5 tiles
    w.restartInterval = 2;
    const Bytes tiff = Write(w, MakeTestImage(136, 40, 3, 12));
    Image reference;
    ASSERT_EQ(Decode(tiff, 1, 0, &reference), 0);
    std::vector<int> inOrder(45);
    for (int i = 0; i < 45; ++i) inOrder[size_t(i)] = i;
    std::vector<int> reversed(inOrder.rbegin(), inOrder.rend()), shuffled = inOrder;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    for (size_t gap : {size_t(0), size_t(100), size_t(70000)}) {
        for (const std::vector<int>* order : {&inOrder, &reversed, &shuffled}) {
            // Every short step forward (under 512 bytes) fits one delivery.
            for (uint16_t chunk : {uint16_t(65535), uint16_t(4096), uint16_t(600)}) {
                const std::string tag = "gap " + std::to_string(gap) + " chunk " + std::to_string(chunk) + " order " +
                                        std::to_string((*order)[0]);
                Image decoded;
                ASSERT_EQ(Decode(Rearranged(tiff, *order, gap), 1, 0, &decoded, chunk), 0) << tag;
                EXPECT_EQ(decoded.pixels, reference.pixels) << tag;
            }
        }
    }
}

// Reaching a tile that is not stored right after the one before. Sought
// backwards, the host is asked for the tile's own bytes at its offset (a
// tile followed by none of the others has nothing more to read ahead). A
// short step forward is read on through and must come in one delivery.
TEST_F(ParserTiff, TileSeeksAskForTheTileAndNeedShortStepsInOneDelivery) {
    AppVexParams w = MakeParams(1, 0, 256, 16);
    w.tileWidth = 32;
    w.tileHeight = 16;  // 8 tiles of several hundred bytes
    w.quality = 1;
    const Bytes tiff = Write(w, MakeTestImage(256, 16, 3, 9));
    Image reference, decoded;
    ASSERT_EQ(Decode(tiff, 1, 0, &reference), 0);

    const std::vector<int> reversed = {7, 6, 5, 4, 3, 2, 1, 0};
    const Bytes backwards = Rearranged(tiff, reversed, 0);
    ASSERT_EQ(Decode(backwards, 1, 0, &decoded, 600), 0);
    EXPECT_EQ(decoded.pixels, reference.pixels);
    const size_t arrays = Le32(backwards, TiffEntry(backwards, 0x0144) + 8);
    for (size_t t = 1; t < 8; ++t) {
        const int32_t offset = int32_t(Le32(backwards, arrays + 4 * t));
        const uint16_t bytes = uint16_t(Le32(backwards, arrays + 32 + 4 * t));
        const std::pair<int32_t, uint16_t> request = {offset, bytes};
        EXPECT_EQ(std::count(g_source.log.begin(), g_source.log.end(), request), 1) << "tile " << t;
    }

    // 300 filler bytes before the first tile: a host lending 64 bytes a call
    // cannot cover the step, one lending 600 can.
    const std::vector<int> inOrder = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(Decode(Rearranged(tiff, inOrder, 300), 1, 0, &decoded, 64), VEX_ERR_NO_BUFFER);
    ASSERT_EQ(Decode(Rearranged(tiff, inOrder, 300), 1, 0, &decoded, 600), 0);
    EXPECT_EQ(decoded.pixels, reference.pixels);
}


// The reader visits values stored elsewhere in the file in the order its
// record sort leaves them, and the host sees its read requests in that order.
// Values at equal offsets (tables shared by components, say) come out in the
// order this sort has always given, which is neither the input order nor the
// one a stable sort gives; a different sort would reorder the host's reads.
TEST(TiffValueOrder, RecordsAtEqualOffsetsKeepTheirVisitingOrder) {
    using q32vex::tiff::DeferredEntry;
    struct Case {
        std::vector<uint32_t> offsets;  // record i has index i
        std::vector<uint16_t> visited;  // indices in visiting order
    };
    const std::vector<Case> cases = {
        {{2, 2, 1}, {2, 1, 0}},
        {{2, 1, 2, 2, 0, 2, 1}, {4, 1, 6, 3, 2, 5, 0}},
        {{0, 1, 3, 1, 4, 2, 3, 1, 4, 4, 3, 3, 3, 1, 2, 2}, {0, 13, 3, 7, 1, 14, 15, 5, 10, 2, 11, 6, 12, 9, 8, 4}},
    };
    for (const Case& c : cases) {
        std::vector<DeferredEntry> records;
        for (size_t i = 0; i < c.offsets.size(); ++i) {
            records.push_back(DeferredEntry{0x200 + 0x100 * c.offsets[i], 0x0207, uint16_t(i)});
        }
        q32vex::SortEntries(records.data(), records.size(), sizeof(DeferredEntry), q32vex::tiff::CompareOffsets);
        std::vector<uint16_t> visited;
        for (size_t i = 0; i < records.size(); ++i) {
            visited.push_back(records[i].index);
            if (i > 0) EXPECT_LE(records[i - 1].offset, records[i].offset);
            EXPECT_EQ(records[i].offset, 0x200 + 0x100 * c.offsets[records[i].index]);
        }
        EXPECT_EQ(visited, c.visited) << c.offsets.size() << " records";
    }
}

}  // namespace
}  // namespace vextest
