#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

// The 20-byte endpoint record of the target protocol: IPv6 address and port
// in network byte order (as in a socket address) and the interface index
// (the IPv6 scope id, low 16 bits). It names adapters (port 0), targets and
// the destination of every command.
struct NodeAddress {
    uint8_t address[16] = {};
    uint16_t port = 0;            // network byte order
    uint16_t interfaceIndex = 0;  // host order

    // Port in host order.
    uint16_t hostPort() const
    {
        const auto *b = reinterpret_cast<const uint8_t *>(&port);
        return static_cast<uint16_t>((b[0] << 8) | b[1]);
    }
    void setHostPort(uint16_t p)
    {
        auto *b = reinterpret_cast<uint8_t *>(&port);
        b[0] = static_cast<uint8_t>(p >> 8);
        b[1] = static_cast<uint8_t>(p & 0xff);
    }
    bool isZero() const
    {
        static const NodeAddress zero;
        return *this == zero;
    }
    bool sameHost(const NodeAddress &o) const
    {
        return std::memcmp(address, o.address, 16) == 0 && interfaceIndex == o.interfaceIndex;
    }

    friend bool operator==(const NodeAddress &a, const NodeAddress &b)
    {
        return std::memcmp(a.address, b.address, 16) == 0 && a.port == b.port &&
               a.interfaceIndex == b.interfaceIndex;
    }
    friend bool operator!=(const NodeAddress &a, const NodeAddress &b) { return !(a == b); }

    // Map order: address bytes, then the two port bytes as stored (network
    // order), then the interface index ascending.
    friend bool operator<(const NodeAddress &a, const NodeAddress &b)
    {
        int c = std::memcmp(a.address, b.address, 16);
        if (c != 0)
            return c < 0;
        c = std::memcmp(&a.port, &b.port, 2);
        if (c != 0)
            return c < 0;
        return a.interfaceIndex < b.interfaceIndex;
    }
};
static_assert(sizeof(NodeAddress) == 20, "NodeAddress is a 20-byte wire record");

// One adapter's texts, UTF-8.
struct InterfaceInfo {
    std::string friendlyName;
    std::string description;
};

using InterfaceMap = std::map<NodeAddress, InterfaceInfo>;
