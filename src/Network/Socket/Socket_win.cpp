// winsock2.h before windows.h, or the old winsock.h comes in.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include "src/Network/Socket/Socket.h"
#include "src/Network/Socket/SocketCommon.h"

#include <cstdlib>
#include <cstring>
#include <vector>

// The socket layer over Winsock 2 and the IP Helper adapter list.

#ifndef IP_DONTFRAGMENT
#define IP_DONTFRAGMENT 14
#endif
#ifndef IP_MTU_DISCOVER
#define IP_MTU_DISCOVER 71
#endif
#ifndef IPV6_UNICAST_IF
#define IPV6_UNICAST_IF 31
#endif

using namespace socketcommon;

namespace {

const char kAssertFile[] = "src/Network/Socket";
constexpr int kLineExitRegistration = 65;
constexpr int kLineStartup = 68;
constexpr int kWouldBlock = 10035; // WSAEWOULDBLOCK
constexpr int kNoBuffers = 10055;  // WSAENOBUFS

bool started = false;

void cleanup()
{
    WSACleanup();
}

void setInt(SOCKET s, int level, int option, int value)
{
    DWORD v = static_cast<DWORD>(value);
    (void)setsockopt(s, level, option, reinterpret_cast<const char *>(&v), sizeof v);
}

// The whole UTF-8 form; the adapter map decides what fits its buffer.
std::string toUtf8(const wchar_t *text)
{
    if (text == nullptr)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {}; // empty, or cannot be converted
    std::string out(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr) != size)
        return {};
    out.resize(static_cast<size_t>(size - 1)); // without the terminator
    return out;
}

} // namespace

bool socketcommon::retryableSendError(int code)
{
    return code == kWouldBlock || code == kNoBuffers;
}

Socket::Socket() : handle_(static_cast<intptr_t>(INVALID_SOCKET))
{
    if (started)
        return;
    WSADATA data;
    const int result = WSAStartup(2, &data);
    if (std::atexit(cleanup) != 0) {
        TORNE::reportAssert(kAssertFile, kLineExitRegistration, 0, 0);
        throw TORNE::Err(kAssertFile, kLineExitRegistration, 0, 0);
    }
    if (result != 0) {
        TORNE::reportAssert(kAssertFile, kLineStartup, 0, 0);
        throw TORNE::Err(kAssertFile, kLineStartup, 0, 0);
    }
    started = true;
}

Socket::~Socket()
{
    close();
}

bool Socket::isOpen() const
{
    return static_cast<SOCKET>(handle_) != INVALID_SOCKET;
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
    const SOCKET s = socket(family, type, 0);
    if (s == INVALID_SOCKET) {
        lastError_ = WSAGetLastError();
        return false;
    }
    handle_ = static_cast<intptr_t>(s);

    if (kind == SocketKind::UdpV4) {
        const BOOL one = TRUE;
        if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&one), sizeof one) != 0) {
            lastError_ = WSAGetLastError();
            close();
            return false;
        }
        u_long blocking = 0;
        (void)ioctlsocket(s, FIONBIO, &blocking);
    }
    setInt(s, IPPROTO_TCP, TCP_NODELAY, 1);
    setInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
    setInt(s, IPPROTO_IP, IP_DONTFRAGMENT, 1);
    setInt(s, IPPROTO_IP, IP_MTU_DISCOVER, 1);
    const int v6Only = v6OnlyValue(kind);
    if (v6Only >= 0)
        setInt(s, IPPROTO_IPV6, IPV6_V6ONLY, v6Only);
    return true;
}

bool Socket::bind(NodeAddress &local)
{
    fixedInterface_ = 0;
    if (!isOpen()) {
        lastError_ = WSAENOTSOCK;
        return false;
    }
    const SOCKET s = static_cast<SOCKET>(handle_);
    const uint32_t scope = bindScope(local);
    fixedInterface_ = scope;
    sockaddr_in6 sa;
    toSockaddr(local, scope, sa);
    if (::bind(s, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        lastError_ = WSAGetLastError();
        return false;
    }
    if (local.port == 0) {
        sockaddr_storage ss{};
        int len = sizeof ss;
        if (getsockname(s, reinterpret_cast<sockaddr *>(&ss), &len) != 0) {
            lastError_ = WSAGetLastError();
            return false;
        }
        NodeAddress bound;
        fromSockaddr(ss, bound);
        local.port = bound.port;
    }
    if (isStream(kind_) && listen(s, 1000) != 0) {
        lastError_ = WSAGetLastError();
        return false;
    }
    if (fixedInterface_ != 0) {
        const DWORD index = fixedInterface_;
        if (setsockopt(s, IPPROTO_IPV6, IPV6_MULTICAST_IF, reinterpret_cast<const char *>(&index), sizeof index) == 0)
            (void)setsockopt(s, IPPROTO_IPV6, IPV6_UNICAST_IF, reinterpret_cast<const char *>(&index), sizeof index);
    }
    return true;
}

bool Socket::sendTo(const uint8_t *data, size_t length, const NodeAddress &destination, bool retry)
{
    if (!isOpen()) {
        lastError_ = WSAENOTSOCK;
        return false;
    }
    const SOCKET s = static_cast<SOCKET>(handle_);
    sockaddr_in6 sa;
    toSockaddr(destination, sendScope(fixedInterface_, destination), sa);
    return sendWithRetry(
        retry,
        [&] {
            const int sent = sendto(s, reinterpret_cast<const char *>(data), static_cast<int>(length), 0,
                                    reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
            if (sent >= 0)
                return static_cast<size_t>(sent) == length ? SendAttempt::Whole : SendAttempt::Short;
            lastError_ = WSAGetLastError();
            return retryableSendError(lastError_) ? SendAttempt::Retryable : SendAttempt::Failed;
        },
        nowMicros, [] { Sleep(1); });
}

bool Socket::receiveFrom(std::vector<uint8_t> &buffer, NodeAddress &source)
{
    buffer.resize(kReceiveSize);
    if (!isOpen()) {
        buffer.clear();
        return true;
    }
    sockaddr_storage ss{};
    int len = sizeof ss;
    // A datagram longer than the buffer fails with WSAEMSGSIZE: empty.
    const int n = recvfrom(static_cast<SOCKET>(handle_), reinterpret_cast<char *>(buffer.data()),
                           static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr *>(&ss), &len);
    if (n < 0) {
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
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(handle_), &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMicros / 1000000);
    tv.tv_usec = static_cast<long>(timeoutMicros % 1000000);
    const int r = select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR)
        return 0;
    return FD_ISSET(static_cast<SOCKET>(handle_), &set) ? 2 : 1;
}

void Socket::close()
{
    if (!isOpen())
        return;
    const SOCKET s = static_cast<SOCKET>(handle_);
    if (isStream(kind_))
        (void)shutdown(s, SD_BOTH);
    (void)closesocket(s);
    handle_ = static_cast<intptr_t>(INVALID_SOCKET);
}

int64_t nowMicros()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    // Whole seconds and the rest apart: counter x 1 000 000 in one product
    // overflows after some days of uptime with a 10 MHz counter.
    const int64_t c = counter.QuadPart;
    const int64_t f = frequency.QuadPart;
    return (c / f) * 1000000 + (c % f) * 1000000 / f;
}

bool listAdapterAddresses(InterfaceMap &out)
{
    out.clear();
    // Only the unicast addresses and the names are read. Skipping the DNS
    // servers matters beyond speed: Wine fails the whole call with
    // DNS_ERROR_NO_DNS_SERVERS (9852) when the resolver knows no IPv6 name
    // server, which is the rule on an IPv4-only network.
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 0;
    if (GetAdaptersAddresses(AF_INET6, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW)
        return false;
    std::vector<unsigned char> buffer;
    IP_ADAPTER_ADDRESSES *list = nullptr;
    // The list can grow between the size query and the call (an adapter
    // comes up): ask again with the new size, a few times at most.
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        list = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
        result = GetAdaptersAddresses(AF_INET6, flags, nullptr, list, &size);
    }
    if (result != NO_ERROR)
        return false;
    std::vector<AdapterRecord> adapters;
    for (IP_ADAPTER_ADDRESSES *adapter = list; adapter != nullptr; adapter = adapter->Next) {
        AdapterRecord record;
        // Wine reports Ipv6IfIndex 0; the interface index is the same there.
        record.index = adapter->Ipv6IfIndex != 0 ? adapter->Ipv6IfIndex : adapter->IfIndex;
        record.friendlyName = toUtf8(adapter->FriendlyName);
        record.description = toUtf8(adapter->Description);
        for (IP_ADAPTER_UNICAST_ADDRESS *u = adapter->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const sockaddr *sa = u->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET6)
                continue;
            record.addresses.emplace_back();
            std::memcpy(record.addresses.back().data(), &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr,
                        16);
        }
        adapters.push_back(std::move(record));
    }
    fillAdapterMap(adapters, out);
    return true;
}
