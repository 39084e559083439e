// Writing to a plain connection's descriptor at once (private).
// Implemented once per platform.
#pragma once

#include <QtGlobal>

namespace kohttp::qt::detail {

// Sends what the system takes now without waiting; returns that count (0
// when it takes nothing or the connection failed, whose error Qt's own write
// path then reports).
qint64 sendNow(qintptr fd, const char* data, qint64 len);

} // namespace kohttp::qt::detail
