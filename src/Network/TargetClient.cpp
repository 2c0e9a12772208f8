#include "src/Network/TargetClient.h"

#include "src/Network/Message.h"

TargetClient::TargetClient(uint64_t identifierFilter, std::string name)
    : identifierFilter_(identifierFilter), name_(std::move(name))
{
}

TargetClient::~TargetClient()
{
    close();
}

bool TargetClient::open()
{
    InterfaceMap map;
    if (!listLinkLocalInterfaces(map))
        return false;
    socket_.close();
    if (map.empty())
        return false;
    interfaces_.clear();
    for (const auto &entry : map) {
        if (entry.first.interfaceIndex != 0)
            interfaces_.push_back(entry.first);
    }
    if (!socket_.open(SocketKind::UdpV6Only))
        return false;
    NodeAddress any;
    return socket_.bind(any);
}

void TargetClient::close()
{
    socket_.close();
}

TransactResult TargetClient::transact(const NodeAddress &destination, const std::vector<uint8_t> &request,
                                      uint16_t expected, std::vector<uint8_t> &reply)
{
    reply.clear();
    MessageHeader sent;
    if (!parseHeader(request.data(), request.size(), sent))
        return TransactResult::Failed; // not a datagram of this protocol
    DatagramChannel &ch = channel();
    if (!ch.sendTo(request.data(), request.size(), destination, true))
        return TransactResult::Failed;

    // One absolute deadline, checked after every datagram: a stream of
    // foreign datagrams cannot extend the transaction.
    const int64_t deadline = ch.now() + kTransactMicros;
    int wait = ch.waitReadable(kTransactMicros);
    std::vector<uint8_t> datagram;
    for (;;) {
        if (wait == 0)
            return TransactResult::Failed;
        if (wait == 1)
            return TransactResult::Timeout;

        NodeAddress source;
        ch.receiveFrom(datagram, source);
        MessageHeader header;
        if (parseHeader(datagram.data(), datagram.size(), header)) {
            if (header.command == sent.command)
                return TransactResult::Echoed;
            if (header.command == expected) {
                if (!header.ok()) {
                    reply = std::move(datagram);
                    return TransactResult::Refused;
                }
                if (source == destination) {
                    reply = std::move(datagram);
                    return TransactResult::Ok;
                }
            }
        }
        const uint32_t left = microsUntil(deadline, ch.now());
        if (left == 0)
            return TransactResult::Timeout;
        wait = ch.waitReadable(left);
    }
}

bool TargetClient::probe(const NodeAddress &destination)
{
    std::vector<uint8_t> reply;
    return transact(destination, buildMessage(msg::Hello), msg::HelloReply, reply) == TransactResult::Ok;
}

bool TargetClient::announce(const NodeAddress &destination)
{
    std::vector<uint8_t> reply;
    const auto request = buildMessage(msg::Announce, msg::kFlagOk, 0, 0, 0, 0,
                                      reinterpret_cast<const uint8_t *>(name_.data()), name_.size());
    return transact(destination, request, msg::AnnounceReply, reply) != TransactResult::Failed;
}

namespace {

bool queryText(TargetClient &client, const NodeAddress &destination, uint16_t command, uint16_t expected,
               std::string &text)
{
    text.clear();
    std::vector<uint8_t> reply;
    const TransactResult r = client.transact(destination, buildMessage(command), expected, reply);
    if (r == TransactResult::Failed)
        return false;
    if (r == TransactResult::Ok) {
        MessageHeader header;
        if (parseHeader(reply.data(), reply.size(), header)) {
            const size_t length = payloadLength(header);
            text.assign(reinterpret_cast<const char *>(reply.data()) + msg::kHeaderSize, length);
        }
    }
    return true;
}

} // namespace

bool TargetClient::queryVersion(const NodeAddress &destination, std::string &text)
{
    return queryText(*this, destination, msg::VersionQuery, msg::VersionReply, text);
}

bool TargetClient::queryUpdateSource(const NodeAddress &destination, std::string &text)
{
    return queryText(*this, destination, msg::SourceQuery, msg::SourceReply, text);
}

bool TargetClient::reboot(const NodeAddress &destination, uint8_t mode)
{
    std::vector<uint8_t> reply;
    return transact(destination, buildMessage(msg::Reboot, 0, mode), msg::RebootReply, reply) ==
           TransactResult::Ok;
}
