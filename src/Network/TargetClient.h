#pragma once

#include "src/Network/DatagramChannel.h"
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
// The Hello replies of one search, by source.
using HelloReplies = std::map<NodeAddress, std::vector<uint8_t>>;

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
    // Optional: asked before every new burst; when it says so the transfer
    // ends there (transferImage returns false and transferStopped() is
    // true): a fleet update stopped by the user sends no new data.
    void setTransferStop(std::function<bool()> stop) { transferStop_ = std::move(stop); }
    bool transferStopped() const { return transferStopped_; }

    const std::vector<NodeAddress> &interfaces() const { return interfaces_; }
    const std::string &name() const { return name_; }
    uint64_t identifierFilter() const { return identifierFilter_; }
    Socket &socket() { return socket_; }

    // Where the client's datagrams go and come from, and its clock: its own
    // socket unless another channel is set (null sets the socket back). The
    // channel must outlive its use by the client.
    void setChannel(DatagramChannel *channel) { channel_ = channel ? channel : &socketChannel_; }
    DatagramChannel &channel() { return *channel_; }
    // For tests with a scripted channel: the interface list open() would fill.
    void setInterfaces(std::vector<NodeAddress> interfaces) { interfaces_ = std::move(interfaces); }

private:
    uint64_t identifierFilter_;
    std::string name_;
    std::vector<NodeAddress> interfaces_;
    Socket socket_;
    SocketChannel socketChannel_{socket_};
    DatagramChannel *channel_ = &socketChannel_;
    std::function<void(uint64_t, uint64_t)> transferProgress_;
    std::function<bool()> transferStop_;
    bool transferStopped_ = false;
};

// Multicast discovery on every interface of an open client (Discovery.cpp).
//
// Anyone on the link can answer, from as many ports as it likes, so a
// search keeps at most kMaxDiscoverySources sources (far more than any real
// installation has: a handful of players with a few command ports each);
// replies from further sources are dropped. The announcements of one search
// share one deadline, kAnnounceMicros after the first: sources left when it
// has passed are not announced to but still filtered and listed, so one
// host answering from thousands of ports cannot stall the search.
constexpr size_t kMaxDiscoverySources = 256;
constexpr uint32_t kAnnounceMicros = 2000000;
bool discover(TargetClient &client, TargetMap &result, uint8_t mode);

// The pieces of discovery that the stand-in driver's search shares.
// keepHelloReply stores a well-formed Hello reply with the OK flag under its
// source (replacing an earlier one), unless the search already holds
// kMaxDiscoverySources other sources; false when the datagram was dropped.
bool keepHelloReply(HelloReplies &replies, const NodeAddress &source, const std::vector<uint8_t> &datagram);
// One listen window of micros after a Hello: every datagram that arrives is
// kept through keepHelloReply when accept (if given) takes its source. The
// window ends on time whatever keeps arriving. False when the wait failed.
bool listenForHelloReplies(DatagramChannel &channel, uint32_t micros, HelloReplies &replies,
                           const std::function<bool(const NodeAddress &)> &accept = nullptr);
// Announces the client to every source (within the announce deadline), then
// filters by identifier and fills result. False when an announcement failed
// at transport level (what was filled until then stays).
bool acceptHelloReplies(TargetClient &client, const HelloReplies &replies, TargetMap &result);
