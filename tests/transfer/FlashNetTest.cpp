// velmora-ctl flash and transfer against the emulator in the private test
// network (run through scripts/testnet.sh): the whole update with the
// stored image compared byte for byte, recovery from losses, and each
// bounded wait ending in its failure report.

#include "tests/support/ChildExit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Folder {
public:
    Folder()
    {
        std::string tmpl =
            (env("TMPDIR").empty() ? std::string("/tmp") : env("TMPDIR")) + "/velmora-flash-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()))
            path_ = buf.data();
    }
    ~Folder()
    {
        if (!path_.empty())
            std::system(("rm -rf " + quote(path_)).c_str());
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

// The emulator in target namespace 1, stopped by its process id.
class Emulator {
public:
    Emulator(const std::string &args, const std::string &log) : log_(log)
    {
        const std::string command = env("VELMORA_NS_T1") + " " +
                                    quote(env("VELMORA_PROGRAM_DIR") + "/velmora-target-sim") +
                                    " --log-port 0 " + args + " >" + quote(log) + " 2>&1";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        // It prints "ready" once its sockets are bound.
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            if (readFile(log).find("ready") != std::string::npos) {
                ready_ = true;
                break;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Emulator()
    {
        childexit::stopChecked(pid_, "velmora-target-sim", [this] { return readFile(log_); });
    }
    bool ready() const { return ready_; }

private:
    std::string log_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

struct CtlRun {
    int status = -1;
    std::vector<std::string> lines; // standard output
    std::string err;
};

CtlRun ctl(const std::string &args, const std::string &errFile)
{
    CtlRun r;
    const std::string command =
        quote(env("VELMORA_PROGRAM_DIR") + "/velmora-ctl") + " " + args + " 2>" + quote(errFile);
    FILE *p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char buf[512];
    std::string line;
    while (std::fgets(buf, sizeof buf, p)) {
        line += buf;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            r.lines.push_back(line);
            line.clear();
        }
    }
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = readFile(errFile);
    return r;
}

// Runs of the same line collapsed into one: the write state repeats.
std::vector<std::string> collapsed(const std::vector<std::string> &lines)
{
    std::vector<std::string> out;
    for (const auto &l : lines) {
        if (out.empty() || out.back() != l)
            out.push_back(l);
    }
    return out;
}

std::string endpoint()
{
    return quote(env("VELMORA_T1_ADDR") + "%" + env("VELMORA_C1_IF") + ",19650");
}

std::string writeImage(const Folder &folder, size_t size, const std::string &tail)
{
    std::mt19937 random{uint32_t(size)};
    std::string image(size, '\0');
    for (auto &c : image)
        c = char(random());
    image += tail;
    std::ofstream(folder.file("fw.bin"), std::ios::binary) << image;
    return image;
}

class FlashNet : public testing::Test {
protected:
    void SetUp() override
    {
        if (env("VELMORA_TESTNET") != "1")
            GTEST_SKIP() << "runs only inside scripts/testnet.sh";
        ASSERT_TRUE(folder.ok());
    }
    Folder folder;
};

const char *const kFast = " --pause-ms 20";

TEST_F(FlashNet, UpdatesTheTargetAndItComesBackWithTheNewVersion)
{
    struct Row {
        const char *name;
        const char *simArgs;
        const char *flashArgs;
        size_t size;
        const char *version;
    } rows[] = {
        {"stop-and-wait, version from the image", "--reboot-silence 300 --write-ms=400", "", 70000, "4.2.0"},
        {"whole windows, lost blocks and acknowledgements",
         "--reboot-silence 200 --write-ms=0 --window=8 --lose-blocks=0.05 --lose-acks=0.05 --seed=3 "
         "--new-version=5.0.0-rc1",
         " --burst 0", 200000, "5.0.0-rc1"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const std::string image = writeImage(folder, r.size, "VMVER:4.2.0\n");
        std::remove(folder.file("stored.bin").c_str());
        Emulator sim(std::string("--version 1.0.0 --image=") + quote(folder.file("stored.bin")) + " " +
                         r.simArgs,
                     folder.file("sim.log"));
        ASSERT_TRUE(sim.ready()) << readFile(folder.file("sim.log"));
        const CtlRun run =
            ctl("flash " + endpoint() + " " + quote(folder.file("fw.bin")) + kFast + r.flashArgs,
                folder.file("err.txt"));
        EXPECT_EQ(run.status, 0) << run.err;
        auto lines = collapsed(run.lines);
        ASSERT_GE(lines.size(), 9u);
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
                  (std::vector<std::string>{"Start FW Transfer", "Compleat Transfer", "Start Write FW"}));
        EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()),
                  (std::vector<std::string>{"State Write FW 0", "Complear Write FW", "Start Reboot Target",
                                            "Do Reboot Target", "End Reboot Target",
                                            std::string("Complear Reboot Target\tReady : ") + r.version}));
        EXPECT_EQ(readFile(folder.file("stored.bin")), image);
        // Progress of the data phase on standard error, ending at the total.
        EXPECT_NE(
            run.err.find("sent " + std::to_string(image.size()) + " of " + std::to_string(image.size())),
            std::string::npos)
            << run.err;
    }
}

TEST_F(FlashNet, BoundedWaitsEndInTheirFailureReport)
{
    struct Row {
        const char *name;
        const char *simArgs;
        const char *flashArgs;
        std::vector<std::string> tail;
    } rows[] = {
        {"write never ends",
         "--write-stuck=1 --write-ms=50",
         " --write-timeout 1",
         {"State Write FW 1", "Error Write FW\tError"}},
        {"never goes down",
         "--reboot-silence 0 --write-ms=0",
         " --down-timeout 1",
         {"Complear Write FW", "Start Reboot Target", "Error Reboot Target\tError"}},
        {"never comes back",
         "--reboot-silence forever --write-ms=0",
         " --up-timeout 1",
         {"Start Reboot Target", "Do Reboot Target", "Error Reboot Target\tError"}},
        {"transfer refused", "--ack-not-ok=1", "", {"Start FW Transfer", "Error Transfer\tError"}},
        {"write refused",
         "--write-fail=1",
         "",
         {"Compleat Transfer", "Start Write FW", "Error Write FW\tError"}},
    };
    writeImage(folder, 5000, "");
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Emulator sim(r.simArgs, folder.file("sim.log"));
        ASSERT_TRUE(sim.ready()) << readFile(folder.file("sim.log"));
        const auto start = std::chrono::steady_clock::now();
        const CtlRun run =
            ctl("flash " + endpoint() + " " + quote(folder.file("fw.bin")) + kFast + r.flashArgs,
                folder.file("err.txt"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(run.status, 1) << run.err;
        const auto lines = collapsed(run.lines);
        ASSERT_GE(lines.size(), r.tail.size());
        EXPECT_EQ(std::vector<std::string>(lines.end() - long(r.tail.size()), lines.end()), r.tail);
    }
}

TEST_F(FlashNet, TransferOnlyConfirmsTheCrc)
{
    const std::string image = writeImage(folder, 123457, "");
    Emulator sim("--lose-blocks=0.02 --seed=9 --received=" + quote(folder.file("received.bin")) +
                     " --image=" + quote(folder.file("stored.bin")),
                 folder.file("sim.log"));
    ASSERT_TRUE(sim.ready()) << readFile(folder.file("sim.log"));
    const CtlRun run =
        ctl("transfer " + endpoint() + " " + quote(folder.file("fw.bin")), folder.file("err.txt"));
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0].rfind("transferred 123457 bytes into slot 0, CRC confirmed", 0), 0u)
        << run.lines[0];
    EXPECT_EQ(readFile(folder.file("received.bin")), image);
    // Nothing was written: that takes the commit.
    EXPECT_EQ(readFile(folder.file("stored.bin")), "");

    // A slot the target does not have.
    const CtlRun bad = ctl("transfer " + endpoint() + " " + quote(folder.file("fw.bin")) + " --slot 1",
                           folder.file("err.txt"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.lines.empty());
    EXPECT_NE(bad.err.find("the transfer failed"), std::string::npos) << bad.err;
}

TEST_F(FlashNet, LargeBlocksAreAcknowledged)
{
    // Blocks beyond the 2 KiB the emulator once read were dropped unseen.
    for (const char *block : {"4096", "16384", "65000"}) {
        SCOPED_TRACE(block);
        const std::string image = writeImage(folder, 200003, "");
        // Files of their own per emulator: an old "ready" must not count.
        const std::string log = folder.file(std::string("sim-") + block + ".log");
        const std::string received = folder.file(std::string("received-") + block + ".bin");
        Emulator sim(std::string("--block=") + block + " --window=4 --windows=64 --received=" + quote(received), log);
        ASSERT_TRUE(sim.ready()) << readFile(log);
        const CtlRun run =
            ctl("transfer " + endpoint() + " " + quote(folder.file("fw.bin")), folder.file("err.txt"));
        EXPECT_EQ(run.status, 0) << run.err << readFile(log);
        EXPECT_EQ(readFile(received), image);
    }
}

} // namespace
