#include "src/Network/Crc16.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdFleetCommon.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/FleetHelp.h"
#include "tools/ctl/FleetJson.h"
#include "tools/ctl/ImageCommandArgs.h"
#include "tools/ctl/JsonOut.h"
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
        return std::string(kUpdateHelp) + kFleetTargetsHelp + VELMORA_CTL_JSON_HELP + kUpdateOutputHelp;
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        std::vector<OptionSpec> options = fleetOptions();
        options.push_back({"--latest", false});
        options.push_back({"--entry", true});
        options.push_back({"--image", true});
        options.push_back({"--crc", true});
        options.push_back(json::kOption);
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, options, parsed, error))
            return usageError(err, name(), error);
        const bool asJson = parsed.has(json::kOption.name);
        json::Json doc = json::document(name());
        doc["targets"] = json::Json::array();
        // After a failure already reported on err: the document, when one is
        // due (not after a usage error).
        auto failed = [&](int status, const std::string &problem) {
            if (asJson && status == kExitFailure) {
                json::setFailure(doc, problem);
                json::write(out, doc);
            }
            return status;
        };
        int status = kExitOk;
        std::string problem;
        fleet::UpdateRequest request;
        if (!parseChoice(parsed, err, request, status, problem))
            return failed(status, problem);
        FleetCommon common;
        if (!parseFleetCommon(parsed, name(), false, err, common, status, problem))
            return failed(status, problem);
        std::vector<fleet::FleetTarget> targets;
        if (!findFleetTargets(parsed, name(), common.filter, err, targets, status, problem))
            return failed(status, problem);
        if (targets.empty()) {
            problem = "no target found: nothing was updated";
            return failed(failure(err, name(), problem), problem);
        }

        const auto app = fleet::ensureCoreApplication();
        StopOnSignal stopper;
        const auto results = fleet::updateTargets(
            targets, request, common.settings, stopper.flag(), [&](size_t k, const std::string &text) {
                err << targetLabel(targets[k]) << ": " << oneLine(text) << std::endl;
            });
        int counts[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < results.size(); ++k) {
            const fleet::UpdateResult &r = results[k];
            ++counts[int(r.state)];
            if (asJson) {
                doc["targets"].push_back(json::targetUpdate(targets[k], r));
                continue;
            }
            const bool updated = r.state == fleet::UpdateState::Updated;
            out << formatScopedEndpoint(r.address) << '\t' << field(r.name) << '\t' << field(r.oldVersion)
                << '\t' << (updated ? field(r.newVersion) : std::string("-")) << '\t'
                << updateResultText(r.state);
            if (!updated)
                out << '\t' << field(updateDetail(r));
            out << '\n';
        }
        const std::string summary = std::to_string(counts[int(fleet::UpdateState::Updated)]) + " updated, " +
                                    std::to_string(counts[int(fleet::UpdateState::Failed)]) + " failed, " +
                                    std::to_string(counts[int(fleet::UpdateState::NoSource)]) +
                                    " without a source, " +
                                    std::to_string(counts[int(fleet::UpdateState::Stopped)]) + " stopped";
        const bool allUpdated = counts[int(fleet::UpdateState::Updated)] == int(results.size());
        if (asJson) {
            if (!allUpdated)
                json::setFailure(doc, summary);
            json::write(out, doc);
        }
        out.flush();
        err << "velmora-ctl " << name() << ": " << summary << "\n";
        return allUpdated ? kExitOk : kExitFailure;
    }

private:
    // Reports on err; after a failure (status 1) problem holds the message.
    bool parseChoice(const ParsedArgs &parsed, std::ostream &err, fleet::UpdateRequest &request, int &status,
                     std::string &problem)
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
            problem = error;
            status = failure(err, name(), problem);
            return false;
        }
        if (request.image.empty()) {
            problem = "the image \"" + path + "\" is empty: nothing was sent";
            status = failure(err, name(), problem);
            return false;
        }
        const unsigned expected = unsigned(std::strtoul(crcText.c_str(), nullptr, 16));
        const uint16_t crc = crc16Usb(request.image.data(), request.image.size());
        if (crc != expected) {
            char text[80];
            std::snprintf(text, sizeof text, "has the CRC %04x, not %04x: nothing was sent", crc, expected);
            problem = "the image \"" + path + "\" " + text;
            status = failure(err, name(), problem);
            return false;
        }
        return true;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdFleetUpdate);

} // namespace ctl
