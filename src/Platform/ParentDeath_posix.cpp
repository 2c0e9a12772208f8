#include "src/Platform/ParentDeath.h"

#include <csignal>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace platform {

void endWithParent()
{
#ifdef __linux__
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_IGN)
        return;
    const pid_t parent = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        return;
    // The parent may have ended between the two calls: then the request
    // never fires, and this process has a new parent already.
    if (getppid() != parent)
        raise(SIGTERM);
#endif
}

} // namespace platform
