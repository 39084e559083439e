#include "socketbuffer.h"

#include <sys/socket.h>

namespace {
int granted(int fd) {
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &len) != 0)
        return -1;
    return value;
}
} // namespace

int requestReceiveBuffer(long long fd, int bytes) {
    const int s = int(fd);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#ifdef SO_RCVBUFFORCE
    // The system caps SO_RCVBUF; a privileged process may go past the cap.
    if (granted(s) < bytes)
        setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
    return granted(s);
}
