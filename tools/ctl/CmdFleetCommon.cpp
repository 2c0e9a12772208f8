#include "tools/ctl/CmdFleetCommon.h"

#include "src/Network/TargetClient.h"
#include "src/Platform/Platform.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "update/core/BaseUrl.h"
#include "update/net/UpdateAccess.h"

#include <map>

namespace ctl {

namespace {

constexpr unsigned kMaxParallel = 64;
constexpr char kDiscoveryName[] = "velmora-ctl";

// A signal handler can only set a flag that lives outside any object.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void onStopSignal(int signal)
{
    if (stopRequested.exchange(true))
        return;
    // The next one ends the program.
    std::signal(signal, SIG_DFL);
}

bool readDriverLibrary(const std::string &dir, std::string &updateHost, std::string &version,
                       std::string &error)
{
    std::unique_ptr<Platform> platform = createSystemPlatform();
    const std::string folder = dir.empty() ? platform->programDirectory() : dir;
    if (folder.empty()) {
        error = "cannot tell velmora-ctl's own folder: give --program-dir or --update-host";
        return false;
    }
    DllVelmorafindFn find = platform->findDriverEntry(folder);
    DriverFinder *finder = find ? find() : nullptr;
    if (!finder) {
        error = "no driver library (with " + std::string(kDriverEntryName) + ") in " + folder +
                ": give --program-dir or --update-host";
        return false;
    }
    finder->updateHost(updateHost);
    finder->driverVersion(version);
    finder->release();
    return true;
}

} // namespace

std::vector<OptionSpec> fleetOptions()
{
    return {{"--all", false},     {"--filter", true},      {"--staging", false},   {"--preview", false},
            {"--parallel", true}, {"--update-host", true}, {"--program-dir", true}};
}

bool parseFleetCommon(const ParsedArgs &parsed, const std::string &command, bool needDriver,
                      std::ostream &err, FleetCommon &out, int &status)
{
    if (parsed.has("--filter") && !parseIdentifier(parsed.value("--filter"), out.filter)) {
        status = usageError(err, command,
                            "bad --filter \"" + parsed.value("--filter") +
                                "\": a decimal number or 0x and up to 16 hexadecimal digits");
        return false;
    }
    out.settings.staging = parsed.has("--staging");
    out.settings.developerPreview = parsed.has("--preview");
    if (parsed.has("--parallel")) {
        uint64_t n = 0;
        if (!parseUnsigned(parsed.value("--parallel"), kMaxParallel, n) || n == 0) {
            status = usageError(err, command, "--parallel takes a number 1.." + std::to_string(kMaxParallel));
            return false;
        }
        out.settings.parallel = unsigned(n);
    }
    if (parsed.has("--update-host") && parsed.has("--program-dir")) {
        status = usageError(err, command, "give either --update-host or --program-dir");
        return false;
    }
    if (parsed.has("--update-host")) {
        out.updateHostText = parsed.value("--update-host");
    } else if (parsed.has("--program-dir") || needDriver) {
        std::string error;
        if (!readDriverLibrary(parsed.value("--program-dir"), out.updateHostText, out.driverVersion, error)) {
            status = failure(err, command, error);
            return false;
        }
        out.driverRead = true;
    }
    // Only the marker rule applies to the update host, as in the dialog.
    out.settings.updateHostBase = update::hostBaseUrl(out.updateHostText, update::builtInServer(),
                                                      out.settings.staging, out.settings.developerPreview);
    return true;
}

bool findFleetTargets(const ParsedArgs &parsed, const std::string &command, uint64_t filter,
                      std::ostream &err, std::vector<fleet::FleetTarget> &targets, int &status)
{
    if (parsed.has("--all") && !parsed.positional.empty()) {
        status = usageError(err, command, "give EPs or --all, not both");
        return false;
    }
    std::vector<NodeAddress> given;
    for (const std::string &text : parsed.positional) {
        NodeAddress ep;
        std::string error;
        if (!parseTargetEndpoint(text, ep, error)) {
            status = usageError(err, command, error);
            return false;
        }
        given.push_back(ep);
    }
    auto client = openClient(command, err, status, filter, kDiscoveryName);
    if (!client)
        return false;
    TargetMap found;
    if (!discover(*client, found, 0) && given.empty()) {
        status = failure(err, command,
                         "the search failed: a wait on the socket failed or an announcement could "
                         "not be sent");
        return false;
    }
    client->close();
    targets.clear();
    if (given.empty()) {
        for (const auto &entry : found)
            targets.push_back({entry.first, entry.second.name});
        return true;
    }
    for (const NodeAddress &ep : given) {
        const auto it = found.find(ep);
        targets.push_back({ep, it == found.end() ? std::string() : it->second.name});
    }
    return true;
}

std::string field(const std::string &text)
{
    return text.empty() ? std::string("-") : oneLine(text);
}

std::string targetLabel(const fleet::FleetTarget &target)
{
    return formatScopedEndpoint(target.address) + " (" + (target.name.empty() ? "-" : oneLine(target.name)) +
           ")";
}

StopOnSignal::StopOnSignal()
{
    stopRequested = false;
    oldInt_ = std::signal(SIGINT, onStopSignal);
    oldTerm_ = std::signal(SIGTERM, onStopSignal);
}

StopOnSignal::~StopOnSignal()
{
    std::signal(SIGINT, oldInt_ == SIG_ERR ? SIG_DFL : oldInt_);
    std::signal(SIGTERM, oldTerm_ == SIG_ERR ? SIG_DFL : oldTerm_);
}

const std::atomic<bool> &StopOnSignal::flag() const
{
    return stopRequested;
}

} // namespace ctl
