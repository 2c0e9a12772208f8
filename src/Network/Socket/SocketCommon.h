#pragma once

// Pieces of the socket layer that both platform files use: the rules that
// do not depend on the system (which kinds are streams, which scope a bind
// or a send uses, how the adapter map is filled and filtered, how long a
// send is repeated) and the conversion between NodeAddress and the
// system's IPv6 socket address. Private to the socket layer and its tests.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "src/Network/Socket/Socket.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// One adapter as the system reports it, in the form both platforms can
// give: its interface index (full width), its texts in UTF-8 (not yet cut
// to the buffer the adapter map allows) and its IPv6 unicast addresses in
// the order the system lists them.
struct AdapterRecord {
    uint32_t index = 0;
    std::string friendlyName;
    std::string description;
    std::vector<std::array<uint8_t, 16>> addresses;
};

// The texts of an adapter go through a buffer of this many bytes, the
// terminating zero included: a longer UTF-8 text becomes empty.
constexpr size_t kAdapterTextBuffer = 2049;

// The adapter map of a list of adapters, in their order: one entry per
// (address, port 0, interface index cut to 16 bits); the first adapter
// that lists a key keeps it. out is cleared first. Both platforms fill the
// map through this, so tests can feed it any adapter list.
void fillAdapterMap(const std::vector<AdapterRecord> &adapters, InterfaceMap &out);

// Erases every entry whose address does not begin with exactly the bytes
// FE 80 (not a 10-bit prefix: fe81:: and febf:: go too).
void keepLinkLocal(InterfaceMap &map);

// Whether a failed send call may be repeated: the system's "would block"
// and "no buffer space" codes (platform files define it).
bool retryableSendError(int code);

// A send that keeps failing with "would block" or "no buffer space" is
// repeated, but not forever: a busy link drains its queue within
// milliseconds, so two seconds of nothing but these errors means the link
// is stuck (interface gone, queue never drains) and the send fails.
class SendRetry {
public:
    static constexpr int64_t kBoundMicros = 2000000;
    static constexpr int kImmediateTries = 16;
    enum class Next { GiveUp, Now, AfterPause };

    // After a failed try that may be repeated, at time now: give up once
    // the bound has passed since the first failure; repeat at once for the
    // first few tries, then after a short pause so that the queue can drain.
    Next next(int64_t now)
    {
        if (firstFailure_ < 0)
            firstFailure_ = now;
        else if (now - firstFailure_ > kBoundMicros)
            return Next::GiveUp;
        return ++attempts_ > kImmediateTries ? Next::AfterPause : Next::Now;
    }

private:
    int64_t firstFailure_ = -1;
    int attempts_ = 0;
};

// What one send call did.
enum class SendAttempt {
    Whole,       // the whole datagram went out
    Short,       // fewer bytes than the datagram went out
    Retryable,   // failed with "would block" or "no buffer space"
    Interrupted, // interrupted by a signal before anything was sent
    Failed,      // failed with any other error
};

// The send rules of sendTo around one platform send call: with retry, a
// retryable failure or a short send sends the whole datagram again (within
// the bound of SendRetry, pausing after the first tries); without retry
// both fail. An interrupted call is repeated either way, within the same
// bound. attempt() makes one send call, clock() gives microseconds,
// pause() waits a moment.
template <typename Attempt, typename Clock, typename Pause>
bool sendWithRetry(bool retry, Attempt attempt, Clock clock, Pause pause)
{
    SendRetry again;
    for (;;) {
        const SendAttempt a = attempt();
        if (a == SendAttempt::Whole)
            return true;
        if (a == SendAttempt::Failed)
            return false;
        if (a != SendAttempt::Interrupted && !retry)
            return false;
        const SendRetry::Next next = again.next(clock());
        if (next == SendRetry::Next::GiveUp)
            return false;
        if (next == SendRetry::Next::AfterPause)
            pause();
    }
}

} // namespace socketcommon
