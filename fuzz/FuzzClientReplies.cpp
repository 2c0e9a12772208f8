// The client's reply handling: the input is a stream of datagrams (each a
// 2-byte little-endian length, a source selector byte, an arrival delay
// byte in milliseconds, then the bytes) that a scripted channel with a fake
// clock delivers while the client runs a transaction, a discovery and an
// image transfer. Invariants: every wait keeps its deadline, an Ok reply is
// well-formed, carries the expected command and the OK flag and came from
// the destination, and discovery lists no more sources than its cap.
#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"
#include "tests/network/ScriptedChannel.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

NodeAddress node(uint8_t last, uint16_t port)
{
    NodeAddress a;
    a.address[0] = 0xfe;
    a.address[1] = 0x80;
    a.address[15] = last;
    a.setHostPort(port);
    a.interfaceIndex = 3;
    return a;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const NodeAddress target = node(7, 19650);
    ScriptedChannel ch;
    ch.maxReceives = 100000;
    int64_t at = ch.clock;
    for (size_t i = 0; i + 4 <= size;) {
        const size_t n = size_t(data[i] | (data[i + 1] << 8)) % 1600;
        const uint8_t who = data[i + 2];
        at += int64_t(data[i + 3]) * 1000;
        i += 4;
        const size_t take = n < size - i ? n : size - i;
        const NodeAddress source = (who & 1) ? target : node(uint8_t(who | 1), uint16_t(19650 + (who >> 1)));
        ch.at(at, std::vector<uint8_t>(data + i, data + i + take), source);
        i += take;
    }

    TargetClient client(0, "fuzz");
    client.setChannel(&ch);
    client.setInterfaces({node(1, 0)});

    const int64_t start = ch.clock;
    std::vector<uint8_t> reply;
    const TransactResult r =
        client.transact(target, buildMessage(msg::VersionQuery), msg::VersionReply, reply);
    if (ch.clock - start > int64_t(TargetClient::kTransactMicros) + ch.receiveCost)
        std::abort();
    MessageHeader h;
    if (r == TransactResult::Ok &&
        (!parseHeader(reply.data(), reply.size(), h) || h.command != msg::VersionReply || !h.ok()))
        std::abort();
    if ((r == TransactResult::Ok || r == TransactResult::Refused) == reply.empty())
        std::abort();

    TargetMap found;
    const int64_t d0 = ch.clock;
    (void)discover(client, found, 0);
    if (found.size() > kMaxDiscoverySources)
        std::abort();
    // Three windows of 30 ms, then announcements within their deadline.
    if (ch.clock - d0 > 3 * (30000 + ch.receiveCost) + int64_t(kAnnounceMicros) + 100000 + ch.receiveCost)
        std::abort();

    const uint8_t image[3000] = {1, 2, 3};
    const int64_t t0 = ch.clock;
    (void)client.transferImage(target, 0, image, sizeof image, 0);
    // Queries, at most 500 resends of a burst of 100 ms each per block, check.
    if (ch.clock - t0 > 3 * 100002 + int64_t(sizeof image) * 501 * 100002)
        std::abort();
    return 0;
}
