// IPv4 address helpers shared by the socket implementations.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace lumo::net {

/// Empty or "0.0.0.0" is any address; otherwise dotted IPv4. False when it does not parse.
bool parseAddress(const std::string& text, in_addr* out);

/// Dotted text of `ip` (network order).
std::string dotted(in_addr ip);

/// Bound or peer endpoint of `fd`, converted to text, host-order IPv4 and port.
struct Endpoint {
    std::string text;
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
};
bool localEndpoint(int fd, Endpoint* out);
bool peerEndpoint(int fd, Endpoint* out);

} // namespace lumo::net
