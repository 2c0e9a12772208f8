#pragma once

// The long-running helper programs (the target emulator, the stand-in
// driver's debug output, velmora-ctl's image commands) end with the program
// that started them. A script or test that is killed with SIGKILL cannot
// stop its children itself; without this they would run on, holding their
// ports, files and network namespaces.
namespace platform {

// Asks the system to send SIGTERM to this process when its parent ends;
// call it once the SIGTERM handler is in place. When the parent ended just
// before the request took hold, SIGTERM follows at once. A process started
// with SIGHUP ignored (nohup and the like) was asked to outlive its
// session: for it nothing changes. Nothing changes either where the system
// has no such request (Windows).
void endWithParent();

} // namespace platform
