#include "tools/ctl/Args.h"
#include "tools/ctl/Command.h"

#include "tests/settings/TempDir.h"
#include "tests/support/CtlRunner.h"

#include <gtest/gtest.h>

#include "src/Network/Crc16.h"
#include "tests/support/TextContains.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using ctltest::CtlResult;
using ctltest::ctlRun;

TEST(CtlTool, HelpListsEveryCommandWithSummary)
{
    for (const char *word : {"--help", "-h", "help"}) {
        const CtlResult r = ctlRun({word});
        EXPECT_EQ(r.status, ctl::kExitOk);
        EXPECT_EQ(r.err, "");
        ASSERT_FALSE(ctl::commands().empty());
        for (const auto &c : ctl::commands()) {
            EXPECT_TRUE(textContains(r.out, "  " + c->name() + " "));
            EXPECT_TRUE(textContains(r.out, c->summary())) << c->name();
        }
    }
    for (const char *name : {"settings", "crc"}) {
        const CtlResult r = ctlRun({name, "--help"});
        EXPECT_EQ(r.status, ctl::kExitOk) << name;
        EXPECT_EQ(r.out.rfind(std::string("Usage: velmora-ctl ") + name, 0), 0u) << name;
    }
}

TEST(CtlTool, UsageErrorsExitTwoWithMessage)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"nosuchcommand"},
        {"settings"},
        {"settings", "frobnicate", "x"},
        {"settings", "show"},
        {"settings", "show", "a", "b"},
        {"settings", "show", "--bogus", "a"},
        {"settings", "get", "file"},
        {"settings", "get", "--int=3", "file", "k"},
        {"settings", "set", "file", "k"},
        {"settings", "set", "file", "k", "v", "extra"},
        {"crc"},
        {"crc", "a", "b"},
        {"crc", "--fast", "a"},
    };
    for (const auto &words : cases) {
        const CtlResult r = ctlRun(words);
        EXPECT_EQ(r.status, ctl::kExitUsage) << testing::PrintToString(words);
        EXPECT_EQ(r.out, "") << testing::PrintToString(words);
        EXPECT_TRUE(textContains(r.err, "velmora-ctl")) << testing::PrintToString(words);
        EXPECT_NE(r.err.find("--help"), std::string::npos) << "points to the help: " << r.err;
    }
}

class CtlSettings : public ::testing::Test {
protected:
    TempDir dir;
    std::string file(const std::string &name) const { return dir.file(name); }
};

TEST_F(CtlSettings, ShowPrintsExactImage)
{
    writeBytes(file("s.inf"), "\xEF\xBB\xBF; comment\nz = 1\nCycleTime=500\n[Low]\nk=\xC3\xA4\n");
    const CtlResult r = ctlRun({"settings", "show", file("s.inf")});
    EXPECT_EQ(r.status, ctl::kExitOk);
    EXPECT_EQ(r.out, "[Low]\r\nk=\xC3\xA4\r\n\r\n[global]\r\nCycleTime=500\r\nz=1\r\n\r\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CtlSettings, UnreadableFileFailsNamingIt)
{
    writeBytes(file("tab.inf"), "a=\t1\r\n");
    for (const std::string &path : {file("missing.inf"), file("tab.inf"), dir.path().string()}) {
        for (const std::vector<std::string> &words :
             {std::vector<std::string>{"settings", "show", path},
              std::vector<std::string>{"settings", "get", path, "a"}}) {
            const CtlResult r = ctlRun(words);
            EXPECT_EQ(r.status, ctl::kExitFailure) << path;
            EXPECT_EQ(r.out, "") << path;
            EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
        }
    }
}

TEST_F(CtlSettings, GetPrintsValueOrInteger)
{
    writeBytes(file("s.inf"), "PCMRequest=CovertS32\r\nLatencyBuffer=  -12ms\r\n[x]\r\nOnlyHere=1\r\n");
    struct Case {
        std::vector<std::string> extra;
        std::string key;
        std::string out;
    };
    const Case cases[] = {
        {{}, "PCMRequest", "CovertS32\n"},
        {{"--int"}, "PCMRequest", "0\n"},
        {{}, "LatencyBuffer", "-12ms\n"},
        {{"--int"}, "LatencyBuffer", "-12\n"},
        {{}, "Missing", "\n"},
        {{"--int"}, "Missing", "0\n"},
        {{}, "OnlyHere", "\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> words = {"settings", "get"};
        words.insert(words.end(), c.extra.begin(), c.extra.end());
        words.push_back(file("s.inf"));
        words.push_back(c.key);
        const CtlResult r = ctlRun(words);
        EXPECT_EQ(r.status, ctl::kExitOk) << c.key;
        EXPECT_EQ(r.out, c.out) << c.key;
    }
    // The option may also follow the operands.
    EXPECT_EQ(ctlRun({"settings", "get", file("s.inf"), "LatencyBuffer", "--int"}).out, "-12\n");
}

TEST_F(CtlSettings, SetCreatesChangesAndDrops)
{
    const std::string path = file("new.inf");
    EXPECT_EQ(ctlRun({"settings", "set", path, "TargetPO", "7"}).status, ctl::kExitOk);
    EXPECT_EQ(readBytes(path), "[global]\r\nTargetPO=7\r\n\r\n");
    EXPECT_EQ(ctlRun({"settings", "set", path, "FindIP", "fe80::1;fe80::2"}).status, ctl::kExitOk);
    EXPECT_EQ(ctlRun({"settings", "set", path, "Neg", "-5"}).status, ctl::kExitOk)
        << "negative values are values";
    EXPECT_EQ(readBytes(path), "[global]\r\nFindIP=fe80::1;fe80::2\r\nNeg=-5\r\nTargetPO=7\r\n\r\n");
    const CtlResult drop = ctlRun({"settings", "set", path, "TargetPO", ""});
    EXPECT_EQ(drop.status, ctl::kExitOk);
    EXPECT_EQ(drop.out, "");
    EXPECT_EQ(readBytes(path), "[global]\r\nFindIP=fe80::1;fe80::2\r\nNeg=-5\r\n\r\n");
    EXPECT_EQ(ctlRun({"settings", "set", path, "--", "Flag", "--help"}).status, ctl::kExitOk);
    EXPECT_EQ(ctlRun({"settings", "get", path, "Flag"}).out, "--help\n");
}

TEST_F(CtlSettings, SetLeavesRejectedFileUntouched)
{
    const std::string bad = std::string("a=1\r\n\0b=2\r\n", 11);
    writeBytes(file("bad.inf"), bad);
    const CtlResult r = ctlRun({"settings", "set", file("bad.inf"), "a", "2"});
    EXPECT_EQ(r.status, ctl::kExitFailure);
    EXPECT_TRUE(textContains(r.err, file("bad.inf")));
    EXPECT_EQ(readBytes(file("bad.inf")), bad);

    const CtlResult noFolder = ctlRun({"settings", "set", file("no/such/dir.inf"), "a", "2"});
    EXPECT_EQ(noFolder.status, ctl::kExitFailure);
    EXPECT_TRUE(textContains(noFolder.err, "cannot write"));
}

TEST_F(CtlSettings, SetRejectsKeysAndValuesThatWouldNotReadBack)
{
    writeBytes(file("s.inf"), "a=1\r\n");
    struct Case {
        std::string key;
        std::string value;
        const char *blamed;
    };
    const Case cases[] = {
        {"", "v", "KEY"},          {"k=x", "v", "KEY"},       {" k", "v", "KEY"},
        {"k ", "v", "KEY"},        {";k", "v", "KEY"},        {"#k", "v", "KEY"},
        {"[k", "v", "KEY"},        {"k\t", "v", "KEY"},       {"k", "line\r\nX=1", "VALUE"},
        {"k", " padded", "VALUE"}, {"k", "padded ", "VALUE"}, {"k", "tab\tin", "VALUE"},
    };
    for (const Case &c : cases) {
        const CtlResult r = ctlRun({"settings", "set", file("s.inf"), c.key, c.value});
        EXPECT_EQ(r.status, ctl::kExitUsage)
            << testing::PrintToString(c.key) << testing::PrintToString(c.value);
        EXPECT_NE(r.err.find(c.blamed), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(file("s.inf")), "a=1\r\n");
}

TEST_F(CtlSettings, CrcPrintsFourLowerHexDigits)
{
    writeBytes(file("check.bin"), "123456789");
    writeBytes(file("empty.bin"), "");
    writeBytes(file("one.bin"), std::string(1, '\0'));
    const std::pair<std::string, std::string> cases[] = {
        {"check.bin", "b4c8\n"}, // the catalogue check value 0xB4C8
        {"empty.bin", "0000\n"},
        {"one.bin", "bf40\n"},
    };
    for (const auto &c : cases) {
        const CtlResult r = ctlRun({"crc", file(c.first)});
        EXPECT_EQ(r.status, ctl::kExitOk) << c.first;
        EXPECT_EQ(r.out, c.second) << c.first;
    }
    const CtlResult missing = ctlRun({"crc", file("missing.bin")});
    EXPECT_EQ(missing.status, ctl::kExitFailure);
    EXPECT_EQ(missing.out, "");
    EXPECT_TRUE(textContains(missing.err, file("missing.bin")));
}

// Files at the paths the commands are given are hostile: pipes, huge
// files, files that report no size, links of other users.
TEST_F(CtlSettings, HostileFilesAreRefusedAtOnce)
{
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
    writeBytes(file("huge.inf"), "");
    ASSERT_EQ(::truncate(file("huge.inf").c_str(), 2ll << 30), 0);
    struct Case {
        std::vector<std::string> words;
        const char *reason;
    };
    const Case cases[] = {
        {{"settings", "show", file("fifo")}, "not a regular file"},
        {{"settings", "get", file("fifo"), "k"}, "not a regular file"},
        {{"settings", "set", file("fifo"), "k", "v"}, "not a regular file"},
        {{"crc", file("fifo")}, "not a regular file"},
        {{"settings", "show", file("huge.inf")}, "larger than 1024 KiB"},
        {{"settings", "set", file("huge.inf"), "k", "v"}, "larger than 1024 KiB"},
    };
    for (const Case &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const CtlResult r = ctlRun(c.words);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1))
            << testing::PrintToString(c.words);
        EXPECT_EQ(r.status, ctl::kExitFailure) << testing::PrintToString(c.words);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    struct stat st;
    ASSERT_EQ(::stat(file("huge.inf").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2ll << 30) << "the huge file is left as it was";

    // A file that reports size 0 but has content is read to its end.
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(cmdline.empty());
    char expected[8];
    std::snprintf(expected, sizeof expected, "%04x\n",
                  crc16Usb(reinterpret_cast<const uint8_t *>(cmdline.data()), cmdline.size()));
    EXPECT_EQ(ctlRun({"crc", "/proc/self/cmdline"}).out, expected);

    if (geteuid() == 0) {
        // A user's link to a root-owned file: root's set must not replace
        // the file, nor root's show print it.
        writeBytes(file("root-owned"), "secret=1\r\n");
        ASSERT_EQ(::symlink(file("root-owned").c_str(), file("setting.inf").c_str()), 0);
        ASSERT_EQ(::lchown(file("setting.inf").c_str(), 65534, 65534), 0);
        for (const std::vector<std::string> &words :
             {std::vector<std::string>{"settings", "set", file("setting.inf"), "k", "v"},
              std::vector<std::string>{"settings", "show", file("setting.inf")}}) {
            const CtlResult r = ctlRun(words);
            EXPECT_EQ(r.status, ctl::kExitFailure);
            EXPECT_NE(r.err.find("symbolic link owned by another user"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(readBytes(file("root-owned")), "secret=1\r\n");
    }
#endif
    // A name near the file system's limit still gets its temporary file.
#ifdef _WIN32
    const std::string longName = file(std::string(259 - file("").size() - 4, 'n') + ".inf");
#else
    const std::string longName = file(std::string(245, 'n') + ".inf");
#endif
    const CtlResult r = ctlRun({"settings", "set", longName, "k", "v"});
    EXPECT_EQ(r.status, ctl::kExitOk) << r.err;
    EXPECT_EQ(readBytes(longName), "[global]\r\nk=v\r\n\r\n");
}

// Twenty sets of one file at once: each waits for the lock, none is lost.
TEST_F(CtlSettings, ConcurrentSetsAllArrive)
{
    const std::string path = file("setting.inf");
    std::vector<std::thread> runs;
    std::vector<int> status(20, -1);
    for (int i = 0; i < 20; ++i)
        runs.emplace_back([&, i] {
            status[i] =
                ctlRun({"settings", "set", path, "Key" + std::to_string(i), std::to_string(i)}).status;
        });
    for (std::thread &t : runs)
        t.join();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(status[i], ctl::kExitOk) << i;
        EXPECT_EQ(ctlRun({"settings", "get", path, "Key" + std::to_string(i)}).out, std::to_string(i) + "\n")
            << "change " << i << " lost";
    }
}

TEST(CtlArgs, ParsesOptionsAndPositionals)
{
    ctl::ParsedArgs p;
    std::string error;
    ASSERT_TRUE(ctl::parseArgs({"a", "--slot", "3", "-5", "--burst=0", "--v", "-", "--", "--v"},
                               {{"--slot", true}, {"--burst", true}, {"--v", false}}, p, error));
    EXPECT_EQ(p.positional, (std::vector<std::string>{"a", "-5", "-", "--v"}));
    EXPECT_EQ(p.value("--slot"), "3");
    EXPECT_EQ(p.value("--burst"), "0");
    EXPECT_TRUE(p.has("--v"));
    EXPECT_FALSE(p.has("--other"));
    EXPECT_EQ(p.value("--other", "dflt"), "dflt");

    const std::vector<std::string> bad[] = {{"--slot"}, {"--v=1"}, {"--nope"}};
    for (const auto &words : bad) {
        ctl::ParsedArgs q;
        EXPECT_FALSE(ctl::parseArgs(words, {{"--slot", true}, {"--v", false}}, q, error)) << words[0];
        EXPECT_NE(error.find(words[0].substr(0, words[0].find('='))), std::string::npos) << error;
    }

    uint64_t v = 99;
    EXPECT_TRUE(ctl::parseUnsigned("65535", 65535, v));
    EXPECT_EQ(v, 65535u);
    EXPECT_TRUE(ctl::parseUnsigned("18446744073709551615", UINT64_MAX, v));
    EXPECT_EQ(v, UINT64_MAX);
    for (const char *text : {"65536", "", "-1", "+1", "1 ", "0x1", "99999999999999999999"}) {
        v = 7;
        EXPECT_FALSE(ctl::parseUnsigned(text, 65535, v)) << text;
        EXPECT_EQ(v, 7u) << text;
    }
}

} // namespace

// updates and update exist in every build: with Qt they run, in the
// core-only build (Windows) they are listed as unavailable with their usage.
TEST(CtlFleet, UpdateCommandsListedInEveryBuild)
{
    const CtlResult help = ctlRun({"--help"});
    for (const char *name : {"updates", "update"}) {
        SCOPED_TRACE(name);
        const size_t at = help.out.find(std::string("\n  ") + name + " ");
        ASSERT_NE(at, std::string::npos) << help.out;
        const std::string line = help.out.substr(at + 1, help.out.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(name == std::string("update") ? "update the firmware of several targets"
                                                           : "check targets' update lists"),
                  std::string::npos)
            << line;
        const CtlResult own = ctlRun({name, "--help"});
        EXPECT_EQ(own.status, ctl::kExitOk);
        EXPECT_NE(own.out.find(std::string("Usage: velmora-ctl ") + name + " [EP...|--all]"),
                  std::string::npos)
            << own.out;
#ifdef VELMORA_CTL_NO_FLEET
        EXPECT_NE(line.find("not in this build (needs Qt)"), std::string::npos) << line;
        EXPECT_EQ(own.out.rfind("Not available in this build", 0), 0u) << own.out;
        const CtlResult run = ctlRun({name, "--all", "--latest"});
        EXPECT_EQ(run.status, ctl::kExitFailure);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("not available in this build"), std::string::npos) << run.err;
#else
        EXPECT_EQ(line.find("not in this build"), std::string::npos) << line;
        EXPECT_NE(own.out.find("Exit status:"), std::string::npos) << own.out;
#endif
    }
}

#ifndef VELMORA_CTL_NO_FLEET
// Bad command lines end before anything is sent or fetched.
TEST(CtlFleet, BadCommandLinesExitTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {"update"},
        {"update", "--all"},
        {"update", "--latest", "--entry", "2.5.0"},
        {"update", "--latest", "--image", "fw.bin", "--crc", "0000"},
        {"update", "--image", "fw.bin"},
        {"update", "--latest", "--crc", "1234"},
        {"update", "--image", "fw.bin", "--crc", "12345"},
        {"update", "--image", "fw.bin", "--crc", "xyz1"},
        {"update", "--latest", "--parallel", "0"},
        {"update", "--latest", "--parallel", "65"},
        {"update", "--latest", "--parallel", "four"},
        {"update", "--latest", "--filter", "0xZZ"},
        {"update", "--latest", "--update-host", "x", "--program-dir", "y"},
        {"update", "--latest", "--all", "fe80::1%1,19650"},
        {"update", "--latest", "fe80::1,19650"},
        {"update", "--latest", "fe80::1%1"},
        {"update", "--latest", "--bogus"},
        {"updates", "--driver", "fe80::1%1,19650"},
        {"updates", "--driver", "--all"},
        {"updates", "--driver", "--filter", "5"},
        {"updates", "--all", "fe80::1%1,19650"},
        {"updates", "--parallel", "0"},
        {"updates", "--latest"},
    };
    for (const auto &words : cases) {
        const CtlResult r = ctlRun(words);
        EXPECT_EQ(r.status, ctl::kExitUsage) << testing::PrintToString(words) << r.err;
        EXPECT_EQ(r.out, "") << testing::PrintToString(words);
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    }
}

class CtlFleetFiles : public ::testing::Test {
protected:
    TempDir dir;
};

// An image that cannot be used, or a driver library that is not there,
// fails before any target is searched for.
TEST_F(CtlFleetFiles, UnusableInputFailsBeforeAnythingIsSent)
{
    writeBytes(dir.file("nine.bin"), "123456789");
    writeBytes(dir.file("empty.bin"), "");
    const struct {
        std::vector<std::string> words;
        const char *message;
    } rows[] = {
        // b4c8 is the published CRC-16/USB check value of "123456789".
        {{"update", "--image", dir.file("nine.bin"), "--crc", "b4c9"},
         "has the CRC b4c8, not b4c9: nothing was sent"},
        {{"update", "--image", dir.file("empty.bin"), "--crc", "0000"}, "is empty: nothing was sent"},
        {{"update", "--image", dir.file("missing.bin"), "--crc", "0000"}, "missing.bin"},
        {{"update", "--image", dir.path().string(), "--crc", "0000"}, "not a regular file"},
        {{"updates", "--driver", "--program-dir", dir.path().string()}, "no driver library"},
    };
    for (const auto &row : rows) {
        const CtlResult r = ctlRun(row.words);
        EXPECT_EQ(r.status, ctl::kExitFailure) << testing::PrintToString(row.words);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
}
#endif
