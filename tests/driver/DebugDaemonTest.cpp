// The stand-in driver's debug output: its lines, and velmora-debugd
// sending them to a listener on ::1 only while the switch file exists.
#include "tests/settings/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tools/debugd/DebugLines.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

TEST(DebugLines, HeaderIsAlways31Characters)
{
    const std::pair<uint64_t, uint64_t> cases[] = {
        {0, 0}, {42, 1234567}, {999999, 99999999999}, {~uint64_t(0), ~uint64_t(0)}};
    for (const auto &c : cases)
        EXPECT_EQ(debuglines::header(c.first, c.second).size(), debuglines::kHeaderSize) << c.first;
}

bool startsWith(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The part of an "info rcv " line that the monitor looks at: the last
// space-separated token, name "=" value.
std::string lastTokenName(const std::string &line)
{
    const std::string last = line.substr(line.rfind(' ') + 1);
    const size_t eq = last.find('=');
    if (eq == std::string::npos || last.find('=', eq + 1) != std::string::npos)
        return "(not name=value)";
    return last.substr(0, eq);
}

TEST(DebugLines, SessionOpensWithTheSetupAndCarriesEveryKind)
{
    debuglines::Source source;
    for (int session = 0; session < 2; ++session) {
        source.restart();
        const std::string opening[] = {"configTransfer ", "start SPEED=", "start cycle=", "Target: "};
        for (const std::string &kind : opening) {
            const std::string line = source.next();
            EXPECT_TRUE(startsWith(line, kind)) << line;
            if (kind == "start SPEED=") {
                EXPECT_GT(std::stoul(line.substr(12)), 0u) << line;
            }
            if (kind == "start cycle=") {
                EXPECT_NE(line.find(' ', 12), std::string::npos) << "a second token: " << line;
            }
        }
        std::set<std::string> kinds;
        for (int i = 0; i < 12; ++i) {
            const std::string line = source.next();
            if (startsWith(line, "info rcv "))
                kinds.insert("info " + lastTokenName(line));
            else if (startsWith(line, "Target: "))
                kinds.insert("target");
            else
                kinds.insert("other");
        }
        EXPECT_EQ(kinds, (std::set<std::string>{"info fs", "info cy", "target", "other"}));
    }
}

// A UDP listener on [::1], any free port.
class Listener {
public:
    Listener()
    {
        fd_ = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        socklen_t n = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &n) != 0)
            return;
        port_ = ntohs(a.sin6_port);
    }
    ~Listener()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int port() const { return port_; }
    // One datagram within timeoutMs, or false.
    bool receive(std::string &text, int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[2048];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0)
            return false;
        text.assign(buffer, static_cast<size_t>(n));
        return true;
    }
    void drain()
    {
        std::string ignored;
        while (receive(ignored, 0)) {
        }
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

std::string daemon()
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    return std::string(dir ? dir : ".") + "/velmora-debugd";
}

TEST(DebugDaemon, SendsOnlyWhileTheSwitchFileExists)
{
    Listener listener;
    ASSERT_GT(listener.port(), 0);
    TempDir settings;
    const std::string switchFile = settings.file("debug.inf");
    ChildProcess d(daemon() + " --settings-dir " + settings.path().string() + " --rate 200 --poll-ms 20 --port " +
                   std::to_string(listener.port()));
    ASSERT_TRUE(d.waitFor("watching " + switchFile, 5000)) << d.output();

    std::string datagram;
    EXPECT_FALSE(listener.receive(datagram, 300)) << "sent without the switch: " << datagram;

    for (int round = 0; round < 2; ++round) {
        writeBytes(switchFile, "[global]\r\nDebug=enable\r\n\r\n");
        ASSERT_TRUE(listener.receive(datagram, 5000)) << d.output();
        ASSERT_GT(datagram.size(), debuglines::kHeaderSize);
        // Each time the switch appears, a session starts from its opening.
        EXPECT_TRUE(startsWith(datagram.substr(debuglines::kHeaderSize), "configTransfer ")) << datagram;
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(listener.receive(datagram, 2000)) << "stream stopped after " << i;
            EXPECT_GT(datagram.size(), debuglines::kHeaderSize);
        }

        fs::remove(switchFile);
        // This round's "debug off": from then on nothing may come.
        ASSERT_TRUE(d.waitForCount("debug off\n", round + 1, 5000)) << d.output();
        listener.drain();
        EXPECT_FALSE(listener.receive(datagram, 300)) << "sent after the switch was removed: " << datagram;
    }

    EXPECT_EQ(d.stop(), 0);
    EXPECT_NE(d.output().find("stopped"), std::string::npos) << d.output();
}

TEST(DebugDaemon, SettingsFolderFromTheDriversConfiguration)
{
    TempDir config;
    writeBytes(config.file("driver.inf"), "SettingsPath=" + config.file("demo/setting.inf") + "\n");
    ChildProcess d("env VELMORA_DRIVER_CONFIG=" + config.file("driver.inf") + " " + daemon() + " --port 9");
    EXPECT_TRUE(d.waitFor("watching " + config.file("demo/debug.inf"), 5000)) << d.output();
    EXPECT_EQ(d.stop(), 0);
}

// Started by a script that is then killed (SIGKILL: no clean-up of its
// own), the daemon ends too, through its own orderly stop. One whose start
// ignored SIGHUP (nohup) was asked to outlive its session and stays.
TEST(DebugDaemon, EndsWithTheScriptThatStartedIt)
{
    struct Row {
        const char *name;
        const char *prefix;
        bool ends;
    } rows[] = {
        {"started by a script", "", true},
        {"started with SIGHUP ignored", "trap '' HUP; ", false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TempDir settings;
        ChildProcess script(std::vector<std::string>{"/bin/sh", "-c",
                                                     std::string(r.prefix) + daemon() + " --settings-dir " +
                                                         settings.path().string() +
                                                         " --port 9 --poll-ms 20 & echo daemon=$!; wait"});
        ASSERT_TRUE(script.waitFor("watching", 10000)) << script.output();
        const std::string started = script.output();
        const size_t at = started.find("daemon=");
        ASSERT_NE(at, std::string::npos) << started;
        const pid_t pid = static_cast<pid_t>(std::stol(started.substr(at + 7)));
        ASSERT_TRUE(script.kill());
        if (r.ends) {
            EXPECT_TRUE(testchild::waitProcessGone(pid, 5000)) << "the daemon runs on without its script";
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            EXPECT_FALSE(testchild::processGone(pid));
            ::kill(pid, SIGTERM);
            EXPECT_TRUE(testchild::waitProcessGone(pid, 5000));
        }
        if (!testchild::processGone(pid))
            ::kill(pid, SIGKILL);
        // It stopped as on SIGTERM, and cleanly (the daemon shares the
        // script's log).
        const std::string out = script.output();
        EXPECT_NE(out.find("velmora-debugd: stopped"), std::string::npos) << out;
        EXPECT_EQ(childexit::sanitizerLine(out), "") << out;
    }
}

struct CommandCase {
    const char *args;
    int status;
    const char *output;
};

TEST(DebugDaemon, CommandLine)
{
    const CommandCase cases[] = {
        {"--help", 0, "usage: velmora-debugd"},
        {"--rate 0", 2, "--rate wants a number"},
        {"--rate=fast", 2, "--rate wants a number"},
        {"--port 70000", 2, "--port wants a port number"},
        {"--poll-ms", 2, "--poll-ms needs a value"},
        {"--bogus", 2, "unknown option \"--bogus\""},
    };
    for (const CommandCase &c : cases) {
        ChildProcess d(daemon() + " " + c.args);
        EXPECT_EQ(d.wait(), c.status) << c.args;
        EXPECT_NE(d.output().find(c.output), std::string::npos) << c.args << ": " << d.output();
    }
}

} // namespace
