#pragma once

#include "tests/support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

// An emulator (velmora-target-sim, or another stand-in target) started
// inside a target namespace of the private test network, stopped by the
// destructor (checked: status 0, no sanitizer line).
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() = default;
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Target namespace k (1 or 2). Waits (bounded) until this emulator
    // prints its own "ready" line. False with a message in error.
    bool start(int k, const std::vector<std::string> &args, std::string &error);
    // The same with another program (a path) in place of the emulator.
    bool startProgram(int k, const std::string &program, const std::vector<std::string> &args,
                      std::string &error);
    void stop();
    // Everything it printed so far.
    std::string output() const;

private:
    std::unique_ptr<ChildProcess> child_;
};

// The prerequisites of a test in the private network; empty when fine.
std::string testNetworkProblem();
std::string envText(const char *name);
