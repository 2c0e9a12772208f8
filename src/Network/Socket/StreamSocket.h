#pragma once

#include "src/Network/Socket/NodeAddress.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Two more sockets of the socket layer, for velmora-ctl's log and monitor
// commands: a TCP connection to a target's log stream, and a UDP socket
// that holds a local port alone (the driver's debug port). Both are IPv6,
// synchronous and wait only as long as they are told, so that the caller
// can look at a stop request between waits. One header, one
// implementation per platform (StreamSocket_posix.cpp, StreamSocket_win.cpp).

// What one receive did.
struct ReceiveResult {
    enum Status { Data, Closed, Nothing, Failed } status = Failed;
    size_t size = 0; // bytes received, with Data
};

// What the system's error code means, for a message.
std::string socketErrorText(int code);

class TcpStream {
public:
    TcpStream(); // starts the socket library for the stream's lifetime
    ~TcpStream();
    TcpStream(const TcpStream &) = delete;
    TcpStream &operator=(const TcpStream &) = delete;

    // Starts connecting to peer (address, port and, for a link-local
    // address, the interface index as scope). False when the connection
    // could not even be begun, or was refused at once.
    bool beginConnect(const NodeAddress &peer);
    // Waits at most timeoutMicros for the connection begun: 0 = it failed
    // (refused, unreachable: lastError says), 1 = still waiting, 2 =
    // connected.
    int waitConnected(uint32_t timeoutMicros);
    // 0 = the wait failed, 1 = the time ran out, 2 = something to read (data
    // or the end of the stream).
    int waitReadable(uint32_t timeoutMicros);
    // Reads what is there, at most size bytes, without waiting.
    ReceiveResult receive(char *buffer, size_t size);
    void close();

    bool isOpen() const;
    int lastError() const { return lastError_; }
    // The system's codes for a refused connection and for a port in use.
    static bool isRefused(int code);

private:
    intptr_t handle_;
    int lastError_ = 0;
    bool connected_ = false;
};

class DatagramReceiver {
public:
    DatagramReceiver();
    ~DatagramReceiver();
    DatagramReceiver(const DatagramReceiver &) = delete;
    DatagramReceiver &operator=(const DatagramReceiver &) = delete;

    // Binds a UDP socket to local (an IPv6 address and port) so that no
    // other socket shares the port: no SO_REUSEADDR, and on Windows
    // SO_EXCLUSIVEADDRUSE, so that neither a second listener nor a later one
    // can take the datagrams away. False when that fails; addressInUse()
    // tells whether another socket holds the port.
    bool bindExclusive(const NodeAddress &local);
    // Asks the system for a receive queue of this many bytes (it may grant
    // less).
    void setReceiveBuffer(int bytes);
    // As TcpStream::waitReadable.
    int waitReadable(uint32_t timeoutMicros);
    // One whole datagram into buffer (a longer one is cut to size bytes).
    ReceiveResult receive(char *buffer, size_t size);
    void close();

    bool isOpen() const;
    int lastError() const { return lastError_; }
    bool addressInUse() const;

private:
    intptr_t handle_;
    int lastError_ = 0;
};
