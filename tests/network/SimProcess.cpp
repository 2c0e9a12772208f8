#include "tests/network/SimProcess.h"

#include "src/Network/Socket/Socket.h"
#include "tests/support/ChildExit.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string envText(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string testNetworkProblem()
{
    if (envText("VELMORA_TESTNET") != "1")
        return "not inside the private test network: run this test through scripts/testnet.sh (ctest does)";
    if (envText("VELMORA_PROGRAM_DIR").empty())
        return "VELMORA_PROGRAM_DIR is not set: cannot find velmora-target-sim";
    if (::access((envText("VELMORA_PROGRAM_DIR") + "/velmora-target-sim").c_str(), X_OK) != 0)
        return "velmora-target-sim is missing in VELMORA_PROGRAM_DIR";
    return {};
}

bool SimProcess::start(int k, const std::vector<std::string> &args, std::string &error)
{
    return startProgram(k, envText("VELMORA_PROGRAM_DIR") + "/velmora-target-sim", args, error);
}

bool SimProcess::startProgram(int k, const std::string &program, const std::vector<std::string> &args,
                              std::string &error)
{
    stop();
    const size_t slash = program.rfind('/');
    name_ = slash == std::string::npos ? program : program.substr(slash + 1);
    const std::string prefix = envText(("VELMORA_NS_T" + std::to_string(k)).c_str());
    if (prefix.empty()) {
        error = "no prefix for target namespace " + std::to_string(k);
        return false;
    }
    std::vector<std::string> argv;
    std::istringstream words(prefix);
    for (std::string w; words >> w;)
        argv.push_back(w);
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());

    char path[] = "/tmp/velmora-sim-out.XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        error = "cannot create the emulator's output file";
        return false;
    }
    if (!outputPath_.empty())
        ::unlink(outputPath_.c_str());
    outputPath_ = path;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::vector<char *> cargv;
        for (auto &a : argv)
            cargv.push_back(const_cast<char *>(a.c_str()));
        cargv.push_back(nullptr);
        ::execvp(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(fd);
    if (pid_ < 0) {
        error = "fork failed";
        return false;
    }
    const int64_t deadline = nowMicros() + 10000000;
    while (nowMicros() < deadline) {
        const std::string out = output();
        if (out.find("\nready\n") != std::string::npos || out.rfind("ready\n", 0) == 0)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = name_ + " ended at start: " + out;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = name_ + " did not get ready within 10 s: " + output();
    stop();
    return false;
}

SimProcess::~SimProcess()
{
    stop();
    if (!outputPath_.empty())
        ::unlink(outputPath_.c_str());
}

void SimProcess::stop()
{
    if (pid_ > 0) {
        childexit::stopChecked(pid_, name_, [this] { return output(); });
        pid_ = -1;
    }
}

std::string SimProcess::output() const
{
    std::ifstream in(outputPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
