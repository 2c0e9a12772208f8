#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/StreamSocket.h"
#include "tests/settings/TempDir.h"
#include "tools/ctl/Command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

// velmora-ctl monitor called as a function, on both platforms (under Wine
// too): the exclusive UDP socket, the debug switch and the line format.
// The signal paths are checked with the real program (MonitorCommandTest).
namespace {

const std::string kHeader = "[ 12.345678] velmora-drv 0001: ";

NodeAddress loopback(uint16_t port)
{
    NodeAddress a;
    a.address[15] = 1;
    a.setHostPort(port);
    return a;
}

uint16_t freePort()
{
    Socket probe;
    NodeAddress local = loopback(0);
    if (!probe.open(SocketKind::UdpV6Only) || !probe.bind(local))
        return 0;
    return local.hostPort();
}

TEST(MonitorInProcess, LinesFromTheDriverWhileTheSwitchIsOn)
{
    TempDir dir;
    const std::string debugSwitch = dir.file("debug.inf");
    const uint16_t port = freePort();
    ASSERT_NE(port, 0);
    std::ostringstream out, err;
    int status = -1;
    std::thread monitor([&] {
        status = ctl::runCtl({"velmora-ctl", "monitor", "--settings", dir.file("setting.inf"), "--port",
                              std::to_string(port), "--seconds", "2"},
                             out, err);
    });
    // The switch is written once the port is held.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(std::filesystem::u8path(debugSwitch)) &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool switched = std::filesystem::exists(std::filesystem::u8path(debugSwitch));
    const std::string image = readBytes(debugSwitch);
    Socket driver;
    ASSERT_TRUE(driver.open(SocketKind::UdpV6Only));
    for (const std::string line : {"Target: Studio po=1", "info rcv fs=512", "bell\a"}) {
        const std::string payload = kHeader + line;
        EXPECT_TRUE(driver.sendTo(reinterpret_cast<const uint8_t *>(payload.data()), payload.size(),
                                  loopback(port), true));
    }
    monitor.join();
    EXPECT_TRUE(switched);
    EXPECT_EQ(image, "[global]\r\nDebug=enable\r\n\r\n");
    EXPECT_EQ(status, ctl::kExitOk) << err.str();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(debugSwitch)));
    std::istringstream lines(out.str());
    std::string line;
    const char *expected[] = {"Target: Studio po=1", "Host  : info rcv fs=512", "Host  : bell?"};
    for (const char *e : expected) {
        ASSERT_TRUE(std::getline(lines, line)) << out.str();
        ASSERT_EQ(line.size(), 13 + std::string(e).size()) << line;
        EXPECT_EQ(line[2], ':');
        EXPECT_EQ(line[8], '.');
        EXPECT_EQ(line.substr(13), e);
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
}

TEST(MonitorInProcess, PortHeldElsewhereIsNamed)
{
    TempDir dir;
    DatagramReceiver holder;
    const uint16_t port = freePort();
    ASSERT_TRUE(holder.bindExclusive(loopback(port)));
    std::ostringstream out, err;
    EXPECT_EQ(ctl::runCtl({"velmora-ctl", "monitor", "--settings", dir.file("setting.inf"), "--port",
                           std::to_string(port), "--seconds", "5"},
                          out, err),
              ctl::kExitFailure);
    EXPECT_NE(err.str().find("[::1] port " + std::to_string(port) + " is in use"), std::string::npos)
        << err.str();
    EXPECT_EQ(dir.entryCount(), 0u);
}

} // namespace
