// Files of the command-line tool. Inputs and outputs are streams: a file, or
// standard input and output for "-", read and written in pieces so that the
// tool's memory does not grow with the image. A regular output file appears
// under its final name only once complete (temporary name, then rename), so a
// failure or an interrupt never leaves a partial output behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vexjpeg {

struct FileError {
    std::string message;
    bool reading = false;  // an input failed, rather than an output
};

// Throws FileError naming the path and the system's reason.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);

// The most outputs written at once (threads of a batch conversion): the
// interrupt handler keeps room for the temporary files of this many, each
// with a sidecar.
constexpr int kMaxWriters = 64;

// Writes `bytes` to `path` as OutputFile does, in one go.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// A byte stream to read: a file, standard input for "-", or bytes in memory.
// Reads are sequential; a seekable input can also be repositioned, and
// MakeSeekable() copies what is left of a pipe into a temporary file first.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    explicit InputFile(const std::vector<uint8_t>& bytes);  // reads the caller's bytes
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& name() const { return name_; }
    // Up to n bytes; fewer only at the end of the input.
    size_t Read(void* buffer, size_t n);
    // Reads exactly n bytes, or throws FileError with `what` as the reason.
    void ReadExactly(void* buffer, size_t n, const std::string& what);
    // The first n bytes (or fewer, in a shorter input), without consuming them.
    std::vector<uint8_t> Peek(size_t n);
    uint64_t Position() const { return position_; }
    bool Seekable() const { return seekable_; }
    void Seek(uint64_t position);
    // Total size of a seekable input.
    uint64_t Size();
    void MakeSeekable();
    // Everything from the current position to the end.
    std::vector<uint8_t> ReadRest();
    // All of a seekable input in memory without a copy: a regular file mapped
    // read-only with its pages entered at once. Null where that cannot be
    // done (then Read serves). Valid while the object lives.
    const uint8_t* Map(size_t* size);

private:
    size_t ReadSource(void* buffer, size_t n);

    std::string name_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // stdio's buffer, given so its size holds
    bool owned_ = false;
    bool seekable_ = false;
    const std::vector<uint8_t>* memory_ = nullptr;
    std::vector<uint8_t> head_;  // peeked bytes not yet read
    uint64_t position_ = 0;      // of the next byte Read gives
    uint64_t memoryAt_ = 0;      // of the next byte taken from memory_
    void* mapped_ = nullptr;
    size_t mappedSize_ = 0;
};

// Where an output goes. "-" is standard output; an existing symlink is
// written through (its target gets the bytes and the link stays); FIFOs and
// devices are written directly; a regular or new file is written under a
// temporary name beside it and renamed into place by Commit(). An output
// never committed is removed when the object goes (or the process is
// interrupted).
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& name() const { return name_; }
    // Appends at the end of what was written.
    void Write(const void* data, size_t n);
    // Writes at an offset; any offset but the end needs an output that
    // seeks, or AllowRewrites() before the first byte. Bytes skipped over
    // read as zeros.
    void WriteAt(uint64_t position, const void* data, size_t n);
    // For an output that cannot seek (a pipe, a terminal): collects the bytes
    // in a temporary file and copies them out at Commit(), so that earlier
    // offsets can be written again.
    void AllowRewrites();
    uint64_t Size() const { return size_; }
    bool Seekable() const { return seekable_; }
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& why);

    std::string name_;        // as the user gave it
    std::string final_;       // the file renamed into place (a symlink's target)
    std::string temporary_;   // empty when written directly
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // stdio's buffer, given so its size holds
    std::FILE* direct_ = nullptr;  // the real destination while spooling
    bool owned_ = false;
    bool seekable_ = false;
    bool committed_ = false;
    int pendingSlot_ = -1;  // the interrupt handler's record of temporary_
    uint64_t size_ = 0;
    uint64_t at_ = 0;  // the file position, to seek only when needed
};

// Removes the temporary files of the writes in progress when the process is
// interrupted (SIGINT, SIGTERM), whichever thread writes them.
void InstallInterruptCleanup();

bool StderrIsTerminal();

}  // namespace vexjpeg
