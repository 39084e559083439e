#include "platform.h"

#include <QFileInfo>

#include <climits>
#include <unistd.h>

namespace tesmo::platform {

QString executableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return QStringLiteral(".");
    return QFileInfo(QString::fromLocal8Bit(buf, int(n))).absolutePath();
}

} // namespace tesmo::platform
