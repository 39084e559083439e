// A listening TCP server on the loop.
#pragma once

#include "lumo/eventloop.h"
#include "lumo/net.h"

#include <deque>
#include <string>

namespace lumo {

class TcpServerImpl final : public TcpServer {
public:
    /// Takes ownership of the listening descriptor `fd`.
    TcpServerImpl(EventLoopImpl* loop, int fd, std::string address, std::uint16_t port);
    ~TcpServerImpl() override;

    void setLayerFactory(std::shared_ptr<LayerFactory> factory) override {
        factory_ = std::move(factory);
    }
    int fd() const override { return fd_; }
    std::string address() const override { return address_; }
    bool isListening() const override { return listening_; }
    void close() override;
    bool hasPendingConnections() const override { return !pending_.empty(); }
    std::shared_ptr<TcpSocket> nextPendingConnection() override;
    std::uint16_t port() const override { return port_; }

    // Loop side (through Pollable).
    void onReadReady();
    bool onWriteReady() { return true; }
    void closeFd();
    int events() const { return kReadable; }

    Signal<> closed;

    /// Most connections accepted per readiness event, so a flood of connections cannot
    /// hold the loop away from its timers; the rest are taken on the next passes.
    static constexpr int kAcceptBudget = 64;

private:
    void shedOneConnection();

    EventLoopImpl* loop_; // used from its own handlers only, while the loop runs
    const std::thread::id owner_ = std::this_thread::get_id();
    int fd_;
    // Held open so a connection can still be taken and refused when descriptors run out.
    int spareFd_;
    std::uint16_t port_;
    std::string address_;
    bool listening_ = true;
    bool closed_ = false;
    std::shared_ptr<LayerFactory> factory_;
    std::deque<std::shared_ptr<TcpSocket>> pending_;
};

} // namespace lumo
