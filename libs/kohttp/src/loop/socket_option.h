// Socket options the loop server sets on accepted connections (private).
#pragma once

namespace kohttp::loop::detail {

// Sends small writes at once: a response goes out as head and body, and
// waiting to coalesce them would stall every request on the peer's delayed
// acknowledgement.
void setNoDelay(int fd);

} // namespace kohttp::loop::detail
