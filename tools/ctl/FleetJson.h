#pragma once

#include "tools/ctl/JsonOut.h"
#include "update/fleet/Fleet.h"

#include <string>

// The objects of the updates and update documents (--json), built from the
// plain results of the fleet jobs; docs/ctl-json.md describes them. Texts
// that the lines show as "-" when unknown are null here.

namespace ctl {
namespace json {

// One list entry: name, checksum (four lower-case hex digits), file.
Json listEntry(const update::UpdateListEntry &entry);
// One target of updates: the endpoint's fields, identifier, name, version,
// source, baseUrl, state, detail, ok, error, entries.
Json targetCheck(const fleet::FleetTarget &target, const fleet::CheckResult &result);
// The driver update host of updates --driver: driverVersion, baseUrl,
// state, detail, ok, error, entries.
Json driverCheck(const std::string &driverVersion, const fleet::DriverCheck &result);
// One target of update: the endpoint's fields, identifier, name,
// oldVersion, newVersion, baseUrl, entry, result, step, detail, ok, error.
Json targetUpdate(const fleet::FleetTarget &target, const fleet::UpdateResult &result);

} // namespace json
} // namespace ctl
