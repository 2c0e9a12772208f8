#include "tests/network/SimProcess.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>

// velmora-ctl log against the emulator's log stream (TCP port 23 of the
// player's address) in the private test network, and its --reboot, which
// speaks the target protocol as the update dialog does after its log window.
namespace {

using testchild::velmoraCtl;

class LogNet : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string problem = testNetworkProblem();
        if (!problem.empty())
            GTEST_SKIP() << problem;
        ep = envText("VELMORA_T1_ADDR") + "%" + envText("VELMORA_C1_IF") + ",19650";
    }
    void startSim(const std::vector<std::string> &args)
    {
        std::string error;
        ASSERT_TRUE(sim.start(1, args, error)) << error;
    }
    std::string ep;
    SimProcess sim;
};

TEST_F(LogNet, StreamOfThePlayerUntilSeconds)
{
    startSim({"--target", "Living Room", "--id", "5", "--port", "19650", "--log-text",
              "boot caf\xc3\xa9 \xe2\x82\xac\\n", "--log-every", "100", "--log-line", "tick"});
    ChildProcess log = velmoraCtl({"log", ep, "--seconds", "1"});
    ASSERT_TRUE(log.started()) << log.startError();
    EXPECT_EQ(log.wait(20000), 0) << log.errors();
    EXPECT_EQ(log.output().rfind("boot caf\xc3\xa9 \xe2\x82\xac\ntick 1\n", 0), 0u) << log.output();
    EXPECT_NE(log.errors().find("stopped after 1 s"), std::string::npos) << log.errors();
    EXPECT_EQ(sim.output().find("rebooting"), std::string::npos) << sim.output();
}

TEST_F(LogNet, RebootAfterTheLogAsTheLogWindowsButtonDoes)
{
    startSim({"--target", "Living Room", "--id", "5", "--port", "19650", "--log-text", "up\\n"});
    ChildProcess log = velmoraCtl({"log", ep, "--seconds", "1", "--reboot"});
    ASSERT_TRUE(log.started()) << log.startError();
    EXPECT_EQ(log.wait(20000), 0) << log.errors();
    EXPECT_EQ(log.output(), "up\n");
    EXPECT_NE(log.errors().find("the target confirmed the reboot"), std::string::npos) << log.errors();
    EXPECT_NE(sim.output().find("target Living Room: rebooting"), std::string::npos) << sim.output();
}

TEST_F(LogNet, RebootNotConfirmedIsAFailure)
{
    startSim(
        {"--target", "Mute", "--id", "5", "--port", "19650", "--fault", "silent", "--log-text", "up\\n"});
    ChildProcess log = velmoraCtl({"log", ep, "--seconds", "1", "--reboot"});
    ASSERT_TRUE(log.started()) << log.startError();
    EXPECT_EQ(log.wait(20000), 1) << log.errors();
    EXPECT_EQ(log.output(), "up\n");
    EXPECT_NE(log.errors().find("did not confirm the reboot in 3 tries"), std::string::npos) << log.errors();
}

TEST_F(LogNet, RebootOfThePlayerEndsTheStream)
{
    startSim({"--target", "Living Room", "--id", "5", "--port", "19650", "--log-text", "up\\n"});
    ChildProcess log = velmoraCtl({"log", ep});
    ASSERT_TRUE(log.started()) << log.startError();
    ASSERT_TRUE(log.waitUntil([&] { return log.output() == "up\n"; }, 10000)) << log.output() << log.errors();
    ChildProcess reboot = velmoraCtl({"reboot", ep});
    ASSERT_TRUE(reboot.started()) << reboot.startError();
    EXPECT_EQ(reboot.wait(20000), 0) << reboot.errors();
    EXPECT_EQ(log.wait(20000), 0) << log.errors();
    EXPECT_NE(log.errors().find("the target closed the log stream"), std::string::npos) << log.errors();
}

} // namespace
