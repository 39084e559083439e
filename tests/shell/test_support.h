// Shared by the shell tests: a private environment so tests never touch the
// user's settings, data directory or the session's "tesmo-man" local socket.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cstdlib>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tesmo::test {

// Creates a fresh directory and points TMPDIR, XDG_CONFIG_HOME and XDG_DATA_HOME
// into it. Call before the application object exists; child processes inherit it.
inline QString isolateEnvironment() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/tesmo-shell-XXXXXX";
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    const QString root = QString::fromStdString(templ);
    const auto set = [&](const char* name, const char* sub) {
        const QByteArray dir = (root + QLatin1Char('/') + QLatin1String(sub)).toLocal8Bit();
        ::mkdir(dir.constData(), 0700);
        ::setenv(name, dir.constData(), 1);
    };
    set("XDG_CONFIG_HOME", "config");
    set("XDG_DATA_HOME", "data");
    set("TMPDIR", "tmp");
    set("XDG_RUNTIME_DIR", "runtime");
    return root;
}

// Lets the event loop run until pred holds; the bound only keeps a broken build
// from hanging, it is not part of what is tested.
template <class Pred> bool waitFor(Pred pred, int boundMs = 20000) {
    QElapsedTimer guard;
    guard.start();
    while (!pred() && guard.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pred();
}

} // namespace tesmo::test

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE
