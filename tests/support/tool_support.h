// Helpers shared by the tests of the command-line tool, the C++ header and
// the installed package: a scratch directory per test and running programs
// with their output captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace tooltest {

struct Result {
    int code = -1;
    std::string out, err;
};

// Runs a shell command line with stdout and stderr captured.
Result Shell(const std::string& command);

// Path of a program built beside the tests (bin/NAME), or "" if missing.
std::string BuiltProgram(const std::string& name);

// Fixture: a fresh scratch directory, removed afterwards.
class ScratchTest : public vextest::LibraryTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Names in the scratch directory, sorted.
    std::vector<std::string> Listing() const;
    std::string dir_;
};

// Fixture for tests of the vexjpeg program: a scratch directory and the
// built tool, the test skipped when it was not built (a derived SetUp
// returns when IsSkipped()).
class VexjpegTest : public ScratchTest {
protected:
    void SetUp() override;
    // Runs vexjpeg with these arguments (a shell command line's words).
    Result Vex(const std::string& args);
    // The same, which must succeed.
    void Ok(const std::string& args);
    std::string tool_;
};

// Quotes a string for the shell.
std::string Q(const std::string& s);

}  // namespace tooltest
