#include "src/Platform/StopRequest.h"

#include <windows.h>

namespace platform {

namespace {

// The console's handler runs on a thread of its own.
volatile LONG stopEvent = -1;
volatile LONG cleanedUp = 0;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    InterlockedExchange(&stopEvent, static_cast<LONG>(event));
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process when this returns: give the command the
        // time to clean up first (Windows allows about five seconds).
        for (int i = 0; i < 450 && InterlockedCompareExchange(&cleanedUp, 0, 0) == 0; ++i)
            Sleep(10);
    }
    return TRUE;
}

} // namespace

StopRequest::StopRequest()
{
    InterlockedExchange(&stopEvent, -1);
    InterlockedExchange(&cleanedUp, 0);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopRequest::~StopRequest()
{
    InterlockedExchange(&cleanedUp, 1);
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool StopRequest::requested() const
{
    return InterlockedCompareExchange(&stopEvent, -1, -1) != -1;
}

const char *StopRequest::what() const
{
    switch (InterlockedCompareExchange(&stopEvent, -1, -1)) {
    case -1:
        return "";
    case CTRL_C_EVENT:
        return "Ctrl-C";
    case CTRL_BREAK_EVENT:
        return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
        return "the console closing";
    default:
        return "the session ending";
    }
}

} // namespace platform
