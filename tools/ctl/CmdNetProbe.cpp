#include "src/Network/Message.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

namespace ctl {

namespace {

class CmdNetProbe : public Command {
public:
    std::string name() const override { return "probe"; }
    std::string summary() const override { return "check that a target answers"; }
    std::string help() const override
    {
        return std::string("Usage: velmora-ctl probe EP\n"
                           "\n"
                           "Sends Hello to the target's command port and waits up to 100 ms for\n"
                           "its answer from that port.\n"
                           "\n") +
               kEndpointHelp +
               "\n"
               "Prints nothing on success. Exit status: 0 when the target answered, 1\n"
               "when it did not (the message says: no answer, refusal, echo or a send\n"
               "error), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        std::vector<uint8_t> reply;
        if (!askTarget(parsed, name(), buildMessage(msg::Hello), msg::HelloReply, reply, err, status))
            return status;
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetProbe);

} // namespace ctl
