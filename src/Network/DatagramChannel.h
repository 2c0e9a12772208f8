#pragma once

#include "src/Network/Socket/Socket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What the protocol's waits need of the network and of time: one datagram
// out, one datagram in, a wait for readability and a monotonic clock in
// microseconds. A client talks through its own socket by default; tests and
// fuzz targets put a scripted channel with a fake clock in its place, so a
// reply stream of their choosing drives transactions, discovery and the
// transfer's acknowledgement wait without a network.
class DatagramChannel {
public:
    virtual ~DatagramChannel() = default;
    virtual bool sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry) = 0;
    virtual bool receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source) = 0;
    // 0 = the wait failed, 1 = the time ran out, 2 = readable.
    virtual int waitReadable(uint32_t timeoutMicros) = 0;
    virtual int64_t now() = 0;
};

// The channel over a real socket and nowMicros.
class SocketChannel : public DatagramChannel {
public:
    explicit SocketChannel(Socket &socket) : socket_(socket) {}
    bool sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry) override
    {
        return socket_.sendTo(data, length, destination, retry);
    }
    bool receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source) override
    {
        return socket_.receiveFrom(buffer, source);
    }
    int waitReadable(uint32_t timeoutMicros) override { return socket_.waitReadable(timeoutMicros); }
    int64_t now() override { return nowMicros(); }

private:
    Socket &socket_;
};

// Microseconds from now until deadline, 0 once it has passed. Every wait of
// the protocol keeps one absolute deadline and asks this after each
// datagram, so that no stream of datagrams can stretch it.
inline uint32_t microsUntil(int64_t deadline, int64_t now)
{
    if (now >= deadline)
        return 0;
    const int64_t left = deadline - now;
    return left > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(left);
}
