#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// An emulator (velmora-target-sim, or another stand-in target) started
// inside a target namespace of the private test network, stopped by the
// destructor.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Target namespace k (1 or 2). Waits (bounded) until it prints
    // "ready". False with a message in error.
    bool start(int k, const std::vector<std::string> &args, std::string &error);
    // The same with another program (a path) in place of the emulator.
    bool startProgram(int k, const std::string &program, const std::vector<std::string> &args,
                      std::string &error);
    void stop();
    // Everything it printed so far.
    std::string output() const;

private:
    pid_t pid_ = -1;
    std::string outputPath_;
    std::string name_ = "velmora-target-sim";
};

// The prerequisites of a test in the private network; empty when fine.
std::string testNetworkProblem();
std::string envText(const char *name);
