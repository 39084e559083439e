// A TCP connection on the loop, wired to its byte-stream layer.
#pragma once

#include "lumo/eventloop.h"
#include "lumo/net.h"

#include "net_util.h"

#include <string>

namespace lumo {

class TcpSocketImpl final : public TcpSocket {
public:
    /// Takes ownership of `fd`. A null `layer` means a pass-through layer. A server-side
    /// connection starts its layer as server.
    TcpSocketImpl(int fd, std::shared_ptr<SecureLayer> layer, bool serverSide, int state);
    ~TcpSocketImpl() override;

    int fd() const override { return fd_; }
    int write(const char* data, int len) override;
    void close() override;
    std::string localAddress() const override { return local_.text; }
    std::uint32_t localIp() const override { return local_.ip; }
    std::string macAddress() const override { return "00:00:00:00:00:00"; }
    int state() const override { return state_; }
    std::string peerAddress() const override { return peer_.text; }
    std::uint32_t peerIp() const override { return peer_.ip; }
    std::uint16_t peerPort() const override { return peer_.port; }
    std::uint16_t localPort() const override { return local_.port; }
    bool isServerSide() const override { return serverSide_; }

    // Loop side (through Pollable).
    void onReadReady();
    bool onWriteReady();
    void closeFd();
    int events() const { return events_; }

    void setState(int state);
    /// Bytes queued but not yet taken by the system.
    std::size_t pendingOutput() const { return out_.size() - outPos_; }

    /// Emitted whenever events() changes.
    Signal<> eventsChanged;
    Signal<> closed;

    /// Most bytes read in one readiness event; the rest waits for the next pass.
    static constexpr std::size_t kReadBudget = 1 << 20;

private:
    void setEvents(int events);
    void queue(const char* data, std::size_t len);
    bool flush();
    void onLayerReady();

    // The thread of the loop it is registered with; a loop may end before its handles.
    const std::thread::id owner_ = std::this_thread::get_id();
    int fd_;
    std::shared_ptr<SecureLayer> layer_;
    // The pass-through layer is bypassed: same bytes, fewer copies.
    bool transparent_;
    bool serverSide_;
    int state_;
    bool closed_ = false;
    int events_ = kReadable;
    std::string preReady_;
    std::string out_;
    std::size_t outPos_ = 0; // bytes of out_ already sent
    net::Endpoint local_;
    net::Endpoint peer_;
};

} // namespace lumo
