#pragma once

#include "src/Network/TargetClient.h"
#include "tools/ctl/Args.h"

#include <memory>
#include <ostream>
#include <string>

// Pieces shared by the network commands of velmora-ctl (interfaces,
// discover, probe, version, source, reboot; the endpoint text also for
// transfer and flash).

namespace ctl {

// "address%index,port", the form discover prints and EP accepts.
std::string formatScopedEndpoint(const NodeAddress &endpoint);
// A text on one output line: TAB, CR, LF and the other C0 controls, DEL, the
// C1 controls and every byte of invalid UTF-8 become '?'.
std::string oneLine(const std::string &text);

// Opens a client (all-ones filter unless given); on failure reports on err
// and returns null with status set to 1.
std::unique_ptr<TargetClient> openClient(const std::string &command, std::ostream &err, int &status,
                                         uint64_t filter = TargetClient::kAllOnes,
                                         const std::string &name = std::string());
// The same without reporting: on failure null, and error says why.
std::unique_ptr<TargetClient> openClient(uint64_t filter, const std::string &name, std::string &error);

// A target endpoint "ADDRESS%IFNAME,PORT" or "ADDRESS%INDEX,PORT": an IPv6
// address, the interface by name or by index, the decimal UDP port. On
// failure, error says what is wrong and endpoint is unchanged.
bool parseTargetEndpoint(const std::string &text, NodeAddress &endpoint, std::string &error);

// Parses the first positional argument as the target endpoint; a bad one is
// a usage error (reported, status set). The caller checks the count.
bool parseEndpointArgument(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                           NodeAddress &endpoint, int &status);

// Parses the one positional EP of a single-target command; reports usage
// errors.
bool parseSingleEndpoint(const ParsedArgs &parsed, const std::string &command, std::ostream &err,
                         NodeAddress &endpoint, int &status);

// The shape of a single-target command after its own options: the one
// positional EP, a client, one transaction (request, then the reply of type
// replyCommand within the transaction time). Returns true with the reply;
// otherwise the usage error or failure (failurePrefix, then what the outcome
// means) is reported and status set.
bool askTarget(const ParsedArgs &parsed, const std::string &command, const std::vector<uint8_t> &request,
               uint16_t replyCommand, std::vector<uint8_t> &reply, std::ostream &err, int &status,
               const std::string &failurePrefix = std::string());

// A target identifier: decimal, or hexadecimal with 0x (up to 16 digits).
bool parseIdentifier(const std::string &text, uint64_t &value);

// What a transaction outcome other than Ok means, for a message.
std::string outcomeText(TransactResult result, const TargetClient &client, uint32_t waitMillis);

// The endpoint help lines.
extern const char *const kEndpointHelp;

} // namespace ctl
