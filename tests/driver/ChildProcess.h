#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// A program run by the shell in the background, its standard output (and
// error) read through a pipe; stopped with SIGTERM when the object goes.
class ChildProcess {
public:
    explicit ChildProcess(const std::string &command)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            // exec: the shell becomes the program, so the pid is its own.
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Reads output until it holds text, at most timeoutMs.
    bool waitFor(const std::string &text, int timeoutMs)
    {
        return waitForCount(text, 1, timeoutMs);
    }
    // Reads output until text occurs count times, at most timeoutMs.
    bool waitForCount(const std::string &text, size_t count, int timeoutMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t n = 0;
            for (size_t at = 0; (at = output_.find(text, at)) != std::string::npos; at += text.size())
                ++n;
            if (n >= count)
                return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0 || !readSome(static_cast<int>(left)))
                return false;
        }
    }
    const std::string &output()
    {
        while (readSome(0)) {
        }
        return output_;
    }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // SIGTERM and the exit status (-1 when it did not exit normally).
    int stop()
    {
        if (pid_ <= 0)
            return status_;
        kill(pid_, SIGTERM);
        return wait();
    }
    int wait()
    {
        if (pid_ <= 0)
            return status_;
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        output();
        if (out_ >= 0)
            close(out_);
        out_ = -1;
        return status_;
    }

private:
    bool readSome(int timeoutMs)
    {
        if (out_ < 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string output_;
};
