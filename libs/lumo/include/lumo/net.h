// Public header of the lumo library: IPv4 sockets driven by the loop, and the byte-stream
// layer between a TCP connection and its user.
//
// Sockets are created by EventLoopImpl::tcpListen / udpSetup (or the free functions of
// eventloop.h) and are loop thread only. Users hold shared pointers; after close() a
// socket remains a usable handle (getters answer) until its last reference goes.
#pragma once

#include "lumo/object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct sockaddr_in;

namespace lumo {

/// Transforms a connection's bytes (encryption, framing). `input` carries bytes for the
/// user, `output` bytes for the wire; `ready` announces that a handshake finished.
class SecureLayer : public Object {
public:
    ~SecureLayer() override = default;
    /// Encodes user bytes; returns the count accepted.
    virtual int write(const char* data, int len) = 0;
    /// Decodes wire bytes; returns the count consumed.
    virtual int feed(const char* data, int len) = 0;
    virtual bool isReady() const = 0;
    virtual bool startServer() = 0;
    virtual bool startClient() = 0;
    virtual void shutdown() {}

    Signal<std::string> input;
    Signal<std::string> output;
    Signal<std::string> error;
    Signal<> ready;
};

/// Pass-through layer: bytes go through unchanged; always ready.
class TransparentLayer final : public SecureLayer {
public:
    int write(const char* data, int len) override;
    int feed(const char* data, int len) override;
    bool isReady() const override { return true; }
    bool startServer() override { return true; }
    bool startClient() override { return true; }
};

/// Makes one layer per accepted connection.
class LayerFactory {
public:
    virtual ~LayerFactory() = default;
    virtual std::shared_ptr<SecureLayer> create() = 0;
};

/// A TCP connection.
class TcpSocket : public Object {
public:
    enum State { Unconnected = 0, Connecting = 1, Connected = 2 };

    ~TcpSocket() override = default;
    virtual int fd() const = 0;
    /// Queues `len` bytes through the layer and sends what the system takes at once.
    /// Returns `len`, or -1 when the socket is already closed (nothing is queued).
    virtual int write(const char* data, int len) = 0;
    /// Closes once: emits `closed`; the descriptor is closed at the end of the loop pass
    /// and `disconnected` follows. Pending output is dropped.
    virtual void close() = 0;
    virtual std::string localAddress() const = 0;
    /// IPv4 address in host order.
    virtual std::uint32_t localIp() const = 0;
    /// Always "00:00:00:00:00:00".
    virtual std::string macAddress() const = 0;
    virtual int state() const = 0;
    virtual std::string peerAddress() const = 0;
    virtual std::uint32_t peerIp() const = 0;
    virtual std::uint16_t peerPort() const = 0;
    virtual std::uint16_t localPort() const = 0;
    /// True for connections accepted by a server.
    virtual bool isServerSide() const = 0;

    Signal<> connected;
    Signal<> disconnected;
    Signal<std::string> error;
    /// Bytes received (after the layer), all bytes of one readiness event at once.
    Signal<std::string> data;
};

/// A listening TCP server; accepted connections queue until taken.
class TcpServer : public Object {
public:
    ~TcpServer() override = default;
    /// Layer factory for connections accepted from now on; empty: pass-through layers.
    virtual void setLayerFactory(std::shared_ptr<LayerFactory> factory) = 0;
    virtual int fd() const = 0;
    /// The address text given to tcpListen.
    virtual std::string address() const = 0;
    virtual bool isListening() const = 0;
    virtual void close() = 0;
    virtual bool hasPendingConnections() const = 0;
    /// The oldest accepted connection not yet taken, or empty.
    virtual std::shared_ptr<TcpSocket> nextPendingConnection() = 0;
    /// The bound port (the system's choice when 0 was asked), host order.
    virtual std::uint16_t port() const = 0;

    /// Emitted once per readiness event that queued at least one connection.
    Signal<> newConnection;
};

/// A bound UDP socket with broadcast enabled.
class UdpSocket : public Object {
public:
    ~UdpSocket() override = default;
    virtual int fd() const = 0;
    virtual std::string address() const = 0;
    /// The bound port (the system's choice when 0 was asked), host order.
    virtual std::uint16_t port() const = 0;
    /// Sends one datagram; returns the bytes sent or -1.
    virtual int sendTo(const sockaddr_in& to, const char* data, int len) = 0;
    /// Sends one datagram to `ip`:`port` (host order); returns the bytes sent or -1.
    virtual int sendTo(std::uint32_t ip, std::uint16_t port, const char* data, int len) = 0;
    virtual void close() = 0;
    /// Sends the same datagram to each of the `count` addresses `to`, in that order, a
    /// batch of them per system call. A destination the system refuses does not hold up
    /// the ones after it. When `results` is not null, results[i] gets the bytes sent to
    /// to[i], or -1. Returns how many destinations took the datagram.
    virtual std::size_t sendToEach(const sockaddr_in* to, std::size_t count, const char* data,
                                   int len, int* results) = 0;

    /// A datagram: sender IPv4 and port in host order, payload. Datagrams longer than
    /// kMaxDatagram are dropped, never delivered cut.
    Signal<std::uint32_t, std::uint16_t, std::string> datagram;

    static constexpr int kMaxDatagram = 4096;
};

} // namespace lumo
