#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// How a child program a test started must end: by itself or after SIGTERM
// within a bounded time (SIGKILL after it), with the status the test wants,
// and with no sanitizer report in its output. A sanitizer report exits with
// 86 in the test environment, so a child expected to fail with 1 cannot pass
// with a leak or heap error on that path. tests/support/ChildProcess.h runs
// the children; these are its rules.
namespace childexit {

// The sanitizers' exit status in the test environment (cmake/VelmoraModule.cmake).
constexpr int kSanitizerStatus = 86;

// The first line of a sanitizer report or of UBSan's "runtime error".
inline std::string sanitizerLine(const std::string &output)
{
    for (const char *mark :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:", "WARNING: AddressSanitizer",
          "SUMMARY: UndefinedBehaviorSanitizer", "AddressSanitizer:DEADLYSIGNAL"}) {
        const size_t at = output.find(mark);
        if (at != std::string::npos) {
            const size_t begin = output.rfind('\n', at);
            const size_t end = output.find('\n', at);
            return output.substr(begin == std::string::npos ? 0 : begin + 1,
                                 end == std::string::npos ? std::string::npos : end - begin - 1);
        }
    }
    return {};
}

// "status 3", "signal 9", as waitpid reported it.
inline std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const char *name = strsignal(WTERMSIG(status));
        return "signal " + std::to_string(WTERMSIG(status)) + (name ? std::string(" (") + name + ")" : "");
    }
    return "raw wait status " + std::to_string(status);
}

enum class Reap { Ended, Running, NotAChild };

// Waits up to millis for pid to end (its wait status in status). millis 0
// only looks. meanwhile (if given) runs between looks, e.g. to empty a pipe
// the child writes to, so that a full pipe cannot hold it up.
inline Reap reapWithin(pid_t pid, int millis, int &status, const std::function<void()> &meanwhile = {})
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
        if (meanwhile)
            meanwhile();
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return Reap::Ended;
        if (r < 0 && errno != EINTR)
            return Reap::NotAChild; // reaped before: the pid may be another process's now
        if (std::chrono::steady_clock::now() >= deadline)
            return Reap::Running;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// SIGTERM, up to waitMillis for the end, then SIGKILL (and up to 5 s more,
// never an unbounded wait). killed tells whether SIGKILL was needed. False
// when there was no child to stop or it could not be reaped. meanwhile as
// for reapWithin.
inline bool boundedStop(pid_t pid, int waitMillis, int &status, bool &killed,
                        const std::function<void()> &meanwhile = {})
{
    killed = false;
    Reap r = reapWithin(pid, 0, status, meanwhile);
    if (r != Reap::Running)
        return r == Reap::Ended;
    ::kill(pid, SIGTERM);
    r = reapWithin(pid, waitMillis, status, meanwhile);
    if (r != Reap::Running)
        return r == Reap::Ended;
    killed = true;
    ::kill(pid, SIGKILL);
    return reapWithin(pid, 5000, status, meanwhile) == Reap::Ended;
}

// Stops a child started elsewhere by its pid and checks how it ended: it
// must stop within waitMillis of SIGTERM with status 0 and print no
// sanitizer line. output() is called after the child has gone, for its
// whole output.
template <typename Output>
void stopChecked(pid_t pid, const std::string &what, Output output, int waitMillis = 5000)
{
    if (pid <= 0)
        return;
    int status = 0;
    bool killed = false;
    const bool reaped = boundedStop(pid, waitMillis, status, killed);
    const std::string text = output();
    if (!reaped)
        ADD_FAILURE() << what << " (pid " << pid
                      << ") is no child of this test, or did not end even after SIGKILL:\n"
                      << text;
    else if (killed)
        ADD_FAILURE() << what << " did not stop within " << waitMillis << " ms of SIGTERM:\n" << text;
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << what << " did not exit cleanly after SIGTERM (" << describeStatus(status) << "):\n"
                      << text;
    const std::string line = sanitizerLine(text);
    if (!line.empty())
        ADD_FAILURE() << what << " reported: " << line << "\n" << text;
}

} // namespace childexit
