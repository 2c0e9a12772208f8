#include "src/Platform/ParentDeath.h"

namespace platform {

// Windows sends nothing when a parent ends (a job object would have to be
// made by the parent); the programs that call this run on Linux in the
// tests and the demo.
void endWithParent() {}

} // namespace platform
