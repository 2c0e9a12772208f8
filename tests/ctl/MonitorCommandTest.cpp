#include "tests/settings/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CtlRunner.h"
#include "tools/ctl/Command.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

// velmora-ctl monitor as a user runs it. The signal cases use the driver's
// own port [::1]:19641 (CTest keeps other users of it apart with the
// resource lock debug_port); the others a free port of their own.
namespace {

using testchild::velmoraCtl;

const std::string kHeader = "[ 12.345678] velmora-drv 0001: ";
const char kSwitchImage[] = "[global]\r\nDebug=enable\r\n\r\n";
// "hh:mm:ss.zzz " at the start of line.
bool hasTimeStamp(const std::string &line)
{
    const std::string shape = "dd:dd:dd.ddd ";
    if (line.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? (line[i] < '0' || line[i] > '9') : line[i] != shape[i])
            return false;
    }
    return true;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// A UDP socket on [::1]: a sender of debug lines, or a holder of a port.
class Udp {
public:
    Udp() : fd_(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Udp() { ::close(fd_); }
    // Binds to a free port of ::1 and returns it.
    uint16_t bindAny()
    {
        sockaddr_in6 sa = loopback(0);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0)
            return 0;
        socklen_t length = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &length);
        return ntohs(sa.sin6_port);
    }
    void send(uint16_t port, const std::string &payload)
    {
        const sockaddr_in6 sa = loopback(port);
        ASSERT_EQ(::sendto(fd_, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr *>(&sa),
                           sizeof sa),
                  ssize_t(payload.size()));
    }

private:
    static sockaddr_in6 loopback(uint16_t port)
    {
        sockaddr_in6 sa{};
        sa.sin6_family = AF_INET6;
        sa.sin6_addr = in6addr_loopback;
        sa.sin6_port = htons(port);
        return sa;
    }
    int fd_;
};

// A port of ::1 that nobody holds right now.
uint16_t freePort()
{
    Udp probe;
    return probe.bindAny();
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Until the monitor says it has its port, at most 10 s.
bool receiving(ChildProcess &child)
{
    return child.waitUntil([&] { return child.errors().find("receiving on") != std::string::npos; }, 10000);
}

struct SignalCase {
    const char *name;
    int signal;
    const char *said;
};

void PrintTo(const SignalCase &c, std::ostream *os)
{
    *os << c.name;
}

class MonitorSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(MonitorSignal, LinesWhileRunningAndNoSwitchFileAfterwards)
{
    const SignalCase &c = GetParam();
    TempDir dir;
    const std::string settings = dir.file("setting.inf");
    const std::string debugSwitch = dir.file("debug.inf");
    ChildProcess child = velmoraCtl({"monitor", "--settings", settings});
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(receiving(child)) << child.errors();
    EXPECT_EQ(readFile(debugSwitch), kSwitchImage);

    Udp driver;
    driver.send(19641, kHeader + "Target: Studio connected po=1");
    driver.send(19641, kHeader + "start SPEED=44100");
    driver.send(19641, kHeader + "forged\n12:00:00.000 Host  : \x1b[2J");
    ASSERT_TRUE(child.waitUntil([&] { return lines(child.output()).size() >= 3; }, 10000)) << child.output();

    ASSERT_TRUE(child.signal(c.signal));
    EXPECT_EQ(child.wait(10000), 0) << child.errors();
    EXPECT_FALSE(exists(debugSwitch));
    EXPECT_EQ(dir.entryCount(), 0u) << "the folder holds more than before";
    EXPECT_NE(child.errors().find(std::string("stopped (") + c.said + ")"), std::string::npos)
        << child.errors();

    const std::vector<std::string> got = lines(child.output());
    ASSERT_EQ(got.size(), 3u) << child.output();
    for (const std::string &line : got)
        EXPECT_TRUE(hasTimeStamp(line)) << line;
    EXPECT_EQ(got[0].substr(13), "Target: Studio connected po=1");
    EXPECT_EQ(got[1].substr(13), "Host  : start SPEED=44100");
    // A line cannot pass for two, nor send the terminal a command.
    EXPECT_EQ(got[2].substr(13), "Host  : forged?12:00:00.000 Host  : ?[2J");
}

INSTANTIATE_TEST_SUITE_P(Signals, MonitorSignal,
                         ::testing::Values(SignalCase{"Interrupt", SIGINT, "SIGINT"},
                                           SignalCase{"Terminate", SIGTERM, "SIGTERM"},
                                           SignalCase{"HangUp", SIGHUP, "SIGHUP"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Monitor, SecondsEndItAndTheSwitchGoes)
{
    TempDir dir;
    const uint16_t port = freePort();
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child = velmoraCtl({"monitor", "--settings", dir.file("setting.inf"), "--port",
                                     std::to_string(port), "--seconds", "1", "--raw"});
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(receiving(child)) << child.errors();
    Udp driver;
    driver.send(port, kHeader + "tab\there");
    EXPECT_EQ(child.wait(20000), 0) << child.errors();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(exists(dir.file("debug.inf")));
    EXPECT_NE(child.errors().find("stopped after 1 s"), std::string::npos) << child.errors();
    // --raw keeps the line as it came.
    ASSERT_EQ(lines(child.output()).size(), 1u) << child.output();
    EXPECT_EQ(lines(child.output())[0].substr(13), "Host  : tab\there");
}

TEST(Monitor, ReaderGoneEndsItAndTheSwitchGoes)
{
    TempDir dir;
    const uint16_t port = freePort();
    ChildProcess child =
        velmoraCtl({"monitor", "--settings", dir.file("setting.inf"), "--port", std::to_string(port)}, true);
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(receiving(child)) << child.errors();
    EXPECT_TRUE(exists(dir.file("debug.inf")));
    child.closeOutput();
    // The next line it writes meets the closed pipe.
    Udp driver;
    int status = -2;
    for (int i = 0; i < 100 && status == -2; ++i) {
        driver.send(port, kHeader + "line " + std::to_string(i));
        if (child.waitUntil([&] { return !exists(dir.file("debug.inf")); }, 100))
            status = child.wait(10000);
    }
    EXPECT_EQ(status, 1) << child.errors();
    EXPECT_FALSE(exists(dir.file("debug.inf")));
    EXPECT_NE(child.errors().find("could not write to standard output"), std::string::npos) << child.errors();
}

TEST(Monitor, PortInUseEndsAtOnceAndLeavesTheSwitchAlone)
{
    TempDir dir;
    // Another monitor's switch, which must stay as it is.
    {
        std::ofstream other(dir.file("debug.inf"), std::ios::binary);
        other << "someone else's";
    }
    Udp holder;
    const uint16_t port = holder.bindAny();
    ASSERT_NE(port, 0);
    ChildProcess child =
        velmoraCtl({"monitor", "--settings", dir.file("setting.inf"), "--port", std::to_string(port)});
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(10000), 1);
    EXPECT_NE(child.errors().find("[::1] port " + std::to_string(port) + " is in use"), std::string::npos)
        << child.errors();
    EXPECT_EQ(readFile(dir.file("debug.inf")), "someone else's");
    EXPECT_EQ(child.output(), "");
}

TEST(Monitor, SecondMonitorCannotShareThePort)
{
    const uint16_t port = freePort();
    ChildProcess first = velmoraCtl({"monitor", "--port", std::to_string(port)});
    ASSERT_TRUE(first.started()) << first.startError();
    ASSERT_TRUE(receiving(first)) << first.errors();
    ChildProcess second = velmoraCtl({"monitor", "--port", std::to_string(port)});
    ASSERT_TRUE(second.started()) << second.startError();
    EXPECT_EQ(second.wait(10000), 1);
    EXPECT_NE(second.errors().find("is in use"), std::string::npos) << second.errors();
    // The first one still gets every line.
    Udp driver;
    driver.send(port, kHeader + "still here");
    ASSERT_TRUE(first.waitFor("still here", 10000)) << first.output();
    ASSERT_TRUE(first.signal(SIGINT));
    EXPECT_EQ(first.wait(10000), 0) << first.errors();
}

TEST(Monitor, SwitchThatCannotBeWrittenIsAFailure)
{
    TempDir dir;
    ChildProcess child = velmoraCtl({"monitor", "--settings", dir.file("no-such-folder/setting.inf"),
                                     "--port", std::to_string(freePort())});
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(10000), 1);
    EXPECT_NE(child.errors().find("cannot write the driver's debug switch"), std::string::npos)
        << child.errors();
    EXPECT_EQ(dir.entryCount(), 0u);
}

using ctltest::UsageCase;

class MonitorUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(MonitorUsage, ExitsTwoWithMessage)
{
    ctltest::expectUsageError("monitor", GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MonitorUsage,
    ::testing::Values(UsageCase{"Positional", {"x"}, "too many arguments"},
                      UsageCase{"SettingsWithoutFolder", {"--settings", "setting.inf"}, "names no folder"},
                      UsageCase{"SecondsZero", {"--seconds", "0"}, "bad --seconds"},
                      UsageCase{"SecondsNotANumber", {"--seconds", "1s"}, "bad --seconds"},
                      UsageCase{"PortZero", {"--port", "0"}, "bad --port"},
                      UsageCase{"PortTooLarge", {"--port", "65536"}, "bad --port"},
                      UsageCase{"UnknownOption", {"--fields"}, "unknown option"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Monitor, HelpNamesPortSwitchAndExitStatus)
{
    std::ostringstream out, err;
    EXPECT_EQ(ctl::runCtl({"velmora-ctl", "monitor", "--help"}, out, err), ctl::kExitOk);
    for (const char *text : {"Usage: velmora-ctl monitor", "[::1] port 19641", "debug.inf", "Exit status"})
        EXPECT_NE(out.str().find(text), std::string::npos) << text;
}

} // namespace
