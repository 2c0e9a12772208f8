#pragma once

#include "src/Network/DatagramChannel.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// A datagram channel with a fake clock for tests and fuzz targets. Scripted
// datagrams arrive at the times they are queued for; a responder may queue
// replies to what the client sends; a flood, when on, has a foreign datagram
// waiting at every moment. Every receive costs receiveCost microseconds of
// the fake clock, so a reader that keeps reading while data waits never
// reaches its deadline unless it checks the clock. After maxReceives
// receives every wait fails (a client that never stops reading ends with a
// failure instead of running forever).
class ScriptedChannel : public DatagramChannel {
public:
    struct Datagram {
        std::vector<uint8_t> bytes;
        NodeAddress source;
    };
    struct Sent {
        int64_t time;
        std::vector<uint8_t> bytes;
        NodeAddress destination;
    };

    int64_t clock = 1000000;
    int64_t receiveCost = 2;
    size_t maxReceives = 10000000;
    bool flood = false;
    Datagram floodDatagram;
    bool sendFails = false;
    // Called for each datagram sent; may queue replies with at().
    std::function<void(ScriptedChannel &, const Sent &)> responder;
    std::vector<Sent> sent;
    size_t receives = 0;

    void at(int64_t time, std::vector<uint8_t> bytes, const NodeAddress &source)
    {
        queue_.emplace(time, Datagram{std::move(bytes), source});
    }
    void after(int64_t delay, std::vector<uint8_t> bytes, const NodeAddress &source)
    {
        at(clock + delay, std::move(bytes), source);
    }
    size_t pending() const { return queue_.size(); }

    bool sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool) override
    {
        if (sendFails)
            return false;
        sent.push_back(Sent{clock, std::vector<uint8_t>(data, data + length), destination});
        if (responder)
            responder(*this, sent.back());
        return true;
    }
    bool receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source) override
    {
        ++receives;
        clock += receiveCost;
        auto it = queue_.begin();
        if (it != queue_.end() && it->first <= clock) {
            buffer = std::move(it->second.bytes);
            source = it->second.source;
            queue_.erase(it);
            return true;
        }
        if (flood) {
            buffer = floodDatagram.bytes;
            source = floodDatagram.source;
            return true;
        }
        buffer.clear();
        return false;
    }
    int waitReadable(uint32_t timeoutMicros) override
    {
        if (receives >= maxReceives)
            return 0;
        if (flood)
            return 2;
        auto it = queue_.begin();
        if (it != queue_.end() && it->first <= clock + int64_t(timeoutMicros)) {
            if (it->first > clock)
                clock = it->first;
            return 2;
        }
        clock += timeoutMicros;
        return 1;
    }
    int64_t now() override { return clock; }

private:
    std::multimap<int64_t, Datagram> queue_;
};

namespace scripted {

// fe80::LAST on interface index, port in host order.
inline NodeAddress node(uint8_t last, uint16_t port, uint16_t index = 3)
{
    NodeAddress a;
    a.address[0] = 0xfe;
    a.address[1] = 0x80;
    a.address[15] = last;
    a.setHostPort(port);
    a.interfaceIndex = index;
    return a;
}

// The command field of a datagram as sent (bytes 4 and 5, little-endian).
inline uint16_t commandOf(const std::vector<uint8_t> &d)
{
    return d.size() >= 6 ? uint16_t(d[4] | (d[5] << 8)) : 0xffff;
}

} // namespace scripted
