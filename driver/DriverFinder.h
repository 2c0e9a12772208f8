#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The interface of the driver's library. The library exports the C function
// "DllVelmorafind", which returns a new DriverFinder; the tool calls its
// virtual operations in this slot order and releases it at once. Both the
// tool and the stand-in library include this header.

struct FoundTarget {
    uint32_t reserved = 0; // driver data the tool does not use
    uint16_t po = 0;       // the target's position among the outputs at its address
    std::string name;
    NodeAddress address;
};

using FoundTargetMap = std::map<NodeAddress, FoundTarget>;

class DriverFinder {
public:
    virtual void release() = 0;
    virtual void findTargets(FoundTargetMap &result, const std::vector<NodeAddress> &addresses,
                             uint32_t interfaceNumber) = 0;
    virtual void settingsPath(std::string &out) = 0;
    virtual void unused() = 0; // the fourth slot; the tool never calls it
    virtual uint64_t targetIdentifier() = 0;
    virtual void updateHost(std::string &out) = 0;
    virtual void driverVersion(std::string &out) = 0;

protected:
    ~DriverFinder() = default;
};

extern "C" {
typedef DriverFinder *(*DllVelmorafindFn)();
}

constexpr const char *kDriverEntryName = "DllVelmorafind";
