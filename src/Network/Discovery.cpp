#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"

namespace {

// Each interface is listened to for this long after its Hello, in each of
// the three passes.
constexpr uint32_t kListenMicros = 30000;
constexpr int kPasses = 3;

NodeAddress allNodes(uint16_t interfaceIndex)
{
    NodeAddress a;
    a.address[0] = 0xff;
    a.address[1] = 0x02;
    a.address[15] = 0x01;
    a.setHostPort(msg::kDiscoveryPort);
    a.interfaceIndex = interfaceIndex;
    return a;
}

} // namespace

bool keepHelloReply(HelloReplies &replies, const NodeAddress &source, const std::vector<uint8_t> &datagram)
{
    MessageHeader header;
    if (!parseHeader(datagram.data(), datagram.size(), header) || header.command != msg::HelloReply ||
        !header.ok())
        return false;
    const auto it = replies.find(source);
    if (it != replies.end()) {
        it->second = datagram;
        return true;
    }
    if (replies.size() >= kMaxDiscoverySources)
        return false;
    replies.emplace(source, datagram);
    return true;
}

bool listenForHelloReplies(DatagramChannel &ch, uint32_t micros, HelloReplies &replies,
                           const std::function<bool(const NodeAddress &)> &accept)
{
    std::vector<uint8_t> datagram;
    const int64_t deadline = ch.now() + micros;
    int wait = ch.waitReadable(micros);
    while (wait == 2) {
        NodeAddress source;
        ch.receiveFrom(datagram, source);
        if (!accept || accept(source))
            keepHelloReply(replies, source, datagram);
        const uint32_t left = microsUntil(deadline, ch.now());
        if (left == 0)
            break;
        wait = ch.waitReadable(left);
    }
    return wait != 0;
}

bool acceptHelloReplies(TargetClient &client, const HelloReplies &replies, TargetMap &result)
{
    const int64_t announceDeadline = client.channel().now() + kAnnounceMicros;
    for (const auto &entry : replies) {
        // Past the deadline the rest are listed without an announcement.
        if (microsUntil(announceDeadline, client.channel().now()) > 0 && !client.announce(entry.first))
            return false;
        MessageHeader header;
        if (!parseHeader(entry.second.data(), entry.second.size(), header))
            continue;
        const uint64_t identifier = uint64_t(header.param0) | (uint64_t(header.param1) << 16) |
                                    (uint64_t(header.param2) << 32) | (uint64_t(header.param3) << 48);
        const uint64_t filter = client.identifierFilter();
        if (filter != 0 && identifier != 0 && identifier != filter)
            continue;
        if (identifier == TargetClient::kAllOnes)
            continue;
        TargetInfo &info = result[entry.first];
        info.identifier = identifier;
        // A pad count reaching into the header gives an empty name.
        info.name.assign(reinterpret_cast<const char *>(entry.second.data()) + msg::kHeaderSize,
                         payloadLength(header));
    }
    return true;
}

bool discover(TargetClient &client, TargetMap &result, uint8_t mode)
{
    DatagramChannel &ch = client.channel();
    HelloReplies replies;
    const std::vector<uint8_t> hello = buildMessage(msg::Hello, 0, mode);

    for (int pass = 0; pass < kPasses; ++pass) {
        for (const NodeAddress &iface : client.interfaces()) {
            // A failed send only leaves its error in the socket.
            (void)ch.sendTo(hello.data(), hello.size(), allNodes(iface.interfaceIndex), false);
            if (!listenForHelloReplies(ch, kListenMicros, replies))
                return false;
        }
    }
    return acceptHelloReplies(client, replies, result);
}
