// The harness of every child program the tests start: fresh logs, bounded
// waits, checked ends, children that die with the test.
#include "tests/support/ChildProcess.h"

#include <gtest/gtest-spi.h>

namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

ChildProcess shell(const std::string &script, const ChildOptions &options = {})
{
    return ChildProcess(std::vector<std::string>{"/bin/sh", "-c", script}, options);
}

// A shell that ends with status 0 on SIGTERM once it has set its trap
// (it says "armed" then).
const char *const kCleanOnTerm = "trap 'exit 0' TERM; echo armed; while :; do sleep 0.01; done";

TEST(ChildProcess, ReadinessIsTheChildsOwn)
{
    // The first child is ready at once and stays; the second says so only
    // after 300 ms. Its wait must not find the first one's line.
    ChildProcess first = shell("echo ready; " + std::string(kCleanOnTerm));
    ASSERT_TRUE(first.started()) << first.startError();
    ASSERT_TRUE(first.waitForLine("ready", 5000)) << first.output();
    ChildProcess second = shell("sleep 0.3; echo ready; " + std::string(kCleanOnTerm));
    ASSERT_TRUE(second.started()) << second.startError();
    EXPECT_NE(second.logPath(), first.logPath());
    const auto start = Clock::now();
    EXPECT_TRUE(second.waitForLine("ready", 5000)) << second.output();
    EXPECT_GE(millisSince(start), 250) << "found a ready line before the child printed one";
    // A whole line only, and only this child's output.
    EXPECT_EQ(first.output(), "ready\narmed\n");
    EXPECT_FALSE(second.waitForLine("read", 0));
    ASSERT_TRUE(first.waitForLine("armed", 5000));
    ASSERT_TRUE(second.waitForLine("armed", 5000));
    EXPECT_EQ(first.stop(), 0);
    EXPECT_EQ(second.stop(), 0);
}

TEST(ChildProcess, WaitForEndsWhenTheChildEnds)
{
    ChildProcess child = shell("echo starting; exit 3");
    const auto start = Clock::now();
    EXPECT_FALSE(child.waitForLine("ready", 20000));
    EXPECT_LT(millisSince(start), 10000) << "waited on after the child had ended";
    EXPECT_EQ(child.wait(), 3);
    EXPECT_EQ(child.howItEnded(), "status 3");
}

TEST(ChildProcess, ExitStatusesAndOutputsOfCommands)
{
    ChildProcess split({"/bin/sh", "-c", "echo out; echo err >&2; exit 2"},
                       ChildOptions{{}, {}, {}, true, {}});
    EXPECT_EQ(split.wait(), 2);
    EXPECT_EQ(split.output(), "out\n");
    EXPECT_EQ(split.errors(), "err\n");

    ChildProcess merged = shell("echo out; echo err >&2");
    EXPECT_EQ(merged.wait(), 0);
    EXPECT_EQ(merged.output(), "out\nerr\n");

    ChildOptions options;
    options.setEnv = {"VELMORA_HARNESS_A=set", "HOME=/nowhere"};
    options.unsetEnv = {"VELMORA_HARNESS_B"};
    options.directory = "/";
    ::setenv("VELMORA_HARNESS_B", "inherited", 1);
    ChildProcess env = shell("echo \"$VELMORA_HARNESS_A|${VELMORA_HARNESS_B-unset}|$HOME|$(pwd)\"", options);
    ::unsetenv("VELMORA_HARNESS_B");
    EXPECT_EQ(env.wait(), 0);
    EXPECT_EQ(env.output(), "set|unset|/nowhere|/\n");

    ChildProcess missing(std::vector<std::string>{"velmora-no-such-program"});
    EXPECT_FALSE(missing.started());
    EXPECT_NE(missing.startError().find("velmora-no-such-program"), std::string::npos)
        << missing.startError();
}

TEST(ChildProcess, ChildrenStartWithDefaultSignalsNoInputAndNoInheritedDescriptors)
{
    // The test ignores SIGINT (as a background job of a script does) and
    // holds a descriptor without close-on-exec.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &before);
    const int leaky = ::dup(1);
    ASSERT_GE(leaky, 3);
    ChildProcess child = shell("grep SigIgn /proc/self/status; cat; test -e /proc/self/fd/" +
                               std::to_string(leaky) + " && echo leaked; true");
    sigaction(SIGINT, &before, nullptr);
    ::close(leaky);
    EXPECT_EQ(child.wait(10000), 0) << "cat read no end of input";
    EXPECT_EQ(child.output(), "SigIgn:\t0000000000000000\n");
}

ChildOptions piped()
{
    ChildOptions options;
    options.outputToPipe = true;
    return options;
}

TEST(ChildProcess, PipedOutputComesAsWrittenAndSignalsReachTheChild)
{
    // It says "first", then "second" only once the test has sent SIGUSR1:
    // the test must read "first" from the pipe while the child still runs.
    ChildProcess child = shell("trap 'echo second; exit 0' USR1; echo first; echo apart >&2; "
                               "while :; do sleep 0.01; done",
                               piped());
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(child.waitForLine("first", 5000)) << child.output();
    EXPECT_TRUE(child.running());
    EXPECT_EQ(child.output(), "first\n");
    ASSERT_TRUE(child.waitUntil([&] { return child.errors() == "apart\n"; }, 5000)) << child.errors();
    EXPECT_NE(child.logPath().find("-stderr"), std::string::npos) << child.logPath();
    EXPECT_TRUE(child.signal(SIGUSR1));
    EXPECT_EQ(child.wait(10000), 0);
    EXPECT_EQ(child.output(), "first\nsecond\n");
    // An ended child is never signalled again.
    EXPECT_FALSE(child.signal(SIGTERM));
}

TEST(ChildProcess, PipeTheTestDoesNotReadCannotStallTheChild)
{
    // Far more than a pipe holds, and the test reads nothing until the end.
    ChildProcess child = shell("head -c 1048576 /dev/zero | tr '\\0' x; echo; exit 0", piped());
    const auto start = Clock::now();
    EXPECT_EQ(child.wait(20000), 0);
    EXPECT_LT(millisSince(start), 15000);
    const std::string out = child.output();
    EXPECT_EQ(out.size(), 1048577u);
    EXPECT_EQ(out.find_first_not_of('x'), 1048576u);
}

TEST(ChildProcess, ClosedOutputPipeMeetsTheChildsNextWrite)
{
    struct Row {
        const char *name;
        const char *script;
        int status;          // what wait() returns
        const char *failure; // empty: none
        const char *errors;  // what standard error holds
    };
    const Row rows[] = {
        {"write error when SIGPIPE is ignored",
         "trap '' PIPE; echo armed; while echo more; do sleep 0.01; done; echo gone >&2; exit 4", 4, "",
         "gone\n"},
        {"killed by SIGPIPE at its default", "echo armed; while echo more; do sleep 0.01; done; exit 4", -1,
         "died of signal 13", ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        int status = -2;
        std::string errors;
        const auto run = [&] {
            ChildProcess child = shell(r.script, piped());
            ASSERT_TRUE(child.waitForLine("armed", 5000)) << child.output();
            child.closeOutput();
            status = child.wait(10000);
            // What came before the close stays readable.
            EXPECT_EQ(child.output().rfind("armed\n", 0), 0u) << child.output();
            errors = child.errors();
        };
        if (*r.failure == '\0')
            run();
        else
            EXPECT_NONFATAL_FAILURE(run(), r.failure);
        EXPECT_EQ(status, r.status);
        EXPECT_NE(errors.find(r.errors), std::string::npos) << errors;
    }
}

// Each way a child can end, and what the harness makes of it.
TEST(ChildProcess, EveryUncleanEndFailsTheTest)
{
    struct Row {
        const char *name;
        std::string script;
        std::function<void(ChildProcess &)> end;
        const char *failure;       // empty: none
        ChildOptions options = {}; // how it runs
    };
    const auto stop = [](ChildProcess &c) { c.stop(); };
    const auto stopSoon = [](ChildProcess &c) { c.stop(300); };
    const auto wait = [](ChildProcess &c) { c.wait(); };
    const auto waitBriefly = [](ChildProcess &c) { c.wait(300); };
    // Time to end by itself first.
    const auto destroy = [](ChildProcess &) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    const auto destroyAtOnce = [](ChildProcess &) {};
    ChildOptions shortStop;
    shortStop.stopTimeoutMs = 300;
    const Row rows[] = {
        {"clean stop", kCleanOnTerm, stop, ""},
        {"status 3 after SIGTERM", "trap 'exit 3' TERM; echo armed; while :; do sleep 0.01; done", stop,
         "did not exit cleanly after SIGTERM (status 3)"},
        {"killed by SIGTERM", "echo armed; exec sleep 30", stop, "signal 15"},
        {"a sanitizer report before a clean stop",
         "echo '==7==ERROR: LeakSanitizer: detected memory leaks'; " + std::string(kCleanOnTerm), stop,
         "reported: ==7==ERROR: LeakSanitizer: detected memory leaks"},
        {"ignores SIGTERM", "trap '' TERM; echo armed; while :; do sleep 0.01; done", stopSoon,
         "did not stop within 300 ms of SIGTERM"},
        {"expected failure status", "echo armed; exit 1", wait, ""},
        {"the sanitizers' status", "echo armed; exit 86", wait,
         "ended with status 86, the sanitizers' status"},
        {"a runtime error line with a failure status",
         "echo armed; echo 'x.cpp:3:5: runtime error: signed integer overflow' >&2; exit 1", wait,
         "reported: x.cpp:3:5: runtime error: signed integer overflow"},
        {"a crash", "echo armed; kill -SEGV $$", wait, "died of signal 11"},
        {"never ends", "echo armed; exec sleep 30", waitBriefly, "did not end within 300 ms and was killed"},
        {"ended by itself, never waited for", "echo armed; exit 2", destroy,
         "did not exit cleanly (it ended by itself, status 2)"},
        {"ignores SIGTERM, left to the destructor's stop",
         "trap '' TERM; echo armed; while :; do sleep 0.01; done", destroyAtOnce,
         "did not stop within 300 ms of SIGTERM", shortStop},
        {"a sanitizer line in piped output",
         "echo armed; echo '==7==ERROR: AddressSanitizer: heap-use-after-free'; exit 1", wait,
         "reported: ==7==ERROR: AddressSanitizer: heap-use-after-free", piped()},
        {"a runtime error line on standard error beside a pipe",
         "echo armed; echo 'y.cpp:9:1: runtime error: load of misaligned address' >&2; exit 0", wait,
         "reported: y.cpp:9:1: runtime error: load of misaligned address", piped()},
        {"clean stop with piped output", kCleanOnTerm, stop, "", piped()},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const auto run = [&] {
            ChildProcess child = shell(r.script, r.options);
            ASSERT_TRUE(child.waitForLine("armed", 5000)) << child.output();
            r.end(child);
        };
        const auto start = Clock::now();
        if (*r.failure == '\0')
            run();
        else
            EXPECT_NONFATAL_FAILURE(run(), r.failure);
        EXPECT_LT(millisSince(start), 10000);
    }
}

TEST(ChildProcess, ChildrenDieWithTheTestProgram)
{
    // A copy of the test program starts a child, tells its pid and ends
    // without any clean-up, as a killed test would.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int status = testchild::runForked([&] {
        ChildProcess child = shell("exec sleep 30");
        const pid_t pid = child.pid();
        (void)!::write(fds[1], &pid, sizeof pid);
        ::_exit(0);
        return 0;
    });
    ::close(fds[1]);
    pid_t orphan = -1;
    ASSERT_EQ(::read(fds[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
    ::close(fds[0]);
    EXPECT_EQ(status, 0);
    ASSERT_GT(orphan, 0);
    EXPECT_TRUE(testchild::waitProcessGone(orphan, 5000)) << "the child of a killed test program runs on";
    if (!testchild::processGone(orphan))
        ::kill(orphan, SIGKILL);
}

TEST(ChildProcess, ForkedTestCodeIsBounded)
{
    EXPECT_EQ(testchild::runForked([] { return 5; }), 5);
    const auto start = Clock::now();
    EXPECT_NONFATAL_FAILURE(testchild::runForked(
                                [] {
                                    ::sleep(30);
                                    return 0;
                                },
                                300),
                            "did not end within 300 ms");
    EXPECT_LT(millisSince(start), 10000);
}

// A child started elsewhere, stopped by its pid with the same rules.
TEST(ChildExit, StopByPidChecksTheEnd)
{
    const auto startShell = [](const char *script) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", script, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        // Time for the shell to set its trap before the test sends SIGTERM.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return pid;
    };
    childexit::stopChecked(startShell("trap 'exit 0' TERM; while :; do sleep 0.01; done"), "clean",
                           [] { return std::string("stopped\n"); });
    EXPECT_NONFATAL_FAILURE(
        childexit::stopChecked(startShell("trap 'exit 3' TERM; while :; do sleep 0.01; done"), "child",
                               [] { return std::string(); }),
        "did not exit cleanly");
    EXPECT_NONFATAL_FAILURE(
        childexit::stopChecked(startShell("trap 'exit 0' TERM; while :; do sleep 0.01; done"), "child",
                               [] {
                                   return std::string("ready\n==7==ERROR: LeakSanitizer: "
                                                      "detected memory leaks\nstopped\n");
                               }),
        "ERROR: LeakSanitizer: detected memory leaks");
    EXPECT_NONFATAL_FAILURE(childexit::stopChecked(
                                startShell("trap '' TERM; while :; do sleep 0.01; done"), "child",
                                [] { return std::string(); }, 300),
                            "did not stop within 300 ms");
    EXPECT_EQ(childexit::sanitizerLine("a\nx.cpp:3:5: runtime error: signed overflow\nb"),
              "x.cpp:3:5: runtime error: signed overflow");
}

} // namespace
