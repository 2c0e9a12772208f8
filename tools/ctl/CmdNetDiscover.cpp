#include "src/Network/TargetClient.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/JsonOut.h"

#include <cstdio>

namespace ctl {

namespace {

constexpr char kDefaultName[] = "velmora-ctl";

class CmdNetDiscover : public Command {
public:
    std::string name() const override { return "discover"; }
    std::string summary() const override { return "find the targets on all link-local interfaces"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl discover [--filter ID] [--name NAME] [--mode N] [--json]\n"
               "\n"
               "Sends Hello to ff02::1 port 19642 on every link-local interface, three\n"
               "times with 30 ms to listen each, announces NAME to every target that\n"
               "answered and lists the targets whose identifier passes the filter.\n"
               "\n"
               "  --filter ID  list only targets with identifier ID or 0; 0 lists all\n"
               "               (default 0). Decimal, or hexadecimal with 0x. A target\n"
               "               with the all-ones identifier is never listed.\n"
               "  --name NAME  the name announced to the targets (default velmora-ctl)\n"
               "  --mode N     discovery mode sent in the Hello, 0..255 (default 0)\n" VELMORA_CTL_JSON_HELP
               "\n"
               "Output: one line per target, in address order:\n"
               "  ADDRESS%INDEX,PORT<TAB>IDENTIFIER<TAB>NAME\n"
               "IDENTIFIER is 16 lower-case hexadecimal digits; control characters in\n"
               "NAME are shown as '?'. No lines when no target answered.\n"
               "With --json: a document whose \"targets\" lists the same targets, each\n"
               "with endpoint, address, interfaceIndex, port, identifier and name (the\n"
               "name as the target sent it); after a failed search, the targets found\n"
               "before it.\n"
               "Exit status: 0 when the search went through (also with no target), 1\n"
               "when it failed (no interface, socket error, an announcement that could\n"
               "not be sent), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {{"--filter", true}, {"--name", true}, {"--mode", true}, json::kOption}, parsed,
                       error))
            return usageError(err, name(), error);
        int status = kExitOk;
        if (!expectPositional(parsed, 0, 0, name(), err, status))
            return status;
        uint64_t filter = 0;
        if (parsed.has("--filter") && !parseIdentifier(parsed.value("--filter"), filter))
            return usageError(err, name(), "bad --filter \"" + parsed.value("--filter") +
                                               "\": a decimal number or 0x and up to 16 hexadecimal digits");
        uint64_t mode = 0;
        if (parsed.has("--mode") && !parseUnsigned(parsed.value("--mode"), 255, mode))
            return usageError(err, name(), "bad --mode \"" + parsed.value("--mode") + "\": a number 0..255");
        const bool asJson = parsed.has(json::kOption.name);
        json::Json doc = json::document(name());
        doc["targets"] = json::Json::array();
        std::string problem;
        auto client = openClient(filter, parsed.value("--name", kDefaultName), problem);
        if (!client) {
            if (asJson) {
                json::setFailure(doc, problem);
                json::write(out, doc);
            }
            return failure(err, name(), problem);
        }
        TargetMap targets;
        const bool ok = discover(*client, targets, static_cast<uint8_t>(mode));
        const std::string searchFailed =
            "the search failed: a wait on the socket failed or an announcement could not be sent";
        if (asJson) {
            for (const auto &entry : targets)
                doc["targets"].push_back(json::target(entry.first, entry.second));
            if (!ok)
                json::setFailure(doc, searchFailed);
            json::write(out, doc);
        } else {
            for (const auto &entry : targets)
                out << formatScopedEndpoint(entry.first) << "\t"
                    << json::identifierText(entry.second.identifier) << "\t" << oneLine(entry.second.name)
                    << "\n";
        }
        out.flush();
        if (!ok)
            return failure(err, name(), searchFailed);
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetDiscover);

} // namespace ctl
