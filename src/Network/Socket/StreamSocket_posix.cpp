#include "src/Network/Socket/SocketCommon.h"
#include "src/Network/Socket/StreamSocket.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace socketcommon;

namespace {

constexpr intptr_t kInvalid = -1;

// Waits for events on fd; a signal ends the wait early (the caller looks at
// its stop request and waits again): 0 = failed, 1 = time out or signal, 2
// = the events came.
int waitFor(intptr_t handle, short events, uint32_t timeoutMicros, int &lastError)
{
    if (handle == kInvalid)
        return 0;
    pollfd p{static_cast<int>(handle), events, 0};
    const timespec ts{static_cast<time_t>(timeoutMicros / 1000000),
                      static_cast<long>(timeoutMicros % 1000000) * 1000};
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
        if (errno == EINTR)
            return 1;
        lastError = errno;
        return 0;
    }
    if (r == 0)
        return 1;
    if ((p.revents & POLLNVAL) != 0)
        return 0;
    return 2;
}

ReceiveResult receiveFrom(intptr_t handle, char *buffer, size_t size, int flags, bool stream, int &lastError)
{
    ReceiveResult result;
    if (handle == kInvalid)
        return result;
    const ssize_t n = ::recv(static_cast<int>(handle), buffer, size, flags | MSG_DONTWAIT);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            result.status = ReceiveResult::Nothing;
            return result;
        }
        lastError = errno;
        return result;
    }
    if (n == 0 && stream) {
        result.status = ReceiveResult::Closed;
        return result;
    }
    result.status = ReceiveResult::Data;
    // MSG_TRUNC reports a datagram's whole length.
    result.size = static_cast<size_t>(n) > size ? size : static_cast<size_t>(n);
    return result;
}

} // namespace

std::string socketErrorText(int code)
{
    return std::strerror(code);
}

TcpStream::TcpStream() : handle_(kInvalid) {}

TcpStream::~TcpStream()
{
    close();
}

bool TcpStream::isOpen() const
{
    return handle_ != kInvalid;
}

bool TcpStream::isRefused(int code)
{
    return code == ECONNREFUSED;
}

bool TcpStream::beginConnect(const NodeAddress &peer)
{
    close();
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    handle_ = fd;
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in6 sa;
    toSockaddr(peer, peer.interfaceIndex, sa);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0) {
        connected_ = true;
        return true;
    }
    // An interrupted connect goes on by itself, as one in progress does.
    if (errno == EINPROGRESS || errno == EINTR)
        return true;
    lastError_ = errno;
    close();
    return false;
}

int TcpStream::waitConnected(uint32_t timeoutMicros)
{
    if (!isOpen())
        return 0;
    if (connected_)
        return 2;
    const int r = waitFor(handle_, POLLOUT, timeoutMicros, lastError_);
    if (r != 2)
        return r;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        lastError_ = error;
        return 0;
    }
    connected_ = true;
    return 2;
}

int TcpStream::waitReadable(uint32_t timeoutMicros)
{
    return waitFor(handle_, POLLIN, timeoutMicros, lastError_);
}

ReceiveResult TcpStream::receive(char *buffer, size_t size)
{
    return receiveFrom(handle_, buffer, size, 0, true, lastError_);
}

void TcpStream::close()
{
    if (handle_ != kInvalid)
        (void)::close(static_cast<int>(handle_));
    handle_ = kInvalid;
    connected_ = false;
}

DatagramReceiver::DatagramReceiver() : handle_(kInvalid) {}

DatagramReceiver::~DatagramReceiver()
{
    close();
}

bool DatagramReceiver::isOpen() const
{
    return handle_ != kInvalid;
}

bool DatagramReceiver::addressInUse() const
{
    return lastError_ == EADDRINUSE;
}

bool DatagramReceiver::bindExclusive(const NodeAddress &local)
{
    close();
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError_ = errno;
        return false;
    }
    handle_ = fd;
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 sa;
    toSockaddr(local, bindScope(local), sa);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        lastError_ = errno;
        close();
        return false;
    }
    return true;
}

void DatagramReceiver::setReceiveBuffer(int bytes)
{
    if (isOpen())
        (void)::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int DatagramReceiver::waitReadable(uint32_t timeoutMicros)
{
    return waitFor(handle_, POLLIN, timeoutMicros, lastError_);
}

ReceiveResult DatagramReceiver::receive(char *buffer, size_t size)
{
    return receiveFrom(handle_, buffer, size, MSG_TRUNC, false, lastError_);
}

void DatagramReceiver::close()
{
    if (handle_ != kInvalid)
        (void)::close(static_cast<int>(handle_));
    handle_ = kInvalid;
}
