// A bound UDP socket on the loop.
#pragma once

#include "lumo/eventloop.h"
#include "lumo/net.h"

#include <string>

namespace lumo {

class UdpSocketImpl final : public UdpSocket {
public:
    /// Takes ownership of `fd`.
    UdpSocketImpl(int fd, std::string address, std::uint16_t port);
    ~UdpSocketImpl() override;

    int fd() const override { return fd_; }
    std::string address() const override { return address_; }
    std::uint16_t port() const override { return port_; }
    int sendTo(const sockaddr_in& to, const char* data, int len) override;
    int sendTo(std::uint32_t ip, std::uint16_t port, const char* data, int len) override;
    void close() override;
    std::size_t sendToEach(const sockaddr_in* to, std::size_t count, const char* data, int len,
                           int* results) override;

    // Loop side (through Pollable).
    void onReadReady();
    bool onWriteReady() { return true; }
    void closeFd();
    int events() const { return kReadable; }

    Signal<> closed;

    /// Most datagrams taken per readiness event; the rest wait for the next pass.
    static constexpr int kReceiveBudget = 256;
    /// Destinations per sendmmsg call of sendToEach.
    static constexpr std::size_t kSendBatch = 64;

private:
    // The thread of the loop it is registered with; a loop may end before its handles.
    const std::thread::id owner_ = std::this_thread::get_id();
    int fd_;
    std::string address_;
    std::uint16_t port_;
    bool closed_ = false;
};

} // namespace lumo
