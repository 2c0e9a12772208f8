#include "src/Platform/StopRequest.h"

#include <csignal>

namespace platform {

namespace {

// Signal handlers can only reach static storage.
volatile std::sig_atomic_t stopSignal = 0;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];
struct sigaction previousPipe;

extern "C" void onStopSignal(int signal)
{
    stopSignal = signal;
}

} // namespace

StopRequest::StopRequest()
{
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait in progress ends at once.
    action.sa_flags = 0;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previousPipe);
}

StopRequest::~StopRequest()
{
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
}

bool StopRequest::requested() const
{
    return stopSignal != 0;
}

const char *StopRequest::what() const
{
    switch (stopSignal) {
    case 0:
        return "";
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace platform
