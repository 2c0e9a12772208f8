#include "tools/sim/SimServer.h"

#include "src/Network/AddressText.h"
#include "src/Network/Socket/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
// After net/if.h: the kernel headers would clash with it otherwise.
#include <linux/ethtool.h>
#include <linux/sockios.h>

namespace sim {

namespace {

// A whole window of data blocks arrives in one burst.
constexpr int kSocketBuffer = 8 * 1024 * 1024;
constexpr int kIdlePollMillis = 250;

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void setBuffers(int fd)
{
    const int size = kSocketBuffer;
    // The forced variant passes the system's cap where permitted.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

bool toSockaddr(const std::string &address, uint16_t port, unsigned scope, sockaddr_in6 &sa)
{
    std::memset(&sa, 0, sizeof sa);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    if (!address.empty()) {
        uint8_t a[16];
        if (!parseAddress(address, a))
            return false;
        std::memcpy(&sa.sin6_addr, a, 16);
        sa.sin6_scope_id = scope;
    }
    return true;
}

std::string driverOf(const std::string &name)
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq req{};
    std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
    req.ifr_data = reinterpret_cast<char *>(&info);
    std::string driver;
    if (::ioctl(fd, SIOCETHTOOL, &req) == 0)
        driver.assign(info.driver, strnlen(info.driver, sizeof info.driver));
    ::close(fd);
    return driver;
}

} // namespace

bool pickInterface(std::string &name, std::string &err)
{
    struct if_nameindex *list = ::if_nameindex();
    if (list == nullptr) {
        err = errnoText("cannot list the interfaces");
        return false;
    }
    std::vector<std::string> found;
    for (struct if_nameindex *p = list; p->if_index != 0; ++p) {
        if (std::strcmp(p->if_name, "lo") != 0)
            found.emplace_back(p->if_name);
    }
    ::if_freenameindex(list);
    if (found.size() == 1) {
        name = found.front();
        return true;
    }
    if (found.empty()) {
        err = "no interface but lo in this namespace: run inside the private network (scripts/simnet.sh)";
    } else {
        err = "several interfaces in this namespace; choose one with --interface:";
        for (const auto &f : found)
            err += " " + f;
    }
    return false;
}

bool checkPrivateInterface(const std::string &name, std::string &err)
{
    if (!checkPrivateNamespace("/proc/self/ns/net", "/proc/1/ns/net", std::getenv("VELMORA_HOST_NETNS"), err))
        return false;
    if (::if_nametoindex(name.c_str()) == 0) {
        err = "no interface " + name + " in this namespace";
        return false;
    }
    if (driverOf(name) != "veth") {
        err = "interface " + name + " is not a veth of a private test network: refused";
        return false;
    }
    return true;
}

bool checkPrivateNamespace(const char *ownLink, const char *initLink, const char *hostHint, std::string &err)
{
    char own[64] = {};
    char init[64] = {};
    const ssize_t a = ::readlink(ownLink, own, sizeof own - 1);
    ssize_t b = ::readlink(initLink, init, sizeof init - 1);
    // Where process 1's namespace is hidden (a container), the scripts that
    // build the private network name the namespace they started in.
    if (b <= 0 && hostHint != nullptr && hostHint[0] != '\0' && std::strlen(hostHint) < sizeof init) {
        std::strcpy(init, hostHint);
        b = ssize_t(std::strlen(init));
    }
    // Not knowing is no proof of a private network: refuse then too.
    if (a <= 0 || b <= 0) {
        err = std::string("cannot read ") + ownLink + " and " + initLink +
              " (nor is VELMORA_HOST_NETNS set), so cannot tell whether this is a private network: refused "
              "(run inside scripts/testnet.sh or scripts/simnet.sh)";
        return false;
    }
    if (std::strcmp(own, init) == 0) {
        err = "this is the machine's own network namespace: the emulator runs only inside a private "
              "network (scripts/testnet.sh or scripts/simnet.sh)";
        return false;
    }
    return true;
}

SimServer::SimServer(SimConfig &config, std::ostream &out) : config_(config), out_(out) {}

SimServer::~SimServer()
{
    if (discoveryFd_ >= 0)
        ::close(discoveryFd_);
    for (auto &ep : endpoints_) {
        if (ep.commandFd >= 0)
            ::close(ep.commandFd);
        if (ep.otherFd >= 0)
            ::close(ep.otherFd);
    }
    for (auto &log : logs_) {
        for (int c : log.clients)
            ::close(c);
        if (log.listenFd >= 0)
            ::close(log.listenFd);
    }
}

void SimServer::line(const std::string &text)
{
    out_ << text << std::endl;
}

bool SimServer::bindUdp(const std::string &address, uint16_t port, int &fd, std::string &err)
{
    fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        err = errnoText("cannot create a UDP socket");
        return false;
    }
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    setBuffers(fd);
    sockaddr_in6 sa;
    if (!toSockaddr(address, port, interfaceIndex_, sa)) {
        err = "bad address " + address;
        return false;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        err = errnoText("cannot bind UDP [" + (address.empty() ? std::string("::") : address) + "]:" +
                        std::to_string(port));
        return false;
    }
    return true;
}

bool SimServer::start(std::string &err)
{
    interface_ = config_.interfaceName;
    if (interface_.empty() && !pickInterface(interface_, err))
        return false;
    if (!checkPrivateInterface(interface_, err))
        return false;
    interfaceIndex_ = ::if_nametoindex(interface_.c_str());

    // Discovery: every Hello to ff02::1 port 19642 on this interface.
    if (!bindUdp("", msg::kDiscoveryPort, discoveryFd_, err))
        return false;
    (void)::setsockopt(discoveryFd_, SOL_SOCKET, SO_BINDTODEVICE, interface_.c_str(),
                       static_cast<socklen_t>(interface_.size()));
    ipv6_mreq group{};
    group.ipv6mr_multiaddr.s6_addr[0] = 0xff;
    group.ipv6mr_multiaddr.s6_addr[1] = 0x02;
    group.ipv6mr_multiaddr.s6_addr[15] = 0x01;
    group.ipv6mr_interface = interfaceIndex_;
    if (::setsockopt(discoveryFd_, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group) != 0) {
        err = errnoText("cannot join ff02::1 on " + interface_);
        return false;
    }

    for (auto &t : config_.targets) {
        Endpoint ep;
        ep.target = t.get();
        const TargetConfig &c = t->config();
        if (!bindUdp(c.address, c.port, ep.commandFd, err) || !bindUdp(c.address, 0, ep.otherFd, err)) {
            endpoints_.push_back(ep);
            return false;
        }
        endpoints_.push_back(ep);

        if (config_.logPort == 0)
            continue;
        bool have = false;
        for (const auto &log : logs_)
            have = have || log.address == c.address;
        if (have)
            continue; // the first target of an address serves its log
        LogServer log;
        log.address = c.address;
        log.target = t.get();
        log.listenFd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int one = 1;
        (void)::setsockopt(log.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        (void)::setsockopt(log.listenFd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        sockaddr_in6 sa;
        toSockaddr(c.address, static_cast<uint16_t>(config_.logPort), interfaceIndex_, sa);
        if (log.listenFd < 0 || ::bind(log.listenFd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0 ||
            ::listen(log.listenFd, 16) != 0) {
            err = errnoText("cannot serve the log stream on TCP port " + std::to_string(config_.logPort));
            if (log.listenFd >= 0)
                ::close(log.listenFd);
            return false;
        }
        logs_.push_back(std::move(log));
    }

    for (const auto &ep : endpoints_) {
        const TargetConfig &c = ep.target->config();
        char id[24];
        std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(c.identifier));
        line("target " + c.name + ": [" + (c.address.empty() ? std::string("::") : c.address) + "%" + interface_ +
             "]:" + std::to_string(c.port) + " id " + id + " version \"" + c.version + "\"" +
             (c.fault != Fault::None ? std::string(" fault ") + faultName(c.fault) : std::string()));
    }
    line("ready");
    return true;
}

std::string SimServer::describeSource(const sockaddr_in6 &sa) const
{
    uint8_t a[16];
    std::memcpy(a, &sa.sin6_addr, 16);
    char ifname[IF_NAMESIZE] = {};
    std::string scope = sa.sin6_scope_id != 0 && ::if_indextoname(sa.sin6_scope_id, ifname) != nullptr
                            ? std::string("%") + ifname
                            : sa.sin6_scope_id != 0 ? "%" + std::to_string(sa.sin6_scope_id) : std::string();
    return "[" + formatAddress(a) + scope + "]:" + std::to_string(ntohs(sa.sin6_port));
}

void SimServer::sendNow(const Pending &p)
{
    if (config_.verbose)
        line("send " + p.who + " to " + describeSource(p.destination) + ": " +
             describeDatagram(p.datagram.data(), p.datagram.size()));
    if (::sendto(p.fd, p.datagram.data(), p.datagram.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr *>(&p.destination), sizeof p.destination) < 0)
        line("send " + p.who + " failed: " + std::strerror(errno));
}

void SimServer::answer(SimTarget &target, const Endpoint &ep, const uint8_t *data, size_t size,
                       const sockaddr_in6 &source)
{
    std::vector<Outgoing> out;
    std::string note;
    const int reboots = target.rebootCount();
    target.handle(data, size, nowMicros(), out, note);
    const bool important = target.rebootCount() != reboots || note.rfind("announced", 0) == 0;
    if (!note.empty() && (config_.verbose || important))
        line("target " + target.config().name + ": " + note);
    const int64_t due = nowMicros() + target.config().delayMillis * 1000;
    for (auto &o : out) {
        Pending p{o.fromOtherPort ? ep.otherFd : ep.commandFd, source, std::move(o.datagram), target.config().name};
        if (target.config().delayMillis <= 0)
            sendNow(p);
        else if (pending_.size() < kMaxPending)
            pending_.emplace(due, std::move(p));
    }
    target.storage().afterReplies();
}

void SimServer::receive(int fd, SimTarget *target, bool discovery)
{
    // Room for the largest data block a slot can take (65536 bytes and its
    // header): one byte more tells an oversized datagram apart.
    receiveBuffer_.resize(kMaxDatagram + 1);
    uint8_t *const buffer = receiveBuffer_.data();
    const size_t capacity = receiveBuffer_.size();
    // A bounded number per round: a flood on one socket must not starve the
    // others (poll reports this one again in the next round).
    for (int round = 0; round < kReceivesPerRound; ++round) {
        sockaddr_in6 source{};
        socklen_t len = sizeof source;
        const ssize_t n = ::recvfrom(fd, buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr *>(&source), &len);
        if (n < 0)
            return;
        const size_t size = std::min(static_cast<size_t>(n), capacity);
        if (config_.verbose)
            line("recv " + (discovery ? std::string("discovery") : target->config().name) + " from " + describeSource(source) + ": " +
                 (static_cast<size_t>(n) > kMaxDatagram ? "oversized datagram of " + std::to_string(n) + " bytes"
                                                          : describeDatagram(buffer, size)));
        if (static_cast<size_t>(n) > kMaxDatagram)
            continue;
        if (!discovery) {
            for (const auto &ep : endpoints_) {
                if (ep.target == target)
                    answer(*target, ep, buffer, size, source);
            }
            continue;
        }
        // The discovery port answers Hello only, each target from its own
        // command port.
        MessageHeader header;
        if (!parseHeader(buffer, size, header) || header.command != msg::Hello)
            continue;
        for (const auto &ep : endpoints_)
            answer(*ep.target, ep, buffer, size, source);
    }
}

bool SimServer::logsDue(int64_t now) const
{
    for (const auto &log : logs_) {
        if (log.target->rebootCount() != log.reboots ||
            (log.target->config().logEveryMillis > 0 && now >= log.nextLine))
            return true;
    }
    return false;
}

bool SimServer::serveLogs(int64_t now)
{
    bool changed = false;
    for (auto &log : logs_) {
        SimTarget &t = *log.target;
        if (t.rebootCount() != log.reboots) {
            // A reboot ends every log connection.
            log.reboots = t.rebootCount();
            for (int c : log.clients)
                ::close(c);
            changed = changed || !log.clients.empty();
            log.clients.clear();
        }
        for (;;) {
            const int c = ::accept4(log.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c < 0)
                break;
            if (t.rebooting(now) || log.clients.size() >= kMaxLogClients) {
                // A target has few log connections to give.
                ::close(c);
                continue;
            }
            if (config_.verbose)
                line("log " + t.config().name + ": client connected");
            if (!t.config().logText.empty())
                (void)::send(c, t.config().logText.data(), t.config().logText.size(), MSG_NOSIGNAL);
            log.clients.push_back(c);
            changed = true;
        }
        // Drop clients that went away; what they send is ignored.
        for (size_t i = 0; i < log.clients.size();) {
            char buf[256];
            const ssize_t n = ::recv(log.clients[i], buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                ::close(log.clients[i]);
                log.clients.erase(log.clients.begin() + static_cast<long>(i));
                changed = true;
            } else {
                ++i;
            }
        }
        if (t.config().logEveryMillis > 0 && now >= log.nextLine) {
            if (log.nextLine != 0 && !t.rebooting(now)) {
                const std::string text = (t.config().logLine.empty() ? t.config().name + " log line"
                                                                     : t.config().logLine) +
                                         " " + std::to_string(++log.lineCount) + "\n";
                for (int c : log.clients)
                    (void)::send(c, text.data(), text.size(), MSG_NOSIGNAL);
            }
            log.nextLine = now + t.config().logEveryMillis * 1000;
        }
    }
    return changed;
}

void SimServer::run(const volatile std::sig_atomic_t &stop)
{
    // The poll set changes only when log clients come or go: it is built
    // again then, not for every datagram (a stop-and-wait transfer passes
    // through here once per block).
    std::vector<pollfd> fds;
    size_t udpCount = 0;
    bool rebuild = true;
    while (stop == 0) {
        if (rebuild) {
            fds.clear();
            fds.push_back({discoveryFd_, POLLIN, 0});
            for (const auto &ep : endpoints_) {
                fds.push_back({ep.commandFd, POLLIN, 0});
                // The other-port socket receives nothing of interest; drain it.
                fds.push_back({ep.otherFd, POLLIN, 0});
            }
            udpCount = fds.size();
            for (const auto &log : logs_) {
                fds.push_back({log.listenFd, POLLIN, 0});
                for (int c : log.clients)
                    fds.push_back({c, POLLIN, 0});
            }
            rebuild = false;
        }

        int64_t now = nowMicros();
        int64_t wake = now + kIdlePollMillis * 1000;
        if (!pending_.empty())
            wake = std::min(wake, pending_.begin()->first);
        for (const auto &log : logs_) {
            if (log.target->config().logEveryMillis > 0 && log.nextLine != 0)
                wake = std::min(wake, log.nextLine);
        }
        const int timeout = static_cast<int>(std::max<int64_t>(0, (wake - now + 999) / 1000));
        const int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) {
            line(errnoText("poll failed"));
            return;
        }
        if (stop != 0)
            break;
        bool logActivity = false;
        for (size_t i = 0; r > 0 && i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLERR | POLLHUP)) == 0)
                continue;
            if (i >= udpCount) {
                logActivity = true;
            } else if (i == 0) {
                receive(fds[i].fd, nullptr, true);
            } else if (i % 2 == 1) {
                receive(fds[i].fd, endpoints_[(i - 1) / 2].target, false);
            } else {
                uint8_t junk[2048];
                for (int k = 0; k < kReceivesPerRound && ::recv(fds[i].fd, junk, sizeof junk, MSG_DONTWAIT) >= 0;
                     ++k) {
                }
            }
        }
        now = nowMicros();
        while (!pending_.empty() && pending_.begin()->first <= now) {
            sendNow(pending_.begin()->second);
            pending_.erase(pending_.begin());
        }
        // The log side is served when something happened there, its
        // time came or a target rebooted, and at every idle wake-up.
        if (logActivity || r == 0 || logsDue(now))
            rebuild = serveLogs(now);
    }
}

} // namespace sim
