#include "src/Platform/ParentDeath.h"
#include "tools/sim/SimServer.h"

#include <csignal>
#include <cstring>
#include <iostream>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

} // namespace

int main(int argc, char **argv)
{
    sim::SimConfig config;
    std::string err;
    if (!sim::parseArguments(std::vector<std::string>(argv + 1, argv + argc), config, err)) {
        std::cerr << "velmora-target-sim: " << err << "\n";
        return 2;
    }
    if (config.help) {
        std::cout << sim::helpText();
        return 0;
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal; // no SA_RESTART: the wait returns at once
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A killed test or demo script leaves no emulator behind.
    platform::endWithParent();

    sim::SimServer server(config, std::cout);
    if (!server.start(err)) {
        std::cerr << "velmora-target-sim: " << err << "\n";
        return 1;
    }
    server.run(stopRequested);
    std::cout << "stopped" << std::endl;
    return 0;
}
