#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/ImageCommandArgs.h"
#include "update/core/UpdateSequence.h"

namespace ctl {

namespace {

class CmdFlash : public Command {
public:
    std::string name() const override { return "flash"; }
    bool runsLong() const override { return true; }
    std::string summary() const override
    {
        return "update a target's firmware: transfer, write, reboot, read the new version";
    }
    std::string help() const override
    {
        return std::string("Usage: velmora-ctl flash EP IMAGE [--slot N] [--burst N] [--crc XXXX]\n"
                           "                         [timing options]\n"
                           "\n"
                           "Runs the whole firmware update of the target at EP with the file IMAGE,\n"
                           "as the update dialog does: sends the image, has the target write it while\n"
                           "polling the write state, reboots the target, waits until it has gone down\n"
                           "and answers again, and reads its new version. An empty IMAGE is refused.\n"
                           "\n") +
               kImageArgsHelp +
               "Timing options:\n"
               "  --pause-ms MS           pause between the steps (default 1000)\n"
               "  --write-timeout S       give up when writing takes longer (default 180)\n"
               "  --down-timeout S        give up when the target still answers this long\n"
               "                          after the reboot request (default 30)\n"
               "  --up-timeout S          give up when the target does not answer again\n"
               "                          this long after it went down (default 90)\n"
               "\n"
               "Every step is one line on standard output as it happens: the status text\n"
               "and, for the last line, a TAB and the result (\"Error\", or \"Ready : \" and\n"
               "the new version). Progress of the data phase (bytes sent, rate) goes to\n"
               "standard error.\n"
               "On Linux it ends when the program that started it ends (unless that\n"
               "started it with SIGHUP ignored, as nohup does).\n"
               "Exit status: 0 after \"Complear Reboot Target\", 1 after a failure, 2 for a\n"
               "bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args,
                       {{"--slot", true},
                        {"--burst", true},
                        {"--crc", true},
                        {"--pause-ms", true},
                        {"--write-timeout", true},
                        {"--down-timeout", true},
                        {"--up-timeout", true}},
                       parsed, error))
            return usageError(err, name(), error);
        update::UpdateOptions options;
        struct Timing {
            const char *option;
            std::chrono::milliseconds &value;
            uint64_t unit;
            uint64_t max;
        } timings[] = {
            {"--pause-ms", options.timings.pause, 1, 600000},
            {"--write-timeout", options.timings.writeBound, 1000, 86400},
            {"--down-timeout", options.timings.downBound, 1000, 86400},
            {"--up-timeout", options.timings.upBound, 1000, 86400},
        };
        for (Timing &t : timings) {
            if (!parsed.has(t.option))
                continue;
            uint64_t n = 0;
            if (!parseUnsigned(parsed.value(t.option), t.max, n))
                return usageError(err, name(),
                                  std::string(t.option) + " takes a whole number up to " +
                                      std::to_string(t.max));
            t.value = std::chrono::milliseconds(n * t.unit);
        }
        ImageCommandArgs a;
        a.allowEmpty = false;
        int status = kExitOk;
        if (!parseImageCommand(parsed, name(), err, a, status))
            return status;
        options.slotIndex = a.slotIndex;
        options.burstLimit = a.burstLimit;
        options.progress = progressPrinter(err);
        const bool ok = update::runUpdate(a.image, a.endpoint, options,
                                          [&out](const std::string &statusText, const std::string &box) {
                                              // The box text carries the target's version:
                                              // one line, no terminal controls.
                                              out << oneLine(statusText);
                                              if (!box.empty())
                                                  out << '\t' << oneLine(box);
                                              out << std::endl;
                                          });
        return ok ? kExitOk : kExitFailure;
    }
};

} // namespace

VELMORA_CTL_COMMAND(CmdFlash);

} // namespace ctl
