#include "net_util.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace lumo::net {

bool parseAddress(const std::string& text, in_addr* out) {
    if (text.empty() || text == "0.0.0.0") {
        out->s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, text.c_str(), out) == 1;
}

std::string dotted(in_addr ip) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &ip, buf, sizeof buf);
    return buf;
}

namespace {
template <typename Call> bool endpoint(int fd, Endpoint* out, Call call) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (call(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET)
        return false;
    out->text = dotted(addr.sin_addr);
    out->ip = ntohl(addr.sin_addr.s_addr);
    out->port = ntohs(addr.sin_port);
    return true;
}
} // namespace

bool localEndpoint(int fd, Endpoint* out) {
    return endpoint(fd, out, ::getsockname);
}
bool peerEndpoint(int fd, Endpoint* out) {
    return endpoint(fd, out, ::getpeername);
}

} // namespace lumo::net
