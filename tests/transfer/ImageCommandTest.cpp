// velmora-ctl transfer and flash: the endpoint text and the command-line
// checks that come before anything is sent.

#include "src/Network/AddressText.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/ImageCommandArgs.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(TargetEndpoint, Forms)
{
    struct Row {
        const char *text;
        bool ok;
        const char *address;
        uint16_t port;
        uint16_t index;
    } rows[] = {
        {"fe80::2%3,19642", true, "fe80::2", 19642, 3},
        {"fe80::a:b%65535,1", true, "fe80::a:b", 1, 65535},
        {"::1,19642", true, "::1", 19642, 0},
#ifndef _WIN32
        // An interface by name; Linux's loopback has an IPv6 address (the
        // Windows adapter list has no "lo").
        {"::1%lo,7", true, "::1", 7, 0}, // index of lo checked below
#endif
        {"fe80::2,19642", false, "", 0, 0}, // link-local without interface
        {"fe80::2%3", false, "", 0, 0},     // no port
        {"fe80::2%3,0", false, "", 0, 0},
        {"fe80::2%3,65536", false, "", 0, 0},
        {"fe80::2%3,-1", false, "", 0, 0},
        {"fe80::2%3,", false, "", 0, 0},
        {"fe80::2%0,5", false, "", 0, 0},
        {"fe80::2%no-such-if9,5", false, "", 0, 0},
        {"fe80:::2%3,5", false, "", 0, 0},
        {"10.0.0.1,69", false, "", 0, 0},
        {"", false, "", 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        NodeAddress ep;
        ep.interfaceIndex = 77;
        std::string error;
        ASSERT_EQ(ctl::parseTargetEndpoint(r.text, ep, error), r.ok) << error;
        if (!r.ok) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(ep.interfaceIndex, 77); // unchanged
            continue;
        }
        EXPECT_EQ(formatAddress(ep.address), r.address);
        EXPECT_EQ(ep.hostPort(), r.port);
        if (std::string(r.text).find("%lo") != std::string::npos)
            EXPECT_NE(ep.interfaceIndex, 0);
        else
            EXPECT_EQ(ep.interfaceIndex, r.index);
    }
}

TEST(ImageCommands, CommandLineErrors)
{
    struct Row {
        std::vector<std::string> argv;
        int status;
        const char *message; // part of standard error
    } rows[] = {
        {{"transfer"}, 2, "missing arguments"},
        {{"flash", "fe80::1%1,5"}, 2, "missing arguments"},
        {{"transfer", "fe80::1%1,5", "a", "b"}, 2, "too many arguments"},
        {{"flash", "fe80::1,5", "img"}, 2, "needs its interface"},
        {{"transfer", "fe80::1%1,5", "img", "--slot", "x"}, 2, "--slot"},
        {{"transfer", "fe80::1%1,5", "img", "--slot", "32767"}, 2, "--slot"},
        {{"flash", "fe80::1%1,5", "img", "--burst", "-1"}, 2, "--burst"},
        {{"flash", "fe80::1%1,5", "img", "--up-timeout", "soon"}, 2, "--up-timeout"},
        {{"flash", "fe80::1%1,5", "img", "--speed", "1"}, 2, "--speed"},
        {{"transfer", "fe80::1%1,5", "/no/such/image.bin"}, 1, "/no/such/image.bin"},
        {{"flash", "fe80::1%1,5", "/no/such/image.bin"}, 1, "/no/such/image.bin"},
    };
    for (const Row &r : rows) {
        std::vector<std::string> argv{"velmora-ctl"};
        argv.insert(argv.end(), r.argv.begin(), r.argv.end());
        std::ostringstream out, err;
        SCOPED_TRACE(r.argv[0] + " " + (r.argv.size() > 1 ? r.argv.back() : ""));
        EXPECT_EQ(ctl::runCtl(argv, out, err), r.status);
        EXPECT_NE(err.str().find(r.message), std::string::npos) << err.str();
        EXPECT_TRUE(out.str().empty());
    }
}

TEST(ImageCommands, HelpNamesTheOptions)
{
    for (const char *command : {"transfer", "flash"}) {
        std::ostringstream out, err;
        EXPECT_EQ(ctl::runCtl({"velmora-ctl", command, "--help"}, out, err), 0);
        for (const char *word : {"EP", "IMAGE", "--slot", "--burst", "Exit status"})
            EXPECT_NE(out.str().find(word), std::string::npos) << command << " " << word;
    }
}

} // namespace
