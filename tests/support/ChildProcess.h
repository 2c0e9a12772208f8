#pragma once

#include "tests/support/ChildExit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

// Every program a test starts runs as a ChildProcess:
// - its standard output and error go to a fresh log file of its own (never
//   one shared with an earlier child, so a readiness line is this child's),
//   or standard output to a pipe the test reads as the output comes and can
//   close (a reader that goes away), standard error then to the log;
// - it dies with the test program (parent-death signal SIGKILL), its
//   standard input is /dev/null, its signals start at their defaults;
// - every wait is bounded: wait() kills a child that does not end in time,
//   stop() sends SIGTERM, waits, then SIGKILL;
// - how it ended is checked: a child that had to be killed, died of a
//   signal, ended with the sanitizers' status or printed a sanitizer or
//   "runtime error" line (in what the test read from a pipe, or in a log)
//   fails the running test, and stop() (also run by the destructor) wants
//   status 0 after SIGTERM.
// Start and stop children on one thread: the parent-death signal follows
// the thread that started the child.

namespace testchild {

// The children's logs: a folder of this test program's own, named with its
// process id (a later start of the test network's scripts removes the
// folder of a run that was killed), removed when the program ends.
class LogFolder {
public:
    static LogFolder &instance()
    {
        static LogFolder folder;
        return folder;
    }
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }
    // A new empty file for a child called stem; -1 with error() on failure.
    int create(const std::string &stem, std::string &path)
    {
        if (path_.empty())
            return -1;
        for (int tries = 0; tries < 1000; ++tries) {
            path = path_ + "/" + stem + "-" + std::to_string(++count_) + ".log";
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0 || errno != EEXIST) {
                if (fd < 0)
                    error_ = "cannot create " + path + ": " + std::strerror(errno);
                return fd;
            }
        }
        error_ = "no free log name in " + path_;
        return -1;
    }

    LogFolder(const LogFolder &) = delete;
    LogFolder &operator=(const LogFolder &) = delete;

private:
    LogFolder()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                              "/velmora-test.pid" + std::to_string(::getpid()) + ".XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) != nullptr)
            path_ = buffer.data();
        else
            error_ =
                "cannot create a folder for the children's logs (" + pattern + "): " + std::strerror(errno);
    }
    ~LogFolder()
    {
        // Not in a forked copy of the test program.
        if (!path_.empty() && owner_ == ::getpid()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }

    pid_t owner_ = ::getpid();
    std::string path_;
    std::string error_;
    int count_ = 0;
};

struct ChildOptions {
    std::vector<std::string> setEnv;   // NAME=VALUE, replacing NAME
    std::vector<std::string> unsetEnv; // NAMEs removed
    std::string directory;             // working directory (default: the test's)
    bool separateErrors = false;       // standard error into a log of its own: errors()
    std::string name;                  // for messages (default: the program's file name)
    // Standard output into a pipe that output() reads as the output comes
    // and closeOutput() closes; standard error then goes to the log
    // (errors()). Only output() and the waits for the end (wait(), stop(),
    // the destructor) read the pipe: a child that writes much cannot stall
    // the end, and a test that reads nothing meanwhile plays a slow reader.
    bool outputToPipe = false;
    int stopTimeoutMs = 5000; // how long the destructor's stop() waits after SIGTERM
};

// A program of the build's program directory (VELMORA_PROGRAM_DIR, which
// CTest sets for every test; the working directory when it is unset) and its
// arguments, as the argv of a ChildProcess.
inline std::vector<std::string> builtProgram(const std::string &name,
                                             const std::vector<std::string> &args = {})
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    std::vector<std::string> argv{std::string(dir != nullptr && *dir != '\0' ? dir : ".") + "/" + name};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

namespace detail {

inline std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The program a shell command line runs, for messages: the first word that
// is no variable, assignment or "env".
inline std::string programOf(const std::string &command)
{
    size_t at = 0;
    while (at < command.size()) {
        while (at < command.size() && command[at] == ' ')
            ++at;
        size_t end = at;
        const char quote = command[at] == '\'' || command[at] == '"' ? command[at] : '\0';
        if (quote != '\0') {
            end = command.find(quote, at + 1);
            end = end == std::string::npos ? command.size() : end + 1;
        } else {
            while (end < command.size() && command[end] != ' ')
                ++end;
        }
        std::string word = command.substr(at, end - at);
        if (quote != '\0' && word.size() >= 2)
            word = word.substr(1, word.size() - 2);
        at = end;
        if (word.empty() || word[0] == '$' || word == "env" || word.find('=') != std::string::npos)
            continue;
        return baseName(word);
    }
    return "child";
}

inline std::string readFrom(int fd, std::string &seen)
{
    if (fd < 0)
        return seen;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(seen.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        seen.append(buffer, static_cast<size_t>(n));
    }
    return seen;
}

// Appends what a pipe (its read end without blocking) holds now to seen.
inline void drainPipe(int fd, std::string &seen)
{
    if (fd < 0)
        return;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // empty for now (EAGAIN) or no writer left
        seen.append(buffer, static_cast<size_t>(n));
    }
}

// In the child between fork and exec: only async-signal-safe calls.
inline void prepareChild(pid_t parent, int in, int out, int err, const char *directory)
{
    // Dies with the test program, also when that is killed with SIGKILL.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    // A shell that started the test in the background ignores SIGINT and
    // SIGQUIT, and exec keeps that: the child starts with every signal at
    // its default and none blocked.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    for (int s = 1; s < 32; ++s) {
        if (s != SIGKILL && s != SIGSTOP)
            ::sigaction(s, &sa, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // No descriptor of the test (sockets, pipes) leaks into the child.
    ::close_range(3, ~0U, 0);
    if (directory != nullptr && ::chdir(directory) != 0) {
        static const char message[] = "cannot change to the working directory\n";
        (void)!::write(2, message, sizeof message - 1);
        ::_exit(127);
    }
}

} // namespace detail

class ChildProcess {
public:
    // A shell command line, run by /bin/sh as "exec COMMAND": the process is
    // the program itself, and prefixes such as $VELMORA_NS_T1 and quoting
    // work as in a script. Only a simple command fits.
    explicit ChildProcess(const std::string &command, const ChildOptions &options = {})
    {
        name_ = options.name.empty() ? detail::programOf(command) : options.name;
        stopTimeoutMs_ = options.stopTimeoutMs;
        start("/bin/sh", {"sh", "-c", "exec " + command}, options);
    }
    // A program and its arguments, no shell. argv[0] without a slash is
    // looked up on PATH (the child's PATH when options set one).
    explicit ChildProcess(const std::vector<std::string> &argv, const ChildOptions &options = {})
    {
        name_ = options.name.empty() ? (argv.empty() ? "child" : detail::baseName(argv[0])) : options.name;
        stopTimeoutMs_ = options.stopTimeoutMs;
        if (argv.empty()) {
            startError_ = "no program given";
            return;
        }
        start(argv[0], argv, options);
    }
    ~ChildProcess()
    {
        // Never left running, and never unchecked.
        if (pid_ > 0 && !endChecked_)
            stop(stopTimeoutMs_);
        for (int fd : {outFd_, errFd_, pipeFd_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // False when the program could not be started; startError() says why
    // (a program that cannot be executed starts and ends with status 127).
    bool started() const { return pid_ > 0; }
    const std::string &startError() const { return startError_; }
    const std::string &name() const { return name_; }
    pid_t pid() const { return pid_; }
    // The log file: standard output's (with standard error unless
    // separate), or standard error's when standard output is a pipe.
    const std::string &logPath() const { return outPath_.empty() ? errPath_ : outPath_; }

    // Everything it wrote so far: standard output (and error unless
    // separate; from a pipe, all the test has read of it), and standard
    // error alone.
    std::string output()
    {
        if (piped_) {
            detail::drainPipe(pipeFd_, out_);
            return out_;
        }
        return detail::readFrom(outFd_, out_);
    }
    std::string errors() { return detail::readFrom(errFd_, err_); }

    // Closes the test's end of the output pipe, as a reader that goes away
    // does: the child's next write meets a closed pipe (SIGPIPE, or EPIPE
    // when it ignores that). What the pipe held until then is read first
    // and stays in output().
    void closeOutput()
    {
        if (pipeFd_ < 0)
            return;
        detail::drainPipe(pipeFd_, out_);
        ::close(pipeFd_);
        pipeFd_ = -1;
    }

    // Sends signal s while the child runs; false (nothing sent) once it has
    // ended, so a reaped child's pid, which may be another process's now,
    // is never signalled.
    bool signal(int s)
    {
        if (!running())
            return false;
        return ::kill(pid_, s) == 0;
    }

    // Until the output holds text count times, at most timeoutMs; false
    // at once when the child ended without it.
    bool waitFor(const std::string &text, int timeoutMs) { return waitForCount(text, 1, timeoutMs); }
    bool waitForCount(const std::string &text, size_t count, int timeoutMs)
    {
        return waitUntil([&] { return occurrences(output(), text) >= count; }, timeoutMs);
    }
    // Until the output holds line as a whole line.
    bool waitForLine(const std::string &line, int timeoutMs)
    {
        return waitUntil([&] { return ("\n" + output()).find("\n" + line + "\n") != std::string::npos; },
                         timeoutMs);
    }

    // Until done() holds, at most timeoutMs (an absolute deadline); false
    // at once when the child ended without it (done() is asked once more
    // after the end).
    template <typename Done> bool waitUntil(Done done, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (done())
                return true;
            if (!running())
                return done();
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }

    // Still running (an ended child is reaped and its status kept).
    bool running()
    {
        if (pid_ <= 0 || reaped_)
            return false;
        if (childexit::reapWithin(pid_, 0, status_) == childexit::Reap::Running)
            return true;
        reaped_ = true;
        return false;
    }

    // Waits for the child to end by itself, at most timeoutMs (then kills
    // it and fails the test). Returns its exit status, -1 when it did not
    // exit normally. Fails the test for a signal, the sanitizers' status or
    // a sanitizer line.
    int wait(int timeoutMs = 60000)
    {
        if (pid_ <= 0)
            return -1;
        if (!reaped_) {
            const childexit::Reap r = childexit::reapWithin(pid_, timeoutMs, status_, drainMeanwhile());
            if (r == childexit::Reap::Running) {
                ::kill(pid_, SIGKILL);
                reaped_ = childexit::reapWithin(pid_, 5000, status_) == childexit::Reap::Ended;
                endChecked_ = true;
                ADD_FAILURE() << name_ << " did not end within " << timeoutMs << " ms and was killed:\n"
                              << all();
                return -1;
            }
            reaped_ = r == childexit::Reap::Ended;
        }
        checkEnd(false);
        return exitStatus();
    }

    // SIGTERM, up to timeoutMs for the end, then SIGKILL. Returns the exit
    // status (-1 when it did not exit normally). Fails the test unless the
    // child ended with status 0 within the time, without a sanitizer line.
    int stop(int timeoutMs = 5000)
    {
        if (pid_ <= 0)
            return -1;
        const bool byItself = reaped_ || !running();
        if (!reaped_) {
            bool killed = false;
            reaped_ = childexit::boundedStop(pid_, timeoutMs, status_, killed, drainMeanwhile());
            if (!reaped_ || killed) {
                endChecked_ = stopChecked_ = true;
                if (!reaped_)
                    ADD_FAILURE() << name_ << " (pid " << pid_ << ") did not end even after SIGKILL:\n"
                                  << all();
                else
                    ADD_FAILURE() << name_ << " did not stop within " << timeoutMs << " ms of SIGTERM:\n"
                                  << all();
                return -1;
            }
        }
        if (!stopChecked_) {
            stopChecked_ = true;
            if (!WIFEXITED(status_) || WEXITSTATUS(status_) != 0)
                ADD_FAILURE() << name_ << " did not exit cleanly "
                              << (byItself ? "(it ended by itself, " : "after SIGTERM (")
                              << childexit::describeStatus(status_) << "):\n"
                              << all();
            checkEnd(true);
        }
        return exitStatus();
    }

    // Ends it with SIGKILL, as a killed run would end (a test of what
    // outlives it). Only the sanitizer check applies. False when it could
    // not be reaped.
    bool kill()
    {
        if (pid_ <= 0)
            return false;
        if (!reaped_) {
            ::kill(pid_, SIGKILL);
            reaped_ = childexit::reapWithin(pid_, 5000, status_) == childexit::Reap::Ended;
        }
        stopChecked_ = true;
        checkEnd(true);
        return reaped_;
    }

    // "status 1", "signal 9 (Killed)"; "running" before the end.
    std::string howItEnded() const { return reaped_ ? childexit::describeStatus(status_) : "running"; }

private:
    static size_t occurrences(const std::string &text, const std::string &part)
    {
        size_t n = 0;
        for (size_t at = 0; !part.empty() && (at = text.find(part, at)) != std::string::npos;
             at += part.size())
            ++n;
        return n;
    }

    // Empties the output pipe into output() while a wait for the end runs.
    std::function<void()> drainMeanwhile()
    {
        if (pipeFd_ < 0)
            return {};
        return [this] { detail::drainPipe(pipeFd_, out_); };
    }

    std::string all()
    {
        std::string text = output();
        if (errFd_ >= 0)
            text += (text.empty() || text.back() == '\n' ? "" : "\n") + std::string("(standard error)\n") +
                    errors();
        return text;
    }

    int exitStatus() const { return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

    // The checks of every end; once per child.
    void checkEnd(bool afterStop)
    {
        if (endChecked_ || !reaped_)
            return;
        endChecked_ = true;
        const std::string text = all();
        const std::string line = childexit::sanitizerLine(text);
        if (!line.empty())
            ADD_FAILURE() << name_ << " reported: " << line << "\n" << text;
        else if (WIFEXITED(status_) && WEXITSTATUS(status_) == childexit::kSanitizerStatus)
            ADD_FAILURE() << name_ << " ended with status " << childexit::kSanitizerStatus
                          << ", the sanitizers' status:\n"
                          << text;
        if (!afterStop && WIFSIGNALED(status_))
            ADD_FAILURE() << name_ << " died of " << childexit::describeStatus(status_) << ":\n" << text;
    }

    static std::string lookUp(const std::string &program, const std::vector<std::string> &env)
    {
        if (program.find('/') != std::string::npos)
            return program;
        std::string path = "/usr/local/bin:/usr/bin:/bin";
        for (const auto &e : env) {
            if (e.rfind("PATH=", 0) == 0)
                path = e.substr(5);
        }
        size_t at = 0;
        for (;;) {
            const size_t colon = path.find(':', at);
            std::string dir = path.substr(at, colon == std::string::npos ? std::string::npos : colon - at);
            if (dir.empty())
                dir = ".";
            const std::string candidate = dir + "/" + program;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            if (colon == std::string::npos)
                return {};
            at = colon + 1;
        }
    }

    void start(const std::string &program, const std::vector<std::string> &argv, const ChildOptions &options)
    {
        std::vector<std::string> env;
        for (char **e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string key = entry.substr(0, entry.find('='));
            bool drop = false;
            for (const auto &name : options.unsetEnv)
                drop = drop || key == name;
            for (const auto &set : options.setEnv)
                drop = drop || key == set.substr(0, set.find('='));
            if (!drop)
                env.push_back(entry);
        }
        env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
        const std::string path = lookUp(program, env);
        if (path.empty()) {
            startError_ = program + " is not on PATH";
            return;
        }
        LogFolder &folder = LogFolder::instance();
        int out = -1; // what becomes the child's standard output
        if (options.outputToPipe) {
            piped_ = true;
            errFd_ = folder.create(name_ + "-stderr", errPath_);
            if (errFd_ < 0) {
                startError_ = folder.error();
                return;
            }
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) {
                startError_ = std::string("cannot make a pipe: ") + std::strerror(errno);
                return;
            }
            pipeFd_ = ends[0];
            out = ends[1];
            ::fcntl(pipeFd_, F_SETFL, ::fcntl(pipeFd_, F_GETFL) | O_NONBLOCK);
        } else {
            outFd_ = folder.create(name_, outPath_);
            if (outFd_ >= 0 && options.separateErrors)
                errFd_ = folder.create(name_ + "-stderr", errPath_);
            if (outFd_ < 0 || (options.separateErrors && errFd_ < 0)) {
                startError_ = folder.error();
                return;
            }
            out = outFd_;
        }
        // The pipe's write end belongs to the child alone: closed here on
        // every way out, so the test sees the end of the output.
        const auto closeWriteEnd = [&] {
            if (piped_ && out >= 0)
                ::close(out);
            out = -1;
        };
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            startError_ = std::string("cannot open /dev/null: ") + std::strerror(errno);
            closeWriteEnd();
            return;
        }
        // Everything the child needs is made before fork: after it, the
        // child (a copy of a possibly multi-threaded test) may not allocate.
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char *> envp;
        for (auto &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        const std::string failed = "cannot run " + path + "\n";
        const char *directory = options.directory.empty() ? nullptr : options.directory.c_str();
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            detail::prepareChild(parent, in, out, errFd_ >= 0 ? errFd_ : out, directory);
            ::execve(path.c_str(), args.data(), envp.data());
            (void)!::write(2, failed.data(), failed.size());
            ::_exit(127);
        }
        ::close(in);
        closeWriteEnd();
        if (pid < 0) {
            startError_ = std::string("fork failed: ") + std::strerror(errno);
            return;
        }
        pid_ = pid;
    }

    std::string name_;
    std::string startError_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    bool endChecked_ = false;
    bool stopChecked_ = false;
    int stopTimeoutMs_ = 5000;
    bool piped_ = false;
    int outFd_ = -1;
    int errFd_ = -1;
    int pipeFd_ = -1; // the test's end of the output pipe
    std::string outPath_;
    std::string errPath_;
    std::string out_;
    std::string err_;
};

// velmora-ctl of the build with args, as a user runs it: its standard
// output (in a log, or with outputToPipe in a pipe the test reads) and its
// standard error apart.
inline ChildProcess velmoraCtl(const std::vector<std::string> &args, bool outputToPipe = false)
{
    ChildOptions options;
    options.separateErrors = true;
    options.outputToPipe = outputToPipe;
    return ChildProcess(builtProgram("velmora-ctl", args), options);
}

// A process (no child of the test: a grandchild whose parent ended) has
// gone, or is a zombie that only its new parent can still reap.
inline bool processGone(pid_t pid)
{
    const int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return true;
    const std::string text(buffer, static_cast<size_t>(n));
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

// Until processGone(pid), at most millis.
inline bool waitProcessGone(pid_t pid, int millis)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (!processGone(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Runs fn in a forked copy of the test program (which dies with the test)
// and returns what fn returned as the copy's exit status; -1 with a failure
// when it did not end within timeoutMs (it is killed) or not normally.
inline int runForked(const std::function<int()> &fn, int timeoutMs = 30000)
{
    // The log folder is the test program's, made before the copy exists.
    LogFolder::instance();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork failed: " << std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::_exit(fn());
    }
    int status = 0;
    if (childexit::reapWithin(pid, timeoutMs, status) != childexit::Reap::Ended) {
        ::kill(pid, SIGKILL);
        childexit::reapWithin(pid, 5000, status);
        ADD_FAILURE() << "the forked test code did not end within " << timeoutMs << " ms and was killed";
        return -1;
    }
    if (!WIFEXITED(status)) {
        ADD_FAILURE() << "the forked test code died of " << childexit::describeStatus(status);
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace testchild

using testchild::ChildOptions;
using testchild::ChildProcess;
