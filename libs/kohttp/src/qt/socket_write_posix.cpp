#include <kohttp/qt/socket_write.h>

#include <cerrno>
#include <sys/socket.h>
#include <sys/types.h>

namespace kohttp::qt {

qint64 sendNow(qintptr fd, const char* data, qint64 len) {
    qint64 sent = 0;
    while (sent < len) {
        ssize_t n = ::send(static_cast<int>(fd), data + sent, static_cast<size_t>(len - sent),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return sent;
}

} // namespace kohttp::qt
