#include "tests/support/ChildProcess.h"
#include "tests/support/CtlRunner.h"
#include "tools/ctl/Command.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>

// velmora-ctl log as a user runs it, against a log server on ::1 that plays
// the target. The server's pieces go out with pauses between them, so that
// they reach the command as pieces of their own. The default-port case binds
// [::1]:23 (CTest keeps other users of it apart with the resource lock
// log_port).
namespace {

using testchild::velmoraCtl;

size_t timesIn(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

#define R "\xef\xbf\xbd"

// One piece of the stream and the pause after it.
struct Piece {
    std::string bytes;
    int pauseMillis;
};

class LogServer {
public:
    explicit LogServer(uint16_t port = 0)
    {
        fd_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in6 sa{};
        sa.sin6_family = AF_INET6;
        sa.sin6_addr = in6addr_loopback;
        sa.sin6_port = htons(port);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(fd_, 4) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        socklen_t length = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &length);
        port_ = ntohs(sa.sin6_port);
    }
    ~LogServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool listening() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }

    // Serves one client: the pieces, then the end of the stream (or, with
    // hold, nothing more until the client goes). With flood, sends the
    // last piece over and over until the client goes.
    void serve(std::vector<Piece> pieces, bool hold = false, bool flood = false)
    {
        thread_ = std::thread([this, pieces, hold, flood] {
            const int c = acceptWithin(10000);
            if (c < 0)
                return;
            for (const Piece &p : pieces) {
                sendAll(c, p.bytes);
                std::this_thread::sleep_for(std::chrono::milliseconds(p.pauseMillis));
            }
            while ((hold || flood) && !stop_ && !clientGone(c)) {
                if (flood && !pieces.empty())
                    sendAll(c, pieces.back().bytes);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::close(c);
            served_ = true;
        });
    }
    bool served() const { return served_; }

private:
    int acceptWithin(int millis)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, millis) != 1)
            return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    static void sendAll(int c, const std::string &bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(c, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += size_t(n);
        }
    }
    static bool clientGone(int c)
    {
        pollfd p{c, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1)
            return false;
        char b;
        return ::recv(c, &b, 1, MSG_DONTWAIT) <= 0;
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> served_{false};
};

// The stream of the split cases: characters cut between pieces, ill-formed
// bytes, CR LF, an escape sequence, and an end inside a character.
const std::vector<Piece> kSplitStream = {
    {"<\xe2", 200},
    {"\x82\xac>", 200},
    {"\xf0\x9f", 200},
    {"\x98\x80|a\xff"
     "b\r\n",
     200},
    {"\x1b[2J\xc2\x9b"
     "0m\rforged\n\xe2\x82",
     0},
};

struct SplitCase {
    const char *name;
    bool raw;
    std::string shown;
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << c.name;
}

class LogSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(LogSplit, CharactersCutBetweenPiecesStayWhole)
{
    LogServer server;
    ASSERT_TRUE(server.listening());
    server.serve(kSplitStream);
    std::vector<std::string> args = {"log", "::1,19650", "--port", std::to_string(server.port())};
    if (GetParam().raw)
        args.push_back("--raw");
    ChildProcess child = velmoraCtl(args);
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(20000), 0) << child.errors();
    EXPECT_EQ(child.output(), GetParam().shown);
    EXPECT_NE(child.errors().find("connected to [::1]:" + std::to_string(server.port())), std::string::npos)
        << child.errors();
    EXPECT_NE(child.errors().find("the target closed the log stream"), std::string::npos) << child.errors();
}

INSTANTIATE_TEST_SUITE_P(
    Output, LogSplit,
    ::testing::Values(SplitCase{"ForTheTerminal", false,
                                "<\xe2\x82\xac>\xf0\x9f\x98\x80|a" R "b\r\n?[2J?0m?forged\n" R},
                      SplitCase{"Raw", true,
                                "<\xe2\x82\xac>\xf0\x9f\x98\x80|a" R "b\r\n\x1b[2J\xc2\x9b"
                                "0m\rforged\n" R}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Log, InterruptShowsWhatCameAndEndsCleanly)
{
    LogServer server;
    ASSERT_TRUE(server.listening());
    server.serve({{"partial \xe2\x82", 0}}, true);
    ChildProcess child = velmoraCtl({"log", "::1,19650", "--port", std::to_string(server.port())});
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(child.waitUntil([&] { return child.output() == "partial "; }, 10000)) << child.output();
    ASSERT_TRUE(child.signal(SIGINT));
    EXPECT_EQ(child.wait(10000), 0) << child.errors();
    // The character begun is not lost without a trace.
    EXPECT_EQ(child.output(), "partial " R);
    EXPECT_NE(child.errors().find("stopped (SIGINT)"), std::string::npos) << child.errors();
}

TEST(Log, SecondsHoldWhileTheStreamKeepsComing)
{
    LogServer server;
    ASSERT_TRUE(server.listening());
    server.serve({{std::string(512, 'x') + "\n", 0}}, false, true);
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child =
        velmoraCtl({"log", "::1,19650", "--port", std::to_string(server.port()), "--seconds", "1"});
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(20000), 0) << child.errors();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(1000));
    // Generous: the end is an absolute time, checked between any two reads.
    EXPECT_LT(took, std::chrono::milliseconds(8000));
    EXPECT_NE(child.errors().find("stopped after 1 s"), std::string::npos) << child.errors();
    EXPECT_GT(child.output().size(), 513u);
}

TEST(Log, RefusedConnectionFails)
{
    uint16_t port = 0;
    {
        LogServer gone;
        port = gone.port();
    }
    ChildProcess child = velmoraCtl({"log", "::1,19650", "--port", std::to_string(port)});
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(10000), 1);
    EXPECT_NE(child.errors().find("cannot connect to [::1]:" + std::to_string(port)), std::string::npos)
        << child.errors();
    EXPECT_EQ(child.output(), "");
}

TEST(Log, DefaultPortIs23)
{
    LogServer telnet(23);
    if (!telnet.listening())
        GTEST_SKIP() << "port 23 on ::1 cannot be opened here";
    telnet.serve({{"boot ok\n", 0}});
    ChildProcess child = velmoraCtl({"log", "::1,19650", "--seconds", "10"});
    ASSERT_TRUE(child.started()) << child.startError();
    EXPECT_EQ(child.wait(20000), 0) << child.errors();
    EXPECT_EQ(child.output(), "boot ok\n");
}

TEST(Log, ReaderGoneEndsIt)
{
    LogServer server;
    ASSERT_TRUE(server.listening());
    server.serve({{"line\n", 0}}, false, true);
    ChildProcess child = velmoraCtl({"log", "::1,19650", "--port", std::to_string(server.port())}, true);
    ASSERT_TRUE(child.started()) << child.startError();
    ASSERT_TRUE(child.waitForLine("line", 10000)) << child.errors();
    // The reader goes while the stream keeps coming: the next write meets
    // the closed pipe.
    child.closeOutput();
    EXPECT_EQ(child.wait(10000), 1) << child.errors();
    EXPECT_EQ(timesIn(child.errors(), "could not write to standard output"), 1u) << child.errors();
}

// Standard output on a full device: the failure is said once, by the
// command that met it or else by the program at its end.
TEST(Log, FullOutputIsReportedOnce)
{
    LogServer server;
    ASSERT_TRUE(server.listening());
    server.serve({{"line\n", 0}}, false, true);
    const struct {
        const char *name;
        std::vector<std::string> args;
        const char *message;
    } rows[] = {
        {"the log command", {"log", "::1,19650", "--port", std::to_string(server.port())},
         "velmora-ctl log: could not write to standard output"},
        {"the help text", {"--help"}, "velmora-ctl: could not write to standard output"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full"};
        const std::vector<std::string> ctl = testchild::builtProgram("velmora-ctl", row.args);
        argv.insert(argv.end(), ctl.begin(), ctl.end());
        testchild::ChildOptions options;
        options.separateErrors = true;
        testchild::ChildProcess child(argv, options);
        ASSERT_TRUE(child.started()) << child.startError();
        EXPECT_EQ(child.wait(10000), 1) << child.errors();
        EXPECT_EQ(timesIn(child.errors(), "could not write to standard output"), 1u) << child.errors();
        EXPECT_NE(child.errors().find(row.message), std::string::npos) << child.errors();
    }
}

using ctltest::UsageCase;

class LogUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(LogUsage, ExitsTwoWithMessage)
{
    ctltest::expectUsageError("log", GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogUsage,
    ::testing::Values(UsageCase{"NoEndpoint", {}, "missing arguments"},
                      UsageCase{"TwoEndpoints", {"::1,1", "::1,2"}, "too many arguments"},
                      UsageCase{"NoPort", {"::1"}, "has no port"},
                      UsageCase{"LinkLocalWithoutInterface", {"fe80::1,19650"}, "needs its interface"},
                      UsageCase{"SecondsZero", {"::1,1", "--seconds", "0"}, "bad --seconds"},
                      UsageCase{"SecondsTooMany", {"::1,1", "--seconds", "31536001"}, "bad --seconds"},
                      UsageCase{"PortZero", {"::1,1", "--port", "0"}, "bad --port"},
                      UsageCase{"RebootTakesNoValue", {"::1,1", "--reboot=1"}, "takes no value"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Log, HelpNamesPortOptionsAndExitStatus)
{
    std::ostringstream out, err;
    EXPECT_EQ(ctl::runCtl({"velmora-ctl", "log", "--help"}, out, err), ctl::kExitOk);
    for (const char *text :
         {"Usage: velmora-ctl log EP", "TCP port 23", "--seconds", "--reboot", "Exit status"})
        EXPECT_NE(out.str().find(text), std::string::npos) << text;
}

} // namespace
