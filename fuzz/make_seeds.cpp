// Seed corpora for the fuzz targets, made from this library's own output: JFIF
// and TIFF streams of small images over every supported sampling, with and
// without restarts and tiles, bare entropy data with matching raw options,
// compression option blocks, a few truncations of each stream, and programs
// of export calls for the sequence target. Every seed starts with the option
// block its target reads. Usage: fuzz_make_seeds DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sequence_driver.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using vexfuzz::Put16;

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream f(dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes DecodeOptions(uint8_t format, uint8_t flags, uint16_t a, uint16_t b, uint8_t chunk,
                    uint16_t l, uint16_t t, uint16_t r, uint16_t bottom, int sampling = -1) {
    Bytes o(vexfuzz::kDecodeOptionBytes, 0);
    o[0] = format;
    o[1] = flags;
    Put16(&o, 2, a);
    Put16(&o, 4, b);
    o[6] = chunk;
    o[7] = uint8_t(sampling + 1);
    Put16(&o, 8, l);
    Put16(&o, 10, t);
    Put16(&o, 12, r);
    Put16(&o, 14, bottom);
    return o;
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}


// Programs for the sequence target: every start-up stream decoded and every
// shape compressed, and the orders of calls that once let one sequence reach
// into the next.
void SaveSequenceSeeds(const fs::path& dir) {
    using namespace vexfuzz;
    for (int i = 0; i < kWorldShapeCount; ++i) {
        ProgramWriter w;
        w.Op(kOpDecompressInit).Record(DecompressBase(i)).Input(i).Repeat(kOpDecompressBand, 3);
        w.Op(kOpCompressInit).Record(CompressBase(i), 1).Edit(kEditBand, 16, 16).Sink();
        w.Repeat(kOpCompressBand, 4);
        Save(dir, "shape" + std::to_string(i), w.bytes);
    }
    // A JFIF header read, then 32 x 16 tiles and bands asked of the untiled
    // stream, after a tiled decode that was aborted or failed at its open.
    for (const bool failedOpen : {false, true}) {
        ProgramWriter w;
        w.Op(kOpDecompressInit).Record(DecompressBase(1), 1);
        w.Edit(kEditBand, failedOpen ? 1 : 32, failedOpen ? 1 : 16);
        w.Input(1).Op(kOpDecompressBand).Op(kOpAbort);
        w.Op(kOpGetCompInfo).Record(DecompressBase(0)).Input(0);
        w.Op(kOpDecompressInit).Record(0, 2).Edit(kEditTiles, 32, 16).Edit(kEditBand, 32, 16).Input(0);
        w.Repeat(kOpDecompressBand, 8);
        Save(dir, failedOpen ? "tiles_after_failed_tiff_open" : "tiles_after_aborted_tiff", w.bytes);
    }
    {
        // Compression after an aborted decode, and after a finished one with
        // the record the decode wrote back (tables in the library's slots).
        ProgramWriter w;
        w.Op(kOpDecompressInit).Record(DecompressBase(0), 1).Edit(kEditBand, 16, 16).Input(0);
        w.Repeat(kOpDecompressBand, 2).Op(kOpAbort);
        w.Op(kOpCompressInit).Record(CompressBase(1), 1).Edit(kEditBand, 32, 16).Sink(100);
        w.Repeat(kOpCompressBand, 9);
        w.Op(kOpDecompressInit).Record(DecompressBase(5)).Input(5).Repeat(kOpDecompressBand, 2);
        w.Op(kOpCompressInit).Record(0, 1).U8(kEditCallbacks).U8(0).Sink().Repeat(kOpCompressBand, 2);
        Save(dir, "compress_after_decode", w.bytes);
    }
    {
        // AppVexDeallocate in the middle of each direction.
        ProgramWriter w;
        w.Op(kOpCompressInit).Record(CompressBase(3), 1).Edit(kEditBand, 16, 16).Sink(1000);
        w.Op(kOpCompressBand).Op(kOpDeallocate).Op(kOpCompressBand).Op(kOpAbort);
        w.Op(kOpDecompressInit).Record(DecompressBase(3), 1).Edit(kEditBand, 16, 16).Input(3);
        w.Op(kOpDecompressBand).Op(kOpDeallocate).Op(kOpDecompressBand);
        w.Op(kOpCompressInit).Record(CompressBase(3)).Sink().Repeat(kOpCompressBand, 2);
        Save(dir, "deallocate_mid_sequence", w.bytes);
    }
    {
        // Bare data decoded with the tables a header read left behind.
        ProgramWriter w;
        w.Op(kOpGetCompInfo).Record(DecompressBase(0)).Input(0);
        w.Op(kOpDecompressInit).Record(DecompressBase(4)).Input(4).Repeat(kOpDecompressBand, 3);
        Save(dir, "raw_after_header", w.bytes);
    }
    {
        // Every export, the queries and opens while a sequence is open, a
        // window whose last band may or may not close the sequence.
        ProgramWriter w;
        w.Op(kOpSetDefaultCompress).Op(kOpSetDefaultDecompress).Op(kOpGetDefaultTables).U8(3);
        w.Op(kOpMakeQTable).U8(3).U16(50).Op(kOpGetTableSize).U8(1).U8(4);
        w.Op(kOpGetMcuDims).U8(0).U8(1).Op(kOpQuerySupport).U8(1).Record(CompressBase(5));
        w.Op(kOpEnterLock).Op(kOpCompressInit).Record(CompressBase(5), 1).Edit(kEditBand, 32, 8).Sink(64);
        w.Op(kOpGetCompInfo).Record(DecompressBase(5)).Input(5).Op(kOpQuerySupport).U8(2).Record(0);
        w.Op(kOpCompressInit).Record(0).Sink().Op(kOpDecompressBand).Repeat(kOpCompressBand, 2);
        w.Op(kOpLeaveLock).Op(kOpAbort).Op(kOpAbort).Op(kOpCompressBand);
        w.Op(kOpDecompressInit).Record(DecompressBase(0), 2).Edit(kEditBand, 16, 16);
        w.U8(kEditWindow).U16(9).U16(5).U16(40).U16(20).Input(0);
        w.Repeat(kOpDecompressBand, 5).Op(kOpAbort).Op(kOpQuerySupport).U8(2).Record(0);
        Save(dir, "every_export", w.bytes);
    }
    {
        // Hosts that fail a call, hand out small buffers, and a damaged stream.
        ProgramWriter w;
        w.Op(kOpCompressInit).Record(CompressBase(2), 1).Edit(kEditBand, 8, 8).Sink(3, 135);
        w.Repeat(kOpCompressBand, 6);
        w.Op(kOpDecompressInit).Record(DecompressBase(2), 1).Edit(kEditBand, 8, 8).Input(2, 2, 200);
        w.Repeat(kOpDecompressBand, 3);
        // Two flipped bytes in the entropy data of the first tiles.
        w.Op(kOpDecompressInit).Record(DecompressBase(1), 1).Edit(kEditBand, 32, 16);
        w.U8(1).U8(1 | 4).U16(2000).U8(0x10).U16(2900).U8(0x40).U16(0).U8(0).U8(0);
        w.Repeat(kOpDecompressBand, 4);
        Save(dir, "failing_hosts", w.bytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    const vexfuzz::SeedShape shapes[] = {
        {0, 1, 40, 24, 0, 0xFFFF, 0xFFFF}, {1, 0, 33, 17, 2, 0xFFFF, 0xFFFF},
        {2, 2, 17, 9, 0, 0xFFFF, 0xFFFF},  {3, 3, 21, 13, 1, 0xFFFF, 0xFFFF},
        {4, 4, 32, 32, 0, 16, 16},         {5, 4, 9, 9, 3, 0xFFFF, 0xFFFF},
        {6, 1, 60, 8, 0, 0xFFFF, 0xFFFF},  {0, 1, 48, 24, 0, 16, 8},
        {3, 3, 1, 1, 0, 0xFFFF, 0xFFFF},
    };
    int n = 0;
    for (const vexfuzz::SeedShape& s : shapes) {
        const std::string tag = std::to_string(n++);
        // Compression option blocks, one per container.
        for (int container = 0; container < 3; ++container) {
            Bytes in = vexfuzz::ShapeOptions(s, container, 25);
            in = Join(in, vexfuzz::ShapePixels(64, n));
            Save(root / "compress", "shape" + tag + "_c" + std::to_string(container), in);
        }
        const Bytes jfif = vexfuzz::CompressShape(s, VEX_CONTAINER_JFIF, 25);
        const Bytes tiff = vexfuzz::CompressShape(s, VEX_CONTAINER_TIFF, 25);
        const Bytes raw = vexfuzz::CompressShape(s, VEX_CONTAINER_RAW, 25);
        if (jfif.empty() || tiff.empty() || raw.empty()) {
            std::fprintf(stderr, "seed shape %s failed\n", tag.c_str());
            return 1;
        }
        const Bytes plain = DecodeOptions(uint8_t(s.formatIndex), 0, 0, 0, 0, 0, 0, 0, 0);
        // Band request, window inside MCUs, small chunks, marker callback.
        const Bytes fancy =
            DecodeOptions(uint8_t(s.formatIndex), 0x31, 16, 8, 3, 3, 2, uint16_t(s.width - 2),
                          uint16_t(s.height - 1));
        // A memory budget and a host that signals the end with an empty read.
        const Bytes budget = DecodeOptions(uint8_t(s.formatIndex), 0x06, 3000, 0, 6, 0, 0, 0, 0);
        Save(root / "jfif", "shape" + tag, Join(plain, jfif));
        Save(root / "jfif", "shape" + tag + "_window", Join(fancy, jfif));
        Save(root / "jfif", "shape" + tag + "_budget", Join(budget, jfif));
        // The TIFF host states the sampling it wrote (not in grey files).
        Bytes tiffPlain = plain, tiffFancy = fancy;
        tiffPlain[7] = tiffFancy[7] = uint8_t(s.samplingIndex + 1);
        Save(root / "tiff", "shape" + tag, Join(tiffPlain, tiff));
        Save(root / "tiff", "shape" + tag + "_window", Join(tiffFancy, tiff));
        // Truncations: inside the header, and inside the entropy data.
        for (size_t cut : {size_t(20), jfif.size() / 2, jfif.size() - 3})
            if (cut < jfif.size())
                Save(root / "jfif", "shape" + tag + "_cut" + std::to_string(cut),
                     Join(plain, Bytes(jfif.begin(), jfif.begin() + long(cut))));
        for (size_t cut : {size_t(40), size_t(300), tiff.size() - 5})
            if (cut < tiff.size())
                Save(root / "tiff", "shape" + tag + "_cut" + std::to_string(cut),
                     Join(tiffPlain, Bytes(tiff.begin(), tiff.begin() + long(cut))));
        // Raw entropy data with the geometry that made it (default tables).
        Bytes rawOptions(vexfuzz::kRawOptionBytes, 0);
        rawOptions[0] = uint8_t(s.samplingIndex);
        rawOptions[1] = s.tileWidth != 0xFFFF ? 16 : 0;
        Put16(&rawOptions, 2, uint16_t(s.width));
        Put16(&rawOptions, 4, uint16_t(s.height));
        Put16(&rawOptions, 6, s.restart);
        Put16(&rawOptions, 8, s.tileWidth);
        Put16(&rawOptions, 10, s.tileHeight);
        Save(root / "raw", "shape" + tag, Join(Join(plain, rawOptions), raw));
    }
    SaveSequenceSeeds(root / "sequence");
    std::printf("seeds written to %s\n", root.string().c_str());
    return 0;
}
