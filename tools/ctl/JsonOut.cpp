#include "tools/ctl/JsonOut.h"

#include "src/Network/AddressText.h"
#include "tools/ctl/CmdNetCommon.h"

#include <cstdio>

namespace ctl {
namespace json {

const OptionSpec kOption{"--json", false};
Json document(const std::string &command)
{
    Json doc = Json::object();
    doc["schemaVersion"] = kSchemaVersion;
    doc["command"] = command;
    doc["ok"] = true;
    doc["error"] = nullptr;
    return doc;
}

void setFailure(Json &doc, const std::string &message)
{
    doc["ok"] = false;
    doc["error"] = message;
}

std::string identifierText(uint64_t identifier)
{
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(identifier));
    return text;
}

Json endpoint(const NodeAddress &address)
{
    Json j = Json::object();
    j["endpoint"] = formatScopedEndpoint(address);
    j["address"] = formatAddress(address.address);
    j["interfaceIndex"] = address.interfaceIndex;
    j["port"] = address.hostPort();
    return j;
}

Json target(const NodeAddress &address, const TargetInfo &info)
{
    Json j = endpoint(address);
    j["identifier"] = identifierText(info.identifier);
    j["name"] = info.name;
    return j;
}

Json interfaceEntry(const NodeAddress &address, const InterfaceInfo &info)
{
    Json j = Json::object();
    j["address"] = formatAddress(address.address);
    j["interfaceIndex"] = address.interfaceIndex;
    j["scopedAddress"] = formatAddress(address.address) + "%" + std::to_string(address.interfaceIndex);
    j["friendlyName"] = info.friendlyName;
    j["description"] = info.description;
    return j;
}

void write(std::ostream &out, const Json &doc)
{
    out << doc.dump(2, ' ', true, Json::error_handler_t::replace) << '\n';
}

} // namespace json
} // namespace ctl
