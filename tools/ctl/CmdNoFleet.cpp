#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/FleetHelp.h"

// The core-only build (Windows) has no Qt Network: updates and update are
// listed, with their usage, as unavailable.

namespace ctl {

namespace {

class Unavailable : public Command {
public:
    Unavailable(const char *name, const char *summary, const char *help)
        : name_(name), summary_(summary), help_(help)
    {
    }
    std::string name() const override { return name_; }
    std::string summary() const override { return std::string("not in this build (needs Qt): ") + summary_; }
    std::string help() const override { return std::string(kUnavailableHelp) + help_; }
    int run(const std::vector<std::string> &, std::ostream &, std::ostream &err) override
    {
        return failure(err, name_,
                       "not available in this build: it needs Qt Network, and this velmora-ctl was built "
                       "without Qt");
    }

private:
    const char *name_;
    const char *summary_;
    const char *help_;
};

class CmdNoUpdates : public Unavailable {
public:
    CmdNoUpdates() : Unavailable("updates", kUpdatesSummary, kUpdatesHelp) {}
};

class CmdNoUpdate : public Unavailable {
public:
    CmdNoUpdate() : Unavailable("update", kUpdateSummary, kUpdateHelp) {}
};

} // namespace

VELMORA_CTL_COMMAND(CmdNoUpdates);
VELMORA_CTL_COMMAND(CmdNoUpdate);

} // namespace ctl
