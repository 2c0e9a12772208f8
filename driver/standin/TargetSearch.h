#pragma once

#include "driver/DriverFinder.h"

#include <cstdint>
#include <string>
#include <vector>

// The stand-in driver's target search, with the project's own target
// client: discovery over the host's link-local interfaces (only interface
// interfaceNumber when it is not 0), plus a search at each extra address.
// Targets whose identifier does not pass identifierFilter (the rule of
// discovery) are left out. Each target found is put into result under the
// address it answered from, with its name and its position ("po", 1, 2, ...)
// among the command ports found at the same address and interface, in port
// order. False when the search could not run at all (no client socket, a
// failed wait); what was found until then stays in result.
bool searchTargets(FoundTargetMap &result, const std::vector<NodeAddress> &addresses, uint32_t interfaceNumber,
                   uint64_t identifierFilter, const std::string &clientName);

// Gives every entry of result its po number (see above).
void numberOutputs(FoundTargetMap &result);
