#include "tools/ctl/Args.h"
#include "tools/ctl/CmdFleetCommon.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/FleetHelp.h"
#include "tools/ctl/FleetJson.h"
#include "tools/ctl/JsonOut.h"
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

// STATE, and TAB and DETAIL after anything but ok.
void printState(std::ostream &out, fleet::CheckState state, const std::string &detail)
{
    out << checkStateText(state);
    if (state != fleet::CheckState::Ok)
        out << '\t' << field(detail);
    out << '\n';
}

class CmdFleetUpdates : public Command {
public:
    std::string name() const override { return "updates"; }
    std::string summary() const override { return kUpdatesSummary; }
    std::string help() const override
    {
        return std::string(kUpdatesHelp) + kFleetTargetsHelp +
               "  --driver          the driver update host's list instead of the targets'\n" +
               VELMORA_CTL_JSON_HELP + kUpdatesOutputHelp;
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        std::vector<OptionSpec> options = fleetOptions();
        options.push_back({"--driver", false});
        options.push_back(json::kOption);
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, options, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        const bool driver = parsed.has("--driver");
        if (driver && (!parsed.positional.empty() || parsed.has("--all") || parsed.has("--filter")))
            return usageError(err, name(), "--driver takes no EP, --all or --filter");
        Output output{parsed.has(json::kOption.name), json::document(name()), out, err};
        output.doc["targets"] = json::Json::array();
        output.doc["driver"] = nullptr;
        FleetCommon common;
        std::string problem;
        if (!parseFleetCommon(parsed, name(), driver && !parsed.has("--update-host"), err, common, status,
                              problem))
            return output.failed(status, problem);
        const auto app = fleet::ensureCoreApplication();
        StopOnSignal stopper;
        return driver ? runDriver(common, stopper, output) : runTargets(parsed, common, stopper, output);
    }

private:
    // Where the results go: lines, or the one document at the end.
    struct Output {
        bool asJson;
        json::Json doc;
        std::ostream &out;
        std::ostream &err;

        // After a failure already reported on err: the document, when one is
        // due (not after a usage error).
        int failed(int status, const std::string &problem)
        {
            if (asJson && status == kExitFailure) {
                json::setFailure(doc, problem);
                json::write(out, doc);
            }
            return status;
        }
    };

    int runDriver(const FleetCommon &common, const StopOnSignal &stopper, Output &o)
    {
        const std::string &base = common.settings.updateHostBase;
        const fleet::DriverCheck r = fleet::checkDriverHost(base, common.settings, stopper.flag());
        if (o.asJson) {
            o.doc["driver"] = json::driverCheck(common.driverVersion, r);
            if (r.state == fleet::CheckState::Failed)
                json::setFailure(o.doc, r.error);
            json::write(o.out, o.doc);
        } else {
            o.out << "driver\t-\t" << field(common.driverVersion) << '\t' << field(base) << '\t';
            printState(o.out, r.state, driverCheckDetail(r));
            printEntries(o.out, r.entries);
        }
        o.out.flush();
        if (r.state == fleet::CheckState::Failed)
            return failure(o.err, name(), r.error);
        return kExitOk;
    }

    int runTargets(const ParsedArgs &parsed, const FleetCommon &common, const StopOnSignal &stopper,
                   Output &o)
    {
        int status = kExitOk;
        std::string problem;
        std::vector<fleet::FleetTarget> targets;
        if (!findFleetTargets(parsed, name(), common.filter, o.err, targets, status, problem))
            return o.failed(status, problem);
        if (targets.empty()) {
            o.err << "velmora-ctl " << name() << ": no target found\n";
            if (o.asJson)
                json::write(o.out, o.doc);
            return kExitOk;
        }
        const auto results = fleet::checkTargets(
            targets, common.settings, stopper.flag(), [&](size_t k, const std::string &text) {
                o.err << targetLabel(targets[k]) << ": " << oneLine(text) << std::endl;
            });
        int failed = 0;
        for (size_t k = 0; k < results.size(); ++k) {
            const fleet::CheckResult &r = results[k];
            if (r.state == fleet::CheckState::Failed)
                ++failed;
            if (o.asJson) {
                o.doc["targets"].push_back(json::targetCheck(targets[k], r));
                continue;
            }
            o.out << formatScopedEndpoint(r.address) << '\t' << field(r.name) << '\t' << field(r.version)
                  << '\t' << field(r.baseUrl) << '\t';
            printState(o.out, r.state, checkDetail(r));
            printEntries(o.out, r.entries);
        }
        const std::string summary =
            std::to_string(failed) + " of " + std::to_string(results.size()) + " targets failed";
        if (o.asJson) {
            if (failed > 0)
                json::setFailure(o.doc, summary);
            json::write(o.out, o.doc);
        }
        o.out.flush();
        if (failed > 0)
            return failure(o.err, name(), summary);
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdFleetUpdates);

} // namespace ctl
