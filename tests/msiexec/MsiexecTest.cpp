#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Runs the program with args; logPath empty: no VELMORA_MSIEXEC_LOG.
ProgramRun runProgram(const std::vector<std::string> &args, const std::string &logPath)
{
    ProgramRun run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        if (std::string(*e).rfind("VELMORA_MSIEXEC_LOG=", 0) != 0)
            env.emplace_back(*e);
    }
    if (!logPath.empty())
        env.push_back("VELMORA_MSIEXEC_LOG=" + logPath);
    const std::string program = programPath();
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0)
            break; // a hung program: the status below tells
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        run.out.append(buffer, size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool hasSanitizerReport(const std::string &out)
{
    return out.find("Sanitizer") != std::string::npos || out.find("runtime error") != std::string::npos;
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
    EXPECT_FALSE(hasSanitizerReport(run.out)) << run.out;
}

TEST_F(MsiexecStandin, HelpSaysWhatItIs)
{
    const ProgramRun run = runProgram({"--help"}, log);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("stand-in"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("installs nothing"), std::string::npos) << run.out;
    EXPECT_FALSE(hasSanitizerReport(run.out)) << run.out;
    struct stat st {};
    EXPECT_NE(stat(log.c_str(), &st), 0) << "--help wrote a record";
}

} // namespace
