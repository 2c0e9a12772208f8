#pragma once

#include "tools/sim/SimOptions.h"

#include <csignal>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <netinet/in.h>

// The emulator's network side: the discovery socket on port 19642, one
// command socket per target (and a second one for the other-port fault),
// the TCP log streams, and the loop that serves them. Linux only; it runs
// inside the private test network.

namespace sim {

class SimServer {
public:
    SimServer(SimConfig &config, std::ostream &out);
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Checks that the interface is a private one and binds every socket.
    bool start(std::string &err);
    // Serves until stop becomes non-zero.
    void run(const volatile std::sig_atomic_t &stop);

    const std::string &interfaceName() const { return interface_; }

    // Datagrams read from one socket before the others get their turn.
    static constexpr int kReceivesPerRound = 64;
    // Log connections one target keeps open; further ones are closed.
    static constexpr size_t kMaxLogClients = 16;
    // The largest datagram read: a data block of 65536 bytes with its header.
    static constexpr size_t kMaxDatagram = 65536 + 16;
    // Delayed replies held at once; beyond that new ones are dropped (a
    // flood against a delaying target must not grow the queue without end).
    static constexpr size_t kMaxPending = 65536;

private:
    struct Endpoint {
        SimTarget *target = nullptr;
        int commandFd = -1;
        int otherFd = -1;
    };
    struct LogServer {
        std::string address;
        SimTarget *target = nullptr;
        int listenFd = -1;
        std::vector<int> clients;
        int reboots = 0;
        int64_t nextLine = 0;
        uint64_t lineCount = 0;
    };
    struct Pending {
        int fd;
        sockaddr_in6 destination;
        std::vector<uint8_t> datagram;
        std::string who;
    };

    bool bindUdp(const std::string &address, uint16_t port, int &fd, std::string &err);
    void receive(int fd, SimTarget *target, bool discovery);
    void answer(SimTarget &target, const Endpoint &ep, const uint8_t *data, size_t size,
                const sockaddr_in6 &source);
    void sendNow(const Pending &p);
    // True when log clients came or went (the poll set must be rebuilt).
    bool serveLogs(int64_t now);
    bool logsDue(int64_t now) const;
    std::string describeSource(const sockaddr_in6 &sa) const;
    void line(const std::string &text);

    SimConfig &config_;
    std::ostream &out_;
    std::string interface_;
    unsigned interfaceIndex_ = 0;
    int discoveryFd_ = -1;
    std::vector<Endpoint> endpoints_;
    std::vector<LogServer> logs_;
    std::multimap<int64_t, Pending> pending_;
    std::vector<uint8_t> receiveBuffer_;
};

// The interface to serve when none is named: the one non-loopback
// interface of the namespace. False with a message otherwise.
bool pickInterface(std::string &name, std::string &err);
// Refuses the machine's own network: the namespace must not be the one of
// process 1, and the interface must be a veth.
bool checkPrivateInterface(const std::string &name, std::string &err);
// The namespace part of that check on the two namespace links given (the
// own one and process 1's; hostHint, when process 1's cannot be read, is
// the text of the namespace the test-network scripts started in): false,
// with a message, when they are the same or when either is unknown.
bool checkPrivateNamespace(const char *ownLink, const char *initLink, const char *hostHint, std::string &err);

} // namespace sim
