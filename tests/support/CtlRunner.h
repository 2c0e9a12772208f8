#pragma once

#include "tools/ctl/Command.h"

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

} // namespace ctltest
