#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

namespace ctl {

namespace {

class CmdNetInterfaces : public Command {
public:
    std::string name() const override { return "interfaces"; }
    std::string summary() const override { return "list the host's IPv6 link-local interfaces"; }
    std::string help() const override
    {
        return "Usage: velmora-ctl interfaces\n"
               "\n"
               "Lists the host's IPv6 link-local addresses, the interfaces that discovery\n"
               "searches. One line per address, in address order:\n"
               "  ADDRESS%INDEX<TAB>FRIENDLY NAME<TAB>DESCRIPTION\n"
               "No lines when the host has no link-local address.\n"
               "Exit status: 0 on success, 1 when the adapters cannot be listed (or the\n"
               "host has no IPv6 address at all), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        if (!expectPositional(parsed, 0, 0, name(), err, status))
            return status;
        try {
            Socket starter; // the adapter list needs the socket library
            (void)starter;
        } catch (const TORNE::Err &) {
            return failure(err, name(), "the socket library did not start");
        }
        InterfaceMap map;
        if (!listLinkLocalInterfaces(map))
            return failure(err, name(), "cannot list the network adapters, or the host has no IPv6 address");
        for (const auto &entry : map)
            out << formatAddress(entry.first.address) << "%" << entry.first.interfaceIndex << "\t"
                << oneLine(entry.second.friendlyName) << "\t" << oneLine(entry.second.description) << "\n";
        out.flush();
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetInterfaces);

} // namespace ctl
