// Driving a Qt server from its own test thread: event-loop passes between
// client steps, and curl run on another thread while the loop is pumped.
#pragma once

#include "netclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <string>

namespace qtpump {

inline void once() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs passes until done() holds; the bound only keeps a broken build from
// hanging, it is not measured.
template <class Done> bool until(Done done, int boundMs = 20000) {
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < boundMs) {
        once();
    }
    return done();
}

// Runs what was left for deletion (sockets, sessions), also what a top-level
// processEvents does not take.
inline void flushDeletions() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline std::string curl(const std::string& args) {
    return netclient::runCommand("curl -s --max-time 20 " + args, &once);
}

} // namespace qtpump
