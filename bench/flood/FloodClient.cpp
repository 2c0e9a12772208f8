// The client side of the flood benchmark (bench/flood/run.sh): one probe,
// discovery or image transfer through the protocol library, timed inside the
// process (no program start in the figure), with what the client's socket
// received meanwhile.
//
//   velmora-bench-flood-client probe EP [--port P]
//   velmora-bench-flood-client discover IF [--port P]
//   velmora-bench-flood-client transfer EP BYTES [--burst N] [--port P]
//
// EP is ADDRESS%IF,PORT. --port binds the client's socket to port P instead
// of one the system chooses, so that a flood can aim at it before the client
// sends anything. discover searches on interface IF only.
//
// Output, one line:
//   RESULT MICROS received=N foreign=N dropped=N targets=N last=C
// RESULT is ok or failed (the outcome of the operation: a probe of a silent
// target fails), MICROS the time the operation took, received the datagrams
// the client read, foreign those of them that were not well-formed or
// carried command 99, dropped the datagrams the namespace's UDP receive
// buffers turned away meanwhile (Udp6RcvbufErrors: the client's queue was
// full, so the flood outran the reader), targets what discovery listed,
// last the command code of the last request the client sent (where a failed
// transfer stopped: 26 a slot query, 28 the data phase, 30 the final check).
// Exit status 0 when the operation ran (whatever its outcome), 1 when the
// client could not start, 2 on a bad command line.

#include "src/Network/AddressText.h"
#include "src/Network/Message.h"
#include "src/Network/TargetClient.h"

#include <net/if.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kForeignCommand = 99;

// The client's own channel, counting what it reads.
class CountingChannel : public DatagramChannel {
public:
    explicit CountingChannel(DatagramChannel &inner) : inner_(inner) {}
    bool sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry) override
    {
        MessageHeader h;
        if (parseHeader(data, length, h))
            lastSent = h.command;
        return inner_.sendTo(data, length, destination, retry);
    }
    bool receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source) override
    {
        const bool ok = inner_.receiveFrom(buffer, source);
        ++received;
        MessageHeader h;
        if (!parseHeader(buffer.data(), buffer.size(), h) || h.command == kForeignCommand)
            ++foreign;
        return ok;
    }
    int waitReadable(uint32_t timeoutMicros) override { return inner_.waitReadable(timeoutMicros); }
    int64_t now() override { return inner_.now(); }

    uint64_t received = 0;
    uint64_t foreign = 0;
    int lastSent = -1;

private:
    DatagramChannel &inner_;
};

// Udp6RcvbufErrors of this network namespace, or -1.
long long receiveBufferErrors()
{
    std::ifstream in("/proc/net/snmp6");
    std::string key;
    long long value = 0;
    while (in >> key >> value) {
        if (key == "Udp6RcvbufErrors")
            return value;
    }
    return -1;
}

const char kUsage[] = "usage: velmora-bench-flood-client probe EP [--port P]\n"
                      "       velmora-bench-flood-client discover IF [--port P]\n"
                      "       velmora-bench-flood-client transfer EP BYTES [--burst N] [--port P]\n"
                      "EP is ADDRESS%IF,PORT. One timed operation of the flood benchmark\n"
                      "(bench/flood/run.sh); its output line:\n"
                      "  RESULT MICROS received=N foreign=N dropped=N targets=N last=C\n";

int usage(const std::string &why)
{
    std::cerr << "flood-client: " << why << "\n" << kUsage;
    return 2;
}

bool number(const std::string &text, unsigned long long max, unsigned long long &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return value <= max;
}

bool endpoint(const std::string &text, NodeAddress &ep)
{
    const size_t percent = text.find('%');
    const size_t comma = text.rfind(',');
    if (percent == std::string::npos || comma == std::string::npos || comma < percent)
        return false;
    NodeAddress a;
    if (!parseAddress(text.substr(0, percent), a.address))
        return false;
    const unsigned index = if_nametoindex(text.substr(percent + 1, comma - percent - 1).c_str());
    unsigned long long port = 0;
    if (index == 0 || index > 0xffff || !number(text.substr(comma + 1), 65535, port) || port == 0)
        return false;
    a.interfaceIndex = uint16_t(index);
    a.setHostPort(uint16_t(port));
    ep = a;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> pos;
    unsigned long long port = 0, burst = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" || a == "--burst") {
            if (i + 1 >= argc)
                return usage(a + " needs a value");
            unsigned long long &v = a == "--port" ? port : burst;
            if (!number(argv[++i], a == "--port" ? 65535 : ~0ull, v))
                return usage("bad " + a);
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            pos.push_back(a);
        }
    }
    if (pos.empty())
        return usage("no operation");
    const std::string op = pos[0];
    NodeAddress ep;
    unsigned discoverIndex = 0;
    unsigned long long bytes = 0;
    if (op == "probe" && pos.size() == 2) {
        if (!endpoint(pos[1], ep))
            return usage("bad endpoint " + pos[1]);
    } else if (op == "discover" && pos.size() == 2) {
        discoverIndex = if_nametoindex(pos[1].c_str());
        if (discoverIndex == 0)
            return usage("no interface " + pos[1]);
    } else if (op == "transfer" && pos.size() == 3) {
        if (!endpoint(pos[1], ep))
            return usage("bad endpoint " + pos[1]);
        if (!number(pos[2], 1ull << 30, bytes))
            return usage("bad byte count (up to 1 GiB)");
    } else {
        return usage("bad command line");
    }

    std::vector<uint8_t> image(bytes);
    uint32_t x = 2463534242u;
    for (auto &b : image) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x);
    }

    try {
        TargetClient client(op == "discover" ? 0 : TargetClient::kAllOnes,
                            op == "discover" ? "flood-bench" : "");
        if (!client.open()) {
            std::cerr << "flood-client: cannot open the client (no link-local interface?)\n";
            return 1;
        }
        if (port != 0) {
            // The same socket layer, on a port known in advance.
            NodeAddress local;
            local.setHostPort(uint16_t(port));
            if (!client.socket().open(SocketKind::UdpV6Only) || !client.socket().bind(local)) {
                std::cerr << "flood-client: cannot bind port " << port << " (error "
                          << client.socket().lastError() << ")\n";
                return 1;
            }
        }
        if (op == "discover") {
            std::vector<NodeAddress> only;
            for (const NodeAddress &i : client.interfaces()) {
                if (i.interfaceIndex == discoverIndex)
                    only.push_back(i);
            }
            if (only.empty()) {
                std::cerr << "flood-client: " << pos[1] << " has no link-local address\n";
                return 1;
            }
            client.setInterfaces(only);
        }
        CountingChannel counting(client.channel());
        client.setChannel(&counting);

        TargetMap targets;
        const long long dropsBefore = receiveBufferErrors();
        const int64_t start = nowMicros();
        bool ok = false;
        if (op == "probe")
            ok = client.probe(ep);
        else if (op == "discover")
            ok = discover(client, targets, 0);
        else
            ok = client.transferImage(ep, 0, image.data(), image.size(), burst);
        const int64_t micros = nowMicros() - start;
        const long long dropsAfter = receiveBufferErrors();
        client.setChannel(nullptr);

        std::printf("%s %lld received=%llu foreign=%llu dropped=%lld targets=%zu last=%d\n",
                    ok ? "ok" : "failed", static_cast<long long>(micros),
                    static_cast<unsigned long long>(counting.received),
                    static_cast<unsigned long long>(counting.foreign),
                    dropsBefore < 0 || dropsAfter < 0 ? -1 : dropsAfter - dropsBefore, targets.size(),
                    counting.lastSent);
    } catch (const TORNE::Err &) {
        std::cerr << "flood-client: the socket library did not start\n";
        return 1;
    }
    return 0;
}
