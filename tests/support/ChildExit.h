#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Stopping a child program a test started: SIGTERM, a bounded wait, SIGKILL
// after it. The child must have exited by itself with status 0, and its
// output must hold no sanitizer report: otherwise the running test fails,
// so a crashed or leaking emulator cannot pass for a silent one.
namespace childexit {

// The lines of a sanitizer report or of UBSan's "runtime error".
inline std::string sanitizerLine(const std::string &output)
{
    for (const char *mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                             "WARNING: AddressSanitizer", "SUMMARY: UndefinedBehaviorSanitizer"}) {
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

// Stops pid (TERM, up to waitMillis, then KILL) and checks how it ended.
// output() is called after the child has gone, for its whole output.
template <typename Output>
void stopChecked(pid_t pid, const std::string &what, Output output, int waitMillis = 5000)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    bool killed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMillis);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::string text = output();
    if (killed)
        ADD_FAILURE() << what << " did not stop within " << waitMillis << " ms of SIGTERM:\n" << text;
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << what << " did not exit cleanly after SIGTERM ("
                      << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                              : "status " + std::to_string(WEXITSTATUS(status)))
                      << "):\n"
                      << text;
    const std::string line = sanitizerLine(text);
    if (!line.empty())
        ADD_FAILURE() << what << " reported: " << line << "\n" << text;
}

} // namespace childexit
