#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/SocketCommon.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
// After net/if.h: the kernel headers would clash with it otherwise.
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

// The socket layer over BSD sockets and getifaddrs (Linux). It keeps the
// behaviour of the Winsock implementation: the same options in the same
// order (with the Linux equivalents), the same results and error handling.

using namespace socketcommon;

namespace {

constexpr intptr_t kInvalid = -1;

bool started = false;

void setInt(int fd, int level, int option, int value)
{
    (void)::setsockopt(fd, level, option, &value, sizeof value);
}

void sleepMicros(long micros)
{
    timespec ts{0, micros * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// What the system tells about an adapter: its link type and, where the
// kernel names one, its driver ("ethernet (veth)", "loopback"). Asked
// through ioctls, which answer for the caller's own network namespace.
std::string describe(const char *name)
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "network adapter";
    int arp = -1;
    ifreq req{};
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFHWADDR, &req) == 0)
        arp = req.ifr_hwaddr.sa_family;

    std::string driver;
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    std::memset(&req, 0, sizeof req);
    std::strncpy(req.ifr_name, name, IFNAMSIZ - 1);
    req.ifr_data = reinterpret_cast<char *>(&info);
    if (::ioctl(fd, SIOCETHTOOL, &req) == 0)
        driver.assign(info.driver, strnlen(info.driver, sizeof info.driver));
    ::close(fd);

    std::string type;
    switch (arp) {
    case ARPHRD_ETHER: type = "ethernet"; break;
    case ARPHRD_LOOPBACK: type = "loopback"; break;
    case ARPHRD_NONE: type = "point-to-point"; break;
    case ARPHRD_SIT: type = "IPv6-in-IPv4 tunnel"; break;
    case ARPHRD_TUNNEL6: type = "IPv6 tunnel"; break;
    case ARPHRD_IEEE80211: type = "wireless"; break;
    case -1: type = "network adapter"; break;
    default: type = "link type " + std::to_string(arp); break;
    }
    if (driver.empty() || arp == ARPHRD_LOOPBACK)
        return type;
    return type + " (" + driver + ")";
}

} // namespace

Socket::Socket() : handle_(kInvalid)
{
    // BSD sockets need no start-up; the flag keeps the life cycle of the
    // Winsock implementation.
    if (!started)
        started = true;
}

Socket::~Socket()
{
    close();
}

bool Socket::isOpen() const
{
    return handle_ != kInvalid;
}

bool Socket::open(SocketKind kind)
{
    if (isOpen())
        close();
    kind_ = kind;

    int family = 0;
    int type = 0;
    switch (kind) {
    case SocketKind::TcpV4: family = AF_INET; type = SOCK_STREAM; break;
    case SocketKind::UdpV4: family = AF_INET; type = SOCK_DGRAM; break;
    case SocketKind::TcpV6Only:
    case SocketKind::TcpDual: family = AF_INET6; type = SOCK_STREAM; break;
    case SocketKind::UdpV6Only:
    case SocketKind::UdpDual: family = AF_INET6; type = SOCK_DGRAM; break;
    }
    const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    handle_ = fd;

    if (kind == SocketKind::UdpV4) {
        const int one = 1;
        if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
            lastError_ = errno;
            close();
            return false;
        }
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }

    setInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    // Winsock's SO_REUSEADDR never gives a socket bound to port 0 a port in
    // use; Linux's does, for datagram sockets that both set it, and two
    // clients would then take each other's replies. Here it only lets a
    // listening stream socket bind again past TIME_WAIT.
    if (isStream(kind))
        setInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
    // Linux has one option for both "don't fragment" and path MTU discovery.
    setInt(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DO);

    const int v6Only = v6OnlyValue(kind);
    if (v6Only >= 0)
        setInt(fd, IPPROTO_IPV6, IPV6_V6ONLY, v6Only);
    return true;
}

bool Socket::bind(NodeAddress &local)
{
    fixedInterface_ = 0;
    if (!isOpen()) {
        lastError_ = EBADF;
        return false;
    }
    const int fd = static_cast<int>(handle_);

    const uint32_t scope = bindScope(local);
    fixedInterface_ = scope;
    sockaddr_in6 sa;
    toSockaddr(local, scope, sa);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        lastError_ = errno;
        return false;
    }

    if (local.port == 0) {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len) != 0) {
            lastError_ = errno;
            return false;
        }
        NodeAddress bound;
        fromSockaddr(ss, bound);
        local.port = bound.port;
    }

    if (isStream(kind_) && ::listen(fd, 1000) != 0) {
        lastError_ = errno;
        return false;
    }

    if (fixedInterface_ != 0) {
        const unsigned int index = fixedInterface_;
        // Linux has no IPV6_UNICAST_IF; the scope id given to every send
        // (the fixed interface) selects the unicast interface instead.
        (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    }
    return true;
}

bool Socket::sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry)
{
    if (!isOpen()) {
        lastError_ = EBADF;
        return false;
    }
    const int fd = static_cast<int>(handle_);
    sockaddr_in6 sa;
    toSockaddr(destination, sendScope(fixedInterface_, destination), sa);

    return sendWithRetry(
        retry,
        [&] {
            const ssize_t sent =
                ::sendto(fd, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
            if (sent >= 0)
                return static_cast<size_t>(sent) == length ? SendAttempt::Whole : SendAttempt::Short;
            if (errno == EINTR)
                return SendAttempt::Interrupted;
            lastError_ = errno;
            return retryableSendError(errno) ? SendAttempt::Retryable : SendAttempt::Failed;
        },
        nowMicros, [] { sleepMicros(100); });
}

bool Socket::receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source)
{
    buffer.resize(kReceiveSize);
    if (!isOpen()) {
        buffer.clear();
        return true;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    // MSG_TRUNC makes the call report the datagram's real length, so a
    // datagram longer than the buffer is recognised and dropped whole.
    const int flags = isStream(kind_) ? 0 : MSG_TRUNC;
    ssize_t n;
    do {
        n = ::recvfrom(static_cast<int>(handle_), buffer.data(), buffer.size(), flags,
                       reinterpret_cast<sockaddr *>(&ss), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<size_t>(n) > kReceiveSize) {
        buffer.clear();
        return true;
    }
    fromSockaddr(ss, source);
    buffer.resize(static_cast<size_t>(n));
    return true;
}

int Socket::waitReadable(uint32_t timeoutMicros)
{
    if (!isOpen())
        return 0;
    const int64_t deadline = nowMicros() + timeoutMicros;
    for (;;) {
        int64_t left = deadline - nowMicros();
        if (left < 0)
            left = 0;
        pollfd p{static_cast<int>(handle_), POLLIN, 0};
        timespec ts{static_cast<time_t>(left / 1000000), static_cast<long>((left % 1000000) * 1000)};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0) {
            // A signal is no failure of the wait: wait for the rest.
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (r == 0)
            return 1;
        if ((p.revents & POLLNVAL) != 0)
            return 0;
        return 2;
    }
}

void Socket::close()
{
    if (!isOpen())
        return;
    if (isStream(kind_))
        (void)::shutdown(static_cast<int>(handle_), SHUT_RDWR);
    (void)::close(static_cast<int>(handle_));
    handle_ = kInvalid;
}

int64_t nowMicros()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool socketcommon::retryableSendError(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == ENOBUFS;
}

bool listAdapterAddresses(InterfaceMap &out)
{
    out.clear();
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    // getifaddrs lists one entry per address: gather them per adapter.
    std::vector<AdapterRecord> adapters;
    for (ifaddrs *ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET6 || ifa->ifa_name == nullptr)
            continue;
        const auto *sa = reinterpret_cast<const sockaddr_in6 *>(ifa->ifa_addr);
        AdapterRecord *adapter = nullptr;
        for (AdapterRecord &a : adapters) {
            if (a.friendlyName == ifa->ifa_name)
                adapter = &a;
        }
        if (adapter == nullptr) {
            adapters.emplace_back();
            adapter = &adapters.back();
            adapter->index = ::if_nametoindex(ifa->ifa_name);
            adapter->friendlyName = ifa->ifa_name;
            adapter->description = describe(ifa->ifa_name);
        }
        adapter->addresses.emplace_back();
        std::memcpy(adapter->addresses.back().data(), &sa->sin6_addr, 16);
    }
    ::freeifaddrs(list);
    fillAdapterMap(adapters, out);
    // As on Windows: a host without IPv6 data is a failure with an empty map.
    return !out.empty();
}
