// Files of the command-line tool: whole-file reads, and writes that appear
// under their final name only once complete (temporary name, then rename),
// so a failure or an interrupt never leaves a partial output behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexjpeg {

struct FileError {
    std::string message;
};

// Throws FileError naming the path and the system's reason.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// Writes `bytes` to a fresh temporary file beside `path` and renames it to
// `path`; on any failure the temporary file is removed and FileError thrown.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Removes the temporary file of a write in progress when the process is
// interrupted (SIGINT, SIGTERM).
void InstallInterruptCleanup();

bool StderrIsTerminal();

}  // namespace vexjpeg
