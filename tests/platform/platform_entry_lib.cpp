#include "driver/DriverFinder.h"

#if defined(_WIN32)
#define VELMORA_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMORA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Answers only what the walk test asks.
class WalkFinder final : public DriverFinder {
public:
    void release() override { delete this; }
    void findTargets(FoundTargetMap &, const std::vector<NodeAddress> &, uint32_t) override {}
    void settingsPath(std::string &out) override { out = "walk-test-entry"; }
    void unused() override {}
    uint64_t targetIdentifier() override { return 42; }
    void updateHost(std::string &out) override { out.clear(); }
    void driverVersion(std::string &out) override { out.clear(); }
};

} // namespace

VELMORA_EXPORT DriverFinder *DllVelmorafind()
{
    return new WalkFinder;
}
