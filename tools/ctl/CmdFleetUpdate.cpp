#include "src/Network/Crc16.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdFleetCommon.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/FleetHelp.h"
#include "tools/ctl/ImageCommandArgs.h"
#include "update/fleet/Fleet.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace ctl {

namespace {

class CmdFleetUpdate : public Command {
public:
    std::string name() const override { return "update"; }
    std::string summary() const override { return kUpdateSummary; }
    std::string help() const override
    {
        return std::string(kUpdateHelp) + kFleetTargetsHelp + kUpdateOutputHelp;
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        std::vector<OptionSpec> options = fleetOptions();
        options.push_back({"--latest", false});
        options.push_back({"--entry", true});
        options.push_back({"--image", true});
        options.push_back({"--crc", true});
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, options, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        fleet::UpdateRequest request;
        if (!parseChoice(parsed, err, request, status))
            return status;
        FleetCommon common;
        if (!parseFleetCommon(parsed, name(), false, err, common, status))
            return status;
        std::vector<fleet::FleetTarget> targets;
        if (!findFleetTargets(parsed, name(), common.filter, err, targets, status))
            return status;
        if (targets.empty())
            return failure(err, name(), "no target found: nothing was updated");

        const auto app = fleet::ensureCoreApplication();
        StopOnSignal stopper;
        const auto results = fleet::updateTargets(
            targets, request, common.settings, stopper.flag(), [&](size_t k, const std::string &text) {
                err << targetLabel(targets[k]) << ": " << oneLine(text) << std::endl;
            });
        int counts[4] = {0, 0, 0, 0};
        for (const fleet::UpdateResult &r : results) {
            ++counts[int(r.state)];
            out << formatScopedEndpoint(r.address) << '\t' << field(r.name) << '\t' << field(r.oldVersion)
                << '\t' << (r.state == fleet::UpdateState::Updated ? field(r.newVersion) : std::string("-"))
                << '\t';
            switch (r.state) {
            case fleet::UpdateState::Updated:
                out << "ok\n";
                break;
            case fleet::UpdateState::Failed:
                out << "failed\t" << field(r.detail.empty() ? r.step : r.step + ": " + r.detail) << '\n';
                break;
            case fleet::UpdateState::NoSource:
                out << fleet::kNoSource << '\t' << field(r.detail) << '\n';
                break;
            case fleet::UpdateState::Stopped:
                out << "stopped\t" << field(r.step) << '\n';
                break;
            }
        }
        out.flush();
        err << "velmora-ctl " << name() << ": " << counts[int(fleet::UpdateState::Updated)] << " updated, "
            << counts[int(fleet::UpdateState::Failed)] << " failed, "
            << counts[int(fleet::UpdateState::NoSource)] << " without a source, "
            << counts[int(fleet::UpdateState::Stopped)] << " stopped\n";
        return counts[int(fleet::UpdateState::Updated)] == int(results.size()) ? kExitOk : kExitFailure;
    }

private:
    bool parseChoice(const ParsedArgs &parsed, std::ostream &err, fleet::UpdateRequest &request, int &status)
    {
        const int chosen =
            int(parsed.has("--latest")) + int(parsed.has("--entry")) + int(parsed.has("--image"));
        if (chosen != 1) {
            status = usageError(err, name(), "give one of --latest, --entry NAME or --image FILE --crc XXXX");
            return false;
        }
        if (parsed.has("--image") != parsed.has("--crc")) {
            status = usageError(err, name(), "--image and --crc go together");
            return false;
        }
        if (parsed.has("--latest")) {
            request.choice = fleet::Choice::Latest;
            return true;
        }
        if (parsed.has("--entry")) {
            request.choice = fleet::Choice::Entry;
            request.entryName = parsed.value("--entry");
            return true;
        }
        request.choice = fleet::Choice::Image;
        const std::string &crcText = parsed.value("--crc");
        if (crcText.size() != 4 || crcText.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            status = usageError(err, name(), "--crc takes four hexadecimal digits, for example 0f3a");
            return false;
        }
        const std::string &path = parsed.value("--image");
        std::string error;
        if (!readImageFile(path, request.image, error)) {
            status = failure(err, name(), error);
            return false;
        }
        if (request.image.empty()) {
            status = failure(err, name(), "the image \"" + path + "\" is empty: nothing was sent");
            return false;
        }
        const unsigned expected = unsigned(std::strtoul(crcText.c_str(), nullptr, 16));
        const uint16_t crc = crc16Usb(request.image.data(), request.image.size());
        if (crc != expected) {
            char text[80];
            std::snprintf(text, sizeof text, "has the CRC %04x, not %04x: nothing was sent", crc, expected);
            status = failure(err, name(), "the image \"" + path + "\" " + text);
            return false;
        }
        return true;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdFleetUpdate);

} // namespace ctl
