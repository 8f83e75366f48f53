// vexjpeg: compress, decompress and describe images with the q32vex library.
// It is a plain host of the library's public exports (through q32vex.hpp):
// image files in and out, one sequence per command, every failure turned into
// one line naming its cause and a documented exit code.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "batch.h"
#include "files.h"
#include "image_files.h"
#include "jpeg_frame.h"
#include "metadata.h"
#include "q32vex.hpp"

namespace vexjpeg {
namespace {

using q32vex::Container;
using q32vex::Image;
using q32vex::PixelFormat;
using q32vex::Sampling;

constexpr const char* kVersion = "0.1.0";

struct UsageError {
    std::string message;
};
struct InputError {
    std::string message;
};

const char kMainHelp[] =
    "usage: vexjpeg COMMAND [ARGS]\n"
    "\n"
    "Baseline JPEG compression and decompression with the q32vex library.\n"
    "\n"
    "commands:\n"
    "  compress IN OUT     image file (PNG, PPM, PGM, BMP) to JFIF, tiled TIFF or raw data\n"
    "  decompress IN OUT   JFIF, TIFF or raw data to an image file\n"
    "  compress|decompress FILE... --out-dir DIR [-j N]\n"
    "                      many files into DIR, N at a time\n"
    "  info IN             describe a compressed file (--json for JSON)\n"
    "  compare A B         PSNR between two image files of the same size\n"
    "\n"
    "Run 'vexjpeg COMMAND --help' for the options of each command.\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  bad command line (unknown option, bad value, missing file name)\n"
    "  2  the input cannot be read, is not a file this tool reads, is truncated,\n"
    "     or was damaged (decompress: the image is written, the damage named on\n"
    "     stderr, as djpeg does; with --strict nothing is written)\n"
    "  3  the library refused the parameters or the stream; the message names\n"
    "     its status code (VEX_ERR_...) and what it means\n"
    "  4  the output file cannot be written\n"
    "On failure nothing is left under the output name. With several files,\n"
    "compress and decompress --out-dir exit with the highest code any file gave\n"
    "(so a failed write, 4, is never hidden by a bad input, 2); info exits with\n"
    "the first failure's code.\n";

const char kCompressHelp[] =
    "usage: vexjpeg compress IN OUT [options]\n"
    "       vexjpeg compress FILE... --out-dir DIR [-j N] [options]\n"
    "\n"
    "Compresses an image file. IN is PNG, binary PPM/PGM or BMP (8, 16, 24 or\n"
    "32 bits), recognised by its content. The container follows OUT's extension:\n"
    ".jpg .jpeg .jfif -> JFIF, .tif .tiff -> tiled TIFF, .raw .bin -> raw data.\n"
    "\n"
    "options:\n"
    "  --quality Q         1..100, higher is better (default 75): cjpeg's\n"
    "                      quantisation tables for -quality Q (entries of 1,\n"
    "                      from Q 93 on, become 2, the library's finest step)\n"
    "  --scale S           or the library's own scale: 1..255 fiftieths of the\n"
    "                      standard tables (50 uses them as they are)\n"
    "  --sampling S        444, 422 (default for colour), 420, 411 or gray\n"
    "                      (a colour input is converted to grey for gray)\n"
    "  --restart N         restart marker every N MCUs (default 0: none)\n"
    "  --threads N         threads for one picture (default 0: one per core;\n"
    "                      1 in the batch form). JFIF files with --restart\n"
    "                      are coded in strips of restart intervals, with\n"
    "                      the bytes of one thread\n"
    "  --container C       jfif, tiff or raw, instead of OUT's extension (with\n"
    "                      --out-dir: DIR/NAME.jpg, .tif or .raw; jfif if not given)\n"
    "  --tile WxH          TIFF tile size, multiples of the MCU size (16x8 for 422)\n"
    "  --band-rows N       hand the image to the library N rows at a time\n"
    "  --band-memory BYTES or let the library size bands from a byte budget\n"
    "  --comment TEXT      add a COM segment (JFIF only)\n"
    "  --input-format F    png, ppm, pgm or bmp, instead of IN's content\n"
    "  --strip             leave out a PNG's ICC profile and Exif block\n"
    "  --stats             print size, bits per pixel and codec time on stdout\n"
    "  --quiet             no progress bar\n"
    "\n"
    "A PNG file's ICC profile (iCCP) and Exif block (eXIf) go into a JFIF\n"
    "file as APP2 ICC_PROFILE and APP1 Exif segments. The library writes one\n"
    "segment per marker: a profile larger than 65517 bytes or an Exif block\n"
    "larger than 65525 bytes is refused (exit code 2; --strip leaves them out).\n"
    "TIFF files and raw data have no place for them.\n"
    "\n"
    "Raw data (--container raw) is the entropy-coded scan alone. Its geometry\n"
    "and tables go to a sidecar OUT.hdr: the JPEG header (SOI to SOS) that\n"
    "describes it. 'decompress' and 'info' find it beside the raw file, and\n"
    "OUT.hdr + OUT + the bytes FF D9 make a complete JPEG file.\n";

const char kDecompressHelp[] =
    "usage: vexjpeg decompress IN OUT [options]\n"
    "       vexjpeg decompress FILE... --out-dir DIR [-j N] [options]\n"
    "\n"
    "Decompresses a JFIF file, a TIFF file written by this library, or raw data\n"
    "with its IN.hdr sidecar. OUT's extension chooses the image file format:\n"
    ".png, .ppm, .pgm, .pnm or .bmp.\n"
    "\n"
    "options:\n"
    "  --window X,Y,W,H    decode only this rectangle (clipped to the image)\n"
    "  --threads N         threads for one picture (default 0: one per core;\n"
    "                      1 in the batch form). A JFIF file with restart\n"
    "                      markers, decoded whole, is decoded in strips of\n"
    "                      restart intervals (a file of up to 64 MiB, which\n"
    "                      is read whole first)\n"
    "  --pixel-format P    bgr24 (default), bgrx32 or bgr555: the pixels the\n"
    "                      library decodes colour images to (BMP keeps them)\n"
    "  --band-rows N       take the image from the library N rows at a time\n"
    "  --band-memory BYTES or let the library size bands from a byte budget\n"
    "  --format F          png, ppm, pgm, pnm or bmp, instead of OUT's extension\n"
    "                      (with --out-dir: DIR/NAME.F; png if not given, pnm\n"
    "                      in a build without PNG support)\n"
    "  --container C       jfif, tiff or raw, instead of IN's content\n"
    "  --header FILE       the header of raw data (default IN.hdr)\n"
    "  --sampling S        444 (default) or 420: the layout of a four-component\n"
    "                      TIFF file, which the file does not record\n"
    "  --raw-channels      write a four-component image's channels as they are\n"
    "                      (PNG only, as red, green, blue and alpha)\n"
    "  --strip             leave out the ICC profile and Exif block\n"
    "  --legacy-colour     let colours beyond the YCbCr gamut wrap around, as\n"
    "                      the legacy library's decoder does (its exact pixels)\n"
    "  --stats             print size and codec time on stdout\n"
    "  --quiet             no progress bar\n"
    "  --strict            refuse a damaged JPEG file (exit code 2) instead of\n"
    "                      writing what it holds\n"
    "\n"
    "Colour channels are clamped to 0..255, as djpeg clamps them.\n"
    "A four-component (CMYK or YCCK) image is converted to RGB, as djpeg and\n"
    "ImageMagick show it: samples are taken as Adobe stores them, inverted\n"
    "(255 is no ink), and an Adobe APP14 segment with transform 2 marks YCCK.\n"
    "A PNG file gets the JPEG file's ICC profile (APP2 ICC_PROFILE segments,\n"
    "joined in sequence order) as iCCP, when the profile describes the pixels\n"
    "written (RGB or grey), and its Exif block (APP1) as eXIf.\n"
    "\n"
    "A damaged JPEG file (its data ends early, is corrupt, or has restart\n"
    "markers out of order) is read as far as it goes, as djpeg reads it: the\n"
    "image is written with the missing parts grey, each kind of damage is named\n"
    "on stderr, and the exit code is 2. --strict refuses it and writes nothing.\n"
    "A TIFF file whose tiles end past the end of the file is refused (exit\n"
    "code 2).\n";

// The batch form, the same for compress and decompress.
const char kBatchHelp[] =
    "\n"
    "Several files (batch):\n"
    "  --out-dir DIR       convert every FILE into DIR, which must exist, as its\n"
    "                      name without directory and extension, then the\n"
    "                      output's extension\n"
    "  -j N                convert N files at a time, 1..64 (default: one per\n"
    "                      processor)\n"
    "Each file gets exactly the bytes the single-file command writes for it.\n"
    "Two files that would write the same output are refused before anything is\n"
    "converted; '-' (standard input) cannot be one of the files. A file that\n"
    "fails prints its own line and the others are still converted. Messages\n"
    "come in the order of the files (--stats lines start with the file's name);\n"
    "there is no progress bar. The exit code is the highest any file gave.\n";

const char kInfoHelp[] =
    "usage: vexjpeg info IN... [--json] [--container C] [--header FILE]\n"
    "\n"
    "Describes compressed files without decoding them: container, size,\n"
    "components, sampling, restart interval, quantisation and Huffman tables,\n"
    "the APPn and COM segments of a JFIF file, and the tiles of a TIFF file.\n"
    "Raw data is described by its sidecar header (IN.hdr or --header). A JPEG\n"
    "file of a process this codec does not decode (progressive, extended,\n"
    "lossless, arithmetic-coded, 12-bit) is described by its frame header.\n";

const char kCompareHelp[] =
    "usage: vexjpeg compare A B\n"
    "\n"
    "Prints the PSNR in dB between two image files of the same size: over the\n"
    "grey samples when both are grey, over red, green and blue otherwise.\n";

// ---- command line ------------------------------------------------------------------

struct Args {
    std::vector<std::string> files;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool has(const std::string& name) const { return values.count(name) != 0; }
    std::string get(const std::string& name, const std::string& fallback = "") const {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

Args Parse(int argc, char** argv, int first, const std::set<std::string>& valued,
           const std::set<std::string>& flags) {
    Args args;
    bool optionsDone = false;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            args.files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsDone = true;
            continue;
        }
        std::string value;
        const size_t eq = a.find('=');
        bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        } else if (a.size() > 2 && a[0] == '-' && a[1] != '-' && valued.count(a.substr(0, 2))) {
            // A short option with its value attached, as make's -j4.
            value = a.substr(2);
            a = a.substr(0, 2);
            inlineValue = true;
        }
        if (flags.count(a)) {
            if (inlineValue) throw UsageError{a + " takes no value"};
            args.flags.insert(a);
        } else if (valued.count(a)) {
            if (!inlineValue) {
                if (i + 1 >= argc) throw UsageError{a + " needs a value"};
                value = argv[++i];
            }
            if (args.values.count(a)) throw UsageError{a + " given twice"};
            args.values[a] = value;
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    return args;
}

long long Number(const Args& args, const std::string& name, long long lo, long long hi, long long fallback) {
    if (!args.has(name)) return fallback;
    const std::string text = args.get(name);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi)
        throw UsageError{name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                         ", not '" + text + "'"};
    return v;
}

std::vector<long long> NumberList(const std::string& name, const std::string& text, char sep, size_t count) {
    std::vector<long long> out;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, sep)) {
        char* end = nullptr;
        const long long v = std::strtoll(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || v < 0 || v > 65535) {
            out.clear();
            break;
        }
        out.push_back(v);
    }
    if (out.size() != count)
        throw UsageError{name + " expects " + std::to_string(count) + " whole numbers 0..65535 separated by '" +
                         std::string(1, sep) + "', not '" + text + "'"};
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Extension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot + 1));
}

bool ContainerFromName(const std::string& name, Container* out) {
    if (name == "jfif" || name == "jpg" || name == "jpeg" || name == "jpe") {
        *out = Container::Jfif;
    } else if (name == "tiff" || name == "tif") {
        *out = Container::Tiff;
    } else if (name == "raw" || name == "bin") {
        *out = Container::Raw;
    } else {
        return false;
    }
    return true;
}

const char* ContainerName(Container c) {
    return c == Container::Jfif ? "jfif" : c == Container::Tiff ? "tiff" : "raw";
}

// ---- progress ------------------------------------------------------------------------

// A bar on stderr, only on a terminal and only for images that take a while.
class ProgressBar {
public:
    ProgressBar(const char* verb, uint64_t pixels, bool quiet)
        : verb_(verb), enabled_(!quiet && pixels >= kLargeImage && StderrIsTerminal()) {}
    ~ProgressBar() { Finish(); }

    void Update(uint64_t done, uint64_t total) {
        if (!enabled_ || total == 0) return;
        const int percent = int(done * 100 / total);
        if (percent == last_) return;
        last_ = percent;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\rvexjpeg: %s [%s%s] %3d%%", verb_, std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(kWidth - filled), '.').c_str(), percent);
        std::fflush(stderr);
        drawn_ = true;
    }
    void Finish() {
        if (drawn_) std::fputc('\n', stderr);
        drawn_ = false;
    }
    q32vex::Progress Callback() {
        if (!enabled_) return nullptr;
        return [this](uint64_t done, uint64_t total) { Update(done, total); };
    }

private:
    static constexpr uint64_t kLargeImage = 4000000;  // pixels
    static constexpr int kWidth = 40;
    const char* verb_;
    bool enabled_;
    bool drawn_ = false;
    int last_ = -1;
};

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// ---- input checks ------------------------------------------------------------------

// A TIFF file cut short is refused before decoding; a JFIF stream cut
// short is read as far as it goes, and the library reports it.
std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : separator) + part;
    return joined;
}

void CheckComplete(InputFile& in, Container container, const q32vex::ImageInfo& info) {
    if (container == Container::Tiff) {
        const uint64_t size = in.Size();
        for (size_t i = 0; i < info.tile_offsets.size() && i < info.tile_byte_counts.size(); ++i) {
            if (uint64_t(info.tile_offsets[i]) + info.tile_byte_counts[i] > size)
                throw InputError{in.name() + ": the file is truncated: tile " + std::to_string(i) +
                                 " ends past the end of the file"};
        }
    }
}

// The library reads a compressed input through this, by position.
q32vex::Reader FileReader(InputFile& in) {
    return [&in](uint64_t position, uint8_t* buffer, size_t capacity) {
        try {
            if (position != in.Position()) in.Seek(position);
            return in.Read(buffer, capacity);
        } catch (const FileError& e) {
            throw InputError{e.message};
        }
    };
}

// The container of a compressed input and, for raw data, its header.
Container ResolveInput(const Args& args, const std::string& in, const std::vector<uint8_t>& head,
                       std::vector<uint8_t>* rawHeader) {
    Container container = Container::Raw;
    if (args.has("--container")) {
        if (!ContainerFromName(Lower(args.get("--container")), &container))
            throw UsageError{"--container must be jfif, tiff or raw"};
    } else {
        container = q32vex::detail::sniff(head.data(), head.size());
    }
    if (container != Container::Raw && !args.has("--header")) return container;
    const std::string headerPath = args.get("--header", in + ".hdr");
    if (!args.has("--header") && !args.has("--container") && !FileExists(headerPath)) {
        static const char* const kImageKind[] = {"", "PNG", "PPM/PGM", "BMP"};
        const ImageFormat image = SniffImage(head);
        if (image != ImageFormat::Unknown)
            throw InputError{in + ": a " + kImageKind[int(image)] +
                             " image, not a JPEG or TIFF file (vexjpeg compress turns images into JPEG)"};
        throw InputError{in + ": not a JPEG or TIFF file, and no " + headerPath +
                         " header beside it that would describe raw data"};
    }
    try {
        *rawHeader = ReadWholeFile(headerPath);
    } catch (const FileError& e) {
        throw InputError{"raw entropy-coded data needs its header: " + e.message + " (give --header FILE)"};
    }
    return Container::Raw;
}

// ---- streaming -----------------------------------------------------------------------

// The rows of the band the library asks for, read from the image file in
// order and converted to the pixels the library takes. A row is kept until
// bands have covered all its columns (with tiles, bands go back up to the
// top of their row of tiles), so the window holds at most one row of tiles,
// or one band of an untiled image.
class RowWindow {
public:
    RowWindow(ImageReader& reader, PixelFormat format)
        : reader_(reader),
          format_(format),
          rowBytes_(size_t(reader.width) * size_t(q32vex::bytes_per_pixel(format))),
          fileRow_(format == reader.format ? 0
                                           : size_t(reader.width) * size_t(q32vex::bytes_per_pixel(reader.format))) {}

    void Get(int x0, int x1, int y0, int y1, const uint8_t** out) {
        Consume();
        if (y0 < first_) throw ImageFileError{"rows were asked for again after they were used"};
        while (next_ <= y1) {
            Row row;
            if (!spare_.empty()) {
                row.pixels = std::move(spare_.back());
                spare_.pop_back();
            } else {
                row.pixels.resize(rowBytes_);
            }
            if (fileRow_.empty()) {
                reader_.ReadRow(row.pixels.data());
            } else {
                reader_.ReadRow(fileRow_.data());
                if (format_ == PixelFormat::Gray8) {
                    RowToGray8(fileRow_.data(), reader_.format, reader_.width, row.pixels.data());
                } else {
                    RowToBgr24(fileRow_.data(), reader_.format, reader_.width, row.pixels.data());
                }
            }
            rows_.push_back(std::move(row));
            ++next_;
        }
        for (int y = y0; y <= y1; ++y) out[y - y0] = rows_[size_t(y - first_)].pixels.data();
        band_ = {x0, x1, y0, y1};
    }

private:
    struct Row {
        std::vector<uint8_t> pixels;
        int covered = 0;  // columns the bands so far have taken
    };
    struct Band {
        int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    };

    // The band handed out last has been coded: its columns are done.
    void Consume() {
        for (int y = band_.y0; y <= band_.y1; ++y) rows_[size_t(y - first_)].covered += band_.x1 - band_.x0 + 1;
        band_ = Band();
        while (!rows_.empty() && rows_.front().covered >= reader_.width) {
            spare_.push_back(std::move(rows_.front().pixels));
            rows_.pop_front();
            ++first_;
        }
    }

    ImageReader& reader_;
    PixelFormat format_;
    size_t rowBytes_;
    std::vector<uint8_t> fileRow_;  // the file's pixels, when they are converted
    std::deque<Row> rows_;
    std::vector<std::vector<uint8_t>> spare_;
    Band band_;
    int first_ = 0;  // the image row of rows_.front()
    int next_ = 0;   // the next row the file gives
};

// Band budget when no band option is given: about 16 rows, so that the tool's
// memory follows the image's width, not its size. Fewer rows cost nothing
// measurable per band, and each page of a band's buffers costs a fault when
// first touched (at 4096 x 4096 4:2:0, 64 rows took 4% to 8% more time).
int32_t DefaultBandMemory(int width, PixelFormat format) {
    const uint64_t rows = 16 * uint64_t(width) * uint64_t(q32vex::bytes_per_pixel(format));
    return int32_t(std::clamp<uint64_t>(rows, 256 << 10, 16 << 20));
}

// Full-width rows of the window, gathered from the bands the library hands
// over (a band may cover only some columns, as TIFF tiles do, and bands may
// go back up to the top of a row of tiles) and written out, top to bottom, as
// soon as every column of a row has come.
class StripWriter {
public:
    StripWriter(ImageWriter& writer, int width, PixelFormat format)
        : writer_(writer), width_(width), bpp_(q32vex::bytes_per_pixel(format)),
          rowBytes_(size_t(width) * size_t(bpp_)) {}

    void Band(int x, int y, int columns, int rows, const uint8_t* const* data) {
        if (y < next_) throw ImageFileError{"the library handed over rows that were already written"};
        // A band as wide as the window goes out as it is.
        if (x == 0 && columns == width_ && y == next_ && rows_.empty()) {
            for (int r = 0; r < rows; ++r) writer_.WriteRow(data[r]);
            next_ += rows;
            return;
        }
        for (int r = 0; r < rows; ++r) {
            const size_t index = size_t(y + r - next_);
            while (rows_.size() <= index) {
                Row row{nullptr, 0};
                if (spare_.empty()) {
                    row.pixels.reset(new uint8_t[rowBytes_]);
                } else {
                    row.pixels = std::move(spare_.back());
                    spare_.pop_back();
                }
                rows_.push_back(std::move(row));
            }
            Row& row = rows_[index];
            std::memcpy(&row.pixels[size_t(x) * size_t(bpp_)], data[r], size_t(columns) * size_t(bpp_));
            row.filled += columns;
        }
        while (!rows_.empty() && rows_.front().filled >= width_) {
            writer_.WriteRow(rows_.front().pixels.get());
            spare_.push_back(std::move(rows_.front().pixels));
            rows_.pop_front();
            ++next_;
        }
    }
    // Every row must have been written by the end.
    bool Complete(int height) const { return rows_.empty() && next_ == height; }

private:
    struct Row {
        std::unique_ptr<uint8_t[]> pixels;
        int filled;
    };
    ImageWriter& writer_;
    int width_;
    int bpp_;
    size_t rowBytes_;
    std::deque<Row> rows_;
    std::vector<std::unique_ptr<uint8_t[]>> spare_;
    int next_ = 0;  // the window row written next
};

// ---- one file or many -----------------------------------------------------------------

// Runs the work of one file, turning each failure into its exit code and its
// line, as the single-file command reports it.
template <typename Work>
Outcome Guarded(Work&& work) {
    Outcome o;
    const auto fail = [&o](int code, const std::string& message) {
        o.code = code;
        o.err += "vexjpeg: " + message + "\n";
    };
    try {
        o.code = work(o);
    } catch (const UsageError& e) {
        fail(kExitUsage, e.message);
    } catch (const InputError& e) {
        fail(kExitInput, e.message);
    } catch (const q32vex::Error& e) {
        fail(kExitCodec, e.what());
    } catch (const FileError& e) {
        fail(e.reading ? kExitInput : kExitOutput, e.message);
    } catch (const std::bad_alloc&) {
        fail(kExitInput, "out of memory");
    } catch (const std::exception& e) {
        fail(kExitInput, e.what());
    }
    return o;
}

// Prints what one file's conversion came to; returns its exit code.
int Report(const Outcome& o) {
    std::fputs(o.out.c_str(), stdout);
    std::fputs(o.err.c_str(), stderr);
    return o.code;
}

// The batch form of compress and decompress: FILE... --out-dir DIR [-j N].
bool IsBatch(const Args& args) { return args.has("--out-dir") || args.has("-j"); }

// The command line of compress or decompress, in either form, with the
// options of `valued` and `flags` besides the batch form's and --help. False
// when it asked for the help, which is then printed.
bool ParseConversion(int argc, char** argv, const std::string& command, const char* help,
                     std::set<std::string> valued, std::set<std::string> flags, Args* args) {
    valued.insert({"--out-dir", "-j"});
    flags.insert({"--help", "-h"});
    *args = Parse(argc, argv, 2, valued, flags);
    if (args->flags.count("--help") || args->flags.count("-h")) {
        std::fputs(help, stdout);
        std::fputs(kBatchHelp, stdout);
        return false;
    }
    if (!IsBatch(*args) && args->files.size() != 2)
        throw UsageError{command + " needs IN and OUT, or FILE... --out-dir DIR (see vexjpeg " + command + " --help)"};
    return true;
}

// Checks the batch form's files and directory, then converts every file.
// Nothing is converted when any of the checks fails.
int RunBatchCommand(const char* command, const Args& args, const std::string& extension, const Conversion& convert) {
    if (!args.has("--out-dir")) throw UsageError{std::string("-j needs --out-dir DIR (see vexjpeg ") + command + " --help)"};
    if (args.files.empty()) throw UsageError{std::string(command) + " --out-dir needs input files"};
    for (const std::string& in : args.files)
        if (in == "-") throw UsageError{"standard input ('-') cannot be one of several inputs; name the files"};
    const int jobs = int(Number(args, "-j", 1, kMaxWriters, DefaultJobs()));
    const std::string dir = args.get("--out-dir");
    // A missing directory is more likely a mistyped name than a wish for a
    // new one: refused, as a missing directory in a single OUT name is.
    if (!IsDirectory(dir)) throw FileError{dir + ": no such directory (--out-dir names an existing one)", false};
    std::string clash;
    const std::vector<std::string> outputs = BatchOutputs(args.files, dir, extension, &clash);
    if (outputs.empty()) throw UsageError{clash + "; nothing was converted"};
    return RunBatch(args.files, outputs, jobs, convert);
}

// Converts IN into OUT, or each FILE into DIR, with `convertFile(job, in,
// out, outcome)`.
template <typename Job, typename ConvertFile>
int Convert(const char* command, const Args& args, Job& job, const std::string& extension, ConvertFile convertFile) {
    if (!IsBatch(args))
        return Report(Guarded([&](Outcome& o) { return convertFile(job, args.files[0], args.files[1], o); }));
    // No progress bar: several images are on their way at once.
    job.progressBar = false;
    return RunBatchCommand(command, args, extension, [&](const std::string& in, const std::string& out) {
        return Guarded([&](Outcome& o) { return convertFile(job, in, out, o); });
    });
}

// ---- compress -----------------------------------------------------------------------

// --threads N: threads for one picture (0, the default: one per core). Only
// a JFIF file with restart intervals is cut into strips, which stream as
// bands do, a few at a time; every other file goes on one thread.
// In the batch form the files share the cores instead, so each takes one
// unless told otherwise.
int PictureThreads(const Args& args) {
    const int threads = int(Number(args, "--threads", 0, 64, IsBatch(args) ? 1 : 0));
    return threads == 0 ? q32vex::detail::thread_count(0) : threads;
}

// What compress does to every file, from the command line.
struct CompressJob {
    q32vex::CompressOptions options;  // per file, it gains the segments and the progress callback
    bool bandsChosen = false;
    bool wantGray = false;
    ImageFormat inputFormat = ImageFormat::Unknown;  // Unknown: from each file's content
    bool strip = false, stats = false;
    bool progressBar = true;
};

CompressJob CompressSettings(const Args& args, Container container) {
    CompressJob job;
    q32vex::CompressOptions& options = job.options;
    options.container = container;
    if (args.has("--quality") && args.has("--scale")) throw UsageError{"give --quality or --scale, not both"};
    if (args.has("--scale")) {
        options.quality = int(Number(args, "--scale", 1, 255, 25));
    } else {
        options.jpeg_quality = int(Number(args, "--quality", 1, 100, 75));
    }
    options.restart_interval = int(Number(args, "--restart", 0, 65535, 0));
    options.threads = PictureThreads(args);
    if (args.has("--band-rows") && args.has("--band-memory"))
        throw UsageError{"give --band-rows or --band-memory, not both"};
    options.band_rows = int(Number(args, "--band-rows", 1, 65535, 0));
    options.band_memory = int32_t(Number(args, "--band-memory", 1, 0x7FFFFFFF, 0));
    if (args.has("--tile")) {
        if (options.container != Container::Tiff) throw UsageError{"--tile needs the tiff container"};
        const std::vector<long long> tile = NumberList("--tile", Lower(args.get("--tile")), 'x', 2);
        options.tile_width = int(tile[0]);
        options.tile_height = int(tile[1]);
        if (options.tile_width == 0 || options.tile_height == 0) throw UsageError{"--tile sizes must not be 0"};
    }
    if (args.has("--comment")) {
        if (options.container != Container::Jfif) throw UsageError{"--comment needs the jfif container"};
        options.comment = args.get("--comment");
        if (options.comment.empty() || options.comment.size() > 65000)
            throw UsageError{"--comment needs 1 to 65000 bytes of text"};
    }
    if (args.has("--sampling")) {
        const std::string s = Lower(args.get("--sampling"));
        Sampling sampling;
        if (s == "444") sampling = Sampling::S444;
        else if (s == "422") sampling = Sampling::S422;
        else if (s == "420") sampling = Sampling::S420;
        else if (s == "411") sampling = Sampling::S411;
        else if (s == "gray" || s == "grey") sampling = Sampling::Gray;
        else throw UsageError{"--sampling must be 444, 422, 420, 411 or gray"};
        options.with_sampling(sampling);
        job.wantGray = sampling == Sampling::Gray;
    }
    if (args.has("--input-format")) {
        job.inputFormat = FormatFromName(Lower(args.get("--input-format")));
        if (job.inputFormat == ImageFormat::Unknown) throw UsageError{"--input-format must be png, ppm, pgm or bmp"};
    }
    job.bandsChosen = options.band_rows != 0 || options.band_memory != 0;
    job.strip = args.flags.count("--strip") != 0;
    job.progressBar = args.flags.count("--quiet") == 0;
    job.stats = args.flags.count("--stats") != 0;
    return job;
}

// Compresses the image file `in` into `out`.
int CompressFile(const CompressJob& job, const std::string& in, const std::string& out, Outcome& outcome) {
    q32vex::CompressOptions options = job.options;
    ImageFormat inputFormat = job.inputFormat;
    std::unique_ptr<InputFile> input;
    std::unique_ptr<ImageReader> reader;
    try {
        input = std::make_unique<InputFile>(in);
        if (inputFormat == ImageFormat::Unknown) inputFormat = SniffImage(input->Peek(8));
        reader = OpenImageReader(*input, inputFormat);
    } catch (const FileError& e) {
        throw InputError{e.message};
    } catch (const ImageFileError& e) {
        throw InputError{input->name() + ": " + e.message};
    }

    // The pixels the library takes: the file's own, or a conversion that the
    // chosen sampling needs, made row by row.
    PixelFormat format = reader->format;
    if (job.wantGray) {
        format = PixelFormat::Gray8;
    } else if (options.has_sampling && (format == PixelFormat::Gray8 || options.sampling == Sampling::S411)) {
        format = PixelFormat::Bgr24;
    }
    const int width = reader->width, height = reader->height;
    RowWindow rows(*reader, format);
    // The profile and Exif block go into a JFIF header, through the
    // library's segment callback: one segment each.
    if (!job.strip && options.container == Container::Jfif) {
        const Metadata& m = reader->metadata;
        if (m.icc.size() > kMaxIccBytes)
            throw InputError{input->name() + ": its ICC profile has " + std::to_string(m.icc.size()) +
                             " bytes; one APP2 segment holds at most " + std::to_string(kMaxIccBytes) +
                             " (--strip leaves it out)"};
        if (m.exif.size() > kMaxExifBytes)
            throw InputError{input->name() + ": its Exif block has " + std::to_string(m.exif.size()) +
                             " bytes; one APP1 segment holds at most " + std::to_string(kMaxExifBytes) +
                             " (--strip leaves it out)"};
        options.segments = JpegSegments(m);
    }
    if (!job.bandsChosen) options.band_memory = DefaultBandMemory(width, format);

    OutputFile output(out);
    // A TIFF file's tile tables are written back near its start at the end.
    if (options.container == Container::Tiff) output.AllowRewrites();
    ProgressBar bar("compressing", uint64_t(width) * uint64_t(height), !job.progressBar);
    options.progress = bar.Callback();
    const auto start = std::chrono::steady_clock::now();
    try {
        const q32vex::RowSource source = [&rows](int x0, int x1, int y0, int y1, const uint8_t** out) {
            rows.Get(x0, x1, y0, y1, out);
        };
        const q32vex::Writer writer = [&output](uint64_t position, const uint8_t* data, size_t size) {
            output.WriteAt(position, data, size);
        };
        try {
            // With a restart interval the wrapper codes strips of whole
            // intervals on options.threads threads, streaming as well.
            q32vex::compress(width, height, format, options, source, writer);
        } catch (const q32vex::Error& e) {
            // A tile too large for the default budget: one band of the whole
            // image then, as the band checks come before anything is written.
            if (job.bandsChosen || e.status() != VEX_ERR_BAND || output.Size() != 0) throw;
            options.band_memory = 0;
            q32vex::compress(width, height, format, options, source, writer);
        }
    } catch (const q32vex::Error& e) {
        std::string what = input->name() + ": " + e.what();
        if (e.status() == VEX_ERR_BAND && options.band_rows > 0) {
            // The band must hold one row of MCUs.
            uint16_t mcuWidth = 0, mcuHeight = 0;
            int16_t colorSpace = 0;
            const SamplingDesc s = q32vex::detail::sampling_desc(
                options.has_sampling ? options.sampling
                                     : format == PixelFormat::Gray8 ? Sampling::Gray
                                     : format == PixelFormat::Four8 ? Sampling::Four444 : Sampling::S422,
                &colorSpace);
            if (AppVexGetMcuDims(colorSpace, &s, &mcuWidth, &mcuHeight) == 0)
                what += "; --band-rows must be at least " + std::to_string(mcuHeight) + " for this sampling";
        }
        throw q32vex::Error(e.status(), what);
    } catch (const ImageFileError& e) {
        throw InputError{input->name() + ": " + e.message};
    }
    const double ms = Milliseconds(start);
    bar.Finish();

    std::unique_ptr<OutputFile> sidecar;
    if (options.container == Container::Raw) {
        const std::vector<uint8_t> header = q32vex::raw_stream_header(width, height, format, options);
        sidecar = std::make_unique<OutputFile>(out + ".hdr");
        sidecar->Write(header.data(), header.size());
    }
    output.Commit();
    if (sidecar) {
        try {
            sidecar->Commit();
        } catch (...) {
            std::remove(out.c_str());
            throw;
        }
    }
    if (job.stats) {
        char line[160];
        std::snprintf(line, sizeof line, "stats: width=%d height=%d bytes=%llu bpp=%.4f ms=%.3f\n", width, height,
                      static_cast<unsigned long long>(output.Size()), 8.0 * double(output.Size()) / (double(width) * height),
                      ms);
        outcome.out += line;
    }
    return kExitOk;
}

int Compress(int argc, char** argv) {
    Args args;
    if (!ParseConversion(argc, argv, "compress", kCompressHelp,
                         {"--quality", "--scale", "--sampling", "--restart", "--container", "--tile", "--band-rows",
                          "--band-memory", "--comment", "--input-format", "--threads"},
                         {"--quiet", "--stats", "--strip"}, &args))
        return kExitOk;
    const bool batch = IsBatch(args);
    const std::string out = batch ? "" : args.files[1];

    // The container: --container, or OUT's extension; JFIF for a batch.
    const std::string containerName = args.has("--container") ? Lower(args.get("--container"))
                                      : batch                  ? "jfif"
                                                               : Extension(out);
    Container container;
    if (!ContainerFromName(containerName, &container))
        throw UsageError{args.has("--container") ? "--container must be jfif, tiff or raw"
                                                 : "cannot tell the container from '" + out +
                                                       "': use .jpg, .tif or .raw, or --container"};
    if (container == Container::Raw && out == "-")
        throw UsageError{"raw data needs a file name: its header goes to OUT.hdr beside it"};
    CompressJob job = CompressSettings(args, container);
    const char* extension = container == Container::Jfif ? ".jpg" : container == Container::Tiff ? ".tif" : ".raw";
    return Convert("compress", args, job, extension, CompressFile);
}

// ---- decompress ---------------------------------------------------------------------

// What decompress does to every file, from the command line.
struct DecompressJob {
    explicit DecompressJob(const Args& a) : args(a) {}
    const Args& args;  // --container and --header, for each file's input
    q32vex::DecompressOptions options;  // per file, it gains the band budget and the progress callback
    ImageFormat outFormat = ImageFormat::Unknown;
    std::string pnmKind;
    bool rawChannels = false, strip = false, quiet = false, stats = false;
    bool strict = false;  // a damaged file is refused, not written
    bool progressBar = true;
};

DecompressJob DecompressSettings(const Args& args, const std::string& formatName, const std::string& out) {
    DecompressJob job(args);
    job.outFormat = FormatFromName(formatName);
    if (job.outFormat == ImageFormat::Unknown)
        throw UsageError{args.has("--format") ? "--format must be png, ppm, pgm, pnm or bmp"
                                              : "cannot tell the image format from '" + out +
                                                    "': use .png, .ppm, .pgm, .pnm or .bmp, or --format"};
    if (job.outFormat == ImageFormat::Png && !HavePng())
        throw UsageError{"this vexjpeg was built without PNG support; write .ppm, .pgm or .bmp"};
    job.pnmKind = formatName == "pgm" ? "P5" : formatName == "ppm" ? "P6" : "";

    q32vex::DecompressOptions& options = job.options;
    if (args.has("--pixel-format")) {
        const std::string p = Lower(args.get("--pixel-format"));
        if (p == "bgr24") options.format = PixelFormat::Bgr24;
        else if (p == "bgrx32") options.format = PixelFormat::Bgrx32;
        else if (p == "bgr555") options.format = PixelFormat::Bgr555;
        else throw UsageError{"--pixel-format must be bgr24, bgrx32 or bgr555"};
    }
    if (args.has("--sampling")) {
        const std::string v = Lower(args.get("--sampling"));
        if (v == "444" || v == "1x1") options.four_sampling = Sampling::Four444;
        else if (v == "420" || v == "2x2") options.four_sampling = Sampling::Four420;
        else throw UsageError{"--sampling must be 444 or 420 (the layout of a four-component TIFF file)"};
    }
    if (args.has("--window")) {
        const std::vector<long long> w = NumberList("--window", args.get("--window"), ',', 4);
        if (w[2] == 0 || w[3] == 0) throw UsageError{"--window width and height must not be 0"};
        options.window = q32vex::Window{int(w[0]), int(w[1]), int(w[2]), int(w[3])};
    }
    if (args.has("--band-rows") && args.has("--band-memory"))
        throw UsageError{"give --band-rows or --band-memory, not both"};
    options.band_rows = int(Number(args, "--band-rows", 1, 65535, 0));
    options.band_memory = int32_t(Number(args, "--band-memory", 1, 0x7FFFFFFF, 0));
    options.threads = PictureThreads(args);
    if (args.has("--container")) {
        Container container;
        if (!ContainerFromName(Lower(args.get("--container")), &container))
            throw UsageError{"--container must be jfif, tiff or raw"};
    }
    // The pictures people look at: a wrapped channel turns a red next to
    // white black. --legacy-colour gives the legacy decoder's pixels, byte
    // for byte, where those are what a comparison needs.
    options.saturating_colour = args.flags.count("--legacy-colour") == 0;
    job.rawChannels = args.flags.count("--raw-channels") != 0;
    job.strip = args.flags.count("--strip") != 0;
    job.quiet = args.flags.count("--quiet") != 0;
    job.progressBar = !job.quiet;
    job.stats = args.flags.count("--stats") != 0;
    job.strict = args.flags.count("--strict") != 0;
    return job;
}

// Decompresses the compressed file `in` into the image file `out`.
int DecompressFile(const DecompressJob& job, const std::string& in, const std::string& out, Outcome& outcome) {
    q32vex::DecompressOptions options = job.options;
    std::unique_ptr<InputFile> input;
    Container container = Container::Raw;
    try {
        input = std::make_unique<InputFile>(in);
        // The library reads the header twice and a TIFF file's tiles where
        // they lie: a pipe is kept in a temporary file first.
        input->MakeSeekable();
        container = ResolveInput(job.args, in, input->Peek(16), &options.raw_header);
    } catch (const FileError& e) {
        throw InputError{e.message};
    }
    const q32vex::Reader reader = FileReader(*input);
    if (container == Container::Jfif) {
        // Other coding processes are named rather than refused as garbage.
        JpegFrame frame;
        const std::string unsupported = ReadJpegFrame(*input, &frame) ? UnsupportedProcess(frame) : "";
        if (!unsupported.empty()) throw q32vex::Error(VEX_ERR_CONTAINER, input->name() + ": " + unsupported);
    }

    // A header the library accepts tells how large the image is and where a
    // TIFF file's tiles lie; a TIFF file cut short is refused before decoding.
    q32vex::ImageInfo info;
    uint64_t pixels = 0;
    try {
        info = q32vex::read_info(reader, container, &options.raw_header);
        pixels = uint64_t(info.width) * uint64_t(info.height);
        if (container == Container::Tiff) CheckComplete(*input, container, info);
    } catch (const q32vex::Error&) {
        // The decode below reports the same failure.
    }
    ProgressBar bar("decompressing", pixels, !job.progressBar);
    options.progress = bar.Callback();
    if (options.band_rows == 0 && options.band_memory == 0)
        options.band_memory = DefaultBandMemory(std::max(info.width, 1), PixelFormat::Bgrx32);
    // A stream decoded on several threads is read whole: in one buffer.
    if (input->Seekable()) options.size_hint = input->Size();
    // Four components become RGB in the library, unless asked for as coded.
    options.four_to_rgb = !job.rawChannels;
    options.raw_channels = job.rawChannels;

    Metadata metadata;
    if (!job.strip) metadata = MetadataFromSegments(info.segments);

    OutputFile output(out);
    std::unique_ptr<ImageWriter> writer;
    std::unique_ptr<StripWriter> strips;
    std::vector<std::string> warnings;  // the damage the library met
    int width = 0, height = 0;
    const auto start = std::chrono::steady_clock::now();
    try {
        const auto startImage = [&](int w, int h, PixelFormat format) {
                width = w;
                height = h;
                // A profile goes along only where it describes the pixels
                // written: not a CMYK profile once the pixels are RGB.
                const bool grey = format == PixelFormat::Gray8, four = format == PixelFormat::Four8;
                const std::string space = IccColourSpace(metadata.icc);
                if (!metadata.icc.empty() && job.outFormat == ImageFormat::Png &&
                    space != (grey ? "GRAY" : four ? "CMYK" : "RGB ")) {
                    if (!job.quiet)
                        outcome.err += "vexjpeg: note: " + input->name() + ": the ICC profile (" +
                                       (space.empty() ? "damaged" : space.substr(0, space.find_last_not_of(' ') + 1)) +
                                       ") does not describe the " + (grey ? "grey" : four ? "four-component" : "RGB") +
                                       " pixels written; it is left out\n";
                    metadata.icc.clear();
                }
                writer = OpenImageWriter(output, job.outFormat, job.pnmKind, w, h, format, metadata);
                strips = std::make_unique<StripWriter>(*writer, w, format);
        };
        const auto takeBand = [&strips](int x, int y, int columns, int rows, const uint8_t* const* data) {
            strips->Band(x, y, columns, rows, data);
        };
        // A JFIF stream with restart markers is decoded in strips on
        // options.threads threads by the wrapper, streaming as well.
        // Strips decoded on several threads come straight from the file's
        // pages where it can be mapped.
        size_t mappedSize = 0;
        const uint8_t* mapped = options.threads != 1 && container == Container::Jfif && info.restart_interval != 0
                                    ? input->Map(&mappedSize)
                                    : nullptr;
        warnings = mapped != nullptr
                       ? q32vex::decompress(mapped, mappedSize, container, options, startImage, takeBand, &info)
                       : q32vex::decompress(reader, container, options, startImage, takeBand, &info);
        if (!strips->Complete(height)) throw ImageFileError{"the library left rows of the window undecoded"};
        // Under --strict a damaged file is refused before the output is
        // committed, so nothing appears under its name.
        if (job.strict && !warnings.empty())
            throw InputError{input->name() + ": the file is damaged (" + Join(warnings, "; ") +
                             "); nothing written under --strict"};
        writer->Finish();
    } catch (const q32vex::Error& e) {
        throw q32vex::Error(e.status(), input->name() + ": " + e.what());
    } catch (const ImageFileError& e) {
        throw UsageError{out + ": " + e.message};
    }
    const double ms = Milliseconds(start);
    bar.Finish();
    output.Commit();
    if (job.stats) {
        char line[120];
        std::snprintf(line, sizeof line, "stats: width=%d height=%d bytes=%llu ms=%.3f\n", width, height,
                      static_cast<unsigned long long>(input->Size()), ms);
        outcome.out += line;
    }
    // As djpeg does: the image is written, the damage named (on one line,
    // like every message about a file), and the exit code says the input was
    // damaged.
    if (warnings.empty()) return kExitOk;
    outcome.err += "vexjpeg: warning: " + input->name() + ": " + Join(warnings, "; ") + "\n";
    return kExitInput;
}

int Decompress(int argc, char** argv) {
    Args args;
    if (!ParseConversion(argc, argv, "decompress", kDecompressHelp,
                         {"--window", "--pixel-format", "--band-rows", "--band-memory", "--format", "--container",
                          "--header", "--sampling", "--threads"},
                         {"--quiet", "--stats", "--strip", "--raw-channels", "--legacy-colour", "--strict"}, &args))
        return kExitOk;
    const bool batch = IsBatch(args);
    const std::string out = batch ? "" : args.files[1];

    // The image format: --format, or OUT's extension; for a batch PNG, which
    // keeps every pixel and carries the ICC profile and Exif block (PNM in a
    // build without PNG).
    const std::string formatName = args.has("--format") ? Lower(args.get("--format"))
                                   : batch              ? (HavePng() ? "png" : "pnm")
                                                        : Extension(out);
    DecompressJob job = DecompressSettings(args, formatName, out);
    return Convert("decompress", args, job, "." + formatName, DecompressFile);
}

// ---- info ---------------------------------------------------------------------------

const char* ColorSpaceName(int cs) {
    switch (cs) {
        case 0: return "YCbCr";
        case 1: return "grey";
        case 2: return "RGB";
        case 3: return "four components";
        default: return "unknown";
    }
}

std::string SamplingName(const q32vex::ImageInfo& info) {
    auto is = [&](std::initializer_list<int> hv) {
        const int* p = hv.begin();
        for (int c = 0; c < info.components; ++c, p += 2)
            if (info.h[c] != p[0] || info.v[c] != p[1]) return false;
        return true;
    };
    if (info.components == 1) return "gray";
    if (info.components == 3) {
        if (is({2, 1, 1, 1, 1, 1})) return "422";
        if (is({2, 2, 1, 1, 1, 1})) return "420";
        if (is({1, 1, 1, 1, 1, 1})) return "444";
        if (is({4, 1, 1, 1, 1, 1})) return "411";
    }
    if (info.components == 4) {
        if (is({1, 1, 1, 1, 1, 1, 1, 1})) return "four-444";
        if (is({2, 2, 1, 1, 1, 1, 2, 2})) return "four-420";
    }
    return "custom";
}

std::string MarkerName(uint8_t marker) {
    if (marker == 0xFE) return "COM";
    if (marker >= 0xE0 && marker <= 0xEF) return "APP" + std::to_string(marker - 0xE0);
    return "marker " + std::to_string(marker);
}

// The identifier at the start of an APPn segment ("JFIF", "Exif", ...), or
// the text of a comment, as printable ASCII.
std::string SegmentLabel(const q32vex::Segment& s, size_t limit) {
    std::string text;
    size_t end = s.data.size();
    while (end > 0 && s.data[end - 1] == 0) --end;  // C strings keep their terminator
    for (size_t i = 0; i < end; ++i) {
        const uint8_t c = s.data[i];
        if (s.marker != 0xFE && c == 0) break;
        if (text.size() >= limit) {
            text += "...";
            break;
        }
        text += (c >= 32 && c < 127) ? char(c) : '?';
    }
    return text;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

template <typename T>
std::string JsonArray(const std::vector<T>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + std::to_string(values[i]);
    return out + "]";
}

// Zigzag position k -> natural (row-major) index.
constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

void PrintJson(const std::string& path, const q32vex::ImageInfo& info, size_t fileBytes) {
    std::string j = "{\n";
    j += "  \"file\": " + JsonString(path) + ",\n";
    j += "  \"bytes\": " + std::to_string(fileBytes) + ",\n";
    j += "  \"container\": \"" + std::string(ContainerName(info.container)) + "\",\n";
    j += "  \"width\": " + std::to_string(info.width) + ",\n";
    j += "  \"height\": " + std::to_string(info.height) + ",\n";
    j += "  \"components\": " + std::to_string(info.components) + ",\n";
    j += "  \"color_space\": " + JsonString(ColorSpaceName(info.color_space)) + ",\n";
    j += "  \"sampling\": \"" + SamplingName(info) + "\",\n";
    j += "  \"factors\": [";
    for (int c = 0; c < info.components; ++c)
        j += std::string(c ? "," : "") + "[" + std::to_string(info.h[c]) + "," + std::to_string(info.v[c]) + "]";
    j += "],\n";
    j += "  \"restart_interval\": " + std::to_string(info.restart_interval) + ",\n";
    j += "  \"density\": {\"units\": " + std::to_string(info.density_units) + ", \"x\": " +
         std::to_string(info.x_density) + ", \"y\": " + std::to_string(info.y_density) + "},\n";
    j += "  \"component_tables\": [";
    for (int c = 0; c < info.components; ++c)
        j += std::string(c ? ", " : "") + "{\"quant\": " + std::to_string(info.quant_index[c]) +
             ", \"dc\": " + std::to_string(info.dc_index[c]) + ", \"ac\": " + std::to_string(info.ac_index[c]) + "}";
    j += "],\n";
    j += "  \"quant_tables_zigzag\": [";
    for (size_t i = 0; i < info.quant_tables.size(); ++i) j += (i ? ", " : "") + JsonArray(info.quant_tables[i]);
    j += "],\n";
    for (int k = 0; k < 2; ++k) {
        const auto& tables = k == 0 ? info.dc_tables : info.ac_tables;
        j += std::string("  \"") + (k == 0 ? "dc" : "ac") + "_tables\": [";
        for (size_t i = 0; i < tables.size(); ++i)
            j += std::string(i ? ", " : "") + "{\"bits\": " + JsonArray(tables[i].bits) +
                 ", \"values\": " + JsonArray(tables[i].values) + "}";
        j += "],\n";
    }
    j += "  \"segments\": [";
    for (size_t i = 0; i < info.segments.size(); ++i) {
        const q32vex::Segment& s = info.segments[i];
        j += std::string(i ? ", " : "") + "{\"marker\": \"" + MarkerName(s.marker) + "\", \"bytes\": " +
             std::to_string(s.data.size()) + ", \"label\": " + JsonString(SegmentLabel(s, 200)) + "}";
    }
    j += "]";
    if (info.container == Container::Tiff) {
        j += ",\n  \"tiles\": {\"width\": " + std::to_string(info.tile_width) + ", \"height\": " +
             std::to_string(info.tile_height) + ", \"count\": " + std::to_string(info.tile_offsets.size()) +
             ", \"offsets\": " + JsonArray(info.tile_offsets) +
             ", \"byte_counts\": " + JsonArray(info.tile_byte_counts) + "}";
    }
    j += "\n}\n";
    std::fputs(j.c_str(), stdout);
}

void PrintText(const std::string& path, const q32vex::ImageInfo& info, size_t fileBytes) {
    const char* kind = info.container == Container::Jfif   ? "JFIF (JPEG interchange stream)"
                       : info.container == Container::Tiff ? "TIFF with JPEG-compressed tiles"
                                                           : "raw entropy-coded data";
    std::printf("%s: %s, %zu bytes\n", path.c_str(), kind, fileBytes);
    std::printf("  size          %d x %d pixels\n", info.width, info.height);
    std::printf("  components    %d (%s)\n", info.components, ColorSpaceName(info.color_space));
    std::printf("  sampling      %s:", SamplingName(info).c_str());
    for (int c = 0; c < info.components; ++c) std::printf(" %dx%d", info.h[c], info.v[c]);
    std::printf("\n");
    if (info.restart_interval)
        std::printf("  restart       every %d MCUs\n", info.restart_interval);
    else
        std::printf("  restart       none\n");
    std::printf("  density       units %d, %d x %d\n", info.density_units, info.x_density, info.y_density);
    std::printf("  tables        component:");
    for (int c = 0; c < info.components; ++c)
        std::printf(" %d=q%d/dc%d/ac%d", c, info.quant_index[c], info.dc_index[c], info.ac_index[c]);
    std::printf("\n");
    for (size_t t = 0; t < info.quant_tables.size(); ++t) {
        std::printf("  quant table %zu (row by row):\n", t);
        int natural[64];
        for (int k = 0; k < 64; ++k) natural[kZigzag[k]] = info.quant_tables[t][k];
        for (int r = 0; r < 8; ++r) {
            std::printf("   ");
            for (int c = 0; c < 8; ++c) std::printf(" %3d", natural[r * 8 + c]);
            std::printf("\n");
        }
    }
    for (int k = 0; k < 2; ++k) {
        const auto& tables = k == 0 ? info.dc_tables : info.ac_tables;
        for (size_t t = 0; t < tables.size(); ++t) {
            std::printf("  %s table %zu     %zu symbols, code counts", k == 0 ? "DC" : "AC", t, tables[t].values.size());
            for (uint8_t b : tables[t].bits) std::printf(" %d", b);
            std::printf("\n");
        }
    }
    for (const q32vex::Segment& s : info.segments)
        std::printf("  segment       %s, %zu bytes: \"%s\"\n", MarkerName(s.marker).c_str(), s.data.size(),
                    SegmentLabel(s, 60).c_str());
    if (info.container == Container::Tiff) {
        std::printf("  tiles         %zu of %d x %d\n", info.tile_offsets.size(), info.tile_width, info.tile_height);
        for (size_t i = 0; i < info.tile_offsets.size(); ++i) {
            if (i == 8 && info.tile_offsets.size() > 10) {
                std::printf("    ... %zu more\n", info.tile_offsets.size() - i);
                break;
            }
            std::printf("    tile %zu at %u, %u bytes\n", i, unsigned(info.tile_offsets[i]),
                        unsigned(info.tile_byte_counts[i]));
        }
    }
}

// What the tool can tell of a JPEG file the library does not read: its
// frame header and segments.
void PrintFrame(const std::string& path, const JpegFrame& f, uint64_t fileBytes, bool json) {
    const std::string why = UnsupportedProcess(f);
    if (json) {
        std::printf("{\"file\": %s, \"container\": \"jfif\", \"bytes\": %llu, \"process\": %s, "
                    "\"sof\": %d, \"precision\": %d, \"width\": %d, \"height\": %d, \"components\": %zu, "
                    "\"h\": [",
                    JsonString(path).c_str(), static_cast<unsigned long long>(fileBytes),
                    JsonString(ProcessName(f.sof)).c_str(), f.sof - 0xC0, f.precision, f.width, f.height,
                    f.components.size());
        for (size_t c = 0; c < f.components.size(); ++c) std::printf("%s%d", c ? ", " : "", f.components[c].h);
        std::printf("], \"v\": [");
        for (size_t c = 0; c < f.components.size(); ++c) std::printf("%s%d", c ? ", " : "", f.components[c].v);
        std::printf("], \"segments\": [");
        for (size_t i = 0; i < f.segments.size(); ++i)
            std::printf("%s{\"marker\": %s, \"length\": %u}", i ? ", " : "",
                        JsonString(MarkerName(f.segments[i].first)).c_str(), unsigned(f.segments[i].second));
        std::printf("], \"decodable\": %s}\n", why.empty() ? "true" : "false");
        return;
    }
    std::printf("%s: JPEG, %s, %llu bytes\n", path.c_str(), ProcessName(f.sof).c_str(),
                static_cast<unsigned long long>(fileBytes));
    std::printf("  size          %d x %d pixels, %d bits per sample\n", f.width, f.height, f.precision);
    std::printf("  components    %zu, sampling:", f.components.size());
    for (const JpegFrame::Component& c : f.components) std::printf(" %dx%d", c.h, c.v);
    std::printf("\n  segments     ");
    for (const auto& seg : f.segments) std::printf(" %s(%u)", MarkerName(seg.first).c_str(), unsigned(seg.second));
    std::printf("\n");
    if (!why.empty()) std::printf("  decoding      %s\n", why.c_str());
}

int InfoOne(const Args& args, const std::string& in) {
    std::unique_ptr<InputFile> input;
    std::vector<uint8_t> bytes;
    try {
        input = std::make_unique<InputFile>(in);
        input->MakeSeekable();
        bytes = input->ReadRest();
    } catch (const FileError& e) {
        throw InputError{e.message};
    }
    std::vector<uint8_t> rawHeader;
    const Container container = ResolveInput(args, in, bytes, &rawHeader);
    q32vex::ImageInfo info;
    try {
        info = q32vex::read_info(q32vex::detail::memory_reader(bytes.data(), bytes.size()), container, &rawHeader);
    } catch (const q32vex::Error& e) {
        JpegFrame frame;
        if (container == Container::Jfif && ReadJpegFrame(*input, &frame)) {
            PrintFrame(in, frame, bytes.size(), args.flags.count("--json") != 0);
            return kExitOk;
        }
        throw q32vex::Error(e.status(), in + ": " + e.what());
    }
    if (args.flags.count("--json"))
        PrintJson(in, info, bytes.size());
    else
        PrintText(in, info, bytes.size());
    return kExitOk;
}

// Each file in turn; one that cannot be read is reported and the others are
// still described. The exit code is the first failure's.
int Info(int argc, char** argv) {
    const Args args = Parse(argc, argv, 2, {"--container", "--header"}, {"--json", "--help", "-h"});
    if (args.flags.count("--help") || args.flags.count("-h")) {
        std::fputs(kInfoHelp, stdout);
        return kExitOk;
    }
    if (args.files.empty()) throw UsageError{"info needs a file (see vexjpeg info --help)"};
    if (args.files.size() == 1) return InfoOne(args, args.files[0]);
    int code = kExitOk;
    for (const std::string& in : args.files) {
        int status = kExitOk;
        try {
            status = InfoOne(args, in);
        } catch (const InputError& e) {
            std::fprintf(stderr, "vexjpeg: %s\n", e.message.c_str());
            status = kExitInput;
        } catch (const q32vex::Error& e) {
            std::fprintf(stderr, "vexjpeg: %s\n", e.what());
            status = kExitCodec;
        }
        std::fflush(stdout);
        if (code == kExitOk) code = status;
    }
    return code;
}

int Compare(int argc, char** argv) {
    const Args args = Parse(argc, argv, 2, {}, {"--help", "-h"});
    if (args.flags.count("--help") || args.flags.count("-h")) {
        std::fputs(kCompareHelp, stdout);
        return kExitOk;
    }
    if (args.files.size() != 2) throw UsageError{"compare needs two image files"};
    Image images[2];
    for (int i = 0; i < 2; ++i) {
        try {
            const std::vector<uint8_t> bytes = ReadWholeFile(args.files[i]);
            images[i] = ReadImage(bytes, SniffImage(bytes));
        } catch (const FileError& e) {
            throw InputError{e.message};
        } catch (const ImageFileError& e) {
            throw InputError{args.files[i] + ": " + e.message};
        }
    }
    double psnr;
    try {
        psnr = ImagePsnr(images[0], images[1]);
    } catch (const ImageFileError& e) {
        throw InputError{e.message};
    }
    if (std::isinf(psnr))
        std::printf("psnr=inf (identical)\n");
    else
        std::printf("psnr=%.2f dB\n", psnr);
    return kExitOk;
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kMainHelp, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("vexjpeg %s (image files: %sppm pgm bmp)\n", kVersion, HavePng() ? "png " : "");
        return kExitOk;
    }
    if (command == "compress") return Compress(argc, argv);
    if (command == "decompress") return Decompress(argc, argv);
    if (command == "info") return Info(argc, argv);
    if (command == "compare") return Compare(argc, argv);
    throw UsageError{"unknown command '" + command + "' (compress, decompress, info, compare)"};
}

}  // namespace
}  // namespace vexjpeg

int main(int argc, char** argv) {
    using namespace vexjpeg;
    InstallInterruptCleanup();
    const int code = Report(Guarded([&](Outcome&) { return Run(argc, argv); }));
    // Release what the library caches between sequences.
    AppVexDeallocate();
    return code;
}
