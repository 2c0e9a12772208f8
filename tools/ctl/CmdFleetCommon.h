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
// Both functions report on err and set status; after a failure (status 1,
// not a usage error) problem holds the message without the command prefix.
bool parseFleetCommon(const ParsedArgs &parsed, const std::string &command, bool needDriver,
                      std::ostream &err, FleetCommon &out, int &status, std::string &problem);

// The targets: the EPs given, or with --all (the default) all that
// discovery finds. Names and identifiers come from the same discovery.
bool findFleetTargets(const ParsedArgs &parsed, const std::string &command, uint64_t filter,
                      std::ostream &err, std::vector<fleet::FleetTarget> &targets, int &status,
                      std::string &problem);

// A field of a TAB-separated line: oneLine, "-" when empty.
std::string field(const std::string &text);
// "EP (NAME)" for progress lines.
std::string targetLabel(const fleet::FleetTarget &target);

// The texts of a result, the same in the lines and in the --json document:
// the STATE/RESULT column and the DETAIL after it (empty when there is
// none), as the results carry them (the lines pass them through field()).
std::string checkStateText(fleet::CheckState state);
std::string checkDetail(const fleet::CheckResult &result);
std::string driverCheckDetail(const fleet::DriverCheck &result);
std::string updateResultText(fleet::UpdateState state);
std::string updateDetail(const fleet::UpdateResult &result);

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
