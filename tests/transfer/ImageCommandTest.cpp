// velmora-ctl transfer and flash: the endpoint text and the command-line
// checks that come before anything is sent.

#include "src/Network/AddressText.h"
#include "tests/support/CtlRunner.h"
#include "tests/support/TextContains.h"
#include "tools/ctl/Command.h"
#include "tools/ctl/ImageCommandArgs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
        SCOPED_TRACE(r.argv[0] + " " + (r.argv.size() > 1 ? r.argv.back() : ""));
        const ctltest::CtlResult run = ctltest::ctlRun(r.argv);
        EXPECT_EQ(run.status, r.status);
        EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

// A file of its own in GoogleTest's temporary folder, created new (an
// existing file of that name fails the test instead of being written
// through), removed afterwards.
struct TempImage {
    explicit TempImage(const std::string &bytes)
    {
        static int count = 0;
        path = ::testing::TempDir() + "velmora-image-" + std::to_string(processId()) + "-" +
               std::to_string(++count);
#ifdef _WIN32
        const int fd = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, 0600);
#endif
        if (fd < 0) {
            ADD_FAILURE() << "cannot create " << path;
            path.clear();
            return;
        }
#ifdef _WIN32
        const bool written = _write(fd, bytes.data(), unsigned(bytes.size())) == int(bytes.size());
        _close(fd);
#else
        const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        ::close(fd);
#endif
        if (!written)
            ADD_FAILURE() << "cannot write " << path;
    }
    ~TempImage()
    {
        if (!path.empty())
            std::remove(path.c_str());
    }
    static long processId()
    {
#ifdef _WIN32
        return long(_getpid());
#else
        return long(::getpid());
#endif
    }
    std::string path;
};

TEST(ImageCommands, ImagesRefusedBeforeAnythingIsSent)
{
    // "123456789" has the CRC-16/USB b4c8 (the published check value).
    TempImage empty("");
    TempImage nine("123456789");
    struct Row {
        std::vector<std::string> argv;
        int status;
        const char *message;
    } rows[] = {
        {{"flash", "fe80::1%1,5", empty.path}, 1, "is empty"},
        {{"flash", "fe80::1%1,5", nine.path, "--crc", "b4c9"}, 1, "has the CRC b4c8, not b4c9"},
        {{"transfer", "fe80::1%1,5", nine.path, "--crc", "0000"}, 1, "has the CRC b4c8, not 0000"},
        {{"flash", "fe80::1%1,5", empty.path, "--crc", "ffff"}, 1, "is empty"},
        {{"flash", "fe80::1%1,5", nine.path, "--crc", "b4c"}, 2, "--crc takes four hexadecimal digits"},
        {{"flash", "fe80::1%1,5", nine.path, "--crc", "b4c8a"}, 2, "--crc takes four hexadecimal digits"},
        {{"transfer", "fe80::1%1,5", nine.path, "--crc", "0xb4"}, 2, "--crc takes four hexadecimal digits"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.message);
        const ctltest::CtlResult run = ctltest::ctlRun(r.argv);
        EXPECT_EQ(run.status, r.status);
        EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(ImageCommands, MatchingCrcIsAccepted)
{
    TempImage nine("123456789");
    for (const char *crc : {"b4c8", "B4C8"}) {
        ctl::ParsedArgs parsed;
        std::string error;
        ASSERT_TRUE(ctl::parseArgs({"fe80::1%1,5", nine.path, "--crc", crc}, {{"--crc", true}}, parsed, error));
        ctl::ImageCommandArgs a;
        a.allowEmpty = false;
        int status = 0;
        std::ostringstream err;
        EXPECT_TRUE(ctl::parseImageCommand(parsed, "flash", err, a, status)) << err.str();
        EXPECT_EQ(a.image.size(), 9u);
    }
}

#ifndef _WIN32
TEST(ImageCommands, SpecialFilesAreRefused)
{
    // A FIFO would block the read for ever; a directory or device is no image.
    const TempImage stem("");
    const std::string fifo = stem.path + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/null"), std::string("/tmp")}) {
        for (const char *command : {"transfer", "flash"}) {
            SCOPED_TRACE(std::string(command) + " " + path);
            const ctltest::CtlResult run = ctltest::ctlRun({command, "fe80::1%1,5", path});
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
        }
    }
    ::unlink(fifo.c_str());
}
#endif

TEST(OneLineFilter, TargetTextsCannotForgeLinesOrEscapes)
{
    const struct {
        const char *name;
        std::string in;
        std::string out;
    } rows[] = {
        {"plain", "2.0.1 beta", "2.0.1 beta"},
        {"line breaks and tab", "1\nComplear Reboot Target\tReady : 9\r", "1?Complear Reboot Target?Ready : 9?"},
        {"escape sequence", "\x1b[2J\x1b]0;x\x07", "?[2J?]0;x?"},
        {"DEL", "a\x7f", "a?"},
        {"C1 CSI as UTF-8", "a\xc2\x9b" "2J", "a?2J"},
        {"C1 NEL as UTF-8", "\xc2\x85", "?"},
        {"first non-C1", "\xc2\xa0", "\xc2\xa0"},
        {"raw C1 byte", "\x9b" "31m", "?31m"},
        {"valid UTF-8 kept", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"},
        {"overlong slash", "\xc0\xaf", "??"},
        {"overlong three bytes", "\xe0\x80\xaf", "???"},
        {"surrogate", "\xed\xa0\x80", "???"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", "????"},
        {"truncated at the end", "ok\xe2\x82", "ok??"},
        {"lone continuation", "\x80x", "?x"},
        {"NUL", std::string("a\0b", 3), "a?b"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(ctl::oneLine(r.in), r.out);
    }
}

TEST(ImageCommands, HelpNamesTheOptions)
{
    for (const char *command : {"transfer", "flash"}) {
        const ctltest::CtlResult run = ctltest::ctlRun({command, "--help"});
        EXPECT_EQ(run.status, 0);
        for (const char *word : {"EP", "IMAGE", "--slot", "--burst", "--crc", "Exit status"})
            EXPECT_TRUE(textContains(run.out, word)) << command;
    }
}

} // namespace
