// Batch conversion: many input files, each converted into an output
// directory on a pool of worker threads. Each file is converted by the same
// function as a single file, which returns what it would print instead of
// printing it, so that the lines of different files never mix and come out in
// the order the files were given.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vexjpeg {

// Exit codes, documented in --help.
enum Exit {
    kExitOk = 0,
    kExitUsage = 1,   // bad command line
    kExitInput = 2,   // input unreadable, not an image or stream the tool reads, or truncated
    kExitCodec = 3,   // the library refused the parameters or the stream
    kExitOutput = 4,  // the output file could not be written
};

// What converting one file came to.
struct Outcome {
    int code = 0;     // the exit code a single-file run would have ended with
    std::string err;  // whole lines for stderr ("vexjpeg: ...\n")
    std::string out;  // whole lines for stdout (--stats)
};

using Conversion = std::function<Outcome(const std::string& in, const std::string& out)>;

// Workers when -j is not given: one per processor, at least 1, at most
// kMaxWriters.
int DefaultJobs();

// The output of each input in `dir`: the input's file name without its
// directory and last extension, then `extension` (".jpg"). When two inputs
// would write the same output, returns nothing and says which in `clash`.
std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const std::string& dir,
                                      const std::string& extension, std::string* clash);

// Converts inputs[i] into outputs[i] on `jobs` threads (fewer when there are
// fewer files). Each file's lines go out, stdout lines prefixed with the
// input's name, as soon as that file and every file before it are done.
// Returns the highest exit code of any file (0 when all succeeded).
int RunBatch(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, int jobs,
             const Conversion& convert);

}  // namespace vexjpeg
