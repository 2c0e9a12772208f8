#include "tests/network/SimProcess.h"

#include <cstdlib>
#include <sstream>
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
    ChildOptions options;
    options.name = program.substr(program.rfind('/') + 1);
    child_ = std::make_unique<ChildProcess>(argv, options);
    if (!child_->started()) {
        error = options.name + " did not start: " + child_->startError();
        child_.reset();
        return false;
    }
    if (child_->waitForLine("ready", 10000))
        return true;
    error = options.name + (child_->running() ? " did not get ready within 10 s: " : " ended at start: ") +
            child_->output();
    return false;
}

void SimProcess::stop()
{
    if (child_)
        child_->stop();
}

std::string SimProcess::output() const
{
    return child_ ? child_->output() : std::string();
}
