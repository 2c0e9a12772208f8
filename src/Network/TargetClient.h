#pragma once

#include "src/Network/Socket/Socket.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

enum class TransactResult : int {
    Ok = 0,
    Failed = 1,
    Timeout = 2,
    Refused = 3,
    Echoed = 4,
};

// One discovered target.
struct TargetInfo {
    uint64_t identifier = 0;
    std::string name;
};
using TargetMap = std::map<NodeAddress, TargetInfo>;

// A short-lived client of the target protocol: its own UDP socket, a name
// sent in Announce, an identifier filter for discovery and the list of the
// host's link-local interfaces. Used by one thread.
class TargetClient {
public:
    static constexpr uint64_t kAllOnes = ~uint64_t(0);
    static constexpr uint32_t kTransactMicros = 100000;

    TargetClient(uint64_t identifierFilter, std::string name); // may throw TORNE::Err
    ~TargetClient();
    TargetClient(const TargetClient &) = delete;
    TargetClient &operator=(const TargetClient &) = delete;

    bool open();
    void close();

    TransactResult transact(const NodeAddress &destination, const std::vector<uint8_t> &request,
                            uint16_t expected, std::vector<uint8_t> &reply);

    bool probe(const NodeAddress &destination);
    bool announce(const NodeAddress &destination);
    bool queryVersion(const NodeAddress &destination, std::string &text);
    bool queryUpdateSource(const NodeAddress &destination, std::string &text);
    bool reboot(const NodeAddress &destination, uint8_t mode);

    // Firmware image transfer and commit (ImageTransfer.cpp).
    bool transferImage(const NodeAddress &destination, int slotIndex, const uint8_t *image, uint64_t length,
                       uint64_t burstLimit);
    bool commitImage(const NodeAddress &destination, int slotIndex, uint16_t crc, uint16_t &state);
    // Optional progress of the data phase: bytes sent for the first time, total.
    void setTransferProgress(std::function<void(uint64_t sent, uint64_t total)> progress)
    {
        transferProgress_ = std::move(progress);
    }

    const std::vector<NodeAddress> &interfaces() const { return interfaces_; }
    const std::string &name() const { return name_; }
    uint64_t identifierFilter() const { return identifierFilter_; }
    Socket &socket() { return socket_; }

private:
    uint64_t identifierFilter_;
    std::string name_;
    std::vector<NodeAddress> interfaces_;
    Socket socket_;
    std::function<void(uint64_t, uint64_t)> transferProgress_;
};

// Multicast discovery on every interface of an open client (Discovery.cpp).
bool discover(TargetClient &client, TargetMap &result, uint8_t mode);
