// The few blocking socket calls of the command client, and the option the server side
// sets on accepted connections. The only platform code of the SDK core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace internal::posix {

// A TCP socket for a loopback connection, -1 with `error` set on failure.
int loopbackSocket(std::string* error);
// Connects `fd` to 127.0.0.1:`port`, retrying interrupted calls.
bool connectLoopback(int fd, uint16_t port, std::string* error);
// Writes all of `data`, repeating partial writes and retrying interrupted ones; never
// raises SIGPIPE. False on any other failure.
bool sendAll(int fd, const char* data, std::size_t len);
void closeSocket(int fd);
// Turns off Nagle's algorithm, so small writes leave at once.
void setNoDelay(int fd);

} // namespace internal::posix
