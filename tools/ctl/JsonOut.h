#pragma once

#include "src/Network/Socket/NodeAddress.h"
#include "src/Network/TargetClient.h"
#include "tools/ctl/Args.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ostream>
#include <string>

// The machine-readable output of velmora-ctl (--json): one JSON document per
// run on standard output, in the schema that docs/ctl-json.md describes.
// A command builds its document from the pieces below and writes it with
// write(); messages still go to standard error, and the exit status is the
// same as without --json.
//
//   json::Json doc = json::document("discover");
//   doc["targets"] = json::Json::array();
//   doc["targets"].push_back(json::target(address, info));
//   if (!ok) json::setFailure(doc, "the search failed");
//   json::write(out, doc);

// The option's help lines, a literal so that it joins a command's help text.
#define VELMORA_CTL_JSON_HELP                                                                                \
    "  --json       one JSON document on standard output in place of the lines,\n"                           \
    "               also when the command fails (exit status 1); ctl-json.md,\n"                             \
    "               installed beside velmora-ctl's README, describes its fields\n"

namespace ctl {
namespace json {

// Fields keep the order in which they are set, so every document reads in
// the documented order.
using Json = nlohmann::ordered_json;

// Raised only when a field is removed or changes its type or meaning; new
// fields may appear without a change.
constexpr int kSchemaVersion = 1;

// The option, for a command's option list.
extern const OptionSpec kOption;

// The start of every document: schemaVersion, command, ok (true), error
// (null). A command adds its own fields after these.
Json document(const std::string &command);
// ok false and error the message (the text also shown on standard error,
// without the "velmora-ctl COMMAND: " in front).
void setFailure(Json &doc, const std::string &message);

// A 64-bit identifier as 16 lower-case hexadecimal digits, the form of the
// text output (a JSON number loses digits above 2^53 in many readers).
std::string identifierText(uint64_t identifier);
// A target's endpoint: endpoint (ADDRESS%INDEX,PORT, the EP other commands
// take), address, interfaceIndex, port.
Json endpoint(const NodeAddress &address);
// One discovered target: the endpoint's fields, identifier, name.
Json target(const NodeAddress &address, const TargetInfo &info);
// One link-local interface: address, interfaceIndex, scopedAddress,
// friendlyName, description.
Json interfaceEntry(const NodeAddress &address, const InterfaceInfo &info);

// Writes doc and a line break. Texts go in as the targets and the system
// sent them: the output is plain ASCII (every other character as a \u
// escape, control characters included), and each byte of invalid UTF-8
// becomes U+FFFD, so a hostile name can neither break the document nor
// make the writer throw.
void write(std::ostream &out, const Json &doc);

} // namespace json
} // namespace ctl
