#include "src/Network/Message.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

namespace ctl {

namespace {

class CmdNetReboot : public Command {
public:
    std::string name() const override { return "reboot"; }
    std::string summary() const override { return "reboot a target"; }
    std::string help() const override
    {
        return std::string("Usage: velmora-ctl reboot EP [--mode N]\n"
                           "\n"
                           "Asks the target to reboot. It may stop answering for a while;\n"
                           "'velmora-ctl probe EP' tells when it is back.\n"
                           "\n") +
               kEndpointHelp +
               "  --mode N    reboot mode, 0..255 (default 1)\n"
               "\n"
               "Prints nothing on success. Exit status: 0 when the target confirmed, 1\n"
               "when it did not (the message says: no answer, refusal, echo or a send\n"
               "error), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {{"--mode", true}}, parsed, error))
            return usageError(err, name(), error);
        uint64_t mode = 1;
        if (parsed.has("--mode") && !parseUnsigned(parsed.value("--mode"), 255, mode))
            return usageError(err, name(), "bad --mode \"" + parsed.value("--mode") + "\": a number 0..255");
        int status = kExitOk;
        std::vector<uint8_t> reply;
        if (!askTarget(parsed, name(), buildMessage(msg::Reboot, 0, static_cast<uint16_t>(mode)), msg::RebootReply,
                       reply, err, status))
            return status;
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetReboot);

} // namespace ctl
