#include "src/Network/Message.h"
#include "tools/ctl/CmdNetCommon.h"
#include "tools/ctl/Command.h"

namespace ctl {

namespace {

// version and source: one text query each.
class CmdNetQuery : public Command {
public:
    CmdNetQuery(const char *word, const char *what, uint16_t request, uint16_t reply)
        : word_(word), what_(what), request_(request), reply_(reply)
    {
    }
    std::string name() const override { return word_; }
    std::string summary() const override { return std::string("print a target's ") + what_; }
    std::string help() const override
    {
        return "Usage: velmora-ctl " + word_ + " EP\n\nAsks the target for its " + what_ +
               " and prints it.\n\n" + kEndpointHelp +
               "\n"
               "Output: the text and a line end (control characters shown as '?').\n"
               "Exit status: 0 when the text came back, 1 when none did (no answer\n"
               "within 100 ms, a refusal, an echo of the request or a send error: the\n"
               "message says which), 2 for a bad command line.\n";
    }
    int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override
    {
        ParsedArgs parsed;
        std::string error;
        if (!parseArgs(args, {}, parsed, error))
            return usageError(err, name(), error);
        int status = kExitOk;
        std::vector<uint8_t> reply;
        if (!askTarget(parsed, name(), buildMessage(request_), reply_, reply, err, status, "no " + what_ + ": "))
            return status;
        MessageHeader header;
        parseHeader(reply.data(), reply.size(), header);
        const std::string text(reinterpret_cast<const char *>(reply.data()) + msg::kHeaderSize, payloadLength(header));
        out << oneLine(text) << std::endl;
        return kExitOk;
    }

private:
    std::string word_;
    std::string what_;
    uint16_t request_;
    uint16_t reply_;
};

class CmdNetVersion : public CmdNetQuery {
public:
    CmdNetVersion() : CmdNetQuery("version", "version text", msg::VersionQuery, msg::VersionReply) {}
};
class CmdNetSource : public CmdNetQuery {
public:
    CmdNetSource() : CmdNetQuery("source", "update source text", msg::SourceQuery, msg::SourceReply) {}
};

} // namespace

VELMORA_CTL_COMMAND(CmdNetVersion);
VELMORA_CTL_COMMAND(CmdNetSource);

} // namespace ctl
