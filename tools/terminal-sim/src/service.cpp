#include "service.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace sim {

int openSocket(int type, const std::string& address, int port, sockaddr_in* a, std::string* error) {
    *a = sockaddr_in{};
    a->sin_family = AF_INET;
    a->sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &a->sin_addr) != 1) {
        *error = "not an IPv4 address: " + address;
        return -1;
    }
    const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    // Terminals share their ports with the listen sockets and with other simulators.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

} // namespace sim
