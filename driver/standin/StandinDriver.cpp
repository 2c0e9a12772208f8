// The stand-in for the driver's library: what the configuration tool finds
// by its exported function "DllVelmorafind" in the program directory.
#include "driver/DriverFinder.h"
#include "driver/standin/DriverConfig.h"
#include "driver/standin/TargetSearch.h"

#include <cstdio>
#include <dlfcn.h>
#include <new>

namespace {

// The name this driver announces to the targets it finds.
constexpr const char *kClientName = "Velmora ASIO";

std::string libraryFolder()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&libraryFolder), &info) == 0 || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

class StandinFinder final : public DriverFinder {
public:
    explicit StandinFinder(DriverConfig config) : config_(std::move(config)) {}

    void release() override { delete this; }

    void findTargets(FoundTargetMap &result, const std::vector<NodeAddress> &addresses,
                     uint32_t interfaceNumber) override
    {
        searchTargets(result, addresses, interfaceNumber, config_.targetIdentifier, kClientName);
    }

    void settingsPath(std::string &out) override
    {
        // A driver keeps its settings folder in place; the tool writes the
        // main settings file there and expects the folder to exist.
        if (!config_.settingsPath.empty())
            driverconfig::ensureSettingsFolder(config_.settingsPath);
        out = config_.settingsPath;
    }

    void unused() override {}
    uint64_t targetIdentifier() override { return config_.targetIdentifier; }
    void updateHost(std::string &out) override { out = config_.updateHost; }
    void driverVersion(std::string &out) override { out = config_.driverVersion; }

private:
    ~StandinFinder() = default;
    DriverConfig config_;
};

} // namespace

extern "C" __attribute__((visibility("default"))) DriverFinder *DllVelmorafind()
{
    try {
        std::string error;
        DriverConfig config = driverconfig::load(libraryFolder(), error);
        if (!error.empty())
            std::fprintf(stderr, "velmora stand-in driver: %s\n", error.c_str());
        return new (std::nothrow) StandinFinder(std::move(config));
    } catch (...) {
        return nullptr;
    }
}
