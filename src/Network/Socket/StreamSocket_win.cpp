// winsock2.h before windows.h, or the old winsock.h comes in.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "src/Network/Socket/SocketCommon.h"
#include "src/Network/Socket/StreamSocket.h"

#include <string>

using namespace socketcommon;

namespace {

const intptr_t kInvalid = static_cast<intptr_t>(INVALID_SOCKET);

// Each socket keeps the library started for its lifetime (WSAStartup
// counts its calls).
void startLibrary()
{
    WSADATA data;
    (void)WSAStartup(MAKEWORD(2, 2), &data);
}

void setNonBlocking(SOCKET s)
{
    u_long on = 1;
    (void)ioctlsocket(s, FIONBIO, &on);
}

// select for one socket: 0 = failed, 1 = time out, 2 = ready. With
// failedSet, a socket in the exception set (a connect that failed) counts
// as failed.
int waitFor(intptr_t handle, bool write, uint32_t timeoutMicros, int &lastError, bool *failed = nullptr)
{
    if (handle == kInvalid)
        return 0;
    const SOCKET s = static_cast<SOCKET>(handle);
    fd_set set, errors;
    FD_ZERO(&set);
    FD_ZERO(&errors);
    FD_SET(s, &set);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMicros / 1000000);
    tv.tv_usec = static_cast<long>(timeoutMicros % 1000000);
    const int r = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    if (r == SOCKET_ERROR) {
        lastError = WSAGetLastError();
        return 0;
    }
    if (failed != nullptr)
        *failed = FD_ISSET(s, &errors) != 0;
    return (FD_ISSET(s, &set) || FD_ISSET(s, &errors)) ? 2 : 1;
}

ReceiveResult receiveFrom(intptr_t handle, char *buffer, size_t size, bool stream, int &lastError)
{
    ReceiveResult result;
    if (handle == kInvalid)
        return result;
    const int n = recv(static_cast<SOCKET>(handle), buffer, static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) {
        const int code = WSAGetLastError();
        if (code == WSAEWOULDBLOCK || code == WSAEINTR) {
            result.status = ReceiveResult::Nothing;
        } else if (!stream && code == WSAEMSGSIZE) {
            // A datagram longer than the buffer: its first size bytes.
            result.status = ReceiveResult::Data;
            result.size = size;
        } else if (!stream && code == WSAECONNRESET) {
            // The "port unreachable" of an earlier send; nothing was sent.
            result.status = ReceiveResult::Nothing;
        } else {
            lastError = code;
        }
        return result;
    }
    if (n == 0 && stream) {
        result.status = ReceiveResult::Closed;
        return result;
    }
    result.status = ReceiveResult::Data;
    result.size = static_cast<size_t>(n);
    return result;
}

} // namespace

std::string socketErrorText(int code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text != nullptr) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        if (size > 0) {
            out.resize(static_cast<size_t>(size));
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &out[0], size, nullptr, nullptr);
        }
    }
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(code) : out;
}

TcpStream::TcpStream() : handle_(kInvalid)
{
    startLibrary();
}

TcpStream::~TcpStream()
{
    close();
    WSACleanup();
}

bool TcpStream::isOpen() const
{
    return handle_ != kInvalid;
}

bool TcpStream::isRefused(int code)
{
    return code == WSAECONNREFUSED;
}

bool TcpStream::beginConnect(const NodeAddress &peer)
{
    close();
    const SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        lastError_ = WSAGetLastError();
        return false;
    }
    handle_ = static_cast<intptr_t>(s);
    const DWORD one = 1;
    (void)setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&one), sizeof one);
    (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    setNonBlocking(s);
    sockaddr_in6 sa;
    toSockaddr(peer, peer.interfaceIndex, sa);
    if (connect(s, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0) {
        connected_ = true;
        return true;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS)
        return true;
    lastError_ = code;
    close();
    return false;
}

int TcpStream::waitConnected(uint32_t timeoutMicros)
{
    if (!isOpen())
        return 0;
    if (connected_)
        return 2;
    bool failed = false;
    const int r = waitFor(handle_, true, timeoutMicros, lastError_, &failed);
    if (r != 2)
        return r;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                   &length) != 0)
        error = WSAGetLastError();
    if (failed || error != 0) {
        lastError_ = error != 0 ? error : WSAECONNREFUSED;
        return 0;
    }
    connected_ = true;
    return 2;
}

int TcpStream::waitReadable(uint32_t timeoutMicros)
{
    return waitFor(handle_, false, timeoutMicros, lastError_);
}

ReceiveResult TcpStream::receive(char *buffer, size_t size)
{
    return receiveFrom(handle_, buffer, size, true, lastError_);
}

void TcpStream::close()
{
    if (handle_ != kInvalid)
        (void)closesocket(static_cast<SOCKET>(handle_));
    handle_ = kInvalid;
    connected_ = false;
}

DatagramReceiver::DatagramReceiver() : handle_(kInvalid)
{
    startLibrary();
}

DatagramReceiver::~DatagramReceiver()
{
    close();
    WSACleanup();
}

bool DatagramReceiver::isOpen() const
{
    return handle_ != kInvalid;
}

bool DatagramReceiver::addressInUse() const
{
    return lastError_ == WSAEADDRINUSE || lastError_ == WSAEACCES;
}

bool DatagramReceiver::bindExclusive(const NodeAddress &local)
{
    close();
    const SOCKET s = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        lastError_ = WSAGetLastError();
        return false;
    }
    handle_ = static_cast<intptr_t>(s);
    const DWORD one = 1;
    (void)setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char *>(&one), sizeof one);
    // Without it a later socket with SO_REUSEADDR could take the port over.
    (void)setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&one), sizeof one);
    sockaddr_in6 sa;
    toSockaddr(local, bindScope(local), sa);
    if (bind(s, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        lastError_ = WSAGetLastError();
        close();
        return false;
    }
    setNonBlocking(s);
    return true;
}

void DatagramReceiver::setReceiveBuffer(int bytes)
{
    if (isOpen())
        (void)setsockopt(static_cast<SOCKET>(handle_), SOL_SOCKET, SO_RCVBUF,
                         reinterpret_cast<const char *>(&bytes), sizeof bytes);
}

int DatagramReceiver::waitReadable(uint32_t timeoutMicros)
{
    return waitFor(handle_, false, timeoutMicros, lastError_);
}

ReceiveResult DatagramReceiver::receive(char *buffer, size_t size)
{
    return receiveFrom(handle_, buffer, size, false, lastError_);
}

void DatagramReceiver::close()
{
    if (handle_ != kInvalid)
        (void)closesocket(static_cast<SOCKET>(handle_));
    handle_ = kInvalid;
}
