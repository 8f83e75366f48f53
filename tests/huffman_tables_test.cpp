// Host Huffman tables at the edges of what a table can say: a DC table that
// lists category 12, and tables whose counts hold more codes than their
// lengths have room for. Encoding writes what the table says, bit for bit;
// decoding follows the peer decoder where the stream is sound.
#include <string>
#include <vector>

#include "../fuzz/raw_driver.h"
#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t* DefaultTable(int16_t colorSpace, int kind) {
    const uint8_t *const *q = nullptr, *const *dc = nullptr, *const *ac = nullptr;
    EXPECT_EQ(AppVexGetDefaultTables(colorSpace, &q, &dc, &ac), 0);
    return (kind == 0 ? q : kind == 1 ? dc : ac)[0];
}

// A Huffman table from its BITS counts and symbols, in a full-size slot.
Bytes Spec(bool ac, const std::vector<int>& bits, const std::vector<int>& symbols) {
    Bytes spec(ac ? 178 : 80, 0);
    for (size_t i = 0; i < bits.size(); ++i) spec[i] = uint8_t(bits[i]);
    for (size_t i = 0; i < symbols.size(); ++i) spec[16 + i] = uint8_t(symbols[i]);
    return spec;
}

// The luminance DC table of ITU-T T.81 Table K.3 with category 12 added as
// the next code, 1111111110 (ten bits): the codes of 0..11 stay as they were.
Bytes DcWithCategoryTwelve() {
    Bytes spec(DefaultTable(1, 1), DefaultTable(1, 1) + 80);
    EXPECT_EQ(spec[9], 0);
    spec[9] = 1;
    spec[16 + 12] = 12;
    return spec;
}

// Bits packed most significant first, 0xFF stuffed, the last byte padded
// with 1-bits as an encoder pads before a marker.
struct BitPacker {
    Bytes out;
    uint32_t acc = 0;
    int n = 0;
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            acc = (acc << 1) | ((value >> i) & 1);
            if (++n == 8) Emit();
        }
    }
    void Emit() {
        out.push_back(uint8_t(acc));
        if (uint8_t(acc) == 0xFF) out.push_back(0);
        acc = 0;
        n = 0;
    }
    Bytes Finish() {
        while (n != 0) Put(1, 1);
        return out;
    }
};

int16_t CompressGrey(const Image& image, const Bytes& dc, const Bytes& ac, int16_t container, Bytes* out) {
    AppVexParams p = compress::MakeParams(3, 3, image.width, image.height);
    p.containerKind = container;
    p.quality = 50;
    p.dcTables[0] = dc.data();
    p.acTables[0] = ac.data();
    return CompressImage(p, image, CompressOptions(), out);
}

Image Uniform(int width, int height, uint8_t value) {
    Image image;
    image.width = width;
    image.height = height;
    image.bytesPerPixel = 1;
    image.pixels.assign(size_t(width) * height, value);
    return image;
}

using HuffmanTables = LibraryTest;

// Listing category 12 changes only the table segment: the scan keeps its
// bytes, and both decoders see the same picture.
TEST_F(HuffmanTables, DcTableListingCategoryTwelveEncodesAsBefore) {
    const Image photo = compress::PhotoImage(3, 64, 48);
    const Bytes ac(DefaultTable(1, 2), DefaultTable(1, 2) + 178);
    const Bytes standard(DefaultTable(1, 1), DefaultTable(1, 1) + 80);
    Bytes rawPlain, rawTwelve;
    ASSERT_EQ(CompressGrey(photo, standard, ac, VEX_CONTAINER_RAW, &rawPlain), 0);
    ASSERT_EQ(CompressGrey(photo, DcWithCategoryTwelve(), ac, VEX_CONTAINER_RAW, &rawTwelve), 0);
    EXPECT_EQ(rawTwelve, rawPlain);
    Bytes jfifPlain, jfifTwelve;
    ASSERT_EQ(CompressGrey(photo, standard, ac, VEX_CONTAINER_JFIF, &jfifPlain), 0);
    ASSERT_EQ(CompressGrey(photo, DcWithCategoryTwelve(), ac, VEX_CONTAINER_JFIF, &jfifTwelve), 0);
    EXPECT_EQ(jfifTwelve.size(), jfifPlain.size() + 1);

    Image plain, twelve;
    const AppVexParams read = compress::ReadParams(VEX_CONTAINER_JFIF, 3, 3);
    ASSERT_EQ(DecompressImage(jfifPlain, read, DecompressOptions(), &plain), 0);
    ASSERT_EQ(DecompressImage(jfifTwelve, read, DecompressOptions(), &twelve), 0);
    EXPECT_EQ(twelve.pixels, plain.pixels);
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    Pnm peerPlain, peerTwelve;
    ASSERT_TRUE(Djpeg(jfifPlain, &peerPlain));
    ASSERT_TRUE(Djpeg(jfifTwelve, &peerTwelve));
    EXPECT_EQ(peerTwelve.samples, peerPlain.samples);
}

// A DC difference of 2048 needs category 12: black (DC -1024 with a unit
// quantiser) next to white (DC +1024). The decoder reads its twelve extra
// bits as it reads every other category's.
TEST_F(HuffmanTables, DcCategoryTwelveDecodes) {
    vexfuzz::RawTables t;
    for (auto& q : t.q) q.assign(64, 1);
    // DC codes 00, 01, 10 for categories 0, 11, 12; one AC code, EOB = 0.
    for (auto& dc : t.dc) dc = Spec(false, {0, 3}, {0, 11, 12});
    for (auto& ac : t.ac) ac = Spec(true, {1}, {0x00});
    BitPacker bits;
    bits.Put(0b01, 2), bits.Put(uint32_t(-1024 - 1) & 0x7FF, 11), bits.Put(0, 1);  // -1024, EOB
    bits.Put(0b10, 2), bits.Put(2048, 12), bits.Put(0, 1);                         // +2048, EOB
    const Bytes entropy = bits.Finish();
    Bytes stream = vexfuzz::BuildHeader(t, 16, 8, SamplingOf(3), 1, 0);
    stream.insert(stream.end(), entropy.begin(), entropy.end());
    stream.insert(stream.end(), {0xFF, 0xD9});

    Image ours;
    ASSERT_EQ(DecompressImage(stream, compress::ReadParams(VEX_CONTAINER_JFIF, 3, 3), DecompressOptions(), &ours), 0);
    Bytes expected(16 * 8, 0);
    for (int y = 0; y < 8; ++y) std::fill(expected.begin() + y * 16 + 8, expected.begin() + y * 16 + 16, 255);
    EXPECT_EQ(ours.pixels, expected);
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    Pnm peer;
    ASSERT_TRUE(Djpeg(stream, &peer, "-dct int"));
    EXPECT_EQ(peer.samples, expected);
}

// Seventeen DC codes of four bits and three AC codes of one bit: the codes
// are counted on past their length (Annex C) and each is written cut to its
// length. Two flat blocks: DC category 0 then EOB, twice.
TEST_F(HuffmanTables, OverSubscribedTablesEncodeWithCodesCutToTheirLength) {
    struct Case {
        const char* name;
        std::vector<int> dcSymbols, acSymbols;
        Bytes expected;
    };
    const Case cases[] = {
        // Category 0 is the 13th code, 1100; EOB the third, 10 cut to 0.
        {"category 0 at code 12", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 1, 2, 3, 4}, {0x01, 0x02, 0x00},
         {0xC6, 0x00}},  // 1100 0 1100 0, zero-padded
        // Category 0 is the 17th code, 10000 cut to 0000; EOB the second, 1.
        {"category 0 at code 16", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 0}, {0x01, 0x00, 0x02},
         {0x08, 0x40}},  // 0000 1 0000 1, zero-padded
    };
    const Image flat = Uniform(16, 8, 128);
    for (const Case& c : cases) {
        const Bytes dc = Spec(false, {0, 0, 0, 17}, c.dcSymbols);
        const Bytes ac = Spec(true, {3}, c.acSymbols);
        Bytes raw, jfif;
        ASSERT_EQ(CompressGrey(flat, dc, ac, VEX_CONTAINER_RAW, &raw), 0) << c.name;
        EXPECT_EQ(raw, c.expected) << c.name;
        // The stream carries the tables as given; reading it back refuses
        // them, with the code of the first class that cannot be decoded.
        ASSERT_EQ(CompressGrey(flat, dc, ac, VEX_CONTAINER_JFIF, &jfif), 0) << c.name;
        Image decoded;
        EXPECT_EQ(DecompressImage(jfif, compress::ReadParams(VEX_CONTAINER_JFIF, 3, 3), DecompressOptions(), &decoded),
                  VEX_ERR_DC_TABLE)
            << c.name;
    }
}

}  // namespace
}  // namespace vextest
