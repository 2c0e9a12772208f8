#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/JsonOut.h"

namespace ctl {

namespace {

class CmdNetInterfaces : public Command {
public:
    std::string name() const override { return "interfaces"; }
    std::string summary() const override { return "list the host's IPv6 link-local interfaces"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl interfaces [--json]\n"
               "\n"
               "Lists the host's IPv6 link-local addresses, the interfaces that discovery\n"
               "searches.\n"
               "\n" VELMORA_CTL_JSON_HELP "\n"
               "Output: one line per address, in address order:\n"
               "  ADDRESS%INDEX<TAB>FRIENDLY NAME<TAB>DESCRIPTION\n"
               "No lines when the host has no link-local address.\n"
               "With --json: a document whose \"interfaces\" lists the same addresses,\n"
               "each with address, interfaceIndex, scopedAddress, friendlyName and\n"
               "description.\n"
               "Exit status: 0 on success, 1 when the adapters cannot be listed (or the\n"
               "host has no IPv6 address at all), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {json::kOption}, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        if (!expectPositional(parsed, 0, 0, name(), err, status))
            return status;
        const bool asJson = parsed.has(json::kOption.name);
        json::Json doc = json::document(name());
        doc["interfaces"] = json::Json::array();
        std::string problem;
        InterfaceMap map;
        try {
            Socket starter; // the adapter list needs the socket library
            (void)starter;
            if (!listLinkLocalInterfaces(map))
                problem = "cannot list the network adapters, or the host has no IPv6 address";
        } catch (const TORNE::Err &) {
            problem = "the socket library did not start";
        }
        if (!problem.empty()) {
            if (asJson) {
                json::setFailure(doc, problem);
                json::write(out, doc);
            }
            return failure(err, name(), problem);
        }
        if (asJson) {
            for (const auto &entry : map)
                doc["interfaces"].push_back(json::interfaceEntry(entry.first, entry.second));
            json::write(out, doc);
        } else {
            for (const auto &entry : map)
                out << formatAddress(entry.first.address) << "%" << entry.first.interfaceIndex << "\t"
                    << oneLine(entry.second.friendlyName) << "\t" << oneLine(entry.second.description)
                    << "\n";
        }
        out.flush();
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetInterfaces);

} // namespace ctl
