#pragma once

// A stop request from outside for a command that runs until it is told to
// end (velmora-ctl log and monitor): Ctrl-C, SIGTERM and SIGHUP on POSIX
// systems, the console's Ctrl-C, Ctrl-Break and close events on Windows.
// While a StopRequest exists these no longer end the process; they set the
// flag, the command sees it within its next short wait and cleans up. The
// destructor puts back what was there before.
//
// On POSIX systems SIGPIPE is ignored meanwhile, so that a reader that goes
// away (velmora-ctl monitor | head) shows as a failed write, which ends the
// command through its clean-up too. On Windows a closing console waits for
// the destructor (at most a few seconds, the time Windows gives).
//
// One at a time per process; the flag is process-wide, as signals are.
namespace platform {

class StopRequest {
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest &) = delete;
    StopRequest &operator=(const StopRequest &) = delete;

    bool requested() const;
    // What asked: "SIGINT", "SIGTERM", "SIGHUP", "Ctrl-C", ...; empty when
    // nothing did.
    const char *what() const;
};

} // namespace platform
