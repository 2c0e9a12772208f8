#include "src/Network/TargetClient.h"
#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/ImageCommandArgs.h"

namespace ctl {

namespace {

class CmdTransfer : public Command {
public:
    std::string name() const override { return "transfer"; }
    bool runsLong() const override { return true; }
    std::string summary() const override
    {
        return "send a firmware image into a target's slot and check its CRC";
    }
    std::string help() const override
    {
        return std::string("Usage: velmora-ctl transfer EP IMAGE [--slot N] [--burst N] [--crc XXXX]\n"
                           "\n"
                           "Sends the file IMAGE into a storage slot of the target at EP and has the\n"
                           "target check the image's CRC-16. The image is not written: that is\n"
                           "'velmora-ctl flash'.\n"
                           "\n") +
               kImageArgsHelp +
               "\n"
               "Progress (bytes sent, rate) goes to standard error. On success one line\n"
               "on standard output: the byte count and the slot.\n"
               "On Linux it ends when the program that started it ends (unless that\n"
               "started it with SIGHUP ignored, as nohup does).\n"
               "Exit status: 0 when the target confirmed the CRC, 1 when the transfer\n"
               "failed, 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {{"--slot", true}, {"--burst", true}, {"--crc", true}}, parsed, error))
            return usageError(err, name(), error);
        ImageCommandArgs a;
        int status = kExitOk;
        if (!parseImageCommand(parsed, name(), err, a, status))
            return status;
        try {
            TargetClient client(TargetClient::kAllOnes, std::string());
            if (!client.open())
                return failure(err, name(), "cannot open the client socket (no IPv6 link-local interface?)");
            client.setTransferProgress(progressPrinter(err));
            if (!client.transferImage(a.endpoint, a.slotIndex, a.image.data(), a.image.size(), a.burstLimit))
                return failure(err, name(),
                               "the transfer failed: the target did not answer, refused the slot or the "
                               "image, or did not confirm its CRC");
        } catch (const TORNE::Err &) {
            return failure(err, name(), "the socket library did not start");
        }
        out << "transferred " << a.image.size() << " bytes into slot " << a.slotIndex << ", CRC confirmed"
            << std::endl;
        return kExitOk;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdTransfer);

} // namespace ctl
