#pragma once

#include "tools/sim/SimTarget.h"

#include <memory>
#include <string>
#include <vector>

// The emulator's command line: global options, then one group of options
// per target, each group started by --target NAME.

namespace sim {

constexpr uint16_t kFirstDefaultPort = 19650;

struct SimConfig {
    std::string interfaceName; // empty: the namespace's one non-loopback interface
    bool verbose = false;
    bool help = false;
    int logPort = 23; // 0 = no log stream
    std::vector<std::unique_ptr<SimTarget>> targets;
};

// False with a message in err on a bad command line. Targets without a
// port get kFirstDefaultPort + their position.
bool parseArguments(const std::vector<std::string> &args, SimConfig &config, std::string &err);
std::string helpText();

} // namespace sim
