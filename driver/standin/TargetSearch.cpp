#include "driver/standin/TargetSearch.h"

#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"

#include <cstring>
#include <map>

namespace {

// As discovery: three passes, each address listened to for 30 ms.
constexpr int kPasses = 3;
constexpr uint32_t kListenMicros = 30000;

bool isLinkLocal(const NodeAddress &a)
{
    return a.address[0] == 0xfe && (a.address[1] & 0xc0) == 0x80;
}

NodeAddress allNodes(uint16_t interfaceIndex)
{
    NodeAddress a;
    a.address[0] = 0xff;
    a.address[1] = 0x02;
    a.address[15] = 0x01;
    a.interfaceIndex = interfaceIndex;
    return a;
}

struct Probe {
    NodeAddress destination; // port set to the discovery port here
    bool multicast = false;
};

bool accepts(const Probe &probe, const NodeAddress &source)
{
    if (source.interfaceIndex != probe.destination.interfaceIndex && probe.destination.interfaceIndex != 0)
        return false;
    // A multicast is answered by every target on the link; a unicast only
    // by the host asked, from whichever command port it has.
    return probe.multicast || std::memcmp(source.address, probe.destination.address, 16) == 0;
}

// Sends Hello to each probe's destination in turn and keeps the replies
// that belong to it, by source (at most kMaxDiscoverySources of them, as
// discovery). A target answers from its command port, never from the
// discovery port, so replies are taken from any port. Each listen window
// ends on time whatever keeps arriving.
bool collectHellos(TargetClient &client, const std::vector<Probe> &probes, HelloReplies &replies)
{
    DatagramChannel &ch = client.channel();
    const std::vector<uint8_t> hello = buildMessage(msg::Hello);
    for (int pass = 0; pass < kPasses; ++pass) {
        for (const Probe &probe : probes) {
            NodeAddress to = probe.destination;
            to.setHostPort(msg::kDiscoveryPort);
            (void)ch.sendTo(hello.data(), hello.size(), to, false);
            if (!listenForHelloReplies(ch, kListenMicros, replies,
                                       [&](const NodeAddress &source) { return accepts(probe, source); }))
                return false;
        }
    }
    return true;
}

} // namespace

void numberOutputs(FoundTargetMap &result)
{
    // Map order within one address and interface is port order (the port
    // bytes are compared in network order, most significant first).
    const NodeAddress *host = nullptr;
    uint16_t po = 0;
    for (auto &entry : result) {
        if (!host || !entry.first.sameHost(*host)) {
            host = &entry.first;
            po = 0;
        }
        entry.second.po = ++po;
    }
}

bool searchTargets(FoundTargetMap &result, const std::vector<NodeAddress> &addresses, uint32_t interfaceNumber,
                   uint64_t identifierFilter, const std::string &clientName)
{
    try {
        TargetClient client(identifierFilter, clientName);
        if (!client.open())
            return false;

        std::vector<uint16_t> interfaces;
        for (const NodeAddress &iface : client.interfaces()) {
            if (interfaceNumber == 0 || iface.interfaceIndex == interfaceNumber)
                interfaces.push_back(iface.interfaceIndex);
        }

        TargetMap found;
        bool ok = true;
        if (interfaceNumber == 0) {
            ok = discover(client, found, 0);
        } else if (!interfaces.empty()) {
            HelloReplies replies;
            ok = collectHellos(client, {Probe{allNodes(interfaces.front()), true}}, replies) &&
                 acceptHelloReplies(client, replies, found);
        }

        // Extra addresses: link-local ones on their own interface when they
        // name one, else on each interface searched; others without scope.
        std::vector<Probe> probes;
        for (NodeAddress a : addresses) {
            if (a.isZero())
                continue;
            if (!isLinkLocal(a)) {
                a.interfaceIndex = 0;
                probes.push_back(Probe{a, false});
            } else if (a.interfaceIndex != 0) {
                if (interfaceNumber == 0 || a.interfaceIndex == interfaceNumber)
                    probes.push_back(Probe{a, false});
            } else {
                for (uint16_t index : interfaces) {
                    a.interfaceIndex = index;
                    probes.push_back(Probe{a, false});
                }
            }
        }
        if (ok && !probes.empty()) {
            HelloReplies replies;
            ok = collectHellos(client, probes, replies) && acceptHelloReplies(client, replies, found);
        }

        for (const auto &entry : found) {
            FoundTarget &target = result[entry.first];
            target.address = entry.first;
            target.name = entry.second.name;
            target.reserved = static_cast<uint32_t>(entry.second.identifier);
        }
        numberOutputs(result);
        return ok;
    } catch (...) {
        // Nothing may leave the library through its C entry.
        return false;
    }
}
