#pragma once

#include <cstdint>

namespace debugtext {

// Milliseconds since local midnight now (the system clock in the local
// time zone), for the time stamps of logged lines.
int64_t localMillisOfDay();

} // namespace debugtext
