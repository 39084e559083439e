#pragma once

// Sizes the kernel receive buffer of a socket; returns what the system granted
// (bytes), or -1 when it cannot be read back.
int requestReceiveBuffer(long long fd, int bytes);
