#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The socket layer of the target protocol: one header, one implementation
// per platform (Socket_win.cpp over Winsock 2 / IP Helper, Socket_posix.cpp
// over BSD sockets and getifaddrs). Synchronous; no threads or timers.

namespace TORNE {
// Thrown only when the process-wide start-up of the socket library fails.
class Err {
public:
    Err(const char *file, int line, int code, int data) : file(file), line(line), code(code), data(data) {}
    const char *file;
    int line;
    int code;
    int data;
};

// The assertion report: "TORNE ASSERT[file]Line:N[code:C Data:D]".
std::string assertText(const char *file, int line, int code, int data);
// Writes the report to standard error as one line between two line breaks
// and flushes the stream.
void reportAssert(const char *file, int line, int code, int data);
} // namespace TORNE

enum class SocketKind : int {
    TcpV4 = 0,
    UdpV4 = 1,
    TcpV6Only = 2,
    UdpV6Only = 3,
    TcpDual = 4,
    UdpDual = 5,
};

class Socket {
public:
    static constexpr size_t kReceiveSize = 1500;

    Socket(); // starts the socket library once per process; may throw TORNE::Err
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    bool open(SocketKind kind);
    bool bind(NodeAddress &local);
    bool sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry);
    bool receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source);
    // 0 = the wait failed, 1 = the time ran out, 2 = readable.
    int waitReadable(uint32_t timeoutMicros);
    void close();

    bool isOpen() const;
    int lastError() const { return lastError_; }
    uint32_t fixedInterface() const { return fixedInterface_; }
    SocketKind kind() const { return kind_; }

private:
    intptr_t handle_;
    SocketKind kind_ = SocketKind::UdpV6Only;
    int lastError_ = 0;
    uint32_t fixedInterface_ = 0;
};

// Microseconds of the host's high-resolution monotonic counter.
int64_t nowMicros();

bool listAdapterAddresses(InterfaceMap &out);
bool listLinkLocalInterfaces(InterfaceMap &out);

template <typename V>
bool hasSiblingPort(const std::map<NodeAddress, V> &map, const NodeAddress &key)
{
    for (const auto &entry : map) {
        if (entry.first.sameHost(key) && entry.first != key)
            return true;
    }
    return false;
}
