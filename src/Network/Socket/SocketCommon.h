#pragma once

// Pieces of the socket layer that both platform files use: the rules that
// do not depend on the system (which kinds are streams, which scope a bind
// or a send uses, how the adapter map is filled, how long a send is
// repeated) and the conversion between NodeAddress and the system's IPv6
// socket address. Private to the socket layer.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "src/Network/Socket/Socket.h"

#include <cstdint>
#include <cstring>

namespace socketcommon {

inline bool isStream(SocketKind kind)
{
    return kind == SocketKind::TcpV4 || kind == SocketKind::TcpV6Only || kind == SocketKind::TcpDual;
}

inline bool isV4(SocketKind kind)
{
    return kind == SocketKind::TcpV4 || kind == SocketKind::UdpV4;
}

// The IPV6_V6ONLY value a kind gets: 1 (IPv6 only), 0 (dual stack) or -1
// (an IPv4 socket: the option is not set).
inline int v6OnlyValue(SocketKind kind)
{
    if (kind == SocketKind::TcpV6Only || kind == SocketKind::UdpV6Only)
        return 1;
    if (kind == SocketKind::TcpDual || kind == SocketKind::UdpDual)
        return 0;
    return -1;
}

// Link-local as the adapters carry it: the first two bytes FE 80.
inline bool isLinkLocal(const uint8_t *address)
{
    return address[0] == 0xfe && address[1] == 0x80;
}

// The scope id a bind uses, which is also the interface the socket is fixed
// to: the interface index of a link-local address, or of ::1 when one is
// given; 0 (no scope, no fixed interface) otherwise.
inline uint32_t bindScope(const NodeAddress &local)
{
    static const uint8_t loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (isLinkLocal(local.address))
        return local.interfaceIndex;
    if (std::memcmp(local.address, loopback, 16) == 0 && local.interfaceIndex != 0)
        return local.interfaceIndex;
    return 0;
}

// The scope id of a send: the fixed interface wins over the destination's.
inline uint32_t sendScope(uint32_t fixedInterface, const NodeAddress &destination)
{
    return fixedInterface != 0 ? fixedInterface : destination.interfaceIndex;
}

inline void toSockaddr(const NodeAddress &a, uint32_t scope, sockaddr_in6 &sa)
{
    std::memset(&sa, 0, sizeof sa);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = a.port;
    std::memcpy(&sa.sin6_addr, a.address, 16);
    sa.sin6_scope_id = scope;
}

inline void fromSockaddr(const sockaddr_storage &ss, NodeAddress &out)
{
    NodeAddress a;
    if (ss.ss_family == AF_INET6) {
        const auto &sa = reinterpret_cast<const sockaddr_in6 &>(ss);
        std::memcpy(a.address, &sa.sin6_addr, 16);
        a.port = sa.sin6_port;
        a.interfaceIndex = static_cast<uint16_t>(sa.sin6_scope_id & 0xffff);
    } else if (ss.ss_family == AF_INET) {
        // An IPv4 peer is named by its IPv4-mapped IPv6 address.
        const auto &sa = reinterpret_cast<const sockaddr_in &>(ss);
        a.address[10] = 0xff;
        a.address[11] = 0xff;
        std::memcpy(a.address + 12, &sa.sin_addr, 4);
        a.port = sa.sin_port;
    }
    out = a;
}

// One IPv6 address of an adapter for the adapter map (the key is the
// address and the low 16 bits of the interface index): the new entry to
// fill in, or null when the map has that key already (the first one stays).
inline InterfaceInfo *newAdapterEntry(InterfaceMap &out, const void *address, uint32_t index)
{
    NodeAddress key;
    std::memcpy(key.address, address, 16);
    key.interfaceIndex = static_cast<uint16_t>(index & 0xffff);
    if (out.count(key) != 0)
        return nullptr;
    return &out[key];
}

// A send that keeps failing with "would block" or "no buffer space" is
// repeated, but not forever: a busy link drains its queue within
// milliseconds, so two seconds of nothing but these errors means the link
// is stuck (interface gone, queue never drains) and the send fails.
class SendRetry {
public:
    static constexpr int64_t kBoundMicros = 2000000;
    enum class Next { GiveUp, Now, AfterPause };

    // After a failed try that may be repeated: give up once the bound has
    // passed since the first failure; repeat at once for the first few
    // tries, then after a short pause so that the queue can drain.
    Next next()
    {
        const int64_t now = nowMicros();
        if (firstFailure_ < 0)
            firstFailure_ = now;
        else if (now - firstFailure_ > kBoundMicros)
            return Next::GiveUp;
        return ++attempts_ > 16 ? Next::AfterPause : Next::Now;
    }

private:
    int64_t firstFailure_ = -1;
    int attempts_ = 0;
};

} // namespace socketcommon
