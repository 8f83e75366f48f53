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

// Quotes a string for the shell.
std::string Q(const std::string& s);

}  // namespace tooltest
