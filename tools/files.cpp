// Files of the command-line tool. The temporary file is created exclusively
// in the output's own directory, so the final rename stays on one file
// system and replaces the old file in one step.
#include "files.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vexjpeg {

namespace {

// The temporary file of the write in progress, for the interrupt handler
// (a fixed buffer: a signal handler must not allocate).
char g_pendingPath[4096];
volatile std::sig_atomic_t g_pending = 0;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw FileError{path + ": " + what};
}

std::string SystemReason() { return std::strerror(errno); }

#ifdef _WIN32
int OpenExclusive(const char* path) {
    return _open(path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int WriteSome(int fd, const uint8_t* data, size_t n) {
    return _write(fd, data, unsigned(n > 0x40000000 ? 0x40000000 : n));
}
int CloseFile(int fd) { return _close(fd); }
int ProcessId() { return _getpid(); }
bool ReplaceFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
#else
int OpenExclusive(const char* path) { return open(path, O_CREAT | O_EXCL | O_WRONLY, 0644); }
long WriteSome(int fd, const uint8_t* data, size_t n) { return long(write(fd, data, n)); }
int CloseFile(int fd) { return close(fd); }
int ProcessId() { return int(getpid()); }
bool ReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }
#endif

extern "C" void OnInterrupt(int signal) {
    if (g_pending) std::remove(g_pendingPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) Fail(path, SystemReason());
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, f);
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) break;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) Fail(path, "read error");
    return bytes;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".vexjpeg-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        fd = OpenExclusive(temp.c_str());
        if (fd < 0 && errno != EEXIST) Fail(path, "cannot create a file here: " + SystemReason());
    }
    if (fd < 0) Fail(path, "cannot create a temporary file beside it");
    if (temp.size() < sizeof g_pendingPath) {
        std::memcpy(g_pendingPath, temp.c_str(), temp.size() + 1);
        g_pending = 1;
    }
    auto abandon = [&](const std::string& why) {
        if (fd >= 0) CloseFile(fd);
        std::remove(temp.c_str());
        g_pending = 0;
        Fail(path, why);
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const auto n = WriteSome(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            abandon("write failed: " + SystemReason());
        }
        done += size_t(n);
    }
    const int closed = CloseFile(fd);
    fd = -1;
    if (closed != 0) abandon("write failed: " + SystemReason());
    if (!ReplaceFile(temp.c_str(), path.c_str())) abandon("cannot rename the finished file into place: " + SystemReason());
    g_pending = 0;
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
