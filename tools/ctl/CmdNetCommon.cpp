#include "tools/ctl/CmdNetCommon.h"

#include "src/Network/AddressText.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/ImageCommandArgs.h"

#include <cstring>

namespace ctl {

const char *const kEndpointHelp =
    "  EP          the target: ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT, for\n"
    "              example fe80::1:1%eth1,19650 (the first column of discover)\n";

std::string formatScopedEndpoint(const NodeAddress &endpoint)
{
    return formatAddress(endpoint.address) + "%" + std::to_string(endpoint.interfaceIndex) + "," +
           std::to_string(endpoint.hostPort());
}

std::string oneLine(const std::string &text)
{
    std::string out = text;
    for (char &c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return out;
}

std::unique_ptr<TargetClient> openClient(const std::string &command, std::ostream &err, int &status,
                                         uint64_t filter, const std::string &name)
{
    std::unique_ptr<TargetClient> client;
    try {
        client = std::make_unique<TargetClient>(filter, name);
    } catch (const TORNE::Err &) {
        status = failure(err, command, "the socket library did not start");
        return nullptr;
    }
    if (!client->open()) {
        status = failure(err, command,
                         "cannot open the client: no IPv6 link-local interface, or the socket cannot be "
                         "bound (error " +
                             std::to_string(client->socket().lastError()) + ")");
        return nullptr;
    }
    return client;
}

bool parseSingleEndpoint(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                         NodeAddress &endpoint, int &status)
{
    if (!expectPositional(parsed, 1, 1, command, err, status))
        return false;
    std::string error;
    if (!parseTargetEndpoint(parsed.positional[0], endpoint, error)) {
        status = usageError(err, command, error);
        return false;
    }
    return true;
}

std::string outcomeText(TransactResult result, const TargetClient &client, uint32_t waitMillis)
{
    switch (result) {
    case TransactResult::Ok: return "ok";
    case TransactResult::Failed:
        return "the request could not be sent or the wait failed (error " +
               std::to_string(const_cast<TargetClient &>(client).socket().lastError()) + ": " +
               std::strerror(const_cast<TargetClient &>(client).socket().lastError()) + ")";
    case TransactResult::Timeout: return "no answer within " + std::to_string(waitMillis) + " ms";
    case TransactResult::Refused: return "the target refused (reply without the OK flag)";
    case TransactResult::Echoed: return "the request came back unanswered (echo)";
    }
    return "unknown outcome";
}

} // namespace ctl
