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

bool discover(TargetClient &client, TargetMap &result, uint8_t mode)
{
    Socket &socket = client.socket();
    std::map<NodeAddress, std::vector<uint8_t>> replies;
    const std::vector<uint8_t> hello = buildMessage(msg::Hello, 0, mode);
    std::vector<uint8_t> datagram;

    for (int pass = 0; pass < kPasses; ++pass) {
        for (const NodeAddress &iface : client.interfaces()) {
            // A failed send only leaves its error in the socket.
            (void)socket.sendTo(hello.data(), hello.size(), allNodes(iface.interfaceIndex), false);
            const int64_t start = nowMicros();
            int wait = socket.waitReadable(kListenMicros);
            while (wait == 2) {
                int64_t left = int64_t(kListenMicros) - (nowMicros() - start);
                if (left < 0)
                    left = 0;
                NodeAddress source;
                socket.receiveFrom(datagram, source);
                MessageHeader header;
                if (parseHeader(datagram.data(), datagram.size(), header) && header.command == msg::HelloReply &&
                    header.ok())
                    replies[source] = datagram;
                wait = socket.waitReadable(static_cast<uint32_t>(left));
            }
            if (wait == 0)
                return false;
        }
    }

    for (const auto &entry : replies) {
        if (!client.announce(entry.first))
            return false;
        MessageHeader header;
        parseHeader(entry.second.data(), entry.second.size(), header);
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
