#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The stand-in msiexec.exe as a program: started with exact argument lists
// (no shell in between), its record read back from the log file.

namespace {

std::string programPath()
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    return std::string(dir ? dir : "bin") + "/standin/msiexec.exe";
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ProgramRun {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string out; // standard output and error
};

// Runs the program with args; logPath empty: no VELMORA_MSIEXEC_LOG. The
// harness fails the test for a sanitizer line or status 86 of its own.
ProgramRun runProgram(const std::vector<std::string> &args, const std::string &logPath)
{
    ChildOptions options;
    if (logPath.empty())
        options.unsetEnv = {"VELMORA_MSIEXEC_LOG"};
    else
        options.setEnv = {"VELMORA_MSIEXEC_LOG=" + logPath};
    std::vector<std::string> argv{programPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess program(argv, options);
    ProgramRun run;
    run.status = program.wait(30000);
    run.out = program.output();
    return run;
}

class MsiexecStandin : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/velmora-msiexec-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        log = dir + "/msiexec.log";
        package = dir + "/velmora-asio-1.1.0.msi";
        std::ofstream(package, std::ios::binary) << std::string(4096, 'm');
    }
    void TearDown() override
    {
        unlink(log.c_str());
        unlink(package.c_str());
        rmdir(dir.c_str());
    }
    std::string dir, log, package;
};

TEST_F(MsiexecStandin, RecordsItsArgumentsAndThePackageSize)
{
    // The path as the update dialog passes it: every "/" turned into "\".
    std::string windowsPath = package;
    for (char &c : windowsPath)
        if (c == '/')
            c = '\\';
    const struct {
        const char *what;
        std::vector<std::string> args;
        std::string record;
    } rows[] = {
        {"install as the tool starts it", {"/i", package}, "/i\n" + package + "\n--\nsize 4096\n"},
        {"backslash path", {"/i", windowsPath}, "/i\n" + windowsPath + "\n--\nsize 4096\n"},
        {"no arguments", {}, "--\n"},
        {"missing package", {"/i", dir + "/none.msi"}, "/i\n" + dir + "/none.msi\n--\n"},
        {"a folder is no package", {"/i", dir}, "/i\n" + dir + "\n--\n"},
        {"package not last", {"/i", package, "/quiet"}, "/i\n" + package + "\n/quiet\n--\n"},
        {"empty argument", {"/i", ""}, "/i\n\n--\n"},
        {"line feed and tab escaped", {"a\nb", "c\td\r"}, "a\\x0Ab\nc\\x09d\\x0D\n--\n"},
        {"spaces and quotes kept",
         {"/i", "C:\\Program Files\\\"x\".msi"},
         "/i\nC:\\Program Files\\\"x\".msi\n--\n"},
        {"UTF-8 kept", {"/i", "\xc3\xa9t\xc3\xa9.msi"}, "/i\n\xc3\xa9t\xc3\xa9.msi\n--\n"},
        {"a --help among others is an argument", {"/i", "--help"}, "/i\n--help\n--\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        unlink(log.c_str());
        const ProgramRun run = runProgram(r.args, log);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(readFile(log), r.record);
    }
}

TEST_F(MsiexecStandin, AppendsOneRecordPerStart)
{
    ASSERT_EQ(runProgram({"/i", package}, log).status, 0);
    ASSERT_EQ(runProgram({"/x"}, log).status, 0);
    EXPECT_EQ(readFile(log), "/i\n" + package + "\n--\nsize 4096\n/x\n--\n");
}

TEST_F(MsiexecStandin, WithoutALogTheRecordGoesToStandardError)
{
    const ProgramRun run = runProgram({"/i", package}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/i\n" + package + "\n--\nsize 4096\n");
}

TEST_F(MsiexecStandin, AnUnwritableLogFailsWithAMessage)
{
    const ProgramRun run = runProgram({"/i", package}, dir + "/no-such-folder/msiexec.log");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("cannot open"), std::string::npos) << run.out;
}

TEST_F(MsiexecStandin, HelpSaysWhatItIs)
{
    const ProgramRun run = runProgram({"--help"}, log);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("stand-in"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("installs nothing"), std::string::npos) << run.out;
    struct stat st {};
    EXPECT_NE(stat(log.c_str(), &st), 0) << "--help wrote a record";
}

} // namespace
