#include "src/Network/AddressText.h"
#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"
#include "tests/network/ProtocolPrint.h"
#include "tests/network/SimProcess.h"
#include "tests/support/CtlRunner.h"
#include "tests/support/TextContains.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

// Transactions, discovery and the network commands of velmora-ctl against
// the emulator, inside the private test network of scripts/testnet.sh.

namespace {

NodeAddress target(int k, uint16_t port, const std::string &address = std::string())
{
    NodeAddress a;
    parseAddress(address.empty() ? envText(("VELMORA_T" + std::to_string(k) + "_ADDR").c_str()) : address,
                 a.address);
    a.interfaceIndex = static_cast<uint16_t>(std::atoi(envText(("VELMORA_C" + std::to_string(k) + "_INDEX").c_str()).c_str()));
    a.setHostPort(port);
    return a;
}

std::string scoped(const NodeAddress &a)
{
    return formatAddress(a.address) + "%" + std::to_string(a.interfaceIndex) + "," + std::to_string(a.hostPort());
}

int64_t millisSince(int64_t start)
{
    return (nowMicros() - start) / 1000;
}

class TargetNet : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string problem = testNetworkProblem();
        if (!problem.empty())
            FAIL() << problem;
        ASSERT_TRUE(client.open()) << "no link-local interface in the client namespace";
    }
    // A failed test shows what each of its emulators printed; then they stop
    // (and must end cleanly).
    void TearDown() override
    {
        if (HasFailure()) {
            for (size_t i = 0; i < sims_.size(); ++i)
                std::printf("---- log of emulator %zu of this test:\n%s----\n", i + 1,
                            sims_[i]->output().c_str());
        }
        for (auto &s : sims_)
            s->stop();
    }
    // An emulator owned by the test, so that its log outlives the test body.
    SimProcess &newSim()
    {
        sims_.push_back(std::make_unique<SimProcess>());
        return *sims_.back();
    }
    void startSim(SimProcess &sim, int k, const std::vector<std::string> &args)
    {
        std::string error;
        ASSERT_TRUE(sim.start(k, args, error)) << error;
    }
    TargetClient client{0, "net-test"};

private:
    std::vector<std::unique_ptr<SimProcess>> sims_;
};

TEST_F(TargetNet, ClientListsBothClientInterfaces)
{
    ASSERT_EQ(client.interfaces().size(), 2u);
    EXPECT_EQ(client.interfaces()[0].interfaceIndex, target(1, 0).interfaceIndex);
    EXPECT_EQ(client.interfaces()[1].interfaceIndex, target(2, 0).interfaceIndex);
}

struct TransactRow {
    const char *fault;
    uint16_t port;
    TransactResult result;
    const char *text; // queryVersion's text
};

TEST_F(TargetNet, TransactOutcomesAgainstEachFault)
{
    const TransactRow rows[] = {
        {"none", 19650, TransactResult::Ok, "v-none"},
        {"silent", 19651, TransactResult::Timeout, ""},
        {"refuse", 19652, TransactResult::Refused, ""},
        {"echo", 19653, TransactResult::Echoed, ""},
        {"other-port", 19654, TransactResult::Timeout, ""},
        {"bad-magic", 19655, TransactResult::Timeout, ""},
        {"bad-length", 19656, TransactResult::Timeout, ""},
        {"oversize", 19657, TransactResult::Timeout, ""},
        {"bad-pad", 19658, TransactResult::Ok, ""},
    };
    std::vector<std::string> args;
    for (const auto &r : rows) {
        const std::string p = std::to_string(r.port);
        args.insert(args.end(), {"--target", r.fault, "--port", p, "--version", std::string("v-") + r.fault,
                                 "--fault", r.fault});
    }
    // Slow answers: well inside and well beyond the 100 ms of a transaction
    // (80 and 200 ms of room for a sanitizer build on busy cores). The late
    // replies arrive after the version query that follows, too.
    args.insert(args.end(), {"--target", "slow", "--port", "19660", "--version", "v-slow", "--delay", "20"});
    args.insert(args.end(), {"--target", "late", "--port", "19661", "--version", "v-late", "--delay", "300"});
    SimProcess &sim = newSim();
    ASSERT_NO_FATAL_FAILURE(startSim(sim, 1, args));

    auto check = [&](const char *what, uint16_t port, TransactResult expected,
                     const std::string &text) -> int64_t {
        SCOPED_TRACE(what);
        std::vector<uint8_t> reply;
        const int64_t start = nowMicros();
        const TransactResult r = client.transact(target(1, port), buildMessage(msg::VersionQuery), msg::VersionReply, reply);
        const int64_t ms = millisSince(start);
        EXPECT_EQ(r, expected);
        if (expected == TransactResult::Timeout) {
            EXPECT_GE(ms, 95);
            EXPECT_LT(ms, 1500);
        }
        if (expected == TransactResult::Ok || expected == TransactResult::Refused) {
            MessageHeader h;
            const bool parsed = parseHeader(reply.data(), reply.size(), h);
            EXPECT_TRUE(parsed);
            if (parsed) {
                EXPECT_EQ(msg::Command(h.command), msg::VersionReply);
                EXPECT_EQ(h.ok(), expected == TransactResult::Ok);
            }
        } else {
            EXPECT_TRUE(reply.empty());
        }
        std::string version = "stale";
        EXPECT_TRUE(client.queryVersion(target(1, port), version));
        EXPECT_EQ(version, text);
        return ms;
    };
    for (const auto &r : rows)
        ASSERT_NO_FATAL_FAILURE(check(r.fault, r.port, r.result, r.text));
    // The slow reply was held back by the emulator and still counted.
    EXPECT_GE(check("20 ms delay", 19660, TransactResult::Ok, "v-slow"), 19);
    check("300 ms delay", 19661, TransactResult::Timeout, "");

    // The single-transaction operations on a good and a silent target.
    const int64_t probes = nowMicros();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(client.probe(target(1, 19650))) << i;
    std::printf("probe of an answering target: %lld us on average\n",
                static_cast<long long>((nowMicros() - probes) / 50));
    EXPECT_TRUE(client.announce(target(1, 19650)));
    EXPECT_TRUE(textContains(sim.output(), "announced name \"net-test\""));
    std::string source = "stale";
    EXPECT_TRUE(client.queryUpdateSource(target(1, 19650), source));
    EXPECT_EQ(source, "");
    const int64_t start = nowMicros();
    EXPECT_FALSE(client.probe(target(1, 19651)));
    EXPECT_GE(millisSince(start), 95);
    EXPECT_LT(millisSince(start), 1500);
    EXPECT_TRUE(client.announce(target(1, 19651))) << "a time-out is no transport failure";
    EXPECT_FALSE(client.reboot(target(1, 19651), 1));
    EXPECT_FALSE(client.probe(target(1, 19652))) << "refused";
}

TEST_F(TargetNet, RebootSilenceAndComingBack)
{
    SimProcess &sim = newSim();
    ASSERT_NO_FATAL_FAILURE(startSim(sim, 2,
                                     {"--target", "back", "--port", "19650", "--reboot-silence", "300",
                                      "--target", "gone", "--port", "19651", "--reboot-silence", "forever"}));
    ASSERT_TRUE(client.reboot(target(2, 19650), 1));
    const int64_t start = nowMicros();
    EXPECT_FALSE(client.probe(target(2, 19650)));
    bool back = false;
    while (!back && millisSince(start) < 5000)
        back = client.probe(target(2, 19650));
    EXPECT_TRUE(back);
    EXPECT_GE(millisSince(start), 250);

    ASSERT_TRUE(client.reboot(target(2, 19651), 1));
    const int64_t gone = nowMicros();
    while (millisSince(gone) < 700)
        ASSERT_FALSE(client.probe(target(2, 19651)));
    EXPECT_TRUE(textContains(sim.output(), "never to come back"));
}

struct FilterRow {
    uint64_t filter;
    std::vector<uint16_t> ports; // listed, in order
};

TEST_F(TargetNet, DiscoveryFilterAndOrder)
{
    SimProcess &sim = newSim();
    // Answer order differs from address order: the ports are listed last
    // to first.
    ASSERT_NO_FATAL_FAILURE(startSim(sim, 1, {"--target", "id6",   "--id", "6",        "--port", "19653",
                                              "--target", "id5",   "--id", "5",        "--port", "19652",
                                              "--target", "unset", "--id", "all-ones", "--port", "19651",
                                              "--target", "id0",   "--id", "0",        "--port", "19650"}));
    const FilterRow rows[] = {
        {0, {19650, 19652, 19653}},
        {5, {19650, 19652}},
        {6, {19650, 19653}},
        {TargetClient::kAllOnes, {19650}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE("filter " + std::to_string(r.filter));
        TargetClient c(r.filter, "filter-test");
        ASSERT_TRUE(c.open());
        TargetMap found;
        ASSERT_TRUE(discover(c, found, 0));
        std::vector<uint16_t> ports;
        for (const auto &e : found) {
            ports.push_back(e.first.hostPort());
            EXPECT_TRUE(e.first.sameHost(target(1, 0)));
        }
        EXPECT_EQ(ports, r.ports);
    }
    const auto it = [&] {
        TargetMap found;
        EXPECT_TRUE(discover(client, found, 0));
        return found;
    }();
    ASSERT_EQ(it.count(target(1, 19652)), 1u);
    EXPECT_EQ(it.at(target(1, 19652)).name, "id5");
    EXPECT_EQ(it.at(target(1, 19652)).identifier, 5u);
    // Every target that answered was announced to, the skipped ones too.
    EXPECT_TRUE(textContains(sim.output(), "target unset: announced name \"filter-test\""));
}

TEST_F(TargetNet, DiscoveryDropsBadRepliesAndKeepsLateOnes)
{
    SimProcess &sim = newSim();
    ASSERT_NO_FATAL_FAILURE(startSim(
        sim, 1,
        {"--target", "good",      "--port",   "19650",  "--target", "magic",    "--port",   "19651",
         "--fault",  "bad-magic", "--target", "length", "--port",   "19652",    "--fault",  "bad-length",
         "--target", "big",       "--port",   "19653",  "--fault",  "oversize", "--target", "refuse",
         "--port",   "19654",     "--fault",  "refuse", "--target", "echo",     "--port",   "19655",
         "--fault",  "echo",      "--target", "pad",    "--port",   "19656",    "--fault",  "bad-pad",
         "--target", "late",      "--port",   "19657",  "--delay",  "45"}));
    TargetMap found;
    ASSERT_TRUE(discover(client, found, 0));
    std::map<uint16_t, std::string> names;
    for (const auto &e : found)
        names[e.first.hostPort()] = e.second.name;
    const std::map<uint16_t, std::string> expected = {{19650, "good"}, {19656, ""}, {19657, "late"}};
    EXPECT_EQ(names, expected);
}

TEST_F(TargetNet, DiscoveryOverTwoInterfacesListsBothSources)
{
    const std::string shared = envText("VELMORA_T1_ADDR");
    const std::string ns2 = envText("VELMORA_NS_T2");
    {
        ChildProcess add(ns2 + " ip -6 addr add " + shared + "/64 dev " + envText("VELMORA_T2_IF") +
                         " nodad");
        ASSERT_EQ(add.wait(10000), 0) << add.output();
    }
    SimProcess &a = newSim();
    SimProcess &b = newSim();
    ASSERT_NO_FATAL_FAILURE(startSim(a, 1, {"--target", "via-1", "--id", "9", "--port", "19650"}));
    ASSERT_NO_FATAL_FAILURE(
        startSim(b, 2, {"--target", "via-2", "--id", "9", "--port", "19650", "--address", shared}));
    TargetMap found;
    const bool ok = discover(client, found, 0);
    b.stop();
    {
        ChildProcess del(ns2 + " ip -6 addr del " + shared + "/64 dev " + envText("VELMORA_T2_IF"));
        EXPECT_EQ(del.wait(10000), 0) << del.output();
    }
    ASSERT_TRUE(ok);
    ASSERT_EQ(found.size(), 2u);
    auto it = found.begin();
    EXPECT_EQ(it->first, target(1, 19650, shared));
    EXPECT_EQ(it->second.name, "via-1");
    ++it;
    EXPECT_EQ(it->first, target(2, 19650, shared));
    EXPECT_EQ(it->second.name, "via-2");
}

TEST_F(TargetNet, DiscoveryWithoutTargetsTakesThreePassesOfThirtyMilliseconds)
{
    TargetMap found;
    const int64_t start = nowMicros();
    ASSERT_TRUE(discover(client, found, 0));
    const int64_t ms = millisSince(start);
    EXPECT_TRUE(found.empty());
    // 3 passes x 2 interfaces x 30 ms.
    EXPECT_GE(ms, 175);
    EXPECT_LT(ms, 3000);
    std::printf("discovery without targets on 2 interfaces: %lld ms\n", static_cast<long long>(ms));
}

using ctltest::CtlResult;
using ctltest::ctlRun;

TEST_F(TargetNet, CtlCommandsAgainstThreeTargets)
{
    SimProcess &one = newSim();
    SimProcess &two = newSim();
    ASSERT_NO_FATAL_FAILURE(
        startSim(one, 1,
                 {"--target", "Out-A", "--id", "5", "--port", "19650", "--version", "2.4.1", "--source",
                  "https://example.invalid/a", "--target", "Out-B", "--id", "5", "--port", "19651"}));
    ASSERT_NO_FATAL_FAILURE(startSim(
        two, 2,
        {"--target", "Unset", "--id",   "all-ones", "--port",  "19650",  "--target",         "Mute",
         "--id",     "7",     "--port", "19652",    "--fault", "silent", "--fault-commands", "32,34,36",
         "--target", "Echo",  "--port", "19653",    "--fault", "echo",   "--fault-commands", "32"}));
    const std::string a = scoped(target(1, 19650));
    const std::string b = scoped(target(1, 19651));
    const std::string mute = scoped(target(2, 19652));
    const std::string echo = scoped(target(2, 19653));

    const int64_t start = nowMicros();
    CtlResult r = ctlRun({"discover", "--name", "ctl-test"});
    std::printf("velmora-ctl discover with 5 targets on 2 interfaces: %lld ms\n",
                static_cast<long long>(millisSince(start)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, a + "\t0000000000000005\tOut-A\n" + b + "\t0000000000000005\tOut-B\n" + mute +
                         "\t0000000000000007\tMute\n" + echo + "\t0000000000000000\tEcho\n");

    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string errPart;
    } rows[] = {
        {{"version", a}, 0, "2.4.1\n", ""},
        {{"source", a}, 0, "https://example.invalid/a\n", ""},
        {{"version", "fe80::1:1%vc1,19651"}, 0, "1.0.0\n", ""},
        {{"version", mute}, 1, "", "no answer within 100 ms"},
        {{"source", mute}, 1, "", "no answer"},
        {{"version", echo}, 1, "", "echo"},
        {{"probe", a}, 0, "", ""},
        {{"probe", mute}, 0, "", ""}, // silent to queries only
        {{"probe", scoped(target(1, 19659))}, 1, "", "no answer"},
        {{"reboot", mute}, 1, "", "no answer"},
        {{"probe"}, 2, "", "usage"},
        {{"version", "fe80::1:1,19650"}, 2, "", "interface"},
        {{"version", "fe80::1:1%nosuch,19650"}, 2, "", "nosuch"},
        {{"discover", "--filter", "x"}, 2, "", "--filter"},
        {{"discover", "--mode", "256"}, 2, "", "--mode"},
        {{"reboot", b, "--mode", "1"}, 0, "", ""},
        {{"probe", b}, 1, "", "no answer"},
    };
    for (const auto &row : rows) {
        std::string line;
        for (const auto &w : row.args)
            line += w + " ";
        SCOPED_TRACE(line);
        r = ctlRun(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        if (!row.errPart.empty()) {
            EXPECT_TRUE(textContains(r.err, row.errPart));
        }
    }

    r = ctlRun({"interfaces"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, envText("VELMORA_C1_ADDR") + "%" + envText("VELMORA_C1_INDEX") + "\tvc1\tethernet (veth)\n" +
                         envText("VELMORA_C2_ADDR") + "%" + envText("VELMORA_C2_INDEX") + "\tvc2\tethernet (veth)\n");
}

// The emulator and a long velmora-ctl command started by a script that is
// killed with SIGKILL (no clean-up of its own) end with it: nothing runs on
// holding the ports and the namespace.
TEST_F(TargetNet, EmulatorAndLongCommandsEndWithTheScriptThatStartedThem)
{
    const std::string bin = envText("VELMORA_PROGRAM_DIR");
    // A slow target for the transfer: every reply 30 ms late, so 300 blocks
    // stop-and-wait take about 9 s.
    SimProcess &slow = newSim();
    ASSERT_NO_FATAL_FAILURE(
        startSim(slow, 1, {"--target", "slow", "--port", "19650", "--delay", "30", "--log-port", "0"}));
    const std::string image = testchild::LogFolder::instance().path() + "/slow-image.bin";
    {
        std::ofstream out(image, std::ios::binary);
        out << std::string(300 * 1024, 'x');
    }
    const struct {
        const char *name;
        std::string command;
        const char *started; // in the shared output once it runs
        const char *stopped; // printed by its own orderly stop, or empty
    } rows[] = {
        {"emulator",
         envText("VELMORA_NS_T2") + " " + bin + "/velmora-target-sim --target x --port 19650 --log-port 0",
         "ready", "stopped"},
        {"velmora-ctl transfer", bin + "/velmora-ctl transfer " + scoped(target(1, 19650)) + " " + image,
         "sent ", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        ChildProcess script(std::vector<std::string>{"/bin/sh", "-c", r.command + " & echo pid=$!; wait"});
        ASSERT_TRUE(script.waitFor(r.started, 15000)) << script.output();
        const std::string out = script.output();
        const size_t at = out.find("pid=");
        ASSERT_NE(at, std::string::npos) << out;
        const pid_t pid = static_cast<pid_t>(std::stol(out.substr(at + 4)));
        ASSERT_FALSE(testchild::processGone(pid)) << out;
        ASSERT_TRUE(script.kill());
        EXPECT_TRUE(testchild::waitProcessGone(pid, 5000)) << "it runs on without its script:\n"
                                                           << script.output();
        if (!testchild::processGone(pid))
            ::kill(pid, SIGKILL);
        if (*r.stopped != '\0') {
            EXPECT_NE(script.output().find(r.stopped), std::string::npos) << script.output();
        }
        EXPECT_EQ(childexit::sanitizerLine(script.output()), "") << script.output();
    }
}

} // namespace
