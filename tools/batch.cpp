// Batch conversion on worker threads. Workers take the next file in input
// order from a shared counter and leave each outcome in its place; the
// calling thread prints the outcomes in input order as they become ready.
// Every worker streams one file at a time, so memory grows with the number
// of workers, not with the number or size of the files.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "files.h"

namespace vexjpeg {

namespace {

// The name part of a path, without its directory.
std::string FileName(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\:");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names that would be one file on this system's usual file systems:
// Windows and macOS compare names without regard to case.
std::string SameFileKey(const std::string& path) {
#if defined(_WIN32) || defined(__APPLE__)
    std::string key = path;
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    return key;
#else
    return path;
#endif
}

// Prints `text` with `prefix` before each of its lines.
void PrintLines(std::FILE* to, const std::string& prefix, const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1);
        std::fputs(prefix.c_str(), to);
        std::fwrite(text.data() + at, 1, end + 1 - at, to);
        at = end + 1;
    }
}

}  // namespace

int DefaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp<unsigned>(cores, 1, kMaxWriters));
}

std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const std::string& dir,
                                      const std::string& extension, std::string* clash) {
    std::string base = dir;
    if (!base.empty() && base.back() != '/'
#ifdef _WIN32
        && base.back() != '\\'
#endif
    )
        base += '/';
    std::vector<std::string> outputs;
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::string name = FileName(inputs[i]);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0) name.erase(dot);
        outputs.push_back(base + name + extension);
        const auto [it, fresh] = seen.emplace(SameFileKey(outputs.back()), i);
        if (!fresh) {
            *clash = inputs[it->second] + " and " + inputs[i] + " would both be written to " + outputs.back();
            return {};
        }
    }
    return outputs;
}

int RunBatch(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs, int jobs,
             const Conversion& convert) {
    const size_t count = inputs.size();
    std::vector<Outcome> outcomes(count);
    std::vector<bool> ready(count, false);
    std::mutex mutex;
    std::condition_variable readyChanged;
    std::atomic<size_t> next{0};

    auto work = [&] {
        for (size_t i; (i = next++) < count;) {
            Outcome outcome;
            try {
                outcome = convert(inputs[i], outputs[i]);
            } catch (...) {
                // The conversion reports its own failures; this is the
                // last resort that keeps one file from ending the batch.
                outcome.code = kExitInput;
                outcome.err = "vexjpeg: " + inputs[i] + ": unexpected failure\n";
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                outcomes[i] = std::move(outcome);
                ready[i] = true;
            }
            readyChanged.notify_all();
        }
    };

    std::vector<std::thread> workers;
    const size_t wanted = std::min(count, size_t(std::max(jobs, 1)));
    for (size_t w = 0; w < wanted; ++w) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the system gives no more threads: the ones started do the work
        }
    }
    if (workers.empty()) work();

    int worst = 0;
    for (size_t i = 0; i < count; ++i) {
        Outcome outcome;
        {
            std::unique_lock<std::mutex> lock(mutex);
            readyChanged.wait(lock, [&] { return bool(ready[i]); });
            outcome = std::move(outcomes[i]);
        }
        PrintLines(stdout, inputs[i] + ": ", outcome.out);
        std::fflush(stdout);
        std::fputs(outcome.err.c_str(), stderr);
        std::fflush(stderr);
        // The highest code wins: an output that cannot be written (4) is not
        // hidden behind a damaged input (2), and the result does not depend
        // on which file finished first.
        worst = std::max(worst, outcome.code);
    }
    for (std::thread& t : workers) t.join();
    return worst;
}

}  // namespace vexjpeg
