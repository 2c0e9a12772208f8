#pragma once

// An emulated target's storage behind a UDP socket on ::1, on a thread of
// its own, recording every datagram it receives. The client under test
// talks to it over loopback only.

#include "src/Network/Message.h"
#include "src/Network/Socket/Socket.h"
#include "tools/sim/SimStorage.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class FakeTarget {
public:
    explicit FakeTarget(const std::vector<std::pair<std::string, std::string>> &options)
    {
        for (const auto &o : options) {
            std::string err;
            if (!storage_.setOption(o.first, o.second, err) || !err.empty())
                error_ = "option " + o.first + ": " + err;
        }
        if (!socket_.open(SocketKind::UdpV6Only)) {
            error_ = "cannot open the target's socket";
            return;
        }
        NodeAddress local;
        local.address[15] = 1; // ::1
        if (!socket_.bind(local)) {
            error_ = "cannot bind the target's socket to ::1";
            return;
        }
        address_ = local;
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeTarget()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    // Empty when the target runs.
    const std::string &error() const { return error_; }
    const NodeAddress &address() const { return address_; }

    std::vector<std::vector<uint8_t>> received()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // The received datagrams with the given command.
    std::vector<std::vector<uint8_t>> received(uint16_t command)
    {
        std::vector<std::vector<uint8_t>> out;
        for (auto &d : received()) {
            MessageHeader h;
            if (parseHeader(d.data(), d.size(), h) && h.command == command)
                out.push_back(d);
        }
        return out;
    }

private:
    void serve()
    {
        std::vector<uint8_t> buffer;
        NodeAddress source;
        while (!stop_) {
            if (socket_.waitReadable(20000) != 2)
                continue;
            if (!socket_.receiveFrom(buffer, source))
                continue;
            MessageHeader h;
            if (!parseHeader(buffer.data(), buffer.size(), h))
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(buffer);
            }
            if (h.command == msg::SlotInfo || h.command == msg::DataBlock || h.command == msg::ImageCommit) {
                storage_.handle(h, buffer.data(), buffer.size(), [&](const std::vector<uint8_t> &reply) {
                    socket_.sendTo(reply.data(), reply.size(), source, true);
                });
            }
        }
    }

    SimStorage storage_;
    Socket socket_;
    NodeAddress address_;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> received_;
    std::thread thread_;
};
