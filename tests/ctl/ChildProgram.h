#pragma once

#include "tests/support/ChildExit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

// velmora-ctl run as a child program, as a user runs it: its standard
// output and error go to files of the test's own (or standard output to a
// pipe the test reads), and the signals a user sends are at their defaults
// in the child, whatever the test runner ignores.
class ChildProgram {
public:
    ~ChildProgram()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (pipeRead_ >= 0)
            ::close(pipeRead_);
        for (const std::string &p : {outPath_, errPath_}) {
            if (!p.empty())
                ::unlink(p.c_str());
        }
    }

    static std::string program()
    {
        const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
        return std::string(dir != nullptr ? dir : ".") + "/velmora-ctl";
    }

    // Starts velmora-ctl with args. With outputToPipe, standard output is
    // a pipe whose end pipeFd() gives.
    bool start(const std::vector<std::string> &args, bool outputToPipe = false)
    {
        outPath_ = tempFile();
        errPath_ = tempFile();
        int pipeFds[2] = {-1, -1};
        if (outputToPipe && ::pipe(pipeFds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (outputToPipe) {
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
            posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_TRUNC, 0600);
        }
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
            sigaddset(&defaults, s);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<std::string> argv = {program()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> cargv;
        for (std::string &a : argv)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        const int r = posix_spawn(&pid_, cargv[0], &actions, &attr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (outputToPipe) {
            ::close(pipeFds[1]);
            pipeRead_ = pipeFds[0];
        }
        if (r != 0)
            pid_ = -1;
        return r == 0;
    }

    int pipeFd() const { return pipeRead_; }
    void closePipe()
    {
        if (pipeRead_ >= 0)
            ::close(pipeRead_);
        pipeRead_ = -1;
    }

    std::string out() const { return read(outPath_); }
    std::string err() const { return read(errPath_); }

    // Waits until cond() holds, at most millis; false if it never did.
    template <typename Cond> static bool waitFor(Cond cond, int millis)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void signal(int s) const
    {
        if (pid_ > 0)
            ::kill(pid_, s);
    }

    // Waits for the end, at most millis (then kills it). Returns the exit
    // status, or -1 when it had to be killed or died of a signal; reports
    // a sanitizer line in its standard error as a failure of the test.
    int wait(int millis)
    {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        bool done = waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, millis);
        if (!done) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        const std::string line = childexit::sanitizerLine(err());
        if (!line.empty())
            ADD_FAILURE() << "velmora-ctl reported: " << line << "\n" << err();
        if (!done) {
            ADD_FAILURE() << "velmora-ctl did not end within " << millis << " ms:\n" << err();
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static std::string tempFile()
    {
        char path[] = "/tmp/velmora-ctl-child.XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd >= 0)
            ::close(fd);
        return path;
    }
    static std::string read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    pid_t pid_ = -1;
    int pipeRead_ = -1;
    std::string outPath_;
    std::string errPath_;
};
