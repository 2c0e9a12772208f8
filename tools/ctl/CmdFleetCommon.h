#pragma once

#include "tools/ctl/Args.h"
#include "update/fleet/Fleet.h"

#include <atomic>
#include <csignal>
#include <ostream>
#include <string>
#include <vector>

// Pieces shared by velmora-ctl's updates and update commands (Qt build).

namespace ctl {

// The options both commands take (see kFleetTargetsHelp).
std::vector<OptionSpec> fleetOptions();

struct FleetCommon {
    fleet::FleetSettings settings;
    uint64_t filter = 0;
    std::string updateHostText; // --update-host, or from the driver's library
    std::string driverVersion;  // from the driver's library
    bool driverRead = false;
};

// --filter, --staging, --preview, --parallel, --update-host, --program-dir
// (the driver's library is read only for --program-dir or when needDriver).
// The update host, when known, is resolved into settings.updateHostBase.
bool parseFleetCommon(const ParsedArgs &parsed, const std::string &command, bool needDriver,
                      std::ostream &err, FleetCommon &out, int &status);

// The targets: the EPs given, or with --all (the default) all that
// discovery finds. Names come from the same discovery.
bool findFleetTargets(const ParsedArgs &parsed, const std::string &command, uint64_t filter,
                      std::ostream &err, std::vector<fleet::FleetTarget> &targets, int &status);

// A field of a TAB-separated line: oneLine, "-" when empty.
std::string field(const std::string &text);
// "EP (NAME)" for progress lines.
std::string targetLabel(const fleet::FleetTarget &target);

// SIGINT and SIGTERM set the stop flag while one lives; the second signal
// ends the program at once. The earlier handlers come back afterwards.
class StopOnSignal {
public:
    StopOnSignal();
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;
    const std::atomic<bool> &flag() const;

private:
    void (*oldInt_)(int);
    void (*oldTerm_)(int);
};

} // namespace ctl
