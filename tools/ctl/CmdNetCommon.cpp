#include "tools/ctl/CmdNetCommon.h"

#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"
#include "tools/ctl/Command.h"

#include <cstdlib>
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
    // Texts come from targets: whatever a terminal or a script reading the
    // output could take as a line break, a field separator or a control
    // sequence becomes '?', and so does each byte that is not part of a
    // well-formed UTF-8 sequence (overlong forms, surrogates and values
    // beyond U+10FFFF included).
    std::string out;
    out.reserve(text.size());
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out += (c < 0x20 || c == 0x7f) ? '?' : char(c);
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t code = 0;
        uint32_t lowest = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2, code = c & 0x1f, lowest = 0x80;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3, code = c & 0x0f, lowest = 0x800;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4, code = c & 0x07, lowest = 0x10000;
        }
        bool valid = length != 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((p[i + k] & 0xc0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (p[i + k] & 0x3f);
        }
        valid = valid && code >= lowest && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        // C1 control characters (U+0080 to U+009F) act like escapes too.
        if (code <= 0x9f)
            out += '?';
        else
            out.append(text, i, length);
        i += length;
    }
    return out;
}

std::unique_ptr<TargetClient> openClient(uint64_t filter, const std::string &name, std::string &error)
{
    std::unique_ptr<TargetClient> client;
    try {
        client = std::make_unique<TargetClient>(filter, name);
    } catch (const TORNE::Err &) {
        error = "the socket library did not start";
        return nullptr;
    }
    if (!client->open()) {
        error =
            "cannot open the client: no IPv6 link-local interface, or the socket cannot be bound (error " +
            std::to_string(client->socket().lastError()) + ")";
        return nullptr;
    }
    return client;
}

std::unique_ptr<TargetClient> openClient(const std::string &command, std::ostream &err, int &status,
                                         uint64_t filter, const std::string &name)
{
    std::string error;
    auto client = openClient(filter, name, error);
    if (!client)
        status = failure(err, command, error);
    return client;
}

bool parseTargetEndpoint(const std::string &text, NodeAddress &endpoint, std::string &error)
{
    const size_t comma = text.rfind(',');
    if (comma == std::string::npos) {
        error = "endpoint \"" + text + "\" has no port: give ADDRESS%IFNAME,PORT or ADDRESS%INDEX,PORT";
        return false;
    }
    uint64_t port = 0;
    if (!parseUnsigned(text.substr(comma + 1), 65535, port) || port == 0) {
        error = "bad port in \"" + text + "\": a decimal number 1..65535";
        return false;
    }
    const std::string host = text.substr(0, comma);
    const size_t percent = host.find('%');
    NodeAddress result;
    if (!parseAddress(host.substr(0, percent), result.address)) {
        error = "bad IPv6 address in \"" + text + "\"";
        return false;
    }
    const bool linkLocal = result.address[0] == 0xfe && (result.address[1] & 0xc0) == 0x80;
    if (percent == std::string::npos) {
        if (linkLocal) {
            error = "the link-local address in \"" + text +
                    "\" needs its interface: ADDRESS%IFNAME or ADDRESS%INDEX";
            return false;
        }
    } else {
        const std::string scope = host.substr(percent + 1);
        uint64_t index = 0;
        if (parseUnsigned(scope, 65535, index) && index != 0) {
            result.interfaceIndex = uint16_t(index);
        } else {
            InterfaceMap interfaces;
            listAdapterAddresses(interfaces);
            for (const auto &entry : interfaces) {
                if (entry.second.friendlyName == scope && entry.first.interfaceIndex != 0)
                    result.interfaceIndex = entry.first.interfaceIndex;
            }
            if (result.interfaceIndex == 0) {
                error = "no interface \"" + scope + "\" with an IPv6 address (give its name or index)";
                return false;
            }
        }
    }
    result.setHostPort(uint16_t(port));
    endpoint = result;
    return true;
}

bool parseEndpointArgument(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                           NodeAddress &endpoint, int &status)
{
    std::string error;
    if (!parseTargetEndpoint(parsed.positional[0], endpoint, error)) {
        status = usageError(err, command, error);
        return false;
    }
    return true;
}

bool parseSingleEndpoint(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                         NodeAddress &endpoint, int &status)
{
    return expectPositional(parsed, 1, 1, command, err, status) &&
           parseEndpointArgument(parsed, command, err, endpoint, status);
}

bool askTarget(const ParsedArgs &parsed, const std::string &command, const std::vector<uint8_t> &request,
               uint16_t replyCommand, std::vector<uint8_t> &reply, std::ostream &err, int &status,
               const std::string &failurePrefix)
{
    NodeAddress ep;
    if (!parseSingleEndpoint(parsed, command, err, ep, status))
        return false;
    auto client = openClient(command, err, status);
    if (!client)
        return false;
    const TransactResult r = client->transact(ep, request, replyCommand, reply);
    if (r != TransactResult::Ok) {
        status = failure(err, command, failurePrefix + outcomeText(r, *client, TargetClient::kTransactMicros / 1000));
        return false;
    }
    return true;
}

bool parseIdentifier(const std::string &text, uint64_t &value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string digits = text.substr(2);
        if (digits.empty() || digits.size() > 16 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        value = std::strtoull(digits.c_str(), nullptr, 16);
        return true;
    }
    return parseUnsigned(text, ~uint64_t(0), value);
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
