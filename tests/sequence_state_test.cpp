// Sequences that start after other sequences ended badly: aborted, failed at
// their open, cut short by AppVexDeallocate, or run in the other direction.
// Whatever came before, an open must behave exactly as it does in a library
// that has just been loaded.
#include <functional>
#include <string>
#include <vector>

#include "compress_helpers.h"
#include "test_support.h"

namespace vextest {
namespace {

using Bytes = std::vector<uint8_t>;

// What a host sees of one sequence: every status, every band rectangle and
// the decoded bytes, so two runs can be compared whole.
struct Trace {
    std::vector<int> statuses;
    std::vector<BandRect> bands;
    Bytes pixels;
    bool operator==(const Trace& o) const {
        if (statuses != o.statuses || pixels != o.pixels || bands.size() != o.bands.size()) return false;
        for (size_t i = 0; i < bands.size(); ++i) {
            const BandRect& a = bands[i];
            const BandRect& b = o.bands[i];
            if (a.x0 != b.x0 || a.y0 != b.y0 || a.x1 != b.x1 || a.y1 != b.y1) return false;
        }
        return true;
    }
};

std::ostream& operator<<(std::ostream& os, const Trace& t) {
    os << "statuses";
    for (int s : t.statuses) os << ' ' << s;
    os << ", " << t.bands.size() << " bands, " << t.pixels.size() << " pixel bytes";
    return os;
}

class SequenceState : public LibraryTest {
protected:
    static constexpr int kWidth = 70, kHeight = 45;

    void SetUp() override {
        image = MakeTestImage(kWidth, kHeight, 3, 5);
        AppVexParams jfif = compress::MakeParams(1, 1, kWidth, kHeight);
        ASSERT_EQ(CompressImage(jfif, image, CompressOptions(), &jfifStream), 0);
        AppVexParams tiff = jfif;
        tiff.containerKind = VEX_CONTAINER_TIFF;
        tiff.tileWidth = 32;
        tiff.tileHeight = 16;
        ASSERT_EQ(CompressImage(tiff, image, CompressOptions(), &tiffStream), 0);
    }

    // Reads a JFIF header, then asks for 32 x 16 tiles and bands on the
    // untiled stream, and decodes band by band as far as the library goes.
    Trace TiledRequestOnJfif() {
        Trace t;
        AppVexParams p = compress::ReadParams(VEX_CONTAINER_JFIF, 1, 1);
        p.readCallback = SourceRead;
        ResetSource(jfifStream, 65535);
        t.statuses.push_back(AppVexGetCompInfo(&p));
        g_source.pos = 0;
        p.tileWidth = 32;
        p.tileHeight = 16;
        p.bandWidth = 32;
        p.bandHeight = 16;
        p.bandMemory = 0;
        const int16_t open = AppVexDecompressBuffInit(&p);
        t.statuses.push_back(open);
        if (open != 0) return t;
        Bytes band(size_t(p.bandWidth) * 3 * p.bandHeight, 0xAA);
        std::vector<uint8_t*> rows(p.bandHeight);
        for (int y = 0; y < p.bandHeight; ++y) rows[y] = band.data() + size_t(y) * p.bandWidth * 3;
        for (int call = 0; call < 100; ++call) {
            BandRect r = {0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
            const int16_t status = AppVexDecompressBuff(rows.data(), &r);
            t.statuses.push_back(status);
            t.bands.push_back(r);
            if (status != 0 || (r.x0 == 1 && r.x1 == 0)) break;
            t.pixels.insert(t.pixels.end(), band.begin(), band.end());
        }
        return t;
    }

    // An ordinary whole decode and an ordinary whole compression, as traces.
    Trace PlainDecode() {
        Trace t;
        Image out;
        t.statuses.push_back(DecompressImage(jfifStream, compress::ReadParams(VEX_CONTAINER_JFIF, 1, 1),
                                             DecompressOptions(), &out));
        t.pixels = out.pixels;
        return t;
    }
    Trace PlainCompress() {
        Trace t;
        t.statuses.push_back(
            CompressImage(compress::MakeParams(1, 1, kWidth, kHeight), image, CompressOptions(), &t.pixels));
        return t;
    }

    // Starts a tiled TIFF decode and leaves it after one band.
    void AbortedTiledDecode() {
        DecompressOptions o;
        o.bandWidth = 32;
        o.bandHeight = 16;
        o.abortAfterBands = 1;
        Image out;
        ASSERT_EQ(DecompressImage(tiffStream, compress::ReadParams(VEX_CONTAINER_TIFF, 1, 1), o, &out), 0);
    }

    // Reads the TIFF header and opens a decode of bands of the given size.
    int16_t OpenTiledDecode(uint16_t bandWidth, uint16_t bandHeight) {
        AppVexParams p = compress::ReadParams(VEX_CONTAINER_TIFF, 1, 1);
        p.readCallback = SourceRead;
        ResetSource(tiffStream, 65535);
        EXPECT_EQ(AppVexGetCompInfo(&p), 0);
        g_source.pos = 0;
        p.bandWidth = bandWidth;
        p.bandHeight = bandHeight;
        return AppVexDecompressBuffInit(&p);
    }

    // Fails the open after the TIFF header: a 1 x 1 band is below the
    // minimum band.
    void FailedTiledOpen() { ASSERT_EQ(OpenTiledDecode(1, 1), VEX_ERR_BAND); }

    // A tiled compression left open after its first band.
    void AbortedTiledCompression() {
        AppVexParams p = compress::MakeParams(1, 1, kWidth, kHeight);
        p.containerKind = VEX_CONTAINER_TIFF;
        p.tileWidth = 32;
        p.tileHeight = 16;
        CompressOptions o;
        o.bandWidth = 32;
        o.bandHeight = 16;
        o.abortAfterBands = 1;
        Bytes out;
        ASSERT_EQ(CompressImage(p, image, o, &out), 0);
    }

    // A tiled decode still open when the host releases the library's memory.
    void DeallocatedTiledDecode() {
        ASSERT_EQ(OpenTiledDecode(32, 16), 0);
        ASSERT_EQ(AppVexDeallocate(), 0);
    }

    Image image;
    Bytes jfifStream, tiffStream;
};

TEST_F(SequenceState, NothingOutlivesItsSequence) {
    // Each scenario from a clean library, then after every kind of sequence
    // that ended early; the host must not be able to tell the two apart.
    const std::vector<std::pair<std::string, std::function<Trace()>>> scenarios = {
        {"tiled request on an untiled stream", [this] { return TiledRequestOnJfif(); }},
        {"plain decode", [this] { return PlainDecode(); }},
        {"plain compression", [this] { return PlainCompress(); }},
    };
    const std::vector<std::pair<std::string, std::function<void()>>> histories = {
        {"aborted tiled decode", [this] { AbortedTiledDecode(); }},
        {"failed tiled open", [this] { FailedTiledOpen(); }},
        {"aborted tiled compression", [this] { AbortedTiledCompression(); }},
        {"deallocated tiled decode", [this] { DeallocatedTiledDecode(); }},
    };
    for (const auto& scenario : scenarios) {
        ASSERT_EQ(AppVexDeallocate(), 0);
        const Trace clean = scenario.second();
        for (const auto& history : histories) {
            AppVexAbort();
            ASSERT_EQ(AppVexDeallocate(), 0);
            history.second();
            if (HasFatalFailure()) return;
            const Trace after = scenario.second();
            EXPECT_EQ(after, clean) << scenario.first << " after " << history.first;
        }
    }
}

}  // namespace
}  // namespace vextest
