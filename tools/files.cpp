// Files of the command-line tool. The temporary file is created exclusively
// in the output's own directory, so the final rename stays on one file
// system and replaces the old file in one step.
#include "files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vexjpeg {

namespace {

constexpr size_t kStreamBuffer = 256 << 10;

// One large stdio buffer: rows come and go a few kilobytes at a time, and a
// system call for each costs more than copying them through the buffer.
// glibc ignores the size unless the buffer itself is given (it then takes
// the block size, 4 KiB), so it is.
void GiveLargeBuffer(std::FILE* file, std::unique_ptr<char[]>* buffer) {
    *buffer = std::make_unique<char[]>(kStreamBuffer);
    std::setvbuf(file, buffer->get(), _IOFBF, kStreamBuffer);
}

// The temporary files of the writes in progress, for the interrupt handler.
// Several threads may each have some (batch conversion: an output and a raw
// header per worker), so each takes a slot of its own. The slots are fixed
// buffers, since a signal handler must not allocate, and a slot's state is a
// lock-free atomic, which the handler may read: a path is filled in while its
// slot is claimed and looked at only once the slot is armed.
enum SlotState : int { kSlotFree, kSlotClaimed, kSlotArmed };
constexpr int kPendingSlots = 2 * kMaxWriters + 2;
char g_pendingPath[kPendingSlots][4096];
std::atomic<int> g_pendingState[kPendingSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt handler reads the slot states");

// Records `path` for the interrupt handler; the slot, or -1 when the path is
// too long or every slot is taken (the file then is not removed on an
// interrupt, only on the normal paths).
int ArmPending(const std::string& path) {
    if (path.size() >= sizeof g_pendingPath[0]) return -1;
    for (int slot = 0; slot < kPendingSlots; ++slot) {
        int expected = kSlotFree;
        if (g_pendingState[slot].compare_exchange_strong(expected, kSlotClaimed)) {
            std::memcpy(g_pendingPath[slot], path.c_str(), path.size() + 1);
            g_pendingState[slot].store(kSlotArmed);
            return slot;
        }
    }
    return -1;
}

void DisarmPending(int* slot) {
    if (*slot >= 0) g_pendingState[*slot].store(kSlotFree);
    *slot = -1;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw FileError{path + ": " + what, false};
}
[[noreturn]] void FailReading(const std::string& path, const std::string& what) {
    throw FileError{path + ": " + what, true};
}

std::string SystemReason() { return std::strerror(errno); }

#ifdef _WIN32
int OpenExclusive(const char* path) {
    return _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int ProcessId() { return _getpid(); }
bool ReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
int SeekTo(std::FILE* f, uint64_t position) { return _fseeki64(f, static_cast<long long>(position), SEEK_SET); }
long long Tell(std::FILE* f) { return _ftelli64(f); }
void BinaryMode(std::FILE* f) { _setmode(_fileno(f), _O_BINARY); }
std::FILE* FromDescriptor(int fd) { return _fdopen(fd, "wb"); }
#else
int OpenExclusive(const char* path) { return open(path, O_CREAT | O_EXCL | O_WRONLY, 0644); }
int ProcessId() { return int(getpid()); }
bool ReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }
int SeekTo(std::FILE* f, uint64_t position) { return fseeko(f, static_cast<off_t>(position), SEEK_SET); }
long long Tell(std::FILE* f) { return static_cast<long long>(ftello(f)); }
void BinaryMode(std::FILE*) {}
std::FILE* FromDescriptor(int fd) { return fdopen(fd, "wb"); }
#endif

// A stream can be repositioned when it is a regular file.
bool IsRegularStream(std::FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG && Tell(f) >= 0;
}

extern "C" void OnInterrupt(int signal) {
    for (int slot = 0; slot < kPendingSlots; ++slot)
        if (g_pendingState[slot].load() == kSlotArmed) std::remove(g_pendingPath[slot]);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Creates a fresh file beside `path` for writing; returns its name, and its
// interrupt slot in `slot`.
std::FILE* CreateTemporaryBeside(const std::string& path, std::string* temp, int* slot) {
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        *temp = path + ".vexjpeg-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        fd = OpenExclusive(temp->c_str());
        if (fd < 0 && errno != EEXIST) Fail(path, "cannot create a file here: " + SystemReason());
    }
    if (fd < 0) Fail(path, "cannot create a temporary file beside it");
    std::FILE* f = FromDescriptor(fd);
    if (f == nullptr) {
        std::remove(temp->c_str());
        Fail(path, "cannot open a temporary file beside it: " + SystemReason());
    }
    *slot = ArmPending(*temp);
    return f;
}

// The file a path finally names: a symlink's target (followed to its end,
// even when that target does not exist yet), or the path itself.
std::string ThroughLinks(const std::string& path) {
#ifdef _WIN32
    return path;
#else
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || (st.st_mode & S_IFMT) != S_IFLNK) return current;
        char target[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0) return current;
        target[n] = '\0';
        const std::string t(target);
        const size_t slash = current.find_last_of('/');
        current = t[0] == '/' || slash == std::string::npos ? t : current.substr(0, slash + 1) + t;
    }
    Fail(path, "too many levels of symbolic links");
#endif
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    InputFile in(path);
    return in.ReadRest();
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    OutputFile out(path);
    out.Write(bytes.data(), bytes.size());
    out.Commit();
}

// ---- input ---------------------------------------------------------------------------

InputFile::InputFile(const std::string& path) : name_(path) {
    if (path == "-") {
        name_ = "standard input";
        file_ = stdin;
        BinaryMode(stdin);
        seekable_ = IsRegularStream(stdin);
        return;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) FailReading(path, "is a directory");
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) FailReading(path, SystemReason());
    owned_ = true;
    GiveLargeBuffer(file_, &buffer_);
    seekable_ = IsRegularStream(file_);
}

InputFile::InputFile(const std::vector<uint8_t>& bytes) : name_("memory"), seekable_(true), memory_(&bytes) {}

InputFile::~InputFile() {
#if !defined(_WIN32)
    if (mapped_ != nullptr) munmap(mapped_, mappedSize_);
#endif
    if (owned_ && file_ != nullptr) std::fclose(file_);
}

const uint8_t* InputFile::Map(size_t* size) {
    if (memory_ != nullptr) {
        *size = memory_->size();
        return memory_->data();
    }
#if !defined(_WIN32)
    // Pages entered at once cost far less than a fault for each, and less
    // than copying into fresh memory, which faults on every page too.
    struct stat st;
    if (mapped_ == nullptr && seekable_ && fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* p = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(file_), 0);
        if (p != MAP_FAILED) {
            mapped_ = p;
            mappedSize_ = size_t(st.st_size);
        }
    }
#endif
    *size = mappedSize_;
    return static_cast<const uint8_t*>(mapped_);
}

size_t InputFile::ReadSource(void* buffer, size_t n) {
    if (memory_ != nullptr) {
        const size_t available = memoryAt_ < memory_->size() ? size_t(memory_->size() - memoryAt_) : 0;
        const size_t k = std::min(n, available);
        if (k > 0) std::memcpy(buffer, memory_->data() + memoryAt_, k);
        memoryAt_ += k;
        return k;
    }
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < n) {
        const size_t k = std::fread(out + done, 1, n - done, file_);
        if (k == 0) {
            if (std::ferror(file_)) FailReading(name_, "read error: " + SystemReason());
            break;
        }
        done += k;
    }
    return done;
}

size_t InputFile::Read(void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = std::min(n, head_.size());
    if (done > 0) {
        std::memcpy(out, head_.data(), done);
        head_.erase(head_.begin(), head_.begin() + long(done));
    }
    done += ReadSource(out + done, n - done);
    position_ += done;
    return done;
}

void InputFile::ReadExactly(void* buffer, size_t n, const std::string& what) {
    if (Read(buffer, n) != n) FailReading(name_, what);
}

std::vector<uint8_t> InputFile::Peek(size_t n) {
    if (head_.size() < n) {
        const size_t have = head_.size();
        head_.resize(n);
        head_.resize(have + ReadSource(head_.data() + have, n - have));
    }
    return std::vector<uint8_t>(head_.begin(), head_.begin() + long(std::min(n, head_.size())));
}

void InputFile::Seek(uint64_t position) {
    if (!seekable_) FailReading(name_, "cannot move around in this input");
    head_.clear();
    if (memory_ == nullptr && SeekTo(file_, position) != 0) FailReading(name_, "seek failed: " + SystemReason());
    position_ = position;
    memoryAt_ = position;
}

uint64_t InputFile::Size() {
    if (memory_ != nullptr) return memory_->size();
    struct stat st;
    if (!seekable_ || fstat(fileno(file_), &st) != 0) FailReading(name_, "cannot tell the size of this input");
    return uint64_t(st.st_size);
}

void InputFile::MakeSeekable() {
    if (seekable_) return;
    // A pipe is read once: before anything of it is consumed, its bytes go to
    // an anonymous temporary file, which is then read in its place.
    if (position_ != 0) FailReading(name_, "cannot move around in this input");
    std::FILE* spool = std::tmpfile();
    if (spool == nullptr) FailReading(name_, "cannot create a temporary file to hold it: " + SystemReason());
    std::vector<uint8_t> chunk = std::move(head_);
    head_.clear();
    for (;;) {
        if (!chunk.empty() && std::fwrite(chunk.data(), 1, chunk.size(), spool) != chunk.size()) {
            std::fclose(spool);
            FailReading(name_, "cannot write its temporary copy: " + SystemReason());
        }
        chunk.resize(1 << 16);
        chunk.resize(ReadSource(chunk.data(), chunk.size()));
        if (chunk.empty()) break;
    }
    if (owned_) std::fclose(file_);
    file_ = spool;
    owned_ = true;
    seekable_ = true;
    std::rewind(file_);
}

std::vector<uint8_t> InputFile::ReadRest() {
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = Read(chunk, sizeof chunk);
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    return bytes;
}

// ---- output --------------------------------------------------------------------------

OutputFile::OutputFile(const std::string& path) : name_(path) {
    if (path == "-") {
        name_ = "standard output";
        file_ = stdout;
        BinaryMode(stdout);
        seekable_ = IsRegularStream(stdout);
        return;
    }
    final_ = ThroughLinks(path);
    struct stat st;
    const bool exists = stat(final_.c_str(), &st) == 0;
    if (exists && (st.st_mode & S_IFMT) == S_IFDIR) vexjpeg::Fail(path, "is a directory");
    if (exists && (st.st_mode & S_IFMT) != S_IFREG) {
        // A FIFO or a device takes the bytes as they come.
        file_ = std::fopen(final_.c_str(), "wb");
        if (file_ == nullptr) vexjpeg::Fail(path, SystemReason());
        owned_ = true;
        seekable_ = IsRegularStream(file_);
        return;
    }
    file_ = CreateTemporaryBeside(final_, &temporary_, &pendingSlot_);
    owned_ = true;
    seekable_ = true;
    GiveLargeBuffer(file_, &buffer_);
}

OutputFile::~OutputFile() {
    if (direct_ != nullptr && direct_ != stdout) std::fclose(direct_);
    if (file_ != nullptr && owned_) std::fclose(file_);
    if (!committed_ && !temporary_.empty()) {
        std::remove(temporary_.c_str());
        DisarmPending(&pendingSlot_);
    }
}

void OutputFile::Fail(const std::string& why) {
    if (file_ != nullptr && owned_) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
        DisarmPending(&pendingSlot_);
    }
    vexjpeg::Fail(name_, why);
}

void OutputFile::Write(const void* data, size_t n) { WriteAt(size_, data, n); }

void OutputFile::AllowRewrites() {
    if (seekable_) return;
    // The bytes are collected in an anonymous temporary file and copied out
    // whole at Commit().
    if (size_ != 0) Fail("cannot write back into an output that does not seek");
    std::FILE* spool = std::tmpfile();
    if (spool == nullptr) Fail("cannot create a temporary file to collect the output: " + SystemReason());
    direct_ = file_;
    file_ = spool;
    seekable_ = true;
}

void OutputFile::WriteAt(uint64_t position, const void* data, size_t n) {
    if (file_ == nullptr) vexjpeg::Fail(name_, "already closed");
    if (position != size_ && !seekable_) Fail("cannot write out of order into an output that does not seek");
    if (position != at_ && SeekTo(file_, position) != 0) Fail("seek failed: " + SystemReason());
    if (n > 0 && std::fwrite(data, 1, n, file_) != n) Fail("write failed: " + SystemReason());
    at_ = position + n;
    size_ = std::max<uint64_t>(size_, position + n);
}

void OutputFile::Commit() {
    if (file_ == nullptr || committed_) vexjpeg::Fail(name_, "already closed");
    if (direct_ != nullptr) {
        std::rewind(file_);
        std::vector<uint8_t> chunk(1 << 16);
        for (;;) {
            const size_t n = std::fread(chunk.data(), 1, chunk.size(), file_);
            if (n == 0) break;
            if (std::fwrite(chunk.data(), 1, n, direct_) != n) Fail("write failed: " + SystemReason());
        }
        std::fclose(file_);
        file_ = direct_;
        direct_ = nullptr;
    }
    if (std::fflush(file_) != 0) Fail("write failed: " + SystemReason());
    if (owned_) {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) Fail("write failed: " + SystemReason());
    }
    if (!temporary_.empty()) {
        if (!ReplaceFile(temporary_.c_str(), final_.c_str()))
            Fail("cannot rename the finished file into place: " + SystemReason());
        temporary_.clear();
        DisarmPending(&pendingSlot_);
    }
    committed_ = true;
}

void InstallInterruptCleanup() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(2) != 0;
#endif
}

}  // namespace vexjpeg
