#pragma once

#include "tools/ctl/Command.h"

#include <gtest/gtest.h>

#include <ostream>

#include <sstream>
#include <string>
#include <vector>

// velmora-ctl run in the test's own process (the commands are a library):
// its exit status and what it wrote to standard output and error. Tests of
// the program itself, as a child, use tests/support/ChildProcess.h.
namespace ctltest {

struct CtlResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The words after "velmora-ctl".
inline CtlResult ctlRun(std::vector<std::string> words)
{
    words.insert(words.begin(), "velmora-ctl");
    std::ostringstream out;
    std::ostringstream err;
    const int status = ctl::runCtl(words, out, err);
    return {status, out.str(), err.str()};
}

// A row of a table of bad command lines: the words after the command and
// a part of the message that must name the mistake.
struct UsageCase {
    const char *name;
    std::vector<std::string> words;
    const char *message;
};

inline void PrintTo(const UsageCase &c, std::ostream *os)
{
    *os << c.name;
}

// A bad command line: exit status 2, nothing on standard output, the
// mistake named on standard error.
inline void expectUsageError(const std::string &command, const UsageCase &c)
{
    std::vector<std::string> words = {command};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const CtlResult run = ctlRun(words);
    EXPECT_EQ(run.status, ctl::kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
}

} // namespace ctltest
