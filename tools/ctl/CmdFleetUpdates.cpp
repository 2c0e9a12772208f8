#include "tools/ctl/Args.h"
#include "tools/ctl/CmdFleetCommon.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/FleetHelp.h"
#include "update/fleet/Fleet.h"

#include <QCoreApplication>

#include <cstdio>

namespace ctl {

namespace {

std::string hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

void printEntries(std::ostream &out, const std::vector<update::UpdateListEntry> &entries)
{
    for (const update::UpdateListEntry &e : entries)
        out << '\t' << field(update::untilZero(e.name)) << '\t' << hex4(e.checksum) << '\t' << field(e.file)
            << '\n';
}

class CmdFleetUpdates : public Command {
public:
    std::string name() const override { return "updates"; }
    std::string summary() const override { return kUpdatesSummary; }
    std::string help() const override
    {
        return std::string(kUpdatesHelp) + kFleetTargetsHelp +
               "  --driver          the driver update host's list instead of the targets'\n" +
               kUpdatesOutputHelp;
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        std::vector<OptionSpec> options = fleetOptions();
        options.push_back({"--driver", false});
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, options, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        const bool driver = parsed.has("--driver");
        if (driver && (!parsed.positional.empty() || parsed.has("--all") || parsed.has("--filter")))
            return usageError(err, name(), "--driver takes no EP, --all or --filter");
        FleetCommon common;
        if (!parseFleetCommon(parsed, name(), driver && !parsed.has("--update-host"), err, common, status))
            return status;
        const auto app = fleet::ensureCoreApplication();
        StopOnSignal stopper;
        return driver ? runDriver(common, stopper, out, err) : runTargets(parsed, common, stopper, out, err);
    }

private:
    int runDriver(const FleetCommon &common, const StopOnSignal &stopper, std::ostream &out,
                  std::ostream &err)
    {
        const std::string &base = common.settings.updateHostBase;
        const fleet::DriverCheck r = fleet::checkDriverHost(base, common.settings, stopper.flag());
        out << "driver\t-\t" << field(common.driverVersion) << '\t' << field(base) << '\t';
        switch (r.state) {
        case fleet::CheckState::Ok:
            out << "ok\n";
            break;
        case fleet::CheckState::NoSource:
            out << fleet::kNoSource << "\tthe driver names no update host\n";
            break;
        case fleet::CheckState::Failed:
            out << "failed\t" << field(r.error) << '\n';
            break;
        }
        printEntries(out, r.entries);
        out.flush();
        if (r.state == fleet::CheckState::Failed)
            return failure(err, name(), r.error);
        return kExitOk;
    }

    int runTargets(const ParsedArgs &parsed, const FleetCommon &common, const StopOnSignal &stopper,
                   std::ostream &out, std::ostream &err)
    {
        int status = kExitOk;
        std::vector<fleet::FleetTarget> targets;
        if (!findFleetTargets(parsed, name(), common.filter, err, targets, status))
            return status;
        if (targets.empty()) {
            err << "velmora-ctl " << name() << ": no target found\n";
            return kExitOk;
        }
        const auto results = fleet::checkTargets(
            targets, common.settings, stopper.flag(), [&](size_t k, const std::string &text) {
                err << targetLabel(targets[k]) << ": " << oneLine(text) << std::endl;
            });
        int failed = 0;
        for (const fleet::CheckResult &r : results) {
            out << formatScopedEndpoint(r.address) << '\t' << field(r.name) << '\t' << field(r.version)
                << '\t' << field(r.baseUrl) << '\t';
            switch (r.state) {
            case fleet::CheckState::Ok:
                out << "ok\n";
                break;
            case fleet::CheckState::NoSource:
                out << fleet::kNoSource << '\t'
                    << field(r.source == update::SourceState::NotUrl ? "not an http(s) URL: " + r.sourceText
                                                                     : std::string("no source text"))
                    << '\n';
                break;
            case fleet::CheckState::Failed:
                ++failed;
                out << "failed\t" << field(r.error) << '\n';
                break;
            }
            printEntries(out, r.entries);
        }
        out.flush();
        if (failed > 0)
            return failure(err, name(),
                           std::to_string(failed) + " of " + std::to_string(results.size()) +
                               " targets failed");
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdFleetUpdates);

} // namespace ctl
