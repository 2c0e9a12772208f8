#include "tools/ctl/FleetJson.h"

#include "tools/ctl/CmdFleetCommon.h"

#include <cstdio>

namespace ctl {
namespace json {

namespace {

Json textOrNull(const std::string &text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

std::string hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// The endpoint's fields, then what discovery said: the identifier and the
// name, both null when the target did not answer discovery.
Json fleetTarget(const fleet::FleetTarget &target, const std::string &name)
{
    Json j = endpoint(target.address);
    if (target.identifier) {
        j["identifier"] = identifierText(*target.identifier);
        j["name"] = name;
    } else {
        j["identifier"] = nullptr;
        j["name"] = nullptr;
    }
    return j;
}

Json entries(const std::vector<update::UpdateListEntry> &list)
{
    Json j = Json::array();
    for (const update::UpdateListEntry &e : list)
        j.push_back(listEntry(e));
    return j;
}

} // namespace

Json listEntry(const update::UpdateListEntry &entry)
{
    Json j = Json::object();
    j["name"] = update::untilZero(entry.name);
    j["checksum"] = hex4(entry.checksum);
    j["file"] = entry.file;
    return j;
}

Json targetCheck(const fleet::FleetTarget &target, const fleet::CheckResult &result)
{
    Json j = fleetTarget(target, result.name);
    j["version"] = textOrNull(result.version);
    // The text is only known when the target answered the source query.
    j["source"] = result.source == update::SourceState::QueryFailed ? Json(nullptr) : Json(result.sourceText);
    j["baseUrl"] = textOrNull(result.baseUrl);
    j["state"] = checkStateText(result.state);
    j["detail"] = textOrNull(checkDetail(result));
    const bool failed = result.state == fleet::CheckState::Failed;
    j["ok"] = !failed;
    j["error"] = failed ? Json(result.error) : Json(nullptr);
    j["entries"] = entries(result.entries);
    return j;
}

Json driverCheck(const std::string &driverVersion, const fleet::DriverCheck &result)
{
    Json j = Json::object();
    j["driverVersion"] = textOrNull(driverVersion);
    j["baseUrl"] = textOrNull(result.baseUrl);
    j["state"] = checkStateText(result.state);
    j["detail"] = textOrNull(driverCheckDetail(result));
    const bool failed = result.state == fleet::CheckState::Failed;
    j["ok"] = !failed;
    j["error"] = failed ? Json(result.error) : Json(nullptr);
    j["entries"] = entries(result.entries);
    return j;
}

Json targetUpdate(const fleet::FleetTarget &target, const fleet::UpdateResult &result)
{
    Json j = fleetTarget(target, result.name);
    const bool updated = result.state == fleet::UpdateState::Updated;
    j["oldVersion"] = textOrNull(result.oldVersion);
    j["newVersion"] = updated ? textOrNull(result.newVersion) : Json(nullptr);
    j["baseUrl"] = textOrNull(result.baseUrl);
    const bool chosen = !result.entry.file.empty() || !result.entry.name.empty();
    j["entry"] = chosen ? listEntry(result.entry) : Json(nullptr);
    j["result"] = updateResultText(result.state);
    const bool stepped =
        result.state == fleet::UpdateState::Failed || result.state == fleet::UpdateState::Stopped;
    j["step"] = stepped ? textOrNull(result.step) : Json(nullptr);
    j["detail"] = textOrNull(result.detail);
    j["ok"] = updated;
    j["error"] = updated ? Json(nullptr) : textOrNull(updateDetail(result));
    return j;
}

} // namespace json
} // namespace ctl
